// Pictures decoded for a thumbnail come reduced (box averages, or a JPEG's block averages)
// and must still make the same thumbnail as the whole picture does.
#include "imagelib/CxImage.h"

#include "base/Handles.h"
#include "decode/Limits.h"
#include "imagelib/DirectDecoder.h"
#include "support/BmpFile.h"
#include "support/SampleImages.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using sample::Color;
using sample::Format;
using sample::Picture;

// A smooth picture (gradients both ways) with a soft disc: no edges sharper than a thumbnail
// pixel, so any two honest area averages agree closely.
Picture SmoothPicture(uint32_t width, uint32_t height, bool withAlpha) {
    Picture p{width, height, {}};
    p.pixels.reserve(size_t{width} * height);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            const double dx = (x - width / 2.0) / width, dy = (y - height / 2.0) / height;
            const double disc = std::max(0.0, 1.0 - 4.0 * (dx * dx + dy * dy));
            Color c{uint8_t(255 * x / width), uint8_t(255 * y / height), uint8_t(60 + 150 * disc)};
            if (withAlpha) c.a = uint8_t(x < width / 2 ? 255 : 40 + 200 * y / height);
            p.pixels.push_back(c);
        }
    }
    return p;
}

struct ReducedCase {
    const char* name;
    Format format;
    int tolerance;
    bool alpha = false;
};

class ReducedDecode : public ::testing::TestWithParam<ReducedCase> {
protected:
    win::ComScope com_;
    testing_support::TempDir dir_;
};

TEST_P(ReducedDecode, MakesTheSameThumbnailWithTheFilesOwnFacts) {
    const ReducedCase& c = GetParam();
    const auto path = dir_ / (std::string(c.name) + ".img");
    ASSERT_TRUE(sample::Write(c.format, SmoothPicture(1600, 1200, c.alpha), path));

    CxImage whole(path.c_str(), 0, false, false);
    CxImage reduced(path.c_str(), c.format == Format::Tga ? 7 : 0, true, false);
    ASSERT_TRUE(whole.IsValid()) << whole.GetLastError();
    ASSERT_TRUE(reduced.IsValid()) << reduced.GetLastError();
    EXPECT_EQ(reduced.GetImageWidth(), 1600u);
    EXPECT_EQ(reduced.GetImageHeight(), 1200u);
    EXPECT_EQ(reduced.GetType(), whole.GetType());
    EXPECT_EQ(reduced.GetImageBpp(), whole.GetImageBpp());
    EXPECT_LT(reduced.GetWidth(), 1600u);  // it really was reduced
    EXPECT_GE(reduced.GetWidth(), 100u);   // never below the thumbnail
    EXPECT_GE(reduced.GetHeight(), 75u);

    const RGBQUAD magenta{255, 0, 255, 0};
    ASSERT_TRUE(whole.Thumbnail(100, 100, magenta));
    ASSERT_TRUE(reduced.Thumbnail(100, 100, magenta));
    int worst = 0;
    for (uint32_t y = 0; y < 100; ++y) {
        for (uint32_t x = 0; x < 100; ++x) {
            const Color a = sample::PixelAt(whole, x, y), b = sample::PixelAt(reduced, x, y);
            worst =
                std::max({worst, std::abs(a.b - b.b), std::abs(a.g - b.g), std::abs(a.r - b.r)});
        }
    }
    EXPECT_LE(worst, c.tolerance);
}

// BMP, TGA, PNG and TIFF: box averages then area averaging against area averaging alone, the
// last boxes of a row smaller; JPEG: the block averages of the DC coefficients against the
// full decode.
INSTANTIATE_TEST_SUITE_P(Formats, ReducedDecode,
                         ::testing::Values(ReducedCase{"bmp", Format::Bmp, 2},
                                           ReducedCase{"tga", Format::Tga, 2},
                                           ReducedCase{"png", Format::Png, 2},
                                           ReducedCase{"png_alpha", Format::PngWithAlpha, 2, true},
                                           ReducedCase{"tiff", Format::Tiff, 2},
                                           ReducedCase{"jpeg", Format::Jpeg, 6}),
                         [](const auto& info) { return std::string(info.param.name); });

