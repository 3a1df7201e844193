// Thumbnail cache throughput on a folder of pictures: thumbnails made per second on a first
// visit (decode, fit, store) and read per second on a second visit (from the cache).
// Usage: cache_bench FOLDER
#include "base/Handles.h"
#include "cache/ItemRecords.h"
#include "cache/ThumbCache.h"
#include "thumblist/ThumbListCtrl.h"
#include "thumblist/ThumbListCtrl.h"

#include <shlwapi.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

std::vector<std::wstring> ListPictures(const std::wstring& folder) {
    std::vector<std::wstring> paths;
    WIN32_FIND_DATAW found;
    win::UniqueFindHandle search(::FindFirstFileW((folder + L"\\*.*").c_str(), &found));
    if (!search) return paths;
    do {
        if (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN)) continue;
        if (ExtensionAccepted(kDefaultImageTypes, found.cFileName))
            paths.push_back(folder + L"\\" + found.cFileName);
    } while (::FindNextFileW(search.Get(), &found));
    return paths;
}

struct Visit {
    int cached = 0, made = 0, failed = 0;
    double seconds = 0;
};

Visit VisitFolder(const std::wstring& folder, const std::vector<std::wstring>& pictures) {
    Visit visit;
    const auto start = std::chrono::steady_clock::now();
    ThumbCache cache;
    cache.Open(folder.c_str(), L"_thumbs", Folder, L"");
    for (const std::wstring& path : pictures) {
        ThumbItem item;
        MakeItemRecord(item, path.c_str());
        const ObtainedThumbnail got = ObtainThumbnail(cache, item, 100, 100, false);
        if (got.store) cache.AddThumbnail(item, false);
        if (got.origin == ObtainedThumbnail::Made) {
            ++visit.made;
        } else if (got.bitmap) {
            ++visit.cached;
        } else {
            ++visit.failed;
        }
    }
    cache.Close();
    visit.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return visit;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: cache_bench FOLDER\n");
        return 2;
    }
    const std::wstring folder = argv[1];
    win::ComScope com;
    const std::vector<std::wstring> pictures = ListPictures(folder);
    if (pictures.empty()) {
        std::fprintf(stderr, "cache_bench: no pictures in the folder\n");
        return 1;
    }
    // Start from no cache at all.
    for (const wchar_t* name : {L"\\_thumbs.idx", L"\\_thumbs.ctl"}) {
        ::SetFileAttributesW((folder + name).c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW((folder + name).c_str());
    }
    const Visit first = VisitFolder(folder, pictures);
    const Visit second = VisitFolder(folder, pictures);
    std::printf("pictures: %zu\n", pictures.size());
    std::printf("first visit:  %d made, %d failed in %.2f s = %.1f thumbnails made per second\n",
                first.made, first.failed, first.seconds, first.made / first.seconds);
    std::printf(
        "second visit: %d read from the cache in %.3f s = %.1f thumbnails read per second\n",
        second.cached, second.seconds, second.cached / second.seconds);

    // The hit path alone, on records listed beforehand: lookup, record read, bitmap, and the
    // transfer into an image list with the transparent key, as the control does it.
    std::vector<ThumbItem> items(pictures.size());
    for (size_t i = 0; i < pictures.size(); ++i) MakeItemRecord(items[i], pictures[i].c_str());
    ThumbCache cache;
    cache.Open(folder.c_str(), L"_thumbs", Folder, L"");
    HIMAGELIST list =
        ImageList_Create(100, 100, ILC_COLOR32 | ILC_MASK, static_cast<int>(items.size()), 1);
    ImageList_SetImageCount(list, static_cast<UINT>(items.size()));
    const int size[2] = {100, 100};
    int hits = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int round = 0; round < 10; ++round) {
        for (size_t i = 0; i < items.size(); ++i) {
            win::UniqueBitmap bitmap(cache.GetThumbnail(items[i], size, true));
            if (!bitmap) continue;
            win::UniqueBitmap mask(CreateMaskBitmap(bitmap.Get(), 0xFF00FF));
            ImageList_Replace(list, static_cast<int>(i), bitmap.Get(), mask.Get());
            ++hits;
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("hit path:     %d thumbnails in %.3f s = %.0f per second\n", hits, seconds,
                hits / seconds);
    ImageList_Destroy(list);
    return 0;
}
