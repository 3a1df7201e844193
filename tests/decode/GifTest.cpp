// The GIF reader: files ImageMagick and gifsicle wrote, LZW streams written here (every code
// size, clear codes, a full table, strings across rows), the screen and the frame, colour
// tables and transparency, refusals, and truncated or damaged files.
#include "decode/Gif.h"
#include "decode/Fixtures.h"

#include <gtest/gtest.h>

#include <unordered_map>

using namespace decode_tests;
using decode::RawPicture;
using decode::ReadGif;

namespace {

bool Gif(const Bytes& b, RawPicture& p) {
    return ReadGif(b.data(), b.size(), p);
}

// The fixtures' own pictures (scripts/fixtures/gif.sh draws them the same way).
Bgra CheckerAt(uint32_t x, uint32_t y) {
    return Grey((x / 8 + y / 8) % 2 ? 255 : 0);
}
uint32_t NoiseIndexAt(uint32_t x, uint32_t y) {
    uint32_t h = (x + 1) * 0x9E3779B1u ^ (y + 1) * 0x85EBCA77u;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    return h >> 24;
}
Bgra NoiseAt(uint32_t x, uint32_t y) {
    const uint32_t i = NoiseIndexAt(x, y);
    return {static_cast<uint8_t>(255 - i), static_cast<uint8_t>(7 * i % 256),
            static_cast<uint8_t>(i), 255};
}

constexpr Bgra kClear = {0, 0, 0, 0};

bool Same(Bgra a, Bgra b) {
    return a.b == b.b && a.g == b.g && a.r == b.r && a.a == b.a;
}

// --- Files written here ---------------------------------------------------------------------

// Colour i of the tables written here: every one different.
Bgra ColourOf(uint32_t i) {
    return {static_cast<uint8_t>(255 - i), static_cast<uint8_t>((i * 53 + 17) % 256),
            static_cast<uint8_t>(i), 255};
}

// Index of frame pixel (x, y) before it is taken modulo the code size's range: runs of one
// index (which make LZW define codes from themselves) between indices that change.
uint32_t IndexAt(uint32_t x, uint32_t y) {
    if ((x / 5 + y) % 3 == 0) return 1;
    return (x * 7 + y * 13 + x * y) % 256;
}

struct LzwOptions {
    bool initialClear = true;
    bool clearWhenFull = true;  // otherwise the table stays full (a deferred clear)
    uint32_t clearEvery = 0;    // a clear code after this many codes as well; 0: never
    bool endCode = true;
};

class BitWriter {
public:
    Bytes bytes;
    void Put(uint32_t code, uint32_t width) {
        buffer_ |= uint64_t{code} << bits_;
        for (bits_ += width; bits_ >= 8; bits_ -= 8, buffer_ >>= 8) {
            bytes.push_back(static_cast<uint8_t>(buffer_));
        }
    }
    Bytes Finish() {
        if (bits_ > 0) bytes.push_back(static_cast<uint8_t>(buffer_));
        bits_ = 0;
        buffer_ = 0;
        return bytes;
    }

private:
    uint64_t buffer_ = 0;
    uint32_t bits_ = 0;
};

// Codes as given, each as wide as a decoder expects it: one bit wider than the code size after
// a clear, a bit more each time the next free entry reaches the next power of two.
Bytes CodesOf(const std::vector<uint32_t>& codes, uint32_t minCodeSize) {
    const uint32_t clear = 1u << minCodeSize;
    uint32_t width = minCodeSize + 1, next = clear + 2;
    bool first = true;
    BitWriter out;
    for (uint32_t code : codes) {
        out.Put(code, width);
        if (code == clear) {
            width = minCodeSize + 1, next = clear + 2, first = true;
            continue;
        }
        if (!first && next < 4096) ++next;
        first = false;
        if (next >= 1u << width && width < 12) ++width;
    }
    return out.Finish();
}

// A GIF encoder's LZW: codes widen once the table holds the entry the next code may need.
Bytes LzwEncode(const Bytes& indices, uint32_t minCodeSize, const LzwOptions& o = {}) {
    const uint32_t clear = 1u << minCodeSize;
    const uint32_t end = clear + 1;
    uint32_t width = minCodeSize + 1;
    uint32_t next = end + 1;
    std::unordered_map<uint32_t, uint32_t> table;  // (prefix code << 8 | index) -> code
    BitWriter out;
    const auto reset = [&] {
        out.Put(clear, width);
        table.clear();
        width = minCodeSize + 1;
        next = end + 1;
    };
    // Each code written defines an entry (which the decoder defines with the code after it).
    const auto define = [&] {
        if (next < 4096) ++next;
        if (next > 1u << width && width < 12) ++width;
    };
    if (o.initialClear) out.Put(clear, width);
    int64_t current = -1;
    uint32_t codes = 0;
    for (uint8_t index : indices) {
        if (current < 0) {
            current = index;
            continue;
        }
        const uint32_t key = static_cast<uint32_t>(current) << 8 | index;
        const auto found = table.find(key);
        if (found != table.end()) {
            current = found->second;
            continue;
        }
        out.Put(static_cast<uint32_t>(current), width);
        if (next < 4096) table[key] = next;
        define();
        if ((next == 4096 && o.clearWhenFull) || (o.clearEvery && ++codes % o.clearEvery == 0)) {
            reset();
        }
        current = index;
    }
    if (current >= 0) {
        out.Put(static_cast<uint32_t>(current), width);
        define();
    }
    if (o.endCode) out.Put(end, width);
    return out.Finish();
}

// The data in sub-blocks of `blockSize` bytes (the last may be shorter), then the terminator.
Bytes SubBlocks(const Bytes& data, size_t blockSize = 255) {
    Bytes out;
    for (size_t at = 0; at < data.size(); at += blockSize) {
        const size_t n = std::min(blockSize, data.size() - at);
        out.push_back(static_cast<uint8_t>(n));
        out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(at),
                   data.begin() + static_cast<std::ptrdiff_t>(at + n));
    }
    out.push_back(0);
    return out;
}

