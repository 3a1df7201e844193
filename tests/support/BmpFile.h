#pragma once
// Writes small 24-bit BMP files: the simplest real pictures for tests that need some.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

namespace testing_support {

struct Rgb {
    uint8_t r, g, b;
};

// `pixel(x, y)` with y counted from the top.
inline void WriteBmp(const std::filesystem::path& path, uint32_t width, uint32_t height,
                     const std::function<Rgb(uint32_t, uint32_t)>& pixel) {
    const uint32_t stride = (width * 3 + 3) & ~3u;
    const uint32_t imageBytes = stride * height;
    std::string bytes;
    const auto u16 = [&](uint16_t v) { bytes += char(v & 0xFF), bytes += char(v >> 8); };
    const auto u32 = [&](uint32_t v) { u16(uint16_t(v & 0xFFFF)), u16(uint16_t(v >> 16)); };
    bytes += "BM";
    u32(14 + 40 + imageBytes), u32(0), u32(14 + 40);
    u32(40), u32(width), u32(height), u16(1), u16(24), u32(0), u32(imageBytes), u32(2835),
        u32(2835), u32(0), u32(0);
    for (uint32_t row = 0; row < height; ++row) {
        const uint32_t y = height - 1 - row;  // bottom row first
        std::string line;
        for (uint32_t x = 0; x < width; ++x) {
            const Rgb c = pixel(x, y);
            line += char(c.b), line += char(c.g), line += char(c.r);
        }
        line.resize(stride, '\0');
        bytes += line;
    }
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline void WriteSolidBmp(const std::filesystem::path& path, uint32_t width, uint32_t height,
                          Rgb color) {
    WriteBmp(path, width, height, [color](uint32_t, uint32_t) { return color; });
}

}  // namespace testing_support
