#pragma once
// Rows of 8-bit samples converted into the B, G, R, A pixels of a RawPicture; shared by the
// direct readers. The callers have checked that each source row holds `width` pixels.

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace decode {

constexpr uint32_t kOpaque = 0xFF000000u;

inline uint32_t LoadU32(const uint8_t* p) {
    uint32_t value;
    std::memcpy(&value, p, 4);
    return value;  // little-endian: the first byte in the low bits
}

inline void StoreU32(uint8_t* p, uint32_t value) {
    std::memcpy(p, &value, 4);
}

inline void ConvertGreyRow(const uint8_t* s, uint32_t width, uint8_t* d) {
    for (uint32_t x = 0; x < width; ++x, d += 4) {
        const uint32_t g = s[x];
        StoreU32(d, g | g << 8 | g << 16 | kOpaque);
    }
}

// R, G, B into B, G, R, 255. All pixels but the last are read as four bytes, the fourth
// belonging to the next pixel.
inline void ConvertRgbRow(const uint8_t* s, uint32_t width, uint8_t* d) {
    uint32_t x = 0;
    for (; x + 1 < width; ++x, s += 3, d += 4) {
        const uint32_t v = LoadU32(s);
        StoreU32(d, (v & 0xFF) << 16 | (v & 0xFF00) | (v >> 16 & 0xFF) | kOpaque);
    }
    d[0] = s[2];
    d[1] = s[1];
    d[2] = s[0];
    d[3] = 255;
}

// R, G, B, A into B, G, R, A: red and blue trade places.
inline void ConvertRgbaRow(const uint8_t* s, uint32_t width, uint8_t* d) {
    for (uint32_t x = 0; x < width; ++x, s += 4, d += 4) {
        const uint32_t v = LoadU32(s);
        StoreU32(d, (v & 0xFF00FF00u) | (v & 0xFF) << 16 | (v >> 16 & 0xFF));
    }
}

}  // namespace decode
