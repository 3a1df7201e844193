#include "base/ByteCursor.h"
#include "decode/Limits.h"
#include "decode/PackedPixels.h"
#include "decode/RawPictures.h"
#include "decode/RowTarget.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace decode {
namespace {

enum class Kind { kMapped, kTrueColour, kGrey };

// What the pixels of a TGA file are and how they turn into B, G, R, A.
struct TgaPixels {
    Kind kind = Kind::kTrueColour;
    uint32_t depth = 0;  // bits per pixel in the file
    bool alpha = false;
    PackedChannel channels[4];  // 15 and 16 bits
    std::vector<uint32_t> map;  // colour-mapped: entry i is index mapFirst + i
    uint32_t mapFirst = 0;
};

// 15 and 16 bits: A RRRRR GGGGG BBBBB, little-endian; the attribute bit is alpha only where the
// header says the pixels carry one bit of it.
void SetFiveBitChannels(bool alpha, PackedChannel* c) {
    SetPackedChannel(0x7C00, c[0]), SetPackedChannel(0x3E0, c[1]), SetPackedChannel(0x1F, c[2]);
    SetPackedChannel(alpha ? 0x8000 : 0, c[3]);
}

void ConvertGreyAlphaRow(const uint8_t* s, uint32_t width, uint8_t* d, bool keepAlpha) {
    const uint32_t opaque = keepAlpha ? 0 : kOpaque;
    for (uint32_t x = 0; x < width; ++x, s += 2, d += 4) {
        const uint32_t g = s[0];
        StoreU32(d, g | g << 8 | g << 16 | uint32_t{s[1]} << 24 | opaque);
    }
}

// Indices outside the map are black.
template <int Bytes>
void ConvertMappedRow(const uint8_t* s, uint32_t width, uint8_t* d, const TgaPixels& t) {
    const uint32_t* map = t.map.data();
    const size_t entries = t.map.size();
    for (uint32_t x = 0; x < width; ++x, s += Bytes, d += 4) {
        const uint32_t index = Bytes == 1 ? s[0] : uint32_t{s[0]} | uint32_t{s[1]} << 8;
        const uint32_t i = index - t.mapFirst;  // below the first entry: wraps past the map
        StoreU32(d, i < entries ? map[i] : kOpaque);
    }
}

void ConvertRow(const uint8_t* s, uint32_t width, uint8_t* d, const TgaPixels& t) {
    switch (t.kind) {
        case Kind::kMapped:
            if (t.depth == 8) {
                ConvertMappedRow<1>(s, width, d, t);
            } else {
                ConvertMappedRow<2>(s, width, d, t);
            }
            return;
        case Kind::kGrey:
            if (t.depth == 8) {
                ConvertGreyRow(s, width, d);
            } else {
                ConvertGreyAlphaRow(s, width, d, t.alpha);
            }
            return;
        case Kind::kTrueColour:
            if (t.depth == 24) {
                ConvertBgrRow(s, width, d);
            } else if (t.depth == 32) {
                ConvertBgrxRow(s, width, d, t.alpha);
            } else {
                ConvertPackedRow<2>(s, width, d, t.channels);
            }
            return;
    }
}

// The pixels of run-length packets, a row at a time: a packet may go on into the next row.
class RleRows {
public:
    RleRows(const uint8_t* p, const uint8_t* end, size_t pixelBytes)
        : p_(p), end_(end), pixelBytes_(pixelBytes) {}

    // Fills up to `width` pixels of `row`; fewer where the data ends.
    uint32_t Fill(uint8_t* row, uint32_t width) {
        uint32_t x = 0;
        while (x < width) {
            if (left_ == 0) {
                if (p_ == end_) break;
                const uint8_t head = *p_++;
                left_ = (head & 0x7F) + 1u;
                repeat_ = (head & 0x80) != 0;
                if (repeat_) {
                    if (size_t(end_ - p_) < pixelBytes_) {
                        left_ = 0, p_ = end_;
                        break;
                    }
                    std::memcpy(value_, p_, pixelBytes_);
                    p_ += pixelBytes_;
                }
            }
            const uint32_t n = std::min(left_, width - x);
            uint8_t* d = row + x * pixelBytes_;
            if (repeat_) {
                for (uint32_t i = 0; i < n; ++i, d += pixelBytes_)
                    std::memcpy(d, value_, pixelBytes_);
            } else {
                const uint32_t have =
                    static_cast<uint32_t>(std::min<size_t>(n, (end_ - p_) / pixelBytes_));
                std::memcpy(d, p_, have * pixelBytes_);
                p_ += have * pixelBytes_;
                if (have < n) {
                    x += have;
                    left_ = 0;
                    p_ = end_;
                    break;
                }
            }
            x += n;
            left_ -= n;
        }
        return x;
    }

private:
    const uint8_t* p_;
    const uint8_t* end_;
    size_t pixelBytes_;
    uint32_t left_ = 0;
    bool repeat_ = false;
    uint8_t value_[4] = {};
};

}  // namespace

