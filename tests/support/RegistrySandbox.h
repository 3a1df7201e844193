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

}  // namespace testing_support
