#pragma once
// The compressions of TIFF strips and tiles read by decode/Tiff.cpp, and the horizontal
// predictor. Each decoder writes into a buffer whose size the caller knows in advance (the
// rows of the strip or tile) and never past it: what would decode beyond it is cut off, and
// damaged or short data ends the output early. Each returns the number of bytes written; the
// caller fills the rest. Every loop advances through the input or the output, so the work is
// linear in their sizes whatever the data says.

#include <zlib.h>

#include <cstddef>
#include <cstdint>

namespace decode::tiff {

// PackBits (compression 32773).
size_t UnpackBits(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize);

// LZW (compression 5): codes MSB-first with the code width growing one code early, as TIFF
// writers have made them since TIFF 6; and the older LSB-first kind without the early change,
// told apart by its first bytes as every reader does (a first clear code, 256, in either order).
size_t DecodeLzw(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize);

// Deflate (compressions 8 and 32946): a zlib stream per strip or tile. One zlib state serves
// all of a picture's strips.
class Inflater {
public:
    Inflater() = default;
    ~Inflater();
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    size_t Run(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize);

private:
    z_stream stream_{};
    bool initialised_ = false;
};

// Predictor 2: each sample of a row was stored as its difference from the same sample of the
// pixel before it. `count` samples, `stride` of them to a pixel; 16-bit samples in the file's
// byte order.
void UndoDifferencing8(uint8_t* row, size_t count, uint32_t stride);
void UndoDifferencing16(uint8_t* row, size_t count, uint32_t stride, bool bigEndian);

}  // namespace decode::tiff
