// libFuzzer target: arbitrary bytes through the GIF reader. Whatever it accepts must be a
// picture of the shape it states, of 8 bits per pixel, opaque unless it says it has alpha.
#include "PictureCheck.h"
#include "decode/Gif.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static decode::RawPicture picture;  // reused, as callers do
    if (!decode::ReadGif(data, size, picture)) return 0;
    if (picture.bitsPerPixel != 8) std::abort();
    CheckPicture(picture);
    return 0;
}
