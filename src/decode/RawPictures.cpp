#include "decode/RawPictures.h"

#include "base/ByteCursor.h"
#include "decode/Limits.h"
#include "decode/PixelRows.h"

#include <cstring>

namespace decode {
namespace {

// Three bytes B, G, R a pixel into B, G, R, 255. All pixels but the last are read as four
// bytes, the fourth belonging to the next pixel.
void ConvertBgrRow(const uint8_t* s, uint32_t width, uint8_t* d) {
    uint32_t x = 0;
    for (; x + 1 < width; ++x, s += 3, d += 4) StoreU32(d, LoadU32(s) | kOpaque);
    d[0] = s[0];
    d[1] = s[1];
    d[2] = s[2];
    d[3] = 255;
}

void ConvertBgrxRow(const uint8_t* s, uint32_t width, uint8_t* d, bool keepAlpha) {
    if (keepAlpha) {
        std::memcpy(d, s, size_t{width} * 4);
        return;
    }
    for (uint32_t x = 0; x < width; ++x, s += 4, d += 4) StoreU32(d, LoadU32(s) | kOpaque);
}

void ConvertIndexedRow(const uint8_t* s, uint32_t width, uint8_t* d, const uint32_t* palette) {
    for (uint32_t x = 0; x < width; ++x, d += 4) StoreU32(d, palette[s[x]]);
}

void MirrorRow(uint8_t* row, uint32_t width) {
    for (uint32_t a = 0, b = width - 1; a < b; ++a, --b) {
        const uint32_t left = LoadU32(row + size_t{a} * 4);
        StoreU32(row + size_t{a} * 4, LoadU32(row + size_t{b} * 4));
        StoreU32(row + size_t{b} * 4, left);
    }
}

}  // namespace

bool ReadBmp(const uint8_t* data, size_t size, RawPicture& out) {
    if (!data) return false;
    ByteCursor c(data, size);
    uint8_t magic[2];
    uint32_t fileSize, reserved, pixelOffset, headerSize, compression, imageSize, colorsUsed,
        colorsImportant;
    int32_t width, height, xDensity, yDensity;
    uint16_t planes, bits;
    if (!c.ReadBytes(magic, 2) || magic[0] != 'B' || magic[1] != 'M' || !c.ReadU32(fileSize) ||
        !c.ReadU32(reserved) || !c.ReadU32(pixelOffset) || !c.ReadU32(headerSize) ||
        !c.ReadI32(width) || !c.ReadI32(height) || !c.ReadU16(planes) || !c.ReadU16(bits) ||
        !c.ReadU32(compression) || !c.ReadU32(imageSize) || !c.ReadI32(xDensity) ||
        !c.ReadI32(yDensity) || !c.ReadU32(colorsUsed) || !c.ReadU32(colorsImportant)) {
        return false;
    }
    constexpr uint32_t kBiRgb = 0;
    if (headerSize < 40 || planes != 1 || compression != kBiRgb) return false;
    if (bits != 8 && bits != 24 && bits != 32) return false;
    if (width <= 0 || height == 0 || height == INT32_MIN) return false;
    const bool topDown = height < 0;
    const auto w = static_cast<uint32_t>(width);
    const auto h = static_cast<uint32_t>(topDown ? -height : height);
    size_t outBytes;
    if (!OutputSizeAllowed(w, h, 4, outBytes)) return false;

    uint32_t palette[256];
    if (bits == 8) {
        const uint32_t entries = colorsUsed == 0 ? 256 : colorsUsed;
        if (entries > 256) return false;
        ByteCursor table(data, size);
        if (!table.Skip(size_t{14} + headerSize)) return false;
        for (uint32_t i = 0; i < 256; ++i) palette[i] = kOpaque;  // indices past the table: black
        for (uint32_t i = 0; i < entries; ++i) {
            uint32_t entry;
            if (!table.ReadU32(entry)) return false;
            palette[i] = entry | kOpaque;
        }
    }

    // Rows are padded to four bytes. Some writers leave out the last row's padding.
    const uint64_t rowBytes = uint64_t{w} * (bits / 8);
    const uint64_t stride = (rowBytes + 3) & ~uint64_t{3};
    const uint64_t needed = stride * (h - 1) + rowBytes;
    if (pixelOffset > size || needed > size - pixelOffset) return false;

    out.width = w;
    out.height = h;
    out.bitsPerPixel = bits;
    out.hasAlpha = false;
    out.bgra.resize(outBytes);
    const uint8_t* pixels = data + pixelOffset;
    for (uint32_t row = 0; row < h; ++row) {
        const uint8_t* s = pixels + stride * row;
        uint8_t* d = out.bgra.data() + size_t{topDown ? row : h - 1 - row} * w * 4;
        switch (bits) {
            case 8:
                ConvertIndexedRow(s, w, d, palette);
                break;
            case 24:
                ConvertBgrRow(s, w, d);
                break;
            default:
                ConvertBgrxRow(s, w, d, false);
                break;
        }
    }
    return true;
}

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
    if (mapType > 1) return false;
    const uint32_t alphaBits = descriptor & 15;
    const bool rightToLeft = (descriptor & 0x10) != 0;
    const bool topDown = (descriptor & 0x20) != 0;
    if ((descriptor & 0xC0) != 0) return false;  // interleaved rows
    if (imageType == 2) {
        if (!(depth == 24 && alphaBits == 0) &&
            !(depth == 32 && (alphaBits == 0 || alphaBits == 8))) {
            return false;
        }
    } else if (imageType == 3) {
        if (depth != 8 || alphaBits != 0) return false;
    } else {
        return false;
    }
    size_t outBytes;
    if (!OutputSizeAllowed(width, height, 4, outBytes)) return false;
    // A true-colour picture may still carry a colour map; it is not used.
    const size_t mapBytes = mapType == 1 ? size_t{mapLength} * ((mapEntryBits + 7u) / 8) : 0;
    if (!c.Skip(idLength) || !c.Skip(mapBytes)) return false;
    const size_t bytesPerPixel = depth / 8;
    const size_t rowBytes = size_t{width} * bytesPerPixel;
    if (rowBytes * height > c.Remaining()) return false;

    out.width = width;
    out.height = height;
    out.bitsPerPixel = depth;
    out.hasAlpha = alphaBits == 8;
    out.bgra.resize(outBytes);
    const uint8_t* pixels = data + c.Position();
    for (uint32_t row = 0; row < height; ++row) {
        const uint8_t* s = pixels + rowBytes * row;
        uint8_t* d = out.bgra.data() + size_t{topDown ? row : height - 1u - row} * width * 4;
        switch (depth) {
            case 8:
                ConvertGreyRow(s, width, d);
                break;
            case 24:
                ConvertBgrRow(s, width, d);
                break;
            default:
                ConvertBgrxRow(s, width, d, alphaBits == 8);
                break;
        }
        if (rightToLeft) MirrorRow(d, width);
    }
    return true;
}

}  // namespace decode
