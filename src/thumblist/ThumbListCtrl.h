#pragma once
// The thumbnail browser control: a container window holding an optional column header and a
// list view in icon mode whose cells the control draws itself. A monitor thread runs one
// worker per folder request; the worker lists the folder while the caller waits, then
// produces the thumbnails in the background, visible items first, through the cache. The
// worker's display loop hands the decoding to a small pool of threads (thumblist/DecodePool.h)
// and decodes beside them; it alone uses the cache and places the results.
//
// Threads share the records, `pending`, `displayIndex`, the jump request and the thumbnail
// image list; `lock_` guards all of them. The worker never holds it while it decodes or
// touches files, never sends a window message, and finds its record again by identity after
// its unlocked work, so insertions and moves on the user-interface thread cannot misplace a
// thumbnail.

#include "base/Handles.h"
#include "cache/ThumbCache.h"
#include "cache/ThumbItem.h"
#include "thumblist/DecodePool.h"
#include "thumblist/ProductionGate.h"

#include <commctrl.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

// Style flags of ThumbListParams::styleFlags.
inline constexpr unsigned TLF_HORIZONTAL = 0x0001;
inline constexpr unsigned TLF_SINGLESEL = 0x0002;
inline constexpr unsigned TLF_HEADER = 0x0004;
inline constexpr unsigned TLF_INFOTIPS = 0x0008;
inline constexpr unsigned TLF_BKCOLOR = 0x0010;
inline constexpr unsigned TLF_BKBITMAP = 0x0020;
inline constexpr unsigned TLF_THINBORDER = 0x0040;
inline constexpr unsigned TLF_TWOLINES = 0x0080;
inline constexpr unsigned TLF_NOCAPTION = 0x0100;
inline constexpr unsigned TLF_HIDEEXT = 0x0200;
inline constexpr unsigned TLF_NUMBERS = 0x0400;
inline constexpr unsigned TLF_HOVER = 0x0800;
inline constexpr unsigned TLF_DRAGDROP = 0x1000;

// Messages between the control and its parent.
inline constexpr UINT TLM_ITEMCLICK = WM_USER + 200;   // 1224
inline constexpr UINT TLM_ITEMRCLICK = WM_USER + 201;  // 1225
inline constexpr UINT TLM_ITEMDBLCLK = WM_USER + 202;  // 1226
inline constexpr UINT TLM_SELCHANGED = WM_USER + 204;  // 1228
inline constexpr UINT TLM_KEYDOWN = WM_USER + 205;     // 1229
inline constexpr UINT TLM_ITEMMOVED = WM_USER + 206;   // 1230
inline constexpr UINT TLM_DROP = WM_USER + 207;        // 1231
inline constexpr UINT TLM_DRAGOVER = WM_USER + 208;    // 1232

// What a parent fills to create a control.
struct ThumbListParams {
    int thumbWidth;
    int thumbHeight;
    unsigned styleFlags;
    const wchar_t* fileTypes;  // may be null: the default list of the media kind
    COLORREF bkColor;
    COLORREF cellColor;
    COLORREF captionColor;
    COLORREF selectedColor;
    int iconId;      // -1: the system information icon
    int bkBitmapId;  // -1: none
    int mediaKind;   // 0 images, 1 videos
    int reserved;
    // The DPI the control is shown at (0: the parent's). Thumbnails are kept and cached at
    // thumbWidth x thumbHeight; cells, gaps, borders, captions and the thumbnails as shown are
    // those 96-DPI sizes scaled by ui::Scale.
    unsigned dpi;
};

// Registers the container and list window classes; once per process, before any Create.
bool RegisterThumbListClasses();

// `thumbnail` (a picture on a canvas of the key colour) as a 24-bit bitmap of width x height:
// the picture's rectangle is resampled on its own (area averaging down, linear interpolation
// up) so that no key colour bleeds into its edges, and placed where the proportional mapping
// puts it on a fresh canvas of the key colour.
win::UniqueBitmap ScaleThumbnail(HBITMAP thumbnail, int width, int height, COLORREF key);

