// The dialog at the screen's DPI: positions and sizes are the 96-DPI ones scaled (within a
// pixel), texts fit their boxes, skins are the ones drawn for the DPI, the preview shows a
// picture at device resolution, and a DPI change lays everything out anew. These cases run in
// the shared prefix at 96 DPI and, through scripts/at-dpi.sh, in a prefix of their own at 144
// and 192 DPI (GLIMMERLY_TEST_DPI says which).

#include "DialogFixture.h"

#include "base/Dpi.h"

#include "resource.h"

#include <cmath>
#include <cstdlib>

namespace dialog_tests {
namespace {

// The DPI the run set for the screen.
unsigned ExpectedDpi() {
    wchar_t value[16] = {};
    if (!::GetEnvironmentVariableW(L"GLIMMERLY_TEST_DPI", value, 16)) return 96;
    return static_cast<unsigned>(std::wcstoul(value, nullptr, 10));
}

int FontHeight(HFONT font) {
    win::MemoryDc dc(::CreateCompatibleDC(nullptr));
    win::SelectObjectScope select(dc.Get(), font);
    TEXTMETRICW metrics = {};
    ::GetTextMetricsW(dc.Get(), &metrics);
    return metrics.tmHeight;
}

int TextWidth(HFONT font, const wchar_t* text) {
    win::MemoryDc dc(::CreateCompatibleDC(nullptr));
    win::SelectObjectScope select(dc.Get(), font);
    SIZE size = {};
    ::GetTextExtentPoint32W(dc.Get(), text, static_cast<int>(std::wcslen(text)), &size);
    return size.cx;
}

class DpiTest : public DialogTest {
protected:
    // A 96-DPI length at `dpi`, not rounded: what the layout must come within a pixel of.
    static double At(double px96, unsigned dpi) { return px96 * dpi / 96.0; }

    static void ExpectNear(const Box& actual, double x, double y, double width, double height,
                           const char* what) {
        SCOPED_TRACE(what);
        EXPECT_NEAR(actual.x, x, 1.0);
        EXPECT_NEAR(actual.y, y, 1.0);
        EXPECT_NEAR(actual.width, width, 1.0);
        EXPECT_NEAR(actual.height, height, 1.0);
    }

