// The direct decoders against WIC on the same files: JPEG block means against WIC's full
// decode averaged here, BMP, TGA, PNG, TIFF and GIF pixel for pixel.
#include "base/Win.h"
#include "decode/Fixtures.h"
#include "decode/Gif.h"
#include "decode/JpegDc.h"
#include "decode/Png.h"
#include "decode/RawPictures.h"
#include "decode/Tiff.h"

#include <gtest/gtest.h>

#include <wincodec.h>
#include <wrl/client.h>

#include <cstring>

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

TEST_F(WicComparison, JpegBlockMeansMatchWicOverEachChromaBlock) {
    const struct {
        const char* name;
        uint32_t wide, high;  // luma blocks one chroma block covers
    } files[] = {
        {"blocks-444.jpg", 1, 1},
        {"blocks-422.jpg", 2, 1},
        {"blocks-420.jpg", 2, 2},
        {"blocks-440.jpg", 1, 2},
        {"blocks-420-progressive.jpg", 2, 2},
        {"blocks-odd-420.jpg", 2, 2},
        {"blocks-odd-422-progressive.jpg", 2, 1},
        {"blocks-odd-420-restart.jpg", 2, 2},
        {"gradient-grey.jpg", 1, 1},
        {"gradient-grey-progressive.jpg", 1, 1},
        {"gradient-grey-restart.jpg", 1, 1},
        {"photo-420.jpg", 2, 2},
        {"photo-444.jpg", 1, 1},
        {"photo-420-progressive.jpg", 2, 2},
        {"photo-420-restart.jpg", 2, 2},
        {"photo-odd-422.jpg", 2, 1},
        {"photo-odd-grey-progressive.jpg", 1, 1},
    };
    for (const auto& file : files) {
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

bool ReadDirect(const char* name, const Bytes& bytes, decode::RawPicture& out) {
    const char* dot = std::strrchr(name, '.');
    if (std::strcmp(dot, ".bmp") == 0) return decode::ReadBmp(bytes.data(), bytes.size(), out);
    if (std::strcmp(dot, ".tga") == 0) return decode::ReadTga(bytes.data(), bytes.size(), out);
    if (std::strcmp(dot, ".png") == 0) return decode::ReadPng(bytes.data(), bytes.size(), out);
    if (std::strcmp(dot, ".gif") == 0) return decode::ReadGif(bytes.data(), bytes.size(), out);
    return decode::ReadTiff(bytes.data(), bytes.size(), out);
}

TEST_F(WicComparison, DirectReadersMatchWicPixelForPixel) {
    for (const char* name :
         {"blocks-24.bmp", "gradient-8.bmp", "blocks-24.tga", "blocks-32.tga",
          "gradient-grey.tga", "blocks-rgb.png", "blocks-rgb-trns.png", "blocks-rgba.png", "blocks-palette.png",
          "blocks-palette-trns.png", "gradient-grey.png", "gradient-grey-trns.png", "gradient-grey-alpha.png",
          "photo-rgb.png", "blocks-rgb.tif", "blocks-rgb-msb-strips.tif", "blocks-rgba.tif",
          "gradient-grey.tif",
          // GIF files whose first frame covers the screen: WIC gives the frame alone. (Never
          // one without a colour table: Wine's WIC crashes the process on it.)
          "gif/blocks.gif", "gif/blocks-local.gif", "gif/blocks-transparent.gif",
          "gif/gradient-interlaced.gif", "gif/checker-2.gif", "gif/noise-256.gif",
          "gif/animated.gif"}) {
        SCOPED_TRACE(name);
        const Bytes bytes = ReadFixture(name);
        decode::RawPicture ours;
        ASSERT_TRUE(ReadDirect(name, bytes, ours));
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
