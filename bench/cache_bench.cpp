// Thumbnail cache throughput, timed inside one process: per folder of pictures or videos, the
// thumbnails made per
// second on a first visit (decode, fit, store) and read per second on a second visit (from
// the cache), then the hit path alone (record read, bitmap, image-list transfer).
// Usage: cache_bench FOLDER... [--decoder=FOLDER]   Prints one tab-separated line per folder:
//   result<TAB>FOLDER<TAB>PICTURES<TAB>FIRST_SECONDS<TAB>SECOND_SECONDS<TAB>FAILED<TAB>OPEN_CLOSE
// (the visits' times cover the items; the cache's Open and Close of the second visit, which
// read and write the index once per folder, are given apart), then one line for the hit path:
//   hit<TAB>MEDIAN_PER_SECOND<TAB>SLOWEST<TAB>FASTEST<TAB>LOOKUP_US<TAB>MASK_US<TAB>LIST_US
// and, with --decoder, the cost of decoding through WIC in the decoder process against
// in-process, over that folder's pictures decoded whole (median of 5 rounds each):
//   decoder<TAB>PICTURES<TAB>IN_PROCESS_SECONDS<TAB>ISOLATED_SECONDS<TAB>START_SECONDS
#include "base/Handles.h"
#include "cache/ItemRecords.h"
#include "cache/ThumbCache.h"
#include "imagelib/DecoderHost.h"
#include "imagelib/WicDecoder.h"
#include "thumblist/ThumbListCtrl.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::vector<std::wstring> ListPictures(const std::wstring& folder) {
    std::vector<std::wstring> paths;
    WIN32_FIND_DATAW found;
    win::UniqueFindHandle search(::FindFirstFileW((folder + L"\\*.*").c_str(), &found));
    if (!search) return paths;
    do {
        if (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN)) continue;
        if (ExtensionAccepted(kDefaultImageTypes, found.cFileName) ||
            ExtensionAccepted(kDefaultVideoTypes, found.cFileName))
            paths.push_back(folder + L"\\" + found.cFileName);
    } while (::FindNextFileW(search.Get(), &found));
    return paths;
}

struct Visit {
    int cached = 0, made = 0, failed = 0;
    double seconds = 0;    // the items, as the display loop obtains them
    double openClose = 0;  // the cache's Open and Close around them
};

