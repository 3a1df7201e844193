// Creating the control over a placeholder, its windows and styles, and the layout that decides
// how many rows and columns of cells are visible.
#include "thumblist/ThumbListCtrl.h"

#include "Canvas.h"
#include "ControlFixture.h"
#include "base/Trace.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

using testing_support::Canvas;
using testing_support::ControlHost;
using testing_support::HostedControl;
using testing_support::TempDir;

// Collects the control's error reports and trace lines while it lives.
class Diagnostics {
public:
    Diagnostics() {
        SetErrorSink([this](const std::wstring& text) { errors.push_back(text); });
        SetTraceSink([this](const std::wstring& line) { traces.push_back(line); });
    }
    ~Diagnostics() {
        SetErrorSink({});
        SetTraceSink({});
    }
    Diagnostics(const Diagnostics&) = delete;
    Diagnostics& operator=(const Diagnostics&) = delete;

    std::vector<std::wstring> errors;
    std::vector<std::wstring> traces;
};

// Refuses the creation of every window of one class on this thread while it lives.
class RefuseWindowClass {
public:
    explicit RefuseWindowClass(const wchar_t* className) {
        refused_ = className;
        hook_ = ::SetWindowsHookExW(WH_CBT, &Hook, nullptr, ::GetCurrentThreadId());
    }
    ~RefuseWindowClass() { ::UnhookWindowsHookEx(hook_); }
    RefuseWindowClass(const RefuseWindowClass&) = delete;
    RefuseWindowClass& operator=(const RefuseWindowClass&) = delete;

private:
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam) {
        if (code == HCBT_CREATEWND) {
            wchar_t name[128] = {};
            ::GetClassNameW(reinterpret_cast<HWND>(wParam), name, 128);
            if (refused_ == name) return 1;
        }
        return ::CallNextHookEx(nullptr, code, wParam, lParam);
    }
    static inline std::wstring refused_;
    HHOOK hook_ = nullptr;
};

