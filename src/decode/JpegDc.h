#pragma once
// JPEG decoded down to its 8x8 block averages, from the DC coefficients alone. A thumbnail at
// most one eighth of the picture's size needs nothing more, and this skips the inverse DCT,
// the colour conversion of every pixel and, for progressive files, every AC scan.
//
// Handled: 8-bit Huffman-coded sequential (SOF0, SOF1) and progressive (SOF2) files with one
// component, or three YCbCr components of 4:4:4, 4:2:2, 4:2:0 or 4:4:0 sampling, or three RGB
// components sampled alike (decode/JpegStream.h says which factors, and how RGB is told
// apart). Everything else (CMYK, other samplings, arithmetic coding, 12-bit, lossless,
// hierarchical) is refused so that the caller can decode the file through WIC.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace decode {

// What both JPEG decoders report of a file.
struct JpegFacts {
    uint32_t width = 0;  // in pixels
    uint32_t height = 0;
    uint8_t components = 0;     // 1 or 3
    uint16_t bitsPerPixel = 0;  // 8 (greyscale) or 24
    bool progressive = false;

    // False when the entropy-coded data ended early or was damaged: the blocks decoded before
    // the damage hold their values, later ones hold what earlier scans gave them (mid-grey
    // where no scan reached them), so the picture is still worth showing.
    bool complete = false;
};

struct DcPicture : JpegFacts {
    // One pixel per 8x8 luma block: blocksWide = ceil(width / 8), blocksHigh =
    // ceil(height / 8); rows top-down, 3 bytes (B, G, R) per pixel, no padding. Where chroma
    // is subsampled, each luma block takes the mean chroma of the chroma block covering it, so
    // the colours are exact over a chroma block's area (16x16 pixels for 4:2:0) rather than
    // over each block: average to thumbnail size, do not show the blocks themselves. Blocks
    // cut by the right or bottom edge hold the mean of the block as coded, edge padding
    // included.
    uint32_t blocksWide = 0;
    uint32_t blocksHigh = 0;
    std::vector<uint8_t> bgr;
};

// Returns false, with `out` left in no useful state, when the bytes are not a JPEG of a kind
// handled here, when a header before the first scan's data is damaged, or when the picture is
// larger than the limits in decode/Limits.h. Returns true once at least one MCU decoded cleanly;
// `out.complete` tells whether everything did. The buffer of `out` is reused across calls.
bool DecodeJpegDc(const uint8_t* data, size_t size, DcPicture& out);

}  // namespace decode
