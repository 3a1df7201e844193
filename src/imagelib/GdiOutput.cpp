#include "imagelib/GdiOutput.h"

#include "base/Handles.h"

#include <cstring>

namespace imagelib {
namespace {

BITMAPINFO InfoOf(const Pixels& pixels) {
    BITMAPINFO info{};
    BITMAPINFOHEADER& header = info.bmiHeader;
    header.biSize = sizeof(BITMAPINFOHEADER);
    header.biWidth = static_cast<LONG>(pixels.width);
    header.biHeight = static_cast<LONG>(pixels.height);  // positive: bottom row first
    header.biPlanes = 1;
    header.biBitCount = static_cast<WORD>(pixels.channels * 8);
    header.biCompression = BI_RGB;
    header.biSizeImage = static_cast<DWORD>(pixels.bytes.size());
    return info;
}

}  // namespace

HBITMAP MakeDibSection(const Pixels& pixels) {
    if (pixels.Empty()) return nullptr;
    const BITMAPINFO info = InfoOf(pixels);
    void* bits = nullptr;
    HBITMAP bitmap = ::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap == nullptr || bits == nullptr) {
        if (bitmap != nullptr) ::DeleteObject(bitmap);
        return nullptr;
    }
    std::memcpy(bits, pixels.bytes.data(), pixels.bytes.size());
    return bitmap;
}

bool PutPixels(HDC hdc, long x, long y, const Pixels& pixels) {
    if (pixels.Empty()) return false;
    const int width = static_cast<int>(pixels.width);
    const int height = static_cast<int>(pixels.height);
    if (pixels.channels == 3) {
        const BITMAPINFO info = InfoOf(pixels);
        return ::SetDIBitsToDevice(hdc, x, y, pixels.width, pixels.height, 0, 0, 0, pixels.height,
                                   pixels.bytes.data(), &info, DIB_RGB_COLORS) != 0;
    }
    // AlphaBlend takes its source from a DC; the premultiplied DIB is what it expects.
    win::UniqueBitmap dib(MakeDibSection(pixels));
    win::MemoryDc source(::CreateCompatibleDC(hdc));
    if (!dib || !source) return false;
    win::SelectObjectScope selected(source.Get(), dib.Get());
    if (!selected.Selected()) return false;
    const BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    return ::AlphaBlend(hdc, x, y, width, height, source.Get(), 0, 0, width, height, blend) !=
           FALSE;
}

}  // namespace imagelib
