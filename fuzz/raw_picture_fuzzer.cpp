// libFuzzer target: arbitrary bytes through the BMP, TGA, WBMP and PNG readers (TIFF and GIF have
// their own). Whatever they accept must be a picture of the shape its header gives, opaque
// unless the file can carry transparency.
#include "PictureCheck.h"
#include "decode/Png.h"
#include "decode/RawPictures.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static decode::RawPicture picture;  // reused, as callers do
    if (decode::ReadBmp(data, size, picture)) CheckPicture(picture);
    if (decode::ReadTga(data, size, picture)) CheckPicture(picture);
    if (decode::ReadWbmp(data, size, picture)) CheckPicture(picture);
    if (decode::ReadPng(data, size, picture)) CheckPicture(picture);
    return 0;
}
