// The bitmap buttons and the skinned template list: rows of the strip by state, double clicks,
// tooltips and the right-click report; bars, gap lines, background and scrolling of the list.

#include "DialogFixture.h"

#include "base/Utf.h"
#include "controls/CSkinListBox.h"
#include "controls/uBitmapButton.h"

#include <tuple>

namespace dialog_tests {
namespace {

constexpr COLORREF kListBackground = RGB(93, 95, 99);
constexpr COLORREF kUntouched = RGB(255, 0, 255);

// A plain top-level window with child controls made by the test; it records the commands and
// right-click reports its children send.
class ControlHostWindow {
public:
    struct Command {
        int id;
        int code;
    };
    struct RightClick {
        RightClickInfo info;
        LPARAM id;
    };

    ControlHostWindow() {
        static const ATOM atom = [] {
            WNDCLASSEXW host = {};
            host.cbSize = sizeof host;
            host.lpfnWndProc = &Proc;
            host.hInstance = ::GetModuleHandleW(nullptr);
            host.lpszClassName = L"GlimmerlyDialogTestsHost";
            return ::RegisterClassExW(&host);
        }();
        EXPECT_NE(atom, 0);
        window_ = ::CreateWindowExW(WS_EX_TOOLWINDOW, L"GlimmerlyDialogTestsHost", L"host",
                                    WS_POPUP | WS_VISIBLE, 20, 30, 400, 300, nullptr, nullptr,
                                    ::GetModuleHandleW(nullptr), this);
    }
    ~ControlHostWindow() {
        if (::IsWindow(window_)) ::DestroyWindow(window_);
        PumpPending();
    }
    ControlHostWindow(const ControlHostWindow&) = delete;
    ControlHostWindow& operator=(const ControlHostWindow&) = delete;

    HWND Window() const { return window_; }

    HWND AddChild(const wchar_t* className, DWORD style, int id, RECT place) {
        return ::CreateWindowExW(0, className, L"", WS_CHILD | WS_VISIBLE | style, place.left,
                                 place.top, place.right - place.left, place.bottom - place.top,
                                 window_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                 ::GetModuleHandleW(nullptr), nullptr);
    }

    // A child's position and size in this window's client coordinates.
    Box ChildBox(HWND child) const {
        RECT rect = {};
        ::GetWindowRect(child, &rect);
        ::MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&rect), 2);
        return BoxOf(rect);
    }

    std::vector<Command> commands;
    std::vector<RightClick> rightClicks;

private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_NCCREATE) {
            const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
            ::SetWindowLongPtrW(window, GWLP_USERDATA,
                                reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        }
        auto* self =
            reinterpret_cast<ControlHostWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
        if (self && message == WM_COMMAND) {
            self->commands.push_back({LOWORD(wParam), HIWORD(wParam)});
            return 0;
        }
        if (self && message == kRightClickMessage) {
            self->rightClicks.push_back({*reinterpret_cast<const RightClickInfo*>(wParam), lParam});
            return 0;
        }
        return ::DefWindowProcW(window, message, wParam, lParam);
    }

    HWND window_ = nullptr;
};

// What a control's DrawItem draws for one state, on a canvas of the item's size.
std::unique_ptr<Canvas> DrawnButton(uBitmapButton& button, UINT state, int width, int height) {
    auto canvas = std::make_unique<Canvas>(width, height);
    canvas->Fill(kUntouched);
    DRAWITEMSTRUCT draw = {ODT_BUTTON,
                           static_cast<UINT>(button.GetDlgCtrlID()),
                           0,
                           ODA_DRAWENTIRE,
                           state,
                           button.GetSafeHwnd(),
                           canvas->Dc(),
                           {0, 0, width, height},
                           0};
    button.DrawItem(&draw);
    return canvas;
}

std::unique_ptr<Canvas> DrawnListItem(CSkinListBox& list, int item, UINT action, UINT state,
                                      RECT rect = {0, 0, 160, 18}) {
    auto canvas = std::make_unique<Canvas>(160, 18);
    canvas->Fill(kListBackground);
    DRAWITEMSTRUCT draw = {ODT_LISTBOX,
                           static_cast<UINT>(list.GetDlgCtrlID()),
                           static_cast<UINT>(item),
                           action,
                           state,
                           list.GetSafeHwnd(),
                           canvas->Dc(),
                           rect,
                           0};
    list.DrawSkinItem(&draw);
    return canvas;
}

