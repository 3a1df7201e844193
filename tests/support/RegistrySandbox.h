#pragma once
// Redirects this process's HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER and HKEY_CLASSES_ROOT into
// fresh scratch keys, and removes them again afterwards. Nothing a test writes to the
// registry outlives it.

#include "base/Handles.h"

#include <string>

namespace testing_support {

class RegistrySandbox {
public:
    RegistrySandbox() {
        path_ = L"Software\\GlimmerlyTests\\" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                std::to_wstring(::GetTickCount());
        ::RegCreateKeyExW(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                          root_.Put(), nullptr);
        for (Redirect& r : redirects_) {
            ::RegCreateKeyExW(root_.Get(), r.name, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              r.key.Put(), nullptr);
            ok_ = ok_ && r.key && ::RegOverridePredefKey(r.root, r.key.Get()) == ERROR_SUCCESS;
        }
    }
    ~RegistrySandbox() {
        for (Redirect& r : redirects_) ::RegOverridePredefKey(r.root, nullptr);
        for (Redirect& r : redirects_) r.key.Reset();
        root_.Reset();
        ::RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str());
    }
    RegistrySandbox(const RegistrySandbox&) = delete;
    RegistrySandbox& operator=(const RegistrySandbox&) = delete;

    bool Ok() const { return ok_ && root_; }

private:
    struct Redirect {
        HKEY root;
        const wchar_t* name;
        win::UniqueKey key;
    };
    std::wstring path_;
    win::UniqueKey root_;
    Redirect redirects_[3] = {
        {HKEY_LOCAL_MACHINE, L"HKLM", {}},
        {HKEY_CURRENT_USER, L"HKCU", {}},
        {HKEY_CLASSES_ROOT, L"HKCR", {}},
    };
    bool ok_ = true;
};

// Registers `folder` as the host application's "AppPath", where the install command looks.
inline bool SetHostAppPath(const std::wstring& folder) {
    win::UniqueKey key;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Brannic\\Lumora\\Orvane", 0, nullptr, 0,
                          KEY_ALL_ACCESS, nullptr, key.Put(), nullptr) != ERROR_SUCCESS) {
        return false;
    }
    return ::RegSetValueExW(
               key.Get(), L"AppPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
               static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

// The host's "ShouldUpdateCat" flag, which an install sets; -1 when it is not there, -2 when
// it is not a DWORD.
inline long HostRefreshFlag() {
    DWORD type = 0, value = 0, size = sizeof value;
    const LSTATUS status = ::RegGetValueW(HKEY_CURRENT_USER, L"Software\\Velnor\\Tessaly\\Orvane",
                                          L"ShouldUpdateCat", RRF_RT_ANY, &type, &value, &size);
    if (status == ERROR_FILE_NOT_FOUND) return -1;
    return status == ERROR_SUCCESS && type == REG_DWORD ? static_cast<long>(value) : -2;
}

}  // namespace testing_support