struct GifLayout {
    uint32_t screenWidth = 7, screenHeight = 5;
    uint32_t globalEntries = 8;  // 0: no global table
    uint32_t localEntries = 0;   // 0: no local table; its colours are ColourOf(255 - i)
    uint32_t left = 0, top = 0, width = 7, height = 5;
    bool interlaced = false;
    int transparent = -1;  // the index a Graphic Control Extension makes transparent
    Bytes beforeImage;     // blocks after the screen's table, before `transparent`'s extension
    uint32_t minCodeSize = 3;
    Bytes indices;  // top-down, row by row; empty: IndexAt modulo 2^minCodeSize
    LzwOptions lzw;
    size_t blockSize = 255;
    bool trailer = true;
};

uint32_t TableBits(uint32_t entries) {
    uint32_t bits = 0;
    while ((2u << bits) < entries) ++bits;
    return bits;  // the table holds 2^(bits + 1) entries
}

void PutTable(Writer& w, uint32_t entries, bool local) {
    for (uint32_t i = 0; i < (2u << TableBits(entries)); ++i) {
        const Bgra c = ColourOf(local ? 255 - i : i);
        w.U8(c.r), w.U8(c.g), w.U8(c.b);
    }
}

// The layout with its frame's indices filled in.
GifLayout Filled(GifLayout s) {
    if (!s.indices.empty()) return s;
    for (uint32_t y = 0; y < s.height; ++y) {
        for (uint32_t x = 0; x < s.width; ++x) {
            s.indices.push_back(static_cast<uint8_t>(IndexAt(x, y) % (1u << s.minCodeSize)));
        }
    }
    return s;
}

// The rows in the order the file stores them.
Bytes StoredOrder(const Bytes& indices, uint32_t width, uint32_t height, bool interlaced) {
    if (!interlaced) return indices;
    Bytes out;
    const uint32_t start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass) {
        for (uint32_t y = start[pass]; y < height; y += step[pass]) {
            out.insert(out.end(), indices.begin() + static_cast<std::ptrdiff_t>(y * width),
                       indices.begin() + static_cast<std::ptrdiff_t>((y + 1) * width));
        }
    }
    return out;
}

// A Graphic Control Extension: a delay of 10, and `transparent` (when not negative).
Bytes GraphicControl(int transparent) {
    const auto flags = static_cast<uint8_t>(transparent >= 0 ? 1 : 0);
    const auto index = static_cast<uint8_t>(transparent >= 0 ? transparent : 0);
    return {0x21, 0xF9, 4, flags, 10, 0, index, 0};
}

