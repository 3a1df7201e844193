// Window classes, creation, layout and teardown of the thumbnail control.
#include "thumblist/ThumbListCtrl.h"

#include "base/Dpi.h"
#include "base/Trace.h"

#include <shlwapi.h>

#include <cwchar>

namespace {

constexpr wchar_t kContainerClass[] = L"Quillo_Custom_ListView_Container";
constexpr wchar_t kListClass[] = L"Quillo_Custom_ListView77";

WNDPROC g_systemListProc = nullptr;

HINSTANCE ModuleInstance() {
    return ::GetModuleHandleW(nullptr);
}

// "Error # : %u\nMsg : %s" for the last system error; it goes to the trace hook only.
void TraceLastError() {
    const DWORD code = ::GetLastError();
    wchar_t* message = nullptr;
    ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0x400, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
    Trace(L"Error # : %u\nMsg : %s", code, message ? message : L"");
    if (message) ::LocalFree(message);
}

}  // namespace

LRESULT CALLBACK ContainerWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    // A window procedure is a boundary: nothing may escape it.
    try {
        if (message == WM_NCCREATE) {
            const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
            ::SetWindowLongPtrW(window, 0, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
            return TRUE;
        }
        auto* control = reinterpret_cast<ThumbListCtrl*>(::GetWindowLongPtrW(window, 0));
        if (!control) return ::DefWindowProcW(window, message, wParam, lParam);
        return control->HandleContainerMessage(window, message, wParam, lParam);
    } catch (...) {
        return 0;
    }
}

LRESULT CALLBACK ListWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    try {
        switch (message) {
            case WM_KILLFOCUS:
                return 1;  // the selection keeps its focused look
            case WM_LBUTTONDOWN:
            case WM_RBUTTONDOWN:
            case WM_LBUTTONDBLCLK:
                // Having missed its WM_KILLFOCUS, the list view believes it still has the
                // focus and would not take it on a click: it is given the keyboard here.
                if (::GetFocus() != window) ::SetFocus(window);
                break;
            case WM_HSCROLL:
            case WM_VSCROLL:
            case WM_MOUSEMOVE:
            case WM_LBUTTONUP:
            case WM_MOUSELEAVE:
                ::SendMessageW(::GetParent(window), message, wParam, lParam);
                break;
            default:
                break;
        }
        return ::CallWindowProcW(g_systemListProc, window, message, wParam, lParam);
    } catch (...) {
        return 0;
    }
}

bool RegisterThumbListClasses() {
    INITCOMMONCONTROLSEX init = {};
    init.dwSize = sizeof init;
    init.dwICC = 0xFF;
    ::InitCommonControlsEx(&init);

    // One pointer-sized slot holds the control (the original four bytes cannot hold a
    // 64-bit pointer).
    WNDCLASSEXW container = {};
    container.cbSize = sizeof container;
    container.style = CS_DBLCLKS;
    container.lpfnWndProc = ContainerWndProc;
    container.cbWndExtra = sizeof(void*);
    container.hInstance = ModuleInstance();
    container.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    container.lpszClassName = kContainerClass;
    const bool registered = ::RegisterClassExW(&container) != 0;

    WNDCLASSEXW list = {};
    list.cbSize = sizeof list;
    if (::GetClassInfoExW(nullptr, WC_LISTVIEWW, &list)) {
        g_systemListProc = list.lpfnWndProc;
        list.cbSize = sizeof list;
        list.style |= CS_OWNDC | CS_SAVEBITS;
        list.hInstance = ModuleInstance();
        list.lpfnWndProc = ListWndProc;
        list.lpszClassName = kListClass;
        ::RegisterClassExW(&list);
    }
    RegisterHoverPreviewClass();
    return registered;
}

