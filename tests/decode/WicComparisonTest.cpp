// The direct decoders against WIC on the same files: JPEG block means and whole JPEGs at every
// scale against WIC's full decode (averaged here), BMP, TGA, PNG, TIFF and GIF pixel for pixel.
#include "base/Win.h"
#include "decode/BmpTgaFixtures.h"
#include "decode/Fixtures.h"
#include "decode/Gif.h"
#include "decode/JpegDc.h"
#include "decode/JpegScaled.h"
#include "decode/Png.h"
#include "decode/RawPictures.h"
#include "decode/Tiff.h"

#include <gtest/gtest.h>

#include <wincodec.h>
#include <wrl/client.h>

#include <cstring>
#include <set>

using Microsoft::WRL::ComPtr;
using namespace decode_tests;

namespace {

struct WicPicture {
    uint32_t width = 0;
    uint32_t height = 0;
    Bytes bgra;
};

class WicComparison : public testing::Test {
protected:
    void SetUp() override {
        comInitialised_ = SUCCEEDED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        ASSERT_TRUE(comInitialised_);
        ASSERT_HRESULT_SUCCEEDED(::CoCreateInstance(CLSID_WICImagingFactory, nullptr,
                                                    CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&factory_)));
    }
    void TearDown() override {
        factory_.Reset();
        if (comInitialised_) ::CoUninitialize();
    }

    // The file's first frame converted to straight-alpha BGRA, top row first.
    HRESULT Decode(const Bytes& bytes, WicPicture& out) {
        ComPtr<IWICStream> stream;
        HRESULT hr = factory_->CreateStream(&stream);
        if (SUCCEEDED(hr)) {
            hr = stream->InitializeFromMemory(const_cast<BYTE*>(bytes.data()),
                                              static_cast<DWORD>(bytes.size()));
        }
        ComPtr<IWICBitmapDecoder> decoder;
        if (SUCCEEDED(hr)) {
            hr = factory_->CreateDecoderFromStream(stream.Get(), nullptr,
                                                   WICDecodeMetadataCacheOnDemand, &decoder);
        }
        ComPtr<IWICBitmapFrameDecode> frame;
        if (SUCCEEDED(hr)) hr = decoder->GetFrame(0, &frame);
        ComPtr<IWICFormatConverter> converter;
        if (SUCCEEDED(hr)) hr = factory_->CreateFormatConverter(&converter);
        if (SUCCEEDED(hr)) {
            hr = converter->Initialize(frame.Get(), GUID_WICPixelFormat32bppBGRA,
                                       WICBitmapDitherTypeNone, nullptr, 0.0,
                                       WICBitmapPaletteTypeCustom);
        }
        UINT w = 0, h = 0;
        if (SUCCEEDED(hr)) hr = converter->GetSize(&w, &h);
        if (FAILED(hr)) return hr;
        out.width = w;
        out.height = h;
        out.bgra.resize(size_t{w} * h * 4);
        return converter->CopyPixels(nullptr, w * 4, static_cast<UINT>(out.bgra.size()),
                                     out.bgra.data());
    }

    bool comInitialised_ = false;
    ComPtr<IWICImagingFactory> factory_;
};

// Means of each 8x8 block over the pixels inside the picture.
BlockMeans MeansOfWic(const WicPicture& p) {
    BlockMeans m{(p.width + 7) / 8, (p.height + 7) / 8, {}};
    m.rgb.assign(size_t{m.wide} * m.high * 3, 0);
    std::vector<int> counts(size_t{m.wide} * m.high, 0);
    for (uint32_t y = 0; y < p.height; ++y) {
        for (uint32_t x = 0; x < p.width; ++x) {
            const uint8_t* px = &p.bgra[(size_t{y} * p.width + x) * 4];
            const size_t block = size_t{y / 8} * m.wide + x / 8;
            m.rgb[block * 3] += px[2];
            m.rgb[block * 3 + 1] += px[1];
            m.rgb[block * 3 + 2] += px[0];
            ++counts[block];
        }
    }
    for (size_t i = 0; i < counts.size(); ++i) {
        for (int c = 0; c < 3; ++c) m.rgb[i * 3 + c] /= counts[i];
    }
    return m;
}

}  // namespace

// Every JPEG fixture, with the luma blocks one chroma block covers.
const struct JpegFile {
    const char* name;
    uint32_t wide, high;  // luma blocks one chroma block covers
} kJpegFiles[] = {
    {"blocks-444.jpg", 1, 1},
    {"blocks-422.jpg", 2, 1},
    {"blocks-420.jpg", 2, 2},
    {"blocks-440.jpg", 1, 2},
    {"blocks-420-progressive.jpg", 2, 2},
    {"blocks-odd-420.jpg", 2, 2},
    {"blocks-odd-422-progressive.jpg", 2, 1},
    {"blocks-odd-420-restart.jpg", 2, 2},
    {"blocks-rgb-ids.jpg", 1, 1},
    {"blocks-422-ffmpeg.jpg", 2, 1},
    {"blocks-odd-444-ffmpeg.jpg", 1, 1},
    {"gradient-grey.jpg", 1, 1},
    {"gradient-grey-progressive.jpg", 1, 1},
    {"gradient-grey-restart.jpg", 1, 1},
    {"photo-420.jpg", 2, 2},
    {"photo-444.jpg", 1, 1},
    {"photo-420-progressive.jpg", 2, 2},
    {"photo-420-restart.jpg", 2, 2},
    {"photo-odd-422.jpg", 2, 1},
    {"photo-odd-grey-progressive.jpg", 1, 1},
    {"photo-odd-420-separate.jpg", 2, 2},
};

