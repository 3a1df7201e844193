#pragma once
// JPEG decoded whole, at its own size or at 1/2, 1/4 or 1/8 of it. Each 8x8 block is turned
// into 8x8, 4x4, 2x2 or 1x1 pixels by an inverse DCT that gives the mean of the full-size
// block's pixels over each 1x1, 2x2, 4x4 or 8x8 square (before rounding and clamping), so a
// reduced picture is the full one area-averaged, at a fraction of the cost: the entropy
// decoding stays, but the inverse transform, chroma upsampling and colour conversion shrink
// with the pixel count.
//
// Subsampled chroma is upsampled to the luma grid by linear interpolation between the centres
// of the chroma samples (3/4 of the nearer, 1/4 of the farther, along each direction where it
// is subsampled), then converted with JFIF's full-range YCbCr coefficients. RGB-coded files
// are shown as their samples are.
//
// The kinds handled and refused are those of decode/JpegDc.h; EXIF orientation is not applied.

#include "decode/JpegDc.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace decode {

struct ScaledPicture : JpegFacts {
    // The pixels: 1 / 2^scaleShift of the picture's size, scaledWidth = ceil(width /
    // 2^scaleShift), likewise scaledHeight; rows top-down, 3 bytes (B, G, R) per pixel, no
    // padding.
    int scaleShift = 0;
    uint32_t scaledWidth = 0;
    uint32_t scaledHeight = 0;
    std::vector<uint8_t> bgr;

    // The decoder's own: each component's samples before colour conversion, kept for the next
    // picture.
    std::vector<uint8_t> work;
};

// Given the picture's size, the scale shift (0..3) to decode it at; a negative shift refuses
// the picture before anything is allocated for it.
using ScaleChoice = std::function<int(uint32_t width, uint32_t height)>;

// Returns false, with `out` left in no useful state, when the bytes are not a JPEG of a kind
// handled here, when a header before the first scan's data is damaged, or when the picture or
// its coefficients are larger than the limits in decode/Limits.h. Returns true once at least
// one MCU decoded cleanly; `out.complete` tells whether everything did. The buffer of `out` is
// reused across calls.
bool DecodeJpegScaled(const uint8_t* data, size_t size, const ScaleChoice& choose,
                      ScaledPicture& out);

// As above, at a fixed scale shift (0..3).
bool DecodeJpegScaled(const uint8_t* data, size_t size, int scaleShift, ScaledPicture& out);

}  // namespace decode
