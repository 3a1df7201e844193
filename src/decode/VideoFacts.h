#pragma once
// The facts a video file's info tip shows, read from its container: the compressor's
// four-character code, the bit rate and the picture size. AVI, MPEG-1/2 program and elementary
// streams (with VCD's RIFF CDXA wrapping) and ASF/WMV. Frames are not decoded here.
//
// Files are read through a ByteSource, so that a video of gigabytes is never read whole: the
// reader looks at headers and, for AVI, streams the index. Everything it reads is bounded.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace decode {

// A bit rate too variable to state as one figure.
inline constexpr uint32_t kVariableBitRate = 0x3FFFF;

// A picture side larger than this, as a file may state, is not believed: it reads as 0.
inline constexpr uint32_t kMaxVideoSide = 1u << 20;

enum class VideoContainer : uint32_t { kNone = 0, kAvi = 1, kMpeg = 2, kAsf = 3 };

struct VideoFacts {
    VideoContainer container = VideoContainer::kNone;
    // The compressor as its four characters, the first in the lowest byte ("MPG1"/"MPG2" for
    // MPEG video). Case as the file writes it.
    uint32_t fourcc = 0;
    // kbit/s, rounded to nearest; kVariableBitRate for variable; 0 when unknown.
    uint32_t kbitsPerSecond = 0;
    uint32_t width = 0;
    uint32_t height = 0;
};

// Random access to a file's bytes.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual uint64_t Size() const = 0;
    // Copies up to `count` bytes from `offset`; returns how many were copied (short at the end
    // of the file or on a read error).
    virtual size_t ReadAt(uint64_t offset, uint8_t* out, size_t count) = 0;
};

class MemorySource : public ByteSource {
public:
    MemorySource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint64_t Size() const override { return size_; }
    size_t ReadAt(uint64_t offset, uint8_t* out, size_t count) override;

private:
    const uint8_t* data_;
    size_t size_;
};

// Recognises the container from the content, not the name. Returns false for anything that is
// not one of the containers above or has no video stream; `out` then says nothing.
bool ReadVideoFacts(ByteSource& source, VideoFacts& out);

}  // namespace decode
