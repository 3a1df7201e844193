// The BMP and TGA readers: files another program wrote, variants written here, every refusal,
// and damaged or cut-short files.
#include "decode/RawPictures.h"
#include "decode/Fixtures.h"

#include <gtest/gtest.h>

#include <climits>

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
    uint32_t paletteEntries = 0;  // written, and given as colours used
    bool dropLastPadding = false;
};

// Pixel (x, y) from the top: tile colours, and for 8 bits the index (x + y) % entries; the
// palette entry i is (i * 40, 255 - i * 40, i * 7).
Bytes MakeBmp(const BmpLayout& s) {
    const uint32_t w = static_cast<uint32_t>(std::max(s.width, 0));
    const uint32_t h = static_cast<uint32_t>(s.height < 0 ? -s.height : s.height);
    const uint32_t rowBytes = w * s.bits / 8;
    const uint32_t stride = (rowBytes + 3) & ~3u;
    const uint32_t offset = 14 + s.headerSize + s.paletteEntries * 4;
    Writer out;
    out.U8('B'), out.U8('M'), out.U32(offset + stride * h), out.U32(0), out.U32(offset);
    out.U32(s.headerSize), out.U32(static_cast<uint32_t>(s.width));
    out.U32(static_cast<uint32_t>(s.height)), out.U16(s.planes), out.U16(s.bits);
    out.U32(s.compression), out.U32(stride * h), out.U32(2835), out.U32(2835);
    out.U32(s.paletteEntries), out.U32(0);
    out.bytes.resize(14 + s.headerSize, 0);
    for (uint32_t i = 0; i < s.paletteEntries; ++i) {
        out.U8(i * 7), out.U8(255 - i * 40), out.U8(i * 40), out.U8(0x5A);  // B, G, R, junk
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

struct TgaLayout {
    uint8_t type = 2;
    uint8_t depth = 24;
    uint8_t descriptor = 0;  // bit 5: top-down, bit 4: right to left, bits 0-3: alpha bits
    uint16_t width = 5;
    uint16_t height = 3;
    uint8_t idLength = 0;
    uint8_t mapType = 0;
    uint16_t mapLength = 0;
};

// Pixel (x, y) as shown: tile colours with alpha 10 * x + y, or grey 20 * x + y.
Bytes MakeTga(const TgaLayout& s) {
    Writer out;
    out.U8(s.idLength), out.U8(s.mapType), out.U8(s.type), out.U16(0), out.U16(s.mapLength);
    out.U8(s.mapType ? 24 : 0), out.U16(0), out.U16(0), out.U16(s.width), out.U16(s.height);
    out.U8(s.depth), out.U8(s.descriptor);
    for (int i = 0; i < s.idLength; ++i) out.U8('i');
    for (int i = 0; i < s.mapLength * 3; ++i) out.U8(0xEE);
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

    EXPECT_FALSE(Bmp(ReadFixture("blocks-4.bmp"), p));  // 4-bit palette: left to WIC
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
    // Later headers (V5: 124 bytes), and the last row's padding left out.
    BmpLayout v5;
    v5.headerSize = 124;
    v5.dropLastPadding = true;
    ASSERT_TRUE(Bmp(MakeBmp(v5), p));
    EXPECT_EQ(Mismatches(p, tiles), 0);

    // Palettes: a short table, with indices past it shown black.
    BmpLayout indexed;
    indexed.bits = 8;
    indexed.width = 7;
    indexed.paletteEntries = 4;
    ASSERT_TRUE(Bmp(MakeBmp(indexed), p));
    EXPECT_EQ(p.bitsPerPixel, 8);
    EXPECT_EQ(Mismatches(p,
                         [](uint32_t x, uint32_t y) {
                             const uint32_t i = (x + y) % 5;
                             if (i == 4) return Bgra{0, 0, 0, 255};
                             return Bgra{static_cast<uint8_t>(i * 7),
                                         static_cast<uint8_t>(255 - i * 40),
                                         static_cast<uint8_t>(i * 40), 255};
                         }),
              0);
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

    TgaLayout grey;
    grey.type = 3;
    grey.depth = 8;
    grey.descriptor = 0x20;
    ASSERT_TRUE(Tga(MakeTga(grey), p));
    EXPECT_EQ(p.bitsPerPixel, 8);
    EXPECT_EQ(Mismatches(p,
                         [](uint32_t x, uint32_t y) {
                             const auto g = static_cast<uint8_t>(20 * x + y);
                             return Bgra{g, g, g, 255};
                         }),
              0);
}

TEST(RawPicturesRefusals, KindsLeftToWicAndBrokenHeaders) {
    RawPicture p;
    const auto bmp = [](auto change) {
        BmpLayout s;
        change(s);
        return MakeBmp(s);
    };
    struct Case {
        const char* what;
        Bytes bytes;
    };
    const Case bmpCases[] = {
        {"RLE8", bmp([](BmpLayout& s) { s.bits = 8, s.paletteEntries = 4, s.compression = 1; })},
        {"bit fields", bmp([](BmpLayout& s) { s.bits = 32, s.compression = 3; })},
        {"16 bits", bmp([](BmpLayout& s) { s.bits = 16; })},
        {"4 bits", bmp([](BmpLayout& s) { s.bits = 4; })},
        {"1 bit", bmp([](BmpLayout& s) { s.bits = 1; })},
        {"OS/2 header", bmp([](BmpLayout& s) { s.headerSize = 12; })},
        {"two planes", bmp([](BmpLayout& s) { s.planes = 2; })},
        {"no width", bmp([](BmpLayout& s) { s.width = 0; })},
        {"negative width", bmp([](BmpLayout& s) { s.width = -5; })},
        {"no height", bmp([](BmpLayout& s) { s.height = 0; })},
        {"palette over 256", bmp([](BmpLayout& s) { s.bits = 8, s.paletteEntries = 257; })},
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
        {"colour-mapped", tga([](TgaLayout& s) { s.type = 1, s.depth = 8, s.mapType = 1; })},
        {"RLE true colour", tga([](TgaLayout& s) { s.type = 10; })},
        {"RLE grey", tga([](TgaLayout& s) { s.type = 11, s.depth = 8; })},
        {"16 bits", tga([](TgaLayout& s) { s.depth = 16; })},
        {"grey with alpha", tga([](TgaLayout& s) { s.type = 3, s.depth = 16; })},
        {"24 bits with alpha bits", tga([](TgaLayout& s) { s.descriptor = 8; })},
        {"interleaved rows", tga([](TgaLayout& s) { s.descriptor = 0x40; })},
        {"no width", tga([](TgaLayout& s) { s.width = 0; })},
        {"wider than 30000", tga([](TgaLayout& s) { s.width = 30001, s.height = 1; })},
        {"unknown map type", tga([](TgaLayout& s) { s.mapType = 2; })},
        {"short header", Bytes(17, 0)},
    };
    for (const Case& c : tgaCases) EXPECT_FALSE(Tga(c.bytes, p)) << c.what;
    EXPECT_TRUE(Tga(MakeTga(TgaLayout{}), p)) << "the plain file the cases start from";
    EXPECT_TRUE(Bmp(MakeBmp(BmpLayout{}), p)) << "the plain file the cases start from";
}

TEST(RawPicturesDamage, TruncatedAndCorruptedFilesAreRefusedOrRead) {
    std::vector<std::pair<std::string, Bytes>> files;
    for (const char* name : {"blocks-24.bmp", "gradient-8.bmp", "blocks-24.tga", "blocks-32.tga",
                             "gradient-grey.tga"}) {
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
        RawPicture p;
        ASSERT_TRUE(read(whole, p));
        // The last row's padding may be missing; any other cut is refused.
        const size_t lastPadding = isBmp ? (4 - p.width * (p.bitsPerPixel / 8) % 4) % 4 : 0;
        for (size_t length = 0; length < whole.size() - lastPadding; ++length) {
            const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length));
            EXPECT_FALSE(read(cut, p)) << length;
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
