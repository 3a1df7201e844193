#include "imagelib/CxImage.h"

#include "imagelib/DecoderHost.h"
#include "imagelib/DirectDecoder.h"
#include "imagelib/GdiOutput.h"
#include "imagelib/Resampler.h"
#include "imagelib/Video.h"
#include "imagelib/WicDecoder.h"

#include <algorithm>
#include <cstring>
#include <utility>

using imagelib::Pixels;

CxImage::CxImage(uint32_t imageType) : type_(imageType) {}

namespace {

// A frame of the video with the facts its container gives: the compressor as the type, the
// bit rate as the bits per pixel.
const char* DecodeVideo(const wchar_t* fileName, const decode::VideoFacts& video,
                        imagelib::DecodedImage& decoded) {
    if (const char* failure = imagelib::DecodeIsolatedVideoFrame(fileName, decoded)) {
        return failure;
    }
    decoded.type = video.fourcc;
    decoded.width = video.width ? video.width : decoded.pixels.width;
    decoded.height = video.height ? video.height : decoded.pixels.height;
    decoded.bitsPerPixel = video.kbitsPerSecond;
    return nullptr;
}

}  // namespace

CxImage::CxImage(const wchar_t* fileName, uint32_t imageType, bool forThumbnail, bool /*flag2*/) {
    imagelib::DecodedImage decoded;
    if (!imagelib::DecodeDirect(fileName, imageType, forThumbnail, decoded)) {
        decode::VideoFacts video;
        const char* failure;
        if (imagelib::ReadVideoFileFacts(fileName, video)) {
            failure = DecodeVideo(fileName, video, decoded);
        } else {
            failure = imagelib::DecodeIsolated(fileName, decoded);
            // WIC refuses a JPEG cut short; its block averages still show what the file holds.
            if (failure && failure != imagelib::kDecoderFailed &&
                imagelib::DecodeJpegBlocks(fileName, decoded)) {
                failure = nullptr;
            }
        }
        if (failure) {
            lastError_ = failure;
            return;
        }
    }
    Take(decoded);
}

CxImage::CxImage(const uint8_t* buffer, size_t size, uint32_t imageType, bool forThumbnail,
                 const wchar_t* source) {
    imagelib::DecodedImage decoded;
    if (!imagelib::DecodeDirectMemory(buffer, size, imageType, forThumbnail, decoded)) {
        if (const char* failure = imagelib::DecodeIsolatedMemory(
                buffer, size, source && *source ? source : L"memory", decoded)) {
            lastError_ = failure;
            return;
        }
    }
    Take(decoded);
}

CxImage::CxImage(const wchar_t* fileName, uint32_t imageType, FitBox box) {
    imagelib::DecodedImage fitted;
    bool complete = false;
    if (box.width == 0 || box.height == 0 ||
        !imagelib::DecodeJpegFitted(fileName, box.width, box.height, fitted, complete)) {
        *this = CxImage(fileName, imageType, false, false);
        return;
    }
    imagelib::DecodedImage whole;
    // Damaged: WIC may read past the damage. Nothing is kept of its failure.
    Take(!complete && !imagelib::DecodeIsolated(fileName, whole) ? whole : fitted);
}

CxImage::CxImage(const uint8_t* buffer, size_t size, uint32_t imageType, FitBox box,
                 const wchar_t* source) {
    imagelib::DecodedImage fitted;
    bool complete = false;
    if (box.width == 0 || box.height == 0 ||
        !imagelib::DecodeJpegFittedMemory(buffer, size, box.width, box.height, fitted, complete)) {
        *this = CxImage(buffer, size, imageType, false, source);
        return;
    }
    imagelib::DecodedImage whole;
    Take(!complete && !imagelib::DecodeIsolatedMemory(buffer, size,
                                                      source && *source ? source : L"memory", whole)
             ? whole
             : fitted);
}

void CxImage::Take(imagelib::DecodedImage& decoded) {
    pixels_ = std::move(decoded.pixels);
    type_ = decoded.type;
    imageWidth_ = decoded.width;
    imageHeight_ = decoded.height;
    imageBpp_ = decoded.bitsPerPixel;
}

