#pragma once
// Pixel storage of the image library: device-independent bitmap rows, bottom row first, each
// row padded to a multiple of 4 bytes. Three channels are blue, green, red; four channels add
// alpha, with the colours premultiplied by it (what AlphaBlend and correct filtering need).

#include <cstddef>
#include <algorithm>
#include <cstdint>
#include <vector>

namespace imagelib {

// Bounds for every size that comes from a file or a caller, checked before allocating.
inline constexpr uint32_t kMaxSide = 30000;
inline constexpr uint64_t kMaxPixelBytes = uint64_t{1} << 30;

// Bytes per row of a DIB: padded to 4 bytes.
constexpr uint64_t DibStride(uint64_t width, uint32_t channels) {
    return (width * channels + 3) & ~uint64_t{3};
}

// True when width x height pixels of the given channel count are within the bounds.
bool SizeAllowed(uint64_t width, uint64_t height, uint32_t channels);

struct Pixels {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t channels = 0;  // 3 or 4; 0 when empty
    uint32_t stride = 0;
    std::vector<uint8_t> bytes;

    bool Empty() const { return bytes.empty(); }
    // Rows are counted from the bottom, as in a DIB.
    uint8_t* Row(uint32_t row) { return bytes.data() + size_t{row} * stride; }
    const uint8_t* Row(uint32_t row) const { return bytes.data() + size_t{row} * stride; }
    // Rows counted from the top, as on the screen.
    uint8_t* TopRow(uint32_t y) { return Row(height - 1 - y); }
    const uint8_t* TopRow(uint32_t y) const { return Row(height - 1 - y); }

    // Zero-filled storage; false (and left empty) when the size is refused.
    bool Allocate(uint32_t newWidth, uint32_t newHeight, uint32_t newChannels);
    void Clear() { *this = Pixels(); }
};

// Drops alpha: premultiplied colours are the picture composited onto black.
bool ToThreeChannels(const Pixels& src, Pixels& out);
// Adds an opaque alpha channel.
bool ToFourChannels(const Pixels& src, Pixels& out);

// Premultiplied colour c of alpha a composited onto background b: c + b * (255 - a) / 255.
inline uint8_t Over(uint8_t c, uint8_t a, uint8_t b) {
    return static_cast<uint8_t>(c + (b * (255 - a) + 127) / 255);
}

inline uint8_t Unpremultiply(uint8_t c, uint8_t a) {
    return a == 0 ? 0 : static_cast<uint8_t>(std::min(255, (c * 255 + a / 2) / a));
}

inline uint8_t Premultiply(uint8_t c, uint8_t a) {
    return static_cast<uint8_t>((c * a + 127) / 255);
}

}  // namespace imagelib
