// libFuzzer target: arbitrary bytes through the BMP, TGA, WBMP and PNG readers (TIFF and GIF have
// their own), each read kept whole and handed to a row sink. Whatever they accept must be a
// picture of the shape its header gives, opaque unless the file can carry transparency.
#include "PictureCheck.h"
#include "decode/Png.h"
#include "decode/RawPictures.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CheckReader(decode::ReadBmp, data, size);
    CheckReader(decode::ReadTga, data, size);
    CheckReader(decode::ReadWbmp, data, size);
    CheckReader(decode::ReadPng, data, size);
    return 0;
}
