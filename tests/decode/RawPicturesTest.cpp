// The BMP and TGA readers: files another program wrote, variants written here, every refusal,
// and damaged or cut-short files.
#include "decode/RawPictures.h"
#include "decode/BmpTgaFixtures.h"
#include "decode/Gif.h"
#include "decode/Png.h"
#include "decode/Tiff.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <set>

using namespace decode_tests;
using decode::RawPicture;
using decode::ReadBmp;
using decode::ReadTga;

namespace {

struct BmpLayout {
    int32_t width = 5;
    int32_t height = 3;  // negative: top-down
    uint16_t bits = 24;
    uint32_t compression = 0;
    uint32_t headerSize = 40;
    uint16_t planes = 1;
    uint32_t paletteEntries = 0;       // written, and given as colours used
    uint32_t colorsUsed = UINT32_MAX;  // other than the entries written
    std::vector<uint32_t> masks;       // in the header from 52 bytes on, else after it
    Bytes pixels;                      // other than the tiles (RLE, packed pixels)
    bool dropLastPadding = false;
};

// Pixel (x, y) from the top: tile colours, and for 8 bits the index (x + y) % entries; the
// palette entry i is (i * 40, 255 - i * 40, i * 7).
Bytes MakeBmp(const BmpLayout& s) {
    const uint32_t w = static_cast<uint32_t>(std::max(s.width, 0));
    const uint32_t h = static_cast<uint32_t>(s.height < 0 ? -s.height : s.height);
    const uint32_t rowBytes = w * s.bits / 8;
    const uint32_t stride = (rowBytes + 3) & ~3u;
    const bool masksAfter = s.headerSize == 40;
    const uint32_t offset = 14 + s.headerSize + s.paletteEntries * 4 +
                            (masksAfter ? static_cast<uint32_t>(s.masks.size()) * 4 : 0);
    Writer out;
    out.U8('B'), out.U8('M'), out.U32(offset + stride * h), out.U32(0), out.U32(offset);
    out.U32(s.headerSize), out.U32(static_cast<uint32_t>(s.width));
    out.U32(static_cast<uint32_t>(s.height)), out.U16(s.planes), out.U16(s.bits);
    out.U32(s.compression), out.U32(stride * h), out.U32(2835), out.U32(2835);
    out.U32(s.colorsUsed == UINT32_MAX ? s.paletteEntries : s.colorsUsed), out.U32(0);
    if (!masksAfter) {
        for (uint32_t m : s.masks) out.U32(m);
    }
    out.bytes.resize(14 + s.headerSize, 0);
    if (masksAfter) {
        for (uint32_t m : s.masks) out.U32(m);
    }
    for (uint32_t i = 0; i < s.paletteEntries; ++i) {
        out.U8(i * 7), out.U8(255 - i * 40), out.U8(i * 40), out.U8(0x5A);  // B, G, R, junk
    }
    if (!s.pixels.empty()) {
        out.Append(s.pixels);
        return out.bytes;
    }
    for (uint32_t row = 0; row < h; ++row) {
        const uint32_t y = s.height < 0 ? row : h - 1 - row;
        for (uint32_t x = 0; x < w; ++x) {
            const Rgb c = TileAt(x * 16, y * 16);
            if (s.bits == 8) {
                out.U8((x + y) % std::max(1u, s.paletteEntries + 1));  // may pass the table
            } else {
                out.U8(c.b), out.U8(c.g), out.U8(c.r);
                if (s.bits == 32) out.U8(0x11 * x);  // unused by BI_RGB
            }
        }
        const bool last = row + 1 == h;
        if (!(last && s.dropLastPadding)) out.bytes.resize(out.bytes.size() + stride - rowBytes, 0);
    }
    return out.bytes;
}

Bgra PaletteEntry(uint32_t i) {
    return {static_cast<uint8_t>(i * 7), static_cast<uint8_t>(255 - i * 40),
            static_cast<uint8_t>(i * 40), 255};
}

// A picture drawn in characters, top row first: a digit is that palette entry, '.'
// transparent, 'k' black.
std::function<Bgra(uint32_t, uint32_t)> Drawn(std::vector<std::string> rows) {
    return [rows](uint32_t x, uint32_t y) {
        const char c = rows[y][x];
        if (c == '.') return Bgra{0, 0, 0, 0};
        if (c == 'k') return Bgra{0, 0, 0, 255};
        return PaletteEntry(static_cast<uint32_t>(c - '0'));
    };
}

struct TgaLayout {
    uint8_t type = 2;
    uint8_t depth = 24;
    uint8_t descriptor = 0;  // bit 5: top-down, bit 4: right to left, bits 0-3: alpha bits
    uint16_t width = 5;
    uint16_t height = 3;
    uint8_t idLength = 0;
    uint8_t mapType = 0;
    uint16_t mapLength = 0;
    uint16_t mapFirst = 0;
    Bytes map;     // 24-bit entries; filler where empty
    Bytes pixels;  // other than the tiles
};

// Pixel (x, y) as shown: tile colours with alpha 10 * x + y, or grey 20 * x + y.
Bytes MakeTga(const TgaLayout& s) {
    Writer out;
    out.U8(s.idLength), out.U8(s.mapType), out.U8(s.type), out.U16(s.mapFirst);
    out.U16(s.mapLength), out.U8(s.mapType ? 24 : 0), out.U16(0), out.U16(0), out.U16(s.width);
    out.U16(s.height), out.U8(s.depth), out.U8(s.descriptor);
    for (int i = 0; i < s.idLength; ++i) out.U8('i');
    out.Append(s.map.empty() ? Bytes(s.mapLength * 3u, 0xEE) : s.map);
    if (!s.pixels.empty()) {
        out.Append(s.pixels);
        return out.bytes;
    }
    const bool topDown = s.descriptor & 0x20;
    const bool rightToLeft = s.descriptor & 0x10;
    for (uint32_t row = 0; row < s.height; ++row) {
        const uint32_t y = topDown ? row : s.height - 1u - row;
        for (uint32_t column = 0; column < s.width; ++column) {
            const uint32_t x = rightToLeft ? s.width - 1u - column : column;
            if (s.depth == 8) {
                out.U8(20 * x + y);
                continue;
            }
            const Rgb c = TileAt(x * 16, y * 16);
            out.U8(c.b), out.U8(c.g), out.U8(c.r);
            if (s.depth == 32) out.U8(10 * x + y);
        }
    }
    return out.bytes;
}

bool Bmp(const Bytes& b, RawPicture& p) {
    return ReadBmp(b.data(), b.size(), p);
}
bool Tga(const Bytes& b, RawPicture& p) {
    return ReadTga(b.data(), b.size(), p);
}

uint32_t LoadBgra(const RawPicture& p, size_t i) {
    return uint32_t{p.bgra[i]} | uint32_t{p.bgra[i + 1]} << 8 | uint32_t{p.bgra[i + 2]} << 16 |
           uint32_t{p.bgra[i + 3]} << 24;
}

}  // namespace

