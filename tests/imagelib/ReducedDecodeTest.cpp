// Pictures decoded for a thumbnail come reduced (box averages, or a JPEG's block averages)
// and must still make the same thumbnail as the whole picture does; a JPEG decoded for a box
// comes at the scale it is drawn at and must still draw as the whole picture does.
#include "imagelib/CxImage.h"

#include "base/Handles.h"
#include "decode/Limits.h"
#include "imagelib/DirectDecoder.h"
#include "support/BmpFile.h"
#include "support/SampleImages.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

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
    uint32_t width = 1600;  // 4:3
};

class ReducedDecode : public ::testing::TestWithParam<ReducedCase> {
protected:
    win::ComScope com_;
    testing_support::TempDir dir_;
};

TEST_P(ReducedDecode, MakesTheSameThumbnailWithTheFilesOwnFacts) {
    const ReducedCase& c = GetParam();
    const auto path = dir_ / (std::string(c.name) + ".img");
    const uint32_t width = c.width, height = c.width * 3 / 4;
    ASSERT_TRUE(sample::Write(c.format, SmoothPicture(width, height, c.alpha), path));

    CxImage whole(path.c_str(), 0, false, false);
    CxImage reduced(path.c_str(), c.format == Format::Tga ? 7 : 0, true, false);
    ASSERT_TRUE(whole.IsValid()) << whole.GetLastError();
    ASSERT_TRUE(reduced.IsValid()) << reduced.GetLastError();
    EXPECT_EQ(reduced.GetImageWidth(), width);
    EXPECT_EQ(reduced.GetImageHeight(), height);
    EXPECT_EQ(reduced.GetType(), whole.GetType());
    EXPECT_EQ(reduced.GetImageBpp(), whole.GetImageBpp());
    EXPECT_LT(reduced.GetWidth(), width);  // it really was reduced
    EXPECT_GE(reduced.GetWidth(), 100u);   // never below the thumbnail
    EXPECT_GE(reduced.GetHeight(), 75u);
    {
        // A file another program holds open for writing is read as it is at that moment.
        const win::UniqueHandle writer(::CreateFileW(path.c_str(), GENERIC_WRITE,
                                                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                     OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(writer);
        CxImage held(path.c_str(), c.format == Format::Tga ? 7 : 0, true, false);
        ASSERT_TRUE(held.IsValid()) << held.GetLastError();
        EXPECT_EQ(held.GetWidth(), reduced.GetWidth());
        EXPECT_EQ(held.GetHeight(), reduced.GetHeight());
        EXPECT_EQ(sample::PixelAt(held, 40, 30), sample::PixelAt(reduced, 40, 30));
    }

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
// full decode, and for a picture whose blocks are too few, our decoder at a reduced scale
// against WIC's whole picture.
INSTANTIATE_TEST_SUITE_P(Formats, ReducedDecode,
                         ::testing::Values(ReducedCase{"bmp", Format::Bmp, 2},
                                           ReducedCase{"tga", Format::Tga, 2},
                                           ReducedCase{"png", Format::Png, 2},
                                           ReducedCase{"png_alpha", Format::PngWithAlpha, 2, true},
                                           ReducedCase{"tiff", Format::Tiff, 2},
                                           ReducedCase{"jpeg", Format::Jpeg, 6},
                                           ReducedCase{"jpeg_small", Format::Jpeg, 6, false, 480}),
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
        // Kept for the next picture: a whole one's pixels (a reduced one is never held whole).
        if (!reduced) {
            EXPECT_GE(afterSmall, size_t{800} * 600 * 4);
        }
        decode(large, reduced);
        EXPECT_LE(imagelib::RetainedBufferBytes(), imagelib::kRetainedBufferBytes);
        decode(small, reduced);
        EXPECT_EQ(imagelib::RetainedBufferBytes(), afterSmall);
    }
}

}  // namespace

namespace {

// The preview panel's rule (InstallerDlg's FitPicture): the fitted width and height.
std::pair<int, int> FitPicture(int width, int height, int boxWidth, int boxHeight) {
    const double picture = static_cast<double>(width) / height;
    const double box = static_cast<double>(boxWidth) / boxHeight;
    if (picture > box) return {boxWidth, static_cast<int>(boxWidth / picture)};
    if (picture < box) return {static_cast<int>(boxHeight * picture), boxHeight};
    return {boxWidth, boxHeight};
}

TEST(FittedDecode, TheScaleIsTheSmallestThatCoversThePictureAsTheDialogFitsIt) {
    const struct {
        uint32_t width, height, boxWidth, boxHeight;
        int shift;
    } cases[] = {
        {4000, 3000, 1260, 790, 1},  // 12 MP: 2000 x 1500 for 1054 x 790
        {6000, 4000, 1260, 790, 2},  // 24 MP: 1500 x 1000 for 1185 x 790
        {640, 480, 1260, 790, 0},    // smaller than the box: whole
        {1600, 1200, 400, 300, 2},   // exactly a quarter
        {1600, 1200, 401, 301, 1},   // one pixel more
        {30000, 100, 1260, 790, 3},  // never beyond an eighth
        {4000, 3000, 0, 0, 0},       // no box: whole
    };
    for (const auto& c : cases) {
        EXPECT_EQ(imagelib::FittedScaleShift(c.width, c.height, c.boxWidth, c.boxHeight), c.shift)
            << c.width << "x" << c.height << " into " << c.boxWidth << "x" << c.boxHeight;
    }
    // Any size into any box: the scale chosen covers the fitted picture on both sides, and the
    // next one would not.
    std::mt19937 random(7);
    for (int i = 0; i < 20000; ++i) {
        const uint32_t w = 1 + random() % 9000, h = 1 + random() % 9000;
        const uint32_t bw = 1 + random() % 2000, bh = 1 + random() % 2000;
        const auto [fw, fh] = FitPicture(static_cast<int>(w), static_cast<int>(h),
                                         static_cast<int>(bw), static_cast<int>(bh));
        const int shift = imagelib::FittedScaleShift(w, h, bw, bh);
        const auto covers = [&](int s) {
            const uint32_t g = 1u << s;
            return static_cast<int>((w + g - 1) / g) >= fw &&
                   static_cast<int>((h + g - 1) / g) >= fh;
        };
        ASSERT_TRUE(shift == 0 || covers(shift)) << w << "x" << h << " into " << bw << "x" << bh;
        ASSERT_TRUE(shift == 3 || !covers(shift + 1))
            << w << "x" << h << " into " << bw << "x" << bh;
    }
}

// A picture with detail at every scale, as a photograph has: gradients and a disc in colour,
// stripes of 5 and 9 pixels and noise in brightness (a photograph's colours are smooth, which
// is what lets JPEG sample them at half the rate).
Picture DetailedPicture(uint32_t width, uint32_t height) {
    Picture p{width, height, {}};
    p.pixels.reserve(size_t{width} * height);
    std::mt19937 random(11);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            const double dx = (x - width / 2.0) / width, dy = (y - height / 2.0) / height;
            const int disc = dx * dx + dy * dy < 0.05 ? 80 : 0;
            const int stripes = (x / 5 + y / 9) % 2 ? 24 : 0;
            const int noise = static_cast<int>(random() % 24);
            const auto clamp = [](int v) { return static_cast<uint8_t>(std::clamp(v, 0, 255)); };
            p.pixels.push_back(Color{clamp(40 + 150 * x / width + noise + stripes),
                                     clamp(30 + 120 * y / height + disc + noise + stripes),
                                     clamp(200 - disc + noise + stripes)});
        }
    }
    return p;
}

