// libFuzzer target: arbitrary bytes through the TIFF reader, each read kept whole and handed to
// a row sink. Whatever it accepts must be a picture of the shape its directory gives, opaque
// unless the file can carry transparency.
#include "PictureCheck.h"
#include "decode/Tiff.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CheckReader(decode::ReadTiff, data, size);
    return 0;
}
