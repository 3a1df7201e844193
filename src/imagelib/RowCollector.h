#pragma once
// Straight-alpha BGRA rows into the library's pixel storage.

#include "imagelib/Pixels.h"

#include <utility>

namespace imagelib {

// Takes converted rows (straight-alpha BGRA, top row first) into bottom-up storage: three
// channels while every pixel is opaque, four, premultiplied, from the first pixel that is not.
// Rows taken before that were all opaque, so widening them loses nothing, and opaque pictures
// never hold more than three bytes a pixel.
class RowCollector {
public:
    bool Begin(uint32_t width, uint32_t height) { return pixels_.Allocate(width, height, 3); }

    bool Put(uint32_t y, const uint8_t* bgra) {
        const uint32_t width = pixels_.width;
        if (pixels_.channels == 3 && !Opaque(bgra, width) && !WidenToAlpha()) return false;
        uint8_t* d = pixels_.TopRow(y);
        if (pixels_.channels == 3) {
            for (uint32_t x = 0; x < width; ++x, bgra += 4, d += 3) {
                d[0] = bgra[0];
                d[1] = bgra[1];
                d[2] = bgra[2];
            }
        } else {
            for (uint32_t x = 0; x < width; ++x, bgra += 4, d += 4) {
                const uint8_t a = bgra[3];
                d[0] = Premultiply(bgra[0], a);
                d[1] = Premultiply(bgra[1], a);
                d[2] = Premultiply(bgra[2], a);
                d[3] = a;
            }
        }
        return true;
    }

    Pixels Take() { return std::move(pixels_); }

private:
    static bool Opaque(const uint8_t* bgra, uint32_t width) {
        for (uint32_t x = 0; x < width; ++x) {
            if (bgra[4 * x + 3] != 255) return false;
        }
        return true;
    }

    bool WidenToAlpha() {
        Pixels four;
        if (!ToFourChannels(pixels_, four)) return false;
        pixels_ = std::move(four);
        return true;
    }

    Pixels pixels_;
};

}  // namespace imagelib