// The mean and largest difference of two 24-bit images of one size, over every channel.
std::pair<double, int> Differences(const CxImage& a, const CxImage& b) {
    EXPECT_EQ(a.GetWidth(), b.GetWidth());
    EXPECT_EQ(a.GetHeight(), b.GetHeight());
    double total = 0;
    int worst = 0;
    for (uint32_t y = 0; y < a.GetHeight(); ++y) {
        const uint8_t* p = a.GetBits(y);
        const uint8_t* q = b.GetBits(y);
        for (uint32_t i = 0; i < a.GetWidth() * 3; ++i) {
            const int d = std::abs(p[i] - q[i]);
            total += d;
            worst = std::max(worst, d);
        }
    }
    return {total / (static_cast<double>(a.GetWidth()) * a.GetHeight() * 3), worst};
}

TEST(FittedDecode, AJpegComesAtItsScaleWithTheFilesFactsAndDrawsAsTheWholeOne) {
    win::ComScope com;
    testing_support::TempDir dir;
    const auto path = dir / "detail.jpg";
    ASSERT_TRUE(sample::Write(Format::Jpeg, DetailedPicture(1600, 1200), path));
    const CxImage whole(path.c_str(), 0, false, false);  // through WIC, as before
    ASSERT_TRUE(whole.IsValid()) << whole.GetLastError();
    const std::string bytes = testing_support::ReadFile(path);
    const struct {
        FitBox box;
        uint32_t width, height;  // the pixels held
    } cases[] = {{{400, 300}, 400, 300}, {{700, 500}, 800, 600}, {{1000, 900}, 1600, 1200}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.box.width) + "x" + std::to_string(c.box.height));
        const CxImage fitted(path.c_str(), 0, c.box);
        ASSERT_TRUE(fitted.IsValid()) << fitted.GetLastError();
        EXPECT_EQ(fitted.GetWidth(), c.width);
        EXPECT_EQ(fitted.GetHeight(), c.height);
        EXPECT_EQ(fitted.GetImageWidth(), 1600u);
        EXPECT_EQ(fitted.GetImageHeight(), 1200u);
        EXPECT_EQ(fitted.GetImageBpp(), 24u);
        EXPECT_EQ(fitted.GetType(), 3u);
        // The same from the bytes in memory.
        const CxImage fromMemory(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), 0,
                                 c.box);
        ASSERT_TRUE(fromMemory.IsValid()) << fromMemory.GetLastError();
        EXPECT_EQ(Differences(fitted, fromMemory), (std::pair<double, int>{0.0, 0}));
        // Drawn into the box, it must look as the whole picture does. The decoders differ by
        // rounding and by WIC's repeated chroma where ours is interpolated (up to 55 levels at
        // the disc's sharp colour edge, half a level on average); scaling from a picture half
        // the size (or a quarter) to the box is not quite scaling from the whole one either:
        // the stripes come out a little softer (1.9 levels on average at 1/2, where the
        // decoders alone differ by 0.5).
        const auto [fw, fh] =
            FitPicture(1600, 1200, static_cast<int>(c.box.width), static_cast<int>(c.box.height));
        CxImage fromFitted, fromWhole;
        ASSERT_TRUE(const_cast<CxImage&>(fitted).Resample(fw, fh, 1, &fromFitted));
        ASSERT_TRUE(const_cast<CxImage&>(whole).Resample(fw, fh, 1, &fromWhole));
        const auto [mean, worst] = Differences(fromFitted, fromWhole);
        EXPECT_LE(mean, 2.0);
        EXPECT_LE(worst, 40);
    }
    // No box: whole, as before.
    const CxImage unboxed(path.c_str(), 0, FitBox{});
    EXPECT_EQ(Differences(unboxed, whole), (std::pair<double, int>{0.0, 0}));
}

