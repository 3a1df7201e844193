#include "imagelib/CxImage.h"

#include "support/SampleImages.h"
#include "base/Handles.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using sample::Color;
using sample::Picture;

Color Grey(uint8_t v) {
    return Color{v, v, v};
}

// Greys given row by row, top row first.
Picture Greys(uint32_t width, const std::vector<uint8_t>& values) {
    Picture p{width, uint32_t(values.size() / width), {}};
    for (uint8_t v : values) p.pixels.push_back(Grey(v));
    return p;
}

std::vector<uint8_t> GreysOf(const CxImage& image) {
    std::vector<uint8_t> values;
    for (uint32_t i = 0; i < image.GetWidth() * image.GetHeight(); ++i) {
        values.push_back(sample::PixelAt(image, i % image.GetWidth(), i / image.GetWidth()).g);
    }
    return values;
}

TEST(CreateFromArray, HoldsTheCallersRowsBottomFirstAndCountsADibsBytes) {
    std::vector<uint8_t> buffer(300 * 100);
    for (size_t i = 0; i < buffer.size(); ++i) buffer[i] = uint8_t(i * 7 + i / 300);
    CxImage image(1);
    ASSERT_TRUE(image.CreateFromArray(buffer.data(), 100, 100, 24, 300, false));
    EXPECT_EQ(image.GetSize(), 30000u + 40u);
    EXPECT_EQ(image.GetType(), 1u);
    EXPECT_EQ(std::memcmp(image.GetBits(0), buffer.data(), buffer.size()), 0);
    EXPECT_EQ(sample::PixelAt(image, 1, 99), (Color{buffer[3], buffer[4], buffer[5]}));

    // Flipped, the first row is the top one; rows wider than needed are cut, ours are padded.
    std::vector<uint8_t> wide(8 * 5, 0xEE);
    wide[0] = 10;
    wide[32] = 20;
    ASSERT_TRUE(image.CreateFromArray(wide.data(), 2, 5, 24, 8, true));
    EXPECT_EQ(image.GetEffWidth(), 8u);
    EXPECT_EQ(image.GetSize(), 40u + 8u * 5u);
    EXPECT_EQ(image.GetBits(0)[0], 20);
    EXPECT_EQ(image.GetBits(4)[0], 10);
    EXPECT_EQ(image.GetBits(5), nullptr);

    // Sizes that are empty, too large or inconsistent are refused; the image keeps its pixels.
    EXPECT_FALSE(image.CreateFromArray(wide.data(), 0, 1, 24, 4, false));
    EXPECT_FALSE(image.CreateFromArray(wide.data(), 40000, 1, 24, 120000, false));
    EXPECT_FALSE(image.CreateFromArray(wide.data(), 30000, 30000, 24, 90000, false));
    EXPECT_FALSE(image.CreateFromArray(wide.data(), 4, 2, 24, 11, false));
    EXPECT_FALSE(image.CreateFromArray(wide.data(), 4, 2, 8, 4, false));
    EXPECT_STRNE(image.GetLastError(), "");
    EXPECT_EQ(image.GetWidth(), 2u);
}

