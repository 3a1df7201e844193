#include "imagelib/Video.h"

#include "base/Handles.h"

#include <algorithm>

namespace imagelib {
namespace {

class FileSource : public decode::ByteSource {
public:
    explicit FileSource(HANDLE file) : file_(file) {
        LARGE_INTEGER size{};
        if (::GetFileSizeEx(file, &size) && size.QuadPart > 0) size_ = size.QuadPart;
    }
    uint64_t Size() const override { return size_; }
    size_t ReadAt(uint64_t offset, uint8_t* out, size_t count) override {
        if (offset >= size_) return 0;
        count = static_cast<size_t>(std::min<uint64_t>(count, size_ - offset));
        size_t done = 0;
        while (done < count) {
            OVERLAPPED at{};
            const uint64_t position = offset + done;
            at.Offset = static_cast<DWORD>(position);
            at.OffsetHigh = static_cast<DWORD>(position >> 32);
            const DWORD ask = static_cast<DWORD>(std::min<size_t>(count - done, 1u << 30));
            DWORD got = 0;
            if (!::ReadFile(file_, out + done, ask, &got, &at) || got == 0) break;
            done += got;
        }
        return done;
    }

private:
    HANDLE file_;
    uint64_t size_ = 0;
};

uint8_t Clamp(int value) {
    return static_cast<uint8_t>(std::clamp(value, 0, 255));
}

}  // namespace

bool ReadVideoFileFacts(const wchar_t* path, decode::VideoFacts& facts) {
    if (!path || !*path) return false;
    win::UniqueHandle file(::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    FileSource source(file.Get());
    return decode::ReadVideoFacts(source, facts);
}

bool Nv12ToPixels(const uint8_t* luma, const uint8_t* chroma, uint32_t pitch, uint32_t width,
                  uint32_t height, bool fullRange, Pixels& out) {
    if (!out.Allocate(width, height, 3)) return false;
    // Fixed point with 16 fractional bits. Limited range stretches 16-235 (luma) and 16-240
    // (chroma) to the full scale; full range uses the values as they are.
    const double yGain = fullRange ? 1.0 : 255.0 / 219.0;
    const double cGain = fullRange ? 1.0 : 255.0 / 224.0;
    const auto fixed = [](double k) { return static_cast<int>(k * 65536.0 + 0.5); };
    const int yScale = fixed(yGain);
    const int yOffset = fullRange ? 0 : 16;
    const int crToR = fixed(1.402 * cGain);
    const int cbToG = fixed(0.344136 * cGain);
    const int crToG = fixed(0.714136 * cGain);
    const int cbToB = fixed(1.772 * cGain);
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* lumaRow = luma + size_t{y} * pitch;
        const uint8_t* chromaRow = chroma + size_t{y / 2} * pitch;
        uint8_t* row = out.TopRow(y);
        for (uint32_t x = 0; x < width; ++x) {
            const int l = (lumaRow[x] - yOffset) * yScale + 32768;
            const int cb = chromaRow[x & ~1u] - 128;
            const int cr = chromaRow[(x & ~1u) + 1] - 128;
            row[3 * x] = Clamp((l + cbToB * cb) >> 16);
            row[3 * x + 1] = Clamp((l - cbToG * cb - crToG * cr) >> 16);
            row[3 * x + 2] = Clamp((l + crToR * cr) >> 16);
        }
    }
    return true;
}

const char* DecodeVideoFrame(const wchar_t* path, DecodedImage& out) {
    const char* failure = DecodeVideoFrameWithMediaFoundation(path, out);
    if (failure && DecodeVideoFrameWithDirectShow(path, out) == nullptr) return nullptr;
    return failure;
}

}  // namespace imagelib