// Everything up to the image data (the minimum code size included).
Bytes HeadOf(const GifLayout& s) {
    Writer w;
    for (char ch : std::string("GIF89a")) w.U8(static_cast<uint8_t>(ch));
    w.U16(s.screenWidth), w.U16(s.screenHeight);
    w.U8(s.globalEntries ? 0x80 | 0x70 | TableBits(s.globalEntries) : 0x70);
    w.U8(0), w.U8(0);
    if (s.globalEntries) PutTable(w, s.globalEntries, false);
    w.Append(s.beforeImage);
    if (s.transparent >= 0) w.Append(GraphicControl(s.transparent));
    w.U8(0x2C);
    w.U16(s.left), w.U16(s.top), w.U16(s.width), w.U16(s.height);
    w.U8((s.localEntries ? 0x80 | TableBits(s.localEntries) : 0) | (s.interlaced ? 0x40 : 0));
    if (s.localEntries) PutTable(w, s.localEntries, true);
    w.U8(s.minCodeSize);
    return w.bytes;
}

Bytes MakeGif(const GifLayout& s) {
    Bytes file = HeadOf(s);
    const Bytes stored = StoredOrder(Filled(s).indices, s.width, s.height, s.interlaced);
    const Bytes blocks = SubBlocks(LzwEncode(stored, s.minCodeSize, s.lzw), s.blockSize);
    file.insert(file.end(), blocks.begin(), blocks.end());
    if (s.trailer) file.push_back(0x3B);
    return file;
}

// The screen pixel (x, y) a filled layout should give: its frame's colour, transparent outside
// it.
Bgra Expected(const GifLayout& s, uint32_t x, uint32_t y) {
    if (x < s.left || y < s.top || x - s.left >= s.width || y - s.top >= s.height) return kClear;
    const uint32_t index = s.indices[(y - s.top) * s.width + (x - s.left)];
    if (static_cast<int>(index) == s.transparent) return kClear;
    const uint32_t entries = s.localEntries ? s.localEntries : s.globalEntries;
    if (entries == 0) {
        return Grey(static_cast<int>(index * 255 / ((1u << s.minCodeSize) - 1)));
    }
    if (index >= (2u << TableBits(entries))) return {0, 0, 0, 255};
    return ColourOf(s.localEntries ? 255 - index : index);
}

int MismatchesOf(const RawPicture& p, const GifLayout& s) {
    const GifLayout filled = Filled(s);
    return Mismatches(p, [&filled](uint32_t x, uint32_t y) { return Expected(filled, x, y); });
}

// Checks that the layout's file reads as the layout says.
void ExpectReads(const GifLayout& s, bool alpha, const std::string& what) {
    SCOPED_TRACE(what);
    RawPicture p;
    ASSERT_TRUE(Gif(MakeGif(s), p));
    EXPECT_EQ(p.width, s.screenWidth ? s.screenWidth : s.left + s.width);
    EXPECT_EQ(p.height, s.screenHeight ? s.screenHeight : s.top + s.height);
    EXPECT_EQ(p.bitsPerPixel, 8);
    EXPECT_EQ(p.hasAlpha, alpha);
    ASSERT_EQ(p.bgra.size(), size_t{p.width} * p.height * 4);
    EXPECT_EQ(MismatchesOf(p, s), 0);
}

// The blocks as a frame at (left, top), transparent around.
std::function<Bgra(uint32_t, uint32_t)> OffsetBlocks(uint32_t left, uint32_t top) {
    return [left, top](uint32_t x, uint32_t y) {
        if (x < left || y < top || x - left >= 64 || y - top >= 48) return kClear;
        return Tile(x - left, y - top);
    };
}

// The fixtures (scripts/fixtures/gif.sh), their size, whether they have alpha, their pixels.
const struct {
    const char* name;
    uint32_t width, height;
    bool alpha;
    std::function<Bgra(uint32_t, uint32_t)> expected;
} kFiles[] = {
    {"gif/blocks.gif", 64, 48, false, [](uint32_t x, uint32_t y) { return Tile(x, y); }},
    {"gif/blocks-local.gif", 64, 48, false, [](uint32_t x, uint32_t y) { return Tile(x, y); }},
    {"gif/blocks-transparent.gif", 64, 48, true,
     [](uint32_t x, uint32_t y) {
         const Rgb c = TileAt(x, y);
         return c.r == 30 && c.g == 30 && c.b == 30 ? kClear : Tile(x, y);
     }},
    {"gif/gradient-interlaced.gif", 100, 75, false,
     [](uint32_t x, uint32_t y) { return Grey(GradientAt(x, y, 100, 75)); }},
    {"gif/checker-2.gif", 64, 48, false, CheckerAt},
    {"gif/noise-256.gif", 128, 96, false, NoiseAt},
    // The blocks, then an offset part of the gradient, a comment and looping before them.
    {"gif/animated.gif", 64, 48, false, [](uint32_t x, uint32_t y) { return Tile(x, y); }},
    // gifsicle's frame at (10, 6) on an 80x60 screen, and at (40, 30), partly off it.
    {"gif/blocks-offset.gif", 80, 60, true, OffsetBlocks(10, 6)},
    {"gif/blocks-outside.gif", 80, 60, true, OffsetBlocks(40, 30)},
};

}  // namespace