TEST(FittedDecode, OtherPicturesAndSmallOnesComeWhole) {
    win::ComScope com;
    testing_support::TempDir dir;
    const struct {
        const char* name;
        Format format;
        uint32_t width, height;
    } cases[] = {{"small.jpg", Format::Jpeg, 120, 90}, {"large.png", Format::Png, 1600, 1200}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto path = dir / c.name;
        ASSERT_TRUE(sample::Write(c.format, sample::QuadrantPicture(c.width, c.height), path));
        const CxImage fitted(path.c_str(), 0, FitBox{200, 150});
        ASSERT_TRUE(fitted.IsValid()) << fitted.GetLastError();
        EXPECT_EQ(fitted.GetWidth(), c.width);
        EXPECT_EQ(fitted.GetHeight(), c.height);
        EXPECT_EQ(fitted.GetImageWidth(), c.width);
    }
}

// A JPEG cut short shows the blocks decoded before the cut and a neutral grey below, for a
// thumbnail, whole and for a box (WIC refuses the file), at any size.
TEST(ReducedDecodeCutShort, AJpegShowsWhatItHolds) {
    win::ComScope com;
    testing_support::TempDir dir;
    // Large enough for block averages to make the thumbnail, and too small for that.
    for (const uint32_t width : {1600u, 400u}) {
        ASSERT_TRUE(sample::Write(Format::Jpeg, sample::QuadrantPicture(width, width * 3 / 4),
                                  dir / "full.jpg"));
        const std::string bytes = testing_support::ReadFile(dir / "full.jpg");
        testing_support::WriteFile(dir / "cut.jpg", bytes.substr(0, bytes.size() / 3));
        for (const int way : {0, 1, 2}) {
            const bool forThumbnail = way == 0;
            // Whole, as a thumbnail, and for a box of a quarter of its size.
            const CxImage image =
                way == 2 ? CxImage((dir / "cut.jpg").c_str(), 3, FitBox{width / 4, width * 3 / 16})
                         : CxImage((dir / "cut.jpg").c_str(), 3, forThumbnail, false);
            if (way == 2) {
                EXPECT_EQ(image.GetWidth(), width / 4);
            }
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
