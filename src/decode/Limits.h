#pragma once
// Size limits shared by the direct picture readers: a file may claim any size, so nothing is
// allocated before its claims pass these checks.

#include <cstddef>
#include <cstdint>

namespace decode {

constexpr uint32_t kMaxPictureSide = 30000;
constexpr uint64_t kMaxOutputBytes = uint64_t{1} << 30;

// The byte count of a width x height picture of `bytesPerPixel`, when both sides are within
// 1..kMaxPictureSide and the total within kMaxOutputBytes; otherwise false.
inline bool OutputSizeAllowed(uint32_t width, uint32_t height, uint32_t bytesPerPixel,
                              size_t& bytes) {
    if (width == 0 || height == 0 || width > kMaxPictureSide || height > kMaxPictureSide) {
        return false;
    }
    const uint64_t total = uint64_t{width} * height * bytesPerPixel;
    if (total > kMaxOutputBytes || total > SIZE_MAX) return false;
    bytes = static_cast<size_t>(total);
    return true;
}

}  // namespace decode
