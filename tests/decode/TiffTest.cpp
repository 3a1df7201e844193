// The TIFF reader: files other programs wrote, of every kind read, layouts written here (byte
// orders, field types, strips, compressions, extra samples, directory chains), the codecs'
// bounds, every refusal, and damaged or cut-short files.
#include "decode/Tiff.h"
#include "decode/Fixtures.h"
#include "decode/JpegScaled.h"
#include "decode/PixelRows.h"
#include "decode/TiffCodecs.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include <cstring>
#include <map>
#include <optional>

using namespace decode_tests;
using decode::RawPicture;
using decode::ReadTiff;

namespace {

bool Tiff(const Bytes& b, RawPicture& p) {
    return ReadTiff(b.data(), b.size(), p);
}

constexpr uint16_t kShort = 3;
constexpr uint16_t kLong = 4;
constexpr uint16_t kRational = 5;
constexpr uint16_t kUndefined = 7;

struct TiffLayout {
    bool bigEndian = false;
    uint32_t width = 7;
    uint32_t height = 5;
    uint32_t samples = 3;
    std::optional<uint32_t> photometric = 2;
    std::vector<uint32_t> bits = {8, 8, 8};  // empty: left out
    std::vector<uint32_t> extraSamples;      // empty: left out
    std::optional<uint32_t> compression = 1;
    std::function<Bytes(const Bytes&)> encode;  // each strip, where compressed
    bool differenced = false;                   // predictor 2
    std::optional<uint32_t> planar = 1;
    std::optional<uint32_t> rowsPerStrip = 2;
    uint16_t stripFieldType = kLong;  // of StripOffsets, StripByteCounts and RowsPerStrip
    bool stripsBackwards = false;     // the last strip stored first
    bool directoryFirst = false;      // the directory before the strips, not after them
    bool nextDirectoryIsItself = false;
    int32_t byteCountSlack = 0;  // added to each strip's byte count
    uint32_t missingStrips = 0;  // offsets and byte counts left out at the end
    uint32_t spareStrips = 0;    // offsets and byte counts (of nothing) added at the end
    std::map<uint16_t, std::vector<uint32_t>> moreShorts;  // other SHORT fields
    bool leaveOutStripOffsets = false;
    bool leaveOutByteCounts = false;
    Bytes jpegTables;  // JPEGTables, where not empty
};

// Pixel (x, y): tile colours with alpha 10x + 7y + 3 (premultiplied when the extra sample says
// associated), or grey 20x + y.
uint8_t AlphaAt(uint32_t x, uint32_t y) {
    return static_cast<uint8_t>(10 * x + 7 * y + 3);
}

uint8_t Premultiplied(int colour, uint8_t alpha) {
    return static_cast<uint8_t>((colour * alpha + 127) / 255);
}

// The extra sample that holds alpha (the first ExtraSamples calls associated or unassociated
// alpha), counted from the first extra sample; -1 for none.
int AlphaExtra(const TiffLayout& s) {
    const uint32_t colours = s.photometric == 1u ? 1 : 3;
    for (size_t i = 0; i < s.extraSamples.size() && colours + i < s.samples; ++i) {
        if (s.extraSamples[i] == 1 || s.extraSamples[i] == 2) return static_cast<int>(i);
    }
    return -1;
}

// Grey or RGB, then the extra samples: AlphaAt where the alpha is, 0x44 elsewhere.
Bytes PixelBytes(const TiffLayout& s, uint32_t x, uint32_t y) {
    const Rgb c = TileAt(x * 16, y * 16);
    Bytes bytes = {static_cast<uint8_t>(c.r), static_cast<uint8_t>(c.g), static_cast<uint8_t>(c.b)};
    if (s.photometric == 1u) bytes = {static_cast<uint8_t>(20 * x + y)};
    const uint8_t a = AlphaAt(x, y);
    const int alpha = AlphaExtra(s);
    if (alpha >= 0 && s.extraSamples[alpha] == 1) {
        for (uint8_t& v : bytes) v = Premultiplied(v, a);
    }
    const size_t colours = bytes.size();
    bytes.resize(std::max<size_t>(s.samples, colours), 0x44);
    if (alpha >= 0) bytes[colours + alpha] = a;
    return bytes;
}

struct Field {
    uint16_t type;
    std::vector<uint32_t> values;
};

Bytes MakeTiff(const TiffLayout& s) {
    const uint32_t rowsPerStrip =
        std::max(1u, std::min(s.rowsPerStrip.value_or(s.height), s.height));
    const uint32_t strips = (s.height + rowsPerStrip - 1) / rowsPerStrip;
    std::vector<Bytes> stripData(strips);
    for (uint32_t y = 0; y < s.height; ++y) {
        Bytes row;
        for (uint32_t x = 0; x < s.width; ++x) {
            const Bytes pixel = PixelBytes(s, x, y);
            row.insert(row.end(), pixel.begin(), pixel.end());
        }
        for (size_t i = row.size(); s.differenced && i-- > s.samples;) row[i] -= row[i - s.samples];
        stripData[y / rowsPerStrip].insert(stripData[y / rowsPerStrip].end(), row.begin(),
                                           row.end());
    }
    if (s.encode) {
        for (Bytes& strip : stripData) strip = s.encode(strip);
    }

    std::map<uint16_t, Field> fields;
    fields[256] = {kLong, {s.width}};
    fields[257] = {kShort, {s.height}};
    if (!s.bits.empty()) fields[258] = {kShort, s.bits};
    if (s.compression) fields[259] = {kShort, {*s.compression}};
    if (s.photometric) fields[262] = {kShort, {*s.photometric}};
    fields[277] = {kShort, {s.samples}};
    if (s.rowsPerStrip) fields[278] = {s.stripFieldType, {*s.rowsPerStrip}};
    if (s.planar) fields[284] = {kShort, {*s.planar}};
    if (!s.extraSamples.empty()) fields[338] = {kShort, s.extraSamples};
    if (s.differenced) fields[317] = {kShort, {2}};
    fields[282] = {kRational, {72, 1}};  // XResolution, 72/1: a type of field not read here
    for (const auto& [tag, values] : s.moreShorts) fields[tag] = {kShort, values};
    if (!s.jpegTables.empty()) {
        fields[347] = {kUndefined, std::vector<uint32_t>(s.jpegTables.begin(), s.jpegTables.end())};
    }
    const uint32_t listed = strips - s.missingStrips + s.spareStrips;
    if (!s.leaveOutStripOffsets) fields[273] = {s.stripFieldType, std::vector<uint32_t>(listed)};
    if (!s.leaveOutByteCounts) fields[279] = {s.stripFieldType, std::vector<uint32_t>(listed)};

    // Where everything goes: the header, then the directory and the values that do not fit in
    // their entries, and the strips, in either order.
    const auto sizeOf = [](const Field& f) {
        return f.values.size() * (f.type == kUndefined ? 1 : f.type == kShort ? 2 : 4);
    };
    size_t directoryBytes = 2 + 12 * fields.size() + 4;
    for (const auto& [tag, f] : fields) {
        if (sizeOf(f) > 4) directoryBytes += sizeOf(f);
    }
    size_t stripBytes = 0;
    for (const Bytes& strip : stripData) stripBytes += strip.size();
    const size_t directoryAt = s.directoryFirst ? 8 : 8 + stripBytes;
    size_t at = s.directoryFirst ? 8 + directoryBytes : 8;
    std::vector<uint32_t> offsets(strips);
    for (uint32_t i = 0; i < strips; ++i) {
        const uint32_t strip = s.stripsBackwards ? strips - 1 - i : i;
        offsets[strip] = static_cast<uint32_t>(at);
        at += stripData[strip].size();
    }
    for (uint32_t i = 0; i < std::min(listed, strips); ++i) {
        if (!s.leaveOutStripOffsets) fields[273].values[i] = offsets[i];
        if (!s.leaveOutByteCounts) {
            fields[279].values[i] =
                static_cast<uint32_t>(static_cast<int32_t>(stripData[i].size()) + s.byteCountSlack);
        }
    }

    Writer out(s.bigEndian);
    out.U8(s.bigEndian ? 'M' : 'I'), out.U8(s.bigEndian ? 'M' : 'I'), out.U16(42);
    out.U32(static_cast<uint32_t>(directoryAt));
    Writer directory(s.bigEndian);
    Writer values(s.bigEndian);
    const size_t valuesAt = directoryAt + 2 + 12 * fields.size() + 4;
    directory.U16(static_cast<uint32_t>(fields.size()));
    for (const auto& [tag, f] : fields) {
        directory.U16(tag), directory.U16(f.type);
        directory.U32(
            static_cast<uint32_t>(f.type == kRational ? f.values.size() / 2 : f.values.size()));
        Writer packed(s.bigEndian);
        for (uint32_t v : f.values) {
            if (f.type == kUndefined) {
                packed.U8(static_cast<uint8_t>(v));
            } else {
                f.type == kShort ? packed.U16(v) : packed.U32(v);
            }
        }
        if (packed.bytes.size() <= 4) {
            packed.bytes.resize(4, 0);
            directory.Append(packed.bytes);
        } else {
            directory.U32(static_cast<uint32_t>(valuesAt + values.bytes.size()));
            values.Append(packed.bytes);
        }
    }
    directory.U32(s.nextDirectoryIsItself ? static_cast<uint32_t>(directoryAt) : 0);
    directory.Append(values.bytes);
    if (s.directoryFirst) out.Append(directory.bytes);
    for (uint32_t i = 0; i < strips; ++i) {
        out.Append(stripData[s.stripsBackwards ? strips - 1 - i : i]);
    }
    if (!s.directoryFirst) out.Append(directory.bytes);
    return out.bytes;
}

Bgra ExpectedPixel(const TiffLayout& s, uint32_t x, uint32_t y) {
    const uint8_t a = AlphaExtra(s) >= 0 ? AlphaAt(x, y) : 255;
    return s.photometric == 1u ? Grey(20 * x + y, a) : Tile(x * 16, y * 16, a);
}

int MismatchesOf(const RawPicture& p, const TiffLayout& s) {
    return Mismatches(p, [&s](uint32_t x, uint32_t y) { return ExpectedPixel(s, x, y); });
}

// A straight colour read from premultiplied bytes: it must premultiply back to the bytes stored
// (so it is the nearest straight colour to them), and lie within what rounding allows of the
// colour the bytes were made from.
bool StraightColourFits(int read, int original, uint8_t alpha) {
    if (alpha == 0) return read == 0;
    if (Premultiplied(read, alpha) != Premultiplied(original, alpha)) return false;
    return std::abs(read - original) <= 255 / alpha / 2 + 1;
}

// LZW codes packed as a reader takes them: 9 bits wide after each clear code (256), one bit
// wider each time the table (one entry per code after the first) comes to a power of two, or
// one entry short of it where `msbFirst` (the early change).
Bytes PackCodes(const std::vector<uint32_t>& codes, bool msbFirst) {
    Bytes out;
    uint64_t bits = 0;
    uint32_t count = 0, width = 9, next = 258;
    bool first = true;
    for (uint32_t code : codes) {
        bits = msbFirst ? bits << width | code : bits | uint64_t{code} << count;
        for (count += width; count >= 8; count -= 8) {
            out.push_back(static_cast<uint8_t>(msbFirst ? bits >> (count - 8) : bits));
            if (!msbFirst) bits >>= 8;
        }
        if (code == 256) {
            width = 9, next = 258, first = true;
            continue;
        }
        if (!first && next < 4096) ++next;
        first = false;
        if (next + msbFirst >= (1u << width) && width < 12) ++width;
    }
    if (count > 0) out.push_back(static_cast<uint8_t>(msbFirst ? bits << (8 - count) : bits));
    return out;
}

// `data` as an LZW writer codes it: a clear code first and, where `clearWhenFull`, whenever the
// table fills (as writers do), else the table stays full.
Bytes Lzw(const Bytes& data, bool msbFirst = true, bool clearWhenFull = true) {
    std::vector<uint32_t> codes = {256};
    std::map<uint32_t, uint32_t> table;  // prefix code << 8 | byte: code
    int prefix = -1;
    for (uint8_t b : data) {
        const auto known = table.find(static_cast<uint32_t>(prefix) << 8 | b);
        if (prefix >= 0 && known != table.end()) {
            prefix = static_cast<int>(known->second);
            continue;
        }
        if (prefix >= 0) {
            codes.push_back(static_cast<uint32_t>(prefix));
            if (table.size() + 258 < 4096) {
                table.emplace(static_cast<uint32_t>(prefix) << 8 | b, 258 + table.size());
            }
            if (clearWhenFull && table.size() + 258 == 4094) codes.push_back(256), table.clear();
        }
        prefix = b;
    }
    if (prefix >= 0) codes.push_back(static_cast<uint32_t>(prefix));
    codes.push_back(257);
    return PackCodes(codes, msbFirst);
}

Bytes PackBits(const Bytes& data) {
    Bytes out = {0x80};  // a header that stands for nothing
    for (size_t i = 0; i < data.size();) {
        size_t n = 1;
        while (i + n < data.size() && n < 128 && data[i + n] == data[i]) ++n;
        if (n > 1) {
            out.push_back(static_cast<uint8_t>(257 - n)), out.push_back(data[i]);
        } else {
            while (i + n < data.size() && n < 128 &&
                   (i + n + 1 == data.size() || data[i + n] != data[i + n + 1])) {
                ++n;
            }
            out.push_back(static_cast<uint8_t>(n - 1));
            out.insert(out.end(), data.begin() + i, data.begin() + i + n);
        }
        i += n;
    }
    return out;
}

Bytes Deflate(const Bytes& data) {
    uLongf size = compressBound(data.size());
    Bytes out(size);
    compress(out.data(), &size, data.data(), data.size());
    out.resize(size);
    return out;
}

// Bytes that LZW makes long strings of, and runs: its table fills several times.
Bytes CodecInput() {
    Bytes data(60000);
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<uint8_t>(i % 1000 < 300 ? 7 : (i * i / 13 + i / 97) % 6);
    }
    return data;
}

