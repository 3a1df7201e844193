// The thumbnail control on a folder of pictures: how long SetFolder blocks the
// user-interface thread, and thumbnails shown per second on a first visit (decoded and
// stored) and a second visit (read from the cache).
// Usage: thumblist_bench FOLDER [--listing | --race] [--threads=N]   (--listing: only
// SetFolder's block time beside a bare listing of the folder, no thumbnails, the first time in
// the process and again, when the memory it needs has been touched once; --race: only a
// first visit, as "race<TAB>ITEMS<TAB>SECONDS"; --threads: decoding threads beside the display
// loop, default the machine's). After the visits it prints the process's private
// memory beside the thumbnail image list's own size.
#include "thumblist/ThumbListCtrl.h"

#include <psapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

// Dispatches messages until the control has made every thumbnail.
void AwaitThumbnails(ThumbListCtrl& control) {
    while (control.PendingCount() > 0 || control.WorkerRunning()) {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        ::Sleep(2);
    }
}

void Visit(ThumbListCtrl& control, const std::wstring& folder, const char* name) {
    const auto start = Clock::now();
    const int count = control.SetFolder(folder.c_str(), false);
    const double blocked = Seconds(start);
    AwaitThumbnails(control);
    const double total = Seconds(start);
    std::printf(
        "%s: %d items, SetFolder blocked %.1f ms, all thumbnails in %.2f s = %.1f shown per "
        "second\n",
        name, count, blocked * 1000, total, count / total);
}

}  // namespace

// A bare listing of the folder: the least any listing can cost.
double BareListingSeconds(const std::wstring& folder, int& entries) {
    const auto start = Clock::now();
    WIN32_FIND_DATAW found;
    entries = 0;
    HANDLE search = ::FindFirstFileW((folder + L"\\*.*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            ++entries;
        } while (::FindNextFileW(search, &found));
        ::FindClose(search);
    }
    return Seconds(start);
}

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: thumblist_bench FOLDER [--listing]\n");
        return 2;
    }
    const std::wstring folder = argv[1];
    bool listingOnly = false;
    bool race = false;
    int threads = 0;
    for (int i = 2; i < argc; ++i) {
        const std::wstring option = argv[i];
        if (option == L"--listing") listingOnly = true;
        if (option == L"--race") race = true;
        if (option.rfind(L"--threads=", 0) == 0) threads = std::stoi(option.substr(10));
    }
    for (const wchar_t* name : {L"\\_thumbs.idx", L"\\_thumbs.ctl"}) {
        ::SetFileAttributesW((folder + name).c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW((folder + name).c_str());
    }
    RegisterThumbListClasses();
    HWND host = ::CreateWindowExW(WS_EX_TOOLWINDOW, L"STATIC", L"bench", WS_POPUP | WS_VISIBLE, 0,
                                  0, 1200, 200, nullptr, nullptr, nullptr, nullptr);
    HWND placeholder =
        ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 10, 10, 1100, 140, host,
                          reinterpret_cast<HMENU>(1000), nullptr, nullptr);
    ThumbListParams params = {};
    params.thumbWidth = params.thumbHeight = 100;
    params.styleFlags = TLF_HORIZONTAL | TLF_SINGLESEL | TLF_INFOTIPS | TLF_BKCOLOR;
    params.iconId = params.bkBitmapId = -1;
    {
        ThumbListCtrl control;
        if (!control.Create(host, placeholder, params, L"_thumbs", Folder)) return 1;
        control.SetDecodeThreads(threads);
        if (listingOnly) {
            int entries = 0;
            const double bare = BareListingSeconds(folder, entries);
            const auto start = Clock::now();
            const int count = control.SetFolder(folder.c_str(), false);
            const double blocked = Seconds(start);
            control.Reset();
            const auto again = Clock::now();
            control.SetFolder(folder.c_str(), false);
            const double blockedAgain = Seconds(again);
            control.Reset();
            std::printf("listing\t%d\t%.4f\t%d\t%.4f\t%.4f\n", entries, bare, count, blocked,
                        blockedAgain);
        } else if (race) {
            const auto start = Clock::now();
            const int count = control.SetFolder(folder.c_str(), false);
            AwaitThumbnails(control);
            std::printf("race\t%d\t%.4f\n", count, Seconds(start));
        } else {
            Visit(control, folder, "first visit ");
            Visit(control, folder, "second visit");
            PROCESS_MEMORY_COUNTERS_EX memory = {};
            memory.cb = sizeof memory;
            ::GetProcessMemoryInfo(::GetCurrentProcess(),
                                   reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                                   sizeof memory);
            int width = 0, height = 0;
            ImageList_GetIconSize(control.ThumbImages(), &width, &height);
            const double images = ImageList_GetImageCount(control.ThumbImages());
            // 32-bit colour and a 1-bit mask per image.
            const double listBytes = images * width * height * (4 + 1.0 / 8);
            std::printf("memory: %.0f MB private; the image list's %d images take %.0f MB\n",
                        std::max(memory.PrivateUsage, memory.PagefileUsage) / 1048576.0,
                        static_cast<int>(images), listBytes / 1048576.0);
        }
        ::DestroyWindow(host);
    }
    return 0;
}