// Turns `bitmap`'s key-coloured pixels black and returns a monochrome mask that is 1 exactly
// there; the caller deletes the mask.
HBITMAP CreateMaskBitmap(HBITMAP bitmap, COLORREF key);

// The hover preview of image items: a small borderless popup, shown beside the item under the
// resting pointer with the picture fitted into it.
inline constexpr int kHoverPreviewWidth = 240;
inline constexpr int kHoverPreviewHeight = 180;
void RegisterHoverPreviewClass();
HWND CreateHoverPreviewWindow(HWND owner);

// Where a refused drop's drag image is shown on its way back from `from` to `to`: every
// `step` one-pixel steps along the longer axis.
std::vector<POINT> DragBackPath(POINT from, POINT to, int step);

// Writes a packed DIB (a bitmap resource) as a ".bmp" file, given the system attribute.
bool WriteBitmapFile(const wchar_t* path, const void* bits, DWORD size);

class ThumbListCtrl {
public:
    ThumbListCtrl();
    virtual ~ThumbListCtrl();
    ThumbListCtrl(const ThumbListCtrl&) = delete;
    ThumbListCtrl& operator=(const ThumbListCtrl&) = delete;

    // Creation and windows.
    HWND Create(HWND parent, HWND placeholder, const ThumbListParams& params,
                const wchar_t* cachePath, int cacheMode);
    void SetBkColor(COLORREF color);
    LRESULT SetBkBitmap(int resourceId, bool tile);
    void SetDropTarget(HWND window);
    // Shows the control at another DPI: cells, caption font and the thumbnails it holds are
    // scaled anew (the thumbnails from the images shown so far).
    void SetDpi(unsigned dpi);
    unsigned Dpi() const { return dpi_.load(); }

    // Content.
    void SetFileTypes(const wchar_t* list, bool rescan);
    bool IsSupportedFile(const wchar_t* fileName) const;
    int SetFolder(const wchar_t* path, bool rebuildThumbnails);
    // Database mode's counterpart of SetFolder: lists the records of one category of the
    // database index. -1 in Folder mode or for an empty category.
    int SetCategory(const wchar_t* name, bool rebuildThumbnails);
    int InsertFile(const wchar_t* path, int index, bool insert, bool rebuildThumbnails);
    bool ClearItems();

    // List operations.
    int GetItemCount() const;
    int GetSelectedCount() const;
    int GetNextSelected(int start) const;
    void SelectItems(int first, int last);
    void DeselectItems(int first, int last);
    void SetItemBorder(int index, COLORREF color, int width);
    COLORREF GetItemBorderColor(int index) const;
    void Reset();

    // Reorders the records (and their thumbnails); false for equal or negative positions.
    bool MoveItem(int from, int to, bool swap);
    // Sorts by a header column; 1 when refused because a worker runs, else 0.
    int SortItems(int column, bool ascending);

    // Drawing one cell into a device context; public so tests can render cells.
    void DrawCell(HDC target, int index, const RECT& cell, UINT itemState);

    // For tests and the owner: read-only views.
    HWND ContainerWindow() const { return hwndContainer; }
    HWND ListWindow() const { return hwndList; }
    HWND HeaderWindow() const { return hwndHeader; }
    // Image i shows item i's thumbnail once it has one; images are added as thumbnails
    // arrive, so the list may hold fewer images than there are items.
    HIMAGELIST ThumbImages() const { return thumbImages; }
    int VisibleRows() const { return visibleRows; }
    int VisibleColumns() const { return visibleColumns; }
    int CellSize() const { return cellHeight.load(); }
    bool WorkerRunning() const { return workerThread.load() != nullptr; }
    int HoverIndex() const { return hoverIndex; }
    HWND PreviewWindow() const { return hwndPreview; }
    bool Dragging() const { return dragging; }
    int DropTargetIndex() const { return dropTargetIndex; }
    size_t PendingCount() const;
    // Lets the display loop make `items` more thumbnails, then hold until called again;
    // negative lets it run freely (the default). A new scan, Reset or destruction still stops
    // a held loop.
    void HoldProduction(int items) { gate_.Allow(items); }
    // True while the display loop holds at the gate (with every item it handed out placed).
    bool ProductionHeld() const { return gate_.Held(); }
    // How many threads decode beside the display loop's own (0: the machine's logical
    // processors - 1, at most 8). For tests and the benchmark; the next folder takes it up.
    void SetDecodeThreads(int threads) { decodeThreads_ = threads; }
    // A copy of record `index` taken under the lock; false when there is none.
    bool ItemSnapshot(int index, ThumbItem& out) const;

private:
    friend LRESULT CALLBACK ContainerWndProc(HWND, UINT, WPARAM, LPARAM);
    friend LRESULT CALLBACK ListWndProc(HWND, UINT, WPARAM, LPARAM);
    struct ThreadStart;
    static unsigned __stdcall ThreadEntry(void* start);
    HANDLE StartThread(unsigned (ThumbListCtrl::*operation)(const wchar_t*),
                       const wchar_t* argument);

