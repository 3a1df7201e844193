#include "imagelib/CxImage.h"
#include "imagelib/WicDecoder.h"

#include "support/SampleImages.h"
#include "base/Handles.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

using sample::Color;
using sample::Format;

class Decode : public ::testing::Test {
protected:
    win::ComScope com_;
    testing_support::TempDir dir_;
};

struct FormatCase {
    const char* name;
    Format format;
    uint32_t type;
    uint16_t fileBpp;
    int tolerance;  // JPEG is lossy
};

class DecodeFormat : public Decode, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(DecodeFormat, GivesSizeFormatDepthAndQuadrantColours) {
    const FormatCase& c = GetParam();
    // Rows of 150 bytes need padding; the file name says nothing about the format.
    const auto path = dir_ / (std::string(c.name) + ".img");
    ASSERT_TRUE(sample::Write(c.format, sample::QuadrantPicture(50, 30), path));

    const CxImage image(path.c_str(), 1, true, false);  // a wrong type hint does no harm
    ASSERT_TRUE(image.IsValid()) << image.GetLastError();
    EXPECT_EQ(image.GetType(), c.type);
    EXPECT_EQ(image.GetImageBpp(), c.fileBpp);
    EXPECT_EQ(image.GetImageWidth(), 50u);
    EXPECT_EQ(image.GetImageHeight(), 30u);
    EXPECT_EQ(image.GetWidth(), 50u);
    EXPECT_EQ(image.GetHeight(), 30u);
    EXPECT_EQ(image.GetBpp(), 24u);  // opaque pictures are kept at 24 bits
    // Points whose JPEG colour blocks (16 x 16) lie within one quadrant.
    for (uint32_t y : {3u, 11u, 18u, 26u}) {
        for (uint32_t x : {4u, 10u, 40u, 45u}) {
            const Color actual = sample::PixelAt(image, x, y);
            const Color expected = sample::Quadrant(x, y, 50, 30);
            EXPECT_TRUE(std::abs(actual.b - expected.b) <= c.tolerance &&
                        std::abs(actual.g - expected.g) <= c.tolerance &&
                        std::abs(actual.r - expected.r) <= c.tolerance && actual.a == 255)
                << "at " << x << "," << y << ": " << ::testing::PrintToString(actual);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(EveryWicFormat, DecodeFormat,
                         ::testing::Values(FormatCase{"bmp", Format::Bmp, 1, 24, 0},
                                           FormatCase{"gif", Format::Gif, 2, 8, 0},
                                           FormatCase{"jpg", Format::Jpeg, 3, 24, 24},
                                           FormatCase{"png", Format::Png, 4, 24, 0},
                                           FormatCase{"ico", Format::Ico, 5, 32, 0},
                                           FormatCase{"tif", Format::Tiff, 6, 24, 0},
                                           FormatCase{"tga", Format::Tga, 7, 24, 0}),
                         [](const ::testing::TestParamInfo<FormatCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(Decode, IconGivesItsLargestFrame) {
    const sample::Picture small{16, 16, std::vector<Color>(256, sample::kBlue)};
    sample::WriteIcon({small, sample::QuadrantPicture(48, 48), small}, dir_ / "three.ico");
    const CxImage image((dir_ / "three.ico").c_str(), 5);
    ASSERT_TRUE(image.IsValid()) << image.GetLastError();
    EXPECT_EQ(image.GetWidth(), 48u);
    EXPECT_EQ(image.GetImageHeight(), 48u);
    EXPECT_EQ(sample::PixelAt(image, 40, 5), sample::kGreen);
}

TEST_F(Decode, LargePicturesAreReadInStripsAndKeepTransparencyPremultiplied) {
    // Rows of 80000 bytes: the converted pixels come in strips of 52 rows, and the transparent
    // pixels are in the second strip, after opaque rows were stored at 24 bits.
    sample::Picture picture = sample::QuadrantPicture(20000, 60);
    picture.At(19999, 58) = Color{0, 200, 0, 128};
    picture.At(0, 59) = Color{90, 90, 90, 0};
    ASSERT_TRUE(sample::Write(Format::PngWithAlpha, picture, dir_ / "wide.png"));
    const CxImage image((dir_ / "wide.png").c_str(), 4);
    ASSERT_TRUE(image.IsValid()) << image.GetLastError();
    EXPECT_EQ(image.GetImageBpp(), 32);
    EXPECT_EQ(image.GetBpp(), 32u);
    EXPECT_EQ(sample::PixelAt(image, 5, 2), sample::kRed);
    EXPECT_EQ(sample::PixelAt(image, 19990, 29), sample::kGreen);
    EXPECT_EQ(sample::PixelAt(image, 5, 55), sample::kBlue);
    EXPECT_EQ(sample::PixelAt(image, 19998, 58), sample::kYellow);
    EXPECT_EQ(sample::PixelAt(image, 19999, 58), (Color{0, 100, 0, 128}));
    EXPECT_EQ(sample::PixelAt(image, 0, 59), (Color{0, 0, 0, 0}));
}

TEST_F(Decode, FilesThatCannotBeDecodedGiveNoPixelsAndAReason) {
    const CxImage missing((dir_ / "nothing.png").c_str(), 4);
    EXPECT_FALSE(missing.IsValid());
    EXPECT_STREQ(missing.GetLastError(), "File not found");
    EXPECT_EQ(missing.GetWidth(), 0u);
    EXPECT_EQ(missing.GetSize(), 0u);
    EXPECT_EQ(missing.GetBits(0), nullptr);

    testing_support::WriteFile(dir_ / "notes.jpg", "These are notes, not a picture.\n");
    const CxImage text((dir_ / "notes.jpg").c_str(), 3);
    EXPECT_FALSE(text.IsValid());
    EXPECT_STREQ(text.GetLastError(), "Unknown or unsupported image format");

    // A real PNG cut off in the middle of its pixel data.
    ASSERT_TRUE(sample::Write(Format::Png, sample::QuadrantPicture(300, 300), dir_ / "full.png"));
    const std::string bytes = testing_support::ReadFile(dir_ / "full.png");
    testing_support::WriteFile(dir_ / "cut.png", bytes.substr(0, bytes.size() / 2));
    const CxImage cut((dir_ / "cut.png").c_str(), 4);
    EXPECT_FALSE(cut.IsValid());
    EXPECT_STRNE(cut.GetLastError(), "");
}

// WBMP has no signature: a file named so is read as one, with the cache's type code, whatever
// the caller's hint (the preview numbers it 10).
TEST_F(Decode, AWbmpIsReadByItsName) {
    const std::string bytes("\0\0\x10\x02\xF0\x0F\xFF\x00", 8);  // 16 x 2
    testing_support::WriteFile(dir_ / "two.wbmp", bytes);
    const CxImage image((dir_ / "two.wbmp").c_str(), 10);
    ASSERT_TRUE(image.IsValid()) << image.GetLastError();
    EXPECT_EQ(image.GetType(), 11u);
    EXPECT_EQ(image.GetImageBpp(), 1);
    EXPECT_EQ(image.GetWidth(), 16u);
    EXPECT_EQ(sample::PixelAt(image, 3, 0), (Color{255, 255, 255}));
    EXPECT_EQ(sample::PixelAt(image, 4, 0), (Color{0, 0, 0}));
    EXPECT_EQ(sample::PixelAt(image, 3, 1), (Color{255, 255, 255}));
    EXPECT_EQ(sample::PixelAt(image, 12, 1), (Color{0, 0, 0}));
    testing_support::WriteFile(dir_ / "two.bin", bytes);
    EXPECT_FALSE(CxImage((dir_ / "two.bin").c_str(), 0).IsValid());
}

// A thread that keeps a factory decodes with it, nested scopes included; once the scopes end,
// decoding goes on with factories of its own rather than a released one.
TEST_F(Decode, ThreadFactoryScopesNestAndEnd) {
    const auto path = dir_ / "picture.gif";  // DecodeImageFile: always through WIC
    ASSERT_TRUE(sample::Write(Format::Gif, sample::QuadrantPicture(20, 10), path));
    const auto decodes = [&] {
        imagelib::DecodedImage out;
        return imagelib::DecodeImageFile(path.c_str(), out) == nullptr && out.width == 20;
    };
    {
        imagelib::ThreadImaging outer;
        EXPECT_TRUE(decodes());
        {
            imagelib::ThreadImaging inner;
            EXPECT_TRUE(decodes());
        }
        EXPECT_TRUE(decodes());
    }
    EXPECT_TRUE(decodes());
}

}  // namespace
