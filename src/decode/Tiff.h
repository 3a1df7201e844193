#pragma once
// Uncompressed TIFF files read straight into pixels: their strips hold the rows as they are
// shown, so a general decoder has nothing to add but time.
//
// Handled: the first image of a baseline file in either byte order, uncompressed, chunky, in
// strips, 8 bits per sample: grey where black is zero (one sample), RGB (three samples), and
// RGB with an alpha sample, associated (premultiplied, made straight here) or unassociated.
// The orientation tag is not applied, as WIC does not apply it. Anything else (compression,
// tiles, separate planes, palettes, 16 bits, CMYK, YCbCr, white-is-zero grey, grey with
// alpha, extra samples of unspecified meaning, BigTIFF) is refused so that the caller can
// decode the file through WIC.

#include "decode/RawPictures.h"

#include <cstddef>
#include <cstdint>

namespace decode {

// Returns false, with `out` left in no useful state, for files of other kinds, damaged or
// truncated files (a strip shorter than its rows) and pictures larger than the limits in
// decode/Limits.h. `out.bitsPerPixel` is the file's: 8, 24 or 32. Only the first directory
// is read: the links to later ones are never followed. The buffer of `out` is reused across
// calls.
bool ReadTiff(const uint8_t* data, size_t size, RawPicture& out);

}  // namespace decode
