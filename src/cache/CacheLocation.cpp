#include "cache/CacheLocation.h"

#include "base/Handles.h"

#include <shlwapi.h>

#include <atomic>
#include <cwchar>

namespace {

constexpr size_t kMaxPath = 259;  // path members hold 260 characters with the terminator

class SystemVolumeQueries : public VolumeQueries {
public:
    UINT DriveType(const wchar_t* root) override { return ::GetDriveTypeW(root); }

    bool Serial(const wchar_t* root, DWORD& serial) override {
        return ::GetVolumeInformationW(root, nullptr, 0, &serial, nullptr, nullptr, nullptr, 0) !=
               0;
    }

    bool FolderWritable(const wchar_t* folder) override {
        const std::wstring probe = std::wstring(folder) + L"\\write.tst";
        win::UniqueHandle file(::CreateFileW(probe.c_str(), GENERIC_READ | GENERIC_WRITE,
                                             FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                                             FILE_ATTRIBUTE_NORMAL, nullptr));
        const bool writable = static_cast<bool>(file);
        file.Reset();
        ::DeleteFileW(probe.c_str());
        return writable;
    }
};

std::atomic<VolumeQueries*> g_queries{nullptr};

}  // namespace

std::wstring RootOf(const wchar_t* path) {
    wchar_t root[MAX_PATH] = {};
    std::wcsncpy(root, path, MAX_PATH - 1);
    ::PathStripToRootW(root);
    return root;
}

std::wstring TempFolder() {
    wchar_t temp[MAX_PATH + 1] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH, temp);
    return length > 0 && length < MAX_PATH ? std::wstring(temp, length) : std::wstring();
}

VolumeQueries& CurrentVolumeQueries() {
    static SystemVolumeQueries system;
    VolumeQueries* installed = g_queries.load();
    return installed ? *installed : system;
}

void SetVolumeQueries(VolumeQueries* queries) {
    g_queries.store(queries);
}

std::wstring FlattenPath(const wchar_t* path) {
    std::wstring flat;
    if (path && std::wcslen(path) > 2) flat = path + 2;
    for (wchar_t& c : flat) {
        if (c == L'\\') c = L'_';
    }
    if (flat.size() > kMaxPath) flat.resize(kMaxPath);
    ::OutputDebugStringW(flat.c_str());
    return flat;
}

bool VolumeSerial(const wchar_t* path, DWORD* serial) {
    return CurrentVolumeQueries().Serial(RootOf(path).c_str(), *serial);
}
