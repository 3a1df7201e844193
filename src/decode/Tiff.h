#pragma once
// TIFF files of the kinds most writers make, read straight into pixels; WIC under Wine fails on
// many of them and misreads others (16-bit samples in big-endian files).
//
// Handled, in either byte order: samples stored chunky or in separate planes, in strips or in
// tiles (overhanging the picture's right and bottom edges), uncompressed, PackBits, LZW (also
// the old LSB-first kind) or Deflate, with or without the horizontal predictor (8 and 16 bits);
// 1, 2, 4, 8 or 16 bits per sample, made 8-bit: 16-bit samples by their high byte, fewer bits
// stretched to the full range. Grey where black or white is zero, RGB, palettes (1 to 8 bits
// of index, ColorMap of 16-bit levels, or 8-bit ones where no level exceeds 255) and CMYK
// (InkSet 1), each with any further samples: the first that ExtraSamples calls alpha,
// associated (made straight here) or unassociated, is the alpha; the others are left out, so
// that a picture whose extra samples have no stated meaning (or no ExtraSamples) is opaque,
// whatever they hold. The orientation tag is not applied, as WIC does not apply it.
//
// JPEG (compression 7), which WIC under Wine does not read: YCbCr, RGB or grey, 8-bit samples
// stored together and nothing beside the colour, each strip or tile a JPEG of its own that the
// tables in JPEGTables complete, decoded by decode/JpegScaled.h. A file whose first strip or
// tile that decoder refuses is left to WIC.
//
// The picture is in the first directory that is neither a reduced-resolution copy nor a
// transparency mask (NewSubfileType), looked for along the chain of directories and in each
// one's SubIFDs, at most 16 directories along the chain and 8 SubIFDs below each; where there
// is none, in the first directory.
//
// Refused, so that the caller can decode the file through WIC: old-style JPEG (6), CCITT and
// other compressions, YCbCr that is not JPEG, CIE Lab and other photometric
// kinds, floating-point or signed samples, the floating-point predictor, 12 or 32 bits per
// sample, samples of differing sizes, bits filled from the low end (FillOrder 2), more than 16
// samples, 16-bit palettes, BigTIFF.

#include "decode/RawPictures.h"

#include <cstddef>
#include <cstdint>

namespace decode {

// Returns false, with `out` left in no useful state, for files of other kinds, damaged files
// (directories that do not fit in the file, strips or tiles not all listed, or holding less
// than a sixteenth of the picture even at the most their compression can expand) and pictures
// larger than the limits in decode/Limits.h. A file cut short, or whose compressed data is
// damaged, is shown as far as its strips or tiles decode, the rest of their rows black (zero
// samples; white where white is zero, transparent where alpha is read).
// `out.bitsPerPixel` is the file's: samples per pixel times bits per sample, as WIC reports it
// (1 for bilevel, 48 for 16-bit RGB). The buffer of `out` is reused across calls.
bool ReadTiff(const uint8_t* data, size_t size, RawPicture& out);

}  // namespace decode
