// Thumbnail production on the worker thread, the scroll handler that re-targets it, the
// transfer of bitmaps into the image list, and single-file insertion.
#include "thumblist/ThumbListCtrl.h"

#include "base/Dpi.h"
#include "base/Trace.h"
#include "cache/ItemRecords.h"
#include "imagelib/CxImage.h"
#include "imagelib/WicDecoder.h"
#include "thumblist/DecodePool.h"

#include <shlwapi.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <memory>
#include <vector>

namespace {

constexpr COLORREF kKeyColor = 0xFF00FF;  // magenta: the thumbnails' transparent canvas

// Copies what the cache filled in from the worker's copy back into the shared record.
void CopyFacts(const ThumbItem& from, ThumbItem& to) {
    to.modified = from.modified;
    to.typeCode = from.typeCode;
    to.width = from.width;
    to.height = from.height;
    to.bitsPerPixel = from.bitsPerPixel;
    std::wmemcpy(to.description, from.description, std::size(to.description));
}

}  // namespace

namespace {

// The mask of a 24- or 32-bit DIB section computed from its pixels: the same result as the
// GDI round trip below, without two device contexts and two blits per thumbnail.
HBITMAP MaskFromDibSection(const DIBSECTION& section, COLORREF key) {
    const BITMAP& bm = section.dsBm;
    if (!bm.bmBits || (bm.bmBitsPixel != 24 && bm.bmBitsPixel != 32) ||
        section.dsBmih.biCompression != BI_RGB) {
        return nullptr;
    }
    const int width = bm.bmWidth;
    const int height = bm.bmHeight;
    const int bytes = bm.bmBitsPixel / 8;
    const uint8_t blue = GetBValue(key), green = GetGValue(key), red = GetRValue(key);
    // Monochrome bitmap rows are word aligned; rows are stored top first.
    const int maskStride = ((width + 15) / 16) * 2;
    std::vector<uint8_t> maskBits(static_cast<size_t>(maskStride) * height, 0);
    const bool bottomUp = section.dsBmih.biHeight > 0;
    for (int y = 0; y < height; ++y) {
        auto* row = static_cast<uint8_t*>(bm.bmBits) +
                    static_cast<size_t>(bottomUp ? height - 1 - y : y) * bm.bmWidthBytes;
        uint8_t* maskRow = maskBits.data() + static_cast<size_t>(y) * maskStride;
        for (int x = 0; x < width; ++x, row += bytes) {
            if (row[0] == blue && row[1] == green && row[2] == red) {
                maskRow[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
                row[0] = row[1] = row[2] = 0;  // key pixels turn black, as SRCINVERT leaves them
            }
        }
    }
    ::GdiFlush();
    return ::CreateBitmap(width, height, 1, 1, maskBits.data());
}

}  // namespace

namespace {

constexpr uint32_t Stride24(int width) {
    return (static_cast<uint32_t>(width) * 3 + 3) & ~3u;
}

// The header of a 24-bit top-down DIB of width x height.
BITMAPINFO TopDown24(int width, int height) {
    BITMAPINFO header = {};
    header.bmiHeader.biSize = sizeof header.bmiHeader;
    header.bmiHeader.biWidth = width;
    header.bmiHeader.biHeight = -height;
    header.bmiHeader.biPlanes = 1;
    header.bmiHeader.biBitCount = 24;
    header.bmiHeader.biCompression = BI_RGB;
    return header;
}

// A 24-bit top-down DIB section of width x height filled with `color`; null when GDI refuses.
win::UniqueBitmap FilledDib(int width, int height, COLORREF color, uint8_t** bits) {
    BITMAPINFO header = TopDown24(width, height);
    void* raw = nullptr;
    win::UniqueBitmap dib(::CreateDIBSection(nullptr, &header, DIB_RGB_COLORS, &raw, nullptr, 0));
    if (!dib || !raw) return {};
    *bits = static_cast<uint8_t*>(raw);
    for (int y = 0; y < height; ++y) {
        uint8_t* pixel = *bits + Stride24(width) * static_cast<size_t>(y);
        for (int x = 0; x < width; ++x, pixel += 3) {
            pixel[0] = GetBValue(color);
            pixel[1] = GetGValue(color);
            pixel[2] = GetRValue(color);
        }
    }
    return dib;
}

// `value` of a `from`-pixel axis on a `to`-pixel one, to the nearest pixel.
int MapAxis(int value, int from, int to) {
    return static_cast<int>((static_cast<long long>(value) * to + from / 2) / from);
}

}  // namespace

win::UniqueBitmap ScaleThumbnail(HBITMAP thumbnail, int width, int height, COLORREF key) {
    BITMAP info = {};
    if (!thumbnail || width <= 0 || height <= 0 || !::GetObjectW(thumbnail, sizeof info, &info) ||
        info.bmWidth <= 0 || info.bmHeight <= 0) {
        return {};
    }
    const int sourceWidth = info.bmWidth;
    const int sourceHeight = info.bmHeight;
    const uint32_t sourceStride = Stride24(sourceWidth);
    std::vector<uint8_t> source(sourceStride * static_cast<size_t>(sourceHeight));
    BITMAPINFO header = TopDown24(sourceWidth, sourceHeight);
    HDC screen = ::GetDC(nullptr);
    const int read = ::GetDIBits(screen, thumbnail, 0, static_cast<UINT>(sourceHeight),
                                 source.data(), &header, DIB_RGB_COLORS);
    ::ReleaseDC(nullptr, screen);
    if (read != sourceHeight) return {};

    // The picture's rectangle: everything that is not canvas.
    int left = sourceWidth, top = sourceHeight, right = 0, bottom = 0;
    for (int y = 0; y < sourceHeight; ++y) {
        const uint8_t* pixel = source.data() + sourceStride * static_cast<size_t>(y);
        for (int x = 0; x < sourceWidth; ++x, pixel += 3) {
            if (pixel[0] == GetBValue(key) && pixel[1] == GetGValue(key) &&
                pixel[2] == GetRValue(key)) {
                continue;
            }
            left = std::min(left, x);
            top = std::min(top, y);
            right = std::max(right, x + 1);
            bottom = std::max(bottom, y + 1);
        }
    }
    uint8_t* bits = nullptr;
    win::UniqueBitmap result = FilledDib(width, height, key, &bits);
    if (!result || right <= left) return result;

    const int targetLeft = MapAxis(left, sourceWidth, width);
    const int targetTop = MapAxis(top, sourceHeight, height);
    const int targetWidth = std::max(1, MapAxis(right, sourceWidth, width) - targetLeft);
    const int targetHeight = std::max(1, MapAxis(bottom, sourceHeight, height) - targetTop);
    CxImage picture;
    if (!picture.CreateFromArray(
            source.data() + sourceStride * static_cast<size_t>(top) + static_cast<size_t>(left) * 3,
            static_cast<uint32_t>(right - left), static_cast<uint32_t>(bottom - top), 24,
            sourceStride, true) ||
        !picture.Resample(targetWidth, targetHeight) || picture.GetBpp() != 24) {
        return {};
    }
    for (int y = 0; y < targetHeight && targetTop + y < height; ++y) {
        const int columns = std::min(targetWidth, width - targetLeft);
        // CxImage counts rows from the bottom.
        std::memcpy(bits + Stride24(width) * static_cast<size_t>(targetTop + y) +
                        static_cast<size_t>(targetLeft) * 3,
                    picture.GetBits(static_cast<uint32_t>(targetHeight - 1 - y)),
                    static_cast<size_t>(columns) * 3);
    }
    ::GdiFlush();
    return result;
}

win::UniqueBitmap ThumbListCtrl::FitToCell(win::UniqueBitmap bitmap) const {
    if (!bitmap) return bitmap;
    const unsigned dpi = dpi_.load();
    const int width = ui::Scale(thumbWidth, dpi);
    const int height = ui::Scale(thumbHeight, dpi);
    BITMAP info = {};
    ::GetObjectW(bitmap.Get(), sizeof info, &info);
    if (info.bmWidth == width && info.bmHeight == height) return bitmap;
    return ScaleThumbnail(bitmap.Get(), width, height, kKeyColor);
}

int ThumbListCtrl::CellPitch() const {
    return cellHeight.load() + ui::Scale(4, dpi_.load());
}

void ThumbListCtrl::SetDpi(unsigned dpi) {
    if (!hwndList || dpi == 0 || dpi == dpi_.load()) return;
    const int width = ui::Scale(thumbWidth, dpi);
    const int height = ui::Scale(thumbHeight, dpi);
    {
        // The thumbnails shown so far are scaled from their images in the list: the cached
        // ones are the worker's to read.
        std::lock_guard<std::recursive_mutex> guard(lock_);
        int oldWidth = 0, oldHeight = 0;
        ImageList_GetIconSize(thumbImages, &oldWidth, &oldHeight);
        HIMAGELIST resized = ImageList_Create(width, height, ILC_COLOR32 | ILC_MASK, 0, 1);
        if (!resized) return;
        ImageList_SetBkColor(resized, 0xFFFFFF);
        ImageList_SetImageCount(resized, ImageList_GetImageCount(thumbImages));
        for (const auto& [record, image] : imageOf_) {
            if (!record->hasThumbnail) continue;
            uint8_t* bits = nullptr;
            win::UniqueBitmap shown = FilledDib(oldWidth, oldHeight, kKeyColor, &bits);
            if (!shown) continue;
            {
                win::MemoryDc memory(::CreateCompatibleDC(nullptr));
                win::SelectObjectScope select(memory.Get(), shown.Get());
                ImageList_Draw(thumbImages, image, memory.Get(), 0, 0, ILD_TRANSPARENT);
            }
            win::UniqueBitmap scaled = ScaleThumbnail(shown.Get(), width, height, kKeyColor);
            if (!scaled) continue;
            win::UniqueBitmap mask(CreateMaskBitmap(scaled.Get(), kKeyColor));
            ImageList_Replace(resized, image, scaled.Get(), mask.Get());
        }
        ImageList_Destroy(thumbImages);
        thumbImages = resized;
        dpi_ = dpi;
        cellWidth = cellHeight = ui::Scale(std::max(thumbWidth + 8, thumbHeight + 8), dpi);
    }
    const int spacing = CellPitch();
    ::SendMessageW(hwndList, LVM_SETICONSPACING, 0, MAKELPARAM(spacing, spacing));
    // The list keeps its font: the label height measured at creation holds (measuring again
    // would empty the list).
    HIMAGELIST cells = ImageList_Create(cellWidth, cellHeight - labelHeight_ - ui::Scale(4, dpi),
                                        ILC_COLOR32, 0, 1);
    ::SendMessageW(hwndList, LVM_SETIMAGELIST, LVSIL_NORMAL, reinterpret_cast<LPARAM>(cells));
    if (cellImages) ImageList_Destroy(cellImages);
    cellImages = cells;
    MakeCaptionFont();
    RECT client = {};
    ::GetClientRect(hwndContainer, &client);
    OnSize(client.right, client.bottom);
    ::InvalidateRect(hwndList, nullptr, TRUE);
}

HBITMAP CreateMaskBitmap(HBITMAP bitmap, COLORREF key) {
    DIBSECTION section = {};
    if (::GetObjectW(bitmap, sizeof section, &section) == sizeof section) {
        if (HBITMAP mask = MaskFromDibSection(section, key)) return mask;
    }
    BITMAP info = {};
    if (!::GetObjectW(bitmap, sizeof info, &info)) return nullptr;
    HBITMAP mask = ::CreateBitmap(info.bmWidth, info.bmHeight, 1, 1, nullptr);
    win::MemoryDc source(::CreateCompatibleDC(nullptr));
    win::MemoryDc target(::CreateCompatibleDC(nullptr));
    {
        win::SelectObjectScope selectSource(source.Get(), bitmap);
        win::SelectObjectScope selectTarget(target.Get(), mask);
        ::SetBkColor(source.Get(), key);
        // Colour to monochrome: 1 where the source has the background (key) colour.
        ::BitBlt(target.Get(), 0, 0, info.bmWidth, info.bmHeight, source.Get(), 0, 0, SRCCOPY);
        // The key-coloured pixels turn black, the others stay.
        ::BitBlt(source.Get(), 0, 0, info.bmWidth, info.bmHeight, target.Get(), 0, 0, SRCINVERT);
    }
    return mask;
}

bool ThumbListCtrl::SetItemBitmap(int imageIndex, HBITMAP bitmap) {
    if (!bitmap || imageIndex < 0 || imageIndex >= imageSlots_) return false;
    // Callers scale outside the lock; a DPI change in between is caught here.
    int shownWidth = 0, shownHeight = 0;
    ImageList_GetIconSize(thumbImages, &shownWidth, &shownHeight);
    BITMAP info = {};
    ::GetObjectW(bitmap, sizeof info, &info);
    win::UniqueBitmap scaled;
    if (info.bmWidth != shownWidth || info.bmHeight != shownHeight) {
        scaled = ScaleThumbnail(bitmap, shownWidth, shownHeight, kKeyColor);
        if (!scaled) return false;
        bitmap = scaled.Get();
    }
    // The image list grows as thumbnails arrive, never past the slots handed out: sizing it
    // for a whole big folder up front would cost the caller of SetFolder most of its wait
    // (10,000 images of 100 x 100 are 400 MB). It grows by half its size at least, since
    // each growth copies every image it holds.
    const int present = ImageList_GetImageCount(thumbImages);
    if (imageIndex >= present) {
        const int wanted = std::max(imageIndex + 1, present + std::max(present / 2, kImageGrowth));
        if (!ImageList_SetImageCount(thumbImages, std::min(wanted, imageSlots_))) return false;
    }
    win::UniqueBitmap mask(CreateMaskBitmap(bitmap, kKeyColor));
    return ImageList_Replace(thumbImages, imageIndex, bitmap, mask.Get()) != FALSE;
}

int ThumbListCtrl::IndexOfLocked(const ThumbItem* record, uint64_t serial, int hint) const {
    const auto same = [&](size_t i) { return items[i] == record && items[i]->serial == serial; };
    if (hint >= 0 && static_cast<size_t>(hint) < items.size() && same(hint)) return hint;
    for (size_t i = 0; i < items.size(); ++i) {
        if (same(i)) return static_cast<int>(i);
    }
    return -1;
}

void ThumbListCtrl::RepaintCell(int index) {
    const bool horizontal = styleFlags & TLF_HORIZONTAL;
    const int rows = std::max(1, visibleRows.load());
    const int columns = std::max(1, visibleColumns.load());
    const int pitch = CellPitch();
    SCROLLINFO info = {};
    info.cbSize = sizeof info;
    info.fMask = SIF_ALL;
    ::GetScrollInfo(hwndList, horizontal ? SB_HORZ : SB_VERT, &info);

    const int line = horizontal ? index / rows : index / columns;
    const int other = horizontal ? index % rows : index % columns;
    const int first = info.nPos / pitch;
    const int offset = info.nPos % pitch;
    const int visibleLines = horizontal ? visibleColumns.load() : visibleRows.load();
    if (line < first || line > first + visibleLines + 1) return;

    const int along = (line - first) * pitch - offset;
    const int across = other * pitch;
    RECT cell;
    cell.left = horizontal ? along : across;
    cell.top = horizontal ? across : along;
    cell.right = cell.left + cellWidth;
    cell.bottom = cell.top + cellHeight;
    ::InvalidateRect(hwndList, &cell, FALSE);
}

DecodePool& ThumbListCtrl::PoolForLoop() {
    const int wanted = decodeThreads_ > 0 ? decodeThreads_.load() : DecodePool::DefaultThreads();
    std::unique_ptr<DecodePool> retired;
    {
        std::lock_guard<std::recursive_mutex> guard(lock_);
        if (pool_ && pool_->Threads() != wanted) retired = std::move(pool_);
    }
    retired.reset();  // its threads end after their current file, outside the lock
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (!pool_) pool_ = std::make_unique<DecodePool>(wanted);
    return *pool_;
}

void ThumbListCtrl::DisplayFunction() {
    win::ComScope com;
    imagelib::ThreadImaging imaging;  // one WIC factory for this thread's own decoding
    DecodePool& pool = PoolForLoop();
    Trace(L" Display Function Started....%x..Thrd = %x\n", ctrlId, workerThread.load());

    // Items handed to the pool, by ticket. Each stays pending until its result is placed;
    // the loop does not hand it out twice meanwhile.
    struct InFlight {
        ThumbItem* record;
        int index;       // where it stood when handed out: the first place to look for it again
        ThumbItem copy;  // with the serial the record had then
    };
    std::map<uint64_t, InFlight> flying;
    const auto isFlying = [&](const ThumbItem* record) {
        for (const auto& [ticket, job] : flying) {
            if (job.record == record && job.copy.serial == record->serial) return true;
        }
        return false;
    };
    // Enough handed out to keep every decoding thread busy, few enough that a scroll finds
    // the pool nearly free for the newly visible items.
    const size_t ahead = 2 * (static_cast<size_t>(pool.Threads()) + 1);

    // Places a thumbnail (or its absence) on the record's cell, found again by identity: the
    // record may have moved meanwhile (an insertion or a drag), or gone.
    const auto place = [&](ThumbItem* record, int hint, ThumbItem& copy, ObtainedThumbnail& got) {
        if (got.store) cache.AddThumbnail(copy, false);
        got.bitmap = FitToCell(std::move(got.bitmap));  // scaled before the lock is taken
        int placed = -1;
        {
            std::lock_guard<std::recursive_mutex> guard(lock_);
            placed = IndexOfLocked(record, copy.serial, hint);
            if (placed >= 0) {
                CopyFacts(copy, *record);
                const auto image = imageOf_.find(record);
                if (got.bitmap && image != imageOf_.end()) {
                    SetItemBitmap(image->second, got.bitmap.Get());
                    record->hasThumbnail = 1;
                }
                pending.erase(placed);
            }
        }
        if (placed >= 0) RepaintCell(placed);
    };
    const auto finishResults = [&] {
        DecodePool::Result result;
        while (pool.TakeResult(result)) {
            const auto found = flying.find(result.ticket);
            if (found == flying.end()) continue;  // handed out by an earlier loop
            InFlight job = std::move(found->second);
            flying.erase(found);
            if (abortWork) continue;
            ObtainedThumbnail got =
                FinishThumbnail(cache, job.copy, std::move(result.fitted), thumbWidth, thumbHeight);
            place(job.record, job.index, job.copy, got);
        }
    };

    for (;;) {
        finishResults();
        if (abortWork) break;

        // Hand out the next items in display order; cached ones are placed at once. The loop
        // ends with nothing in hand only when stopped or when no pending item is left.
        while (flying.size() < ahead && !abortWork) {
            const ProductionGate::Step step = gate_.TryPass(abortWork);
            if (step == ProductionGate::Step::Stop) break;
            if (step == ProductionGate::Step::Hold) {
                if (!flying.empty()) break;  // results first: they may be what is awaited
                if (!gate_.Pass(abortWork)) break;
            }
            ThumbItem* record = nullptr;
            int cur = 0;
            ThumbItem copy;
            {
                std::lock_guard<std::recursive_mutex> guard(lock_);
                // A scroll since the last item moves the display position to the first
                // visible item, and takes back what the pool has not started.
                if (jumpPending) {
                    jumpPending = false;
                    displayIndex = jumpIndex;
                    for (const uint64_t ticket : pool.DropQueued()) flying.erase(ticket);
                }
                // From the display position, the first pending item not handed out yet,
                // wrapping around; an index without a record (none is expected) is dropped.
                auto next = pending.lower_bound(displayIndex);
                for (size_t looked = 0; looked < pending.size() && !pending.empty(); ++looked) {
                    if (next == pending.end()) next = pending.begin();
                    const int index = next->first;
                    if (index < 0 || static_cast<size_t>(index) >= items.size() || !items[index]) {
                        next = pending.erase(next);
                        continue;
                    }
                    if (!isFlying(items[index])) {
                        cur = index;
                        record = items[index];
                        copy = *record;
                        break;
                    }
                    ++next;
                }
                if (record) displayIndex = cur < static_cast<int>(items.size()) - 1 ? cur + 1 : 0;
            }
            if (!record) break;
            // File work without the lock, on a copy of the record.
            ObtainedThumbnail got =
                LookUpThumbnail(cache, copy, thumbWidth, thumbHeight, rebuildThumbnails);
            if (got.bitmap) {
                place(record, cur, copy, got);
                continue;
            }
            wchar_t full[MAX_PATH];
            if (!cache.FullPathOf(copy, full)) {
                ObtainedThumbnail none =
                    FinishThumbnail(cache, copy, nullptr, thumbWidth, thumbHeight);
                place(record, cur, copy, none);
                continue;
            }
            const uint64_t ticket = ++lastTicket_;
            flying.emplace(ticket, InFlight{record, cur, copy});
            pool.Submit(ticket, full);
        }
        if (abortWork || flying.empty()) break;
        // This thread decodes too while there is work queued; otherwise it waits.
        if (!pool.RunOneHere()) pool.WaitForResult(abortWork);
    }
    // Stopped or done: what no thread has started is taken back; the results of the files
    // still being decoded are dropped when they come.
    pool.DropQueued();
    Trace(L"Display Image function Over...%x..Thrd = %x\n", ctrlId, workerThread.load());
}

LRESULT ThumbListCtrl::OnScroll(WPARAM wParam) {
    const int code = LOWORD(wParam);
    if (code != SB_LINEUP && code != SB_LINEDOWN && code != SB_ENDSCROLL) return 0;
    const bool horizontal = styleFlags & TLF_HORIZONTAL;
    const int line = CellPitch();
    const int half = line / 2;
    SCROLLINFO info = {};
    info.cbSize = sizeof info;
    info.fMask = SIF_ALL;
    ::GetScrollInfo(hwndList, horizontal ? SB_HORZ : SB_VERT, &info);
    const int offset = info.nPos % line;
    const int snap = code == SB_LINEDOWN ? half - offset : (offset > 0 ? half - offset : -half);
    const auto scrollBy = [&](int distance) {
        ::SendMessageW(hwndList, LVM_SCROLL, horizontal ? distance : 0, horizontal ? 0 : distance);
    };

    if (workerThread.load()) {
        // The worker is not suspended: the jump is recorded under the lock and taken up after
        // its current item.
        const int first = FirstVisibleItem();
        if (code != SB_ENDSCROLL) scrollBy(snap);
        std::lock_guard<std::recursive_mutex> guard(lock_);
        jumpIndex = first;
        jumpPending = true;
        return 0;
    }
    if (code == SB_ENDSCROLL) return 0;
    if (code == SB_LINEDOWN && static_cast<unsigned>(info.nMax - info.nPos) < info.nPage) return 0;
    scrollBy(snap);
    return 0;
}

int ThumbListCtrl::InsertFile(const wchar_t* path, int index, bool insert, bool rebuild) {
    if (!path || !hwndList) return -1;
    const int count = static_cast<int>(::SendMessageW(hwndList, LVM_GETITEMCOUNT, 0, 0));
    const wchar_t* slash = std::wcsrchr(path, L'\\');
    const std::wstring dir = slash ? std::wstring(path, slash) : std::wstring();

    ThumbCache temporary;
    temporary.Open(dir.c_str(), cacheName, Folder, L"");
    if (index == -1) index = count;

    WIN32_FIND_DATAW found;
    win::UniqueFindHandle search(::FindFirstFileW(path, &found));
    if (!search || (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN)) ||
        !IsSupportedFile(found.cFileName)) {
        return -1;
    }
    wchar_t full[MAX_PATH];
    if (!::PathCombineW(full, dir.c_str(), found.cFileName)) return -1;
    auto made = std::make_unique<ThumbItem>();
    if (!MakeItemRecord(*made, full, found)) return -1;
    ThumbItem* record = made.release();
    search.Reset();