bool WriteBitmapFile(const wchar_t* path, const void* bits, DWORD size) {
    const auto* bytes = static_cast<const uint8_t*>(bits);
    const auto u16 = [&](size_t at) {
        return at + 2 <= size ? uint32_t(bytes[at] | bytes[at + 1] << 8) : 0u;
    };
    const auto u32 = [&](size_t at) { return at + 4 <= size ? u16(at) | u16(at + 2) << 16 : 0u; };

    const uint32_t headerSize = u32(0);
    uint32_t colours = 0;
    uint32_t tableSize = 0;
    if (headerSize == 12) {
        const uint32_t bitCount = u16(10);
        colours = bitCount <= 8 ? (1u << bitCount) & 0xFFFF : 0;
        tableSize = colours * 3;
    } else {
        const uint32_t bitCount = u16(14);
        colours = u32(32) ? u32(32) : (bitCount <= 8 ? 1u << bitCount : 0);
        colours &= 0xFFFF;
        tableSize = u32(16) == BI_BITFIELDS ? colours * 4 + 12 : colours * 4;
    }

    uint8_t header[14] = {'B', 'M'};
    const uint32_t fileSize = size + 14;
    const uint32_t pixelOffset = 14 + headerSize + tableSize;
    for (int i = 0; i < 4; ++i) {
        header[2 + i] = static_cast<uint8_t>(fileSize >> (8 * i));
        header[10 + i] = static_cast<uint8_t>(pixelOffset >> (8 * i));
    }

    ::SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileW(path);
    win::UniqueHandle file(::CreateFileW(path, GENERIC_READ | GENERIC_WRITE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    ::WriteFile(file.Get(), header, sizeof header, &written, nullptr);
    ::WriteFile(file.Get(), bits, size, &written, nullptr);
    file.Reset();
    ::SetFileAttributesW(path, FILE_ATTRIBUTE_SYSTEM);
    return true;
}

HWND ThumbListCtrl::Create(HWND parent, HWND placeholder, const ThumbListParams& params,
                           const wchar_t* cachePath, int mode) {
    if (!::IsWindow(parent)) {
        ReportError(L"There seems to be some problem with parent window.");
        return nullptr;
    }
    if (!::IsWindow(placeholder)) {
        ReportError(L"There seems to be some problem with frame window.");
        return nullptr;
    }
    if (params.iconId == -1) {
        placeholderIcon = ::LoadIconW(nullptr, IDI_ASTERISK);
    } else {
        placeholderIcon = ::LoadIconW(ModuleInstance(), MAKEINTRESOURCEW(params.iconId & 0xFFFF));
    }
    mediaKind = params.mediaKind;
    cacheMode = mode;

    const std::wstring path = cachePath ? cachePath : L"";
    const size_t slash = path.rfind(L'\\');
    const std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    if (name.size() >= std::size(cacheName)) {
        ReportError(L"Cache name too long.");
        return nullptr;
    }
    if (cacheMode == Database) {
        const std::wstring databaseFolder =
            slash == std::wstring::npos ? L"" : path.substr(0, slash);
        if (databaseFolder.empty()) {
            ReportError(L"Set Global Database Path.");
            return nullptr;
        }
        if (databaseFolder.size() >= std::size(folder)) {
            ReportError(L"Database path too long.");
            return nullptr;
        }
        std::wcscpy(folder, databaseFolder.c_str());
    }

    styleFlags = params.styleFlags;
    bkColor = params.bkColor;
    bkBitmapId = params.bkBitmapId;
    cellColor = params.cellColor;
    captionColor = params.captionColor;
    selectedColor = params.selectedColor;
    SetFileTypes(params.fileTypes, false);

    thumbWidth = params.thumbWidth;
    thumbHeight = params.thumbHeight;
    const int cell96 = std::max(thumbWidth + 8, thumbHeight + 8);
    if (cell96 < 64 || cell96 > 108) {
        ReportError(L"Width or Hieght cannot be < 64 ot > 100.");
        return nullptr;
    }
    dpi_ = params.dpi ? params.dpi : ui::DpiOf(parent);
    cellWidth = cellHeight = ui::Scale(cell96, dpi_);

    RECT frame;
    ::GetWindowRect(placeholder, &frame);
    POINT corner = {frame.left, frame.top};
    ::ScreenToClient(parent, &corner);
    ctrlId = ::GetDlgCtrlID(placeholder);

    const bool thin = styleFlags & TLF_THINBORDER;
    hwndContainer = ::CreateWindowExW(
        thin ? 0 : WS_EX_CLIENTEDGE, kContainerClass, nullptr,
        WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | (thin ? WS_BORDER : 0),
        corner.x, corner.y, frame.right - frame.left + 10, frame.bottom - frame.top, parent,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(ctrlId)), ModuleInstance(), this);
    if (!hwndContainer) {
        ReportError(L"Window Creation failed");
        return nullptr;
    }
    std::wcscpy(cacheName, name.c_str());
    ::DestroyWindow(placeholder);
    reserved = params.reserved;
    return hwndContainer;
}

LRESULT ThumbListCtrl::HandleContainerMessage(HWND window, UINT message, WPARAM wParam,
                                              LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            return OnCreate(window);
        case WM_DESTROY:
            OnDestroy();
            return 0;
        case WM_SIZE:
            OnSize(LOWORD(lParam), HIWORD(lParam));
            return 0;
        case WM_ERASEBKGND:
            return 1;
        case WM_NOTIFY:
            return OnNotify(reinterpret_cast<NMHDR*>(lParam));
        case WM_HSCROLL:
        case WM_VSCROLL:
            return OnScroll(wParam);
        case WM_MOUSEMOVE:
            return OnMouseMove();
        case WM_LBUTTONUP:
            return OnLButtonUp();
        case WM_MOUSELEAVE:
            return OnMouseLeave();
        case TLM_DROP:
            return OnDropFile(wParam, lParam);
        case TLM_DRAGOVER:
            return OnDragOver(lParam);
        default:
            return ::DefWindowProcW(window, message, wParam, lParam);
    }
}

