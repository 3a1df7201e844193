// Painting one cell: background, frame, thumbnail or placeholder icon, caption and number.
// Cells are drawn into a bitmap and read back pixel by pixel; text is checked by where its
// opaque background box lies, never by glyph shapes.
#include "thumblist/ThumbListCtrl.h"

#include "Canvas.h"
#include "ControlFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using testing_support::Canvas;
using testing_support::ControlHost;
using testing_support::HostedControl;
using testing_support::IndexOfFile;
using testing_support::TempDir;

constexpr COLORREF kSentinel = RGB(1, 2, 3);
constexpr COLORREF kCell = RGB(0x20, 0x40, 0x60);
constexpr COLORREF kSelected = RGB(0x90, 0x30, 0x10);
constexpr COLORREF kCaption = RGB(0xFF, 0xFF, 0xFF);
constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kGreen = RGB(0, 255, 0);

// Where the cells are drawn on the canvas: a 108-pixel cell (100 x 100 thumbnails).
constexpr int L = 20, T = 30, S = 108, R = L + S, B = T + S;
constexpr RECT kCellRect = {L, T, R, B};

ThumbListParams DrawingParams(unsigned flags) {
    ThumbListParams params = ControlHost::DialogParams();
    params.styleFlags = TLF_HORIZONTAL | TLF_SINGLESEL | TLF_BKCOLOR | flags;
    params.cellColor = kCell;
    params.selectedColor = kSelected;
    params.captionColor = kCaption;
    return params;
}

// The pictures every drawing test uses: a wide red and a tall green picture, and a file with
// a picture's name that cannot be decoded, so it never gets a thumbnail.
void WritePictures(const TempDir& temp) {
    testing_support::WriteSolidBmp(temp / "wide.bmp", 100, 50, {255, 0, 0});
    testing_support::WriteSolidBmp(temp / "tall.bmp", 50, 100, {0, 255, 0});
    testing_support::WriteFile(temp / "broken.bmp", "this is not a picture");
}

// A control over a folder whose thumbnails are all made.
struct ListedControl {
    explicit ListedControl(unsigned flags, const std::vector<std::string>& extraNames = {})
        : hosted(DrawingParams(flags), 400, 250) {
        WritePictures(temp);
        for (const std::string& name : extraNames)
            testing_support::WriteFile(temp / name, "no picture either");
        count = hosted.control.SetFolder(temp.Wide().c_str(), false);
        ready = testing_support::WaitForThumbnails(hosted.control);
    }
    int Index(const std::wstring& name) const { return IndexOfFile(hosted.control, name); }
    // Draws item `name` at kCellRect onto a canvas filled with the sentinel colour.
    void Draw(Canvas& canvas, const std::wstring& name, UINT state) {
        canvas.Fill(kSentinel);
        hosted.control.DrawCell(canvas.Dc(), Index(name), kCellRect, state);
    }

    TempDir temp;
    HostedControl hosted;
    int count = 0;
    bool ready = false;
};

// The caption font as the control makes it, to measure texts with.
class CaptionFont {
public:
    CaptionFont() {
        dc_.Reset(::CreateCompatibleDC(nullptr));
        font_.Reset(::CreateFontW(-11, 0, 0, 0, 500, FALSE, FALSE, FALSE, 0, OUT_DEFAULT_PRECIS,
                                  CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, L"Arial"));
        previous_ = ::SelectObject(dc_.Get(), font_.Get());
    }
    ~CaptionFont() { ::SelectObject(dc_.Get(), previous_); }
    CaptionFont(const CaptionFont&) = delete;
    CaptionFont& operator=(const CaptionFont&) = delete;

    int Width(const std::wstring& text) const {
        SIZE size = {};
        ::GetTextExtentPoint32W(dc_.Get(), text.c_str(), static_cast<int>(text.size()), &size);
        return size.cx;
    }
    TEXTMETRICW Metrics() const {
        TEXTMETRICW metrics = {};
        ::GetTextMetricsW(dc_.Get(), &metrics);
        return metrics;
    }

private:
    win::MemoryDc dc_;
    win::UniqueFont font_;
    HGDIOBJ previous_ = nullptr;
};