// The 16-bit level the fixture script stores for the 8-bit level v at (x, y) of channel c, and
// what is read of it: its high byte.
uint8_t WideHighByte(int v, uint32_t x, uint32_t y, uint32_t c = 0) {
    const int wide = v * 257 + static_cast<int>((x * 37 + y * 53 + c * 11) % 201) - 100;
    return static_cast<uint8_t>(std::clamp(wide, 0, 65535) >> 8);
}

enum class Content {
    kBlocks,
    kBlocksAlpha,
    kBlocksAssociated,
    kBlocks16,
    kGradient,  // at 1, 2, 4, 8 or 16 bits
    kGradientInverted,
    kGradientAlpha,
    kBlocksJpeg,    // within 3 levels inside each colour tile, away from its edges
    kGradientJpeg,  // within 3 levels
};

struct FixtureFile {
    const char* name;
    uint32_t width, height;
    uint16_t bitsPerPixel;
    Content content;
    int gradientBits = 8;
};

// Whether a pixel read is the content drawn at (x, y); gradients are drawn 100x75.
bool Fits(const FixtureFile& f, Bgra px, uint32_t x, uint32_t y) {
    const auto same = [&px](Bgra e) {
        return px.b == e.b && px.g == e.g && px.r == e.r && px.a == e.a;
    };
    const Rgb c = TileAt(x, y);
    int v = GradientAt(x, y, 100, 75);
    switch (f.content) {
        case Content::kBlocks:
            return same(Tile(x, y));
        case Content::kBlocksAlpha:
            return same(Tile(x, y, RgbaAlphaAt(x, y)));
        case Content::kBlocksAssociated: {
            const uint8_t a = RgbaAlphaAt(x, y);
            return px.a == a && StraightColourFits(px.r, c.r, a) &&
                   StraightColourFits(px.g, c.g, a) && StraightColourFits(px.b, c.b, a);
        }
        case Content::kBlocks16:
            return same({WideHighByte(c.b, x, y, 2), WideHighByte(c.g, x, y, 1),
                         WideHighByte(c.r, x, y, 0), 255});
        case Content::kGradient:
            if (f.gradientBits == 16) return same(Grey(WideHighByte(v, x, y)));
            if (f.gradientBits < 8) {
                const int top = (1 << f.gradientBits) - 1;
                v = (v * top + 127) / 255 * (255 / top);
            }
            return same(Grey(v));
        case Content::kGradientInverted:
            return same(Grey(255 - v));
        case Content::kGradientAlpha:
            return same(Grey(v, static_cast<uint8_t>(2 * x)));
        case Content::kBlocksJpeg:
        case Content::kGradientJpeg: {
            const bool inner = f.content == Content::kGradientJpeg ||
                               (x % 16 >= 2 && x % 16 <= 13 && y % 16 >= 2 && y % 16 <= 13);
            const Bgra e = f.content == Content::kGradientJpeg ? Grey(v) : Tile(x, y);
            const auto within = [](int a, int b) { return std::abs(a - b) <= 3; };
            return px.a == 255 &&
                   (!inner || (within(px.b, e.b) && within(px.g, e.g) && within(px.r, e.r)));
        }
    }
    return false;
}

