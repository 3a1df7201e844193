#include "support/SampleImages.h"

#include "support/TempDir.h"

#include <wincodec.h>
#include <wrl/client.h>

#include <algorithm>
#include <string>

namespace sample {
namespace {

using Microsoft::WRL::ComPtr;

// Little-endian.
void Put(std::string& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i, value >>= 8) out += static_cast<char>(value & 0xFF);
}

uint32_t Bgr(Color c) {
    return uint32_t{c.r} << 16 | c.g << 8 | c.b;
}

// Rows padded to 4 bytes, `bytes` per pixel: 3 BGR, 4 BGRA, 1 an index into `palette`.
std::vector<uint8_t> Rows(const Picture& p, UINT bytes, const std::vector<Color>& palette,
                          UINT& stride) {
    stride = (p.width * bytes + 3) & ~3u;
    std::vector<uint8_t> rows(size_t{stride} * p.height);
    for (size_t i = 0; i < p.pixels.size(); ++i) {
        const Color c = p.pixels[i];
        uint8_t* d = rows.data() + i / p.width * stride + i % p.width * bytes;
        const uint8_t bgra[4] = {c.b, c.g, c.r, c.a};
        if (bytes == 1) {
            d[0] = static_cast<uint8_t>(std::find(palette.begin(), palette.end(), c) -
                                        palette.begin());
        } else {
            std::copy_n(bgra, bytes, d);
        }
    }
    return rows;
}

bool WriteWithWic(const GUID& container, WICPixelFormatGUID format, UINT bytes,
                  const Picture& picture, const std::filesystem::path& path) {
    ComPtr<IWICImagingFactory> factory;
    ComPtr<IWICStream> stream;
    ComPtr<IWICBitmapEncoder> encoder;
    ComPtr<IWICBitmapFrameEncode> frame;
    ComPtr<IPropertyBag2> options;
    const WICPixelFormatGUID wanted = format;
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                IID_PPV_ARGS(&factory))) ||
        FAILED(factory->CreateStream(&stream)) ||
        FAILED(stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE)) ||
        FAILED(factory->CreateEncoder(container, nullptr, &encoder)) ||
        FAILED(encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache)) ||
        FAILED(encoder->CreateNewFrame(&frame, &options)) ||
        FAILED(frame->Initialize(options.Get())) ||
        FAILED(frame->SetSize(picture.width, picture.height)) ||
        FAILED(frame->SetPixelFormat(&format)) || format != wanted) {
        return false;
    }
    std::vector<Color> palette;
    if (bytes == 1) {
        std::vector<WICColor> entries;
        for (const Color& c : picture.pixels) {
            if (std::find(palette.begin(), palette.end(), c) != palette.end()) continue;
            palette.push_back(c);
            entries.push_back(0xFF000000u | Bgr(c));
        }
        ComPtr<IWICPalette> wicPalette;
        if (FAILED(factory->CreatePalette(&wicPalette)) ||
            FAILED(wicPalette->InitializeCustom(entries.data(), UINT(entries.size()))) ||
            FAILED(frame->SetPalette(wicPalette.Get()))) {
            return false;
        }
    }
    UINT stride = 0;
    std::vector<uint8_t> rows = Rows(picture, bytes, palette, stride);
    return SUCCEEDED(frame->WritePixels(picture.height, stride, UINT(rows.size()), rows.data())) &&
           SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit());
}

// Uncompressed true-colour Targa, 24 bits, bottom row first (the format's default order).
void WriteTga(const Picture& p, const std::filesystem::path& path) {
    std::string tga;
    Put(tga, 2 << 16, 3);  // no id, no colour map, uncompressed true colour
    Put(tga, 0, 9);        // colour map and origin
    Put(tga, p.width, 2);
    Put(tga, p.height, 2);
    Put(tga, 24, 2);  // bits per pixel; descriptor 0: bottom-up, no alpha
    for (uint32_t y = p.height; y-- > 0;) {
        for (uint32_t x = 0; x < p.width; ++x) Put(tga, Bgr(p.pixels[y * p.width + x]), 3);
    }
    testing_support::WriteFile(path, tga);
}

}  // namespace