// The smallest rectangle holding every pixel of `area` whose colour passes `wanted`; empty
// when there is none.
template <class Wanted>
RECT BoxWhere(const Canvas& canvas, RECT area, Wanted wanted) {
    RECT box = {area.right, area.bottom, area.left, area.top};
    for (int y = area.top; y < area.bottom; ++y) {
        for (int x = area.left; x < area.right; ++x) {
            if (!wanted(canvas.At(x, y))) continue;
            box.left = std::min<LONG>(box.left, x);
            box.top = std::min<LONG>(box.top, y);
            box.right = std::max<LONG>(box.right, x + 1);
            box.bottom = std::max<LONG>(box.bottom, y + 1);
        }
    }
    return box;
}

RECT BoxOf(const Canvas& canvas, RECT area, COLORREF color) {
    return BoxWhere(canvas, area, [color](COLORREF c) { return c == color; });
}

RECT BoxOfOthers(const Canvas& canvas, RECT area, COLORREF background) {
    return BoxWhere(canvas, area, [background](COLORREF c) { return c != background; });
}

bool IsEmpty(const RECT& box) {
    return box.left >= box.right || box.top >= box.bottom;
}

int CountOf(const Canvas& canvas, RECT area, COLORREF color) {
    int count = 0;
    for (int y = area.top; y < area.bottom; ++y) {
        for (int x = area.left; x < area.right; ++x) count += canvas.At(x, y) == color;
    }
    return count;
}

// Inside the frame: the cell without its one-pixel border.
constexpr RECT kInside = {L + 1, T + 1, R - 1, B - 1};
// The caption band, and the part of the cell above it.
constexpr RECT kBand = {L + 1, B - 26, R - 1, B - 1};
constexpr RECT kAboveBand = {L + 1, T + 1, R - 1, B - 26};

TEST(ThumbListDrawing, FillsAndFramesTheCellAndTouchesNothingElse) {
    ListedControl listed(TLF_NOCAPTION);
    ASSERT_EQ(listed.count, 3);
    ASSERT_TRUE(listed.ready);
    Canvas canvas(200, 200);
    for (const UINT state : {0u, UINT{CDIS_SELECTED}}) {
        SCOPED_TRACE(state);
        const COLORREF fill = state ? kSelected : kCell;
        listed.Draw(canvas, L"wide.bmp", state);
        EXPECT_EQ(canvas.At(L + 1, T + 10), fill);
        EXPECT_EQ(canvas.At(R - 2, T + 10), fill);
        EXPECT_EQ(canvas.At(L + 50, T + 1), fill);
        EXPECT_EQ(canvas.At(L + 50, B - 2), fill);
        // A black frame one pixel wide on all four edges.
        for (int i = 0; i < S; ++i) {
            ASSERT_EQ(canvas.At(L, T + i), COLORREF{0}) << i;
            ASSERT_EQ(canvas.At(R - 1, T + i), COLORREF{0}) << i;
            ASSERT_EQ(canvas.At(L + i, T), COLORREF{0}) << i;
            ASSERT_EQ(canvas.At(L + i, B - 1), COLORREF{0}) << i;
        }
        // Only the cell is copied to the target.
        for (int i = -1; i <= S; ++i) {
            ASSERT_EQ(canvas.At(L - 1, T + i), kSentinel) << i;
            ASSERT_EQ(canvas.At(R, T + i), kSentinel) << i;
            ASSERT_EQ(canvas.At(L + i, T - 1), kSentinel) << i;
            ASSERT_EQ(canvas.At(L + i, B), kSentinel) << i;
        }
    }
}

TEST(ThumbListDrawing, AnIndexWithoutRecordDrawsNothing) {
    ListedControl listed(0);
    ASSERT_TRUE(listed.ready);
    Canvas canvas(200, 200);
    for (const int index : {-1, listed.count, 1000}) {
        canvas.Fill(kSentinel);
        listed.hosted.control.DrawCell(canvas.Dc(), index, kCellRect, 0);
        EXPECT_EQ(CountOf(canvas, {0, 0, 200, 200}, kSentinel), 200 * 200) << index;
    }
}

