#pragma once
// The decoder process's side: connects to the caller's pipe and answers its requests until
// the caller closes the pipe (or goes away). A crash while decoding ends this process without a
// crash dialog or a debugger: the caller sees the pipe break and counts the picture as failed.

#include "imagelib/WicDecoder.h"

namespace imagelib {

// Decodes one file, as DecodeImageFile does: nullptr on success, otherwise a short reason.
using DecodeFunction = const char* (*)(const wchar_t* path, DecodedImage& out);
// Decodes a picture held in memory; `name` only names it.
using DecodeMemoryFunction = const char* (*)(const wchar_t* name, const uint8_t* data, size_t size,
                                             DecodedImage& out);

// The decoders a decoder process serves requests with.
struct DecoderFunctions {
    DecodeFunction decode;
    DecodeMemoryFunction decodeMemory;
    DecodeFunction decodeVideoFrame;  // pixels only: the caller has the video's facts
};

// Serves requests on `pipeName`, on a thread whose COM this initialises. Returns the process
// exit code: 0 when the caller closed the pipe, 2 when it could not be reached.
int ServeDecoder(const wchar_t* pipeName, const DecoderFunctions& functions);

// The decoder program's memory decoding: WIC from memory.
const char* DecodeMemoryWithWic(const wchar_t* name, const uint8_t* data, size_t size,
                                DecodedImage& out);

}  // namespace imagelib
