// The preview panel, the bar behind the buttons, the caption and the position counter: where
// the picture goes, the pixels painted, and the texts.

#include "DialogFixture.h"

#include "base/Utf.h"
#include "support/SampleImages.h"

#include <algorithm>

namespace dialog_tests {
namespace {

constexpr COLORREF kPanel = RGB(114, 119, 116);
constexpr COLORREF kBar = RGB(93, 95, 99);
constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kGreen = RGB(0, 255, 0);
constexpr COLORREF kBlue = RGB(0, 0, 255);
constexpr COLORREF kYellow = RGB(255, 255, 0);

bool operator==(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

TEST(FitPicture, WiderPictureFillsTheWidthAndIsCentredVertically) {
    EXPECT_TRUE(preview::FitPicture(1000, 500, 600, 400) == (RECT{0, 50, 600, 350}));
    // The drawn height is cut to an integer and the offset halved toward zero.
    EXPECT_TRUE(preview::FitPicture(1000, 500, 601, 401) == (RECT{0, 50, 601, 350}));
    EXPECT_TRUE(preview::FitPicture(700, 300, 601, 400) == (RECT{0, 71, 601, 328}));
}

TEST(FitPicture, TallerPictureFillsTheHeightAndIsCentredHorizontally) {
    EXPECT_TRUE(preview::FitPicture(500, 1000, 600, 400) == (RECT{200, 0, 400, 400}));
    EXPECT_TRUE(preview::FitPicture(300, 700, 600, 401) == (RECT{214, 0, 385, 401}));
}

TEST(FitPicture, EqualAspectFillsThePanel) {
    EXPECT_TRUE(preview::FitPicture(600, 400, 600, 400) == (RECT{0, 0, 600, 400}));
    EXPECT_TRUE(preview::FitPicture(3, 2, 600, 400) == (RECT{0, 0, 600, 400}));
    EXPECT_TRUE(preview::FitPicture(1500, 1000, 600, 400) == (RECT{0, 0, 600, 400}));
}

TEST(FitPicture, SmallPictureIsEnlarged) {
    EXPECT_TRUE(preview::FitPicture(60, 20, 600, 400) == (RECT{0, 100, 600, 300}));
    EXPECT_TRUE(preview::FitPicture(10, 40, 600, 400) == (RECT{250, 0, 350, 400}));
    EXPECT_TRUE(preview::FitPicture(1, 1, 600, 400) == (RECT{100, 0, 500, 400}));
}

class PreviewTest : public DialogTest {
protected:
    void QuadrantPicture(const stdfs::path& path, uint32_t width, uint32_t height) {
        stdfs::create_directories(path.parent_path());
        ASSERT_TRUE(
            sample::Write(sample::Format::Bmp, sample::QuadrantPicture(width, height), path));
    }

    // Paints the preview now and reads back the panel, the bar and the dialog.
    void PaintAndCapture() {
        PumpPending();
        Dialog().PaintPreview();
        panel_ = CaptureClient(Item(CInstallerDlg::kPreviewId));
        bar_ = CaptureClient(Item(CInstallerDlg::kBarId));
        dialog_pixels_ = CaptureClient(Window());
    }

    // The fitted picture with its frame, and the panel's background around it.
    void ExpectFittedPicture(const RECT& fit) {
        const Canvas& p = *panel_;
        const int midX = (fit.left + fit.right) / 2;
        const int midY = (fit.top + fit.bottom) / 2;
        // Frame on the rectangle's edge.
        for (const POINT point : {POINT{fit.left, midY}, POINT{fit.right - 1, midY},
                                  POINT{midX, fit.top}, POINT{midX, fit.bottom - 1},
                                  POINT{fit.left, fit.top}, POINT{fit.right - 1, fit.bottom - 1}}) {
            EXPECT_EQ(p.At(point.x, point.y), kBlack) << point.x << "," << point.y;
        }
        // The picture the right way up inside it.
        const int inset = 4;
        EXPECT_EQ(p.At(fit.left + inset, fit.top + inset), kRed);
        EXPECT_EQ(p.At(fit.right - 1 - inset, fit.top + inset), kGreen);
        EXPECT_EQ(p.At(fit.left + inset, fit.bottom - 1 - inset), kBlue);
        EXPECT_EQ(p.At(fit.right - 1 - inset, fit.bottom - 1 - inset), kYellow);
        // Background all around.
        if (fit.top > 0) {
            EXPECT_EQ(p.At(midX, fit.top - 1), kPanel);
            EXPECT_EQ(p.At(midX, fit.bottom), kPanel);
            EXPECT_EQ(p.At(0, 0), kPanel);
            EXPECT_EQ(p.At(p.Width() - 1, p.Height() - 1), kPanel);
        }
        if (fit.left > 0) {
            EXPECT_EQ(p.At(fit.left - 1, midY), kPanel);
            EXPECT_EQ(p.At(fit.right, midY), kPanel);
            EXPECT_EQ(p.At(0, 0), kPanel);
            EXPECT_EQ(p.At(p.Width() - 1, p.Height() - 1), kPanel);
        }
    }

    // The logo bitmap unscaled in the middle of the panel, nothing else.
    void ExpectLogo() {
        const std::unique_ptr<Canvas> logo = ResourceBitmap(CInstallerDlg::kLogoBitmapId);
        ASSERT_TRUE(logo);
        const Canvas& p = *panel_;
        const int x = (p.Width() - logo->Width()) / 2;
        const int y = (p.Height() - logo->Height()) / 2;
        EXPECT_EQ(CountDifferences(p, x, y, *logo, 0, 0, logo->Width(), logo->Height()), 0);
        EXPECT_EQ(p.At(x - 1, y + 50), kPanel);
        EXPECT_EQ(p.At(x + logo->Width(), y + 50), kPanel);
        EXPECT_EQ(p.At(x + 50, y - 1), kPanel);
        EXPECT_EQ(p.At(x + 50, y + logo->Height()), kPanel);
        EXPECT_EQ(p.At(0, 0), kPanel);
        EXPECT_EQ(p.At(p.Width() - 1, p.Height() - 1), kPanel);
    }

    // Whether some pixel of the dialog inside `area` has the text colour.
    bool HasTextIn(const RECT& area) const { return TextWidthIn(area) > 0; }

    // From the first to the last column inside `area` with a pixel of the text colour.
    int TextWidthIn(const RECT& area) const {
        int first = area.right, last = area.left - 1;
        for (int y = area.top; y < area.bottom; ++y) {
            for (int x = area.left; x < area.right; ++x) {
                if (dialog_pixels_->At(x, y) != RGB(200, 200, 200)) continue;
                first = std::min(first, x);
                last = std::max(last, x);
            }
        }
        return last >= first ? last - first + 1 : 0;
    }

    // The width of `text` in the dialog's font.
    int TextExtent(const std::wstring& text) const {
        win::WindowDc dc(Window());
        win::SelectObjectScope font(
            dc.Get(), reinterpret_cast<HGDIOBJ>(::SendMessageW(Window(), WM_GETFONT, 0, 0)));
        SIZE size = {};
        ::GetTextExtentPoint32W(dc.Get(), text.c_str(), static_cast<int>(text.size()), &size);
        return size.cx;
    }

    std::unique_ptr<Canvas> panel_;
    std::unique_ptr<Canvas> bar_;
    std::unique_ptr<Canvas> dialog_pixels_;
};

TEST_F(PreviewTest, PictureIsFittedIntoThePanelAndFramed) {
    QuadrantPicture(Library() / "Mixed" / "a_wide.bmp", 400, 100);
    QuadrantPicture(Library() / "Mixed" / "b_tall.bmp", 100, 400);
    QuadrantPicture(Library() / "Mixed" / "c_small.bmp", 50, 20);
    Start();
    ResizeClient(800, 600);
    const int panelWidth = 780;
    const int panelHeight = 600 - 207;

    Dialog().thumbs.SelectItems(IndexOfFile(L"a_wide.bmp"), -1);
    PaintAndCapture();
    ASSERT_EQ(panel_->Width(), panelWidth);
    ASSERT_EQ(panel_->Height(), panelHeight);
    // 780 / 4 = 195 high, (393 - 195) / 2 = 99 down.
    ExpectFittedPicture({0, 99, 780, 294});

    Dialog().thumbs.SelectItems(IndexOfFile(L"b_tall.bmp"), -1);
    PaintAndCapture();
    // 393 / 4 = 98 wide, (780 - 98) / 2 = 341 across.
    ExpectFittedPicture({341, 0, 439, 393});

    // A small picture is enlarged to the panel's width: 780 / 2.5 = 312 high.
    Dialog().thumbs.SelectItems(IndexOfFile(L"c_small.bmp"), -1);
    PaintAndCapture();
    ExpectFittedPicture({0, 40, 780, 352});
}

TEST_F(PreviewTest, LogoIsCentredWhenNothingIsSelected) {
    Start();                 // no templates at all
    ResizeClient(801, 601);  // odd sizes: the offsets are halved toward zero
    PaintAndCapture();
    ASSERT_EQ(panel_->Width(), 781);
    ASSERT_EQ(panel_->Height(), 394);
    ExpectLogo();

    // A panel smaller than the logo shows its middle part.
    ::SetWindowPos(Item(CInstallerDlg::kPreviewId), nullptr, 10, 10, 61, 41,
                   SWP_NOZORDER | SWP_NOACTIVATE);
    Dialog().PaintPreview();
    panel_ = CaptureClient(Item(CInstallerDlg::kPreviewId));
    const std::unique_ptr<Canvas> logo = ResourceBitmap(CInstallerDlg::kLogoBitmapId);
    ASSERT_TRUE(logo);
    // Offsets (61 - 100) / 2 = -19 and (41 - 100) / 2 = -29.
    EXPECT_EQ(CountDifferences(*panel_, 0, 0, *logo, 19, 29, 61, 41), 0);
}

TEST_F(PreviewTest, EmptyTemplateOrUnloadableFileShowsTheLogo) {
    QuadrantPicture(Library() / "Alpha" / "a.bmp", 64, 64);
    testing_support::WriteFile(Library() / "Broken" / "broken.bmp", "BM nothing a decoder can use");
    stdfs::create_directories(Library() / "Empty");
    Start();
    ResizeClient(700, 520);
    PaintAndCapture();
    ExpectFittedPicture({183, 0, 496, 313});  // 313 square, (680 - 313) / 2 across

    for (const wchar_t* name : {L"Empty", L"Broken"}) {
        SCOPED_TRACE(text::ToUtf8(name));
        Dialog().templateList.SetCurSel(static_cast<int>(
            ::SendMessageW(Item(CInstallerDlg::kTemplateListId), LB_FINDSTRINGEXACT,
                           static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(name))));
        Notify(CInstallerDlg::kTemplateListId, LBN_SELCHANGE);
        EXPECT_FALSE(Dialog().PreviewPicture());
        // The repaint that follows shows the logo.
        PumpPending();
        panel_ = CaptureClient(Item(CInstallerDlg::kPreviewId));
        ExpectLogo();
    }
}

TEST_F(PreviewTest, BarHasItsColourAndEdgeLinesBrightestInTheMiddle) {
    QuadrantPicture(Library() / "Alpha" / "a.bmp", 64, 64);
    Start();
    ResizeClient(800, 600);
    PaintAndCapture();
    const Canvas& b = *bar_;
    ASSERT_EQ(b.Width(), 780);
    ASSERT_EQ(b.Height(), 42);
    const int half = 390;

    EXPECT_EQ(b.At(5, 20), kBar);
    EXPECT_EQ(b.At(half, 2), kBar);
    EXPECT_EQ(b.At(half, b.Height() - 3), kBar);
    for (const int y : {0, 1, b.Height() - 2, b.Height() - 1}) {
        SCOPED_TRACE(::testing::Message() << "row " << y);
        EXPECT_TRUE(IsWhite(b.At(half, y)));
        // From the bar colour at both ends, brighter toward the middle.
        EXPECT_LE(Brightness(b.At(0, y)), Brightness(kBar) + 6);
        EXPECT_LE(Brightness(b.At(b.Width() - 1, y)), Brightness(kBar) + 6);
        EXPECT_LT(Brightness(b.At(0, y)), Brightness(b.At(half / 4, y)));
        EXPECT_LT(Brightness(b.At(half / 4, y)), Brightness(b.At(half / 2, y)));
        EXPECT_LT(Brightness(b.At(half / 2, y)), Brightness(b.At(3 * half / 4, y)));
        EXPECT_LT(Brightness(b.At(3 * half / 4, y)), Brightness(b.At(half, y)));
        EXPECT_GT(Brightness(b.At(half, y)), Brightness(b.At(half + half / 4, y)));
        EXPECT_GT(Brightness(b.At(half + half / 4, y)), Brightness(b.At(half + half / 2, y)));
        EXPECT_GT(Brightness(b.At(half + half / 2, y)), Brightness(b.At(b.Width() - 1, y)));
        // Grey all the way: the gradient runs between two greys.
        const COLORREF quarter = b.At(half / 2, y);
        EXPECT_NEAR(GetRValue(quarter), (93 + 255) / 2, 6);
        EXPECT_NEAR(GetBValue(quarter), (99 + 255) / 2, 6);
    }
    // No Logo.bmp: nothing is drawn where it would go.
    EXPECT_EQ(b.At(1, 3), kBar);
}

TEST_F(PreviewTest, BarShowsLogoImageAtItsOwnSize) {
    QuadrantPicture(Library() / "Alpha" / "a.bmp", 64, 64);
    Picture(Library() / "Logo.bmp", 30, 20, {10, 200, 90});
    Start();
    ResizeClient(800, 600);
    PaintAndCapture();
    const Canvas& b = *bar_;
    const COLORREF logo = RGB(10, 200, 90);
    EXPECT_EQ(b.At(1, 3), logo);
    EXPECT_EQ(b.At(30, 22), logo);
    EXPECT_EQ(b.At(15, 12), logo);
    EXPECT_EQ(b.At(31, 10), kBar);
    EXPECT_EQ(b.At(10, 23), kBar);
    EXPECT_EQ(b.At(0, 10), kBar);
    EXPECT_EQ(b.At(10, 2), kBar);
}

TEST_F(PreviewTest, CaptionAreaAndCounterAreFramedWithTheirTexts) {
    QuadrantPicture(Library() / "Alpha" / "Sunset.bmp", 64, 64);
    Start();
    ResizeClient(800, 600);
    PaintAndCapture();
    const Canvas& d = *dialog_pixels_;
    const int h = 600;
    // The caption area's frame: left 180, top H - 185, right W - 10, bottom H - 153.
    for (const POINT point :
         {POINT{180, h - 185}, POINT{789, h - 185}, POINT{180, h - 154}, POINT{789, h - 154},
          POINT{480, h - 185}, POINT{480, h - 154}, POINT{180, h - 170}, POINT{789, h - 170}}) {
        EXPECT_EQ(d.At(point.x, point.y), kBlack) << point.x << "," << point.y;
    }
    EXPECT_NE(d.At(181, h - 184), kBlack);
    // The counter's frame between the two buttons: left 96, top H - 182, right 148, bottom H - 157.
    for (const POINT point : {POINT{96, h - 182}, POINT{147, h - 182}, POINT{96, h - 158},
                              POINT{147, h - 158}, POINT{120, h - 182}, POINT{120, h - 158}}) {
        EXPECT_EQ(d.At(point.x, point.y), kBlack) << point.x << "," << point.y;
    }
    // Caption on the first line, title below, the counter inside its frame.
    EXPECT_TRUE(HasTextIn({181, h - 184, 789, h - 170}));
    EXPECT_TRUE(HasTextIn({181, h - 170, 789, h - 155}));
    EXPECT_TRUE(HasTextIn({97, h - 178, 147, h - 159}));
    EXPECT_FALSE(HasTextIn({97, h - 181, 147, h - 178}));  // the text starts 4 pixels down
}

// Names are drawn as they are: an ampersand is neither dropped nor turned into an underline.
TEST_F(PreviewTest, CaptionAndTitleShowAmpersands) {
    QuadrantPicture(Library() / "Salt & Pepper" / "Salt & Pepper.bmp", 64, 64);
    Start();
    ResizeClient(800, 600);
    PaintAndCapture();
    const int h = 600;
    const int whole = TextExtent(L"Salt & Pepper");
    ASSERT_GE(whole - TextExtent(L"Salt  Pepper"), 4);  // the ampersand is visibly wide
    for (const RECT line : {RECT{181, h - 184, 789, h - 170}, RECT{181, h - 170, 789, h - 155}}) {
        const int drawn = TextWidthIn(line);
        EXPECT_GE(drawn, whole - 2) << line.top;
        EXPECT_LE(drawn, whole) << line.top;
    }
}

TEST_F(PreviewTest, CounterCountsFromOne) {
    QuadrantPicture(Library() / "Alpha" / "a.bmp", 16, 16);
    QuadrantPicture(Library() / "Alpha" / "b.bmp", 16, 16);
    QuadrantPicture(Library() / "Alpha" / "c.bmp", 16, 16);
    QuadrantPicture(Library() / "Alpha" / "d.bmp", 16, 16);
    stdfs::create_directories(Library() / "Beta");
    Start();
    EXPECT_EQ(Dialog().CounterText(), L"1/4");
    Dialog().OnNext();
    Dialog().OnNext();
    EXPECT_EQ(Dialog().CounterText(), L"3/4");
    Dialog().selectedIndex = -1;
    EXPECT_EQ(Dialog().CounterText(), L"0/4");

    Dialog().templateList.SetCurSel(1);
    Dialog().OnSelchangeTemplateList();
    EXPECT_EQ(Dialog().CounterText(), L"0/0");
}

TEST_F(PreviewTest, FolderModeCaptionIsTheSelectedTemplate) {
    QuadrantPicture(Library() / "Alpha" / "a.bmp", 16, 16);
    QuadrantPicture(Library() / "Beta" / "b.bmp", 16, 16);
    Start();
    Dialog().PaintPreview();
    EXPECT_EQ(Dialog().caption, L"Alpha");

    Dialog().templateList.SetCurSel(1);
    Notify(CInstallerDlg::kTemplateListId, LBN_SELCHANGE);
    Dialog().PaintPreview();
    EXPECT_EQ(Dialog().caption, L"Beta");

    // With no template selected the caption keeps its text.
    Dialog().templateList.SetCurSel(-1);
    Dialog().PaintPreview();
    EXPECT_EQ(Dialog().caption, L"Beta");
}

TEST_F(PreviewTest, FolderModeWithoutTemplatesIsCaptionedWithTheProgramsName) {
    Start();
    Dialog().PaintPreview();
    EXPECT_EQ(Dialog().caption, L"Glimmerly");
    EXPECT_EQ(Dialog().previewTitle, L"");
    EXPECT_EQ(Dialog().CounterText(), L"0/0");
}

TEST_F(PreviewTest, CategoryModeCaptionComesFromTheCategorysOwnConfiguration) {
    WriteIni("[CATEGORY]\r\n1\r\n");
    QuadrantPicture(Library() / "Nature" / "Trees" / "oak.bmp", 16, 16);
    WriteIni("[INFO]\r\nPictures of the outdoors\r\nsecond line\r\n", Library() / "Nature");
    QuadrantPicture(Library() / "Plain" / "Walls" / "brick.bmp", 16, 16);
    QuadrantPicture(Library() / "Other" / "Misc" / "thing.bmp", 16, 16);
    WriteIni("[CATEGORY]\r\n1\r\n", Library() / "Other");  // its own file, without [INFO]
    Start();

    const std::pair<const wchar_t*, const wchar_t*> expected[] = {
        {L"Nature", L"Pictures of the outdoors"},
        {L"Plain", L"Glimmerly"},
        {L"Other", L"Glimmerly"},
        {L"Nature", L"Pictures of the outdoors"},
    };
    for (const auto& [category, caption] : expected) {
        SCOPED_TRACE(text::ToUtf8(category));
        const int index = static_cast<int>(
            ::SendMessageW(Item(CInstallerDlg::kCategoryId), CB_FINDSTRINGEXACT,
                           static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(category)));
        ASSERT_GE(index, 0);
        ::SendMessageW(Item(CInstallerDlg::kCategoryId), CB_SETCURSEL, index, 0);
        Notify(CInstallerDlg::kCategoryId, CBN_SELCHANGE);
        Dialog().PaintPreview();
        EXPECT_EQ(Dialog().caption, caption);
    }
}

TEST_F(PreviewTest, PaintingAsksTheButtonsToDrawAgain) {
    QuadrantPicture(Library() / "Alpha" / "a.bmp", 16, 16);
    Start();
    PumpPending();
    for (int id : {CInstallerDlg::kPrevId, CInstallerDlg::kNextId}) {
        ::ValidateRect(Item(id), nullptr);
        ASSERT_FALSE(::GetUpdateRect(Item(id), nullptr, FALSE));
    }
    Dialog().PaintPreview();
    for (int id : {CInstallerDlg::kPrevId, CInstallerDlg::kNextId}) {
        RECT update = {};
        EXPECT_TRUE(::GetUpdateRect(Item(id), &update, FALSE)) << id;
        EXPECT_EQ(BoxOf(update), (Box{0, 0, 24, 25})) << id;
    }
}

}  // namespace
}  // namespace dialog_tests
