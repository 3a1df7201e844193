// libFuzzer target: arbitrary bytes through the TIFF reader. Whatever it accepts must be a
// picture of the shape its directory gives, opaque unless the file can carry transparency.
#include "PictureCheck.h"
#include "decode/Tiff.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static decode::RawPicture picture;  // reused, as callers do
    if (decode::ReadTiff(data, size, picture)) CheckPicture(picture);
    return 0;
}
