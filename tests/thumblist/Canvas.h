#pragma once
// A 32-bit top-down DIB selected into a memory device context, so tests can draw cells or
// print a window into it and read the pixels back as colours.

#include "base/Handles.h"

#include <cstdint>

namespace testing_support {

class Canvas {
public:
    Canvas(int width, int height) : width_(width), height_(height) {
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        bitmap_.Reset(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
        bits_ = static_cast<uint32_t*>(bits);
        dc_.Reset(::CreateCompatibleDC(nullptr));
        previous_ = ::SelectObject(dc_.Get(), bitmap_.Get());
    }
    ~Canvas() { ::SelectObject(dc_.Get(), previous_); }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    HDC Dc() const { return dc_.Get(); }
    int Width() const { return width_; }
    int Height() const { return height_; }

    void Fill(COLORREF color) {
        ::GdiFlush();
        for (int i = 0; i < width_ * height_; ++i) bits_[i] = ToPixel(color);
    }

    // The colour at (x, y) as 0x00BBGGRR; -1 outside the canvas.
    COLORREF At(int x, int y) const {
        if (x < 0 || y < 0 || x >= width_ || y >= height_) return CLR_INVALID;
        ::GdiFlush();
        const uint32_t pixel = bits_[y * width_ + x] & 0xFFFFFF;
        return RGB(pixel >> 16 & 0xFF, pixel >> 8 & 0xFF, pixel & 0xFF);
    }

private:
    static uint32_t ToPixel(COLORREF color) {
        return uint32_t{GetRValue(color)} << 16 | uint32_t{GetGValue(color)} << 8 |
               GetBValue(color);
    }

    int width_;
    int height_;
    win::UniqueBitmap bitmap_;
    uint32_t* bits_ = nullptr;
    win::MemoryDc dc_;
    HGDIOBJ previous_ = nullptr;
};

}  // namespace testing_support
