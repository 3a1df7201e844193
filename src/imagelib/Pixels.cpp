#include "imagelib/Pixels.h"

namespace imagelib {

bool SizeAllowed(uint64_t width, uint64_t height, uint32_t channels) {
    if (width == 0 || height == 0 || width > kMaxSide || height > kMaxSide) return false;
    if (channels != 3 && channels != 4) return false;
    // Both sides are below 2^15, so the product cannot overflow.
    return DibStride(width, channels) * height <= kMaxPixelBytes;
}

bool Pixels::Allocate(uint32_t newWidth, uint32_t newHeight, uint32_t newChannels) {
    Clear();
    if (!SizeAllowed(newWidth, newHeight, newChannels)) return false;
    width = newWidth;
    height = newHeight;
    channels = newChannels;
    stride = static_cast<uint32_t>(DibStride(newWidth, newChannels));
    bytes.assign(size_t{stride} * newHeight, 0);
    return true;
}

bool ToThreeChannels(const Pixels& src, Pixels& out) {
    if (src.channels != 4 || !out.Allocate(src.width, src.height, 3)) return false;
    for (uint32_t y = 0; y < src.height; ++y) {
        const uint8_t* s = src.Row(y);
        uint8_t* d = out.Row(y);
        for (uint32_t x = 0; x < src.width; ++x, s += 4, d += 3) {
            d[0] = s[0];
            d[1] = s[1];
            d[2] = s[2];
        }
    }
    return true;
}

bool ToFourChannels(const Pixels& src, Pixels& out) {
    if (src.channels != 3 || !out.Allocate(src.width, src.height, 4)) return false;
    for (uint32_t y = 0; y < src.height; ++y) {
        const uint8_t* s = src.Row(y);
        uint8_t* d = out.Row(y);
        for (uint32_t x = 0; x < src.width; ++x, s += 3, d += 4) {
            d[0] = s[0];
            d[1] = s[1];
            d[2] = s[2];
            d[3] = 255;
        }
    }
    return true;
}

}  // namespace imagelib
