#pragma once
// Uncompressed BMP and TGA files read straight into pixels: their pixels are stored as they
// are shown, so a general decoder has nothing to add but time.
//
// BMP: BITMAPINFOHEADER or a later header, BI_RGB with 24 or 32 bits per pixel (the fourth
// byte is unused: the picture is opaque) or with 8 bits and a palette; bottom-up or top-down.
// TGA: type 2 (true colour, 24 or 32 bits) and type 3 (greyscale, 8 bits), either origin; a
// 32-bit file keeps its alpha where its header says the pixels carry 8 bits of it, and is
// opaque where it says they carry none.
// Anything else (RLE, bit fields, 1, 4 and 16 bits, colour-mapped TGA, OS/2 headers) is
// refused so that the caller can decode the file through WIC.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace decode {

struct RawPicture {
    uint32_t width = 0;
    uint32_t height = 0;
    uint16_t bitsPerPixel = 0;  // of the file
    // Whether the file can carry transparency. The bits per pixel do not tell: a PNG may have
    // 8 bits of palette indices with alpha in the palette, or 16 bits of grey and alpha.
    bool hasAlpha = false;
    // Top-down rows of width x 4 bytes: B, G, R, A (straight alpha; 255 where the file has
    // none).
    std::vector<uint8_t> bgra;
};

// Each returns false, with `out` left in no useful state, for files of other kinds, damaged or
// truncated files (pixel data shorter than the header says) and pictures larger than the limits in
// decode/Limits.h. The buffer of `out` is reused across calls.
bool ReadBmp(const uint8_t* data, size_t size, RawPicture& out);
bool ReadTga(const uint8_t* data, size_t size, RawPicture& out);

}  // namespace decode