int CountNot(const Canvas& canvas, COLORREF color) {
    int count = 0;
    for (int y = 0; y < canvas.Height(); ++y) {
        for (int x = 0; x < canvas.Width(); ++x) count += canvas.At(x, y) != color;
    }
    return count;
}

class SkinnedControlsTest : public DialogTest {
protected:
    // `count` pictures in one template, so Prev and Next have somewhere to go.
    void StartWithPictures(int count) {
        for (int i = 0; i < count; ++i) {
            Picture(Library() / "Alpha" / ("p" + std::to_string(i) + ".bmp"));
        }
        Start();
    }
};

TEST_F(SkinnedControlsTest, ButtonsAreTheSizeOfOneRowOfTheirStrips) {
    StartWithPictures(1);
    for (const auto& [button, bitmap, width] :
         {std::tuple{&Dialog().prevButton, CInstallerDlg::kPrevStripId, 24},
          std::tuple{&Dialog().nextButton, CInstallerDlg::kNextStripId, 24},
          std::tuple{&Dialog().installButton, CInstallerDlg::kInstallStripId, 77},
          std::tuple{&Dialog().exitButton, CInstallerDlg::kExitStripId, 77}}) {
        SCOPED_TRACE(bitmap);
        const std::unique_ptr<Canvas> strip = ResourceBitmap(bitmap);
        ASSERT_TRUE(strip);
        EXPECT_EQ(strip->Width(), width);
        EXPECT_EQ(strip->Height(), 125);
        RECT client = {};
        ::GetClientRect(button->GetSafeHwnd(), &client);
        EXPECT_EQ(client.right, width);
        EXPECT_EQ(client.bottom, 25);
    }
}

TEST_F(SkinnedControlsTest, ButtonDrawsTheStripRowOfItsState) {
    StartWithPictures(1);
    for (const auto& [button, bitmap, width] :
         {std::tuple{&Dialog().prevButton, CInstallerDlg::kPrevStripId, 24},
          std::tuple{&Dialog().installButton, CInstallerDlg::kInstallStripId, 77}}) {
        SCOPED_TRACE(bitmap);
        const std::unique_ptr<Canvas> strip = ResourceBitmap(bitmap);
        ASSERT_TRUE(strip);
        // The rows used differ from each other, so a wrong row shows.
        for (int a : {0, 1, 3, 4}) {
            for (int b : {0, 1, 3, 4}) {
                if (a < b) {
                    ASSERT_GT(CountDifferences(*strip, 0, a * 25, *strip, 0, b * 25, width, 25), 0)
                        << a << " " << b;
                }
            }
        }
        const auto expectRow = [&](UINT state, int row) {
            const std::unique_ptr<Canvas> drawn = DrawnButton(*button, state, width, 25);
            EXPECT_EQ(CountDifferences(*drawn, 0, 0, *strip, 0, row * 25, width, 25), 0)
                << "state " << state << " row " << row;
        };
        ASSERT_FALSE(button->IsHovering());
        expectRow(0, 0);
        expectRow(ODS_FOCUS, 0);
        expectRow(ODS_SELECTED, 1);
        expectRow(ODS_DISABLED, 3);
        expectRow(ODS_DISABLED | ODS_SELECTED, 3);

        // The pointer rests on it.
        ::SendMessageW(button->GetSafeHwnd(), WM_MOUSEHOVER, 0, MAKELPARAM(3, 3));
        ASSERT_TRUE(button->IsHovering());
        expectRow(0, 4);
        expectRow(ODS_FOCUS, 4);
        expectRow(ODS_SELECTED, 1);
        expectRow(ODS_DISABLED, 3);

        // And leaves.
        ::SendMessageW(button->GetSafeHwnd(), WM_MOUSELEAVE, 0, 0);
        ASSERT_FALSE(button->IsHovering());
        EXPECT_FALSE(button->IsTracking());
        expectRow(0, 0);
    }
}

