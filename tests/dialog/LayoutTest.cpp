// Where the dialog puts its controls for every client size, in both modes, and the smallest
// size it allows.

#include "DialogFixture.h"

namespace dialog_tests {
namespace {

class LayoutTest : public DialogTest {
protected:
    void FolderLibrary() { Picture(Library() / "Alpha" / "one.bmp"); }

    void CategoryLibrary() {
        WriteIni("[CATEGORY]\r\n1\r\n");
        Picture(Library() / "Nature" / "Trees" / "oak.bmp");
    }

    // Every control and the caption rectangle where the layout puts them for the current
    // client size.
    void ExpectLayout(bool categoryMode) {
        const SIZE client = ClientSize();
        const int w = client.cx;
        const int h = client.cy;
        SCOPED_TRACE(::testing::Message() << "client " << w << " x " << h);
        EXPECT_EQ(ChildBox(CInstallerDlg::kTemplateListId),
                  categoryMode ? (Box{10, h - 122, 165, 114}) : (Box{10, h - 142, 165, 132}));

        // A drop-down list keeps its closed height; the height the layout gives it is its
        // list's, seen where the combo box is asked to move.
        const Box combo = ChildBox(CInstallerDlg::kCategoryId);
        EXPECT_EQ(combo.x, 10);
        EXPECT_EQ(combo.y, h - 142);
        EXPECT_EQ(combo.width, 165);
        if (comboSpy_) {
            EXPECT_EQ(comboSpy_->requested, (Box{10, h - 142, 165, 100}));
        }

        EXPECT_EQ(ChildBox(CInstallerDlg::kThumbStripId), (Box{180, h - 142, w - 190, 140}));
        EXPECT_EQ(ChildBox(CInstallerDlg::kPreviewId), (Box{10, 10, w - 20, h - 207}));
        EXPECT_EQ(ChildBox(CInstallerDlg::kPrevId), (Box{70, h - 182, 24, 25}));
        EXPECT_EQ(ChildBox(CInstallerDlg::kNextId), (Box{150, h - 182, 24, 25}));
        EXPECT_EQ(ChildBox(CInstallerDlg::kInstallId), (Box{w - 180, h - 182, 77, 25}));
        EXPECT_EQ(ChildBox(CInstallerDlg::kExitId), (Box{w - 95, h - 182, 77, 25}));
        EXPECT_EQ(ChildBox(CInstallerDlg::kBarId), (Box{10, h - 190, w - 20, 42}));
        EXPECT_EQ(BoxOf(Dialog().captionRect), (Box{180, h - 185, w - 190, 32}));

        EXPECT_EQ(::IsWindowVisible(Item(CInstallerDlg::kCategoryId)) != FALSE, categoryMode);
        EXPECT_FALSE(::IsWindowVisible(Item(CInstallerDlg::kInstallId)));
        EXPECT_FALSE(::IsWindowVisible(Item(CInstallerDlg::kExitId)));
        EXPECT_TRUE(::IsWindowVisible(Item(CInstallerDlg::kPrevId)));
        EXPECT_TRUE(::IsWindowVisible(Item(CInstallerDlg::kNextId)));
    }

    void ExpectLayoutAtSizes(bool categoryMode) {
        ExpectLayout(categoryMode);  // the size it starts with
        comboSpy_ = std::make_unique<PositionSpy>(Item(CInstallerDlg::kCategoryId));
        for (const SIZE size : {SIZE{800, 600}, SIZE{1021, 713}, SIZE{700, 555}}) {
            ResizeClient(size.cx, size.cy);
            ASSERT_EQ(ClientSize().cx, size.cx);
            ASSERT_EQ(ClientSize().cy, size.cy);
            ExpectLayout(categoryMode);
            Dialog().PaintPreview();
            PumpPending();
        }
        comboSpy_.reset();
    }

