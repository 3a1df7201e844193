#pragma once
// PNG files of the common kinds read straight into pixels: inflated with zlib chunk by chunk
// into two rows, unfiltered and converted one row at a time, with no other work per pixel.
//
// Handled: non-interlaced files of bit depth 8 in every colour type: grey, RGB, palette, grey
// with alpha and RGBA; a tRNS chunk gives palette entries their alpha, or makes one grey level
// or one RGB colour transparent. Anything else (16 bits, 1, 2 and 4 bits, Adam7 interlacing,
// unknown critical chunks) is refused so that the caller can decode the file through WIC.
//
// Checks: the CRCs of the chunks that shape the picture (IHDR, PLTE, tRNS) are checked; those
// of IDAT chunks are not, since the zlib stream's own Adler-32, which is checked, covers the
// same bytes and reading them a second time would cost a few percent of the whole decode.
// Colour management chunks (gAMA, cHRM, sRGB, iCCP) are not applied, as WIC does not.

#include "decode/RawPictures.h"

#include <cstddef>
#include <cstdint>

namespace decode {

// Returns false, with `out` left in no useful state, for files of other kinds, damaged or
// truncated files (anything up to and including the IEND chunk missing), and pictures larger
// than the limits in decode/Limits.h. `out.bitsPerPixel` is the file's: 8 (grey, palette), 16
// (grey with alpha), 24 (RGB) or 32 (RGBA); `out.hasAlpha` tells whether the file can carry
// transparency at all (an alpha channel or a tRNS chunk). The buffer of `out` is reused
// across calls.
bool ReadPng(const uint8_t* data, size_t size, RawPicture& out);

}  // namespace decode
