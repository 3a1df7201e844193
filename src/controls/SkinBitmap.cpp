#include "controls/SkinBitmap.h"

#include "base/Dpi.h"
#include "imagelib/CxImage.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace skin {
namespace {

constexpr UINT kVariantStep = 200;  // id + 200: 144 DPI, id + 400: 192 DPI

win::UniqueBitmap LoadResource(UINT id) {
    return win::UniqueBitmap(
        ::LoadBitmapW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id & 0xFFFF)));
}

SIZE SizeOf(HBITMAP bitmap) {
    BITMAP info = {};
    if (!bitmap || !::GetObjectW(bitmap, sizeof info, &info)) return {0, 0};
    return {info.bmWidth, info.bmHeight};
}

// The variant drawn nearest `dpi`; of two equally near, the larger, since shrinking keeps
// more detail than enlarging.
win::UniqueBitmap NearestVariant(UINT id, UINT dpi) {
    const UINT drawnAt[] = {192, 144, 96};
    UINT best = drawnAt[0];
    for (UINT candidate : drawnAt) {
        if (std::abs(static_cast<int>(candidate) - static_cast<int>(dpi)) <
            std::abs(static_cast<int>(best) - static_cast<int>(dpi))) {
            best = candidate;
        }
    }
    for (UINT candidate : drawnAt) {
        if (candidate > best) continue;
        const UINT variant = id + (candidate - 96) / 48 * kVariantStep;
        if (win::UniqueBitmap bitmap = LoadResource(variant)) return bitmap;
    }
    return {};
}

constexpr uint32_t Stride24(int width) {
    return (static_cast<uint32_t>(width) * 3 + 3) & ~3u;
}

// The bitmap's pixels as 24-bit rows, top row first.
std::vector<uint8_t> TopDownPixels(HBITMAP bitmap, SIZE size) {
    std::vector<uint8_t> bits(Stride24(size.cx) * static_cast<size_t>(size.cy));
    BITMAPINFO header = {};
    header.bmiHeader.biSize = sizeof header.bmiHeader;
    header.bmiHeader.biWidth = size.cx;
    header.bmiHeader.biHeight = -size.cy;
    header.bmiHeader.biPlanes = 1;
    header.bmiHeader.biBitCount = 24;
    header.bmiHeader.biCompression = BI_RGB;
    HDC screen = ::GetDC(nullptr);
    const int read = ::GetDIBits(screen, bitmap, 0, static_cast<UINT>(size.cy), bits.data(),
                                 &header, DIB_RGB_COLORS);
    ::ReleaseDC(nullptr, screen);
    if (read != size.cy) bits.clear();
    return bits;
}

}  // namespace

SIZE Size96(UINT id) {
    const win::UniqueBitmap bitmap = LoadResource(id);
    return SizeOf(bitmap.Get());
}

win::UniqueBitmap Load(UINT id, UINT dpi, int rows) {
    if (rows < 1) rows = 1;
    const SIZE base = Size96(id);
    if (base.cx <= 0 || base.cy < rows) return {};
    const int width = ui::Scale(base.cx, dpi);
    const int rowHeight = ui::Scale(base.cy / rows, dpi);
    win::UniqueBitmap drawn = NearestVariant(id, dpi);
    const SIZE drawnSize = SizeOf(drawn.Get());
    if (drawnSize.cx == width && drawnSize.cy == rowHeight * rows) return drawn;

    const std::vector<uint8_t> source = TopDownPixels(drawn.Get(), drawnSize);
    if (source.empty() || width <= 0 || rowHeight <= 0) return {};
    BITMAPINFO header = {};
    header.bmiHeader.biSize = sizeof header.bmiHeader;
    header.bmiHeader.biWidth = width;
    header.bmiHeader.biHeight = -rowHeight * rows;
    header.bmiHeader.biPlanes = 1;
    header.bmiHeader.biBitCount = 24;
    header.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    win::UniqueBitmap result(
        ::CreateDIBSection(nullptr, &header, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!result || !bits) return {};
    const uint32_t sourceStride = Stride24(drawnSize.cx);
    const uint32_t targetStride = Stride24(width);
    const int sourceRowHeight = drawnSize.cy / rows;
    for (int row = 0; row < rows; ++row) {
        CxImage image;
        if (!image.CreateFromArray(source.data() + sourceStride * sourceRowHeight * row,
                                   static_cast<uint32_t>(drawnSize.cx),
                                   static_cast<uint32_t>(sourceRowHeight), 24, sourceStride,
                                   true) ||
            !image.Resample(width, rowHeight) || image.GetBpp() != 24) {
            return {};
        }
        for (int y = 0; y < rowHeight; ++y) {
            // CxImage counts rows from the bottom.
            std::memcpy(static_cast<uint8_t*>(bits) +
                            targetStride * static_cast<size_t>(row * rowHeight + y),
                        image.GetBits(static_cast<uint32_t>(rowHeight - 1 - y)),
                        static_cast<size_t>(width) * 3);
        }
    }
    return result;
}

}  // namespace skin