TEST_F(WicComparison, JpegBlockMeansMatchWicOverEachChromaBlock) {
    for (const auto& file : kJpegFiles) {
        SCOPED_TRACE(file.name);
        const Bytes bytes = ReadFixture(file.name);
        decode::DcPicture dc;
        ASSERT_TRUE(decode::DecodeJpegDc(bytes.data(), bytes.size(), dc));
        WicPicture wic;
        ASSERT_HRESULT_SUCCEEDED(Decode(bytes, wic));
        ASSERT_EQ(dc.width, wic.width);
        ASSERT_EQ(dc.height, wic.height);
        const BlockMeans ours = MeansOfBgr(dc.blocksWide, dc.blocksHigh, dc.bgr);
        const BlockMeans theirs = MeansOfWic(wic);
        // Blocks cut by the right or bottom edge are left out: see kFullDecodeTolerance.
        EXPECT_LE(
            WorstGroupDifference(ours, theirs, file.wide, file.high, dc.width / 8, dc.height / 8),
            kFullDecodeTolerance);
    }
}

// Whole, at full size: as WIC (libjpeg under Wine) decodes, but for the rounding of its integer
// transform and colour conversion. Reduced: WIC's full decode averaged over each output
// pixel's area. Output pixels cut by the picture's edge are left out: theirs include the
// blocks' padding. Where chroma is subsampled, WIC under Wine repeats each chroma sample over
// the pixels it covers while we interpolate (JpegScaled.h), which moves colours by up to some
// 80 levels along sharp colour edges (our synthetic tiles have one every 16 pixels); there the
// luma of the pixels (299 R + 587 G + 114 B) / 1000 is compared, which chroma leaves alone but
// for clamping, and colours are checked against known content in JpegTest.cpp.
TEST_F(WicComparison, WholeJpegsMatchWicAndItsAreaMeansWhenReduced) {
    for (const auto& file : kJpegFiles) {
        const Bytes bytes = ReadFixture(file.name);
        WicPicture wic;
        ASSERT_HRESULT_SUCCEEDED(Decode(bytes, wic));
        const bool subsampled = file.wide * file.high > 1;
        for (int shift = 0; shift <= 2; ++shift) {
            SCOPED_TRACE(std::string(file.name) + " at 1/" + std::to_string(1 << shift));
            decode::ScaledPicture ours;
            ASSERT_TRUE(decode::DecodeJpegScaled(bytes.data(), bytes.size(), shift, ours));
            ASSERT_EQ(ours.width, wic.width);
            ASSERT_EQ(ours.height, wic.height);
            const uint32_t g = 1u << shift;
            // The values compared at an output pixel, in thousandths of a level.
            const auto values = [subsampled](const uint8_t* bgr, int out[3]) {
                if (subsampled) {
                    out[0] = 299 * bgr[2] + 587 * bgr[1] + 114 * bgr[0];
                } else {
                    for (int c = 0; c < 3; ++c) out[c] = 1000 * bgr[c];
                }
                return subsampled ? 1 : 3;
            };
            double total = 0;
            int worst = 0;
            size_t count = 0;
            for (uint32_t y = 0; y < wic.height / g; ++y) {
                for (uint32_t x = 0; x < wic.width / g; ++x) {
                    int theirs[3] = {}, n = 0;
                    for (uint32_t v = y * g; v < y * g + g; ++v) {
                        for (uint32_t u = x * g; u < x * g + g; ++u) {
                            int one[3];
                            n = values(&wic.bgra[(size_t{v} * wic.width + u) * 4], one);
                            for (int c = 0; c < n; ++c) theirs[c] += one[c];
                        }
                    }
                    int mine[3];
                    values(&ours.bgr[(size_t{y} * ours.scaledWidth + x) * 3], mine);
                    for (int c = 0; c < n; ++c) {
                        const int d = std::abs(mine[c] - theirs[c] / static_cast<int>(g * g));
                        total += d;
                        worst = std::max(worst, d);
                        ++count;
                    }
                }
            }
            // Rounding: of the transforms and colour conversions at full size, and of a mean
            // of rounded values against a rounded mean when reduced. Single pixels differ more
            // where a saturated colour is clamped, before the luma is taken (7.5 levels here).
            EXPECT_LE(total / count / 1000, 0.5);
            EXPECT_LE(worst / 1000.0, 8);
        }
    }
}

