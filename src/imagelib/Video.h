#pragma once
// Video files: their facts from our own container reader (decode/VideoFacts.h), and one frame
// from the platform's decoders. The frame is taken at a tenth of the duration, at most 10 s
// in, which passes over the black or title frames videos tend to begin with.
//
// Media Foundation's Source Reader is asked first: for RGB32 with its video processing (what
// Windows offers), else for NV12, which is converted here (Wine 8 offers only YUV). Where it
// cannot open a file, a DirectShow graph (source, Sample Grabber for RGB24, Null Renderer)
// is tried: on Windows, MPEG-1/2 program streams and some MPEG-4 part 2 AVIs have DirectShow
// decoders but no Media Foundation ones.
//
// Platform decoders can stall; the callers bound a frame's decoding (imagelib/DecoderHost.h).
// COM must be initialised on the calling thread.

#include "decode/VideoFacts.h"
#include "imagelib/WicDecoder.h"

namespace imagelib {

// The facts of a file whose content is a video container we read; false for anything else.
// Reads only headers (and an AVI's index), never the whole file.
bool ReadVideoFileFacts(const wchar_t* path, decode::VideoFacts& facts);

// A frame of the video as `out.pixels` (3 channels); `out`'s facts are left to the caller.
// nullptr on success, otherwise a short reason and `out.pixels` empty.
const char* DecodeVideoFrame(const wchar_t* path, DecodedImage& out);

// Each way on its own, for tests.
const char* DecodeVideoFrameWithMediaFoundation(const wchar_t* path, DecodedImage& out);
const char* DecodeVideoFrameWithDirectShow(const wchar_t* path, DecodedImage& out);

// An NV12 picture (a full-size luma plane, then a half-size plane of interleaved Cb, Cr) as
// three-channel pixels, by BT.601: limited range (16-235) unless `fullRange`. `pitch` is the
// bytes per row of both planes; `chroma` the first byte of the second plane.
bool Nv12ToPixels(const uint8_t* luma, const uint8_t* chroma, uint32_t pitch, uint32_t width,
                  uint32_t height, bool fullRange, Pixels& out);

}  // namespace imagelib