TEST(ThumbListDrawing, TheBorderTakesTheItemsColourAndWidth) {
    ListedControl listed(TLF_NOCAPTION);
    ASSERT_TRUE(listed.ready);
    const int index = listed.Index(L"wide.bmp");
    listed.hosted.control.SetItemBorder(index, RGB(0, 200, 0), 3);
    Canvas canvas(200, 200);
    listed.Draw(canvas, L"wide.bmp", 0);
    // A three-pixel pen is centred on the frame's lines; what lies outside the cell is not copied.
    for (const int y : {T + 10, T + 50, B - 10}) {
        EXPECT_EQ(canvas.At(L, y), RGB(0, 200, 0)) << y;
        EXPECT_EQ(canvas.At(L + 1, y), RGB(0, 200, 0)) << y;
        EXPECT_EQ(canvas.At(L + 2, y), kCell) << y;
        EXPECT_EQ(canvas.At(R - 1, y), RGB(0, 200, 0)) << y;
        EXPECT_EQ(canvas.At(R - 2, y), RGB(0, 200, 0)) << y;
        EXPECT_EQ(canvas.At(R - 3, y), kCell) << y;
        EXPECT_EQ(canvas.At(L - 1, y), kSentinel) << y;
    }
    EXPECT_EQ(canvas.At(L + 50, T + 1), RGB(0, 200, 0));
    EXPECT_EQ(canvas.At(L + 50, T + 2), kCell);
    EXPECT_EQ(canvas.At(L + 50, B - 2), RGB(0, 200, 0));
    EXPECT_EQ(canvas.At(L + 50, B - 3), kCell);

    // Another item keeps its thin black frame.
    listed.Draw(canvas, L"tall.bmp", 0);
    EXPECT_EQ(canvas.At(L, T + 10), COLORREF{0});
    EXPECT_EQ(canvas.At(L + 1, T + 10), kCell);
}

TEST(ThumbListDrawing, TheThumbnailIsCentredAndItsCanvasIsTransparent) {
    ListedControl listed(TLF_NOCAPTION);
    ASSERT_TRUE(listed.ready);
    Canvas canvas(200, 200);
    for (const UINT state : {0u, UINT{CDIS_SELECTED}}) {
        SCOPED_TRACE(state);
        const COLORREF fill = state ? kSelected : kCell;

        // 100 x 50 on a 100 x 100 canvas: rows 25 to 74 of an image box at (L + 4, T + 4).
        listed.Draw(canvas, L"wide.bmp", state);
        EXPECT_EQ(BoxOfOthers(canvas, kInside, fill).left, L + 4);
        const RECT red = {L + 4, T + 29, L + 104, T + 79};
        EXPECT_EQ(CountOf(canvas, red, kRed), 100 * 50);
        EXPECT_EQ(CountOf(canvas, kInside, kRed), 100 * 50);
        EXPECT_EQ(CountOf(canvas, kInside, fill), (S - 2) * (S - 2) - 100 * 50);
        EXPECT_EQ(CountOf(canvas, kInside, RGB(255, 0, 255)), 0);

        // 50 x 100: columns 25 to 74.
        listed.Draw(canvas, L"tall.bmp", state);
        const RECT green = {L + 29, T + 4, L + 79, T + 104};
        EXPECT_EQ(CountOf(canvas, green, kGreen), 50 * 100);
        EXPECT_EQ(CountOf(canvas, kInside, fill), (S - 2) * (S - 2) - 50 * 100);
    }
}

