#include "base/ByteCursor.h"
#include "decode/Limits.h"
#include "decode/PackedPixels.h"
#include "decode/RawPictures.h"
#include "decode/RowTarget.h"

#include <algorithm>
#include <cstring>

namespace decode {
namespace {

constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiRle8 = 1;
constexpr uint32_t kBiRle4 = 2;
constexpr uint32_t kBiBitfields = 3;
constexpr uint32_t kBiAlphaBitfields = 6;

struct BmpHeader {
    uint32_t pixelOffset = 0;
    uint32_t headerSize = 0;
    int32_t width = 0;
    int32_t height = 0;
    uint16_t planes = 0;
    uint16_t bits = 0;
    uint32_t compression = 0;
    uint32_t colorsUsed = 0;
    uint32_t masks[4] = {};  // R, G, B, A
    uint32_t paletteStart = 0;
    uint32_t paletteEntryBytes = 4;
};

// The header whatever its size. OS/2 1.x (12 bytes) has 16-bit sides and 3-byte palette
// entries. OS/2 2.x (16 to 64 bytes, fields past its end zero) lays out its first 40 bytes as
// Windows does, but its compression 3 is Huffman and 4 is RLE24: neither is read here. Windows
// headers give the red, green and blue masks from 52 bytes on and the alpha mask from 56; a
// 40-byte header is followed by them when the compression calls for them.
bool ReadHeader(const uint8_t* data, size_t size, BmpHeader& h) {
    ByteCursor c(data, size);
    uint8_t magic[2];
    if (!c.ReadBytes(magic, 2) || magic[0] != 'B' || magic[1] != 'M' || !c.Skip(8) ||
        !c.ReadU32(h.pixelOffset) || !c.ReadU32(h.headerSize)) {
        return false;
    }
    const uint32_t hs = h.headerSize;
    if (hs == 12) {
        uint16_t w, ht;
        if (!c.ReadU16(w) || !c.ReadU16(ht) || !c.ReadU16(h.planes) || !c.ReadU16(h.bits)) {
            return false;
        }
        h.width = w, h.height = ht;
        h.paletteStart = 26;
        h.paletteEntryBytes = 3;
        return true;
    }
    const bool windows = hs == 40 || hs == 52 || hs == 56 || hs >= 108;
    const bool os2 = !windows && hs >= 16 && hs <= 64;
    if (!windows && !os2) return false;
    uint8_t fields[120] = {};  // the header past its size, zero where a short one ends
    const size_t present = std::min<size_t>(hs - 4, sizeof fields);
    if (!c.ReadBytes(fields, present)) return false;
    ByteCursor f(fields, sizeof fields);
    f.ReadI32(h.width), f.ReadI32(h.height), f.ReadU16(h.planes), f.ReadU16(h.bits);
    f.ReadU32(h.compression), f.Skip(12), f.ReadU32(h.colorsUsed), f.Skip(4);
    h.paletteStart = 14 + hs;
    if (os2) return h.compression <= kBiRle4;
    if (hs >= 52) {
        f.ReadU32(h.masks[0]), f.ReadU32(h.masks[1]), f.ReadU32(h.masks[2]);
        if (hs >= 56) f.ReadU32(h.masks[3]);
    } else if (h.compression == kBiBitfields || h.compression == kBiAlphaBitfields) {
        const int count = h.compression == kBiBitfields ? 3 : 4;
        for (int i = 0; i < count; ++i) {
            if (!c.ReadU32(h.masks[i])) return false;
        }
        h.paletteStart += 4 * count;
    }
    return true;
}

// Palette entries B, G, R (and a byte unused) into opaque pixels; indices past the table are
// black (ImageMagick shows entry 0 there).
bool ReadPalette(const uint8_t* data, size_t size, const BmpHeader& h, uint32_t* palette) {
    for (uint32_t i = 0; i < 256; ++i) palette[i] = kOpaque;
    const uint32_t most = 1u << h.bits;
    uint32_t entries = h.colorsUsed == 0 ? most : std::min(h.colorsUsed, most);
    // A table claimed longer than the room before the pixels is cut to that room: the pixel
    // offset is what readers have always relied on.
    entries = std::min<uint32_t>(entries, (h.pixelOffset - h.paletteStart) / h.paletteEntryBytes);
    if (entries == 0 || size_t{h.paletteStart} + size_t{entries} * h.paletteEntryBytes > size) {
        return false;
    }
    const uint8_t* p = data + h.paletteStart;
    for (uint32_t i = 0; i < entries; ++i, p += h.paletteEntryBytes) {
        palette[i] = uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | kOpaque;
    }
    return true;
}

template <int Bits>
void ConvertIndexedRow(const uint8_t* s, uint32_t width, uint8_t* d, const uint32_t* palette) {
    constexpr uint32_t perByte = 8 / Bits;
    constexpr uint32_t mask = (1u << Bits) - 1;
    for (uint32_t x = 0; x < width; ++x, d += 4) {
        const uint32_t shift = 8 - Bits - (x % perByte) * Bits;
        StoreU32(d, palette[s[x / perByte] >> shift & mask]);
    }
}

// RLE8 and RLE4, always bottom-up, straight into `out`, whose pixels start transparent black.
// Runs that pass the row's end are cut there; moves past the last row end the picture. Where
// the data ends early, what was drawn is kept. Pixels the data never draws (passed over by a
// move, an early end of line or of the picture) stay transparent: the file gives them no
// colour (ImageMagick paints them with palette entry 0). Returns the number of pixels drawn.
uint64_t DecodeRle(const uint8_t* p, const uint8_t* end, bool rle4, const uint32_t* palette,
                   RawPicture& out) {
    const uint32_t w = out.width, h = out.height;
    uint32_t x = 0, y = 0;  // y counts rows from the bottom
    uint64_t drawn = 0;
    // Draws `count` pixels from the indices `next` gives, cut at the row's end.
    const auto draw = [&](uint32_t count, auto next) {
        const uint32_t n = std::min(count, w - x);
        uint8_t* d = out.bgra.data() + (size_t{h - 1 - y} * w + x) * 4;
        for (uint32_t i = 0; i < n; ++i, d += 4) StoreU32(d, palette[next(i)]);
        x += n;
        drawn += n;
    };
    while (y < h && end - p >= 2) {
        const uint32_t count = p[0], value = p[1];
        p += 2;
        if (count > 0) {
            if (rle4) {
                draw(count, [value](uint32_t i) { return i % 2 ? value & 15 : value >> 4; });
            } else {
                draw(count, [value](uint32_t) { return value; });
            }
        } else if (value == 0) {
            x = 0, ++y;
        } else if (value == 1) {
            break;
        } else if (value == 2) {
            if (end - p < 2) break;
            x = std::min(w, x + p[0]);
            y += p[1];
            p += 2;
        } else {
            const size_t bytes = rle4 ? (value + 1) / 2 : value;
            const size_t padded = (bytes + 1) & ~size_t{1};
            const size_t available = std::min<size_t>(bytes, end - p);
            const uint32_t pixels =
                rle4 ? static_cast<uint32_t>(std::min<size_t>(value, available * 2))
                     : static_cast<uint32_t>(available);
            const uint8_t* run = p;
            if (rle4) {
                draw(pixels,
                     [run](uint32_t i) { return i % 2 ? run[i / 2] & 15 : run[i / 2] >> 4; });
            } else {
                draw(pixels, [run](uint32_t i) { return run[i]; });
            }
            if (size_t(end - p) < padded) break;
            p += padded;
        }
    }
    return drawn;
}

}  // namespace

bool ReadBmp(const uint8_t* data, size_t size, RawPicture& out) {
    if (!data) return false;
    BmpHeader h;
    if (!ReadHeader(data, size, h) || h.planes != 1) return false;
    const uint32_t bits = h.bits;
    const bool rle = h.compression == kBiRle8 || h.compression == kBiRle4;
    const bool indexed = bits == 1 || bits == 2 || bits == 4 || bits == 8;
    bool packed = false;
    switch (h.compression) {
        case kBiRgb:
            packed = bits == 16 || bits == 32;
            if (!indexed && !packed && bits != 24) return false;
            break;
        case kBiRle8:
            if (bits != 8) return false;
            break;
        case kBiRle4:
            if (bits != 4) return false;
            break;
        case kBiBitfields:
        case kBiAlphaBitfields:
            packed = true;
            if (bits != 16 && bits != 32) return false;
            break;
        default:
            return false;  // JPEG, PNG, CMYK: left to WIC
    }
    if (h.width <= 0 || h.height == 0 || h.height == INT32_MIN) return false;
    const bool topDown = h.height < 0;
    if (topDown && rle) return false;
    const auto w = static_cast<uint32_t>(h.width);
    const auto ht = static_cast<uint32_t>(topDown ? -h.height : h.height);
    size_t outBytes;
    if (!OutputSizeAllowed(w, ht, 4, outBytes)) return false;
    if (h.pixelOffset < h.paletteStart || h.pixelOffset > size) return false;

    uint32_t palette[256];
    if (indexed && !ReadPalette(data, size, h, palette)) return false;

    // Alpha: only an alpha mask given with bit fields makes it. The fourth byte of 32-bit
    // BI_RGB pixels is unused, whatever a V4 or V5 header's alpha mask says: Windows' WIC
    // and ImageMagick show such files opaque. (ImageMagick alone takes the fourth byte under a
    // 40-byte header as alpha unless it is 0 throughout; PIL writes RGBA pictures so.)
    PackedChannel channels[4];
    bool plainBgra = false;  // B, G, R and an unused byte or alpha: converted a row at once
    if (packed) {
        uint32_t masks[4] = {0xFF0000, 0xFF00, 0xFF, 0};
        if (bits == 16 && h.compression == kBiRgb) {
            masks[0] = 0x7C00, masks[1] = 0x3E0, masks[2] = 0x1F;
        } else if (h.compression != kBiRgb) {
            std::memcpy(masks, h.masks, sizeof masks);
        }
        const uint32_t within = bits == 32 ? 0xFFFFFFFFu : 0xFFFFu;
        uint32_t seen = 0;
        for (int i = 0; i < 4; ++i) {
            if ((masks[i] & ~within) != 0 || (masks[i] & seen) != 0 || (i < 3 && masks[i] == 0) ||
                !SetPackedChannel(masks[i], channels[i])) {
                return false;
            }
            seen |= masks[i];
        }
        out.hasAlpha = masks[3] != 0;
        plainBgra = bits == 32 && masks[0] == 0xFF0000 && masks[1] == 0xFF00 && masks[2] == 0xFF &&
                    (masks[3] == 0 || masks[3] == 0xFF000000u);
    } else {
        out.hasAlpha = false;
    }

    out.width = w;
    out.height = ht;
    out.bitsPerPixel = static_cast<uint16_t>(bits);
    if (rle) {
        // A run of two bytes draws at most 255 pixels. Moves and ends of line may pass over
        // more, but a picture larger than its runs could fill is refused before its memory
        // is taken: a few bytes must not cost a gigabyte.
        if (uint64_t{w} * ht > uint64_t{size - h.pixelOffset} * 128) return false;
        out.streamed = false;  // runs draw anywhere in the picture
        out.bgra.assign(outBytes, 0);
        const uint64_t drawn =
            DecodeRle(data + h.pixelOffset, data + size, h.compression == kBiRle4, palette, out);
        if (drawn == 0) return false;
        out.hasAlpha = drawn < uint64_t{w} * ht;
        return true;
    }

    // Rows are padded to four bytes. Some writers leave out the last row's padding.
    const uint64_t rowBytes = (uint64_t{w} * bits + 7) / 8;
    const uint64_t stride = (rowBytes + 3) & ~uint64_t{3};
    const uint64_t needed = stride * (ht - 1) + rowBytes;
    if (needed > size - h.pixelOffset) return false;
    RowTarget target(out, out.hasAlpha);
    const uint8_t* pixels = data + h.pixelOffset;
    for (uint32_t row = 0; row < ht; ++row) {
        const uint8_t* s = pixels + stride * row;
        const uint32_t y = topDown ? row : ht - 1 - row;
        uint8_t* d = target.Row(y);
        switch (bits) {
            case 1:
                ConvertIndexedRow<1>(s, w, d, palette);
                break;
            case 2:
                ConvertIndexedRow<2>(s, w, d, palette);
                break;
            case 4:
                ConvertIndexedRow<4>(s, w, d, palette);
                break;
            case 8:
                ConvertIndexedRow<8>(s, w, d, palette);
                break;
            case 16:
                ConvertPackedRow<2>(s, w, d, channels);
                break;
            case 24:
                ConvertBgrRow(s, w, d);
                break;
            default:
                if (plainBgra) {
                    ConvertBgrxRow(s, w, d, out.hasAlpha);
                } else {
                    ConvertPackedRow<4>(s, w, d, channels);
                }
                break;
        }
        target.Made(y);
    }
    if (out.hasAlpha && target.AllTransparent()) target.MakeOpaque();
    return true;
}

}  // namespace decode