// Every fixture read, as the fixture scripts drew it.
const FixtureFile kFixtures[] = {
    {"blocks-rgb.tif", 64, 48, 24, Content::kBlocks},
    {"blocks-rgb-msb-strips.tif", 32, 24, 24, Content::kBlocks},
    {"blocks-rgba.tif", 64, 48, 32, Content::kBlocksAlpha},
    {"blocks-rgba-associated.tif", 32, 24, 32, Content::kBlocksAssociated},
    {"gradient-grey.tif", 100, 75, 8, Content::kGradient},
    {"blocks-lzw.tif", 32, 24, 24, Content::kBlocks},
    {"blocks-planar.tif", 32, 24, 24, Content::kBlocks},
    {"blocks-tiled.tif", 32, 24, 24, Content::kBlocks},
    {"blocks-rgb-16.tif", 32, 24, 48, Content::kBlocks},
    {"blocks-palette.tif", 32, 24, 2, Content::kBlocks},
    {"blocks-cmyk.tif", 32, 24, 32, Content::kBlocks},
    // ImageMagick writes the levels it is given where zero is white: the gradient shows inverted.
    {"gradient-min-is-white.tif", 32, 24, 8, Content::kGradientInverted},
    {"gradient-grey-alpha.tif", 32, 24, 16, Content::kGradientAlpha},
    {"tiff/grey16-msb.tif", 100, 75, 16, Content::kGradient, 16},
    {"tiff/rgb16-lzw-predictor.tif", 40, 30, 48, Content::kBlocks16},
    {"tiff/rgb16-msb-zip-predictor.tif", 40, 30, 48, Content::kBlocks16},
    {"tiff/planar-strips.tif", 40, 30, 24, Content::kBlocks},
    {"tiff/planar-tiles-zip.tif", 40, 30, 24, Content::kBlocks},
    {"tiff/tiled-lzw.tif", 40, 30, 24, Content::kBlocks},
    {"tiff/tiled-beyond-zip-predictor.tif", 40, 30, 24, Content::kBlocks},
    {"tiff/zip-predictor.tif", 40, 30, 24, Content::kBlocks},
    {"tiff/packbits.tif", 40, 30, 24, Content::kBlocks},
    {"tiff/grey1-min-is-white-packbits.tif", 100, 75, 1, Content::kGradient, 1},
    {"tiff/grey2-min-is-white.tif", 100, 75, 2, Content::kGradient, 2},
    {"tiff/grey4-min-is-white-lzw.tif", 100, 75, 4, Content::kGradient, 4},
    {"tiff/palette4.tif", 40, 30, 4, Content::kBlocks},
    {"tiff/palette8-lzw.tif", 100, 75, 8, Content::kGradient},
    {"tiff/rgba-associated-lzw.tif", 40, 30, 32, Content::kBlocksAssociated},
    {"tiff/rgba-unassociated-zip.tif", 40, 30, 32, Content::kBlocksAlpha},
    {"tiff/reduced-first.tif", 40, 30, 24, Content::kBlocks},  // after a 10x8 copy
    {"tiff/subifd.tif", 40, 30, 24, Content::kBlocks},         // below a 10x8 copy
    // JPEG: YCbCr in strips (libtiff) and tiles (vips), RGB (ImageMagick), their tables in
    // JPEGTables; grey.
    {"tiff/jpeg-ycbcr-strips.tif", 40, 30, 24, Content::kBlocksJpeg},
    {"tiff/jpeg-rgb-strips.tif", 40, 30, 24, Content::kBlocksJpeg},
    {"tiff/jpeg-ycbcr-tiles.tif", 48, 32, 24, Content::kBlocksJpeg},
    {"tiff/jpeg-grey-strips.tif", 100, 75, 8, Content::kGradientJpeg},
};