TEST(ThumbListDrawing, AnItemWithoutThumbnailShowsTheIconInTheMiddle) {
    ListedControl listed(TLF_NOCAPTION);
    ASSERT_TRUE(listed.ready);
    ThumbItem broken;
    ASSERT_TRUE(listed.hosted.control.ItemSnapshot(listed.Index(L"broken.bmp"), broken));
    ASSERT_EQ(broken.hasThumbnail, 0);

    Canvas canvas(200, 200);
    listed.Draw(canvas, L"broken.bmp", 0);
    // The system information icon, 32 x 32, with its corner at (L + 38, T + 38).
    Canvas expected(200, 200);
    expected.Fill(kCell);
    ::DrawIcon(expected.Dc(), L + 38, T + 38, ::LoadIconW(nullptr, IDI_ASTERISK));
    const RECT drawn = BoxOfOthers(canvas, kInside, kCell);
    ASSERT_FALSE(IsEmpty(drawn));
    EXPECT_GE(drawn.left, L + 38);
    EXPECT_GE(drawn.top, T + 38);
    EXPECT_LE(drawn.right, L + 70);
    EXPECT_LE(drawn.bottom, T + 70);
    for (int y = T + 38; y < T + 70; ++y) {
        for (int x = L + 38; x < L + 70; ++x)
            ASSERT_EQ(canvas.At(x, y), expected.At(x, y)) << x << "," << y;
    }
}

// The box that a text's opaque background occupies in a selected cell: the text stands on
// the cell colour there. (Glyphs may reach a pixel beyond their box, so the box is found by
// its colour.)
RECT TextBox(const Canvas& canvas, RECT area) {
    return BoxOf(canvas, area, kCell);
}
RECT CaptionBox(const Canvas& canvas) {
    return TextBox(canvas, kBand);
}

TEST(ThumbListDrawing, TheCaptionIsTheFileNameCentredInTheBand) {
    ListedControl listed(0);
    ASSERT_TRUE(listed.ready);
    const CaptionFont font;
    const int height = font.Metrics().tmHeight;
    Canvas canvas(200, 200);

    listed.Draw(canvas, L"wide.bmp", CDIS_SELECTED);
    const RECT box = CaptionBox(canvas);
    ASSERT_FALSE(IsEmpty(box));
    EXPECT_EQ(box.right - box.left, font.Width(L"wide.bmp"));
    EXPECT_LE(std::abs((box.left - (L + 7)) - ((R - 7) - box.right)), 1);
    EXPECT_EQ(box.bottom - box.top, height);
    EXPECT_LE(std::abs((box.top - (B - 25)) - ((B - 1) - box.bottom)), 1);
    // In a selected cell the text stands on a box of the cell colour, in the caption colour.
    EXPECT_GT(CountOf(canvas, box, kCaption), 0);
    EXPECT_EQ(CountOf(canvas, kAboveBand, kCaption), 0);

    listed.Draw(canvas, L"tall.bmp", 0);
    EXPECT_GT(CountOf(canvas, kBand, kCaption), 0);
}

TEST(ThumbListDrawing, HiddenExtensionsLoseOnlyTheLastPart) {
    ListedControl listed(TLF_HIDEEXT, {"two.dots.bmp"});
    ASSERT_TRUE(listed.ready);
    const CaptionFont font;
    Canvas canvas(200, 200);
    listed.Draw(canvas, L"wide.bmp", CDIS_SELECTED);
    RECT box = CaptionBox(canvas);
    EXPECT_EQ(box.right - box.left, font.Width(L"wide"));
    listed.Draw(canvas, L"two.dots.bmp", CDIS_SELECTED);
    box = CaptionBox(canvas);
    EXPECT_EQ(box.right - box.left, font.Width(L"two.dots"));
}

TEST(ThumbListDrawing, WithoutCaptionsTheBandStaysEmpty) {
    ListedControl listed(TLF_NOCAPTION);
    ASSERT_TRUE(listed.ready);
    Canvas canvas(200, 200);
    listed.Draw(canvas, L"broken.bmp", CDIS_SELECTED);
    EXPECT_TRUE(IsEmpty(CaptionBox(canvas)));
    EXPECT_EQ(CountOf(canvas, kInside, kCaption), 0);
}