TEST(RawPicturesFiles, ImageMagickBmpAndTgaGiveTheirPixels) {
    RawPicture p;
    ASSERT_TRUE(Bmp(ReadFixture("blocks-24.bmp"), p));
    EXPECT_EQ(p.width, 64u);
    EXPECT_EQ(p.height, 48u);
    EXPECT_EQ(p.bitsPerPixel, 24);
    EXPECT_FALSE(p.hasAlpha);
    EXPECT_EQ(Mismatches(p, [](uint32_t x, uint32_t y) { return Tile(x, y); }), 0);

    const auto gradient = [](uint32_t x, uint32_t y) {
        const auto g = static_cast<uint8_t>(GradientAt(x, y, 100, 75));
        return Bgra{g, g, g, 255};
    };
    ASSERT_TRUE(Bmp(ReadFixture("gradient-8.bmp"), p));  // 256-entry palette
    EXPECT_EQ(p.width, 100u);
    EXPECT_EQ(p.height, 75u);
    EXPECT_EQ(p.bitsPerPixel, 8);
    EXPECT_EQ(Mismatches(p, gradient), 0);

    ASSERT_TRUE(Bmp(ReadFixture("blocks-4.bmp"), p));
    EXPECT_EQ(p.bitsPerPixel, 4);
    EXPECT_EQ(Mismatches(p, [](uint32_t x, uint32_t y) { return Tile(x, y); }), 0);

    ASSERT_TRUE(Tga(ReadFixture("blocks-24.tga"), p));  // bottom-up
    EXPECT_EQ(p.bitsPerPixel, 24);
    EXPECT_EQ(Mismatches(p, [](uint32_t x, uint32_t y) { return Tile(x, y); }), 0);

    ASSERT_TRUE(Tga(ReadFixture("blocks-32.tga"), p));  // top-down, alpha half on odd squares
    EXPECT_EQ(p.bitsPerPixel, 32);
    EXPECT_TRUE(p.hasAlpha);
    EXPECT_EQ(
        Mismatches(p, [](uint32_t x, uint32_t y) { return Tile(x, y, (x + y) % 2 ? 255 : 127); }),
        0);

    ASSERT_TRUE(Tga(ReadFixture("gradient-grey.tga"), p));
    EXPECT_EQ(p.bitsPerPixel, 8);
    EXPECT_EQ(p.width, 100u);
    EXPECT_EQ(p.height, 75u);
    EXPECT_EQ(Mismatches(p, gradient), 0);
}

