#pragma once
// Pictures read without WIC: BMP, TGA and TIFF of the kinds decode/ reads, the common kinds of
// PNG, the first frame of a GIF (on its logical screen), and a JPEG decoded down to its 8x8
// block averages or, for the preview, whole at the scale it is drawn at. For a thumbnail
// (`reduced`) the pictures come reduced, by box averaging or as block averages, to no less than
// the size they take in the thumbnail box; otherwise the others come whole and JPEG is left to
// WIC, unless it is decoded for a box (DecodeJpegFitted). Anything these readers refuse is left
// to WIC.

#include "imagelib/WicDecoder.h"

#include <cstddef>
#include <cstdint>

namespace imagelib {

// The box thumbnails are fitted into: a reduced JPEG is used only while its block averages
// are at least as large as the picture fitted into this box.
inline constexpr uint32_t kThumbnailBox = 100;

// The most the decoding buffers of one thread hold between pictures: enough for the file and
// the pixels of a 3 MP PNG or the file of a 24 MP JPEG, which are then reused; the buffers of
// a larger picture are released once it is decoded.
inline constexpr size_t kRetainedBufferBytes = size_t{32} << 20;

// True when the file was decoded here. `typeHint` is the caller's format code (7 marks TGA,
// which has no signature); `reduced` allows the JPEG block averages.
bool DecodeDirect(const wchar_t* path, uint32_t typeHint, bool reduced, DecodedImage& out);

// As DecodeDirect, for a picture held in memory (the sample inside a template package). Without
// a name, TGA is recognised only by `typeHint`, and WBMP not at all.
bool DecodeDirectMemory(const uint8_t* data, size_t size, uint32_t typeHint, bool reduced,
                        DecodedImage& out);

// The scale shift s (0..3) at which a width x height picture, reduced to 1/2^s, still covers
// it fitted into a box of boxWidth x boxHeight as the preview panel fits it (proportions kept,
// touching the box on one side, the other side truncated): the largest s whose
// ceil(width / 2^s) x ceil(height / 2^s) is at least the fitted size on both sides.
int FittedScaleShift(uint32_t width, uint32_t height, uint32_t boxWidth, uint32_t boxHeight);

// A JPEG decoded whole by our own decoder (decode/JpegScaled.h), reduced by FittedScaleShift
// for the box; the facts are the file's own. False for other files and JPEGs it refuses.
// `complete` is false for a file damaged or cut short: the picture then holds what decoded.
bool DecodeJpegFitted(const wchar_t* path, uint32_t boxWidth, uint32_t boxHeight, DecodedImage& out,
                      bool& complete);
bool DecodeJpegFittedMemory(const uint8_t* data, size_t size, uint32_t boxWidth, uint32_t boxHeight,
                            DecodedImage& out, bool& complete);

// A JPEG as its 8x8 block averages, whatever their size: for a file WIC refuses (one cut
// short), they still show what the file holds. False for other files.
bool DecodeJpegBlocks(const wchar_t* path, DecodedImage& out);

// The bytes the calling thread's decoding buffers hold now (between pictures: at most
// kRetainedBufferBytes).
size_t RetainedBufferBytes();

}  // namespace imagelib