TEST(GifFiles, ImageMagickAndGifsicleFilesGiveTheirFirstFrame) {
    RawPicture p;  // reused, as callers do
    for (const auto& file : kFiles) {
        SCOPED_TRACE(file.name);
        ASSERT_TRUE(Gif(ReadFixture(file.name), p));
        EXPECT_EQ(p.width, file.width);
        EXPECT_EQ(p.height, file.height);
        EXPECT_EQ(p.bitsPerPixel, 8);
        EXPECT_EQ(p.hasAlpha, file.alpha);
        ASSERT_EQ(p.bgra.size(), size_t{p.width} * p.height * 4);
        EXPECT_EQ(Mismatches(p, file.expected), 0);
    }
}

TEST(GifLzw, EveryCodeSizeWidthAndInterlacing) {
    for (uint32_t minCodeSize = 1; minCodeSize <= 8; ++minCodeSize) {
        // One column (every string runs across rows), a few, and rows longer than a string.
        for (uint32_t width : {1u, 3u, 8u, 61u}) {
            for (bool interlaced : {false, true}) {
                GifLayout s;
                s.minCodeSize = minCodeSize;
                s.globalEntries = 1u << minCodeSize;
                s.screenWidth = s.width = width;
                s.screenHeight = s.height = 37;  // every interlacing pass, the last ones short
                s.interlaced = interlaced;
                ExpectReads(s, false,
                            "code size " + std::to_string(minCodeSize) + ", width " +
                                std::to_string(width) + (interlaced ? ", interlaced" : ""));
            }
        }
    }
}

TEST(GifLzw, ClearCodesFullTablesAndBlockLayouts) {
    // 256 colours of noise: the table fills many times over, the codes at 12 bits.
    GifLayout noise;
    noise.minCodeSize = 8;
    noise.globalEntries = 256;
    noise.screenWidth = noise.width = 160;
    noise.screenHeight = noise.height = 120;
    for (uint32_t y = 0; y < noise.height; ++y) {
        for (uint32_t x = 0; x < noise.width; ++x) {
            noise.indices.push_back(static_cast<uint8_t>(NoiseIndexAt(x, y)));
        }
    }
    ExpectReads(noise, false, "a clear code whenever the table is full");
    GifLayout deferred = noise;
    deferred.lzw.clearWhenFull = false;
    ExpectReads(deferred, false, "a full table kept to the end (deferred clear)");
    deferred.lzw.clearEvery = 5000;
    ExpectReads(deferred, false, "a full table kept for a while, then cleared");
    // A long run of one index: strings as long as LZW makes them, across many rows.
    GifLayout run = deferred;
    run.indices.assign(run.indices.size(), 7);
    ExpectReads(run, false, "one index throughout");

    // The table's last entry, 4095, used once the table is full: code size 2, indices 0 and 1
    // by turns define entry 6 + j as (j % 2, (j + 1) % 2), entry 4095 (1, 0) with the 4091st
    // index. Then 4095 and 4094, with no more entries defined.
    {
        GifLayout full;
        full.minCodeSize = 2;
        full.globalEntries = 4;
        full.width = full.screenWidth = 4095;
        full.height = full.screenHeight = 1;
        std::vector<uint32_t> codes = {4};
        for (uint32_t i = 0; i < 4091; ++i) {
            codes.push_back(i % 2);
            full.indices.push_back(static_cast<uint8_t>(i % 2));
        }
        codes.insert(codes.end(), {4095, 4094});
        full.indices.insert(full.indices.end(), {1, 0, 0, 1});
        Bytes file = HeadOf(full);
        const Bytes data = SubBlocks(CodesOf(codes, 2));
        file.insert(file.end(), data.begin(), data.end());
        RawPicture p;
        ASSERT_TRUE(Gif(file, p));
        EXPECT_FALSE(p.hasAlpha);
        EXPECT_EQ(MismatchesOf(p, full), 0);
    }

    GifLayout s;
    s.width = s.screenWidth = 23;
    s.height = s.screenHeight = 11;
    s.lzw.initialClear = false;
    ExpectReads(s, false, "no clear code first");
    s.lzw = {};
    s.lzw.clearEvery = 3;
    ExpectReads(s, false, "a clear code every 3 codes");
    s.lzw = {};
    s.lzw.endCode = false;
    ExpectReads(s, false, "no end code: the frame is complete first");
    s.lzw = {};
    s.blockSize = 1;
    ExpectReads(s, false, "sub-blocks of one byte");
    s.blockSize = 255;
    s.trailer = false;
    ExpectReads(s, false, "no trailer");

    // A code that uses the entry it defines, and codes after the frame is complete.
    Bytes file = HeadOf(s);
    // Clear (8), then 0, and 10: the entry being defined, (0, 0). Then only index 1, past the
    // frame's end.
    std::vector<uint32_t> codes = {8, 0, 10};
    codes.insert(codes.end(), 400, 1);
    const Bytes data = SubBlocks(CodesOf(codes, 3));
    file.insert(file.end(), data.begin(), data.end());
    GifLayout expected = s;
    expected.indices.assign(size_t{s.width} * s.height, 1);
    expected.indices[0] = expected.indices[1] = expected.indices[2] = 0;
    RawPicture p;
    ASSERT_TRUE(Gif(file, p));
    EXPECT_FALSE(p.hasAlpha);
    EXPECT_EQ(MismatchesOf(p, expected), 0);
}

