// libFuzzer target: arbitrary bytes through the video facts reader. A refusal leaves nothing
// behind; what it accepts names a container, sides within their bounds (MPEG's 12 or 14 bits),
// MPEG's two codes, and the variable marker only for MPEG; and a second read agrees.
#include "decode/VideoFacts.h"

#include <cstdint>
#include <cstdlib>

namespace {

constexpr uint32_t kMpeg1 = 'M' | 'P' << 8 | 'G' << 16 | '1' << 24;
constexpr uint32_t kMpeg2 = 'M' | 'P' << 8 | 'G' << 16 | '2' << 24;

bool Same(const decode::VideoFacts& a, const decode::VideoFacts& b) {
    return a.container == b.container && a.fourcc == b.fourcc &&
           a.kbitsPerSecond == b.kbitsPerSecond && a.width == b.width && a.height == b.height;
}

void Check(const decode::VideoFacts& f) {
    using decode::VideoContainer;
    if (f.container == VideoContainer::kNone) std::abort();
    if (f.width > decode::kMaxVideoSide || f.height > decode::kMaxVideoSide) std::abort();
    if (f.container != VideoContainer::kMpeg) {
        if (f.kbitsPerSecond == decode::kVariableBitRate) std::abort();
        return;
    }
    const uint32_t largest = f.fourcc == kMpeg1 ? 0xFFF : f.fourcc == kMpeg2 ? 0x3FFF : 0;
    if (f.width == 0 || f.height == 0 || f.width > largest || f.height > largest) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    decode::MemorySource source(data, size);
    decode::VideoFacts facts, again;
    facts.container = decode::VideoContainer::kAvi;  // to be cleared by a refusal
    facts.width = 1;
    const bool read = decode::ReadVideoFacts(source, facts);
    if (read != decode::ReadVideoFacts(source, again) || !Same(facts, again)) std::abort();
    if (read) {
        Check(facts);
    } else if (!Same(facts, decode::VideoFacts{})) {
        std::abort();
    }
    return 0;
}