bool ReadTga(const uint8_t* data, size_t size, RawPicture& out) {
    if (!data) return false;
    // TGA has no signature, so the header is held to what the kinds read here allow.
    ByteCursor c(data, size);
    uint8_t idLength, mapType, imageType, mapEntryBits, depth, descriptor;
    uint16_t mapFirst, mapLength, xOrigin, yOrigin, width, height;
    if (!c.ReadU8(idLength) || !c.ReadU8(mapType) || !c.ReadU8(imageType) || !c.ReadU16(mapFirst) ||
        !c.ReadU16(mapLength) || !c.ReadU8(mapEntryBits) || !c.ReadU16(xOrigin) ||
        !c.ReadU16(yOrigin) || !c.ReadU16(width) || !c.ReadU16(height) || !c.ReadU8(depth) ||
        !c.ReadU8(descriptor)) {
        return false;
    }
    if (mapType > 1 || (descriptor & 0xC0) != 0) return false;  // bits 6, 7: interleaved rows
    const bool rle = imageType >= 9;
    const uint32_t alphaBits = descriptor & 15;
    const bool rightToLeft = (descriptor & 0x10) != 0;
    const bool topDown = (descriptor & 0x20) != 0;
    const bool mapEntriesKnown =
        mapEntryBits == 15 || mapEntryBits == 16 || mapEntryBits == 24 || mapEntryBits == 32;
    // The alpha bits may not claim more than the pixel (or map entry) holds past its colour;
    // alpha is used where they claim all of it.
    TgaPixels t;
    t.depth = depth;
    uint32_t spare = 0;
    switch (imageType) {
        case 1:
        case 9:
            t.kind = Kind::kMapped;
            if (mapType != 1 || mapLength == 0 || !mapEntriesKnown || (depth != 8 && depth != 16)) {
                return false;
            }
            spare = mapEntryBits == 32 ? 8 : mapEntryBits == 16 ? 1 : 0;
            break;
        case 2:
        case 10:
            t.kind = Kind::kTrueColour;
            if (depth != 15 && depth != 16 && depth != 24 && depth != 32) return false;
            spare = depth == 32 ? 8 : depth == 16 ? 1 : 0;
            break;
        case 3:
        case 11:
            t.kind = Kind::kGrey;
            if (depth != 8 && depth != 16) return false;
            spare = depth == 16 ? 8 : 0;
            break;
        default:
            return false;
    }
    if (alphaBits != 0 && alphaBits != spare) return false;
    t.alpha = alphaBits != 0;
    size_t outBytes;
    if (!OutputSizeAllowed(width, height, 4, outBytes)) return false;
    if (!c.Skip(idLength)) return false;

    const size_t entryBytes = (mapEntryBits + 7u) / 8;
    if (mapType == 1) {
        const uint8_t* entry = data + c.Position();
        if (!c.Skip(size_t{mapLength} * entryBytes)) return false;  // unused by other kinds
        if (t.kind == Kind::kMapped) {
            t.mapFirst = mapFirst;
            t.map.resize(mapLength);
            PackedChannel five[4];
            SetFiveBitChannels(t.alpha, five);
            for (uint32_t i = 0; i < mapLength; ++i, entry += entryBytes) {
                uint8_t d[4];
                if (entryBytes == 2) {
                    ConvertPackedRow<2>(entry, 1, d, five);
                } else if (entryBytes == 3) {
                    ConvertBgrRow(entry, 1, d);
                } else {
                    ConvertBgrxRow(entry, 1, d, t.alpha);
                }
                t.map[i] = LoadU32(d);
            }
        }
    }
    if (t.kind == Kind::kTrueColour && depth <= 16) SetFiveBitChannels(t.alpha, t.channels);

    const size_t pixelBytes = (depth + 7u) / 8;
    const size_t rowBytes = size_t{width} * pixelBytes;
    const uint8_t* pixels = data + c.Position();
    if (!rle && rowBytes * height > c.Remaining()) return false;
    // A packet holds at most 128 pixels: a picture larger than the data could fill is refused
    // before its memory is taken.
    if (rle && uint64_t{width} * height > (c.Remaining() / (1 + pixelBytes) + 1) * 128) {
        return false;
    }

    out.width = width;
    out.height = height;
    out.bitsPerPixel = depth;
    out.hasAlpha = t.alpha;
    // Run-length data cut short leaves the rest of the picture transparent.
    RowTarget target(out, t.alpha || rle);
    std::vector<uint8_t> packed(rle ? rowBytes : 0);
    RleRows runs(pixels, data + size, pixelBytes);
    uint64_t drawn = 0;
    for (uint32_t row = 0; row < height; ++row) {
        const uint32_t y = topDown ? row : height - 1u - row;
        uint8_t* d = target.Row(y);
        if (!rle) {
            ConvertRow(pixels + rowBytes * row, width, d, t);
        } else {
            // Where the data ends early, what was read is kept and the rest left transparent.
            const uint32_t filled = runs.Fill(packed.data(), width);
            if (filled > 0) ConvertRow(packed.data(), filled, d, t);
            std::memset(d + size_t{filled} * 4, 0, size_t{width - filled} * 4);
            drawn += filled;
        }
        if (rightToLeft) MirrorRow(d, width);
        target.Made(y);
    }
    if (rle) {
        if (drawn == 0) return false;
        if (drawn < uint64_t{width} * height) {
            out.hasAlpha = true;
            return true;
        }
    }
    if (out.hasAlpha && target.AllTransparent()) target.MakeOpaque();
    return true;
}

}  // namespace decode