// Every kind the readers take, as ImageMagick, netpbm, PIL and the fixture script wrote it.
TEST(RawPicturesFiles, EveryBmpAndTgaFixtureGivesItsContent) {
    const auto fixtures = BmpTgaFixtures();
    EXPECT_GE(fixtures.size(), 45u);
    RawPicture p;
    for (const BmpTgaFixture& f : fixtures) {
        SCOPED_TRACE(f.name);
        const Bytes bytes = ReadFixture(f.name);
        ASSERT_TRUE(f.IsBmp() ? Bmp(bytes, p) : Tga(bytes, p));
        EXPECT_EQ(p.width, f.Width());
        EXPECT_EQ(p.height, f.Height());
        EXPECT_EQ(p.bitsPerPixel, f.fileBits);
        EXPECT_EQ(p.hasAlpha, f.alpha != "none");
        EXPECT_EQ(ContentMismatches(p, f), 0);
    }
}

TEST(RawPicturesFiles, BmpVariants) {
    const auto tiles = [](uint32_t x, uint32_t y) { return Tile(x * 16, y * 16); };
    RawPicture p;
    for (int32_t height : {3, -3}) {
        for (uint16_t bits : {24, 32}) {
            SCOPED_TRACE(testing::Message() << height << " rows, " << bits << " bits");
            BmpLayout s;
            s.height = height;
            s.bits = bits;
            ASSERT_TRUE(Bmp(MakeBmp(s), p));
            EXPECT_EQ(p.width, 5u);
            EXPECT_EQ(p.height, 3u);
            EXPECT_EQ(p.bitsPerPixel, bits);
            EXPECT_EQ(Mismatches(p, tiles), 0);  // a 32-bit BI_RGB picture is opaque
            EXPECT_FALSE(p.hasAlpha);
        }
    }
    // Other headers (OS/2 2.x cut to 16 bytes or whole, V2 to V5, a larger one to come), and
    // the last row's padding left out.
    for (uint32_t headerSize : {16, 64, 52, 56, 108, 124, 200}) {
        BmpLayout later;
        later.headerSize = headerSize;
        later.dropLastPadding = true;
        ASSERT_TRUE(Bmp(MakeBmp(later), p)) << headerSize;
        EXPECT_EQ(Mismatches(p, tiles), 0) << headerSize;
    }

    // Palettes: a short table, with indices past it shown black; a table claimed longer than
    // the room before the pixels is cut to that room.
    for (uint32_t colorsUsed : {4u, 300u}) {
        BmpLayout indexed;
        indexed.bits = 8;
        indexed.width = 7;
        indexed.paletteEntries = 4;
        indexed.colorsUsed = colorsUsed;
        ASSERT_TRUE(Bmp(MakeBmp(indexed), p));
        EXPECT_EQ(p.bitsPerPixel, 8);
        EXPECT_EQ(Mismatches(p,
                             [](uint32_t x, uint32_t y) {
                                 const uint32_t i = (x + y) % 5;
                                 return i == 4 ? Bgra{0, 0, 0, 255} : PaletteEntry(i);
                             }),
                  0)
            << colorsUsed;
    }

    // Packed pixels: two of them, as the masks (R, G, B, A) read them.
    struct Packed {
        const char* what;
        uint16_t bits;
        uint32_t compression, headerSize;
        std::vector<uint32_t> masks;
        uint32_t pixels[2];
        uint32_t expected[2];  // as B, G, R, A bytes
    };
    // clang-format off
    const Packed packed[] = {
        {"alpha bit fields after a 40-byte header", 32, 6, 40,
         {0xFF, 0xFF00, 0xFF0000, 0xFF000000}, {0x80332211, 0x00445566},
         {0x80112233, 0x00665544}},
        {"an alpha mask, every alpha 0: opaque", 32, 3, 124,
         {0xFF0000, 0xFF00, 0xFF, 0xFF000000}, {0x00112233, 0x00445566},
         {0xFF112233, 0xFF445566}},
        {"3, 2 and 1 bits, in the V2 header", 16, 3, 52,
         {0x7, 0x18, 0x20}, {0x3F, 0x0D},
         {0xFFFFFFFF, 0xFFB65500}},
        {"4 alpha bits beside 8-bit colour", 32, 3, 56,
         {0xFF0000, 0xFF00, 0xFF, 0xF000000}, {0x0F112233, 0x01445566},
         {0xFF112233, 0x11445566}},
    };
    // clang-format on
    for (const Packed& c : packed) {
        SCOPED_TRACE(c.what);
        BmpLayout s;
        s.width = 2, s.height = 1, s.bits = c.bits, s.compression = c.compression;
        s.headerSize = c.headerSize, s.masks = c.masks;
        Writer px;
        for (uint32_t v : c.pixels) c.bits == 16 ? px.U16(v) : px.U32(v);
        s.pixels = px.bytes;
        ASSERT_TRUE(Bmp(MakeBmp(s), p));
        EXPECT_EQ(p.hasAlpha, (c.expected[0] & c.expected[1]) >> 24 != 255);
        for (uint32_t x = 0; x < 2; ++x) EXPECT_EQ(LoadBgra(p, x * 4), c.expected[x]) << x;
    }

    // Indices drawn by hand: RLE8 (1), RLE4 (2) or 2 bits uncompressed (0), bottom-up, 4 x 3
    // pixels over a 4-entry palette.
    struct Rle {
        const char* what;
        uint32_t compression;
        Bytes data;
        std::vector<std::string> expected;  // top row first
    };
    // clang-format off
    const Rle rle[] = {
        {"runs, ends of line and of picture", 1,
         {3, 1, 1, 2, 0, 0, 4, 0, 0, 0, 2, 3, 2, 2, 0, 1}, {"3322", "0000", "1112"}},
        {"absolute runs, padded to words", 1,
         {0, 3, 1, 2, 3, 0, 1, 0, 0, 0, 0, 4, 3, 3, 2, 2}, {"....", "3322", "1230"}},
        {"a move, rows left early: transparent", 1,
         {1, 1, 0, 2, 1, 1, 1, 2, 0, 1}, {"....", "..2.", "1..."}},
        {"runs past the row's end are cut", 1,
         {9, 1, 0, 6, 1, 2, 3, 1, 2, 3, 0, 0, 2, 2, 0, 1}, {"....", "22..", "1111"}},
        {"a move past the last row ends it", 1, {1, 1, 0, 2, 0, 5, 1, 1}, {"....", "....", "1..."}},
        {"indices past the palette: black", 1, {2, 7, 0, 1}, {"....", "....", "kk.."}},
        {"data cut in an absolute run", 1, {4, 1, 0, 0, 0, 4, 2, 3}, {"....", "23..", "1111"}},
        {"data cut after a command", 1, {4, 2, 0}, {"....", "....", "2222"}},
        {"RLE4: runs alternate two indices", 2,
         {5, 0x12, 0, 0, 0, 3, 0x31, 0x20, 0, 0, 4, 0x33}, {"3333", "312.", "1212"}},
        {"2 bits a pixel", 0, {0x1B, 0, 0, 0, 0x1B, 0, 0, 0, 0xE4, 0, 0, 0}, {"3210", "0123", "0123"}},
    };
    // clang-format on
    for (const Rle& c : rle) {
        SCOPED_TRACE(c.what);
        BmpLayout s;
        s.width = 4, s.bits = c.compression == 1 ? 8 : c.compression == 2 ? 4 : 2;
        s.compression = c.compression;
        s.paletteEntries = 4, s.pixels = c.data;
        ASSERT_TRUE(Bmp(MakeBmp(s), p));
        bool undrawn = false;
        for (const std::string& row : c.expected) undrawn |= row.find('.') != std::string::npos;
        EXPECT_EQ(p.hasAlpha, undrawn);
        EXPECT_EQ(Mismatches(p, Drawn(c.expected)), 0);
    }
}