TEST(GifScreen, FramesClippedOffsetOrLargerAndZeroScreens) {
    GifLayout s;
    s.width = 9;
    s.height = 7;
    for (bool interlaced : {false, true}) {
        s.interlaced = interlaced;
        const std::string how = interlaced ? ", interlaced" : "";
        s.screenWidth = 20, s.screenHeight = 15, s.left = 4, s.top = 3;
        ExpectReads(s, true, "inside a larger screen" + how);
        s.left = 15, s.top = 12;
        ExpectReads(s, true, "partly off the screen's right and bottom" + how);
        s.screenWidth = 5, s.screenHeight = 4, s.left = 0, s.top = 0;
        ExpectReads(s, false, "larger than the screen" + how);
        s.screenWidth = 9, s.screenHeight = 3;
        ExpectReads(s, false, "taller than the screen" + how);
        s.screenWidth = 4, s.screenHeight = 7;
        ExpectReads(s, false, "wider than the screen" + how);
        s.screenWidth = 20, s.screenHeight = 15, s.left = 20, s.top = 0;
        ExpectReads(s, true, "wholly right of the screen" + how);
        s.left = 0, s.top = 15;
        ExpectReads(s, true, "wholly below the screen" + how);
        s.left = 300, s.top = 400;
        ExpectReads(s, true, "far off the screen" + how);
        s.screenWidth = 0, s.screenHeight = 0, s.left = 3, s.top = 2;
        ExpectReads(s, true, "a screen of 0 x 0: to the frame's right and bottom edges" + how);
        s.screenWidth = 0, s.screenHeight = 6;
        ExpectReads(s, true, "a screen 0 wide" + how);
        s.left = 0, s.top = 0;
        ExpectReads(s, false, "a screen of 0 x 0, the frame at (0, 0)" + how);
        s.screenWidth = 9, s.screenHeight = 7;
    }
    // Rows below the screen are not decoded: data that ends after the last row on the screen
    // leaves nothing missing.
    GifLayout tall;
    tall.screenWidth = tall.width = 9;
    tall.screenHeight = 3;
    tall.height = 1000;
    tall = Filled(tall);
    Bytes onScreen = HeadOf(tall);
    const Bytes rows =
        SubBlocks(LzwEncode(Bytes(tall.indices.begin(), tall.indices.begin() + 27), 3));
    onScreen.insert(onScreen.end(), rows.begin(), rows.end());
    RawPicture tallPicture;
    ASSERT_TRUE(Gif(onScreen, tallPicture));
    EXPECT_FALSE(tallPicture.hasAlpha);
    EXPECT_EQ(MismatchesOf(tallPicture, tall), 0);

    // gifsicle's offset frame, its screen written as 0 x 0.
    Bytes file = ReadFixture("gif/blocks-offset.gif");
    ASSERT_GT(file.size(), 10u);
    std::fill(file.begin() + 6, file.begin() + 10, uint8_t{0});
    RawPicture p;
    ASSERT_TRUE(Gif(file, p));
    EXPECT_EQ(p.width, 74u);
    EXPECT_EQ(p.height, 54u);
    EXPECT_TRUE(p.hasAlpha);
    EXPECT_EQ(
        Mismatches(p, [](uint32_t x,
                         uint32_t y) { return x < 10 || y < 6 ? kClear : Tile(x - 10, y - 6); }),
        0);
}