    // Windows.
    LRESULT HandleContainerMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnCreate(HWND container);
    void OnSize(int width, int height);
    void OnDestroy();
    HWND CreateHeader();
    void InsertColumns();
    int MeasureLabelHeight();

    // Scanning.
    int RequestScan();
    unsigned MonitorThread(const wchar_t* unused);
    unsigned WorkerThread(const wchar_t* folder);
    unsigned CategoryWorkerThread(const wchar_t* category);
    // The worker's wait, after handing over the list, for the caller to build the list items.
    void AwaitItemsBuilt();
    // Asks the running worker to stop after its current step.
    void StopWork();
    void ClearRecordsLocked();
    // Gives the record its serial and adds it at the end, pending.
    void AppendRecordLocked(ThumbItem* record);
    int FirstVisibleItem() const;

    // Thumbnails.
    void DisplayFunction();
    // The decoding threads, made (or remade for another thread count) by the display loop.
    DecodePool& PoolForLoop();
    LRESULT OnScroll(WPARAM code);
    bool SetItemBitmap(int imageIndex, HBITMAP bitmap);
    // The thumbnail at the size the cells show it: `bitmap` itself when it has that size, else
    // a scaled copy.
    win::UniqueBitmap FitToCell(win::UniqueBitmap bitmap) const;
    // The distance from one cell to the next: the cell and the gap between cells.
    int CellPitch() const;
    void MakeCaptionFont();
    void RepaintCell(int index);
    // Where the record taken as `serial` stands now; -1 when it has gone (an address alone
    // could name a new record allocated where a freed one was).
    int IndexOfLocked(const ThumbItem* record, uint64_t serial, int hint) const;

    // The image index a list item shows, and setting it.
    int ListImage(int index) const;
    void SetListImage(int index, int image) const;

    // Mouse, hover and drag and drop.
    LRESULT OnHover();
    LRESULT OnMouseMove();
    LRESULT OnMouseLeave();
    LRESULT OnBeginDrag(NMLISTVIEW* drag);
    LRESULT OnLButtonUp();
    LRESULT OnDropFile(WPARAM pointer, LPARAM path);
    LRESULT OnDragOver(LPARAM pointer);
    void AnimateDragBack(int x, int y);
    void ShowHoverPreview(int index);
    void EndHoverPreview();
    void ClearDropMarks();
    HWND WindowUnderCursor(POINT screen) const;
    int ItemAt(POINT listPoint) const;
    // After records moved: pending indices, the display position and each record's image
    // follow the records.
    void FollowRecordsLocked(const std::vector<ThumbItem*>& before);

    // Sorting.
    LRESULT OnHeaderClick(NMHEADERW* click);
    int CompareRecords(const ThumbItem* a, const ThumbItem* b, int column, bool ascending) const;
    void Quicksort(int lo, int hi, int column, bool ascending);

    // Drawing and notifications.
    LRESULT OnNotify(NMHDR* header);
    LRESULT OnCustomDraw(NMLVCUSTOMDRAW* draw);
    void SendItemMessage(UINT message, int index, UINT state);
    LRESULT OnItemChanged(NMLISTVIEW* change);
    LRESULT OnGetInfoTip(NMLVGETINFOTIPW* tip);