uint32_t U32(const Bytes& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

// The entry of `tag` in the first directory of a little-endian file.
size_t EntryOf(const Bytes& file, uint16_t tag) {
    const uint32_t directory = U32(file, 4);
    for (size_t at = directory + 2;
         at < directory + 2 + 12 * (file[directory] | file[directory + 1] << 8); at += 12) {
        if ((file[at] | file[at + 1] << 8) == tag) return at;
    }
    return 0;
}

}  // namespace

TEST(TiffFiles, EveryKindOfFileGivesItsPixels) {
    RawPicture p;
    for (const FixtureFile& f : kFixtures) {
        SCOPED_TRACE(f.name);
        ASSERT_TRUE(Tiff(ReadFixture(f.name), p));
        EXPECT_EQ(p.width, f.width);
        EXPECT_EQ(p.height, f.height);
        EXPECT_EQ(p.bitsPerPixel, f.bitsPerPixel);
        EXPECT_EQ(p.hasAlpha, f.content == Content::kBlocksAlpha ||
                                  f.content == Content::kBlocksAssociated ||
                                  f.content == Content::kGradientAlpha);
        int unfit = 0;
        for (uint32_t y = 0; y < p.height; ++y) {
            for (uint32_t x = 0; x < p.width; ++x) unfit += !Fits(f, PixelAt(p, x, y), x, y);
        }
        EXPECT_EQ(unfit, 0);
    }

    // A palette of 8-bit levels, as some writers make them, gives the same colours.
    const Bytes palette = ReadFixture("tiff/palette4.tif");
    ASSERT_TRUE(Tiff(palette, p));
    const Bytes pixels = p.bgra;
    Bytes eightBit = palette;
    const size_t map = EntryOf(palette, 320);
    ASSERT_NE(map, 0u);
    for (size_t at = U32(palette, map + 8), i = 0; i < U32(palette, map + 4); ++i, at += 2) {
        eightBit[at] = static_cast<uint8_t>((eightBit[at] | eightBit[at + 1] << 8) / 257);
        eightBit[at + 1] = 0;
    }
    ASSERT_TRUE(Tiff(eightBit, p));
    EXPECT_EQ(p.bgra, pixels);
}

TEST(TiffCodecs, DecodeIntoFixedBuffersAndStopSafely) {
    using namespace decode::tiff;
    const Bytes data = CodecInput();
    Bytes out(data.size() + 100);
    const auto decoded = [&out](size_t n) { return Bytes(out.begin(), out.begin() + n); };
    const Bytes prefix(data.begin(), data.begin() + 1000);
    Inflater inflater;
    using Decoder = std::function<size_t(const uint8_t*, size_t, uint8_t*, size_t)>;
    const Decoder lzw = DecodeLzw, unpackBits = UnpackBits;
    const Decoder inflate = [&inflater](const uint8_t* in, size_t n, uint8_t* o, size_t room) {
        return inflater.Run(in, n, o, room);
    };
    const struct {
        const char* what;
        Bytes coded;
        Decoder decoder;
    } codecs[] = {
        {"LZW", Lzw(data), lzw},
        {"LZW, LSB-first", Lzw(data, false), lzw},
        {"LZW, the table left full", Lzw(data, true, false), lzw},
        {"PackBits", PackBits(data), unpackBits},
        {"Deflate", Deflate(data), inflate},
    };
    for (const auto& c : codecs) {
        SCOPED_TRACE(c.what);
        const auto decode = [&](const Bytes& in, size_t room) {
            return c.decoder(in.data(), in.size(), out.data(), room);
        };
        // Whole, into room to spare; cut at the end of the room given; cut short.
        ASSERT_EQ(decode(c.coded, out.size()), data.size());
        EXPECT_EQ(decoded(data.size()), data);
        ASSERT_EQ(decode(c.coded, 1000), 1000u);
        EXPECT_EQ(decoded(1000), prefix);
        const Bytes half(c.coded.begin(), c.coded.begin() + c.coded.size() / 2);
        const size_t n = decode(half, out.size());
        EXPECT_GT(n, data.size() / 4);
        EXPECT_LT(n, data.size());
        EXPECT_EQ(decoded(n), Bytes(data.begin(), data.begin() + n));
    }

    // Damage ends the output where it starts: an LZW code beyond the table (258 is the next),
    // a code other than a literal first, a PackBits run or literal without its bytes.
    const struct {
        const char* what;
        size_t written;
    } damaged[] = {
        {"LZW code beyond the table",
         DecodeLzw(PackCodes({256, 'a', 'b', 260, 'c'}, true).data(), 5, out.data(), 100)},
        {"LZW string first",
         DecodeLzw(PackCodes({256, 258, 'a'}, true).data(), 4, out.data(), 100)},
        {"PackBits run without its byte",
         UnpackBits(Bytes{1, 'a', 'b', 0xFE}.data(), 4, out.data(), 100)},
        {"PackBits literal cut short",
         UnpackBits(Bytes{1, 'a', 'b', 5, 'c'}.data(), 5, out.data(), 100)},
    };
    const size_t expected[] = {2, 0, 2, 3};
    for (size_t i = 0; i < std::size(damaged); ++i) {
        EXPECT_EQ(damaged[i].written, expected[i]) << damaged[i].what;
    }
    // The string defined by the code that uses it (the previous one and its own first byte).
    ASSERT_EQ(DecodeLzw(PackCodes({256, 'a', 258, 259, 257}, true).data(), 6, out.data(), 100), 6u);
    EXPECT_EQ(decoded(6), (Bytes{'a', 'a', 'a', 'a', 'a', 'a'}));
}