TEST(GifColours, TablesTransparencyAndExtensions) {
    GifLayout s;
    s.width = s.screenWidth = 13;
    s.height = s.screenHeight = 6;
    ExpectReads(s, false, "a global table");
    s.localEntries = 8;
    ExpectReads(s, false, "a local table over the global one");
    s.globalEntries = 0;
    ExpectReads(s, false, "a local table only");
    s.localEntries = 0;
    // No table at all: a grey ramp over the indices the code size allows. (Never give such a
    // file to Wine's WIC: it crashes.)
    for (uint32_t minCodeSize : {1u, 2u, 3u, 8u}) {
        s.minCodeSize = minCodeSize;
        ExpectReads(s, false, "no colour table, code size " + std::to_string(minCodeSize));
    }
    s.minCodeSize = 3;
    s.globalEntries = 2;
    ExpectReads(s, false, "indices past a table of 2: black");
    s.globalEntries = 8;

    s.transparent = 1;
    ExpectReads(s, true, "a transparent index");
    s.transparent = 200;
    ExpectReads(s, true, "a transparent index no pixel uses");
    s.transparent = 2;
    s.globalEntries = 2;
    ExpectReads(s, true, "a transparent index past the table");
    s.globalEntries = 8;

    // Extensions before the image, skipped whole: comment, application (NETSCAPE looping) in
    // several sub-blocks, one of an unknown kind, and an empty one.
    const Bytes comment = {0x21, 0xFE, 3, 'a', 'b', 'c', 2, 'd', 'e', 0};
    const Bytes looping = {0x21, 0xFF, 11,  'N', 'E', 'T', 'S', 'C', 'A', 'P',
                           'E',  '2',  '.', '0', 3,   1,   0,   0,   0};
    const Bytes unknown = {0x21, 0x42, 1, 0x3B, 0};
    const Bytes empty = {0x21, 0xFE, 0};
    s.beforeImage = comment;
    s.beforeImage.insert(s.beforeImage.end(), looping.begin(), looping.end());
    s.beforeImage.insert(s.beforeImage.end(), unknown.begin(), unknown.end());
    s.beforeImage.insert(s.beforeImage.end(), empty.begin(), empty.end());
    s.transparent = -1;
    ExpectReads(s, false, "extensions before the image");
    s.transparent = 1;
    ExpectReads(s, true, "extensions, then a transparent index");

    // A Graphic Control Extension applies to the next graphic: a plain-text extension takes it.
    const Bytes plainText = {0x21, 0x01, 12, 0, 0, 0, 0, 8, 0, 8, 0, 8, 8, 1, 0, 2, 'h', 'i', 0};
    s.transparent = -1;
    s.beforeImage = GraphicControl(1);
    s.beforeImage.insert(s.beforeImage.end(), plainText.begin(), plainText.end());
    ExpectReads(s, false, "a transparent index for a plain-text extension");
    // Its flag off, the index is not transparent; a later one replaces an earlier one.
    s.beforeImage = {0x21, 0xF9, 4, 0, 0, 0, 1, 0};
    ExpectReads(s, false, "a Graphic Control Extension with no transparent index");
    s.beforeImage = GraphicControl(1);
    s.beforeImage.insert(s.beforeImage.end(), {0x21, 0xF9, 4, 0, 0, 0, 1, 0});
    ExpectReads(s, false, "a second Graphic Control Extension without one");
    // One that is too short to hold an index, skipped.
    s.beforeImage = {0x21, 0xF9, 2, 1, 0, 0};
    ExpectReads(s, false, "a Graphic Control Extension of 2 bytes");

    // A transparent index for the second frame only: the first stays opaque.
    s.beforeImage.clear();
    Bytes animated = MakeGif(s);
    animated.pop_back();  // the trailer
    GifLayout second = s;
    second.transparent = 1;
    const Bytes secondFile = MakeGif(second);
    // After 13 bytes of screen and 24 of its table: the second frame's extension and image.
    animated.insert(animated.end(), secondFile.begin() + 13 + 24, secondFile.end());
    RawPicture p;
    ASSERT_TRUE(Gif(animated, p));
    EXPECT_FALSE(p.hasAlpha);
    EXPECT_EQ(MismatchesOf(p, s), 0);
}

