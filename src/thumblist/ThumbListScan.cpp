// The control object, accepted file types, and the folder scan on the monitor and worker
// threads.
#include "thumblist/ThumbListCtrl.h"

#include "base/ByteCursor.h"
#include "base/Trace.h"
#include "cache/CacheFile.h"
#include "cache/ItemRecords.h"

#include <process.h>
#include <shlwapi.h>

#include <cwchar>
#include <memory>

namespace {

// Live controls; the first one initialises COM on the user-interface thread, the last one
// ends it, whichever control that is. Constructors and destructors run on that thread only.
int g_comInitCount = 0;
bool g_comInitialised = false;

}  // namespace

// What a new thread runs: an operation of the control with one text argument.
struct ThumbListCtrl::ThreadStart {
    ThumbListCtrl* control;
    unsigned (ThumbListCtrl::*operation)(const wchar_t*);
    const wchar_t* argument;
};

unsigned __stdcall ThumbListCtrl::ThreadEntry(void* raw) {
    // A thread entry is a boundary: the record is freed here and nothing escapes.
    std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(raw));
    try {
        return (start->control->*start->operation)(start->argument);
    } catch (...) {
        return 1;
    }
}

HANDLE ThumbListCtrl::StartThread(unsigned (ThumbListCtrl::*operation)(const wchar_t*),
                                  const wchar_t* argument) {
    auto* start = new (std::nothrow) ThreadStart{this, operation, argument};
    if (!start) return nullptr;
    // Started suspended so the caller can publish the handle before the thread can finish.
    const uintptr_t handle =
        ::_beginthreadex(nullptr, 0, &ThreadEntry, start, CREATE_SUSPENDED, nullptr);
    if (!handle) {
        delete start;
        return nullptr;
    }
    return reinterpret_cast<HANDLE>(handle);
}

ThumbListCtrl::ThumbListCtrl() {
    if (g_comInitCount == 0) g_comInitialised = SUCCEEDED(::CoInitialize(nullptr));
    ++g_comInitCount;
}

ThumbListCtrl::~ThumbListCtrl() {
    // An owner that forgot to destroy the windows first would leave the threads running on a
    // dead object: the container's teardown stops them.
    if (hwndContainer && ::IsWindow(hwndContainer)) ::DestroyWindow(hwndContainer);
    ClearItems();
    if (--g_comInitCount == 0 && g_comInitialised) {
        ::CoUninitialize();
        g_comInitialised = false;
    }
    pending.clear();
    items.clear();
}

bool ThumbListCtrl::ClearItems() {
    {
        std::lock_guard<std::recursive_mutex> guard(lock_);
        if (thumbImages) ImageList_Remove(thumbImages, -1);
        imageSlots_ = 0;
    }
    ::SendMessageW(hwndList, LVM_DELETEALLITEMS, 0, 0);
    {
        std::lock_guard<std::recursive_mutex> guard(lock_);
        for (ThumbItem* record : items) delete record;
        items.clear();
        imageOf_.clear();
        pending.clear();
    }
    ::SendMessageW(hwndList, LVM_SETITEMCOUNT, 1, 0);
    ::SendMessageW(hwndList, LVM_DELETEALLITEMS, 0, 0);
    return true;
}

void ThumbListCtrl::SetFileTypes(const wchar_t* list, bool rescan) {
    std::wcscpy(fileTypes, mediaKind == 1 ? kDefaultVideoTypes : kDefaultImageTypes);
    if (list && std::wcslen(list) >= 3) {
        wchar_t buffer[260] = {};
        std::wcsncpy(buffer, list, std::size(buffer) - 1);
        // Tokens between blanks, commas and bars; runs of separators count as one.
        std::wstring joined;
        std::wstring token;
        for (const wchar_t* p = buffer;; ++p) {
            if (*p && !std::wcschr(L" ,|", *p)) {
                token += *p;
                continue;
            }
            if (!token.empty()) {
                if (!joined.empty()) joined += L' ';
                joined += token;
                token.clear();
            }
            if (!*p) break;
        }
        if (!joined.empty() && joined.size() < std::size(fileTypes))
            std::wcscpy(fileTypes, joined.c_str());
    }
    if (rescan) SetFolder(folder, false);
}

bool ThumbListCtrl::IsSupportedFile(const wchar_t* fileName) const {
    return fileName && ExtensionAccepted(fileTypes, fileName);
}