    int ctrlId = 0;
    int mediaKind = 0;
    int cacheMode = Folder;
    HWND hwndContainer = nullptr;
    HWND hwndList = nullptr;
    HWND hwndHeader = nullptr;
    HWND hwndToolTip = nullptr;
    HWND hwndDropTarget = nullptr;
    HWND hwndPreview = nullptr;
    unsigned styleFlags = 0;
    COLORREF bkColor = 0xFFFFFF;
    int bkBitmapId = -1;
    COLORREF cellColor = 0;
    COLORREF selectedColor = 0;
    COLORREF captionColor = 0;
    std::atomic<int> visibleRows{1};  // written by OnSize, read by the worker
    std::atomic<int> visibleColumns{1};
    wchar_t folder[260] = {};
    wchar_t category[260] = {};
    wchar_t fileTypes[1024] = {};
    wchar_t cacheName[260] = {};
    unsigned itemCount = 0;
    ThumbCache cache;
    int hoverIndex = -1;
    HIMAGELIST thumbImages = nullptr;
    HIMAGELIST cellImages = nullptr;
    HIMAGELIST dragImages = nullptr;
    int sortColumn = 0;
    int sortAscending = 1;
    HFONT captionFont = nullptr;
    HICON placeholderIcon = nullptr;
    bool placeholderIconOwned = false;
    bool dragging = false;
    bool dragBackAnimation = true;
    bool dragHotspotCentered = false;
    int dragSourceIndex = -1;
    int dropTargetIndex = -1;
    int dragAnimationStep = 15;
    HCURSOR dropCursor = nullptr;
    HCURSOR noDropCursor = nullptr;
    HCURSOR savedCursor = nullptr;
    std::vector<ThumbItem*> items;
    std::map<int, int> pending;
    // Cells at the control's DPI (read by the worker as it repaints); thumbnails as cached.
    std::atomic<int> cellWidth{0};
    std::atomic<int> cellHeight{0};
    int thumbWidth = 0;
    int thumbHeight = 0;
    std::atomic<unsigned> dpi_{96};
    int labelHeight_ = 0;            // of the list's items, measured at creation
    bool rebuildThumbnails = false;  // the running worker's; set by the monitor between workers
    std::atomic<bool> requestedRebuild_{false};  // the last SetFolder's or SetCategory's
    int displayIndex = 0;
    int jumpIndex = 0;
    bool jumpPending = false;
    std::atomic<HANDLE> workerThread{nullptr};
    HANDLE monitorThread = nullptr;
    HANDLE scanRequestEvent = nullptr;
    HANDLE stopEvent = nullptr;
    HANDLE listReadyEvent = nullptr;
    HANDLE itemsBuiltEvent = nullptr;  // manual reset: RequestScan has built the list items
    std::atomic<bool> abortWork{true};
    ProductionGate gate_;
    int reserved = 0;

    // Guards records, pending, displayIndex, the jump request and thumbImages. Recursive
    // because a message the user-interface thread sends under it may come back as a paint.
    mutable std::recursive_mutex lock_;
    // The image of each record. Records keep their images when they move, so the worker
    // places a thumbnail by record, never by a position that may have changed.
    std::unordered_map<const ThumbItem*, int> imageOf_;
    uint64_t lastSerial_ = 0;  // guarded by lock_
    uint64_t lastTicket_ = 0;  // the display loop's own
    // Image indices handed to records (guarded by lock_); the image list holds a prefix of
    // them, grown by at least kImageGrowth (and half its size) as thumbnails arrive.
    int imageSlots_ = 0;
    static constexpr int kImageGrowth = 256;
    std::atomic<int> decodeThreads_{0};
    // Made by the first display loop and kept for the next folder; the pointer is guarded by
    // lock_, so that StopWork can wake a loop waiting for its results.
    std::unique_ptr<DecodePool> pool_;
    win::UniqueHandle lastWorker_;  // the monitor's own handle of the worker it started last
};