TEST(GifRefusals, OtherFilesBrokenStructureAndClaimsTooLarge) {
    struct Case {
        std::string what;
        Bytes bytes;
    };
    std::vector<Case> cases;
    GifLayout plain;
    const Bytes whole = MakeGif(plain);
    const auto edited = [&whole](size_t at, std::initializer_list<uint8_t> values) {
        Bytes b = whole;
        std::copy(values.begin(), values.end(), b.begin() + static_cast<std::ptrdiff_t>(at));
        return b;
    };
    cases.push_back({"GIF88a", edited(4, {'8'})});
    cases.push_back({"gif89a", edited(0, {'g'})});
    cases.push_back({"PNG", ReadFixture("blocks-rgb.png")});
    cases.push_back({"BMP", ReadFixture("blocks-24.bmp")});
    cases.push_back({"empty", {}});
    for (size_t length : {4u, 6u, 12u, 13u, 36u, 37u, 40u, 46u, 47u, 48u}) {
        cases.push_back(
            {"cut to " + std::to_string(length) + " bytes: no image data",
             Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length))});
    }
    const size_t image = 13 + 24;  // the image separator, after the screen and its table
    ASSERT_EQ(whole[image], 0x2C);
    cases.push_back({"the trailer before any image", edited(image, {0x3B})});
    cases.push_back({"an unknown block before the image", edited(image, {0x2A})});
    cases.push_back({"an extension never terminated", [&] {
                         Bytes b(whole.begin(), whole.begin() + image);
                         b.insert(b.end(), {0x21, 0xFE, 200, 'x'});
                         return b;
                     }()});
    const size_t codeSize = image + 10;
    ASSERT_EQ(whole[codeSize], 3);
    for (uint8_t bad : {0, 9, 12, 255}) {
        cases.push_back({"LZW code size " + std::to_string(bad), edited(codeSize, {bad})});
    }
    // Image data without a single pixel.
    const auto withData = [&whole, codeSize](const Bytes& data) {
        Bytes b(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(codeSize + 1));
        b.insert(b.end(), data.begin(), data.end());
        b.push_back(0x3B);
        return b;
    };
    cases.push_back({"no data sub-blocks", withData({0})});
    // (Codes the reader must not get to follow.)
    cases.push_back({"clear, then end", withData(SubBlocks(CodesOf({8, 9, 1, 2}, 3)))});
    cases.push_back(
        {"a code past the table first", withData(SubBlocks(CodesOf({8, 11, 1, 2}, 3)))});
    cases.push_back(
        {"the next free code before any string", withData(SubBlocks(CodesOf({8, 10, 1, 2}, 3)))});
    for (const Case& c : cases) {
        RawPicture p;
        EXPECT_FALSE(Gif(c.bytes, p)) << c.what;
    }

    // Screens too large, refused before anything is allocated.
    cases.clear();
    cases.push_back({"65535 x 65535", edited(6, {0xFF, 0xFF, 0xFF, 0xFF})});
    cases.push_back({"30001 wide", edited(6, {0x31, 0x75, 1, 0})});
    cases.push_back({"over 1 GiB of output", edited(6, {0x30, 0x75, 0x30, 0x75})});
    cases.push_back(
        {"16000 x 16000, more than the data could fill", edited(6, {0x80, 0x3E, 0x80, 0x3E})});
    GifLayout huge;
    huge.screenWidth = huge.screenHeight = 0;
    huge.left = huge.top = 65535;
    huge.width = huge.height = 1;
    cases.push_back({"a screen of 0 x 0 taking a frame's edges at 65536", MakeGif(huge)});

    for (const Case& c : cases) {
        RawPicture p;
        EXPECT_FALSE(Gif(c.bytes, p)) << c.what;
        EXPECT_EQ(p.bgra.capacity(), 0u) << c.what;
    }

    RawPicture p;
    EXPECT_TRUE(Gif(whole, p)) << "the plain file the cases start from";
    // A screen of 2^20 pixels with a 1x1 frame is allowed whatever the data's size.
    GifLayout small;
    small.screenWidth = 1024;
    small.screenHeight = 1024;
    small.width = small.height = 1;
    ExpectReads(small, true, "a 1x1 frame on a 1024 x 1024 screen");
}