size_t ThumbListCtrl::PendingCount() const {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    return pending.size();
}

bool ThumbListCtrl::ItemSnapshot(int index, ThumbItem& out) const {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (index < 0 || static_cast<size_t>(index) >= items.size() || !items[index]) return false;
    out = *items[index];
    return true;
}

int ThumbListCtrl::SetFolder(const wchar_t* path, bool rebuild) {
    if (cacheMode != Folder || !path || !*path || !hwndList) return -1;
    // A path the control cannot hold whole is refused rather than cut into another folder's.
    const size_t length = std::wcslen(path);
    if (length >= std::size(folder)) return -1;
    requestedRebuild_ = rebuild;
    std::wmemcpy(folder, path, length + 1);
    Trace(L"~~~~~~ Set Folder ==>> %s....%x\n", folder, ctrlId);
    return RequestScan();
}

int ThumbListCtrl::SetCategory(const wchar_t* name, bool rebuild) {
    if (cacheMode != Database || !name || !*name || !hwndList) return -1;
    const size_t length = std::wcslen(name);
    if (length >= std::size(category)) return -1;
    requestedRebuild_ = rebuild;
    std::wmemcpy(category, name, length + 1);
    return RequestScan();
}

// Asks the monitor for a scan of `folder` (or `category`), waits for the list and builds the
// list items. Returns the item count, or -1 when no scan could be run.
int ThumbListCtrl::RequestScan() {
    {
        std::lock_guard<std::recursive_mutex> guard(lock_);
        jumpPending = false;
        jumpIndex = 0;
    }
    itemCount = 0;
    StopWork();

    if (!monitorThread) {
        monitorThread = StartThread(&ThumbListCtrl::MonitorThread, nullptr);
        if (!monitorThread) return -1;
        ::ResumeThread(monitorThread);
    }
    ::ResetEvent(stopEvent);
    ::ResetEvent(itemsBuiltEvent);
    ::SetEvent(scanRequestEvent);
    // Waits for the list; should the monitor have ended (it never does while the control
    // lives, but a wait on the event alone could then hang for ever), the request is dropped.
    const HANDLE waits[] = {listReadyEvent, monitorThread};
    if (::WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
        ::CloseHandle(monitorThread);
        monitorThread = nullptr;
        return -1;
    }

    ::SendMessageW(hwndList, LVM_DELETEALLITEMS, 0, 0);
    ::SendMessageW(hwndList, LVM_SETITEMCOUNT, 1, 0);
    ::SendMessageW(hwndList, LVM_DELETEALLITEMS, 0, 0);
    ::SendMessageW(hwndList, LVM_SETITEMCOUNT, itemCount, 0);
    // Without redrawing in between: the list otherwise repaints and rearranges at every insert.
    // The items go in while the list is in list view, where an insert does not place an icon
    // (a third of the cost of 10,000 inserts), and are arranged in index order once back in
    // icon view, where they land exactly where inserting them there would have put them.
    ::SendMessageW(hwndList, WM_SETREDRAW, FALSE, 0);
    const LONG_PTR style = ::GetWindowLongPtrW(hwndList, GWL_STYLE);
    ::SetWindowLongPtrW(hwndList, GWL_STYLE, (style & ~LVS_TYPEMASK) | LVS_LIST);
    for (unsigned i = 0; i < itemCount; ++i) {
        LVITEMW item = {};
        item.mask = LVIF_IMAGE;
        item.iItem = static_cast<int>(i);
        item.iImage = static_cast<int>(i);
        ::SendMessageW(hwndList, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    }
    ::SetWindowLongPtrW(hwndList, GWL_STYLE, style);
    ::SendMessageW(hwndList, LVM_ARRANGE, LVA_DEFAULT, 0);
    ::SendMessageW(hwndList, WM_SETREDRAW, TRUE, 0);
    ::InvalidateRect(hwndList, nullptr, TRUE);
    ::SetEvent(itemsBuiltEvent);
    return static_cast<int>(itemCount);
}

unsigned ThumbListCtrl::MonitorThread(const wchar_t*) {
    for (;;) {
        if (::WaitForSingleObject(scanRequestEvent, INFINITE) == WAIT_FAILED && lastWorker_) {
            ::WaitForSingleObject(lastWorker_.Get(), INFINITE);
            Trace(L"Monitor Thread terminated properly....1...%x\n", ctrlId);
            return 0;
        }
        StopWork();
        if (::WaitForSingleObject(stopEvent, 0) != WAIT_TIMEOUT) {
            if (lastWorker_ &&
                ::WaitForSingleObject(lastWorker_.Get(), INFINITE) == WAIT_OBJECT_0) {
                Trace(L"Monitor Thread terminated properly....2...%x\n", ctrlId);
            } else {
                Trace(L"Monitor Thread terminated properly....Normal...%x\n", ctrlId);
            }
            workerThread = nullptr;
            lastWorker_.Reset();
            return 0;
        }
        if (lastWorker_) {
            if (::WaitForSingleObject(lastWorker_.Get(), INFINITE) != WAIT_OBJECT_0) {
                Trace(L"Monitor Thread terminated properly....3...%x\n", ctrlId);
                return 0;
            }
            lastWorker_.Reset();  // a finished worker's handle is closed
        }
        abortWork = false;
        // The old worker has ended: the request's choice is taken over for the new one.
        rebuildThumbnails = requestedRebuild_.load();
        HANDLE worker = cacheMode == Folder
                            ? StartThread(&ThumbListCtrl::WorkerThread, folder)
                            : StartThread(&ThumbListCtrl::CategoryWorkerThread, category);
        if (!worker) {
            // No worker, no list: the request is dropped and the waiting caller released.
            ::SetEvent(listReadyEvent);
            continue;
        }
        lastWorker_.Reset(worker);
        workerThread = worker;
        ::ResumeThread(worker);
    }
}

void ThumbListCtrl::AwaitItemsBuilt() {
    // Production would compete with the caller, still in SetFolder, for the cores; on one
    // core a big folder's list items took three times as long. A caller that does not come
    // back to build them holds production up for a second at most.
    ::WaitForSingleObject(itemsBuiltEvent, 1000);
}

void ThumbListCtrl::StopWork() {
    abortWork = true;
    gate_.Wake();
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (pool_) pool_->Wake();
}

void ThumbListCtrl::ClearRecordsLocked() {
    if (thumbImages) ImageList_Remove(thumbImages, -1);
    imageSlots_ = 0;
    for (ThumbItem* record : items) delete record;
    items.clear();
    imageOf_.clear();
    pending.clear();
}

void ThumbListCtrl::AppendRecordLocked(ThumbItem* record) {
    const int index = static_cast<int>(items.size());
    record->serial = ++lastSerial_;
    items.push_back(record);
    imageOf_[record] = index;  // list item i shows image i after the hand-over
    pending[index] = index;
}

int ThumbListCtrl::FirstVisibleItem() const {
    SCROLLINFO info = {};
    info.cbSize = sizeof info;
    info.fMask = SIF_ALL;
    ::GetScrollInfo(hwndList, (styleFlags & TLF_HORIZONTAL) ? SB_HORZ : SB_VERT, &info);
    const int line = CellPitch();
    const int firstLine = line > 0 ? info.nPos / line : 0;
    return firstLine * ((styleFlags & TLF_HORIZONTAL) ? visibleRows : visibleColumns);
}

unsigned ThumbListCtrl::WorkerThread(const wchar_t* folderArgument) {
    wchar_t scanFolder[260];
    std::wcsncpy(scanFolder, folderArgument, std::size(scanFolder) - 1);
    scanFolder[std::size(scanFolder) - 1] = L'\0';
    Trace(L" ######  Worker Thread Started Ctrl = %x...%x\n", ctrlId, workerThread.load());
    cache.Close();
    {
        std::lock_guard<std::recursive_mutex> guard(lock_);
        ClearRecordsLocked();
    }

    Trace(L"Before Searching Files...\n");
    const DWORD started = ::GetTickCount();
    unsigned count = 0;
    wchar_t pattern[MAX_PATH + 8];
    ::wsprintfW(pattern, L"%s\\*.*", scanFolder);
    WIN32_FIND_DATAW found;
    win::UniqueFindHandle search(::FindFirstFileW(pattern, &found));
    if (search) {
        do {
            if (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN))
                continue;
            if (!IsSupportedFile(found.cFileName)) continue;
            wchar_t full[MAX_PATH];
            if (!::PathCombineW(full, scanFolder, found.cFileName)) continue;
            auto record = std::make_unique<ThumbItem>();
            if (!MakeItemRecord(*record, full, found)) continue;  // its path does not fit
            std::lock_guard<std::recursive_mutex> guard(lock_);
            AppendRecordLocked(record.release());
            ++count;
        } while (!abortWork && ::FindNextFileW(search.Get(), &found));
    }
    itemCount = count;
    search.Reset();
    {
        // Image i is item i's; the image list itself grows as thumbnails arrive.
        std::lock_guard<std::recursive_mutex> guard(lock_);
        imageSlots_ = static_cast<int>(count);
    }

    if (!abortWork && count > 0) {
        Trace(L" Time Taken To Search = %d\n", ::GetTickCount() - started);
        ::SetEvent(listReadyEvent);
        AwaitItemsBuilt();
        cache.Open(scanFolder, cacheName, Folder, L"");
        {
            const int first = FirstVisibleItem();
            std::lock_guard<std::recursive_mutex> guard(lock_);
            displayIndex = first;
        }
        DisplayFunction();
        Trace(L"====> Worker Thread terminated successfully...%x ...thrd  = %x\n", ctrlId,
              workerThread.load());
    } else {
        ::SetEvent(listReadyEvent);
    }
    workerThread = nullptr;
    return 0;
}

