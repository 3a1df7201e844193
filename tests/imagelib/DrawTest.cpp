#include "imagelib/CxImage.h"

#include "support/SampleImages.h"
#include "base/Handles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

using sample::Color;
using sample::Picture;

constexpr Color kGrey{64, 64, 64};

// A 32-bit top-down DIB in a memory DC, filled with one colour, read directly.
struct Canvas {
    Canvas(int w, int h, Color fill) : width(w), height(h) {
        BITMAPINFO info{{sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0}, {}};
        void* pixels = nullptr;
        bitmap.Reset(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0));
        bits = static_cast<uint32_t*>(pixels);
        std::fill_n(bits, w * h, uint32_t{fill.r} << 16 | fill.g << 8 | fill.b);
        dc.Reset(::CreateCompatibleDC(nullptr));
        ::SelectObject(dc.Get(), bitmap.Get());
    }
    Color At(int x, int y) const {
        ::GdiFlush();
        const uint32_t p = bits[y * width + x];
        return Color{uint8_t(p), uint8_t(p >> 8), uint8_t(p >> 16)};
    }

    int width;
    int height;
    uint32_t* bits = nullptr;
    win::UniqueBitmap bitmap;
    win::MemoryDc dc;  // deleted first, so the bitmap is no longer selected when it goes
};

// Inside `visible`, the canvas shows `expected` placed at (left, top); elsewhere it is untouched.
void ExpectShows(const Canvas& canvas, const CxImage& expected, int left, int top,
                 const RECT& visible) {
    for (int y = 0; y < canvas.height; ++y) {
        for (int x = 0; x < canvas.width; ++x) {
            const bool inside =
                x >= visible.left && x < visible.right && y >= visible.top && y < visible.bottom;
            const Color want = inside ? sample::PixelAt(expected, x - left, y - top) : kGrey;
            ASSERT_EQ(canvas.At(x, y), want) << "at " << x << "," << y;
        }
    }
}

// Distinct colours everywhere, so that any misplaced pixel shows.
Picture Gradient(uint32_t width, uint32_t height) {
    Picture p{width, height, {}};
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            p.pixels.push_back(Color{uint8_t(x * 19), uint8_t(y * 37), uint8_t(x * y + 11)});
        }
    }
    return p;
}

TEST(MakeBitmap, GivesAPixelExactBitmapOwnedByTheCaller) {
    const CxImage image = sample::MakeImage(Gradient(7, 5));  // rows padded from 21 to 24 bytes
    win::UniqueBitmap bitmap(image.MakeBitmap());
    ASSERT_TRUE(bitmap);
    BITMAPINFO info{{sizeof(BITMAPINFOHEADER), 7, 5, 1, 24, BI_RGB, 0, 0, 0, 0, 0}, {}};
    std::vector<uint8_t> read(24 * 5);
    win::MemoryDc dc(::CreateCompatibleDC(nullptr));
    ASSERT_EQ(::GetDIBits(dc.Get(), bitmap.Get(), 0, 5, read.data(), &info, DIB_RGB_COLORS), 5);
    for (uint32_t row = 0; row < 5; ++row) {
        EXPECT_EQ(std::memcmp(read.data() + row * 24, image.GetBits(row), 21), 0) << row;
    }
}

TEST(Draw, PutsTheImageOrItsResampledCopyInTheRectangleAndClip) {
    CxImage image = sample::MakeImage(Gradient(13, 7));
    Canvas own(40, 30, kGrey);
    EXPECT_EQ(image.Draw(own.dc.Get(), 5, 4), 1);
    ExpectShows(own, image, 5, 4, {5, 4, 18, 11});

    CxImage stretched;
    ASSERT_TRUE(image.Resample(31, 17, 1, &stretched));
    Canvas whole(40, 30, kGrey);
    EXPECT_EQ(image.Draw2(whole.dc.Get(), 3, 2, 31, 17), 1);
    ExpectShows(whole, stretched, 3, 2, {3, 2, 34, 19});

    Canvas clipped(40, 30, kGrey);
    RECT clip{10, 5, 25, 15};
    EXPECT_EQ(image.Draw(clipped.dc.Get(), 3, 2, 31, 17, &clip), 1);
    RECT beside{35, 20, 40, 30};
    EXPECT_EQ(image.Draw(clipped.dc.Get(), 3, 2, 31, 17, &beside), 0);
    ExpectShows(clipped, stretched, 3, 2, clip);
}

TEST(Draw, AnEmptyImageDrawsNothing) {
    const CxImage empty(1);
    Canvas canvas(16, 16, kGrey);
    EXPECT_EQ(empty.Draw(canvas.dc.Get(), 0, 0, 16, 16), 0);
    EXPECT_EQ(empty.Draw2(canvas.dc.Get(), 0, 0, 16, 16), 0);
    ExpectShows(canvas, empty, 0, 0, {});
}

TEST(Draw, BlendsTransparentPixelsOntoTheDc) {
    const CxImage glass =
        sample::MakeImage(Picture{4, 4, std::vector<Color>(16, {0, 0, 255, 128})});
    Canvas canvas(8, 8, sample::kMagenta);
    EXPECT_EQ(glass.Draw2(canvas.dc.Get(), 2, 2, 4, 4), 1);
    const Color blended = canvas.At(3, 3);  // half red over magenta
    EXPECT_NEAR(blended.b, 127, 1);
    EXPECT_EQ(blended.g, 0);
    EXPECT_NEAR(blended.r, 255, 1);
    EXPECT_EQ(canvas.At(1, 1), sample::kMagenta);
}

}  // namespace
