#include "base/ByteCursor.h"
#include "decode/Limits.h"
#include "decode/PixelRows.h"
#include "decode/RawPictures.h"

namespace decode {
namespace {

// A multi-byte integer: seven bits a byte, most significant first, the top bit set on every
// byte but the last. Five bytes hold any side the limits allow; more are refused.
bool ReadMultiByte(ByteCursor& c, uint32_t& value) {
    value = 0;
    for (int i = 0; i < 5; ++i) {
        uint8_t b;
        if (!c.ReadU8(b)) return false;
        value = value << 7 | (b & 0x7F);
        if (!(b & 0x80)) return value <= kMaxPictureSide;
        if (value > kMaxPictureSide) return false;
    }
    return false;
}

}  // namespace

bool ReadWbmp(const uint8_t* data, size_t size, RawPicture& out) {
    if (!data) return false;
    ByteCursor c(data, size);
    uint32_t type, width, height;
    uint8_t fixHeader;
    // Type 0 (no compression, black and white) is the only one defined; extension headers,
    // announced by the fixed header's top bit, belong to no type in use and are refused.
    if (!ReadMultiByte(c, type) || type != 0 || !c.ReadU8(fixHeader) || fixHeader != 0 ||
        !ReadMultiByte(c, width) || !ReadMultiByte(c, height)) {
        return false;
    }
    size_t outBytes;
    if (!OutputSizeAllowed(width, height, 4, outBytes)) return false;
    const size_t rowBytes = (size_t{width} + 7) / 8;
    if (rowBytes * height > c.Remaining()) return false;

    out.width = width;
    out.height = height;
    out.bitsPerPixel = 1;
    out.hasAlpha = false;
    out.bgra.resize(outBytes);
    const uint8_t* s = data + c.Position();
    uint8_t* d = out.bgra.data();
    for (uint32_t y = 0; y < height; ++y, s += rowBytes) {
        for (uint32_t x = 0; x < width; ++x, d += 4) {
            const bool white = (s[x / 8] >> (7 - x % 8)) & 1;  // 1 is white
            StoreU32(d, white ? 0xFFFFFFFFu : kOpaque);
        }
    }
    return true;
}

}  // namespace decode