TEST(ThumbListDrawing, NumbersStandInTheTopRightCorner) {
    // Twelve more files so that two-digit positions exist.
    std::vector<std::string> names;
    for (int i = 0; i < 12; ++i) names.push_back("n" + std::to_string(10 + i) + ".bmp");
    for (const unsigned flags : {unsigned{TLF_NUMBERS}, TLF_NUMBERS | TLF_NOCAPTION}) {
        SCOPED_TRACE(flags);
        ListedControl listed(flags, names);
        ASSERT_EQ(listed.count, 15);
        ASSERT_TRUE(listed.ready);
        const CaptionFont font;
        const int height = font.Metrics().tmHeight;
        Canvas canvas(200, 200);
        // The cell's corner above the image: the thumbnails' canvas is transparent there.
        const RECT corner = {L + 1, T + 1, R - 1, T + 25};
        for (const int index : {0, 8, 9, 14}) {
            SCOPED_TRACE(index);
            canvas.Fill(kSentinel);
            listed.hosted.control.DrawCell(canvas.Dc(), index, kCellRect, CDIS_SELECTED);
            const std::wstring number = std::to_wstring(index + 1);
            const RECT box = TextBox(canvas, corner);
            // Left edge 15 pixels and one more per digit in from the right edge, 3 below the top.
            EXPECT_EQ(box.left, R - 15 - static_cast<int>(number.size()));
            EXPECT_EQ(box.top, T + 3);
            EXPECT_EQ(box.right - box.left, font.Width(number));
            EXPECT_EQ(box.bottom - box.top, height);
            EXPECT_GT(CountOf(canvas, box, kCaption), 0);
            EXPECT_EQ(IsEmpty(CaptionBox(canvas)), (flags & TLF_NOCAPTION) != 0);
        }
    }
}

// The width of the text box of one line of text whose rows start at `top`.
int LineWidth(const Canvas& canvas, int top, int height) {
    const RECT box = TextBox(canvas, {L + 1, top, R - 1, std::min(top + height, B - 1)});
    return IsEmpty(box) ? 0 : box.right - box.left;
}

TEST(ThumbListDrawing, TwoLineCaptionsBreakAfterTheCharactersThatFit) {
    const CaptionFont font;
    const TEXTMETRICW metrics = font.Metrics();
    ASSERT_GT(metrics.tmAveCharWidth, 0);
    const int n = S / metrics.tmAveCharWidth;  // characters per line
    ASSERT_GT(n, 8);
    const int height = metrics.tmHeight;
    const std::string letters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    // File names (with ".bmp") of n - 3 and n - 2 characters, and of those whose second line
    // just fits (2n - 7) or is one too long (2n - 6), and a much longer one.
    const auto name = [&](int length) { return letters.substr(0, length - 4) + ".bmp"; };
    const std::string fits = name(n - 3), oneMore = name(n - 2), fullSecond = name(2 * n - 7),
                      overSecond = name(2 * n - 6), tooLong = name(2 * n + 5);
    ListedControl listed(TLF_TWOLINES, {fits, oneMore, fullSecond, overSecond, tooLong});
    ASSERT_TRUE(listed.ready);
    const auto wide = [](const std::string& text) {
        return std::wstring(text.begin(), text.end());
    };
    Canvas canvas(200, 200);

    // Exactly n - 3 characters: one line at the top of the band.
    listed.Draw(canvas, wide(fits), CDIS_SELECTED);
    RECT box = CaptionBox(canvas);
    EXPECT_EQ(box.top, B - 25);
    EXPECT_EQ(box.bottom - box.top, height);
    EXPECT_EQ(box.right - box.left, font.Width(wide(fits)));

    // One more: n - 4 characters on the first line, the rest on the second, one pixel higher.
    listed.Draw(canvas, wide(oneMore), CDIS_SELECTED);
    box = CaptionBox(canvas);
    EXPECT_EQ(box.top, B - 26);
    EXPECT_EQ(box.bottom, std::min(B - 1, B - 26 + 2 * height));
    EXPECT_EQ(LineWidth(canvas, B - 26, height), font.Width(wide(oneMore.substr(0, n - 4))));
    EXPECT_EQ(LineWidth(canvas, B - 26 + height, height), font.Width(wide(oneMore.substr(n - 4))));

    // A second line of n - 3 characters is kept whole.
    listed.Draw(canvas, wide(fullSecond), CDIS_SELECTED);
    EXPECT_EQ(LineWidth(canvas, B - 26 + height, height),
              font.Width(wide(fullSecond.substr(n - 4))));

    // Longer: the second line keeps n - 6 characters and ends in "...".
    for (const std::string& longer : {overSecond, tooLong}) {
        SCOPED_TRACE(longer);
        listed.Draw(canvas, wide(longer), CDIS_SELECTED);
        EXPECT_EQ(LineWidth(canvas, B - 26, height), font.Width(wide(longer.substr(0, n - 4))));
        EXPECT_EQ(LineWidth(canvas, B - 26 + height, height),
                  font.Width(wide(longer.substr(n - 4, n - 6) + "...")));
    }
}