TEST(Thumbnail, ShrinksToFitCentredOnTheCanvas) {
    CxImage image = sample::MakeImage(sample::QuadrantPicture(400, 200));
    ASSERT_TRUE(image.Thumbnail(100, 100, sample::kMagentaQuad));
    ASSERT_EQ(image.GetWidth(), 100u);
    ASSERT_EQ(image.GetHeight(), 100u);
    EXPECT_EQ(image.GetSize(), 30040u);
    for (uint32_t y = 0; y < 100; ++y) {
        for (uint32_t x = 0; x < 100; ++x) {
            // 4:1 exactly, so every pixel averages one quadrant's colour.
            const Color expected =
                (y < 25 || y >= 75) ? sample::kMagenta : sample::Quadrant(x, y - 25, 100, 50);
            ASSERT_EQ(sample::PixelAt(image, x, y), expected) << x << "," << y;
        }
    }

    // A tall picture, into another image: columns 37 to 61, the source untouched.
    CxImage tall = sample::MakeImage(sample::QuadrantPicture(30, 120));
    CxImage thumb;
    ASSERT_TRUE(tall.Thumbnail(100, 100, sample::kMagentaQuad, &thumb));
    EXPECT_EQ(tall.GetWidth(), 30u);
    ASSERT_EQ(thumb.GetWidth(), 100u);
    EXPECT_EQ(thumb.GetType(), 1u);
    EXPECT_EQ(sample::PixelAt(thumb, 36, 10), sample::kMagenta);
    EXPECT_EQ(sample::PixelAt(thumb, 37, 10), sample::kRed);
    EXPECT_EQ(sample::PixelAt(thumb, 61, 90), sample::kYellow);
    EXPECT_EQ(sample::PixelAt(thumb, 62, 90), sample::kMagenta);
}

TEST(Thumbnail, LeavesASmallerPictureUnscaledAndCentred) {
    const Picture picture = sample::QuadrantPicture(20, 10);
    CxImage image = sample::MakeImage(picture);
    ASSERT_TRUE(image.Thumbnail(100, 100, sample::kMagentaQuad));
    ASSERT_EQ(image.GetWidth(), 100u);
    for (uint32_t y = 0; y < 100; ++y) {
        for (uint32_t x = 0; x < 100; ++x) {
            const bool inside = x >= 40 && x < 60 && y >= 45 && y < 55;
            const Color expected =
                inside ? picture.pixels[(y - 45) * 20 + (x - 40)] : sample::kMagenta;
            ASSERT_EQ(sample::PixelAt(image, x, y), expected) << x << "," << y;
        }
    }
}

TEST(Thumbnail, TransparencyBecomesTheCanvasColourInOneBit) {
    win::ComScope com;
    testing_support::TempDir dir;
    // Left half barely visible, right half mostly opaque red.
    Picture picture{200, 200, {}};
    for (uint32_t y = 0; y < 200; ++y) {
        for (uint32_t x = 0; x < 200; ++x)
            picture.pixels.push_back(x < 100 ? Color{0, 0, 255, 100} : Color{0, 0, 255, 200});
    }
    ASSERT_TRUE(sample::Write(sample::Format::PngWithAlpha, picture, dir / "glass.png"));
    CxImage image((dir / "glass.png").c_str(), 4, true, false);
    ASSERT_TRUE(image.Thumbnail(100, 100, sample::kMagentaQuad)) << image.GetLastError();
    ASSERT_TRUE(image.IncreaseBpp(24));
    EXPECT_EQ(image.GetBpp(), 24u);
    EXPECT_EQ(sample::PixelAt(image, 25, 50), sample::kMagenta);
    // Its own colour, not a blend with the canvas.
    const Color right = sample::PixelAt(image, 75, 50);
    EXPECT_EQ(right.r, 255);
    EXPECT_LE(right.b, 2);
    EXPECT_LE(right.g, 2);
}

TEST(Resample, ShrinkingAveragesTheCoveredArea) {
    Picture board{8, 8, {}};
    for (uint32_t i = 0; i < 64; ++i) board.pixels.push_back(Grey((i + i / 8) % 2 ? 255 : 0));
    CxImage image = sample::MakeImage(board);
    ASSERT_TRUE(image.Resample(4, 4));
    ASSERT_EQ(image.GetWidth(), 4u);
    for (uint8_t v : GreysOf(image)) EXPECT_NEAR(v, 127.5, 0.5);

    // 3 to 2: the middle pixel is shared, a third to each side; along either axis.
    CxImage row = sample::MakeImage(Greys(3, {30, 60, 90}));
    ASSERT_TRUE(row.Resample(2, 1));
    EXPECT_EQ(GreysOf(row), (std::vector<uint8_t>{40, 80}));
    CxImage column = sample::MakeImage(Greys(1, {30, 60, 90}));
    ASSERT_TRUE(column.Resample(1, 2));
    EXPECT_EQ(GreysOf(column), (std::vector<uint8_t>{40, 80}));
}

