// Hover preview and drag and drop of items.
#include "thumblist/ThumbListCtrl.h"

#include "imagelib/CxImage.h"

#include <cmath>
#include <cwchar>
#include <unordered_map>

namespace {

constexpr wchar_t kPreviewClass[] = L"GlimmerlyHoverPreview";
constexpr UINT kSetPreviewBitmap = WM_APP + 1;  // lParam: the bitmap to show, owned by the window
constexpr COLORREF kDropMark = 0xFF0000;
constexpr COLORREF kPreviewBackground = RGB(40, 42, 46);

// The preview popup paints the bitmap it was given and lets the mouse through.
LRESULT CALLBACK PreviewWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const auto bitmap = [window] {
        return reinterpret_cast<HBITMAP>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    };
    switch (message) {
        case kSetPreviewBitmap:
            if (HBITMAP old = bitmap()) ::DeleteObject(old);
            ::SetWindowLongPtrW(window, GWLP_USERDATA, lParam);
            ::InvalidateRect(window, nullptr, FALSE);
            return 0;
        case WM_PAINT: {
            PAINTSTRUCT paint;
            HDC dc = ::BeginPaint(window, &paint);
            if (HBITMAP shown = bitmap()) {
                win::MemoryDc memory(::CreateCompatibleDC(dc));
                win::SelectObjectScope select(memory.Get(), shown);
                ::BitBlt(dc, 0, 0, kHoverPreviewWidth, kHoverPreviewHeight, memory.Get(), 0, 0,
                         SRCCOPY);
            }
            ::EndPaint(window, &paint);
            return 0;
        }
        case WM_ERASEBKGND:
            return 1;
        case WM_MOUSEACTIVATE:
            return MA_NOACTIVATE;
        case WM_NCHITTEST:
            return HTTRANSPARENT;
        case WM_NCDESTROY:
            if (HBITMAP old = bitmap()) ::DeleteObject(old);
            ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
            break;
        default:
            break;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

bool RectContains(const RECT& rect, POINT point) {
    return ::PtInRect(&rect, point) != FALSE;
}

}  // namespace

void RegisterHoverPreviewClass() {
    WNDCLASSEXW preview = {};
    preview.cbSize = sizeof preview;
    preview.lpfnWndProc = PreviewWndProc;
    preview.hInstance = ::GetModuleHandleW(nullptr);
    preview.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    preview.lpszClassName = kPreviewClass;
    ::RegisterClassExW(&preview);
}

HWND CreateHoverPreviewWindow(HWND owner) {
    // Hidden until a preview is shown; owned by the control's top-level window so it stays
    // above it and goes away with it.
    return ::CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE | WS_EX_TOPMOST, kPreviewClass,
                             L"", WS_POPUP | WS_BORDER, 0, 0, kHoverPreviewWidth + 2,
                             kHoverPreviewHeight + 2, ::GetAncestor(owner, GA_ROOT), nullptr,
                             ::GetModuleHandleW(nullptr), nullptr);
}

std::vector<POINT> DragBackPath(POINT from, POINT to, int step) {
    std::vector<POINT> path;
    const int dx = to.x - from.x;
    const int dy = to.y - from.y;
    const int n = std::max(std::abs(dx), std::abs(dy));
    if (n < 1) return path;
    const double sx = static_cast<double>(dx) / n;
    const double sy = static_cast<double>(dy) / n;
    double cx = from.x + 0.5;
    double cy = from.y + 0.5;
    for (int i = 0, k = 0; i < n; ++i) {
        if (k == step) {
            path.push_back({static_cast<LONG>(cx), static_cast<LONG>(cy)});
            k = 0;
        }
        cx += sx;
        cy += sy;
        ++k;
    }
    return path;
}

