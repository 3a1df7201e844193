#include "app/RegistryPath.h"

#include "base/Handles.h"

#include <cwchar>
#include <string>

namespace {

struct Root {
    const wchar_t* name;
    HKEY key;
};

const Root kRoots[] = {
    {L"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
    {L"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {L"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
    {L"HKEY_USERS", HKEY_USERS},
    {L"HKEY_PERFORMANCE_DATA", HKEY_PERFORMANCE_DATA},
    {L"HKEY_PERFORMANCE_TEXT", HKEY_PERFORMANCE_TEXT},
    {L"HKEY_PERFORMANCE_NLSTEXT", HKEY_PERFORMANCE_NLSTEXT},
    {L"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
    {L"HKEY_DYN_DATA", HKEY_DYN_DATA},
};

// A path split at its last backslash into key path and value name; false without one.
bool SplitValuePath(const wchar_t* path, std::wstring& keyPath, std::wstring& valueName) {
    if (!path) return false;
    const std::wstring whole(path);
    const size_t slash = whole.rfind(L'\\');
    if (slash == std::wstring::npos) return false;
    keyPath = whole.substr(0, slash);
    valueName = whole.substr(slash + 1);
    return true;
}

// The sub-key below the root: everything after the key path's first backslash. A key path
// without one, or beginning with one, names the root alone.
std::wstring SubKeyOf(const wchar_t* keyPath) {
    const wchar_t* slash = std::wcschr(keyPath, L'\\');
    if (!slash || slash == keyPath) return {};
    return slash + 1;
}

}  // namespace

HKEY RegistryPath::RootKey(const wchar_t* keyPath) {
    if (!keyPath) return nullptr;
    const wchar_t* slash = std::wcschr(keyPath, L'\\');
    const std::wstring rootName =
        (slash && slash != keyPath) ? std::wstring(keyPath, slash) : std::wstring(keyPath);
    for (const Root& root : kRoots) {
        if (_wcsicmp(rootName.c_str(), root.name) == 0) return root.key;
    }
    return nullptr;
}

int RegistryPath::QueryValue(const wchar_t* keyPath, const wchar_t* valueName, DWORD* type,
                             BYTE* data, DWORD* size) {
    const HKEY root = RootKey(keyPath);
    if (!root) return 0;
    const std::wstring subKey = SubKeyOf(keyPath);
    if (subKey.empty()) {
        return ::RegQueryValueExW(root, valueName, nullptr, type, data, size) == ERROR_SUCCESS ? 1
                                                                                               : 0;
    }
    // The 64-bit view first, then the 32-bit one: a 32-bit host application keeps its values
    // there on 64-bit Windows. Query rights only: asking for full access to a key under
    // HKEY_LOCAL_MACHINE fails for every user who is not an administrator.
    const DWORD capacity = size ? *size : 0;
    for (const REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
        win::UniqueKey opened;
        if (::RegOpenKeyExW(root, subKey.c_str(), 0, KEY_QUERY_VALUE | view, opened.Put()) !=
            ERROR_SUCCESS) {
            continue;
        }
        if (size) *size = capacity;
        const LONG status = ::RegQueryValueExW(opened.Get(), valueName, nullptr, type, data, size);
        if (status == ERROR_SUCCESS) return 1;
        if (status != ERROR_FILE_NOT_FOUND) return 0;  // there, but unreadable or too long
    }
    return 0;
}

int RegistryPath::SetValue(const wchar_t* keyPath, const wchar_t* valueName, DWORD type,
                           const BYTE* data, DWORD size) {
    const HKEY root = RootKey(keyPath);
    if (!root || !valueName || !*valueName) return 0;
    const std::wstring subKey = SubKeyOf(keyPath);
    if (subKey.empty()) return 0;
    win::UniqueKey key;
    if (::RegCreateKeyExW(root, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                          nullptr, key.Put(), nullptr) != ERROR_SUCCESS) {
        return 0;
    }
    return ::RegSetValueExW(key.Get(), valueName, 0, type, data, size) == ERROR_SUCCESS ? 1 : 0;
}

int RegistryPath::ReadValue(const wchar_t* path, wchar_t* buffer) {
    std::wstring keyPath, valueName;
    if (!buffer || !SplitValuePath(path, keyPath, valueName)) return 0;
    DWORD type = 0;
    DWORD size = kBufferChars * sizeof(wchar_t);
    if (!QueryValue(keyPath.c_str(), valueName.c_str(), &type, reinterpret_cast<BYTE*>(buffer),
                    &size)) {
        return 0;
    }
    // Clear what the value did not fill so the text ends at its data; a full buffer must
    // carry its own terminator.
    BYTE* bytes = reinterpret_cast<BYTE*>(buffer);
    for (DWORD i = size; i < kBufferChars * sizeof(wchar_t); ++i) bytes[i] = 0;
    if (buffer[kBufferChars - 1] != L'\0') {
        buffer[0] = L'\0';
        return 0;
    }
    return 1;
}

int RegistryPath::WriteDword(const wchar_t* path, DWORD number) {
    std::wstring keyPath, valueName;
    if (!SplitValuePath(path, keyPath, valueName)) return 0;
    return SetValue(keyPath.c_str(), valueName.c_str(), REG_DWORD,
                    reinterpret_cast<const BYTE*>(&number), sizeof number);
}
