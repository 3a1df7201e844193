#pragma once
// The files of tests/data/decode/bmp-tga (scripts/fixtures/bmp-tga.sh), as its fixtures.txt
// lists them, and the content each should give.

#include "decode/Fixtures.h"

#include <sstream>

namespace decode_tests {

struct BmpTgaFixture {
    std::string name;     // bmp-tga/...
    std::string content;  // blocks, mono or gradient
    std::string alpha;    // ramp, binary or none
    int colourBits = 8;   // the precision the file keeps
    int alphaBits = 0;
    int fileBits = 0;
    bool IsBmp() const { return name.ends_with(".bmp"); }
    uint32_t Width() const { return content == "gradient" ? 40 : 37; }
    uint32_t Height() const { return content == "gradient" ? 30 : 21; }
};

inline std::vector<BmpTgaFixture> BmpTgaFixtures() {
    std::vector<BmpTgaFixture> list;
    const Bytes text = ReadFixture("bmp-tga/fixtures.txt");
    std::istringstream in(std::string(text.begin(), text.end()));
    BmpTgaFixture f;
    while (in >> f.name >> f.content >> f.alpha >> f.colourBits >> f.alphaBits >> f.fileBits) {
        f.name = "bmp-tga/" + f.name;
        list.push_back(f);
    }
    return list;
}

// How far a channel kept in n bits may be from the content: writers truncate to n bits and
// readers scale back up. One bit (a binary alpha) is exact.
inline int ChannelTolerance(int bits) {
    return bits >= 8 || bits <= 1 ? 0 : 256 >> bits;
}

inline Bgra BmpTgaContentAt(const BmpTgaFixture& f, uint32_t x, uint32_t y) {
    Rgb c = TileAt(x, y);
    if (f.content == "mono") c = kTiles[5 + (x / 16 + 3 * (y / 16)) % 2];
    if (f.content == "gradient") {
        const int g = GradientAt(x, y, f.Width(), f.Height());
        c = {g, g, g};
    }
    const uint8_t ramp = RgbaAlphaAt(x, y);
    const uint8_t alpha = f.alpha == "ramp"     ? ramp
                          : f.alpha == "binary" ? (ramp >= 128 ? 255 : 0)
                                                : 255;
    return {static_cast<uint8_t>(c.b), static_cast<uint8_t>(c.g), static_cast<uint8_t>(c.r), alpha};
}

// The number of pixels further from the content than the file's precision allows.
inline int ContentMismatches(const decode::RawPicture& p, const BmpTgaFixture& f) {
    const int colour = ChannelTolerance(f.colourBits), alpha = ChannelTolerance(f.alphaBits);
    int bad = 0;
    for (uint32_t y = 0; y < p.height; ++y) {
        for (uint32_t x = 0; x < p.width; ++x) {
            const Bgra a = PixelAt(p, x, y), e = BmpTgaContentAt(f, x, y);
            bad += std::abs(a.b - e.b) > colour || std::abs(a.g - e.g) > colour ||
                   std::abs(a.r - e.r) > colour || std::abs(a.a - e.a) > alpha;
        }
    }
    return bad;
}

}  // namespace decode_tests