TEST(GifDamage, TruncatedAndDamagedDataKeepWhatDecoded) {
    GifLayout s;
    s.minCodeSize = 8;
    s.globalEntries = 256;
    s.width = s.screenWidth = 40;
    s.height = s.screenHeight = 30;
    for (uint32_t y = 0; y < s.height; ++y) {
        for (uint32_t x = 0; x < s.width; ++x) {
            s.indices.push_back(static_cast<uint8_t>(NoiseIndexAt(x, y)));
        }
    }
    // What was decoded stays (top to bottom, the frame's first pixels), the rest of the frame
    // is transparent like the screen around it.
    RawPicture p;
    const auto expectPart = [&s, &p](const Bytes& file, size_t length) {
        ASSERT_TRUE(Gif(file, p)) << length;
        EXPECT_TRUE(p.hasAlpha) << length;
        ASSERT_EQ(p.width, s.screenWidth);
        ASSERT_EQ(p.height, s.screenHeight);
        int decoded = 0, wrong = 0;
        bool gap = false;
        for (uint32_t y = 0; y < p.height; ++y) {
            for (uint32_t x = 0; x < p.width; ++x) {
                const Bgra px = PixelAt(p, x, y);
                const Bgra expected = Expected(s, x, y);
                if (Same(px, kClear)) {
                    gap |= !Same(expected, kClear);
                } else {
                    ++decoded;
                    wrong += !Same(px, expected) || (gap && !s.interlaced);
                }
            }
        }
        EXPECT_GT(decoded, 0) << length;
        // (Offset, the frame's last rows are off the screen: cut there, nothing is missing.)
        EXPECT_TRUE(gap || s.top > 0) << length;
        EXPECT_EQ(wrong, 0) << length;
    };
    // On a screen of its size, and offset on a smaller screen, which clips it.
    for (const uint32_t offset : {0u, 3u}) {
        s.left = s.top = offset;
        s.screenWidth = s.width - 3 * offset;
        s.screenHeight = s.height - 2 * offset;
        for (bool interlaced : {false, true}) {
            SCOPED_TRACE((interlaced ? "interlaced, offset " : "offset ") + std::to_string(offset));
            s.interlaced = interlaced;
            const Bytes head = HeadOf(s);
            const Bytes data = LzwEncode(StoredOrder(s.indices, s.width, s.height, interlaced), 8);
            // The file cut anywhere in the image data, sub-block lengths included; the data cut
            // short but its sub-blocks closed, and the trailer after them. (Three bytes hold
            // the clear code and the first; the last five, the last codes.)
            const Bytes whole = MakeGif(s);
            for (size_t length = head.size() + 4; length + 5 < whole.size(); length += 7) {
                expectPart(
                    Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length)),
                    length);
            }
            for (size_t length = 3; length + 5 < data.size(); length += 7) {
                Bytes file = head;
                const Bytes blocks = SubBlocks(
                    Bytes(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(length)));
                file.insert(file.end(), blocks.begin(), blocks.end());
                file.push_back(0x3B);
                expectPart(file, length);
            }
            // The data cut at its first byte: not a pixel.
            EXPECT_FALSE(Gif(
                Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(head.size() + 1)),
                p));
        }
    }

    // A code past the next free entry, or an end code, ends the data: the pixels before it
    // stay, codes after it are not read.
    GifLayout small;
    // Clear (8), 1, 2 (defines 10), then 12: past 11, the next free entry; then 9, the end.
    for (uint32_t stop : {12u, 9u}) {
        SCOPED_TRACE(stop);
        Bytes file = HeadOf(small);
        const Bytes data = SubBlocks(CodesOf({8, 1, 2, stop, 3, 3, 3, 3, 3, 3}, 3));
        file.insert(file.end(), data.begin(), data.end());
        file.push_back(0x3B);
        ASSERT_TRUE(Gif(file, p));
        EXPECT_TRUE(p.hasAlpha);
        EXPECT_EQ(Mismatches(p,
                             [](uint32_t x, uint32_t y) {
                                 if (y > 0 || x > 1) return kClear;
                                 return ColourOf(x + 1);
                             }),
                  0);
    }
}