TEST(ThumbListDrawing, TheListPaintsEveryCellThroughTheControl) {
    ListedControl listed(TLF_NOCAPTION);
    ASSERT_TRUE(listed.ready);
    const HWND list = listed.hosted.List();
    Canvas canvas(420, 270);
    canvas.Fill(kSentinel);
    ::SendMessageW(list, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(canvas.Dc()),
                   PRF_CLIENT | PRF_ERASEBKGND);
    for (int index = 0; index < listed.count; ++index) {
        SCOPED_TRACE(index);
        const RECT bounds = testing_support::ItemRect(list, index, LVIR_SELECTBOUNDS);
        ASSERT_LT(bounds.left, bounds.right);
        // The cell starts at the corner of the item's selection bounds and is S pixels square.
        const int left = bounds.left, top = bounds.top;
        EXPECT_EQ(canvas.At(left, top + 10), COLORREF{0});
        EXPECT_EQ(canvas.At(left + S - 1, top + 10), COLORREF{0});
        EXPECT_EQ(canvas.At(left + 10, top + S - 1), COLORREF{0});
        EXPECT_EQ(canvas.At(left + 1, top + 10), kCell);
        EXPECT_EQ(canvas.At(left + 1, top + S - 2), kCell);
    }
    const RECT wide = testing_support::ItemRect(list, listed.Index(L"wide.bmp"), LVIR_SELECTBOUNDS);
    EXPECT_EQ(canvas.At(wide.left + 54, wide.top + 54), kRed);
}

