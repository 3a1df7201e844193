// libFuzzer target: arbitrary bytes through the BMP, TGA and PNG readers (TIFF has its own).
// Whatever they accept must be a picture of the shape its header gives, opaque unless the file can
// carry transparency.
#include "decode/Png.h"
#include "decode/RawPictures.h"

#include <cstdint>
#include <cstdlib>

namespace {

void Check(const decode::RawPicture& picture) {
    if (picture.width == 0 || picture.height == 0 ||
        picture.bgra.size() != size_t{picture.width} * picture.height * 4) {
        std::abort();
    }
    if (!picture.hasAlpha) {
        for (size_t i = 3; i < picture.bgra.size(); i += 4) {
            if (picture.bgra[i] != 255) std::abort();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static decode::RawPicture picture;  // reused, as callers do
    if (decode::ReadBmp(data, size, picture)) Check(picture);
    if (decode::ReadTga(data, size, picture)) Check(picture);
    if (decode::ReadPng(data, size, picture)) Check(picture);
    return 0;
}