TEST(RawPicturesFiles, TgaVariants) {
    RawPicture p;
    for (uint8_t descriptor : {0x00, 0x20, 0x10, 0x30}) {
        for (uint8_t depth : {24, 32}) {
            SCOPED_TRACE(testing::Message()
                         << "descriptor " << int{descriptor} << ", " << int{depth});
            TgaLayout s;
            s.depth = depth;
            s.descriptor = static_cast<uint8_t>(descriptor | (depth == 32 ? 8 : 0));
            ASSERT_TRUE(Tga(MakeTga(s), p));
            EXPECT_EQ(p.bitsPerPixel, depth);
            EXPECT_EQ(Mismatches(p,
                                 [depth](uint32_t x, uint32_t y) {
                                     return Tile(
                                         x * 16, y * 16,
                                         depth == 32 ? static_cast<uint8_t>(10 * x + y) : 255);
                                 }),
                      0);
        }
    }
    // An image id and an unused colour map are passed over; 32 bits with no alpha bits in the
    // descriptor are opaque.
    TgaLayout extras;
    extras.depth = 32;
    extras.idLength = 9;
    extras.mapType = 1;
    extras.mapLength = 4;
    ASSERT_TRUE(Tga(MakeTga(extras), p));
    EXPECT_FALSE(p.hasAlpha);
    EXPECT_EQ(Mismatches(p, [](uint32_t x, uint32_t y) { return Tile(x * 16, y * 16); }), 0);

    // 4 x 1 pixels, top-down, each case as pixels B, G, R, A, all opaque.
    struct Case {
        const char* what;
        TgaLayout layout;
        uint32_t expected[4];
    };
    const auto layout = [](uint8_t type, uint8_t depth, uint8_t alphaBits, Bytes pixels) {
        TgaLayout s;
        s.type = type, s.depth = depth, s.descriptor = 0x20 | alphaBits, s.width = 4, s.height = 1;
        s.pixels = std::move(pixels);
        return s;
    };
    TgaLayout mapped = layout(1, 8, 0, {9, 10, 11, 12});
    mapped.mapType = 1, mapped.mapFirst = 10, mapped.mapLength = 2, mapped.map = {1, 2, 3, 4, 5, 6};
    const Case cases[] = {
        {"colour map entries from index 10: those outside are black",
         mapped,
         {0xFF000000, 0xFF030201, 0xFF060504, 0xFF000000}},
        {"the attribute bit without alpha bits: opaque",
         layout(2, 16, 0, {0x1F, 0x80, 0xE0, 0x03, 0x00, 0x7C, 0x00, 0x00}),
         {0xFF0000FF, 0xFF00FF00, 0xFFFF0000, 0xFF000000}},
        {"8 alpha bits, every one 0: opaque",
         layout(2, 32, 8, {1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0, 1, 1, 1, 0}),
         {0xFF030201, 0xFF060504, 0xFF090807, 0xFF010101}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(Tga(MakeTga(c.layout), p));
        EXPECT_FALSE(p.hasAlpha);
        for (uint32_t x = 0; x < 4; ++x) EXPECT_EQ(LoadBgra(p, x * 4), c.expected[x]) << x;
    }
}

TEST(RawPicturesRefusals, KindsLeftToWicAndBrokenHeaders) {
    RawPicture p;
    const auto bmp = [](auto change) {
        BmpLayout s;
        change(s);
        return MakeBmp(s);
    };
    const auto bitFields = [](uint16_t bits, std::vector<uint32_t> masks) {
        BmpLayout s;
        s.bits = bits, s.compression = 3, s.masks = std::move(masks);
        return s;
    };
    struct Case {
        const char* what;
        Bytes bytes;
    };
    const Case bmpCases[] = {
        {"JPEG inside", bmp([](BmpLayout& s) { s.compression = 4; })},
        {"OS/2 Huffman", bmp([](BmpLayout& s) { s.headerSize = 64, s.compression = 3; })},
        {"RLE8 of 4 bits",
         bmp([](BmpLayout& s) { s.bits = 4, s.paletteEntries = 4, s.compression = 1; })},
        {"top-down RLE", bmp([](BmpLayout& s) {
             s.bits = 8, s.paletteEntries = 4, s.compression = 1, s.height = -3;
         })},
        {"RLE drawing nothing", bmp([](BmpLayout& s) {
             s.bits = 8, s.paletteEntries = 2, s.compression = 1, s.pixels = {0, 1};
         })},
        {"RLE far larger than its data could fill", bmp([](BmpLayout& s) {
             s.bits = 8, s.paletteEntries = 2, s.compression = 1, s.width = 2000, s.height = 2000;
             s.pixels = {255, 1, 0, 1};
         })},
        {"bit fields of 24 bits", MakeBmp(bitFields(24, {0xFF0000, 0xFF00, 0xFF}))},
        {"masks with gaps", MakeBmp(bitFields(32, {0xFF00FF, 0xFF00, 0xFF000000}))},
        {"no blue mask", MakeBmp(bitFields(32, {0xFF0000, 0xFF00, 0}))},
        {"overlapping masks", MakeBmp(bitFields(32, {0xFF0000, 0xFFFF00, 0xFF}))},
        {"a mask past 16 bits", MakeBmp(bitFields(16, {0x1F0000, 0x3E0, 0x1F}))},
        {"bit fields without masks", bmp([](BmpLayout& s) { s.bits = 32, s.compression = 3; })},
        {"header of 100 bytes", bmp([](BmpLayout& s) { s.headerSize = 100; })},
        {"header of 8 bytes", bmp([](BmpLayout& s) { s.headerSize = 8; })},
        {"no room for the palette",
         bmp([](BmpLayout& s) { s.bits = 8, s.paletteEntries = 0, s.pixels = {0}; })},
        {"two planes", bmp([](BmpLayout& s) { s.planes = 2; })},
        {"no width", bmp([](BmpLayout& s) { s.width = 0; })},
        {"negative width", bmp([](BmpLayout& s) { s.width = -5; })},
        {"no height", bmp([](BmpLayout& s) { s.height = 0; })},
        {"JPEG", ReadFixture("blocks-444.jpg")},
    };
    for (const Case& c : bmpCases) EXPECT_FALSE(Bmp(c.bytes, p)) << c.what;

    // Sizes: claimed in the header over a few pixels of data.
    Bytes big = MakeBmp(BmpLayout{});
    const auto setSize = [&big](int32_t w, int32_t h) {
        for (int i = 0; i < 4; ++i) {
            big[18 + i] = static_cast<uint8_t>(static_cast<uint32_t>(w) >> (8 * i));
            big[22 + i] = static_cast<uint8_t>(static_cast<uint32_t>(h) >> (8 * i));
        }
    };
    setSize(30001, 1);
    EXPECT_FALSE(Bmp(big, p)) << "wider than 30000";
    setSize(1, INT_MIN);
    EXPECT_FALSE(Bmp(big, p)) << "most negative height";
    setSize(30000, 30000);
    EXPECT_FALSE(Bmp(big, p)) << "over 1 GiB of output";
    setSize(16000, 16000);
    EXPECT_FALSE(Bmp(big, p)) << "within the limits, but no pixel data";

    const auto tga = [](auto change) {
        TgaLayout s;
        change(s);
        return MakeTga(s);
    };
    const Case tgaCases[] = {
        {"colour-mapped without a map", tga([](TgaLayout& s) { s.type = 1, s.depth = 8; })},
        {"colour-mapped, 24-bit indices",
         tga([](TgaLayout& s) { s.type = 1, s.mapType = 1, s.mapLength = 2; })},
        {"grey of 24 bits", tga([](TgaLayout& s) { s.type = 3; })},
        {"type 4", tga([](TgaLayout& s) { s.type = 4; })},
        {"15 bits with an alpha bit", tga([](TgaLayout& s) { s.depth = 15, s.descriptor = 1; })},
        {"24 bits with alpha bits", tga([](TgaLayout& s) { s.descriptor = 8; })},
        {"interleaved rows", tga([](TgaLayout& s) { s.descriptor = 0x40; })},
        {"no width", tga([](TgaLayout& s) { s.width = 0; })},
        {"wider than 30000", tga([](TgaLayout& s) { s.width = 30001, s.height = 1; })},
        {"unknown map type", tga([](TgaLayout& s) { s.mapType = 2; })},
        {"RLE with no data", tga([](TgaLayout& s) { s.type = 10, s.pixels = {0x85}; })},
        {"RLE far larger than its data could fill", tga([](TgaLayout& s) {
             s.type = 10, s.width = 2000, s.height = 2000, s.pixels = {0xFF, 1, 2, 3};
         })},
        {"short header", Bytes(17, 0)},
    };
    for (const Case& c : tgaCases) EXPECT_FALSE(Tga(c.bytes, p)) << c.what;
    EXPECT_TRUE(Tga(MakeTga(TgaLayout{}), p)) << "the plain file the cases start from";
    EXPECT_TRUE(Bmp(MakeBmp(BmpLayout{}), p)) << "the plain file the cases start from";
}

// Uncompressed files cut short are refused (but for a BMP's last padding); RLE files keep
// what they hold, the rest transparent. Damaged headers never lead out of bounds.
TEST(RawPicturesDamage, TruncatedAndCorruptedFilesAreRefusedOrRead) {
    std::vector<std::pair<std::string, Bytes>> files;
    for (const char* name :
         {"blocks-24.bmp", "gradient-8.bmp", "blocks-24.tga", "blocks-32.tga", "gradient-grey.tga",
          "bmp-tga/bmp-40-1.bmp", "bmp-tga/bmp-124-565.bmp", "bmp-tga/tga-1-16-map32.tga",
          "bmp-tga/bmp-40-rle4.bmp", "bmp-tga/bmp-40-rle8-gradient.bmp", "bmp-tga/tga-10-32.tga",
          "bmp-tga/tga-10-32-rows.tga", "bmp-tga/tga-9-8.tga"}) {
        files.emplace_back(name, ReadFixture(name));
    }
    BmpLayout topDown32;
    topDown32.height = -3;
    topDown32.bits = 32;
    files.emplace_back("top-down 32-bit BMP", MakeBmp(topDown32));
    uint32_t seed = 99;
    const auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
    for (const auto& [name, whole] : files) {
        SCOPED_TRACE(name);
        const bool isBmp =
            name.find("BMP") != std::string::npos || name.find(".bmp") != std::string::npos;
        const auto read = [isBmp](const Bytes& b, RawPicture& p) {
            return isBmp ? Bmp(b, p) : Tga(b, p);
        };
        RawPicture full, p;
        ASSERT_TRUE(read(whole, full));
        const bool rle = isBmp ? whole[30] == 1 || whole[30] == 2 : whole[2] >= 9;
        const size_t rowBytes = (size_t{full.width} * full.bitsPerPixel + 7) / 8;
        const size_t lastPadding = isBmp ? (4 - rowBytes % 4) % 4 : 0;
        for (size_t length = 0; length < whole.size() - lastPadding; ++length) {
            const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length));
            if (!read(cut, p)) continue;
            ASSERT_TRUE(rle) << length;
            ASSERT_EQ(p.bgra.size(), full.bgra.size());
            int transparent = 0, differing = 0;
            for (size_t i = 0; i < p.bgra.size(); i += 4) {
                const bool cleared = LoadBgra(p, i) == 0;
                transparent += cleared;
                differing += !cleared && LoadBgra(p, i) != LoadBgra(full, i);
            }
            EXPECT_EQ(differing, 0) << length;
            EXPECT_EQ(p.hasAlpha, full.hasAlpha || transparent > 0) << length;
        }
        for (int round = 0; round < 2000; ++round) {
            Bytes b = whole;
            b[next() % 64 % b.size()] = static_cast<uint8_t>(next() >> 24);  // in the headers
            if (read(b, p)) {
                EXPECT_EQ(p.bgra.size(), size_t{p.width} * p.height * 4);
            }
        }
    }
}

