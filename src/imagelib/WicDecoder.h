#pragma once
// Image files decoded through the Windows Imaging Component. COM must be initialised on the
// calling thread; the library never does that itself, since the callers own their threads'
// apartments.

#include "imagelib/Pixels.h"

#include <cstddef>
#include <cstdint>

struct IWICImagingFactory;

namespace imagelib {

struct DecodedImage {
    Pixels pixels;
    // Format code: 1 bmp, 2 gif, 3 jpg, 4 png, 5 ico, 6 tif, 7 tga, 11 wbmp; 0 other. For a
    // video, its compressor's four characters (the first in the lowest byte).
    uint32_t type = 0;
    uint32_t width = 0;  // the decoded frame's size as the file gives it
    uint32_t height = 0;
    // Of the file's own pixel format (8 for an indexed GIF); for a video its bit rate in
    // kbit/s, 0x3FFFF when variable.
    uint32_t bitsPerPixel = 0;
};

// Decodes the first frame (for icons the largest one). WIC finds the format from the content,
// so a misleading extension does no harm. Returns nullptr on success, otherwise a short reason
// and `out` stays empty.
const char* DecodeImageFile(const wchar_t* path, DecodedImage& out);

// As DecodeImageFile, for a picture held in memory.
const char* DecodeImageMemory(const uint8_t* data, size_t size, DecodedImage& out);

// One WIC factory for every decode of the creating thread while this lives; without it, each
// decode makes its own, which under Wine costs more than decoding a small picture (the class
// is looked up in the registry every time). Threads that decode picture after picture keep
// one. The factory is made at the first decode that needs it: most pictures never reach WIC
// in-process, and making one costs a new thread several milliseconds before its first picture.
// Create it after the thread's COM initialisation and let it end before the uninitialisation:
// a factory released after that corrupts Wine's heap.
class ThreadImaging {
public:
    ThreadImaging();
    ~ThreadImaging();
    ThreadImaging(const ThreadImaging&) = delete;
    ThreadImaging& operator=(const ThreadImaging&) = delete;

    // The factory of the innermost scope alive on this thread, made on first use; null when
    // no scope is alive or WIC is not available.
    static IWICImagingFactory* Current();

private:
    ThreadImaging* previous_;
    IWICImagingFactory* factory_ = nullptr;
};

}  // namespace imagelib