    std::unique_ptr<PositionSpy> comboSpy_;
};

TEST_F(LayoutTest, FolderModeControlsFollowTheClientSize) {
    FolderLibrary();
    Start();
    ASSERT_EQ(Dialog().categoryMode, 0);
    ExpectLayoutAtSizes(false);
}

TEST_F(LayoutTest, CategoryModeListSitsBelowTheComboBox) {
    CategoryLibrary();
    Start();
    ASSERT_EQ(Dialog().categoryMode, 1);
    ExpectLayoutAtSizes(true);
}

TEST_F(LayoutTest, StartsMaximizedAndLaidOutForThatSize) {
    FolderLibrary();
    Start();
    EXPECT_TRUE(::IsZoomed(Window()));
    ExpectLayout(false);
}

TEST_F(LayoutTest, MinimumTrackingSizeIs643By490) {
    FolderLibrary();
    Start();
    MINMAXINFO info = {};
    info.ptMaxTrackSize = {5000, 5000};
    ::SendMessageW(Window(), WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
    EXPECT_EQ(info.ptMinTrackSize.x, 643);
    EXPECT_EQ(info.ptMinTrackSize.y, 490);
    EXPECT_EQ(info.ptMaxTrackSize.x, 5000);  // only the minimum is the dialog's

    // A smaller size is refused: the window stops at the minimum.
    ::ShowWindow(Window(), SW_RESTORE);
    ::SetWindowPos(Window(), nullptr, 0, 0, 300, 200, SWP_NOZORDER | SWP_NOACTIVATE);
    PumpPending();
    RECT window = {};
    ::GetWindowRect(Window(), &window);
    EXPECT_EQ(window.right - window.left, 643);
    EXPECT_EQ(window.bottom - window.top, 490);

    // The frame of this dialog style: at the minimum size the panel is the client width less
    // its two margins.
    RECT frame = {0, 0, 0, 0};
    ::AdjustWindowRectEx(&frame, static_cast<DWORD>(::GetWindowLongW(Window(), GWL_STYLE)), FALSE,
                         static_cast<DWORD>(::GetWindowLongW(Window(), GWL_EXSTYLE)));
    const SIZE client = ClientSize();
    EXPECT_EQ(client.cx, 643 - (frame.right - frame.left));
    EXPECT_EQ(client.cy, 490 - (frame.bottom - frame.top));
    EXPECT_EQ(ChildBox(CInstallerDlg::kPreviewId), (Box{10, 10, client.cx - 20, client.cy - 207}));
    ExpectLayout(false);
}

TEST_F(LayoutTest, InstallAndExitStayHiddenWhateverHappens) {
    FolderLibrary();
    Start();
    for (int id : {CInstallerDlg::kInstallId, CInstallerDlg::kExitId}) {
        EXPECT_FALSE(::GetWindowLongW(Item(id), GWL_STYLE) & WS_VISIBLE) << id;
    }
    ResizeClient(900, 650);
    ::ShowWindow(Window(), SW_MAXIMIZE);
    PumpPending();
    ResizeClient(640, 480);
    Dialog().PaintPreview();
    Dialog().OnNext();
    PumpPending();
    for (int id : {CInstallerDlg::kInstallId, CInstallerDlg::kExitId}) {
        EXPECT_FALSE(::GetWindowLongW(Item(id), GWL_STYLE) & WS_VISIBLE) << id;
    }
    // They are still laid out and skinned like the visible ones.
    const SIZE client = ClientSize();
    EXPECT_EQ(ChildBox(CInstallerDlg::kInstallId), (Box{client.cx - 180, client.cy - 182, 77, 25}));
}

TEST_F(LayoutTest, ControlColours) {
    FolderLibrary();
    Start();
    HDC dc = ::GetDC(Window());
    ::SetBkColor(dc, RGB(1, 2, 3));
    ::SetTextColor(dc, RGB(4, 5, 6));
    const auto edit = reinterpret_cast<HBRUSH>(
        ::SendMessageW(Window(), WM_CTLCOLOREDIT, reinterpret_cast<WPARAM>(dc), 0));
    EXPECT_EQ(edit, Dialog().backgroundBrush.Get());
    EXPECT_EQ(::GetBkColor(dc), RGB(255, 255, 255));
    EXPECT_EQ(::GetTextColor(dc), RGB(0, 0, 0));

    const auto dialog = reinterpret_cast<HBRUSH>(
        ::SendMessageW(Window(), WM_CTLCOLORDLG, reinterpret_cast<WPARAM>(dc),
                       reinterpret_cast<LPARAM>(Window())));
    EXPECT_EQ(dialog, Dialog().backgroundBrush.Get());
    LOGBRUSH brush = {};
    ASSERT_TRUE(::GetObjectW(Dialog().backgroundBrush.Get(), sizeof brush, &brush));
    EXPECT_EQ(brush.lbColor, RGB(114, 119, 116));

    // Other kinds get the system's answer, not the dialog's brush.
    const auto list = reinterpret_cast<HBRUSH>(
        ::SendMessageW(Window(), WM_CTLCOLORLISTBOX, reinterpret_cast<WPARAM>(dc),
                       reinterpret_cast<LPARAM>(Item(CInstallerDlg::kTemplateListId))));
    EXPECT_NE(list, Dialog().backgroundBrush.Get());
    EXPECT_NE(list, nullptr);
    ::ReleaseDC(Window(), dc);

    EXPECT_EQ(::SendMessageW(Window(), WM_QUERYDRAGICON, 0, 0),
              reinterpret_cast<LRESULT>(Dialog().icon));
    EXPECT_NE(Dialog().icon, nullptr);
}

}  // namespace
}  // namespace dialog_tests