    {
        // Place the record; pending indices and the display position follow the records they
        // stand for, so the running display loop neither skips nor repeats an item.
        std::lock_guard<std::recursive_mutex> guard(lock_);
        record->serial = ++lastSerial_;
        if (index >= 0 && static_cast<size_t>(index) < items.size()) {
            if (insert) {
                items.insert(items.begin() + index, record);
                std::map<int, int> shifted;
                for (const auto& [key, value] : pending) {
                    const int moved = key >= index ? key + 1 : key;
                    shifted[moved] = moved;
                }
                pending.swap(shifted);
                if (displayIndex >= index) ++displayIndex;
            } else {
                imageOf_.erase(items[index]);
                delete items[index];
                items[index] = record;
                pending.erase(index);  // the new record gets its thumbnail here
            }
        } else {
            items.push_back(record);
        }
    }
    if (index > count) index = count;

    // The record is already shared with the worker: the cache fills a copy.
    ThumbItem copy = *record;
    ObtainedThumbnail got = ObtainThumbnail(temporary, copy, thumbWidth, thumbHeight, rebuild);
    if (got.store) temporary.AddThumbnail(copy, false);
    got.bitmap = FitToCell(std::move(got.bitmap));
    {
        std::lock_guard<std::recursive_mutex> guard(lock_);
        CopyFacts(copy, *record);
    }
    // Records and list items stay one to one: a file that yields no thumbnail still gets its
    // item, drawn with the placeholder icon over a blank image.
    if (insert || index >= count) {
        int image = -1;
        {
            std::lock_guard<std::recursive_mutex> guard(lock_);
            image = imageSlots_++;
            if (got.bitmap && SetItemBitmap(image, got.bitmap.Get())) record->hasThumbnail = 1;
            imageOf_[record] = image;
        }
        ::SendMessageW(hwndList, LVM_SETITEMCOUNT, count + 1, 0);
        LVITEMW item = {};
        item.mask = LVIF_IMAGE;
        item.iItem = count;
        item.iImage = image;
        ::SendMessageW(hwndList, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
        if (insert) {
            for (int i = count; i > index; --i) SetListImage(i, ListImage(i - 1));
            item.iItem = index;
            ::SendMessageW(hwndList, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
        }
    } else {
        // The replaced record's image is reused; without a thumbnail the placeholder shows.
        const int image = ListImage(index);
        std::lock_guard<std::recursive_mutex> guard(lock_);
        if (got.bitmap && SetItemBitmap(image, got.bitmap.Get())) record->hasThumbnail = 1;
        imageOf_[record] = image;
    }
    const int total = static_cast<int>(::SendMessageW(hwndList, LVM_GETITEMCOUNT, 0, 0));
    ::SendMessageW(hwndList, LVM_REDRAWITEMS, 0, total);
    return index;
}
