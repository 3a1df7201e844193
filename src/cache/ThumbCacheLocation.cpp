// Where the cache files of a folder live, and their names.
#include "cache/CacheLocation.h"
#include "cache/ThumbCache.h"

#include <shlwapi.h>

#include <cwchar>

namespace {

constexpr size_t kMaxPath = 259;  // the path members hold 260 characters with the terminator

// Names that do not fit are refused (the cache keeps nothing) rather than cut into other names.
void StorePath(wchar_t (&member)[260], const std::wstring& path) {
    if (path.size() > kMaxPath) {
        member[0] = L'\0';
        return;
    }
    std::wcscpy(member, path.c_str());
}

}  // namespace

int ThumbCache::LocationKind(const wchar_t* folder) {
    if (::PathIsUNCW(folder)) return kLocationShare;
    return static_cast<int>(CurrentVolumeQueries().DriveType(RootOf(folder).c_str()));
}

void ThumbCache::NamesInFolder() {
    const std::wstring base(baseName);
    wchar_t joined[MAX_PATH];
    StorePath(indexPath, ::PathCombineW(joined, folder, (base + L".idx").c_str()) ? joined : L"");
    StorePath(dataPath, ::PathCombineW(joined, folder, (base + L".ctl").c_str()) ? joined : L"");
}

void ThumbCache::NamesInTemp() {
    // Without a temporary folder the names would be relative, and the hidden files would land
    // in whatever the current folder is: such a folder gets no cache.
    const std::wstring temp = TempFolder();
    if (temp.empty()) {
        StorePath(indexPath, L"");
        StorePath(dataPath, L"");
        return;
    }
    DWORD serial = 0;  // an unreadable volume (an empty drive) names its files with 0
    VolumeSerial(folder, &serial);
    const std::wstring prefix = temp + std::to_wstring(serial) + FlattenPath(folder) + baseName;
    StorePath(indexPath, prefix + L".idx");
    StorePath(dataPath, prefix + L".ctl");
}

void ThumbCache::NamesForShare() {
    if (CurrentVolumeQueries().FolderWritable(folder)) {
        NamesInFolder();
        return;
    }
    const std::wstring temp = TempFolder();
    const std::wstring prefix = temp.empty() ? L"" : temp + FlattenPath(folder) + baseName;
    StorePath(indexPath, prefix.empty() ? L"" : prefix + L".idx");
    StorePath(dataPath, prefix.empty() ? L"" : prefix + L".ctl");
}

bool ThumbCache::CachePaths(const wchar_t* folder, const wchar_t* baseName, std::wstring& index,
                            std::wstring& data) {
    ThumbCache probe;
    std::wcsncpy(probe.folder, folder, std::size(probe.folder) - 1);
    std::wcsncpy(probe.baseName, baseName, std::size(probe.baseName) - 1);
    if (std::wcslen(folder) >= std::size(probe.folder)) probe.folder[0] = L'\0';
    probe.ComputeLocation();
    index = probe.indexPath;
    data = probe.dataPath;
    return !index.empty();
}

void ThumbCache::ComputeLocation() {
    if (folder[0] == L'\0') {
        indexPath[0] = L'\0';
        dataPath[0] = L'\0';
        return;
    }
    switch (LocationKind(folder)) {
        case kLocationRemovable:
        case kLocationOptical:
            NamesInTemp();
            break;
        case kLocationFixed:
        case kLocationNetworkDrive:
        // A RAM disk is writable like a fixed disk; its cache can sit beside the pictures.
        case kLocationRamDisk:
            NamesInFolder();
            break;
        case kLocationShare:
            NamesForShare();
            break;
        default:
            // Unknown kind or missing root: no cache. Keeping the previous folder's paths would
            // mix that folder's records with this one's.
            indexPath[0] = L'\0';
            dataPath[0] = L'\0';
            break;
    }
}
