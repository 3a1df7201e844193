#include "ImagingClasses.h"

#include "base/Handles.h"

#include <gtest/gtest.h>
#include <wincodec.h>
#include <wrl/client.h>

#include <memory>

#include <string>
#include <vector>

namespace dialog_tests {
namespace {

struct Value {
    std::wstring name;
    DWORD type = 0;
    std::vector<BYTE> data;
};

struct Key {
    std::wstring path;  // below the classes root
    std::vector<Value> values;
};

// Component categories whose members the imaging component looks up.
const wchar_t* const kCategories[] = {
    L"{7ED96837-96F0-4812-B211-F13C24117ED3}",  // bitmap decoders
    L"{AC757296-3522-4E11-9862-C17BE5A1767E}",  // bitmap encoders
    L"{2B46E70F-CDA7-473E-89F6-DC9630A2390B}",  // pixel formats
    L"{7835EAE8-BF14-49D1-93CE-533A407B2248}",  // format converters
    L"{05AF94D8-7174-4CD2-BE4A-4124B80EE4B8}",  // metadata readers
    L"{ABE3B9A4-257D-4B97-BD1A-294AF496222E}",  // metadata writers
};

std::vector<Key>& Captured() {
    static std::vector<Key> keys;
    return keys;
}

std::vector<std::wstring> SubKeys(HKEY root, const std::wstring& path) {
    std::vector<std::wstring> names;
    win::UniqueKey key;
    if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.Put()) != ERROR_SUCCESS) return names;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameLength = 256;
        if (::RegEnumKeyExW(key.Get(), i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        names.emplace_back(name, nameLength);
    }
    return names;
}

void CaptureTree(HKEY root, const std::wstring& path, std::vector<Key>& out) {
    win::UniqueKey key;
    if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.Put()) != ERROR_SUCCESS) return;
    Key record{path, {}};
    for (DWORD i = 0;; ++i) {
        wchar_t name[16384];
        DWORD nameLength = 16384;
        DWORD type = 0;
        DWORD size = 0;
        if (::RegEnumValueW(key.Get(), i, name, &nameLength, nullptr, &type, nullptr, &size) !=
            ERROR_SUCCESS) {
            break;
        }
        Value value{std::wstring(name, nameLength), type, std::vector<BYTE>(size)};
        nameLength = 16384;
        if (::RegEnumValueW(key.Get(), i, name, &nameLength, nullptr, &type, value.data.data(),
                            &size) == ERROR_SUCCESS) {
            value.data.resize(size);
            record.values.push_back(std::move(value));
        }
    }
    out.push_back(std::move(record));
    key.Reset();
    for (const std::wstring& child : SubKeys(root, path)) {
        CaptureTree(root, path + L"\\" + child, out);
    }
}


// Captures the registrations before the first test runs, and keeps COM and the imaging
// component loaded for the whole run: the component keeps what it has looked up about each
// registered class (with the registry key it found it under) for as long as it stays loaded,
// so those look-ups must be made here, in the real classes root, and not inside a sandbox
// that is deleted after its test.
class CaptureEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        com_ = std::make_unique<win::ComScope>();
        imaging_.Reset(::LoadLibraryW(L"windowscodecs.dll"));
        CaptureImagingClasses();
    }
    void TearDown() override {
        imaging_.Reset();
        com_.reset();
    }

private:
    std::unique_ptr<win::ComScope> com_;
    win::UniqueModule imaging_;
};

[[maybe_unused]] const auto* const g_environment =
    ::testing::AddGlobalTestEnvironment(new CaptureEnvironment);

}  // namespace

void CaptureImagingClasses() {
    std::vector<Key>& keys = Captured();
    if (!keys.empty()) return;
    Microsoft::WRL::ComPtr<IWICImagingFactory> factory;
    ::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                       IID_PPV_ARGS(&factory));
    for (const wchar_t* category : kCategories) {
        const std::wstring path = std::wstring(L"CLSID\\") + category;
        CaptureTree(HKEY_CLASSES_ROOT, path, keys);
        for (const std::wstring& member : SubKeys(HKEY_CLASSES_ROOT, path + L"\\Instance")) {
            CaptureTree(HKEY_CLASSES_ROOT, L"CLSID\\" + member, keys);
            CLSID clsid;
            Microsoft::WRL::ComPtr<IWICComponentInfo> info;
            if (factory && SUCCEEDED(::CLSIDFromString(member.c_str(), &clsid))) {
                factory->CreateComponentInfo(clsid, &info);
            }
        }
    }
}

void RestoreImagingClasses() {
    for (const Key& record : Captured()) {
        win::UniqueKey key;
        if (::RegCreateKeyExW(HKEY_CLASSES_ROOT, record.path.c_str(), 0, nullptr, 0, KEY_WRITE,
                              nullptr, key.Put(), nullptr) != ERROR_SUCCESS) {
            continue;
        }
        for (const Value& value : record.values) {
            ::RegSetValueExW(key.Get(), value.name.c_str(), 0, value.type, value.data.data(),
                             static_cast<DWORD>(value.data.size()));
        }
    }
}

}  // namespace dialog_tests