TEST_F(SkinnedControlsTest, HoverFollowsThePointer) {
    StartWithPictures(1);
    ::ShowWindow(Window(), SW_RESTORE);
    ResizeClient(800, 600);
    ::SetForegroundWindow(Window());
    HWND next = Item(CInstallerDlg::kNextId);
    uBitmapButton& button = Dialog().nextButton;
    const std::unique_ptr<Canvas> strip = ResourceBitmap(CInstallerDlg::kNextStripId);
    ASSERT_TRUE(strip);
    RECT window = {};
    ::GetWindowRect(next, &window);

    // The pointer enters: the first move asks for hover and leave notices, and with a hover
    // time of one millisecond the hover row shows at once.
    ::SetCursorPos(window.left + 10, window.top + 10);
    ::SendMessageW(next, WM_MOUSEMOVE, 0, MAKELPARAM(10, 10));
    EXPECT_TRUE(button.IsTracking());
    ASSERT_TRUE(PumpUntil([&] { return button.IsHovering(); }));
    EXPECT_EQ(CountDifferences(*DrawnButton(button, 0, 24, 25), 0, 0, *strip, 0, 4 * 25, 24, 25),
              0);

    // And leaves.
    ::SetCursorPos(window.left + 200, window.top - 100);
    ASSERT_TRUE(PumpUntil([&] { return !button.IsHovering(); }));
    EXPECT_FALSE(button.IsTracking());
    EXPECT_EQ(CountDifferences(*DrawnButton(button, 0, 24, 25), 0, 0, *strip, 0, 0, 24, 25), 0);
}

