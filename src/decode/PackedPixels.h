#pragma once
// Row converters shared by the BMP and TGA readers: B, G, R (and A) bytes, and pixels packed
// into 16 or 32 bits whose channels are given by masks.

#include "decode/PixelRows.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace decode {

// Three bytes B, G, R a pixel into B, G, R, 255. All pixels but the last are read as four
// bytes, the fourth belonging to the next pixel.
inline void ConvertBgrRow(const uint8_t* s, uint32_t width, uint8_t* d) {
    uint32_t x = 0;
    for (; x + 1 < width; ++x, s += 3, d += 4) StoreU32(d, LoadU32(s) | kOpaque);
    d[0] = s[0];
    d[1] = s[1];
    d[2] = s[2];
    d[3] = 255;
}

inline void ConvertBgrxRow(const uint8_t* s, uint32_t width, uint8_t* d, bool keepAlpha) {
    if (keepAlpha) {
        std::memcpy(d, s, size_t{width} * 4);
        return;
    }
    for (uint32_t x = 0; x < width; ++x, s += 4, d += 4) StoreU32(d, LoadU32(s) | kOpaque);
}

inline void MirrorRow(uint8_t* row, uint32_t width) {
    for (uint32_t a = 0, b = width - 1; a < b; ++a, --b) {
        const uint32_t left = LoadU32(row + size_t{a} * 4);
        StoreU32(row + size_t{a} * 4, LoadU32(row + size_t{b} * 4));
        StoreU32(row + size_t{b} * 4, left);
    }
}

// One channel of a packed pixel: (pixel >> shift) & mask picks its top 8 bits at most, and
// `levels` scales them to 0..255 by repeating the bits (5 bits abcde give abcdeabc), which
// keeps 0 and the maximum exact and is within one level of the rounded v * 255 / max.
struct PackedChannel {
    uint32_t shift = 0;
    uint32_t mask = 0;
    uint8_t levels[256] = {};
};

// False for a mask whose bits are not contiguous. A zero mask gives a channel of 255.
inline bool SetPackedChannel(uint32_t bits, PackedChannel& c) {
    if (bits == 0) {
        c.shift = 0, c.mask = 0, c.levels[0] = 255;
        return true;
    }
    const int low = std::countr_zero(bits);
    const uint32_t field = bits >> low;
    if ((field & (field + 1)) != 0) return false;
    const int width = std::popcount(field);
    const int used = width > 8 ? 8 : width;
    c.shift = static_cast<uint32_t>(low + width - used);
    c.mask = (1u << used) - 1;
    for (uint32_t v = 0; v <= c.mask; ++v) {
        uint32_t level = 0;
        for (int s = 8 - used; s > -used; s -= used) level |= s >= 0 ? v << s : v >> -s;
        c.levels[v] = static_cast<uint8_t>(level);
    }
    return true;
}

// Pixels of `Bytes` (2 or 4) little-endian bytes with channels R, G, B, A into B, G, R, A.
template <int Bytes>
void ConvertPackedRow(const uint8_t* s, uint32_t width, uint8_t* d, const PackedChannel* c) {
    static_assert(Bytes == 2 || Bytes == 4);
    for (uint32_t x = 0; x < width; ++x, s += Bytes, d += 4) {
        const uint32_t v = Bytes == 2 ? uint32_t{s[0]} | uint32_t{s[1]} << 8 : LoadU32(s);
        StoreU32(d, uint32_t{c[2].levels[v >> c[2].shift & c[2].mask]} |
                        uint32_t{c[1].levels[v >> c[1].shift & c[1].mask]} << 8 |
                        uint32_t{c[0].levels[v >> c[0].shift & c[0].mask]} << 16 |
                        uint32_t{c[3].levels[v >> c[3].shift & c[3].mask]} << 24);
    }
}

// Whether every pixel's alpha is 0: writers that fill a channel they do not use leave it so,
// and such a picture is shown opaque rather than not at all.
}  // namespace decode