RECT RectInParent(HWND window) {
    RECT rect;
    ::GetWindowRect(window, &rect);
    ::MapWindowPoints(nullptr, ::GetParent(window), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

RECT ClientOf(HWND window) {
    RECT rect = {};
    ::GetClientRect(window, &rect);
    return rect;
}

// Resizes the container so that its client area is `width` x `height`.
void SetContainerClient(HWND container, int width, int height) {
    RECT window;
    ::GetWindowRect(container, &window);
    const RECT client = ClientOf(container);
    const int frameX = (window.right - window.left) - client.right;
    const int frameY = (window.bottom - window.top) - client.bottom;
    ::SetWindowPos(container, nullptr, 0, 0, width + frameX, height + frameY,
                   SWP_NOMOVE | SWP_NOZORDER);
}

int ChildCount(HWND parent) {
    int count = 0;
    for (HWND child = ::GetWindow(parent, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT))
        ++count;
    return count;
}

// COM lives on the user-interface thread while any control does, whichever control goes last.
TEST(ThumbListCreate, TheLastControlToGoEndsCom) {
    HRESULT afterwards = E_FAIL;
    std::thread([&] {
        auto first = std::make_unique<ThumbListCtrl>();
        auto second = std::make_unique<ThumbListCtrl>();
        first.reset();
        second.reset();
        afterwards = ::CoInitialize(nullptr);  // S_FALSE: still initialised
        if (SUCCEEDED(afterwards)) ::CoUninitialize();
    }).join();
    EXPECT_EQ(afterwards, S_OK);
}

TEST(ThumbListCreate, RefusesAParentOrPlaceholderThatIsNoWindow) {
    ControlHost host(400, 300, {10, 10, 200, 150}, false);
    {
        Diagnostics diagnostics;
        ThumbListCtrl control;
        EXPECT_EQ(control.Create(nullptr, host.Placeholder(), ControlHost::DialogParams(),
                                 L"_thumbs", Folder),
                  nullptr);
        EXPECT_EQ(diagnostics.errors,
                  std::vector<std::wstring>{L"There seems to be some problem with parent window."});
    }
    {
        Diagnostics diagnostics;
        ThumbListCtrl control;
        EXPECT_EQ(control.Create(host.Window(), reinterpret_cast<HWND>(0x1234),
                                 ControlHost::DialogParams(), L"_thumbs", Folder),
                  nullptr);
        EXPECT_EQ(diagnostics.errors,
                  std::vector<std::wstring>{L"There seems to be some problem with frame window."});
    }
    EXPECT_TRUE(::IsWindow(host.Placeholder()));
    EXPECT_EQ(ChildCount(host.Window()), 1);
}

TEST(ThumbListCreate, OnlyTheLargerThumbnailSideDecidesTheCell) {
    struct Case {
        int width, height;
        int cell;  // 0: refused
    };
    for (const Case& c : {Case{100, 100, 108}, Case{101, 50, 0}, Case{56, 10, 64}, Case{10, 56, 64},
                          Case{55, 55, 0}, Case{100, 20, 108}}) {
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
        Diagnostics diagnostics;
        ControlHost host(400, 300, {10, 10, 300, 200}, false);
        ThumbListCtrl control;
        ThumbListParams params = ControlHost::DialogParams();
        params.thumbWidth = c.width;
        params.thumbHeight = c.height;
        const HWND container =
            control.Create(host.Window(), host.Placeholder(), params, L"_thumbs", Folder);
        if (c.cell == 0) {
            EXPECT_EQ(container, nullptr);
            EXPECT_EQ(diagnostics.errors,
                      std::vector<std::wstring>{L"Width or Hieght cannot be < 64 ot > 100."});
            EXPECT_TRUE(::IsWindow(host.Placeholder()));
            continue;
        }
        ASSERT_NE(container, nullptr);
        EXPECT_TRUE(diagnostics.errors.empty());
        EXPECT_EQ(control.CellSize(), c.cell);
        // The thumbnails keep their own size; the list spaces its cells one cell and 4 pixels
        // apart.
        int iconWidth = 0, iconHeight = 0;
        ImageList_GetIconSize(control.ThumbImages(), &iconWidth, &iconHeight);
        EXPECT_EQ(iconWidth, c.width);
        EXPECT_EQ(iconHeight, c.height);
        const DWORD spacing =
            static_cast<DWORD>(::SendMessageW(control.ListWindow(), LVM_GETITEMSPACING, FALSE, 0));
        EXPECT_EQ(LOWORD(spacing), c.cell + 4);
        EXPECT_EQ(HIWORD(spacing), c.cell + 4);
        ::DestroyWindow(container);
    }
}

TEST(ThumbListCreate, DatabaseModeNeedsAFolderInTheCachePath) {
    {
        Diagnostics diagnostics;
        ControlHost host(400, 300, {10, 10, 300, 200}, false);
        ThumbListCtrl control;
        EXPECT_EQ(control.Create(host.Window(), host.Placeholder(), ControlHost::DialogParams(),
                                 L"_thumbs", Database),
                  nullptr);
        EXPECT_EQ(diagnostics.errors, std::vector<std::wstring>{L"Set Global Database Path."});
        EXPECT_TRUE(::IsWindow(host.Placeholder()));
    }
    {
        TempDir temp;
        testing_support::WriteSolidBmp(temp / "a.bmp", 20, 20, {1, 2, 3});
        Diagnostics diagnostics;
        ControlHost host(400, 300, {10, 10, 300, 200}, false);
        ThumbListCtrl control;
        const std::wstring cachePath = temp.Wide() + L"\\_thumbs";
        const HWND container =
            control.Create(host.Window(), host.Placeholder(), ControlHost::DialogParams(),
                           cachePath.c_str(), Database);
        ASSERT_NE(container, nullptr);
        EXPECT_TRUE(diagnostics.errors.empty());
        // A database control lists categories, never folders.
        EXPECT_EQ(control.SetFolder(temp.Wide().c_str(), false), -1);
        EXPECT_EQ(control.GetItemCount(), 0);
        ::DestroyWindow(container);
    }
}

TEST(ThumbListCreate, ReportsAContainerThatCannotBeCreated) {
    Diagnostics diagnostics;
    ControlHost host(400, 300, {10, 10, 300, 200}, false);
    ThumbListCtrl control;
    {
        RefuseWindowClass refuse(L"Quillo_Custom_ListView_Container");
        EXPECT_EQ(control.Create(host.Window(), host.Placeholder(), ControlHost::DialogParams(),
                                 L"_thumbs", Folder),
                  nullptr);
    }
    EXPECT_EQ(diagnostics.errors, std::vector<std::wstring>{L"Window Creation failed"});
    EXPECT_TRUE(::IsWindow(host.Placeholder()));
}

TEST(ThumbListCreate, AContainerWhoseListFailsStaysEmpty) {
    Diagnostics diagnostics;
    ControlHost host(400, 300, {10, 10, 300, 200}, false);
    ThumbListCtrl control;
    HWND container = nullptr;
    {
        RefuseWindowClass refuse(L"Quillo_Custom_ListView77");
        container = control.Create(host.Window(), host.Placeholder(), ControlHost::DialogParams(),
                                   L"_thumbs", Folder);
    }
    ASSERT_NE(container, nullptr);
    EXPECT_EQ(control.ListWindow(), nullptr);
    EXPECT_EQ(ChildCount(container), 0);
    // Nothing reaches the user; the system's reason goes to the trace.
    EXPECT_TRUE(diagnostics.errors.empty());
    bool traced = false;
    for (const std::wstring& line : diagnostics.traces) traced |= line.rfind(L"Error # : ", 0) == 0;
    EXPECT_TRUE(traced);
    ::DestroyWindow(container);
}

TEST(ThumbListCreate, CacheFilesAreNamedAfterTheLastComponentOfTheCachePath) {
    TempDir temp;
    testing_support::WriteSolidBmp(temp / "a.bmp", 30, 20, {200, 10, 10});
    ControlHost host(400, 300, {10, 10, 300, 200}, false);
    ThumbListCtrl control;
    const HWND container =
        control.Create(host.Window(), host.Placeholder(), ControlHost::DialogParams(),
                       L"C:\\elsewhere\\pictures", Folder);
    ASSERT_NE(container, nullptr);
    ASSERT_EQ(control.SetFolder(temp.Wide().c_str(), false), 1);
    ASSERT_TRUE(testing_support::WaitForThumbnails(control));
    ::DestroyWindow(container);
    EXPECT_TRUE(std::filesystem::exists(temp / "pictures.ctl"));
    EXPECT_FALSE(std::filesystem::exists(temp / "_thumbs.ctl"));
}

TEST(ThumbListLayout, TheContainerTakesThePlaceholdersPlaceAndId) {
    ControlHost host(500, 400, {30, 20, 430, 260}, false);
    const HWND placeholder = host.Placeholder();
    ThumbListCtrl control;
    const HWND container =
        control.Create(host.Window(), placeholder, ControlHost::DialogParams(), L"_thumbs", Folder);
    ASSERT_NE(container, nullptr);
    EXPECT_EQ(control.ContainerWindow(), container);
    EXPECT_FALSE(::IsWindow(placeholder));
    EXPECT_EQ(::GetParent(container), host.Window());
    EXPECT_EQ(::GetDlgCtrlID(container), 1000);
    const RECT placed = RectInParent(container);
    EXPECT_EQ(placed.left, 30);
    EXPECT_EQ(placed.top, 20);
    EXPECT_EQ(placed.right - placed.left, 410);
    EXPECT_EQ(placed.bottom - placed.top, 240);

    wchar_t className[64] = {};
    ::GetClassNameW(container, className, 64);
    EXPECT_STREQ(className, L"Quillo_Custom_ListView_Container");
    EXPECT_EQ(static_cast<DWORD>(::GetWindowLongW(container, GWL_STYLE)),
              DWORD{WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN});
    EXPECT_TRUE(::GetWindowLongW(container, GWL_EXSTYLE) & WS_EX_CLIENTEDGE);

    // The dialog's flags: a horizontal, single-selection list filling the container.
    const HWND list = control.ListWindow();
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(::GetParent(list), container);
    EXPECT_EQ(::GetDlgCtrlID(list), 1257);
    ::GetClassNameW(list, className, 64);
    EXPECT_STREQ(className, L"Quillo_Custom_ListView77");
    const DWORD style = static_cast<DWORD>(::GetWindowLongW(list, GWL_STYLE));
    EXPECT_EQ(style & (WS_CHILD | WS_VISIBLE), DWORD{WS_CHILD | WS_VISIBLE});
    EXPECT_EQ(style & LVS_TYPEMASK, DWORD{LVS_ICON});
    EXPECT_EQ(style & (LVS_NOLABELWRAP | LVS_NOCOLUMNHEADER | LVS_SINGLESEL | LVS_ALIGNLEFT),
              DWORD{LVS_NOLABELWRAP | LVS_NOCOLUMNHEADER | LVS_SINGLESEL | LVS_ALIGNLEFT});
    EXPECT_TRUE(::GetWindowLongW(list, GWL_EXSTYLE) & WS_EX_RTLREADING);
    const RECT listRect = RectInParent(list);
    const RECT client = ClientOf(container);
    EXPECT_EQ(listRect.left, 0);
    EXPECT_EQ(listRect.top, 0);
    EXPECT_EQ(listRect.right, client.right);
    EXPECT_EQ(listRect.bottom, client.bottom);
    EXPECT_EQ(control.HeaderWindow(), nullptr);
    EXPECT_EQ(::GetDlgItem(container, 1256), nullptr);
    ::DestroyWindow(container);
}

TEST(ThumbListLayout, FlagsChooseBorderSelectionAndAlignment) {
    ThumbListParams params = ControlHost::DialogParams();
    params.styleFlags = TLF_THINBORDER;
    HostedControl hosted(params, 300, 200);
    ASSERT_NE(hosted.container, nullptr);
    EXPECT_EQ(static_cast<DWORD>(::GetWindowLongW(hosted.container, GWL_STYLE)),
              DWORD{WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | WS_BORDER});
    EXPECT_FALSE(::GetWindowLongW(hosted.container, GWL_EXSTYLE) & WS_EX_CLIENTEDGE);
    const DWORD style = static_cast<DWORD>(::GetWindowLongW(hosted.List(), GWL_STYLE));
    EXPECT_EQ(style & (LVS_SINGLESEL | LVS_ALIGNLEFT), 0u);
    const DWORD extended =
        static_cast<DWORD>(::SendMessageW(hosted.List(), LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
    EXPECT_EQ(extended & (LVS_EX_INFOTIP | LVS_EX_TRACKSELECT), 0u);
}

TEST(ThumbListLayout, InfoTipsAndHoverSetTheListsExtendedStyle) {
    ThumbListParams params = ControlHost::DialogParams();
    params.styleFlags = TLF_INFOTIPS | TLF_HOVER;
    HostedControl hosted(params, 300, 200);
    ASSERT_NE(hosted.container, nullptr);
    const DWORD extended =
        static_cast<DWORD>(::SendMessageW(hosted.List(), LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
    EXPECT_EQ(extended & (LVS_EX_INFOTIP | LVS_EX_TRACKSELECT),
              DWORD{LVS_EX_INFOTIP | LVS_EX_TRACKSELECT});
    EXPECT_EQ(::SendMessageW(hosted.List(), LVM_GETHOVERTIME, 0, 0), 100);
    const HWND tip = reinterpret_cast<HWND>(::SendMessageW(hosted.List(), LVM_GETTOOLTIPS, 0, 0));
    ASSERT_NE(tip, nullptr);
    EXPECT_TRUE(::GetWindowLongW(tip, GWL_STYLE) & TTS_BALLOON);
}

TEST(ThumbListLayout, VideoControlsGetAHiddenPreviewPane) {
    ThumbListParams params = ControlHost::DialogParams();
    params.mediaKind = 1;
    HostedControl hosted(params, 300, 200);
    ASSERT_NE(hosted.container, nullptr);
    const HWND preview = ::GetDlgItem(hosted.List(), 1);
    ASSERT_NE(preview, nullptr);
    wchar_t className[32] = {};
    ::GetClassNameW(preview, className, 32);
    EXPECT_EQ(_wcsicmp(className, L"static"), 0);
    EXPECT_TRUE(::GetWindowLongW(preview, GWL_STYLE) & WS_DISABLED);
    const RECT size = ClientOf(preview);
    EXPECT_EQ(size.right, 0);
    EXPECT_EQ(size.bottom, 0);
}

TEST(ThumbListLayout, TheBackgroundColourNeedsItsFlag) {
    {
        HostedControl hosted(ControlHost::DialogParams(), 300, 200);
        EXPECT_EQ(static_cast<COLORREF>(::SendMessageW(hosted.List(), LVM_GETBKCOLOR, 0, 0)),
                  COLORREF{0x615A57});
        hosted.control.SetBkColor(0x102030);
        EXPECT_EQ(static_cast<COLORREF>(::SendMessageW(hosted.List(), LVM_GETBKCOLOR, 0, 0)),
                  COLORREF{0x102030});
    }
    {
        ThumbListParams params = ControlHost::DialogParams();
        params.styleFlags &= ~TLF_BKCOLOR;
        HostedControl hosted(params, 300, 200);
        EXPECT_EQ(static_cast<COLORREF>(::SendMessageW(hosted.List(), LVM_GETBKCOLOR, 0, 0)),
                  ::GetSysColor(COLOR_WINDOW));
        hosted.control.SetBkColor(0x102030);
        EXPECT_EQ(static_cast<COLORREF>(::SendMessageW(hosted.List(), LVM_GETBKCOLOR, 0, 0)),
                  ::GetSysColor(COLOR_WINDOW));
    }
}

// Records the background images the list is given (Wine's list does not hand them back).
class BackgroundImageSpy {
public:
    explicit BackgroundImageSpy(HWND list) : list_(list) {
        ::SetWindowSubclass(list_, &Proc, 3, reinterpret_cast<DWORD_PTR>(this));
    }
    ~BackgroundImageSpy() { ::RemoveWindowSubclass(list_, &Proc, 3); }
    BackgroundImageSpy(const BackgroundImageSpy&) = delete;
    BackgroundImageSpy& operator=(const BackgroundImageSpy&) = delete;

    struct Image {
        ULONG flags;
        std::wstring path;
        UINT length;
    };
    std::vector<Image> images;

private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                 DWORD_PTR self) {
        if (message == LVM_SETBKIMAGEW) {
            const auto* image = reinterpret_cast<const LVBKIMAGEW*>(lParam);
            reinterpret_cast<BackgroundImageSpy*>(self)->images.push_back(
                {image->ulFlags, image->pszImage ? image->pszImage : L"", image->cchImageMax});
        }
        return ::DefSubclassProc(window, message, wParam, lParam);
    }
    HWND list_;
};

TEST(ThumbListLayout, ABackgroundBitmapIsShownFromTheTemporaryFolder) {
    HostedControl plain(ControlHost::DialogParams(), 300, 200);
    {
        BackgroundImageSpy spy(plain.List());
        EXPECT_EQ(plain.control.SetBkBitmap(101, true), 0);
        EXPECT_TRUE(spy.images.empty());
    }

    ThumbListParams params = ControlHost::DialogParams();
    params.styleFlags |= TLF_BKBITMAP;
    HostedControl withBitmap(params, 300, 200);
    BackgroundImageSpy spy(withBitmap.List());
    EXPECT_EQ(withBitmap.control.SetBkBitmap(-1, true), 0);
    EXPECT_TRUE(spy.images.empty());

    // The program has no bitmap resource 4321: the list is still pointed at the file.
    const std::wstring expected =
        TempDir::WideOf(std::filesystem::temp_directory_path() / "_tBack.bmp");
    withBitmap.control.SetBkBitmap(4321, true);
    withBitmap.control.SetBkBitmap(4321, false);
    ASSERT_EQ(spy.images.size(), 2u);
    EXPECT_EQ(spy.images[0].flags, ULONG{LVBKIF_SOURCE_URL | LVBKIF_STYLE_TILE});
    EXPECT_EQ(spy.images[1].flags, ULONG{LVBKIF_SOURCE_URL});
    for (const auto& image : spy.images) {
        EXPECT_EQ(_wcsicmp(image.path.c_str(), expected.c_str()), 0) << image.path;
        EXPECT_EQ(image.length, image.path.size());
    }
}

TEST(ThumbListLayout, TheHeaderSitsAboveTheListAndKeepsItsWidth) {
    ThumbListParams params = ControlHost::DialogParams();
    params.styleFlags |= TLF_HEADER;
    HostedControl hosted(params, 400, 300);
    ASSERT_NE(hosted.container, nullptr);
    const HWND header = hosted.control.HeaderWindow();
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(::GetDlgCtrlID(header), 1256);
    EXPECT_EQ(::GetParent(header), hosted.container);
    EXPECT_TRUE(::IsWindowVisible(header) || !::IsWindowVisible(hosted.host.Window()));
    const RECT client = ClientOf(hosted.container);
    const RECT headerRect = RectInParent(header);
    const int headerHeight = headerRect.bottom - headerRect.top;
    ASSERT_GT(headerHeight, 0);
    EXPECT_EQ(headerRect.left, 0);
    EXPECT_EQ(headerRect.top, 0);
    EXPECT_EQ(headerRect.right, client.right);

    const RECT listRect = RectInParent(hosted.List());
    EXPECT_EQ(listRect.top, headerHeight);
    EXPECT_EQ(listRect.bottom, client.bottom);
    EXPECT_EQ(listRect.right, client.right);

    ASSERT_EQ(::SendMessageW(header, HDM_GETITEMCOUNT, 0, 0), 4);
    const wchar_t* names[] = {L"Name", L"Date", L"Type", L"Size"};
    for (int i = 0; i < 4; ++i) {
        wchar_t text[32] = {};
        HDITEMW column = {};
        column.mask = HDI_TEXT | HDI_WIDTH | HDI_FORMAT;
        column.pszText = text;
        column.cchTextMax = 32;
        ASSERT_TRUE(::SendMessageW(header, HDM_GETITEMW, i, reinterpret_cast<LPARAM>(&column)));
        EXPECT_STREQ(text, names[i]);
        EXPECT_EQ(column.cxy, client.right / 4);
        EXPECT_EQ(column.fmt & HDF_JUSTIFYMASK, HDF_LEFT);
    }

    // A resize gives the list the new size below the header; the header stays as it was.
    SetContainerClient(hosted.container, 520, 350);
    const RECT grown = RectInParent(hosted.List());
    EXPECT_EQ(grown.top, headerHeight);
    EXPECT_EQ(grown.right, 520);
    EXPECT_EQ(grown.bottom, 350);
    const RECT headerAfter = RectInParent(header);
    EXPECT_EQ(headerAfter.right - headerAfter.left, client.right);
    EXPECT_EQ(headerAfter.bottom - headerAfter.top, headerHeight);
}

// The height (width) of the list that holds whole rows (columns): all of the client area when
// the list has the scroll bar across that direction, else what such a bar would leave over.
int UsableHeight(HWND list) {
    SCROLLINFO info = {};
    info.cbSize = sizeof info;
    info.fMask = SIF_ALL;
    const int height = ClientOf(list).bottom;
    return ::GetScrollInfo(list, SB_HORZ, &info) ? height
                                                 : height - ::GetSystemMetrics(SM_CYHSCROLL) - 2;
}

int UsableWidth(HWND list) {
    SCROLLINFO info = {};
    info.cbSize = sizeof info;
    info.fMask = SIF_ALL;
    const int width = ClientOf(list).right;
    return ::GetScrollInfo(list, SB_VERT, &info) ? width
                                                 : width - ::GetSystemMetrics(SM_CXVSCROLL) - 2;
}

// Records the work areas the list is given (Wine's list neither keeps nor reports them).
class WorkAreaSpy {
public:
    explicit WorkAreaSpy(HWND list) : list_(list) {
        ::SetWindowSubclass(list_, &Proc, 4, reinterpret_cast<DWORD_PTR>(this));
    }
    ~WorkAreaSpy() { ::RemoveWindowSubclass(list_, &Proc, 4); }
    WorkAreaSpy(const WorkAreaSpy&) = delete;
    WorkAreaSpy& operator=(const WorkAreaSpy&) = delete;

    std::vector<std::vector<RECT>> given;

private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                 DWORD_PTR self) {
        if (message == LVM_SETWORKAREAS) {
            const auto* areas = reinterpret_cast<const RECT*>(lParam);
            reinterpret_cast<WorkAreaSpy*>(self)->given.emplace_back(areas, areas + wParam);
        }
        return ::DefSubclassProc(window, message, wParam, lParam);
    }
    HWND list_;
};

TEST(ThumbListLayout, VisibleRowsAndColumnsCountWholeCells) {
    ThumbListParams params = ControlHost::DialogParams();
    params.styleFlags &= ~TLF_HORIZONTAL;
    HostedControl hosted(params, 400, 300);
    ASSERT_NE(hosted.container, nullptr);
    const HWND list = hosted.List();
    const int line = hosted.control.CellSize() + 4;  // 112: a row, and the icon spacing

    // Sizes at which the usable width and height are exact multiples of a line, and one short.
    const int extraHeight = ClientOf(list).bottom - UsableHeight(list);
    const int extraWidth = ClientOf(list).right - UsableWidth(list);
    struct Case {
        int usableWidth, usableHeight;
        int columns, rows;
    };
    for (const Case& c : {Case{3 * line, 2 * line, 3, 2}, Case{3 * line - 1, 2 * line - 1, 2, 1},
                          Case{line, line, 1, 1}, Case{line - 1, line - 1, 0, 0},
                          Case{10, 10, 0, 0}, Case{5 * line + 50, 4 * line + 111, 5, 4}}) {
        SCOPED_TRACE(std::to_string(c.usableWidth) + " x " + std::to_string(c.usableHeight));
        WorkAreaSpy areas(list);
        SetContainerClient(hosted.container, c.usableWidth + extraWidth,
                           c.usableHeight + extraHeight);
        ASSERT_EQ(UsableWidth(list), c.usableWidth);
        ASSERT_EQ(UsableHeight(list), c.usableHeight);
        EXPECT_EQ(hosted.control.VisibleColumns(), c.columns);
        EXPECT_EQ(hosted.control.VisibleRows(), c.rows);
        // The cells are arranged within the whole columns, over the list's full height.
        ASSERT_EQ(areas.given.size(), 1u);
        ASSERT_EQ(areas.given[0].size(), 1u);
        const RECT area = areas.given[0][0];
        EXPECT_EQ(area.left, 0);
        EXPECT_EQ(area.top, 0);
        EXPECT_EQ(area.right, c.columns * line);
        EXPECT_EQ(area.bottom, ClientOf(list).bottom);
        // The measurement leaves an empty list empty, and tells the parent nothing.
        EXPECT_EQ(hosted.control.GetItemCount(), 0);
    }
    EXPECT_TRUE(hosted.host.Messages().empty());
}

TEST(ThumbListLayout, ResizingAFilledListKeepsItsItems) {
    TempDir temp;
    for (int i = 0; i < 5; ++i)
        testing_support::WriteSolidBmp(temp / ("p" + std::to_string(i) + ".bmp"), 16, 16,
                                       {9, 9, 9});
    ThumbListParams params = ControlHost::DialogParams();
    params.styleFlags &= ~TLF_HORIZONTAL;
    HostedControl hosted(params, 600, 300);
    ASSERT_EQ(hosted.control.SetFolder(temp.Wide().c_str(), false), 5);
    ASSERT_TRUE(testing_support::WaitForThumbnails(hosted.control));
    // The column pitch is measured on the list's own first item.
    const int pitch = testing_support::ItemRect(hosted.List(), 0, LVIR_BOUNDS).right;
    ASSERT_GT(pitch, 0);
    SetContainerClient(hosted.container, 2 * pitch + 40, 300);
    EXPECT_EQ(hosted.control.VisibleColumns(), UsableWidth(hosted.List()) / pitch);
    EXPECT_EQ(hosted.control.GetItemCount(), 5);
}

// A folder's items are inserted in bulk; they must land where the same list puts the same
// items inserted one by one.
TEST(ThumbListLayout, AFolderIsLaidOutAsInsertingItsItemsOneByOneWould) {
    TempDir temp;
    constexpr int kFiles = 23;
    for (int i = 0; i < kFiles; ++i) {
        testing_support::WriteSolidBmp(temp / ("p" + std::to_string(i) + ".bmp"), 8, 8, {9, 9, 9});
    }
    const auto positions = [](HWND list) {
        std::vector<std::pair<LONG, LONG>> all;
        for (int i = 0; i < ListView_GetItemCount(list); ++i) {
            POINT at = {};
            ::SendMessageW(list, LVM_GETITEMPOSITION, i, reinterpret_cast<LPARAM>(&at));
            all.emplace_back(at.x, at.y);
        }
        return all;
    };
    for (const bool horizontal : {true, false}) {
        SCOPED_TRACE(horizontal ? "horizontal" : "vertical");
        ThumbListParams params = ControlHost::DialogParams();
        if (!horizontal) params.styleFlags &= ~TLF_HORIZONTAL;
        HostedControl hosted(params, 500, horizontal ? 140 : 400);
        ASSERT_EQ(hosted.control.SetFolder(temp.Wide().c_str(), false), kFiles);
        ASSERT_TRUE(testing_support::WaitForThumbnails(hosted.control));
        const HWND list = hosted.List();
        const auto bulk = positions(list);

        ::SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
        for (int i = 0; i < kFiles; ++i) {
            LVITEMW item = {};
            item.mask = LVIF_IMAGE;
            item.iItem = i;
            item.iImage = i;
            ::SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
        }
        EXPECT_EQ(bulk, positions(list));
        // The vertical list wraps its rows: the comparison covers the wrapping.
        std::set<LONG> xs, ys;
        for (const auto& [x, y] : bulk) {
            xs.insert(x);
            ys.insert(y);
        }
        EXPECT_GT(xs.size(), 1u);
        if (!horizontal) {
            EXPECT_GT(ys.size(), 1u);
        }
    }
}

TEST(ThumbListLayout, TheContainerErasesNothing) {
    HostedControl hosted(ControlHost::DialogParams(), 300, 200);
    Canvas canvas(320, 220);
    canvas.Fill(RGB(12, 34, 56));
    EXPECT_EQ(
        ::SendMessageW(hosted.container, WM_ERASEBKGND, reinterpret_cast<WPARAM>(canvas.Dc()), 0),
        1);
    for (int y = 0; y < canvas.Height(); y += 7) {
        for (int x = 0; x < canvas.Width(); x += 7)
            ASSERT_EQ(canvas.At(x, y), RGB(12, 34, 56)) << x << "," << y;
    }
}

TEST(ThumbListLayout, TheListNeverHearsThatItLostTheFocus) {
    TempDir temp;
    testing_support::WriteSolidBmp(temp / "a.bmp", 40, 40, {0, 0, 255});
    testing_support::WriteSolidBmp(temp / "b.bmp", 40, 40, {0, 0, 255});
    HostedControl hosted(ControlHost::DialogParams(), 400, 200);
    ASSERT_EQ(hosted.control.SetFolder(temp.Wide().c_str(), false), 2);
    ASSERT_TRUE(testing_support::WaitForThumbnails(hosted.control));
    const HWND list = hosted.List();
    testing_support::NotifySpy spy(hosted.container);
    hosted.control.SelectItems(0, -1);
    ASSERT_EQ(::GetFocus(), list);
    ASSERT_EQ(spy.Of(NM_SETFOCUS).size(), 1u);

    // The list never learns that it lost the focus: it tells its parent nothing.
    const HWND other = ::CreateWindowExW(0, L"BUTTON", L"", WS_CHILD | WS_VISIBLE, 0, 0, 5, 5,
                                         hosted.host.Window(), nullptr, nullptr, nullptr);
    ::SetFocus(other);
    ASSERT_EQ(::GetFocus(), other);
    EXPECT_EQ(::SendMessageW(list, WM_KILLFOCUS, reinterpret_cast<WPARAM>(other), 0), 1);
    EXPECT_TRUE(spy.Of(NM_KILLFOCUS).empty());

    // The list paints the selected cell as selected although the focus is elsewhere.
    Canvas canvas(420, 220);
    canvas.Fill(RGB(1, 2, 3));
    ::SendMessageW(list, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(canvas.Dc()), PRF_CLIENT);
    const RECT cell = testing_support::ItemRect(list, 0, LVIR_SELECTBOUNDS);
    EXPECT_EQ(canvas.At(cell.left + 2, cell.top + 2), ControlHost::DialogParams().selectedColor);
    const RECT second = testing_support::ItemRect(list, 1, LVIR_SELECTBOUNDS);
    EXPECT_EQ(canvas.At(second.left + 2, second.top + 2), ControlHost::DialogParams().cellColor);

    // Believing it still has the focus, it takes the keyboard back on a click all the same.
    const LPARAM at =
        MAKELPARAM((second.left + second.right) / 2, (second.top + second.bottom) / 2);
    ::PostMessageW(list, WM_LBUTTONUP, 0, at);  // ends the list's own click tracking
    ::SendMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
    EXPECT_EQ(::GetFocus(), list);
    ControlHost::Pump(std::chrono::milliseconds(0));

    // Once its windows are gone the control forgets their handles.
    ::DestroyWindow(hosted.container);
    EXPECT_EQ(hosted.control.ContainerWindow(), nullptr);
    EXPECT_EQ(hosted.control.ListWindow(), nullptr);
}

}  // namespace