unsigned ThumbListCtrl::CategoryWorkerThread(const wchar_t* categoryArgument) {
    wchar_t wanted[260];
    std::wcsncpy(wanted, categoryArgument, std::size(wanted) - 1);
    wanted[std::size(wanted) - 1] = L'\0';
    Trace(L" ######  Worker Thread Category Started Ctrl = %x...%x\n", ctrlId, workerThread.load());
    {
        std::lock_guard<std::recursive_mutex> guard(lock_);
        ClearRecordsLocked();
    }
    Trace(L"Before Getting Files...\n");
    const DWORD started = ::GetTickCount();

    wchar_t indexPath[MAX_PATH] = {};
    ::PathCombineW(indexPath, folder, (std::wstring(cacheName) + L".idx").c_str());
    win::UniqueHandle index(OpenCacheFile(indexPath, true));
    const std::vector<uint8_t> bytes = ReadWholeCacheFile(index.Get(), 64u << 20);
    ByteCursor header(bytes.data(), bytes.size());
    uint32_t magic = 0;
    if (!header.ReadU32(magic) || magic != ThumbCache::kMagic) {
        index.Reset();
        ::SetEvent(listReadyEvent);
        workerThread = nullptr;
        return 0;
    }
    const std::wstring wantedUpper = ThumbCache::UpperAscii(wanted);
    unsigned count = 0;
    for (const IndexRecord& record : ThumbCache::ParseIndex(bytes, Database)) {
        if (abortWork) break;
        if (record.category != wantedUpper) continue;
        WIN32_FIND_DATAW found;
        win::UniqueFindHandle search(::FindFirstFileW(record.name.c_str(), &found));
        if (!search ||
            (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN)) ||
            !IsSupportedFile(found.cFileName)) {
            continue;
        }
        auto item = std::make_unique<ThumbItem>();
        if (!MakeItemRecord(*item, record.name.c_str(), found)) continue;
        std::lock_guard<std::recursive_mutex> guard(lock_);
        AppendRecordLocked(item.release());
        ++count;
    }
    itemCount = count;
    {
        std::lock_guard<std::recursive_mutex> guard(lock_);
        imageSlots_ = static_cast<int>(count);
    }
    Trace(L"**************Read from IDX File ==>> %s....%x\n", indexPath, ctrlId);
    index.Reset();

    if (abortWork) {
        ::SetEvent(listReadyEvent);
    } else {
        Trace(L" Time Taken To Search = %d\n", ::GetTickCount() - started);
        ::SetEvent(listReadyEvent);
        AwaitItemsBuilt();
        cache.Open(folder, cacheName, static_cast<CacheMode>(cacheMode), wanted);
        {
            std::lock_guard<std::recursive_mutex> guard(lock_);
            displayIndex = 0;
        }
        DisplayFunction();
        Trace(L"====> Worker Thread Category terminated successfully...%x ...thrd  = %x\n", ctrlId,
              workerThread.load());
    }
    workerThread = nullptr;
    return 0;
}