TEST(TiffVariants, ByteOrdersFieldTypesStripsAndDirectoryPlacement) {
    RawPicture p;
    for (bool bigEndian : {false, true}) {
        for (uint16_t type : {kShort, kLong}) {
            for (std::optional<uint32_t> rows :
                 {std::optional<uint32_t>{1}, {2}, {5}, {1000}, {}}) {
                for (bool backwards : {false, true}) {
                    for (bool first : {false, true}) {
                        SCOPED_TRACE(testing::Message()
                                     << (bigEndian ? "MM" : "II") << ", type " << type
                                     << ", rows per strip " << rows.value_or(0) << ", backwards "
                                     << backwards << ", directory first " << first);
                        TiffLayout s;
                        s.bigEndian = bigEndian;
                        s.stripFieldType = type;
                        s.rowsPerStrip = rows;
                        s.stripsBackwards = backwards;
                        s.directoryFirst = first;
                        ASSERT_TRUE(Tiff(MakeTiff(s), p));
                        EXPECT_EQ(p.width, 7u);
                        EXPECT_EQ(p.height, 5u);
                        EXPECT_EQ(p.bitsPerPixel, 24);
                        EXPECT_EQ(MismatchesOf(p, s), 0);
                    }
                }
            }
        }
    }

    struct Case {
        const char* what;
        std::function<void(TiffLayout&)> change;
    };
    const Case cases[] = {
        {"grey", [](TiffLayout& s) { s.samples = 1, s.photometric = 1, s.bits = {8}; }},
        {"grey, wide rows in single-row strips",
         [](TiffLayout& s) {
             s.samples = 1, s.photometric = 1, s.bits = {8}, s.width = 301, s.rowsPerStrip = 1;
         }},
        {"grey and unassociated alpha",
         [](TiffLayout& s) {
             s.samples = 2, s.photometric = 1, s.bits = {8, 8}, s.extraSamples = {2};
         }},
        {"one BitsPerSample value for all samples", [](TiffLayout& s) { s.bits = {8}; }},
        {"compression and planar configuration left to their defaults",
         [](TiffLayout& s) { s.compression.reset(), s.planar.reset(); }},
        {"strips padded past their rows", [](TiffLayout& s) { s.byteCountSlack = 3; }},
        {"more strips listed than the rows need", [](TiffLayout& s) { s.spareStrips = 2; }},
        {"predictor 1, sample format 1, orientation 3 (not applied, as by WIC)",
         [](TiffLayout& s) {
             s.moreShorts = {{317, {1}}, {339, {1, 1, 1}}, {274, {3}}};
         }},
        {"a next directory that is the first again",
         [](TiffLayout& s) { s.nextDirectoryIsItself = true; }},
        {"RGBA, unassociated",
         [](TiffLayout& s) {
             s.samples = 4, s.bits = {8, 8, 8, 8}, s.extraSamples = {2};
         }},
        {"alpha after an extra sample of no stated meaning, then another",
         [](TiffLayout& s) {
             s.samples = 6, s.bits = {8}, s.extraSamples = {0, 2, 0};
         }},
        {"extra samples of no stated meaning: opaque",
         [](TiffLayout& s) {
             s.samples = 5, s.bits = {8}, s.extraSamples = {0, 0};
         }},
        {"a fourth sample, ExtraSamples left out: opaque",
         [](TiffLayout& s) { s.samples = 4, s.bits = {8}; }},
        {"ExtraSamples where there are none", [](TiffLayout& s) { s.extraSamples = {2}; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TiffLayout s;
        c.change(s);
        ASSERT_TRUE(Tiff(MakeTiff(s), p));
        EXPECT_EQ(p.width, s.width);
        EXPECT_EQ(p.bitsPerPixel, s.samples * 8);
        EXPECT_EQ(p.hasAlpha, AlphaExtra(s) >= 0);
        EXPECT_EQ(MismatchesOf(p, s), 0);
    }
}

TEST(TiffVariants, EveryCompressionWithAndWithoutPredictor) {
    const struct {
        const char* what;
        uint32_t compression;
        std::function<Bytes(const Bytes&)> encode;
    } codecs[] = {
        {"none", 1, nullptr},
        {"LZW", 5, [](const Bytes& b) { return Lzw(b); }},
        {"LZW, LSB-first", 5, [](const Bytes& b) { return Lzw(b, false); }},
        {"PackBits", 32773, PackBits},
        {"Deflate", 8, Deflate},
        {"Deflate, old code", 32946, Deflate},
    };
    RawPicture p;
    for (const auto& c : codecs) {
        for (bool differenced : {false, true}) {
            for (bool bigEndian : {false, true}) {
                for (uint32_t rows : {1, 2, 5}) {
                    SCOPED_TRACE(testing::Message() << c.what << ", predictor " << differenced
                                                    << ", MM " << bigEndian << ", rows " << rows);
                    TiffLayout s;
                    s.width = 37;
                    s.compression = c.compression;
                    s.encode = c.encode;
                    s.differenced = differenced;
                    s.bigEndian = bigEndian;
                    s.rowsPerStrip = rows;
                    ASSERT_TRUE(Tiff(MakeTiff(s), p));
                    EXPECT_EQ(MismatchesOf(p, s), 0);
                }
            }
        }
    }
}

// A JPEG as libtiff stores one in a TIFF: its tables (DQT, DHT) in a stream of their own for
// JPEGTables, the rest (with its own start marker) for each strip.
void SplitJpeg(const Bytes& jpeg, Bytes& tables, Bytes& rest) {
    tables = {0xFF, 0xD8};
    rest = {0xFF, 0xD8};
    size_t at = 2;
    while (at + 4 <= jpeg.size() && jpeg[at] == 0xFF && jpeg[at + 1] != 0xDA) {
        const size_t length = size_t{jpeg[at + 2]} << 8 | jpeg[at + 3];
        Bytes& to = jpeg[at + 1] == 0xDB || jpeg[at + 1] == 0xC4 ? tables : rest;
        to.insert(to.end(), jpeg.begin() + at, jpeg.begin() + at + 2 + length);
        at += 2 + length;
    }
    rest.insert(rest.end(), jpeg.begin() + at, jpeg.end());
    tables.insert(tables.end(), {0xFF, 0xD9});
}

TEST(TiffJpeg, StripsDecodeAsTheJpegTheyHold) {
    for (const char* name : {"blocks-420.jpg", "photo-422.jpg", "gradient-grey.jpg"}) {
        SCOPED_TRACE(name);
        const Bytes jpeg = ReadFixture(name);
        decode::ScaledPicture reference;
        ASSERT_TRUE(decode::DecodeJpegScaled(jpeg.data(), jpeg.size(), 0, reference));
        const bool grey = reference.components == 1;
        Bytes tables, rest;
        SplitJpeg(jpeg, tables, rest);
        ASSERT_GT(tables.size(), 4u);
        // The whole JPEG in one strip, taller than the picture; two strips of it without its
        // tables, which JPEGTables holds.
        for (const bool shared : {false, true}) {
            SCOPED_TRACE(shared ? "tables shared" : "tables in the strip");
            TiffLayout s;
            s.width = reference.width;
            s.height = shared ? reference.height * 2 : reference.height - 5;
            s.samples = grey ? 1 : 3;
            s.photometric = grey ? 1 : 6;
            s.bits = grey ? std::vector<uint32_t>{8} : std::vector<uint32_t>{8, 8, 8};
            s.compression = 7;
            s.rowsPerStrip = reference.height;
            s.encode = [&](const Bytes&) { return shared ? rest : jpeg; };
            if (shared) s.jpegTables = tables;
            RawPicture p;
            ASSERT_TRUE(Tiff(MakeTiff(s), p));
            EXPECT_EQ(p.bitsPerPixel, grey ? 8 : 24);
            EXPECT_FALSE(p.hasAlpha);
            int mismatches = 0;
            for (uint32_t y = 0; y < p.height; ++y) {
                for (uint32_t x = 0; x < p.width; ++x) {
                    const uint8_t* e = reference.bgr.data() +
                                       (size_t{y % reference.height} * reference.width + x) * 3;
                    const Bgra px = PixelAt(p, x, y);
                    mismatches += px.b != e[0] || px.g != e[1] || px.r != e[2] || px.a != 255;
                }
            }
            EXPECT_EQ(mismatches, 0);
        }
    }
}

TEST(TiffVariants, AssociatedAlphaIsMadeStraight) {
    TiffLayout s;
    s.width = 26;  // alpha 3 to 255 across a row
    s.height = 3;
    s.samples = 4;
    s.bits = {8, 8, 8, 8};
    s.extraSamples = {1};
    RawPicture p;
    ASSERT_TRUE(Tiff(MakeTiff(s), p));
    EXPECT_TRUE(p.hasAlpha);
    int unfit = 0;
    for (uint32_t y = 0; y < p.height; ++y) {
        for (uint32_t x = 0; x < p.width; ++x) {
            const Bgra px = PixelAt(p, x, y);
            const Rgb c = TileAt(x * 16, y * 16);
            const uint8_t a = AlphaAt(x, y);
            unfit += px.a != a || !StraightColourFits(px.r, c.r, a) ||
                     !StraightColourFits(px.g, c.g, a) || !StraightColourFits(px.b, c.b, a);
        }
    }
    EXPECT_EQ(unfit, 0);

    // Single pixels: rounding to nearest, transparent pixels without colour, colours brighter
    // than their alpha allows held at white.
    const struct {
        uint8_t stored[4];  // R, G, B, A as the file has them
        Bgra expected;
    } pixels[] = {
        {{100, 50, 0, 200}, {0, 64, 128, 200}},  // 127.5 rounds up, 63.75 to 64
        {{1, 2, 3, 0}, {0, 0, 0, 0}},
        {{10, 20, 30, 255}, {30, 20, 10, 255}},
        {{200, 90, 50, 100}, {128, 230, 255, 100}},
    };
    for (const auto& px : pixels) {
        TiffLayout one;
        one.width = one.height = 1;
        one.samples = 4;
        one.bits = {8};
        one.extraSamples = {1};
        Bytes file = MakeTiff(one);
        std::copy(px.stored, px.stored + 4, file.begin() + 8);  // the only strip
        ASSERT_TRUE(Tiff(file, p));
        const Bgra got = PixelAt(p, 0, 0);
        EXPECT_EQ((std::array<int, 4>{got.b, got.g, got.r, got.a}),
                  (std::array<int, 4>{px.expected.b, px.expected.g, px.expected.r, px.expected.a}))
            << int{px.stored[0]} << "," << int{px.stored[1]} << "," << int{px.stored[2]} << " at "
            << int{px.stored[3]};
    }
}

TEST(TiffDirectories, ThePictureIsFoundBehindReducedCopies) {
    // A chain of copies of one directory, sharing its strips and values, each of its own
    // NewSubfileType and width (the copies narrower, to tell which one is read).
    TiffLayout s;
    s.moreShorts = {{254, {0}}};  // NewSubfileType, the first entry
    const Bytes one = MakeTiff(s);
    const auto chain = [&one](std::vector<uint32_t> kinds, bool loop = false) {
        Bytes b = one;
        const uint32_t first = U32(one, 4);
        const size_t length = 2 + 12 * one[first] + 4;
        for (size_t i = 0; i < kinds.size(); ++i) {
            const size_t at = i == 0 ? first : b.size();
            if (i > 0) b.insert(b.end(), one.begin() + first, one.begin() + first + length);
            b[at + 2 + 8] = static_cast<uint8_t>(kinds[i]);
            b[at + 2 + 12 + 8] = static_cast<uint8_t>(kinds[i] ? 3 : 7);  // ImageWidth
            const uint32_t next = i + 1 < kinds.size() ? static_cast<uint32_t>(b.size())
                                  : loop               ? first
                                                       : 0;
            std::memcpy(&b[at + length - 4], &next, 4);
        }
        return b;
    };
    const struct {
        const char* what;
        Bytes file;
        uint32_t width;  // 7: the full picture read; 3: the first directory
    } files[] = {
        {"picture second", chain({1, 0}), 7},
        {"behind a transparency mask and a reduced copy of it", chain({4, 5, 0}), 7},
        {"the first of many pages", chain({2, 0}), 3},
        {"picture 16th", chain({1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0}), 7},
        {"picture 17th, beyond the directories looked at",
         chain({1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0}), 3},
        {"only reduced copies, in a loop", chain({1, 1, 1}, true), 3},
    };
    RawPicture p;
    for (const auto& f : files) {
        ASSERT_TRUE(Tiff(f.file, p)) << f.what;
        EXPECT_EQ(p.width, f.width) << f.what;
    }
}

TEST(TiffRefusals, KindsLeftToWicAndBrokenDirectories) {
    RawPicture p;
    struct Case {
        const char* what;
        std::function<void(TiffLayout&)> change;
    };
    const auto grey = [](TiffLayout& s) { s.samples = 1, s.photometric = 1, s.bits = {8}; };
    const Case cases[] = {
        {"old JPEG", [](TiffLayout& s) { s.compression = 6; }},
        {"RGB JPEG whose strips hold no JPEG", [](TiffLayout& s) { s.compression = 7; }},
        {"YCbCr JPEG whose strips hold no JPEG",
         [](TiffLayout& s) { s.compression = 7, s.photometric = 6; }},
        {"YCbCr JPEG with alpha",
         [](TiffLayout& s) {
             s.compression = 7, s.photometric = 6, s.samples = 4, s.bits = {8},
             s.extraSamples = {2};
         }},
        {"CCITT group 4", [&](TiffLayout& s) { grey(s), s.bits = {1}, s.compression = 4; }},
        {"YCbCr", [](TiffLayout& s) { s.photometric = 6; }},
        {"CIE Lab", [](TiffLayout& s) { s.photometric = 8; }},
        {"no photometric interpretation", [](TiffLayout& s) { s.photometric.reset(); }},
        {"palette without ColorMap", [&](TiffLayout& s) { grey(s), s.photometric = 3; }},
        {"palette of 16 bits",
         [&](TiffLayout& s) {
             grey(s), s.photometric = 3, s.bits = {16}, s.moreShorts = {{320, {}}};
             s.moreShorts[320].resize(3 << 16);
         }},
        {"palette, ColorMap too short",
         [&](TiffLayout& s) {
             grey(s), s.photometric = 3, s.moreShorts = {{320, {1, 2, 3}}};
         }},
        {"palette of two samples",
         [](TiffLayout& s) {
             s.samples = 2, s.photometric = 3, s.bits = {8}, s.moreShorts = {{320, {}}};
             s.moreShorts[320].resize(3 * 256);
         }},
        {"CMYK of other inks",
         [](TiffLayout& s) {
             s.samples = 4, s.photometric = 5, s.bits = {8}, s.moreShorts = {{332, {2}}};
         }},
        {"RGB of one sample", [](TiffLayout& s) { s.samples = 1, s.bits = {8}; }},
        {"17 samples", [](TiffLayout& s) { s.samples = 17, s.bits = {8}; }},
        {"12 bits", [](TiffLayout& s) { s.bits = {12}; }},
        {"32 bits", [](TiffLayout& s) { s.bits = {32}; }},
        {"bits differing by sample",
         [](TiffLayout& s) {
             s.bits = {8, 8, 16};
         }},
        {"two BitsPerSample values for three samples",
         [](TiffLayout& s) {
             s.bits = {8, 8};
         }},
        {"floating-point samples",
         [](TiffLayout& s) {
             s.moreShorts = {{339, {3}}};
         }},
        {"signed samples",
         [](TiffLayout& s) {
             s.moreShorts = {{339, {1, 2, 1}}};
         }},
        {"floating-point predictor",
         [](TiffLayout& s) {
             s.moreShorts = {{317, {3}}};
         }},
        {"differences of 4-bit samples",
         [](TiffLayout& s) {
             s.bits = {4}, s.moreShorts = {{317, {2}}};
         }},
        {"bits filled from the low end",
         [](TiffLayout& s) {
             s.moreShorts = {{266, {2}}};
         }},
        {"planar configuration 3", [](TiffLayout& s) { s.planar = 3; }},
        {"tiles without offsets",
         [](TiffLayout& s) {
             s.moreShorts = {{322, {16}}};
         }},
        {"tiles of 3000 rows of 30000 pixels for 1 x 3000",
         [](TiffLayout& s) {
             s.width = 1, s.height = 3000, s.leaveOutStripOffsets = s.leaveOutByteCounts = true;
             s.moreShorts = {{322, {30000}}, {323, {3000}}, {324, {8}}, {325, {1}}};
         }},
        {"a 7 x 5 strip for 10000 x 10000",
         [](TiffLayout& s) {
             s.rowsPerStrip.reset(), s.moreShorts = {{256, {10000}}, {257, {10000}}};
         }},
        {"no width", [](TiffLayout& s) { s.width = 0; }},
        {"wider than 30000", [](TiffLayout& s) { s.width = 30001, s.height = 1; }},
        {"no rows per strip", [](TiffLayout& s) { s.rowsPerStrip = 0; }},
        {"no strip offsets", [](TiffLayout& s) { s.leaveOutStripOffsets = true; }},
        {"no strip byte counts", [](TiffLayout& s) { s.leaveOutByteCounts = true; }},
        {"a strip offset missing", [](TiffLayout& s) { s.missingStrips = 1; }},
    };
    for (const Case& c : cases) {
        TiffLayout s;
        c.change(s);
        EXPECT_FALSE(Tiff(MakeTiff(s), p)) << c.what;
    }
    // Damage the directory of a plain file: little-endian, directory after the strips, whose
    // entries are sorted by tag: 256 (width), 257, 258, 259, 262, 273 (strip offsets), 277,
    // 278, 279, 282, 284.
    const Bytes plain = MakeTiff(TiffLayout{});
    ASSERT_TRUE(Tiff(plain, p));
    const uint32_t directory = plain[4] | plain[5] << 8 | plain[6] << 16 | plain[7] << 24;
    const auto entry = [directory](int index) { return directory + 2 + 12 * index; };
    const auto edited = [&plain](size_t at, std::initializer_list<uint8_t> bytes) {
        Bytes b = plain;
        std::copy(bytes.begin(), bytes.end(), b.begin() + static_cast<std::ptrdiff_t>(at));
        return b;
    };
    const struct {
        const char* what;
        Bytes bytes;
    } damaged[] = {
        {"not TIFF", edited(0, {'P', 'K'})},
        {"mixed byte order marks", edited(0, {'I', 'M'})},
        {"BigTIFF", edited(2, {43, 0})},
        {"version 41", edited(2, {41, 0})},
        {"directory past the end", edited(4, {0xF0, 0xFF, 0xFF, 0x7F})},
        {"directory at the last byte",
         edited(4, {static_cast<uint8_t>(plain.size() - 1),
                    static_cast<uint8_t>((plain.size() - 1) >> 8), 0, 0})},
        {"no entries", edited(directory, {0, 0})},
        {"more entries than the file holds", edited(directory, {0xFF, 0xFF})},
        {"width as a RATIONAL", edited(entry(0) + 2, {kRational, 0})},
        {"two widths in one field", edited(entry(0) + 4, {2, 0, 0, 0})},
        {"BitsPerSample values past the end", edited(entry(2) + 8, {0xF0, 0xFF, 0xFF, 0xFF})},
        {"BitsPerSample count running past the end",
         edited(entry(2) + 4, {0xFF, 0xFF, 0xFF, 0x3F})},
        {"every strip offset past the end",
         [&] {
             Bytes b = plain;
             for (int i = 0; i < 3; ++i) b[U32(b, entry(5) + 8) + 4 * i + 3] = 0x7F;
             return b;
         }()},
        {"strip offsets of type ASCII", edited(entry(5) + 2, {2, 0})},
        {"image length of type BYTE", edited(entry(1) + 2, {1, 0})},
    };
    for (const auto& d : damaged) EXPECT_FALSE(Tiff(d.bytes, p)) << d.what;
    EXPECT_FALSE(Tiff(ReadFixture("blocks-rgb.png"), p)) << "PNG";
    EXPECT_FALSE(Tiff(Bytes{'I', 'I', 42, 0}, p)) << "header cut short";
}

TEST(TiffDamage, StripsCutShortShowWhatTheyHold) {
    // Each of the three strips one byte short: the blue of its last pixel is zero.
    TiffLayout s;
    s.byteCountSlack = -1;
    RawPicture p;
    ASSERT_TRUE(Tiff(MakeTiff(s), p));
    EXPECT_EQ(Mismatches(p,
                         [&s](uint32_t x, uint32_t y) {
                             Bgra e = ExpectedPixel(s, x, y);
                             if (x == 6 && (y % 2 == 1 || y == 4)) e.b = 0;
                             return e;
                         }),
              0);
    // The first strip's offset past the end: its rows black, the others read.
    Bytes b = MakeTiff(TiffLayout{});
    b[U32(b, EntryOf(b, 273) + 8) + 3] = 0x7F;
    ASSERT_TRUE(Tiff(b, p));
    EXPECT_EQ(Mismatches(p,
                         [](uint32_t x, uint32_t y) {
                             return y < 2 ? Bgra{0, 0, 0, 255} : ExpectedPixel(TiffLayout{}, x, y);
                         }),
              0);
}

TEST(TiffDamage, TruncatedAndCorruptedFilesAreRefusedOrRead) {
    std::vector<std::pair<std::string, Bytes>> files;
    for (const FixtureFile& f : kFixtures) {
        // Cutting the second directory of these leaves the reduced copy to show.
        if (std::strcmp(f.name, "tiff/reduced-first.tif") != 0) {
            files.emplace_back(f.name, ReadFixture(f.name));
        }
    }
    // Written with the directory first, so that cuts leave it whole.
    const std::pair<uint32_t, std::function<Bytes(const Bytes&)>> codecs[] = {
        {1, nullptr}, {5, [](const Bytes& b) { return Lzw(b); }}, {32773, PackBits}, {8, Deflate}};
    for (const auto& [compression, encode] : codecs) {
        TiffLayout first;
        first.directoryFirst = true;
        first.bigEndian = compression == 1;
        first.rowsPerStrip = 2;
        first.width = 40;
        first.compression = compression;
        first.encode = encode;
        first.samples = compression == 5 ? 4 : 3;
        first.bits = {8};
        first.extraSamples = {compression == 5 ? 2u : 0u};
        files.emplace_back("written, compression " + std::to_string(compression), MakeTiff(first));
    }
    uint32_t seed = 5;
    const auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
    for (const auto& [name, whole] : files) {
        SCOPED_TRACE(name);
        RawPicture p;
        ASSERT_TRUE(Tiff(whole, p));
        const Bytes pixels = p.bgra;
        const uint32_t fill = p.hasAlpha ? 0 : decode::kOpaque;
        // Strips are stored in order, so a cut file is refused, or shows the pixels that its
        // bytes hold, one maybe in part, then zero samples. The directory cannot be cut.
        const bool big = whole[0] == 'M';
        const auto u16 = [&whole, big](size_t at) {
            return big ? whole[at] << 8 | whole[at + 1] : whole[at + 1] << 8 | whole[at];
        };
        const uint32_t at = big ? static_cast<uint32_t>(u16(4) << 16 | u16(6)) : U32(whole, 4);
        const size_t directoryEnd = at + 2 + 12 * u16(at);
        for (size_t length = 0; length < whole.size(); ++length) {
            const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length));
            if (!Tiff(cut, p)) continue;
            EXPECT_GE(length, directoryEnd);
            ASSERT_EQ(p.bgra.size(), pixels.size()) << length;
            size_t i = 0;
            while (i < pixels.size() && std::memcmp(&p.bgra[i], &pixels[i], 4) == 0) i += 4;
            for (i += 4; i < pixels.size(); i += 4) {
                if (decode::LoadU32(&p.bgra[i]) != fill) break;
            }
            EXPECT_GE(i, pixels.size()) << length;
        }
        for (int round = 0; round < 600; ++round) {
            Bytes b = whole;
            const size_t place = round % 2 ? next() % b.size() : at + next() % (directoryEnd - at);
            b[place] = static_cast<uint8_t>(next() >> 24);
            if (Tiff(b, p)) {
                EXPECT_EQ(p.bgra.size(), size_t{p.width} * p.height * 4);
            }
        }
    }
}