namespace {

// WBMP: ImageMagick's file, a width that takes two bytes, and what is refused.
TEST(RawPicturesFiles, WbmpGivesItsPixelsAndRefusesWhatItCannotBe) {
    RawPicture p;
    const Bytes checker = ReadFixture("checker.wbmp");
    ASSERT_TRUE(decode::ReadWbmp(checker.data(), checker.size(), p));
    EXPECT_EQ(p.width, 37u);
    EXPECT_EQ(p.height, 11u);
    EXPECT_EQ(p.bitsPerPixel, 1);
    EXPECT_FALSE(p.hasAlpha);
    EXPECT_EQ(Mismatches(p, [](uint32_t x,
                               uint32_t y) { return Grey((x / 4 + y / 3) % 2 == 0 ? 255 : 0); }),
              0);

    // 200 x 2 (200 is 0x81 0x48): the first row black but its last pixel, the second white.
    Bytes wide = {0, 0, 0x81, 0x48, 2};
    for (int i = 0; i < 25; ++i) wide.push_back(i == 24 ? 0x01 : 0x00);
    wide.insert(wide.end(), 25, 0xFF);
    ASSERT_TRUE(decode::ReadWbmp(wide.data(), wide.size(), p));
    EXPECT_EQ(p.width, 200u);
    EXPECT_EQ(
        Mismatches(p, [](uint32_t x, uint32_t y) { return Grey(y == 1 || x == 199 ? 255 : 0); }),
        0);

    const auto refused = [&p](Bytes b) { return !decode::ReadWbmp(b.data(), b.size(), p); };
    EXPECT_TRUE(refused({1, 0, 8, 1, 0xFF}));                                // type 1
    EXPECT_TRUE(refused({0, 0x80, 0, 8, 1, 0xFF}));                          // extension headers
    EXPECT_TRUE(refused({0, 0, 0, 1}));                                      // no width
    EXPECT_TRUE(refused({0, 0, 9, 2, 0xFF, 0xFF, 0xFF}));                    // a row short
    EXPECT_TRUE(refused({0, 0, 0x80, 0x80, 0x80, 0x80, 0x80, 1, 1, 0xFF}));  // 6-byte width
    EXPECT_TRUE(refused({0, 0, 0x82, 0xEA, 0x31, 1, 0xFF}));                 // 30001 wide
    EXPECT_FALSE(refused(checker));
}

}  // namespace