    // Every control, the caption rectangle, the minimum size and the strip's cells where the
    // 96-DPI layout scaled to `dpi` puts them for the current client size.
    void ExpectScaledLayout(unsigned dpi) {
        const SIZE client = ClientSize();
        const double w = client.cx, h = client.cy;
        const auto k = [dpi](double px96) { return At(px96, dpi); };
        SCOPED_TRACE(::testing::Message() << dpi << " DPI, client " << w << " x " << h);
        if (Dialog().categoryMode) {
            ExpectNear(ChildBox(CInstallerDlg::kTemplateListId), k(10), h - k(122), k(165), k(114),
                       "template list");
        } else {
            ExpectNear(ChildBox(CInstallerDlg::kTemplateListId), k(10), h - k(142), k(165), k(132),
                       "template list");
        }
        ExpectNear(ChildBox(CInstallerDlg::kThumbStripId), k(180), h - k(142), w - k(190), k(140),
                   "strip");
        ExpectNear(ChildBox(CInstallerDlg::kPreviewId), k(10), k(10), w - k(20), h - k(207),
                   "preview");
        ExpectNear(ChildBox(CInstallerDlg::kPrevId), k(70), h - k(182), k(24), k(25), "prev");
        ExpectNear(ChildBox(CInstallerDlg::kNextId), k(150), h - k(182), k(24), k(25), "next");
        ExpectNear(ChildBox(CInstallerDlg::kInstallId), w - k(180), h - k(182), k(77), k(25),
                   "install");
        ExpectNear(ChildBox(CInstallerDlg::kExitId), w - k(95), h - k(182), k(77), k(25), "exit");
        ExpectNear(ChildBox(CInstallerDlg::kBarId), k(10), h - k(190), w - k(20), k(42), "bar");
        ExpectNear(BoxOf(Dialog().captionRect), k(180), h - k(185), w - k(190), k(32), "caption");

        MINMAXINFO info = {};
        ::SendMessageW(Window(), WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
        EXPECT_NEAR(info.ptMinTrackSize.x, k(643), 1.0);
        EXPECT_NEAR(info.ptMinTrackSize.y, k(490), 1.0);
        EXPECT_NEAR(Dialog().thumbs.CellSize(), k(108), 1.0);
        const auto itemHeight =
            ::SendMessageW(Item(CInstallerDlg::kTemplateListId), LB_GETITEMHEIGHT, 0, 0);
        EXPECT_NEAR(static_cast<double>(itemHeight), k(18), 1.0);
        BITMAP logo = {};
        ASSERT_TRUE(::GetObjectW(Dialog().logoBitmap.Get(), sizeof logo, &logo));
        EXPECT_NEAR(logo.bmWidth, k(100), 1.0);
    }

    // The caption, the title and the counter fit their boxes in the dialog's font, and the
    // font is one for `dpi` (8 points are a cell 13 pixels high at 96 DPI; the bitmap font
    // has no size for every DPI).
    void ExpectTextsFit(unsigned dpi) {
        SCOPED_TRACE(::testing::Message() << dpi << " DPI");
        const HFONT font = Dialog().DialogFont();
        const int height = FontHeight(font);
        EXPECT_GE(height, At(10, dpi));
        const RECT caption = Dialog().captionRect;
        const double titleTop = At(15, dpi);
        EXPECT_LE(height, titleTop + 1) << "the caption runs into the title";
        EXPECT_LE(titleTop + height, caption.bottom - caption.top - 1 + 1.0)
            << "the title is cut at the frame";
        const double counterHeight = At(25, dpi) - At(4, dpi) - 1;
        EXPECT_LE(height, counterHeight + 1.0) << "the counter is cut";
        EXPECT_LE(TextWidth(font, L"999/999"), At(52, dpi) - 2) << "the counter is cut";
    }
};

TEST_F(DpiTest, ControlsLandAtTheScaledPositionsAndTextsFit) {
    const unsigned dpi = ExpectedDpi();
    Picture(Library() / "Alpha" / "one.bmp");
    Start();
    HDC screen = ::GetDC(nullptr);
    const int screenDpi = ::GetDeviceCaps(screen, LOGPIXELSX);
    ::ReleaseDC(nullptr, screen);
    ASSERT_EQ(screenDpi, static_cast<int>(dpi)) << "the run did not set the screen's DPI";
    ASSERT_EQ(Dialog().Dpi(), dpi);
    ExpectScaledLayout(dpi);
    ExpectTextsFit(dpi);

    // Restored to a size that fits the screen at every DPI.
    ResizeClient(static_cast<int>(At(640, dpi)), static_cast<int>(At(470, dpi)));
    ExpectScaledLayout(dpi);

    // A template name stands whole inside its bar: the text neither reaches the item's edges
    // nor stays at the 96-DPI size.
    CSkinListBox& list = Dialog().templateList;
    const int itemHeight =
        static_cast<int>(::SendMessageW(list.GetSafeHwnd(), LB_GETITEMHEIGHT, 0, 0));
    const int itemWidth = ChildBox(CInstallerDlg::kTemplateListId).width - 4;
    Canvas item(itemWidth, itemHeight);
    item.Fill(RGB(93, 95, 99));
    DRAWITEMSTRUCT draw = {
        ODT_LISTBOX, CInstallerDlg::kTemplateListId, 0, ODA_DRAWENTIRE, 0, list.GetSafeHwnd(),
        item.Dc(),   {0, 0, itemWidth, itemHeight},  0};
    list.DrawSkinItem(&draw);
    int top = itemHeight, bottom = -1;
    for (int y = 0; y < itemHeight; ++y) {
        for (int x = 0; x < itemWidth; ++x) {
            if (item.At(x, y) != RGB(0, 0, 0)) continue;
            top = std::min(top, y);
            bottom = std::max(bottom, y);
        }
    }
    ASSERT_GE(bottom, 0) << "no text drawn";
    EXPECT_GT(top, 0);
    EXPECT_LT(bottom, itemHeight - 1);
    EXPECT_GE(bottom - top + 1, At(7, dpi));  // "Alpha" is 8 pixels high at 96 DPI
}

TEST_F(DpiTest, SkinsAreTheOnesDrawnForTheDpi) {
    const unsigned dpi = ExpectedDpi();
    if (dpi != 96 && dpi != 144 && dpi != 192) GTEST_SKIP() << "no skin is drawn for " << dpi;
    Picture(Library() / "Alpha" / "one.bmp");
    Start();
    const UINT offset = dpi == 96 ? 0 : dpi == 144 ? IDB_SKIN_150 : IDB_SKIN_200;

    // The Prev button shows row 0 of its strip pixel for pixel.
    const std::unique_ptr<Canvas> strip = ResourceBitmap(IDB_PREV + offset);
    ASSERT_NE(strip, nullptr);
    const Box prev = ChildBox(CInstallerDlg::kPrevId);
    ASSERT_EQ(prev.width, strip->Width());
    ASSERT_EQ(prev.height * 5, strip->Height());
    Canvas button(prev.width, prev.height);
    DRAWITEMSTRUCT draw = {
        ODT_BUTTON, CInstallerDlg::kPrevId,       0,           ODA_DRAWENTIRE,
        0,          Item(CInstallerDlg::kPrevId), button.Dc(), {0, 0, prev.width, prev.height},
        0};
    Dialog().prevButton.DrawItem(&draw);
    EXPECT_EQ(CountDifferences(button, 0, 0, *strip, 0, 0, prev.width, prev.height), 0);

    // The selected template's bar likewise.
    const std::unique_ptr<Canvas> bar = ResourceBitmap(IDB_LIST_SELECTED + offset);
    ASSERT_NE(bar, nullptr);
    Canvas item(bar->Width(), bar->Height());
    DRAWITEMSTRUCT drawItem = {ODT_LISTBOX,
                               CInstallerDlg::kTemplateListId,
                               0,
                               ODA_DRAWENTIRE,
                               ODS_SELECTED,
                               Item(CInstallerDlg::kTemplateListId),
                               item.Dc(),
                               {0, 0, bar->Width(), bar->Height()},
                               0};
    Dialog().templateList.DrawSkinItem(&drawItem);
    // The gold tick at the left end lies outside the centred name.
    const int tick = bar->Width() / 20;
    EXPECT_EQ(CountDifferences(item, 0, 0, *bar, 0, 0, tick, bar->Height()), 0);
}

// A checkerboard of one-pixel squares exactly the size of the panel is shown one to one: at
// any DPI, the panel's client rectangle is in device pixels and nothing scales it again.
TEST_F(DpiTest, PreviewShowsOnePixelDetailAtDeviceResolution) {
    Picture(Library() / "Alpha" / "one.bmp");
    Start();
    RECT area = {};
    HWND panel = Item(CInstallerDlg::kPreviewId);
    ::GetClientRect(panel, &area);
    ASSERT_GT(area.right, 100);
    ASSERT_GT(area.bottom, 100);
    const stdfs::path board = root_ / "board.bmp";
    const auto square = [](uint32_t x, uint32_t y) {
        return (x + y) % 2 ? testing_support::Rgb{255, 255, 255} : testing_support::Rgb{0, 0, 0};
    };
    testing_support::WriteBmp(board, static_cast<uint32_t>(area.right),
                              static_cast<uint32_t>(area.bottom), square);
    SendSelected(0, Wide(board));
    PumpPending();
    Dialog().PaintPreview();
    const std::unique_ptr<Canvas> shown = CaptureClient(panel);
    int wrong = 0;
    const int frame = ui::Scale(1, ExpectedDpi());  // the frame drawn over the picture's edge
    for (int y = frame; y < area.bottom - frame; ++y) {
        for (int x = frame; x < area.right - frame; ++x) {
            const testing_support::Rgb want = square(x, y);
            wrong += shown->At(x, y) != RGB(want.r, want.g, want.b);
        }
    }
    EXPECT_EQ(wrong, 0) << "of " << (area.right - 2 * frame) * (area.bottom - 2 * frame)
                        << " pixels";
    // The frame itself is as thick as the DPI makes one pixel: black over both colours.
    for (int y : {area.bottom / 2, area.bottom / 2 + 1}) {
        EXPECT_EQ(shown->At(frame - 1, y), RGB(0, 0, 0)) << y;
        EXPECT_EQ(shown->At(area.right - frame, y), RGB(0, 0, 0)) << y;
    }
}

// WM_DPICHANGED (the window moved to a monitor of another DPI): the window takes the suggested
// rectangle and is laid out, skinned and lettered for the new DPI; back at the first DPI,
// everything is where it was.
TEST_F(DpiTest, ChangingTheDpiLaysOutAndReloadsForIt) {
    const unsigned first = ExpectedDpi();
    // The window must fit the 1280 x 1024 screen at its minimum size for either DPI. No skin is
    // drawn for 120 DPI: the skins are the 144-DPI ones made smaller.
    const unsigned second = first == 96 ? 120 : 96;
    Picture(Library() / "Alpha" / "one.bmp");
    Picture(Library() / "Alpha" / "two.bmp");
    Start();
    ::ShowWindow(Window(), SW_RESTORE);
    PumpPending();
    const auto change = [this](unsigned dpi, RECT suggested) {
        ::SendMessageW(Window(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                       reinterpret_cast<LPARAM>(&suggested));
        PumpPending();
        RECT window = {};
        ::GetWindowRect(Window(), &window);
        EXPECT_EQ(BoxOf(window), BoxOf(suggested));
    };
    const auto boxes = [this] {
        std::vector<Box> all;
        for (int id = CInstallerDlg::kThumbStripId; id <= CInstallerDlg::kCategoryId; ++id) {
            if (Item(id)) all.push_back(ChildBox(id));
        }
        return all;
    };
    const int firstHeight = FontHeight(Dialog().DialogFont());
    // Just above the minimum size at the larger DPI (at 192 DPI that is as wide as the screen).
    const RECT at = {0, 0, static_cast<int>(At(645, std::max(first, second))),
                     static_cast<int>(At(500, std::max(first, second)))};
    change(first, at);
    const std::vector<Box> before = boxes();

    change(second, at);
    EXPECT_EQ(Dialog().Dpi(), second);
    EXPECT_EQ(Dialog().thumbs.GetItemCount(), 2) << "the strip lost its items";
    ExpectScaledLayout(second);
    ExpectTextsFit(second);
    EXPECT_EQ(Dialog().thumbs.Dpi(), second);

    change(first, at);
    ExpectScaledLayout(first);
    EXPECT_EQ(FontHeight(Dialog().DialogFont()), firstHeight);
    EXPECT_EQ(boxes(), before);
}

}  // namespace
}  // namespace dialog_tests
