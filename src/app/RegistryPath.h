#pragma once
// Registry values named by one string: root name, key path and value name separated by
// backslashes, e.g. "HKEY_LOCAL_MACHINE\SOFTWARE\Brannic\Lumora\Orvane\AppPath". Every
// operation opens the key it needs and closes it again; results are 1 (success) or 0.

#include "base/Win.h"

class RegistryPath {
public:
    static constexpr DWORD kBufferChars = 260;

    // Reads the value's data, whatever its type, into `buffer` (kBufferChars characters).
    // The buffer always ends up terminated: a value that fills it without a terminating
    // zero character is a failure.
    static int ReadValue(const wchar_t* path, wchar_t* buffer);

    // Writes a REG_DWORD, creating every missing key above it.
    static int WriteDword(const wchar_t* path, DWORD number);

    // Reads from the 64-bit registry view, or from the 32-bit view when the value is not in
    // the 64-bit one.
    static int QueryValue(const wchar_t* keyPath, const wchar_t* valueName, DWORD* type, BYTE* data,
                          DWORD* size);
    static int SetValue(const wchar_t* keyPath, const wchar_t* valueName, DWORD type,
                        const BYTE* data, DWORD size);

    // The predefined key named at the head of `keyPath` (case-insensitive), or null.
    static HKEY RootKey(const wchar_t* keyPath);
};
