// libFuzzer target: arbitrary bytes through both JPEG decoders, the whole-picture one at a
// scale the input's length picks. Whatever they accept must be a picture of the shape its
// header gives.
#include "decode/JpegDc.h"
#include "decode/JpegScaled.h"

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
    // Whole pictures only of up to 4 megapixels: a few header bytes may claim 900, whose
    // coefficients and pixels would take the fuzzer's time and memory, not its coverage.
    static decode::ScaledPicture scaled;
    const int shift = static_cast<int>(size % 4);
    const auto choose = [shift](uint32_t width, uint32_t height) {
        return uint64_t{width} * height <= (4u << 20) ? shift : -1;
    };
    if (decode::DecodeJpegScaled(data, size, choose, scaled)) {
        const uint32_t g = 1u << shift;
        if (scaled.scaleShift != shift || scaled.scaledWidth != (scaled.width + g - 1) / g ||
            scaled.scaledHeight != (scaled.height + g - 1) / g ||
            scaled.bgr.size() != size_t{scaled.scaledWidth} * scaled.scaledHeight * 3 ||
            (scaled.components != 1 && scaled.components != 3)) {
            std::abort();
        }
    }
    return 0;
}