namespace {

// Puts the rows a reader hands on back together, checking that they come in order, each once.
class CollectingSink : public decode::RowSink {
public:
    bool Begin(uint32_t width, uint32_t height, bool alpha) override {
        EXPECT_FALSE(begun_) << "Begin twice";
        begun_ = true;
        width_ = width;
        alpha_ = alpha;
        rows_.assign(size_t{width} * 4 * height, 0);
        return true;
    }
    void Row(uint32_t y, const uint8_t* bgra) override {
        EXPECT_TRUE(seen_.insert(y).second) << "row " << y << " twice";
        if (last_ >= 0) {
            EXPECT_EQ(std::abs(static_cast<int64_t>(y) - last_), 1) << "row " << y;
        }
        last_ = y;
        std::memcpy(rows_.data() + size_t{y} * width_ * 4, bgra, size_t{width_} * 4);
    }
    bool alpha_ = false;
    bool begun_ = false;
    uint32_t width_ = 0;
    int64_t last_ = -1;
    std::set<uint32_t> seen_;
    Bytes rows_;
};

}  // namespace

// A reader that streams its rows gives the sink exactly the picture it would hold: every row
// once, in order, the same pixels (alpha too, unless the reader finds it means nothing and
// shows the picture opaque), the same facts; whole and cut short.
TEST(RawPicturesSink, EveryStreamedPictureIsThePictureHeld) {
    using Reader = bool (*)(const uint8_t*, size_t, RawPicture&);
    const std::vector<std::pair<std::string, Reader>> kinds = {
        {".bmp", ReadBmp},          {".tga", ReadTga},         {".png", decode::ReadPng},
        {".tif", decode::ReadTiff}, {".gif", decode::ReadGif}, {".wbmp", decode::ReadWbmp}};
    int streamed = 0, cutStreamed = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(FixtureFolder())) {
        const std::string name = entry.path().filename().string();
        for (const auto& [extension, read] : kinds) {
            if (!name.ends_with(extension)) continue;
            const Bytes file = ReadFixture(
                std::filesystem::relative(entry.path(), FixtureFolder()).generic_string());
            for (const size_t size : {file.size(), file.size() * 2 / 3}) {
                SCOPED_TRACE(name + " of " + std::to_string(size) + " bytes");
                RawPicture held;
                const bool readable = read(file.data(), size, held);
                CollectingSink sink;
                RawPicture passed;
                passed.sink = &sink;
                ASSERT_EQ(read(file.data(), size, passed), readable);
                if (!readable) continue;
                EXPECT_EQ(passed.width, held.width);
                EXPECT_EQ(passed.height, held.height);
                EXPECT_EQ(passed.bitsPerPixel, held.bitsPerPixel);
                EXPECT_EQ(passed.hasAlpha, held.hasAlpha);
                if (!passed.streamed) {
                    EXPECT_EQ(passed.bgra, held.bgra);
                    continue;
                }
                ++(size == file.size() ? streamed : cutStreamed);
                EXPECT_EQ(sink.seen_.size(), held.height);
                EXPECT_TRUE(sink.alpha_ || !held.hasAlpha);
                int differing = 0;
                for (size_t i = 0; i < held.bgra.size(); ++i) {
                    if ((i % 4 != 3 || held.hasAlpha) && sink.rows_[i] != held.bgra[i]) ++differing;
                }
                EXPECT_EQ(differing, 0);
            }
        }
    }
    // Every format that streams is among the fixtures, and some are read cut short.
    EXPECT_GE(streamed, 40);
    EXPECT_GE(cutStreamed, 10);
}