// At 192 DPI a cell is 216 pixels square and its thumbnail the cached 100 x 100 one shown at
// 200 x 200: resampled (a sharp edge gets a narrow seam of greys, not doubled pixels) and with
// none of the canvas colour at the picture's edges. A control made at 192 DPI and one moved
// there show the same; moved back to 96 DPI, the thumbnails are as they were.
TEST(ThumbListDrawing, AtTwiceTheDpiCellsAndThumbnailsAreScaledSmoothly) {
    TempDir temp;
    WritePictures(temp);
    testing_support::WriteBmp(temp / "split.bmp", 100, 100, [](uint32_t x, uint32_t) {
        return x < 50 ? testing_support::Rgb{0, 0, 0} : testing_support::Rgb{255, 255, 255};
    });
    const auto expectAt192 = [](ThumbListCtrl& control, const char* how) {
        SCOPED_TRACE(how);
        ASSERT_EQ(control.CellSize(), 216);
        Canvas canvas(300, 300);
        const RECT cell = {L, T, L + 216, T + 216};
        const RECT inside = {L + 2, T + 2, L + 214, T + 214};
        canvas.Fill(kSentinel);
        control.DrawCell(canvas.Dc(), IndexOfFile(control, L"wide.bmp"), cell, 0);
        EXPECT_EQ(canvas.At(L, T + 100), COLORREF{0});
        EXPECT_EQ(canvas.At(L + 100, T), COLORREF{0});
        // 100 x 50 at rows 25 to 74 of the 100-pixel box: 200 x 100 at rows 50 to 149 of the
        // 200-pixel box 8 pixels in.
        EXPECT_EQ(CountOf(canvas, {L + 8, T + 58, L + 208, T + 158}, kRed), 200 * 100);
        EXPECT_EQ(CountOf(canvas, inside, kRed), 200 * 100);
        EXPECT_EQ(CountOf(canvas, inside, kCell), 212 * 212 - 200 * 100);

        canvas.Fill(kSentinel);
        control.DrawCell(canvas.Dc(), IndexOfFile(control, L"split.bmp"), cell, 0);
        int black = 0, white = 0, grey = 0;
        for (int x = L + 8; x < L + 208; ++x) {
            const COLORREF pixel = canvas.At(x, T + 108);
            black += pixel == RGB(0, 0, 0);
            white += pixel == RGB(255, 255, 255);
            grey += pixel != RGB(0, 0, 0) && pixel != RGB(255, 255, 255) &&
                    GetRValue(pixel) == GetGValue(pixel) && GetGValue(pixel) == GetBValue(pixel);
        }
        EXPECT_EQ(black + white + grey, 200);
        EXPECT_GE(grey, 1);
        EXPECT_LE(grey, 4);
        EXPECT_NEAR(black, 99, 2);
    };
    const auto listed = [&](HostedControl& hosted) {
        EXPECT_EQ(hosted.control.SetFolder(temp.Wide().c_str(), false), 4);
        return testing_support::WaitForThumbnails(hosted.control);
    };

    ThumbListParams params = DrawingParams(TLF_NOCAPTION);
    params.dpi = 192;
    HostedControl madeAt192(params, 500, 300);
    ASSERT_TRUE(listed(madeAt192));
    expectAt192(madeAt192.control, "made at 192 DPI");

    HostedControl moved(DrawingParams(TLF_NOCAPTION), 500, 300);
    ASSERT_TRUE(listed(moved));
    ASSERT_EQ(moved.control.CellSize(), S);
    moved.control.SetDpi(192);
    expectAt192(moved.control, "moved to 192 DPI");

    moved.control.SetDpi(96);
    ASSERT_EQ(moved.control.CellSize(), S);
    Canvas canvas(200, 200);
    canvas.Fill(kSentinel);
    moved.control.DrawCell(canvas.Dc(), IndexOfFile(moved.control, L"wide.bmp"), kCellRect, 0);
    EXPECT_EQ(CountOf(canvas, {L + 4, T + 29, L + 104, T + 79}, kRed), 100 * 50);
    EXPECT_EQ(CountOf(canvas, kInside, kRed), 100 * 50);
}

TEST(ThumbListDrawing, CustomDrawAnswersPerStageAndSource) {
    ListedControl listed(TLF_HEADER);
    ASSERT_TRUE(listed.ready);
    Canvas canvas(50, 50);
    canvas.Fill(kSentinel);
    const auto ask = [&](UINT_PTR from, DWORD stage, DWORD_PTR item) {
        NMLVCUSTOMDRAW draw = {};
        draw.nmcd.hdr.hwndFrom =
            from == 1256 ? listed.hosted.control.HeaderWindow() : listed.hosted.List();
        draw.nmcd.hdr.idFrom = from;
        draw.nmcd.hdr.code = NM_CUSTOMDRAW;
        draw.nmcd.dwDrawStage = stage;
        draw.nmcd.hdc = canvas.Dc();
        draw.nmcd.dwItemSpec = item;
        return ::SendMessageW(listed.hosted.container, WM_NOTIFY, from,
                              reinterpret_cast<LPARAM>(&draw));
    };
    EXPECT_EQ(ask(1257, CDDS_PREPAINT, 0), CDRF_NOTIFYITEMDRAW);
    EXPECT_EQ(ask(1257, CDDS_POSTPAINT, 0), 0);
    EXPECT_EQ(ask(1257, CDDS_ITEMPOSTPAINT, 0), 0);
    // The header draws itself.
    EXPECT_EQ(ask(1256, CDDS_PREPAINT, 0), CDRF_DODEFAULT);
    EXPECT_EQ(ask(1256, CDDS_ITEMPREPAINT, 0), CDRF_DODEFAULT);
    // An item without a record is skipped: neither the control nor the list draws it.
    EXPECT_EQ(ask(1257, CDDS_ITEMPREPAINT, 50), CDRF_SKIPDEFAULT);
    EXPECT_EQ(CountOf(canvas, {0, 0, 50, 50}, kSentinel), 50 * 50);
}

}  // namespace
