// libFuzzer target: arbitrary bytes through the JPEG DC decoder. Whatever it accepts must be a
// picture of the shape its header gives.
#include "decode/JpegDc.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static decode::DcPicture picture;  // reused, as callers do
    if (decode::DecodeJpegDc(data, size, picture)) {
        if (picture.blocksWide != (picture.width + 7) / 8 ||
            picture.blocksHigh != (picture.height + 7) / 8 ||
            picture.bgr.size() != size_t{picture.blocksWide} * picture.blocksHigh * 3 ||
            (picture.components != 1 && picture.components != 3)) {
            std::abort();
        }
    }
    return 0;
}