TEST_F(SkinnedControlsTest, ButtonOnScreenShowsNormalAndDisabledRows) {
    StartWithPictures(1);
    HWND prev = Item(CInstallerDlg::kPrevId);
    const std::unique_ptr<Canvas> strip = ResourceBitmap(CInstallerDlg::kPrevStripId);
    ASSERT_TRUE(strip);
    PumpPending();
    // The dialog reflects the owner-draw request to the button, which draws its row.
    ::RedrawWindow(prev, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    EXPECT_EQ(CountDifferences(*CaptureClient(prev), 0, 0, *strip, 0, 0, 24, 25), 0);
    ::EnableWindow(prev, FALSE);
    ::RedrawWindow(prev, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    EXPECT_EQ(CountDifferences(*CaptureClient(prev), 0, 0, *strip, 0, 3 * 25, 24, 25), 0);
    ::EnableWindow(prev, TRUE);
}

TEST_F(SkinnedControlsTest, DoubleClickIsASecondClick) {
    StartWithPictures(3);
    ASSERT_EQ(Dialog().selectedIndex, 0);
    HWND next = Item(CInstallerDlg::kNextId);
    const LPARAM point = MAKELPARAM(5, 5);
    ::SendMessageW(next, WM_LBUTTONDOWN, MK_LBUTTON, point);
    ::SendMessageW(next, WM_LBUTTONUP, 0, point);
    ::SendMessageW(next, WM_LBUTTONDBLCLK, MK_LBUTTON, point);
    ::SendMessageW(next, WM_LBUTTONUP, 0, point);
    EXPECT_EQ(Dialog().selectedIndex, 2);

    // Counted where the commands arrive.
    ControlHostWindow host;
    HWND child = host.AddChild(L"BUTTON", BS_OWNERDRAW, 2001, {10, 10, 60, 60});
    uBitmapButton button;
    ASSERT_TRUE(
        button.Create(2001, host.Window(), CInstallerDlg::kNextStripId, 10, 10, L"", 5, false));
    ::SendMessageW(child, WM_LBUTTONDOWN, MK_LBUTTON, point);
    ::SendMessageW(child, WM_LBUTTONUP, 0, point);
    ::SendMessageW(child, WM_LBUTTONDBLCLK, MK_LBUTTON, point);
    ::SendMessageW(child, WM_LBUTTONUP, 0, point);
    int clicks = 0;
    for (const auto& command : host.commands) {
        EXPECT_EQ(command.id, 2001);
        EXPECT_NE(command.code, BN_DOUBLECLICKED);
        clicks += command.code == BN_CLICKED;
    }
    EXPECT_EQ(clicks, 2);
}

TEST_F(SkinnedControlsTest, CreatePlacesSizesAndSkinsTheControl) {
    ControlHostWindow host;
    HWND kept = host.AddChild(L"BUTTON", BS_OWNERDRAW, 2001, {33, 44, 83, 94});
    HWND moved = host.AddChild(L"BUTTON", BS_OWNERDRAW, 2002, {1, 1, 11, 11});
    HWND wrapped = host.AddChild(L"BUTTON", BS_OWNERDRAW, 2003, {5, 6, 15, 16});
    host.AddChild(L"BUTTON", BS_OWNERDRAW, 2004, {0, 0, 10, 10});

    // A negative x only sizes it; no tooltip text, no tooltip.
    uBitmapButton first;
    ASSERT_TRUE(
        first.Create(2001, host.Window(), CInstallerDlg::kPrevStripId, -5, 7, L"", 5, false));
    EXPECT_EQ(host.ChildBox(kept), (Box{33, 44, 24, 25}));
    EXPECT_EQ(first.ToolTipWindow(), nullptr);

    // Otherwise moved there too, with a tooltip of the text.
    uBitmapButton second;
    ASSERT_TRUE(second.Create(2002, host.Window(), CInstallerDlg::kInstallStripId, 60, 70,
                              L"Put it in", 5, false));
    EXPECT_EQ(host.ChildBox(moved), (Box{60, 70, 77, 25}));
    ASSERT_NE(second.ToolTipWindow(), nullptr);
    EXPECT_EQ(::SendMessageW(second.ToolTipWindow(), TTM_GETMAXTIPWIDTH, 0, 0), 400);

    // The position is taken as two signed 16-bit numbers: 0xFFFF is -1.
    uBitmapButton third;
    ASSERT_TRUE(third.Create(2003, host.Window(), CInstallerDlg::kNextStripId, 0xFFFF, 3, nullptr,
                             5, false));
    EXPECT_EQ(host.ChildBox(wrapped), (Box{5, 6, 24, 25}));

    // A strip that is not there, or a control that is not there, fails.
    uBitmapButton missingBitmap;
    EXPECT_FALSE(missingBitmap.Create(2004, host.Window(), 999, 0, 0, L"", 5, false));
    uBitmapButton missingControl;
    EXPECT_FALSE(missingControl.Create(2099, host.Window(), CInstallerDlg::kPrevStripId, 0, 0, L"",
                                       5, false));
}

TEST_F(SkinnedControlsTest, DialogButtonsCarryTheirTooltips) {
    StartWithPictures(1);
    for (const auto& [button, text] :
         {std::pair{&Dialog().prevButton, L"Previous"}, std::pair{&Dialog().nextButton, L"Next"},
          std::pair{&Dialog().installButton, L"Install"},
          std::pair{&Dialog().exitButton, L"Exit"}}) {
        SCOPED_TRACE(text::ToUtf8(text));
        ASSERT_NE(button->ToolTipWindow(), nullptr);
        wchar_t shown[80] = {};
        TTTOOLINFOW tool = {};
        tool.cbSize = sizeof tool;
        tool.hwnd = button->GetSafeHwnd();
        tool.uId = 1;
        tool.lpszText = shown;
        ::SendMessageW(button->ToolTipWindow(), TTM_GETTEXTW, 80, reinterpret_cast<LPARAM>(&tool));
        EXPECT_STREQ(shown, text);
        EXPECT_EQ(::SendMessageW(button->ToolTipWindow(), TTM_GETTOOLCOUNT, 0, 0), 1);
    }
}

TEST_F(SkinnedControlsTest, RightButtonReleaseIsReportedWhenAsked) {
    ControlHostWindow host;
    HWND reporting = host.AddChild(L"BUTTON", BS_OWNERDRAW, 2001, {10, 10, 20, 20});
    HWND silent = host.AddChild(L"BUTTON", BS_OWNERDRAW, 2002, {100, 10, 110, 20});
    uBitmapButton asked;
    ASSERT_TRUE(
        asked.Create(2001, host.Window(), CInstallerDlg::kPrevStripId, 10, 10, L"", 5, true));
    uBitmapButton notAsked;
    ASSERT_TRUE(
        notAsked.Create(2002, host.Window(), CInstallerDlg::kNextStripId, 100, 10, L"", 5, false));

    ::SendMessageW(silent, WM_RBUTTONUP, MK_SHIFT, MAKELPARAM(4, 5));
    EXPECT_TRUE(host.rightClicks.empty());

    ::SendMessageW(reporting, WM_RBUTTONUP, MK_SHIFT | MK_CONTROL, MAKELPARAM(4, 5));
    ASSERT_EQ(host.rightClicks.size(), 1u);
    RECT window = {};
    ::GetWindowRect(reporting, &window);
    EXPECT_EQ(host.rightClicks[0].id, 2001);
    EXPECT_EQ(host.rightClicks[0].info.flags, MK_SHIFT | MK_CONTROL);
    EXPECT_EQ(host.rightClicks[0].info.x, window.left + 4);
    EXPECT_EQ(host.rightClicks[0].info.y, window.top + 5);
    EXPECT_EQ(window.left, 20 + 10);  // screen coordinates: the host sits at (20, 30)
}

TEST_F(SkinnedControlsTest, ListItemsAreOnePixelHigherThanTheBars) {
    StartWithPictures(1);
    EXPECT_EQ(Dialog().templateList.GetItemHeight(0), 18);
    EXPECT_EQ(Dialog().templateList.normalBitmapId, 134u);
    EXPECT_EQ(Dialog().templateList.selectedBitmapId, 130u);
    for (UINT id : {CInstallerDlg::kNormalBarId, CInstallerDlg::kSelectedBarId}) {
        const std::unique_ptr<Canvas> bar = ResourceBitmap(id);
        ASSERT_TRUE(bar);
        EXPECT_EQ(bar->Width(), 145);
        EXPECT_EQ(bar->Height(), 17);
    }
}

TEST_F(SkinnedControlsTest, ListItemBarsBySelectionAndEnabledState) {
    StartWithPictures(1);
    CSkinListBox& list = Dialog().templateList;
    const int blank = list.AddString(L"");  // no text, so the bar shows whole
    ASSERT_EQ(blank, 0);
    const std::unique_ptr<Canvas> selected = ResourceBitmap(CInstallerDlg::kSelectedBarId);
    const std::unique_ptr<Canvas> normal = ResourceBitmap(CInstallerDlg::kNormalBarId);
    ASSERT_TRUE(selected && normal);
    ASSERT_GT(CountDifferences(*selected, 0, 0, *normal, 0, 0, 145, 17), 0);

    const auto expectBar = [&](const Canvas& drawn, const Canvas& bar, int width) {
        EXPECT_EQ(CountDifferences(drawn, 0, 0, bar, 0, 0, width, 17), 0);
        for (int x = 0; x < 160; ++x) EXPECT_EQ(drawn.At(x, 17), kListBackground) << x;  // gap
        for (int x = width; x < 160; ++x) EXPECT_EQ(drawn.At(x, 8), kListBackground) << x;
    };
    expectBar(*DrawnListItem(list, blank, ODA_DRAWENTIRE, ODS_SELECTED), *selected, 145);
    expectBar(*DrawnListItem(list, blank, ODA_SELECT, ODS_SELECTED | ODS_FOCUS), *selected, 145);
    expectBar(*DrawnListItem(list, blank, ODA_DRAWENTIRE, 0), *normal, 145);
    expectBar(*DrawnListItem(list, blank, ODA_SELECT, 0), *normal, 145);
    // Only within the item's rectangle.
    expectBar(*DrawnListItem(list, blank, ODA_DRAWENTIRE, ODS_SELECTED, {0, 0, 100, 18}), *selected,
              100);

    // A disabled list shows even its selected item with the normal bar.
    ::EnableWindow(list.GetSafeHwnd(), FALSE);
    expectBar(*DrawnListItem(list, blank, ODA_DRAWENTIRE, ODS_SELECTED | ODS_DISABLED), *normal,
              145);
    expectBar(*DrawnListItem(list, blank, ODA_DRAWENTIRE, ODS_SELECTED), *normal, 145);
    ::EnableWindow(list.GetSafeHwnd(), TRUE);

    // An empty list draws nothing.
    EXPECT_EQ(CountNot(*DrawnListItem(list, -1, ODA_DRAWENTIRE, ODS_SELECTED), kListBackground), 0);

    // The focus is a rectangle inverted over the item: twice and it is gone.
    const std::unique_ptr<Canvas> focus = std::make_unique<Canvas>(160, 18);
    focus->Fill(kListBackground);
    DRAWITEMSTRUCT draw = {
        ODT_LISTBOX,     1004, 0, ODA_FOCUS, ODS_FOCUS, list.GetSafeHwnd(), focus->Dc(),
        {0, 0, 160, 18}, 0};
    list.DrawSkinItem(&draw);
    EXPECT_GT(CountNot(*focus, kListBackground), 0);
    EXPECT_EQ(focus->At(80, 8), kListBackground);  // no bar, no text
    list.DrawSkinItem(&draw);
    EXPECT_EQ(CountNot(*focus, kListBackground), 0);
}

TEST_F(SkinnedControlsTest, ListWithoutNormalBitmapDrawsTextOnly) {
    StartWithPictures(1);
    CSkinListBox& list = Dialog().templateList;
    ASSERT_EQ(list.GetText(0), L"Alpha");
    const std::unique_ptr<Canvas> normal = ResourceBitmap(CInstallerDlg::kNormalBarId);
    ASSERT_NE(normal->At(2, 8), kListBackground);

    list.normalBitmapId = 0;
    for (UINT state : {0u, static_cast<UINT>(ODS_SELECTED)}) {
        const std::unique_ptr<Canvas> drawn = DrawnListItem(list, 0, ODA_DRAWENTIRE, state);
        EXPECT_EQ(drawn->At(2, 8), kListBackground);
        EXPECT_EQ(drawn->At(0, 0), kListBackground);
        EXPECT_EQ(drawn->At(150, 16), kListBackground);
        // Black text in the middle, nothing else.
        int dark = 0;
        for (int y = 0; y < 18; ++y) {
            for (int x = 0; x < 160; ++x) {
                const COLORREF pixel = drawn->At(x, y);
                if (pixel == kListBackground) continue;
                EXPECT_LT(Brightness(pixel), Brightness(kListBackground)) << x << "," << y;
                EXPECT_GT(x, 40);
                EXPECT_LT(x, 120);
                dark += pixel == RGB(0, 0, 0);
            }
        }
        EXPECT_GT(dark, 10);
    }
    list.normalBitmapId = CInstallerDlg::kNormalBarId;
}

TEST_F(SkinnedControlsTest, ListOnScreenShowsBarsGapsAndBackground) {
    Picture(Library() / "Alpha" / "a.bmp");
    Picture(Library() / "Beta" / "b.bmp");
    Start();
    HWND list = Item(CInstallerDlg::kTemplateListId);
    ASSERT_EQ(Dialog().templateList.GetCurSel(), 0);
    const std::unique_ptr<Canvas> selected = ResourceBitmap(CInstallerDlg::kSelectedBarId);
    const std::unique_ptr<Canvas> normal = ResourceBitmap(CInstallerDlg::kNormalBarId);
    PumpPending();

    // Without the focus, so no focus rectangle is inverted over the selected item.
    ::SetFocus(Dialog().thumbs.ListWindow());
    ASSERT_NE(::GetFocus(), list);
    const auto expectColumn = [&](bool enabled) {
        ::RedrawWindow(list, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
        const std::unique_ptr<Canvas> shown = CaptureClient(list);
        ASSERT_GT(shown->Height(), 60);
        // Column 2 of each bar, then the gap line of the list's background.
        EXPECT_EQ(CountDifferences(*shown, 2, 0, enabled ? *selected : *normal, 2, 0, 1, 17), 0);
        EXPECT_EQ(shown->At(2, 17), kListBackground);
        EXPECT_EQ(CountDifferences(*shown, 2, 18, *normal, 2, 0, 1, 17), 0);
        EXPECT_EQ(shown->At(2, 35), kListBackground);
        // Below the last item, the background.
        for (int y = 36; y < shown->Height(); ++y) {
            EXPECT_EQ(shown->At(2, y), kListBackground) << y;
            EXPECT_EQ(shown->At(shown->Width() / 2, y), kListBackground) << y;
        }
    };
    expectColumn(true);
    ::EnableWindow(list, FALSE);
    expectColumn(false);
    ::EnableWindow(list, TRUE);
}

TEST_F(SkinnedControlsTest, EraseFillsTheTemplateListOnly) {
    StartWithPictures(1);
    HWND list = Item(CInstallerDlg::kTemplateListId);
    RECT client = {};
    ::GetClientRect(list, &client);
    Canvas canvas(client.right + 10, client.bottom + 10);
    canvas.Fill(kUntouched);
    EXPECT_EQ(::SendMessageW(list, WM_ERASEBKGND, reinterpret_cast<WPARAM>(canvas.Dc()), 0), 0);
    EXPECT_EQ(canvas.At(0, 0), kListBackground);
    EXPECT_EQ(canvas.At(client.right - 1, client.bottom - 1), kListBackground);
    EXPECT_EQ(canvas.At(client.right / 2, client.bottom / 2), kListBackground);
    EXPECT_EQ(canvas.At(client.right, client.bottom), kUntouched);

    // The same class on another control leaves the background alone.
    ControlHostWindow host;
    HWND other =
        host.AddChild(L"LISTBOX", LBS_OWNERDRAWFIXED | LBS_HASSTRINGS, 1099, {5, 5, 150, 100});
    CSkinListBox skinned;
    ASSERT_TRUE(skinned.Subclass(other));
    canvas.Fill(kUntouched);
    EXPECT_EQ(::SendMessageW(other, WM_ERASEBKGND, reinterpret_cast<WPARAM>(canvas.Dc()), 0), 0);
    EXPECT_EQ(CountNot(canvas, kUntouched), 0);
}

TEST_F(SkinnedControlsTest, FillFoldersListsSubFoldersSorted) {
    const stdfs::path folder = root_ / "folders";
    for (const char* name : {"gamma two", "Alpha", "beta", "Salt & Pepper"}) {
        stdfs::create_directories(folder / name);
    }
    testing_support::WriteFile(folder / "file.txt", "a file");
    testing_support::WriteFile(folder / "Alpha" / "inner.txt", "deeper");
    stdfs::create_directories(folder / "Alpha" / "Nested");

    ControlHostWindow host;
    HWND window = host.AddChild(L"LISTBOX", LBS_SORT | LBS_OWNERDRAWFIXED | LBS_HASSTRINGS, 1099,
                                {5, 5, 150, 100});
    CSkinListBox list;
    ASSERT_TRUE(list.Subclass(window));
    const std::wstring withBackslash = Wide(folder) + L"\\";
    list.FillFolders(withBackslash.c_str());
    std::vector<std::wstring> names;
    for (int i = 0; i < list.GetCount(); ++i) names.push_back(list.GetText(i));
    EXPECT_EQ(names,
              (std::vector<std::wstring>{L"Alpha", L"beta", L"gamma two", L"Salt & Pepper"}));

    // Filling again replaces the entries; a folder that is not there empties the list.
    list.FillFolders((Wide(folder / "Alpha") + L"\\").c_str());
    EXPECT_EQ(list.GetCount(), 1);
    EXPECT_EQ(list.GetText(0), L"Nested");
    list.FillFolders((Wide(folder / "missing") + L"\\").c_str());
    EXPECT_EQ(list.GetCount(), 0);
}

TEST_F(SkinnedControlsTest, ScrollingRepaintsTheWholeList) {
    for (int i = 0; i < 12; ++i) {
        stdfs::create_directories(Library() / ("Template " + std::to_string(10 + i)));
    }
    Start();
    HWND list = Item(CInstallerDlg::kTemplateListId);
    ASSERT_EQ(Dialog().templateList.GetCount(), 12);
    PumpPending();
    ::ValidateRect(list, nullptr);
    ASSERT_EQ(::SendMessageW(list, LB_GETTOPINDEX, 0, 0), 0);

    ::SendMessageW(list, WM_VSCROLL, SB_LINEDOWN, 0);
    EXPECT_EQ(::SendMessageW(list, LB_GETTOPINDEX, 0, 0), 1);
    RECT client = {};
    ::GetClientRect(list, &client);
    RECT update = {};
    ASSERT_TRUE(::GetUpdateRect(list, &update, FALSE));
    EXPECT_EQ(BoxOf(update), BoxOf(client));
}

}  // namespace
}  // namespace dialog_tests