// A visit as the control's display loop makes it, records listed beforehand.
Visit VisitFolder(const std::wstring& folder, const std::vector<std::wstring>& pictures) {
    std::vector<ThumbItem> items(pictures.size());
    for (size_t i = 0; i < pictures.size(); ++i) MakeItemRecord(items[i], pictures[i].c_str());
    Visit visit;
    auto start = Clock::now();
    ThumbCache cache;
    cache.Open(folder.c_str(), L"_thumbs", Folder, L"");
    visit.openClose = SecondsSince(start);
    start = Clock::now();
    for (ThumbItem& item : items) {
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
    visit.seconds = SecondsSince(start);
    start = Clock::now();
    cache.Close();
    visit.openClose += SecondsSince(start);
    return visit;
}

void DiscardCache(const std::wstring& folder) {
    for (const wchar_t* name : {L"\\_thumbs.idx", L"\\_thumbs.ctl"}) {
        ::SetFileAttributesW((folder + name).c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW((folder + name).c_str());
    }
}

// Lookups of cached thumbnails and their transfer into an image list, as the control shows
// them, repeated over the folder's records.
void MeasureHitPath(const std::wstring& folder, const std::vector<std::wstring>& pictures) {
    std::vector<ThumbItem> items(pictures.size());
    for (size_t i = 0; i < pictures.size(); ++i) MakeItemRecord(items[i], pictures[i].c_str());
    ThumbCache cache;
    cache.Open(folder.c_str(), L"_thumbs", Folder, L"");
    HIMAGELIST list =
        ImageList_Create(100, 100, ILC_COLOR32 | ILC_MASK, static_cast<int>(items.size()), 1);
    ImageList_SetImageCount(list, static_cast<UINT>(items.size()));
    const int size[2] = {100, 100};
    // Rounds of at least 600 hits, each timed: the median round is the rate, so that a stall
    // of the (shared) machine in one round does not decide it. Each step is timed apart as
    // well, so that a slow hit path says where its time goes.
    constexpr int kRounds = 9;
    std::vector<double> rates;
    int hits = 0;
    double lookup = 0, masking = 0, replacing = 0;
    for (int round = 0; round < kRounds; ++round) {
        int roundHits = 0;
        const auto start = Clock::now();
        while (roundHits < 600) {
            const int before = roundHits;
            for (size_t i = 0; i < items.size(); ++i) {
                auto step = Clock::now();
                win::UniqueBitmap bitmap(cache.GetThumbnail(items[i], size, true));
                lookup += SecondsSince(step);
                if (!bitmap) continue;
                step = Clock::now();
                win::UniqueBitmap mask(CreateMaskBitmap(bitmap.Get(), 0xFF00FF));
                masking += SecondsSince(step);
                step = Clock::now();
                ImageList_Replace(list, static_cast<int>(i), bitmap.Get(), mask.Get());
                replacing += SecondsSince(step);
                ++roundHits;
            }
            if (roundHits == before) break;  // nothing cached
        }
        if (roundHits == 0) break;
        rates.push_back(roundHits / SecondsSince(start));
        hits += roundHits;
    }
    if (!rates.empty()) {
        std::sort(rates.begin(), rates.end());
        std::printf("hit\t%.0f\t%.0f\t%.0f\t%.1f\t%.1f\t%.1f\n", rates[rates.size() / 2],
                    rates.front(), rates.back(), lookup * 1e6 / hits, masking * 1e6 / hits,
                    replacing * 1e6 / hits);
    }
    ImageList_Destroy(list);
}

double MedianOf(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void MeasureDecoder(const std::vector<std::wstring>& pictures) {
    imagelib::ConfigureDecoder(L"", 0);  // no decoder running yet
    imagelib::DecodedImage out;
    auto start = Clock::now();
    imagelib::DecodeIsolated(pictures.front().c_str(), out);
    const double firstIsolated = SecondsSince(start);
    start = Clock::now();
    imagelib::DecodeImageFile(pictures.front().c_str(), out);
    const double startSeconds = firstIsolated - SecondsSince(start);
    std::vector<double> inProcess, isolated;
    for (int round = 0; round < 5; ++round) {
        start = Clock::now();
        for (const std::wstring& path : pictures) imagelib::DecodeImageFile(path.c_str(), out);
        inProcess.push_back(SecondsSince(start));
        start = Clock::now();
        for (const std::wstring& path : pictures) imagelib::DecodeIsolated(path.c_str(), out);
        isolated.push_back(SecondsSince(start));
    }
    std::printf("decoder\t%zu\t%.4f\t%.4f\t%.4f\n", pictures.size(), MedianOf(inProcess),
                MedianOf(isolated), startSeconds);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: cache_bench FOLDER...\n");
        return 2;
    }
    win::ComScope com;
    imagelib::ThreadImaging imaging;  // as the control's display thread keeps one
    std::wstring hitFolder;
    std::vector<std::wstring> hitPictures;
    std::wstring decoderFolder;
    for (int a = 1; a < argc; ++a) {
        const std::wstring folder = argv[a];
        if (folder.rfind(L"--decoder=", 0) == 0) {
            decoderFolder = folder.substr(10);
            continue;
        }
        const std::vector<std::wstring> pictures = ListPictures(folder);
        if (pictures.empty()) continue;
        DiscardCache(folder);
        const Visit first = VisitFolder(folder, pictures);
        const Visit second = VisitFolder(folder, pictures);
        std::printf("result\t%ls\t%zu\t%.4f\t%.4f\t%d\t%.4f\n", folder.c_str(), pictures.size(),
                    first.seconds, second.seconds, first.failed, second.openClose);
        std::fflush(stdout);
        if (hitFolder.empty()) {
            hitFolder = folder;
            hitPictures = pictures;
        }
    }
    if (!hitFolder.empty()) MeasureHitPath(hitFolder, hitPictures);
    if (!decoderFolder.empty()) {
        const std::vector<std::wstring> pictures = ListPictures(decoderFolder);
        if (!pictures.empty()) MeasureDecoder(pictures);
    }
    return 0;
}