TEST(Resample, EnlargingInterpolatesBetweenPixelCentres) {
    CxImage image = sample::MakeImage(Greys(2, {0, 240}));
    ASSERT_TRUE(image.Resample(8, 1));
    EXPECT_EQ(GreysOf(image), (std::vector<uint8_t>{0, 0, 30, 90, 150, 210, 240, 240}));
}

TEST(Resample, EachAxisScalesOnItsOwn) {
    CxImage source = sample::MakeImage(Greys(4, {0, 100, 200, 40, 20, 120, 220, 60}));
    CxImage out;
    ASSERT_TRUE(source.Resample(2, 4, 1, &out));
    EXPECT_EQ(source.GetWidth(), 4u);  // the source is left as it was
    ASSERT_EQ(out.GetHeight(), 4u);
    EXPECT_EQ(GreysOf(out), (std::vector<uint8_t>{50, 120, 55, 125, 65, 135, 70, 140}));
}

TEST(Resample, FiltersTransparentPixelsWithoutDarkFringes) {
    CxImage image = sample::MakeImage(Picture{2, 1, {Color{0, 0, 255, 255}, Color{0, 0, 0, 0}}});
    ASSERT_EQ(image.GetBpp(), 32u);
    ASSERT_TRUE(image.Resample(1, 1));
    const Color mixed = sample::PixelAt(image, 0, 0);
    EXPECT_NEAR(mixed.a, 128, 1);
    EXPECT_EQ(mixed.r, mixed.a);  // premultiplied: still pure red where it covers
}

TEST(Image, BitDepthChangesAndCopiesAreIndependent) {
    CxImage image =
        sample::MakeImage(Picture{2, 1, {Color{200, 100, 50, 255}, Color{0, 0, 200, 128}}});
    ASSERT_EQ(image.GetBpp(), 32u);
    EXPECT_EQ(CxImage(image, true, true, false).GetBpp(), 24u);
    const CxImage factsOnly(image, false);
    EXPECT_FALSE(factsOnly.IsValid());
    EXPECT_EQ(factsOnly.GetImageWidth(), 2u);
    CxImage copy(image);
    copy.GetBits(0)[0] = 7;
    EXPECT_EQ(image.GetBits(0)[0], 200);

    ASSERT_TRUE(image.IncreaseBpp(24));
    EXPECT_EQ(image.GetSize(), 40u + 8u);
    EXPECT_EQ(sample::PixelAt(image, 1, 0), (Color{0, 0, 100}));  // flattened onto black
    ASSERT_TRUE(image.IncreaseBpp(32));
    EXPECT_EQ(sample::PixelAt(image, 0, 0), (Color{200, 100, 50, 255}));
    EXPECT_FALSE(image.IncreaseBpp(8));
}

TEST(Image, OperationsWithoutPixelsOrWithBadSizesFail) {
    CxImage empty;
    EXPECT_FALSE(empty.Resample(10, 10));
    EXPECT_STRNE(empty.GetLastError(), "");
    EXPECT_FALSE(empty.Thumbnail(100, 100, sample::kMagentaQuad));
    EXPECT_FALSE(empty.IncreaseBpp(24));
    EXPECT_EQ(empty.MakeBitmap(), nullptr);

    CxImage image = sample::MakeImage(sample::QuadrantPicture(4, 4));
    EXPECT_FALSE(image.Resample(0, 10));
    EXPECT_FALSE(image.Thumbnail(-1, 100, sample::kMagentaQuad));
    EXPECT_EQ(image.GetWidth(), 4u);
}

}  // namespace