int ThumbListCtrl::MeasureLabelHeight() {
    LVITEMW item = {};
    item.mask = LVIF_IMAGE;
    ::SendMessageW(hwndList, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    RECT label = {};
    label.left = LVIR_LABEL;
    ::SendMessageW(hwndList, LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&label));
    ::SendMessageW(hwndList, LVM_DELETEALLITEMS, 0, 0);
    return label.bottom - label.top;
}

LRESULT ThumbListCtrl::OnCreate(HWND container) {
    hwndContainer = container;
    RECT client;
    ::GetClientRect(container, &client);
    int top = 0;
    if (styleFlags & TLF_HEADER) {
        hwndHeader = CreateHeader();
        ::UpdateWindow(hwndHeader);
        InsertColumns();
        RECT header = {};
        ::GetClientRect(hwndHeader, &header);
        top = header.bottom;
    }

    DWORD style = WS_CHILD | WS_VISIBLE | LVS_ICON | LVS_NOLABELWRAP | LVS_NOCOLUMNHEADER;
    if (styleFlags & TLF_SINGLESEL) style |= LVS_SINGLESEL;
    if (styleFlags & TLF_HORIZONTAL) style |= LVS_ALIGNLEFT;
    hwndList = ::CreateWindowExW(WS_EX_RTLREADING, kListClass, L"", style, 0, top, client.right,
                                 client.bottom - top, container,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(ctrlId + 257)),
                                 ModuleInstance(), nullptr);
    if (!hwndList) {
        TraceLastError();
        return 1;
    }
    SetBkColor(bkColor);
    SetBkBitmap(bkBitmapId, true);

    // Old common controls need to be told to behave as version 5.
    if (HMODULE comctl = ::LoadLibraryW(L"Comctl32.dll")) {
        DLLVERSIONINFO version = {};
        version.cbSize = sizeof version;
        using GetVersionFn = HRESULT(CALLBACK*)(DLLVERSIONINFO*);
        if (auto get = reinterpret_cast<GetVersionFn>(
                reinterpret_cast<void*>(::GetProcAddress(comctl, "DllGetVersion")))) {
            get(&version);
        }
        ::FreeLibrary(comctl);
        if (version.dwMajorVersion < 4 && version.dwMinorVersion < 70) {
            ::SendMessageW(hwndList, CCM_SETVERSION, 5, 0);
        }
    }

    const unsigned dpi = dpi_.load();
    const int spacing = CellPitch();
    ::SendMessageW(hwndList, LVM_SETICONSPACING, 0, MAKELPARAM(spacing, spacing));
    labelHeight_ = MeasureLabelHeight();
    cellImages = ImageList_Create(cellWidth, cellHeight - labelHeight_ - ui::Scale(4, dpi),
                                  ILC_COLOR32, 0, 1);
    ::SendMessageW(hwndList, LVM_SETIMAGELIST, LVSIL_NORMAL, reinterpret_cast<LPARAM>(cellImages));
    // Thumbnails are cached at thumbWidth x thumbHeight and shown at the control's DPI.
    thumbImages = ImageList_Create(ui::Scale(thumbWidth, dpi), ui::Scale(thumbHeight, dpi),
                                   ILC_COLOR32 | ILC_MASK, 0, 1);
    ImageList_SetBkColor(thumbImages, 0xFFFFFF);

    dragImages = nullptr;
    ::SendMessageW(hwndList, LVM_SETITEMCOUNT, 0, 0);
    ::UpdateWindow(hwndList);

    MakeCaptionFont();

    DWORD extended =
        static_cast<DWORD>(::SendMessageW(hwndList, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
    if (styleFlags & TLF_INFOTIPS) {
        extended |= LVS_EX_INFOTIP;
        ::SendMessageW(hwndList, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, extended);
        hwndToolTip = reinterpret_cast<HWND>(::SendMessageW(hwndList, LVM_GETTOOLTIPS, 0, 0));
        if (hwndToolTip) ::SetWindowLongW(hwndToolTip, GWL_STYLE, TTS_BALLOON);
    }
    if (styleFlags & TLF_HOVER) {
        ::SendMessageW(hwndList, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, extended | LVS_EX_TRACKSELECT);
        ::SendMessageW(hwndList, LVM_SETHOVERTIME, 0, 100);
    }
    if (mediaKind == 1) {
        hwndPreview =
            ::CreateWindowExW(0, L"static", L"", WS_CHILD | WS_VISIBLE | WS_DISABLED, 0, 0, 0, 0,
                              hwndList, reinterpret_cast<HMENU>(1), ModuleInstance(), nullptr);
    } else if (styleFlags & TLF_HOVER) {
        hwndPreview = CreateHoverPreviewWindow(hwndList);
    }
    if (styleFlags & TLF_DRAGDROP) {
        dropCursor = ::LoadCursorW(nullptr, IDC_UPARROW);
        noDropCursor = ::LoadCursorW(nullptr, IDC_NO);
    }

    monitorThread = nullptr;
    scanRequestEvent = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    stopEvent = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    listReadyEvent = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    itemsBuiltEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetDropTarget(nullptr);
    return 0;
}

void ThumbListCtrl::MakeCaptionFont() {
    if (captionFont) ::DeleteObject(captionFont);
    captionFont = ::CreateFontW(-ui::Scale(11, dpi_.load()), 0, 0, 0, 500, FALSE, FALSE, FALSE, 0,
                                OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                DEFAULT_PITCH, L"Arial");
    if (!captionFont) TraceLastError();
}

HWND ThumbListCtrl::CreateHeader() {
    HWND header = ::CreateWindowExW(
        0, WC_HEADERW, nullptr, WS_CHILD | HDS_BUTTONS | HDS_HOTTRACK | HDS_DRAGDROP | HDS_FULLDRAG,
        0, 0, 0, 0, hwndContainer, reinterpret_cast<HMENU>(static_cast<INT_PTR>(ctrlId + 256)),
        ModuleInstance(), nullptr);
    if (!header) return nullptr;
    RECT client;
    ::GetClientRect(hwndContainer, &client);
    WINDOWPOS position = {};
    HDLAYOUT layout = {&client, &position};
    if (!::SendMessageW(header, HDM_LAYOUT, 0, reinterpret_cast<LPARAM>(&layout))) return nullptr;
    ::SetWindowPos(header, position.hwndInsertAfter, position.x, position.y, position.cx,
                   position.cy, position.flags | SWP_SHOWWINDOW);
    ::SendMessageW(header, WM_SETFONT, reinterpret_cast<WPARAM>(::GetStockObject(DEFAULT_GUI_FONT)),
                   TRUE);
    return header;
}

void ThumbListCtrl::InsertColumns() {
    RECT client = {};
    ::GetClientRect(hwndHeader, &client);
    const wchar_t* names[] = {L"Name", L"Date", L"Type", L"Size"};
    for (int i = 0; i < 4; ++i) {
        HDITEMW column = {};
        column.mask = HDI_WIDTH | HDI_TEXT | HDI_FORMAT;
        column.fmt = HDF_LEFT;
        column.cxy = client.right / 4;
        column.pszText = const_cast<wchar_t*>(names[i]);
        ::SendMessageW(hwndHeader, HDM_INSERTITEMW, i, reinterpret_cast<LPARAM>(&column));
    }
    ::UpdateWindow(hwndHeader);
}

void ThumbListCtrl::OnSize(int width, int height) {
    if (!hwndList) return;
    RECT headerRect = {};
    if (hwndHeader) ::GetClientRect(hwndHeader, &headerRect);
    ::SetWindowPos(hwndList, nullptr, 0, 0, width, height - headerRect.bottom,
                   SWP_NOMOVE | SWP_NOZORDER);

    const bool empty = ::SendMessageW(hwndList, LVM_GETITEMCOUNT, 0, 0) == 0;
    if (empty) {
        LVITEMW item = {};
        item.mask = LVIF_IMAGE;
        ::SendMessageW(hwndList, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    }
    RECT bounds = {};
    bounds.left = LVIR_BOUNDS;
    ::SendMessageW(hwndList, LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&bounds));
    const int pitch = bounds.right;
    if (empty) ::SendMessageW(hwndList, LVM_DELETEALLITEMS, 0, 0);

    RECT client;
    ::GetClientRect(hwndList, &client);
    SCROLLINFO info = {};
    info.cbSize = sizeof info;
    info.fMask = SIF_ALL;
    const int line = CellPitch();
    const unsigned dpi = dpi_.load();
    const int usableHeight =
        ::GetScrollInfo(hwndList, SB_HORZ, &info)
            ? client.bottom
            : client.bottom - ui::SystemMetric(SM_CYHSCROLL, dpi) - ui::Scale(2, dpi);
    const int usableWidth =
        ::GetScrollInfo(hwndList, SB_VERT, &info)
            ? client.right
            : client.right - ui::SystemMetric(SM_CXVSCROLL, dpi) - ui::Scale(2, dpi);
    visibleRows = usableHeight >= line ? usableHeight / line : 0;
    visibleColumns = pitch > 0 && usableWidth >= pitch ? usableWidth / pitch : 0;
    Trace(L"No of colums adjusted %d\n", visibleColumns.load());

    RECT work = {0, 0, visibleColumns.load() * pitch, client.bottom};
    ::SendMessageW(hwndList, LVM_SETWORKAREAS, 1, reinterpret_cast<LPARAM>(&work));
    const LRESULT count = ::SendMessageW(hwndList, LVM_GETITEMCOUNT, 0, 0);
    if (count > 0) ::SendMessageW(hwndList, LVM_REDRAWITEMS, 0, count - 1);
}

void ThumbListCtrl::OnDestroy() {
    // The monitor is waited for as well: it ends at once once it sees the stop request, and
    // the control must not be destroyed while it still runs.
    StopWork();
    ::SetEvent(stopEvent);
    ::SetEvent(scanRequestEvent);
    if (monitorThread) {
        ::WaitForSingleObject(monitorThread, INFINITE);
        ::CloseHandle(monitorThread);
        monitorThread = nullptr;
    }
    pool_.reset();  // no loop is left to use it; decodes under way end first
    if (hwndPreview && ::IsWindow(hwndPreview))
        ::DestroyWindow(hwndPreview);  // a popup: not a child
    hwndPreview = nullptr;
    if (thumbImages) ImageList_Destroy(thumbImages);
    if (cellImages) ImageList_Destroy(cellImages);
    thumbImages = cellImages = nullptr;
    if (captionFont) ::DeleteObject(captionFont);
    captionFont = nullptr;
    // Icons loaded from resources are shared and need no release.
    placeholderIcon = nullptr;
    for (HANDLE* event : {&stopEvent, &scanRequestEvent, &listReadyEvent, &itemsBuiltEvent}) {
        if (*event) ::CloseHandle(*event);
        *event = nullptr;
    }
    hwndList = hwndHeader = hwndToolTip = nullptr;
    hwndContainer = nullptr;  // the handle value may soon name another window
}

void ThumbListCtrl::SetBkColor(COLORREF color) {
    bkColor = color;
    ::SendMessageW(hwndList, LVM_SETBKCOLOR, 0,
                   (styleFlags & TLF_BKCOLOR) ? color : ::GetSysColor(COLOR_WINDOW));
    ::InvalidateRect(hwndList, nullptr, TRUE);
}

LRESULT ThumbListCtrl::SetBkBitmap(int resourceId, bool tile) {
    if (!(styleFlags & TLF_BKBITMAP) || resourceId == -1) return 0;
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    wchar_t path[MAX_PATH] = {};
    if (!::PathCombineW(path, temp, L"_tBack.bmp")) return 0;
    if (HRSRC resource =
            ::FindResourceW(ModuleInstance(), MAKEINTRESOURCEW(resourceId), RT_BITMAP)) {
        if (HGLOBAL loaded = ::LoadResource(ModuleInstance(), resource)) {
            WriteBitmapFile(path, ::LockResource(loaded),
                            ::SizeofResource(ModuleInstance(), resource));
        }
    }
    LVBKIMAGEW image = {};
    image.ulFlags = LVBKIF_SOURCE_URL | (tile ? LVBKIF_STYLE_TILE : 0);
    image.pszImage = path;
    image.cchImageMax = static_cast<UINT>(std::wcslen(path));
    const LRESULT result =
        ::SendMessageW(hwndList, LVM_SETBKIMAGEW, 0, reinterpret_cast<LPARAM>(&image));
    ::InvalidateRect(hwndList, nullptr, TRUE);
    return result;
}

void ThumbListCtrl::SetDropTarget(HWND window) {
    hwndDropTarget = window ? window : hwndList;
}
