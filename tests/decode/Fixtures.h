#pragma once
// The decoder tests' files (tests/data/decode, made by scripts/make-decode-fixtures.sh), the
// content of the synthetic pictures among them, computed the way the script draws them, and
// checks on the pictures the direct readers give.

#ifdef _WIN32
#include "base/Win.h"
#endif

#include "decode/RawPictures.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace decode_tests {

using Bytes = std::vector<uint8_t>;

inline std::filesystem::path FixtureFolder() {
#ifdef _WIN32
    // Copied beside the test executable, so that the Windows tree needs no Unix path.
    wchar_t exe[MAX_PATH];
    ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
    return std::filesystem::path(exe).parent_path() / L"decode-fixtures";
#else
    return GLIMMERLY_DECODE_FIXTURES;
#endif
}

inline Bytes ReadFixture(const std::string& name) {
    std::ifstream in(FixtureFolder() / name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Rgb {
    int r, g, b;
};

// blocks-*: 16x16 tiles, tile (i, j) coloured kTiles[(i + 3j) % 8].
constexpr std::array<Rgb, 8> kTiles = {{{200, 40, 40},
                                        {40, 160, 60},
                                        {50, 70, 200},
                                        {230, 200, 50},
                                        {120, 120, 120},
                                        {30, 30, 30},
                                        {240, 240, 240},
                                        {160, 60, 180}}};

inline Rgb TileAt(uint32_t x, uint32_t y) {
    return kTiles[(x / 16 + 3 * (y / 16)) % 8];
}

// Alpha drawn into the PNG and TIFF files: RGBA (7x + 13y) % 256; grey with alpha
// (5x + 3y) % 256; the palette's tiles 36 times their colour's number in kTiles.
inline uint8_t RgbaAlphaAt(uint32_t x, uint32_t y) {
    return static_cast<uint8_t>((7 * x + 13 * y) % 256);
}
inline uint8_t GreyAlphaAt(uint32_t x, uint32_t y) {
    return static_cast<uint8_t>((5 * x + 3 * y) % 256);
}
inline uint8_t PaletteAlphaAt(uint32_t x, uint32_t y) {
    return static_cast<uint8_t>(36 * ((x / 16 + 3 * (y / 16)) % 8));
}

// gradient-*: grey (x + 2y) * 255 / (w + 2h - 3), rounded.
inline int GradientAt(uint32_t x, uint32_t y, uint32_t w, uint32_t h) {
    const double v = (x + 2.0 * y) * 255.0 / (w + 2.0 * h - 3.0);
    return static_cast<int>(v + 0.5);
}

// The mean of an 8x8 block of the gradient as a JPEG encoder sees it: the picture is padded
// to whole blocks by repeating its last column and row.
inline double GradientBlockMean(uint32_t bx, uint32_t by, uint32_t w, uint32_t h) {
    double sum = 0;
    for (uint32_t y = by * 8; y < by * 8 + 8; ++y) {
        for (uint32_t x = bx * 8; x < bx * 8 + 8; ++x) {
            sum += GradientAt(std::min(x, w - 1), std::min(y, h - 1), w, h);
        }
    }
    return sum / 64;
}

// A binary PPM (P6) as R, G, B bytes.
struct Ppm {
    uint32_t width = 0;
    uint32_t height = 0;
    Bytes rgb;
};

inline bool ParsePpm(const Bytes& bytes, Ppm& out) {
    std::string header(bytes.begin(), bytes.begin() + std::min<size_t>(bytes.size(), 64));
    unsigned w = 0, h = 0, maxValue = 0;
    int consumed = 0;
    if (std::sscanf(header.c_str(), "P6 %u %u %u%n", &w, &h, &maxValue, &consumed) != 3 ||
        maxValue != 255) {
        return false;
    }
    const size_t start = static_cast<size_t>(consumed) + 1;  // one whitespace byte
    if (bytes.size() < start + size_t{w} * h * 3) return false;
    out.width = w;
    out.height = h;
    out.rgb.assign(bytes.begin() + static_cast<std::ptrdiff_t>(start),
                   bytes.begin() + static_cast<std::ptrdiff_t>(start + size_t{w} * h * 3));
    return true;
}

// Means of R, G, B for each 8x8 block of a picture, row by row.
struct BlockMeans {
    uint32_t wide = 0;
    uint32_t high = 0;
    std::vector<double> rgb;
};

inline BlockMeans MeansOfPpm(const Ppm& ppm) {
    return {ppm.width, ppm.height, std::vector<double>(ppm.rgb.begin(), ppm.rgb.end())};
}

inline BlockMeans MeansOfBgr(uint32_t wide, uint32_t high, const Bytes& bgr) {
    BlockMeans m{wide, high, std::vector<double>(bgr.size())};
    for (size_t i = 0; i < bgr.size(); i += 3) {
        m.rgb[i] = bgr[i + 2], m.rgb[i + 1] = bgr[i + 1], m.rgb[i + 2] = bgr[i];
    }
    return m;
}

// How far a full decoder's means (WIC's, ImageMagick's) may be from the DC picture's over the
// area of a chroma block that lies wholly inside the picture. They differ where the full
// decoder clamps pixels (the mean of clamped values is not the clamped mean), where its fancy
// chroma upsampling mixes neighbouring chroma blocks into the edge pixels, and by the rounding
// of its integer IDCT and colour conversion. Measured on our photos: 3.9 against WIC, 4.0
// against ImageMagick's rounded means.
//
// Two comparisons do not hold to such a bound, by the nature of DC decoding: a single 8x8
// block of a subsampled photo (its chroma is the whole chroma block's mean; up to about 100
// levels at sharp colour edges of our 320x240 photos), and a block cut by the picture's right
// or bottom edge (its mean includes the padding the encoder added by repeating the last column
// and row; up to 20 levels). A thumbnail pixel at 1/8 scale or less covers at least a block,
// and at the sizes the program meets, many chroma blocks.
constexpr double kFullDecodeTolerance = 5;

// The largest per-channel difference between the means of a and b over each group of
// groupWide x groupHigh blocks that lies within the first `wide` x `high` blocks.
// A DC picture is exact over the area of one chroma block, not over each luma block in it:
// its chroma there is the chroma block's mean.
inline double WorstGroupDifference(const BlockMeans& a, const BlockMeans& b, uint32_t groupWide,
                                   uint32_t groupHigh, uint32_t wide, uint32_t high) {
    double worst = 0;
    for (uint32_t gy = 0; gy + groupHigh <= high; gy += groupHigh) {
        for (uint32_t gx = 0; gx + groupWide <= wide; gx += groupWide) {
            double sa[3] = {}, sb[3] = {};
            int n = 0;
            for (uint32_t y = gy; y < std::min(a.high, gy + groupHigh); ++y) {
                for (uint32_t x = gx; x < std::min(a.wide, gx + groupWide); ++x, ++n) {
                    for (int c = 0; c < 3; ++c) {
                        sa[c] += a.rgb[(size_t{y} * a.wide + x) * 3 + c];
                        sb[c] += b.rgb[(size_t{y} * b.wide + x) * 3 + c];
                    }
                }
            }
            for (int c = 0; c < 3; ++c) worst = std::max(worst, std::abs(sa[c] - sb[c]) / n);
        }
    }
    return worst;
}

// The largest per-channel difference between a DC picture's block (B, G, R) and a colour.
inline int Difference(const uint8_t* bgr, Rgb c) {
    return std::max({std::abs(bgr[0] - c.b), std::abs(bgr[1] - c.g), std::abs(bgr[2] - c.r)});
}

struct Bgra {
    uint8_t b, g, r, a;
};

inline Bgra PixelAt(const decode::RawPicture& p, uint32_t x, uint32_t y) {
    const uint8_t* q = &p.bgra[(size_t{y} * p.width + x) * 4];
    return {q[0], q[1], q[2], q[3]};
}

// The number of pixels that differ from `expected(x, y)`.
inline int Mismatches(const decode::RawPicture& p,
                      const std::function<Bgra(uint32_t, uint32_t)>& expected) {
    int bad = 0;
    for (uint32_t y = 0; y < p.height; ++y) {
        for (uint32_t x = 0; x < p.width; ++x) {
            const Bgra a = PixelAt(p, x, y);
            const Bgra e = expected(x, y);
            bad += a.b != e.b || a.g != e.g || a.r != e.r || a.a != e.a;
        }
    }
    return bad;
}

inline Bgra Tile(uint32_t x, uint32_t y, uint8_t alpha = 255) {
    const Rgb c = TileAt(x, y);
    return {static_cast<uint8_t>(c.b), static_cast<uint8_t>(c.g), static_cast<uint8_t>(c.r), alpha};
}

inline Bgra Grey(int level, uint8_t alpha = 255) {
    const auto g = static_cast<uint8_t>(level);
    return {g, g, g, alpha};
}

// Bytes as a file stores them: little-endian, or big-endian where asked.
class Writer {
public:
    explicit Writer(bool bigEndian = false) : bigEndian_(bigEndian) {}
    Bytes bytes;
    void U8(uint32_t v) { bytes.push_back(static_cast<uint8_t>(v)); }
    void U16(uint32_t v) {
        if (bigEndian_) {
            U8(v >> 8 & 0xFF), U8(v & 0xFF);
        } else {
            U8(v & 0xFF), U8(v >> 8 & 0xFF);
        }
    }
    void U32(uint32_t v) {
        if (bigEndian_) {
            U16(v >> 16), U16(v & 0xFFFF);
        } else {
            U16(v & 0xFFFF), U16(v >> 16);
        }
    }
    void Append(const Bytes& more) { bytes.insert(bytes.end(), more.begin(), more.end()); }

private:
    bool bigEndian_;
};

}  // namespace decode_tests