Color Quadrant(uint32_t x, uint32_t y, uint32_t width, uint32_t height) {
    const bool right = x >= width / 2;
    return y >= height / 2 ? (right ? kYellow : kBlue) : (right ? kGreen : kRed);
}

Picture QuadrantPicture(uint32_t width, uint32_t height) {
    Picture p{width, height, {}};
    for (uint32_t i = 0; i < width * height; ++i) {
        p.pixels.push_back(Quadrant(i % width, i / width, width, height));
    }
    return p;
}

bool Write(Format format, const Picture& picture, const std::filesystem::path& path) {
    switch (format) {
        case Format::Bmp:
            return WriteWithWic(GUID_ContainerFormatBmp, GUID_WICPixelFormat24bppBGR, 3, picture,
                                path);
        case Format::Png:
            return WriteWithWic(GUID_ContainerFormatPng, GUID_WICPixelFormat24bppBGR, 3, picture,
                                path);
        case Format::PngWithAlpha:
            return WriteWithWic(GUID_ContainerFormatPng, GUID_WICPixelFormat32bppBGRA, 4, picture,
                                path);
        case Format::Jpeg:
            return WriteWithWic(GUID_ContainerFormatJpeg, GUID_WICPixelFormat24bppBGR, 3, picture,
                                path);
        case Format::Gif:
            return WriteWithWic(GUID_ContainerFormatGif, GUID_WICPixelFormat8bppIndexed, 1, picture,
                                path);
        case Format::Tiff:
            return WriteWithWic(GUID_ContainerFormatTiff, GUID_WICPixelFormat24bppBGR, 3, picture,
                                path);
        case Format::Ico:
            WriteIcon({picture}, path);
            return true;
        case Format::Tga:
            WriteTga(picture, path);
            return true;
    }
    return false;
}

void WriteIcon(const std::vector<Picture>& frames, const std::filesystem::path& path) {
    std::string directory;
    std::string images;
    Put(directory, 1 << 16, 4);  // reserved, type 1: icon
    Put(directory, uint32_t(frames.size()), 2);
    const uint32_t firstImage = 6 + 16 * uint32_t(frames.size());
    for (const Picture& p : frames) {
        std::string image;
        Put(image, 40, 4);
        Put(image, p.width, 4);
        Put(image, p.height * 2, 4);  // colour rows, then mask rows
        Put(image, 32 << 16 | 1, 4);  // planes, bits per pixel
        Put(image, 0, 24);            // BI_RGB and the unused rest of the header
        for (uint32_t y = p.height; y-- > 0;) {
            for (uint32_t x = 0; x < p.width; ++x) {
                const Color c = p.pixels[y * p.width + x];
                Put(image, uint32_t{c.a} << 24 | Bgr(c), 4);
            }
        }
        image.append((p.width + 31) / 32 * 4 * p.height, '\0');  // mask: alpha decides

        Put(directory, p.width & 0xFF, 1);  // 0 means 256
        Put(directory, p.height & 0xFF, 1);
        Put(directory, 0, 2);  // no palette
        Put(directory, 32 << 16 | 1, 4);
        Put(directory, uint32_t(image.size()), 4);
        Put(directory, firstImage + uint32_t(images.size()), 4);
        images += image;
    }
    testing_support::WriteFile(path, directory + images);
}

CxImage MakeImage(const Picture& picture) {
    const bool opaque = std::all_of(picture.pixels.begin(), picture.pixels.end(),
                                    [](const Color& c) { return c.a == 255; });
    UINT stride = 0;
    const std::vector<uint8_t> rows = Rows(picture, opaque ? 3 : 4, {}, stride);
    CxImage image(1);
    image.CreateFromArray(rows.data(), picture.width, picture.height, opaque ? 24 : 32, stride,
                          true);
    return image;
}

Color PixelAt(const CxImage& image, uint32_t x, uint32_t y) {
    const uint32_t bytes = image.GetBpp() / 8;
    const uint8_t* p = image.GetBits(image.GetHeight() - 1 - y) + size_t{x} * bytes;
    return Color{p[0], p[1], p[2], bytes == 4 ? p[3] : uint8_t{255}};
}

}  // namespace sample
