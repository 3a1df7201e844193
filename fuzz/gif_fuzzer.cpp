// libFuzzer target: arbitrary bytes through the GIF reader. Whatever it accepts must be a
// picture of the shape it states, opaque unless it says it has alpha.
#include "decode/Gif.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static decode::RawPicture picture;  // reused, as callers do
    if (!decode::ReadGif(data, size, picture)) return 0;
    if (picture.width == 0 || picture.height == 0 || picture.bitsPerPixel != 8 ||
        picture.bgra.size() != size_t{picture.width} * picture.height * 4) {
        std::abort();
    }
    if (!picture.hasAlpha) {
        for (size_t i = 3; i < picture.bgra.size(); i += 4) {
            if (picture.bgra[i] != 255) std::abort();
        }
    }
    return 0;
}