CxImage::CxImage(const CxImage& src, bool copyPixels, bool /*copySelection*/, bool copyAlpha)
    : type_(src.type_),
      imageWidth_(src.imageWidth_),
      imageHeight_(src.imageHeight_),
      imageBpp_(src.imageBpp_),
      lastError_(src.lastError_) {
    if (!copyPixels) return;
    if (copyAlpha || src.pixels_.channels != 4) {
        pixels_ = src.pixels_;
    } else if (!imagelib::ToThreeChannels(src.pixels_, pixels_)) {
        lastError_ = "Out of memory";
    }
}

bool CxImage::Fail(const char* reason) {
    lastError_ = reason;
    return false;
}

CxImage& CxImage::Target(CxImage* out) {
    if (out == nullptr || out == this) return *this;
    *out = CxImage(*this, false);
    return *out;
}

bool CxImage::Thumbnail(long newx, long newy, RGBQUAD canvasColor, CxImage* out) {
    if (!IsValid()) return Fail("No image");
    if (newx <= 0 || newy <= 0 || !imagelib::SizeAllowed(newx, newy, 3)) {
        return Fail("Invalid size");
    }
    const auto boxWidth = static_cast<uint32_t>(newx);
    const auto boxHeight = static_cast<uint32_t>(newy);

    // A picture that already fits keeps its size: enlarging would only blur it, and a small
    // icon reads better crisp and centred than blown up.
    uint64_t width = pixels_.width;
    uint64_t height = pixels_.height;
    if (width > boxWidth || height > boxHeight) {
        if (width * boxHeight >= height * boxWidth) {  // relatively wider: fill the width
            height = std::max<uint64_t>(1, (height * boxWidth + width / 2) / width);
            width = boxWidth;
        } else {
            width = std::max<uint64_t>(1, (width * boxHeight + height / 2) / height);
            height = boxHeight;
        }
    }
    Pixels scaled;
    const Pixels* picture = &pixels_;
    if (width != pixels_.width || height != pixels_.height) {
        if (!imagelib::Resample(pixels_, static_cast<uint32_t>(width),
                                static_cast<uint32_t>(height), scaled)) {
            return Fail("Out of memory");
        }
        picture = &scaled;
    }

    Pixels canvas;
    if (!canvas.Allocate(boxWidth, boxHeight, 3)) return Fail("Out of memory");
    const uint8_t color[3] = {canvasColor.rgbBlue, canvasColor.rgbGreen, canvasColor.rgbRed};
    for (uint32_t y = 0; y < boxHeight; ++y) {
        uint8_t* d = canvas.Row(y);
        for (uint32_t x = 0; x < boxWidth; ++x, d += 3) std::memcpy(d, color, 3);
    }
    const uint32_t left = (boxWidth - picture->width) / 2;
    const uint32_t top = (boxHeight - picture->height) / 2;
    for (uint32_t y = 0; y < picture->height; ++y) {
        const uint8_t* s = picture->TopRow(y);
        uint8_t* d = canvas.TopRow(top + y) + size_t{left} * 3;
        if (picture->channels == 3) {
            std::memcpy(d, s, size_t{picture->width} * 3);
            continue;
        }
        // Thumbnails carry transparency as their canvas colour, which their viewers key out
        // in one bit: a pixel is either the canvas (mostly transparent) or its own colour.
        // Blending the canvas in would tint every soft edge with it.
        for (uint32_t x = 0; x < picture->width; ++x, s += 4, d += 3) {
            if (s[3] < 128) {
                std::memcpy(d, color, 3);
            } else {
                for (int c = 0; c < 3; ++c) d[c] = imagelib::Unpremultiply(s[c], s[3]);
            }
        }
    }
    Target(out).pixels_ = std::move(canvas);
    return true;
}

bool CxImage::IncreaseBpp(uint32_t bpp) {
    if (!IsValid()) return Fail("No image");
    if (bpp != 24 && bpp != 32) return Fail("Unsupported bit depth");
    const uint32_t channels = bpp / 8;
    if (pixels_.channels == channels) return true;
    Pixels converted;
    const bool done = channels == 3 ? imagelib::ToThreeChannels(pixels_, converted)
                                    : imagelib::ToFourChannels(pixels_, converted);
    if (!done) return Fail("Image too large");
    pixels_ = std::move(converted);
    return true;
}