// An uncompressed 32-bit TGA with 8 alpha bits, top row first.
void WriteTga32(const std::filesystem::path& path, const Picture& p) {
    std::string bytes(18, '\0');
    bytes[2] = 2;  // true colour
    bytes[12] = char(p.width & 0xFF), bytes[13] = char(p.width >> 8);
    bytes[14] = char(p.height & 0xFF), bytes[15] = char(p.height >> 8);
    bytes[16] = 32;
    bytes[17] = 0x28;  // 8 alpha bits, top-left origin
    for (const Color& c : p.pixels) bytes += {char(c.b), char(c.g), char(c.r), char(c.a)};
    testing_support::WriteFile(path, bytes);
}

TEST(ReducedDecodeAlpha, TransparentPixelsLendNoColour) {
    win::ComScope com;
    testing_support::TempDir dir;
    const auto path = dir / "alpha.tga";
    // Left half opaque blue, right half fully transparent red: averaged boxes stay blue.
    Picture p{800, 600, {}};
    for (uint32_t y = 0; y < 600; ++y) {
        for (uint32_t x = 0; x < 800; ++x)
            p.pixels.push_back(x < 400 ? Color{255, 0, 0, 255} : Color{0, 0, 255, 0});
    }
    WriteTga32(path, p);
    CxImage reduced(path.c_str(), 7, true, false);
    ASSERT_TRUE(reduced.IsValid()) << reduced.GetLastError();
    ASSERT_LT(reduced.GetWidth(), 800u);
    ASSERT_TRUE(reduced.Thumbnail(100, 100, RGBQUAD{255, 0, 255, 0}));
    EXPECT_EQ(sample::PixelAt(reduced, 20, 50), (Color{255, 0, 0}));
    EXPECT_EQ(sample::PixelAt(reduced, 80, 50), sample::kMagenta);  // transparent: the canvas
}

TEST(ReducedDecodeAlpha, BoxSumsHoldAtTheLargestReduction) {
    win::ComScope com;
    testing_support::TempDir dir;
    const auto path = dir / "widest.png";
    // As wide as the limits allow and 100 times less high: boxes of 300 x 300, the largest
    // reduction there is. Bands on box boundaries: opaque white, white at half alpha, clear.
    const uint32_t width = decode::kMaxPictureSide, height = width / 100, box = width / 100;
    Picture p{width, height, {}};
    p.pixels.reserve(size_t{width} * height);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            const uint8_t a = x < 40 * box ? 255 : x < 70 * box ? 128 : 0;
            p.pixels.push_back(Color{255, 255, 255, a});
        }
    }
    ASSERT_TRUE(sample::Write(Format::PngWithAlpha, p, path));
    p = Picture{};

    CxImage reduced(path.c_str(), 0, true, false);
    ASSERT_TRUE(reduced.IsValid()) << reduced.GetLastError();
    ASSERT_EQ(reduced.GetWidth(), 100u);
    ASSERT_EQ(reduced.GetHeight(), 1u);
    ASSERT_EQ(reduced.GetBpp(), 32u);
    // Premultiplied: the colour of white is its alpha.
    for (uint32_t x : {0u, 39u})
        EXPECT_EQ(sample::PixelAt(reduced, x, 0), (Color{255, 255, 255, 255})) << x;
    for (uint32_t x : {40u, 69u})
        EXPECT_EQ(sample::PixelAt(reduced, x, 0), (Color{128, 128, 128, 128})) << x;
    for (uint32_t x : {70u, 99u})
        EXPECT_EQ(sample::PixelAt(reduced, x, 0), (Color{0, 0, 0, 0})) << x;
}

