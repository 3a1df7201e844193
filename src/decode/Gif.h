#pragma once
// GIF files (GIF87a and GIF89a) read straight into pixels: the first frame, shown on the
// logical screen the way viewers show it before any animation runs.
//
// Handled: global and local colour tables, interlaced frames, the transparent index of the
// Graphic Control Extension that applies to the first frame, frames that lie partly or wholly
// outside the logical screen or are larger than it (clipped to it), and every LZW code size
// from 1 to 8. Application, comment and plain-text extensions are passed over. Only the first
// frame is decoded: nothing after it is read, not even the trailer. (WIC gives the first frame
// alone, at its own size: the same pixels where the frame covers the screen exactly.)
//
// What viewers disagree on, and what is chosen here (ImageMagick 6.9's view in brackets):
// - Screen pixels the first frame does not cover are transparent, as browsers show them
//   [ImageMagick's -coalesce fills them with the background colour, opaque unless the frame
//   has a transparent index]; the screen's background colour is never used.
// - A logical screen with a side of 0 takes that side from the frame's right or bottom edge
//   [the frame's width or height, the frame then cut by its offset].
// - A file without any colour table shows its indices as a grey ramp over the 2^n indices its
//   LZW code size allows (n = 8: index i is grey level i) [black].
// - Indices past the colour table show black, as in decode/Png.cpp [the table's first colour].
// - Image data that ends early (a truncated file, an end code or block terminator before the
//   last pixel) or is damaged (a code past the next free table entry) keeps the pixels decoded
//   until then; the rest of the frame is transparent, as a browser shows a GIF that stopped
//   loading [refused].
// - A code size of 1 is read with its natural meaning (clear code 2, end code 3, codes of 2
//   bits to begin with, 3 from the second code on) [refused, as gifsicle refuses it].

#include "decode/RawPictures.h"

#include <cstddef>
#include <cstdint>

namespace decode {

// Returns false, with `out` left in no useful state, for files of other kinds, files without
// an image, an LZW code size of 0 or over 8, image data of which not a single pixel decodes,
// and logical screens larger than the limits in decode/Limits.h or, past 2^20 pixels, than
// the file's bytes could fill (4096 pixels a byte; LZW gives fewer). A frame wholly off the
// screen is not decoded: it gives a transparent screen. On success the picture has the
// logical screen's size; `out.bitsPerPixel` is 8, as WIC reports for GIF's indexed pixels;
// `out.hasAlpha` is true when the first frame has a transparent index, does not cover the
// whole screen, or its data ended early, and only then. The buffer of `out` is reused across
// calls.
bool ReadGif(const uint8_t* data, size_t size, RawPicture& out);

}  // namespace decode