bool ReadDirect(const char* name, const Bytes& bytes, decode::RawPicture& out) {
    const char* dot = std::strrchr(name, '.');
    if (std::strcmp(dot, ".bmp") == 0) return decode::ReadBmp(bytes.data(), bytes.size(), out);
    if (std::strcmp(dot, ".tga") == 0) return decode::ReadTga(bytes.data(), bytes.size(), out);
    if (std::strcmp(dot, ".png") == 0) return decode::ReadPng(bytes.data(), bytes.size(), out);
    if (std::strcmp(dot, ".gif") == 0) return decode::ReadGif(bytes.data(), bytes.size(), out);
    return decode::ReadTiff(bytes.data(), bytes.size(), out);
}

// The BMP and TGA fixtures of tests/data/decode/bmp-tga that Wine's WIC reads. It refuses BMP
// bit fields other than 5-5-5, 5-6-5 and 8-8-8-8 under a V5 header, and TGA files of 15 bits,
// 16-bit indices, grey with alpha or right-to-left rows. It reads 24-bit TGA colour maps
// wrongly: ImageMagick, netpbm and PIL read them as the direct reader does.
std::vector<std::string> BmpTgaReadByWic() {
    // clang-format off
    const std::set<std::string> left = {
        "bmp-40-16-x444.bmp", "bmp-40-32-bitfields-bgrx.bmp", "bmp-52-16-565.bmp",
        "bmp-56-32-abgr.bmp", "bmp-108-32-top-down.bmp", "bmp-108-32-10bit.bmp",
        "bmp-124-1555.bmp", "bmp-124-4444.bmp", "tga-1-8.tga", "tga-1-8-pil.tga", "tga-9-8.tga",
        "tga-9-8-map24-top.tga", "tga-1-16-map32.tga", "tga-2-15.tga", "tga-2-24-top-right.tga",
        "tga-2-32-bottom-right.tga", "tga-3-16-pil.tga", "tga-11-16-pil.tga",
        "tga-10-32-no-alpha.tga"};
    // clang-format on
    std::vector<std::string> names;
    for (const BmpTgaFixture& f : BmpTgaFixtures()) {
        if (!left.contains(f.name.substr(f.name.find('/') + 1))) names.push_back(f.name);
    }
    return names;
}

// Not compared: TIFF files with samples in planes and 2-bit grey, which WIC under Wine cannot
// read, 16-bit big-endian ones, which it misreads, and those whose colours it rounds otherwise
// (associated alpha, CMYK).
const char* const kReadAsWicReads[] = {
    // BMP, TGA
    "blocks-24.bmp", "gradient-8.bmp", "blocks-24.tga", "blocks-32.tga", "gradient-grey.tga",
    // PNG
    "blocks-rgb.png", "blocks-rgb-trns.png", "blocks-rgba.png", "blocks-palette.png",
    "blocks-palette-trns.png", "gradient-grey.png", "gradient-grey-trns.png",
    "gradient-grey-alpha.png", "photo-rgb.png",
    // TIFF
    "blocks-rgb.tif", "blocks-rgb-msb-strips.tif", "blocks-rgba.tif", "gradient-grey.tif",
    "blocks-lzw.tif", "blocks-tiled.tif", "blocks-rgb-16.tif", "blocks-palette.tif",
    "gradient-min-is-white.tif", "gradient-grey-alpha.tif", "tiff/rgb16-lzw-predictor.tif",
    "tiff/tiled-lzw.tif", "tiff/tiled-beyond-zip-predictor.tif", "tiff/zip-predictor.tif",
    "tiff/packbits.tif", "tiff/grey1-min-is-white-packbits.tif", "tiff/grey4-min-is-white-lzw.tif",
    "tiff/palette4.tif", "tiff/palette8-lzw.tif", "tiff/rgba-unassociated-zip.tif",
    // GIF files whose first frame covers the screen: WIC gives the frame alone. (Never one
    // without a colour table: Wine's WIC crashes the process on it.)
    "gif/blocks.gif", "gif/blocks-local.gif", "gif/blocks-transparent.gif",
    "gif/gradient-interlaced.gif", "gif/checker-2.gif", "gif/noise-256.gif", "gif/animated.gif"};

TEST_F(WicComparison, DirectReadersMatchWicPixelForPixel) {
    std::vector<std::string> names = BmpTgaReadByWic();
    EXPECT_GE(names.size(), 30u);
    names.insert(names.end(), std::begin(kReadAsWicReads), std::end(kReadAsWicReads));
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        const Bytes bytes = ReadFixture(name);
        decode::RawPicture ours;
        ASSERT_TRUE(ReadDirect(name.c_str(), bytes, ours));
        WicPicture wic;
        ASSERT_HRESULT_SUCCEEDED(Decode(bytes, wic));
        ASSERT_EQ(ours.width, wic.width);
        ASSERT_EQ(ours.height, wic.height);
        // Where a pixel is fully transparent its colour is nobody's business: WIC may keep
        // or clear it.
        size_t differing = 0;
        for (size_t i = 0; i < ours.bgra.size(); i += 4) {
            if (ours.bgra[i + 3] != wic.bgra[i + 3]) {
                ++differing;
            } else if (ours.bgra[i + 3] != 0) {
                differing += std::memcmp(&ours.bgra[i], &wic.bgra[i], 3) != 0;
            }
        }
        EXPECT_EQ(differing, 0u);
    }
}