// The decoding buffers of a thread are reused between ordinary pictures, and a large picture,
// whole (a preview) or reduced (a thumbnail), leaves no more than the bound behind.
TEST(DecodeBuffers, ALargePictureLeavesNoMoreThanTheBoundBehind) {
    win::ComScope com;
    testing_support::TempDir dir;
    const auto small = dir / "small.bmp", large = dir / "large.bmp";
    testing_support::WriteBmp(small, 800, 600, [](uint32_t x, uint32_t y) {
        return testing_support::Rgb{uint8_t(x), uint8_t(y), 90};
    });
    // 36 MB of file and 48 MB of pixels: more than the bound, each of them.
    testing_support::WriteBmp(large, 4000, 3000, [](uint32_t x, uint32_t y) {
        return testing_support::Rgb{uint8_t(x), uint8_t(y), 30};
    });
    static_assert(size_t{4000} * 3000 * 3 > imagelib::kRetainedBufferBytes);

    const auto decode = [](const std::filesystem::path& path, bool reduced) {
        CxImage image(path.c_str(), 0, reduced, false);
        ASSERT_TRUE(image.IsValid()) << image.GetLastError();
    };
    for (const bool reduced : {false, true}) {
        SCOPED_TRACE(reduced ? "reduced" : "whole");
        decode(large, reduced);
        EXPECT_LE(imagelib::RetainedBufferBytes(), imagelib::kRetainedBufferBytes);
        decode(small, reduced);
        const size_t afterSmall = imagelib::RetainedBufferBytes();
        EXPECT_GE(afterSmall, size_t{800} * 600 * 4);  // kept for the next picture
        decode(large, reduced);
        EXPECT_LE(imagelib::RetainedBufferBytes(), imagelib::kRetainedBufferBytes);
        decode(small, reduced);
        EXPECT_EQ(imagelib::RetainedBufferBytes(), afterSmall);
    }
}

}  // namespace

namespace {

// A JPEG cut short shows the blocks decoded before the cut and a neutral grey below, both for
// a thumbnail and whole (WIC refuses the file), at any size.
TEST(ReducedDecodeCutShort, AJpegShowsWhatItHolds) {
    win::ComScope com;
    testing_support::TempDir dir;
    // Large enough for block averages to make the thumbnail, and too small for that.
    for (const uint32_t width : {1600u, 400u}) {
        ASSERT_TRUE(sample::Write(Format::Jpeg, sample::QuadrantPicture(width, width * 3 / 4),
                                  dir / "full.jpg"));
        const std::string bytes = testing_support::ReadFile(dir / "full.jpg");
        testing_support::WriteFile(dir / "cut.jpg", bytes.substr(0, bytes.size() / 3));
        for (const bool forThumbnail : {true, false}) {
            CxImage image((dir / "cut.jpg").c_str(), 3, forThumbnail, false);
            ASSERT_TRUE(image.IsValid()) << forThumbnail << " " << image.GetLastError();
            EXPECT_EQ(image.GetImageWidth(), width);
            // In the top-left quadrant, decoded; in the bottom rows, never reached: grey.
            const uint32_t w = image.GetWidth(), h = image.GetHeight();
            const Color top = sample::PixelAt(image, w / 10, h / 10);
            const Color expected = sample::Quadrant(w / 10, h / 10, w, h);
            EXPECT_LE(std::abs(top.r - expected.r) + std::abs(top.g - expected.g) +
                          std::abs(top.b - expected.b),
                      24)
                << width << " " << forThumbnail;
            const Color bottom = sample::PixelAt(image, w / 2, h * 9 / 10);
            EXPECT_LE(
                std::abs(bottom.r - 128) + std::abs(bottom.g - 128) + std::abs(bottom.b - 128), 6)
                << forThumbnail << " " << ::testing::PrintToString(bottom);
        }
    }
}

}  // namespace