int ThumbListCtrl::ItemAt(POINT listPoint) const {
    LVHITTESTINFO hit = {};
    hit.pt = listPoint;
    const int index =
        static_cast<int>(::SendMessageW(hwndList, LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
    return index >= 0 && (hit.flags & (LVHT_ONITEMICON | LVHT_ONITEMLABEL | LVHT_ONITEMSTATEICON))
               ? index
               : -1;
}

HWND ThumbListCtrl::WindowUnderCursor(POINT screen) const {
    if (hwndDropTarget == hwndList) return ::WindowFromPoint(screen);
    HWND parent = ::GetParent(hwndDropTarget);
    POINT client = screen;
    ::ScreenToClient(parent, &client);
    return ::ChildWindowFromPoint(parent, client);
}

void ThumbListCtrl::ClearDropMarks() {
    const int count = GetItemCount();
    for (int i = 0; i < count; ++i) {
        if (GetItemBorderColor(i) == kDropMark) SetItemBorder(i, 0, 1);
    }
}

void ThumbListCtrl::FollowRecordsLocked(const std::vector<ThumbItem*>& before) {
    std::unordered_map<const ThumbItem*, int> now;
    for (size_t i = 0; i < items.size(); ++i) now[items[i]] = static_cast<int>(i);
    const auto follow = [&](int oldIndex) {
        if (oldIndex < 0 || static_cast<size_t>(oldIndex) >= before.size()) return -1;
        const auto found = now.find(before[oldIndex]);
        return found == now.end() ? -1 : found->second;
    };
    std::map<int, int> moved;
    for (const auto& [index, value] : pending) {
        if (const int to = follow(index); to >= 0) moved[to] = to;
    }
    pending.swap(moved);
    if (const int to = follow(displayIndex); to >= 0) displayIndex = to;
}

// --- Hover ---------------------------------------------------------------------------------

LRESULT ThumbListCtrl::OnHover() {
    POINT cursor;
    ::GetCursorPos(&cursor);
    ::ScreenToClient(hwndList, &cursor);
    // The visible cells start at the first visible item of the layout's own scroll bar (a
    // horizontal strip scrolls sideways, so its vertical bar says nothing).
    const bool horizontal = styleFlags & TLF_HORIZONTAL;
    const int first = FirstVisibleItem();
    const int visible =
        horizontal ? visibleRows * (visibleColumns + 1) : visibleColumns * (visibleRows + 1);
    const int count = GetItemCount();
    int index = -1;
    for (int i = first; i < first + visible && i < count; ++i) {
        RECT bounds = {};
        bounds.left = LVIR_SELECTBOUNDS;
        ::SendMessageW(hwndList, LVM_GETITEMRECT, i, reinterpret_cast<LPARAM>(&bounds));
        if (RectContains(bounds, cursor)) {
            index = i;
            break;
        }
    }
    if (mediaKind == 0 && hwndPreview && index != hoverIndex) ShowHoverPreview(index);
    ::SetFocus(hwndList);
    return 1;  // the list's own hover handling would select the item
}

void ThumbListCtrl::ShowHoverPreview(int index) {
    std::wstring path;
    {
        std::lock_guard<std::recursive_mutex> guard(lock_);
        if (index < 0 || static_cast<size_t>(index) >= items.size() || !items[index]) return;
        path = items[index]->path;
    }
    if (!IsSupportedFile(path.c_str())) return;
    const std::wstring extension = ThumbCache::ExtensionOf(path.c_str());
    // Decoded for display at preview size: a reduced picture serves.
    CxImage image(path.c_str(), ThumbCache::ImageTypeFromExtension(extension.c_str()), true, false);
    if (!image.IsValid() || image.GetWidth() == 0 || image.GetHeight() == 0) return;

    const double ratio = static_cast<double>(image.GetWidth()) / image.GetHeight();
    const double box = static_cast<double>(kHoverPreviewWidth) / kHoverPreviewHeight;
    int width = kHoverPreviewWidth;
    int height = kHoverPreviewHeight;
    if (ratio > box) {
        height = static_cast<int>(kHoverPreviewWidth / ratio);
    } else if (ratio < box) {
        width = static_cast<int>(ratio * kHoverPreviewHeight);
    }
    const int left = kHoverPreviewWidth / 2 - width / 2;
    const int top = kHoverPreviewHeight / 2 - height / 2;

    win::WindowDc screen(nullptr);
    win::UniqueBitmap picture(
        ::CreateCompatibleBitmap(screen.Get(), kHoverPreviewWidth, kHoverPreviewHeight));
    {
        win::MemoryDc memory(::CreateCompatibleDC(screen.Get()));
        win::SelectObjectScope select(memory.Get(), picture.Get());
        const RECT all = {0, 0, kHoverPreviewWidth, kHoverPreviewHeight};
        win::UniqueBrush background(::CreateSolidBrush(kPreviewBackground));
        ::FillRect(memory.Get(), &all, background.Get());
        image.Draw(memory.Get(), left, top, width, height);
    }
    ::SendMessageW(hwndPreview, kSetPreviewBitmap, 0, reinterpret_cast<LPARAM>(picture.Release()));

    // Beside the item, on the side where the screen has room.
    RECT cell = {};
    cell.left = LVIR_SELECTBOUNDS;
    ::SendMessageW(hwndList, LVM_GETITEMRECT, index, reinterpret_cast<LPARAM>(&cell));
    ::MapWindowPoints(hwndList, nullptr, reinterpret_cast<POINT*>(&cell), 2);
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof monitor;
    ::GetMonitorInfoW(::MonitorFromRect(&cell, MONITOR_DEFAULTTONEAREST), &monitor);
    const int outerWidth = kHoverPreviewWidth + 2;
    const int outerHeight = kHoverPreviewHeight + 2;
    int x = cell.right + 4;
    if (x + outerWidth > monitor.rcWork.right) x = cell.left - 4 - outerWidth;
    int y = std::max<int>(monitor.rcWork.top,
                          std::min<int>(cell.top, monitor.rcWork.bottom - outerHeight));
    ::SetWindowPos(hwndPreview, HWND_TOPMOST, x, y, outerWidth, outerHeight,
                   SWP_NOACTIVATE | SWP_SHOWWINDOW);
    hoverIndex = index;
}

void ThumbListCtrl::EndHoverPreview() {
    ::SetWindowPos(hwndPreview, HWND_TOP, 0, 0, 0, 0,
                   SWP_NOSIZE | SWP_NOMOVE | SWP_FRAMECHANGED | SWP_NOCOPYBITS);
    if (mediaKind == 0) ::ShowWindow(hwndPreview, SW_HIDE);
    hoverIndex = -1;
}

LRESULT ThumbListCtrl::OnMouseLeave() {
    if ((styleFlags & TLF_HOVER) && hoverIndex >= 0) EndHoverPreview();
    return 1;
}

// --- Drag and drop -------------------------------------------------------------------------

LRESULT ThumbListCtrl::OnBeginDrag(NMLISTVIEW* drag) {
    if (!(styleFlags & TLF_DRAGDROP)) return 0;
    dragSourceIndex = drag->iItem;
    const POINT hotspot = dragHotspotCentered ? POINT{cellWidth / 2, cellWidth / 2} : POINT{0, 0};
    POINT origin = {};
    dragImages = reinterpret_cast<HIMAGELIST>(::SendMessageW(
        hwndList, LVM_CREATEDRAGIMAGE, dragSourceIndex, reinterpret_cast<LPARAM>(&origin)));
    if (dragImages && GetSelectedCount() > 1) ImageList_Replace(dragImages, 0, nullptr, nullptr);

    {
        std::lock_guard<std::recursive_mutex> guard(lock_);
        ImageList_BeginDrag(thumbImages, ListImage(dragSourceIndex), hotspot.x, hotspot.y);
    }
    POINT start = drag->ptAction;
    ::ClientToScreen(hwndList, &start);
    ImageList_DragEnter(::GetDesktopWindow(), start.x, start.y);

    dragging = true;
    savedCursor = ::GetCursor();
    ::SetCapture(hwndList);
    return 1;
}

LRESULT ThumbListCtrl::OnMouseMove() {
    if (styleFlags & TLF_HOVER) {
        // Hover tracking ends the preview once the pointer leaves its item; drags are not
        // followed in this mode.
        if (hoverIndex >= 0) {
            POINT cursor;
            ::GetCursorPos(&cursor);
            ::ScreenToClient(hwndList, &cursor);
            RECT bounds = {};
            bounds.left = LVIR_SELECTBOUNDS;
            ::SendMessageW(hwndList, LVM_GETITEMRECT, hoverIndex,
                           reinterpret_cast<LPARAM>(&bounds));
            if (!RectContains(bounds, cursor)) EndHoverPreview();
        }
        return 0;
    }
    if (!dragging || !(styleFlags & TLF_DRAGDROP)) return 0;

    POINT screen;
    ::GetCursorPos(&screen);
    ImageList_DragMove(screen.x, screen.y);
    ImageList_DragShowNolock(TRUE);
    const HWND under = WindowUnderCursor(screen);
    if (under == hwndDropTarget && ::GetCursor() != dropCursor)
        savedCursor = ::SetCursor(dropCursor);

    POINT listPoint = screen;
    ::ScreenToClient(hwndList, &listPoint);
    const int index = ItemAt(listPoint);
    if (index >= 0 && hwndDropTarget == hwndList) {
        if (index != dropTargetIndex) {
            ClearDropMarks();
            if (index != dragSourceIndex) SetItemBorder(index, kDropMark, 3);
            dropTargetIndex = index;
        }
    } else if ((under != hwndDropTarget || hwndDropTarget == hwndList) &&
               ::GetCursor() != noDropCursor) {
        ::SetCursor(noDropCursor);
    }

    POINT target = screen;
    ::ScreenToClient(hwndDropTarget, &target);
    ::SendMessageW(::GetParent(hwndContainer), TLM_DRAGOVER, 0, reinterpret_cast<LPARAM>(&target));
    return 0;
}

void ThumbListCtrl::AnimateDragBack(int x, int y) {
    if (abortWork) return;
    RECT source = {};
    source.left = LVIR_SELECTBOUNDS;
    ::SendMessageW(hwndList, LVM_GETITEMRECT, dragSourceIndex, reinterpret_cast<LPARAM>(&source));
    POINT corner = {source.left, source.top};
    ::ClientToScreen(hwndList, &corner);
    for (const POINT& at : DragBackPath({x, y}, corner, dragAnimationStep)) {
        ImageList_DragMove(at.x, at.y);
        ImageList_DragShowNolock(TRUE);
    }
}

LRESULT ThumbListCtrl::OnLButtonUp() {
    if (!dragging || !(styleFlags & TLF_DRAGDROP)) return 0;
    ::ReleaseCapture();
    POINT screen;
    ::GetCursorPos(&screen);
    const HWND under = WindowUnderCursor(screen);
    const bool refused = under != hwndDropTarget || ::GetCursor() == noDropCursor;
    if (refused && dragBackAnimation) AnimateDragBack(screen.x, screen.y);

    dragging = false;
    ImageList_DragShowNolock(FALSE);
    ImageList_DragLeave(::GetDesktopWindow());
    ImageList_EndDrag();
    if (dragImages) ImageList_Destroy(dragImages);
    dragImages = nullptr;
    ::SetCursor(savedCursor);

    const HWND parent = ::GetParent(hwndContainer);
    if (under != hwndDropTarget) {
        if (hwndDropTarget == hwndList) ClearDropMarks();
    } else {
        for (int i = 0; i < GetItemCount(); ++i) {
            if (GetItemBorderColor(i) == kDropMark) SetItemBorder(i, 0, 1);
            DeselectItems(i, -1);
        }
        if (hwndDropTarget == hwndList) {
            POINT listPoint = screen;
            ::ScreenToClient(hwndList, &listPoint);
            if (ItemAt(listPoint) >= 0) {
                const bool swap = ::GetKeyState(VK_CONTROL) < 0;
                if (MoveItem(dragSourceIndex, dropTargetIndex, swap)) {
                    ::SendMessageW(parent, TLM_ITEMMOVED, dragSourceIndex, dropTargetIndex);
                }
                SelectItems(dropTargetIndex, -1);
            }
        } else {
            POINT target = screen;
            ::ScreenToClient(hwndDropTarget, &target);
            ::SendMessageW(parent, TLM_DROP, reinterpret_cast<WPARAM>(&target), dragSourceIndex);
        }
    }
    dragSourceIndex = -1;
    dropTargetIndex = -1;
    return 0;
}

bool ThumbListCtrl::MoveItem(int from, int to, bool swap) {
    if (from == to || from < 0 || to < 0) return false;
    {
        std::lock_guard<std::recursive_mutex> guard(lock_);
        // A position past the records refuses the whole move: the images stay put as well.
        if (static_cast<size_t>(from) >= items.size() || static_cast<size_t>(to) >= items.size())
            return false;
        const std::vector<ThumbItem*> before = items;
        ThumbItem* moving = items[from];
        items.erase(items.begin() + from);
        items.insert(items.begin() + to, moving);
        if (swap) {
            const int displaced = from < to ? to - 1 : to + 1;
            ThumbItem* other = items[displaced];
            items.erase(items.begin() + displaced);
            items.insert(items.begin() + from, other);
        }
        // A running display loop goes on with the same records wherever they now stand.
        FollowRecordsLocked(before);
    }

    // Each thumbnail stays with its record: the list items' image indices move along.
    const auto imageOf = [this](int index) { return ListImage(index); };
    const auto setImage = [this](int index, int image) { SetListImage(index, image); };
    if (swap) {
        const int a = imageOf(from);
        setImage(from, imageOf(to));
        setImage(to, a);
    } else {
        const int remembered = imageOf(from);
        if (to < from) {
            for (int i = from; i > to; --i) setImage(i, imageOf(i - 1));
        } else {
            for (int i = from; i < to; ++i) setImage(i, imageOf(i + 1));
        }
        setImage(to, remembered);
    }
    ::SendMessageW(hwndList, LVM_REDRAWITEMS, std::min(from, to), std::max(from, to));
    return true;
}

LRESULT ThumbListCtrl::OnDropFile(WPARAM pointer, LPARAM path) {
    if (!pointer || !path) return 0;
    const POINT at = *reinterpret_cast<const POINT*>(pointer);
    InsertFile(reinterpret_cast<const wchar_t*>(path), ItemAt(at), true, false);
    const int count = GetItemCount();
    for (int i = 0; i < count; ++i) SetItemBorder(i, 0, 1);
    return 1;
}

LRESULT ThumbListCtrl::OnDragOver(LPARAM pointer) {
    if (!pointer) return 0;
    const int index = ItemAt(*reinterpret_cast<const POINT*>(pointer));
    if (index >= 0) {
        const int count = GetItemCount();
        for (int i = 0; i < count; ++i) SetItemBorder(i, 0, 1);
        SetItemBorder(index, kDropMark, 3);
    }
    return 1;
}