bool CxImage::CreateFromArray(const uint8_t* bits, uint32_t width, uint32_t height, uint32_t bpp,
                              uint32_t bytesPerLine, bool flipImage) {
    if (bits == nullptr) return Fail("No pixel data");
    if (bpp != 24 && bpp != 32) return Fail("Unsupported bit depth");
    const uint32_t channels = bpp / 8;
    if (!imagelib::SizeAllowed(width, height, channels)) return Fail("Invalid image size");
    if (bytesPerLine < uint64_t{width} * channels) return Fail("Rows shorter than the width");

    Pixels pixels;
    if (!pixels.Allocate(width, height, channels)) return Fail("Out of memory");
    for (uint32_t r = 0; r < height; ++r) {
        const uint8_t* s = bits + size_t{r} * bytesPerLine;
        uint8_t* d = pixels.Row(flipImage ? height - 1 - r : r);
        if (channels == 3) {
            std::memcpy(d, s, size_t{width} * 3);
            continue;
        }
        for (uint32_t x = 0; x < width; ++x, s += 4, d += 4) {
            for (int c = 0; c < 3; ++c) d[c] = imagelib::Premultiply(s[c], s[3]);
            d[3] = s[3];
        }
    }
    pixels_ = std::move(pixels);
    imageWidth_ = width;
    imageHeight_ = height;
    imageBpp_ = bpp;
    return true;
}

bool CxImage::Resample(long newx, long newy, int /*mode*/, CxImage* out) {
    if (!IsValid()) return Fail("No image");
    if (newx <= 0 || newy <= 0 || !imagelib::SizeAllowed(newx, newy, pixels_.channels)) {
        return Fail("Invalid size");
    }
    if (static_cast<uint32_t>(newx) == pixels_.width &&
        static_cast<uint32_t>(newy) == pixels_.height) {
        // Already that size (a cached thumbnail shown at its stored size): nothing to compute.
        if (out && out != this) Target(out).pixels_ = pixels_;
        return true;
    }
    Pixels scaled;
    if (!imagelib::Resample(pixels_, static_cast<uint32_t>(newx), static_cast<uint32_t>(newy),
                            scaled)) {
        return Fail("Out of memory");
    }
    Target(out).pixels_ = std::move(scaled);
    return true;
}

HBITMAP CxImage::MakeBitmap(HDC /*hdc*/) const {
    return imagelib::MakeDibSection(pixels_);
}

uint32_t CxImage::GetSize() const {
    if (!IsValid()) return 0;
    // At most 1 GiB of pixels, so the sum fits.
    return static_cast<uint32_t>(sizeof(BITMAPINFOHEADER) + pixels_.bytes.size());
}

uint8_t* CxImage::GetBits(uint32_t row) {
    return row < pixels_.height ? pixels_.Row(row) : nullptr;
}

const uint8_t* CxImage::GetBits(uint32_t row) const {
    return row < pixels_.height ? pixels_.Row(row) : nullptr;
}

long CxImage::Draw(HDC hdc, long x, long y, long cx, long cy, RECT* clip, bool /*smooth*/) const {
    if (!IsValid() || hdc == nullptr) return 0;
    const int64_t width = cx < 0 ? pixels_.width : cx;
    const int64_t height = cy < 0 ? pixels_.height : cy;
    if (width == 0 || height == 0) return 0;

    // The visible part of the target rectangle, in 64 bits so that no sum overflows.
    int64_t left = x;
    int64_t top = y;
    int64_t right = left + width;
    int64_t bottom = top + height;
    auto intersect = [&](const RECT& r) {
        left = std::max<int64_t>(left, r.left);
        top = std::max<int64_t>(top, r.top);
        right = std::min<int64_t>(right, r.right);
        bottom = std::min<int64_t>(bottom, r.bottom);
    };
    if (clip != nullptr) intersect(*clip);
    RECT box{};
    const int boxKind = ::GetClipBox(hdc, &box);
    if (boxKind == NULLREGION) return 0;
    if (boxKind != ERROR) intersect(box);
    if (left >= right || top >= bottom) return 0;

    const imagelib::Window window{static_cast<uint32_t>(left - x), static_cast<uint32_t>(top - y),
                                  static_cast<uint32_t>(right - x),
                                  static_cast<uint32_t>(bottom - y)};
    Pixels visible;
    if (!imagelib::ResampleWindow(pixels_, static_cast<uint32_t>(width),
                                  static_cast<uint32_t>(height), window, visible)) {
        return 0;
    }
    return imagelib::PutPixels(hdc, static_cast<long>(left), static_cast<long>(top), visible) ? 1
                                                                                              : 0;
}

long CxImage::Draw2(HDC hdc, long x, long y, long cx, long cy) const {
    return Draw(hdc, x, y, cx, cy, nullptr, true);
}
