// The TIFF reader: files another program wrote, layouts written here (byte orders, field types,
// strips, directory placement), alpha, every refusal, and damaged or cut-short files.
#include "decode/Tiff.h"
#include "decode/Fixtures.h"

#include <gtest/gtest.h>

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

struct TiffLayout {
    bool bigEndian = false;
    uint32_t width = 7;
    uint32_t height = 5;
    uint32_t samples = 3;
    std::optional<uint32_t> photometric = 2;
    std::vector<uint32_t> bits = {8, 8, 8};  // empty: left out
    std::optional<uint32_t> extraSamples;
    std::optional<uint32_t> compression = 1;
    std::optional<uint32_t> planar = 1;
    std::optional<uint32_t> rowsPerStrip = 2;
    uint16_t stripFieldType = kLong;  // of StripOffsets, StripByteCounts and RowsPerStrip
    bool stripsBackwards = false;     // the last strip stored first
    bool directoryFirst = false;      // the directory before the strips, not after them
    bool nextDirectoryIsItself = false;
    int32_t byteCountSlack = 0;       // added to each strip's byte count
    uint32_t missingStrips = 0;       // offsets and byte counts left out at the end
    uint32_t spareStrips = 0;         // offsets and byte counts (of nothing) added at the end
    std::map<uint16_t, std::vector<uint32_t>> moreShorts;  // other SHORT fields
    bool leaveOutStripOffsets = false;
    bool leaveOutByteCounts = false;
};

// Pixel (x, y): tile colours with alpha 10x + 7y + 3 (premultiplied when the extra sample says
// associated), or grey 20x + y.
uint8_t AlphaAt(uint32_t x, uint32_t y) {
    return static_cast<uint8_t>(10 * x + 7 * y + 3);
}

uint8_t Premultiplied(int colour, uint8_t alpha) {
    return static_cast<uint8_t>((colour * alpha + 127) / 255);
}

Bytes PixelBytes(const TiffLayout& s, uint32_t x, uint32_t y) {
    if (s.samples == 1) return {static_cast<uint8_t>(20 * x + y)};
    const Rgb c = TileAt(x * 16, y * 16);
    if (s.samples == 3) {
        return {static_cast<uint8_t>(c.r), static_cast<uint8_t>(c.g), static_cast<uint8_t>(c.b)};
    }
    const uint8_t a = AlphaAt(x, y);
    if (s.extraSamples == 1u) {
        return {Premultiplied(c.r, a), Premultiplied(c.g, a), Premultiplied(c.b, a), a};
    }
    Bytes bytes = {static_cast<uint8_t>(c.r), static_cast<uint8_t>(c.g),
                   static_cast<uint8_t>(c.b), a};
    bytes.resize(s.samples, 0x44);  // further extra samples
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
        for (uint32_t x = 0; x < s.width; ++x) {
            const Bytes pixel = PixelBytes(s, x, y);
            stripData[y / rowsPerStrip].insert(stripData[y / rowsPerStrip].end(), pixel.begin(),
                                               pixel.end());
        }
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
    if (s.extraSamples) fields[338] = {kShort, {*s.extraSamples}};
    fields[282] = {kRational, {72, 1}};  // XResolution, 72/1: a type of field not read here
    for (const auto& [tag, values] : s.moreShorts) fields[tag] = {kShort, values};
    const uint32_t listed = strips - s.missingStrips + s.spareStrips;
    if (!s.leaveOutStripOffsets) fields[273] = {s.stripFieldType, std::vector<uint32_t>(listed)};
    if (!s.leaveOutByteCounts) fields[279] = {s.stripFieldType, std::vector<uint32_t>(listed)};

    // Where everything goes: the header, then the directory and the values that do not fit in
    // their entries, and the strips, in either order.
    const auto sizeOf = [](const Field& f) { return f.values.size() * (f.type == kShort ? 2 : 4); };
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
        directory.U32(static_cast<uint32_t>(f.type == kRational ? f.values.size() / 2
                                                                : f.values.size()));
        Writer packed(s.bigEndian);
        for (uint32_t v : f.values) f.type == kShort ? packed.U16(v) : packed.U32(v);
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
    if (s.samples == 1) return Grey(20 * x + y);
    return Tile(x * 16, y * 16, s.samples == 4 ? AlphaAt(x, y) : uint8_t{255});
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

const char* const kReadableFiles[] = {"blocks-rgb.tif", "blocks-rgb-msb-strips.tif",
                                      "blocks-rgba.tif", "blocks-rgba-associated.tif",
                                      "gradient-grey.tif"};

}  // namespace

TEST(TiffFiles, ImageMagickFilesGiveTheirPixels) {
    RawPicture p;
    ASSERT_TRUE(Tiff(ReadFixture("blocks-rgb.tif"), p));
    EXPECT_EQ(p.width, 64u);
    EXPECT_EQ(p.height, 48u);
    EXPECT_EQ(p.bitsPerPixel, 24);
    EXPECT_FALSE(p.hasAlpha);
    EXPECT_EQ(Mismatches(p, [](uint32_t x, uint32_t y) { return Tile(x, y); }), 0);

    // Big-endian, in strips of 5 rows with their byte counts as SHORT values.
    ASSERT_TRUE(Tiff(ReadFixture("blocks-rgb-msb-strips.tif"), p));
    EXPECT_EQ(p.width, 32u);
    EXPECT_EQ(p.height, 24u);
    EXPECT_EQ(Mismatches(p, [](uint32_t x, uint32_t y) { return Tile(x, y); }), 0);

    ASSERT_TRUE(Tiff(ReadFixture("gradient-grey.tif"), p));
    EXPECT_EQ(p.bitsPerPixel, 8);
    EXPECT_EQ(p.width, 100u);
    EXPECT_EQ(p.height, 75u);
    EXPECT_EQ(Mismatches(p, [](uint32_t x, uint32_t y) { return Grey(GradientAt(x, y, 100, 75)); }),
              0);

    ASSERT_TRUE(Tiff(ReadFixture("blocks-rgba.tif"), p));  // unassociated alpha
    EXPECT_EQ(p.bitsPerPixel, 32);
    EXPECT_TRUE(p.hasAlpha);
    EXPECT_EQ(Mismatches(p, [](uint32_t x, uint32_t y) { return Tile(x, y, RgbaAlphaAt(x, y)); }),
              0);

    ASSERT_TRUE(Tiff(ReadFixture("blocks-rgba-associated.tif"), p));
    EXPECT_EQ(p.bitsPerPixel, 32);
    EXPECT_TRUE(p.hasAlpha);
    int unfit = 0;
    for (uint32_t y = 0; y < p.height; ++y) {
        for (uint32_t x = 0; x < p.width; ++x) {
            const Bgra px = PixelAt(p, x, y);
            const Rgb c = TileAt(x, y);
            const uint8_t a = RgbaAlphaAt(x, y);
            unfit += px.a != a || !StraightColourFits(px.r, c.r, a) ||
                     !StraightColourFits(px.g, c.g, a) || !StraightColourFits(px.b, c.b, a);
        }
    }
    EXPECT_EQ(unfit, 0);
}

TEST(TiffVariants, ByteOrdersFieldTypesStripsAndDirectoryPlacement) {
    RawPicture p;
    for (bool bigEndian : {false, true}) {
        for (uint16_t type : {kShort, kLong}) {
            for (std::optional<uint32_t> rows : {std::optional<uint32_t>{1}, {2}, {5}, {1000}, {}}) {
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
        {"one BitsPerSample value for all samples", [](TiffLayout& s) { s.bits = {8}; }},
        {"compression and planar configuration left to their defaults",
         [](TiffLayout& s) { s.compression.reset(), s.planar.reset(); }},
        {"strips padded past their rows", [](TiffLayout& s) { s.byteCountSlack = 3; }},
        {"more strips listed than the rows need", [](TiffLayout& s) { s.spareStrips = 2; }},
        {"predictor 1, sample format 1, orientation 3 (not applied, as by WIC)",
         [](TiffLayout& s) { s.moreShorts = {{317, {1}}, {339, {1, 1, 1}}, {274, {3}}}; }},
        {"a next directory that is the first again: never followed",
         [](TiffLayout& s) { s.nextDirectoryIsItself = true; }},
        {"RGBA, unassociated",
         [](TiffLayout& s) { s.samples = 4, s.bits = {8, 8, 8, 8}, s.extraSamples = 2; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TiffLayout s;
        c.change(s);
        ASSERT_TRUE(Tiff(MakeTiff(s), p));
        EXPECT_EQ(p.width, s.width);
        EXPECT_EQ(p.bitsPerPixel, s.samples * 8);
        EXPECT_EQ(p.hasAlpha, s.samples == 4);
        EXPECT_EQ(MismatchesOf(p, s), 0);
    }
}

TEST(TiffVariants, AssociatedAlphaIsMadeStraight) {
    TiffLayout s;
    s.width = 26;  // alpha 3 to 255 across a row
    s.height = 3;
    s.samples = 4;
    s.bits = {8, 8, 8, 8};
    s.extraSamples = 1;
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
        one.extraSamples = 1;
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

TEST(TiffRefusals, KindsLeftToWicAndBrokenDirectories) {
    RawPicture p;
    for (const char* name : {"blocks-lzw.tif", "blocks-planar.tif", "blocks-tiled.tif",
                             "blocks-rgb-16.tif", "blocks-palette.tif", "blocks-cmyk.tif",
                             "gradient-min-is-white.tif", "gradient-grey-alpha.tif"}) {
        const Bytes bytes = ReadFixture(name);
        ASSERT_FALSE(bytes.empty()) << name;
        EXPECT_FALSE(Tiff(bytes, p)) << name;
    }

    struct Case {
        const char* what;
        std::function<void(TiffLayout&)> change;
    };
    const Case cases[] = {
        {"LZW", [](TiffLayout& s) { s.compression = 5; }},
        {"PackBits", [](TiffLayout& s) { s.compression = 32773; }},
        {"Deflate", [](TiffLayout& s) { s.compression = 8; }},
        {"white is zero", [](TiffLayout& s) { s.samples = 1, s.photometric = 0, s.bits = {8}; }},
        {"palette", [](TiffLayout& s) { s.samples = 1, s.photometric = 3, s.bits = {8}; }},
        {"CMYK",
         [](TiffLayout& s) { s.samples = 4, s.photometric = 5, s.bits = {8, 8, 8, 8}; }},
        {"YCbCr", [](TiffLayout& s) { s.photometric = 6; }},
        {"no photometric interpretation", [](TiffLayout& s) { s.photometric.reset(); }},
        {"grey with alpha",
         [](TiffLayout& s) {
             s.samples = 2, s.photometric = 1, s.bits = {8, 8}, s.extraSamples = 2;
         }},
        {"grey of three samples", [](TiffLayout& s) { s.photometric = 1; }},
        {"RGB of one sample", [](TiffLayout& s) { s.samples = 1, s.bits = {8}; }},
        {"four samples, no extra sample named",
         [](TiffLayout& s) { s.samples = 4, s.bits = {8}; }},
        {"extra sample of no stated meaning",
         [](TiffLayout& s) { s.samples = 4, s.bits = {8}, s.extraSamples = 0; }},
        {"extra sample on three samples", [](TiffLayout& s) { s.extraSamples = 2; }},
        {"two extra samples",
         [](TiffLayout& s) { s.samples = 5, s.bits = {8}, s.extraSamples = 2; }},
        {"16 bits", [](TiffLayout& s) { s.bits = {16, 16, 16}; }},
        {"4 bits", [](TiffLayout& s) { s.bits = {4}; }},
        {"bits differing by sample", [](TiffLayout& s) { s.bits = {8, 8, 16}; }},
        {"two BitsPerSample values for three samples", [](TiffLayout& s) { s.bits = {8, 8}; }},
        {"no BitsPerSample (1 bit)", [](TiffLayout& s) { s.bits.clear(); }},
        {"floating-point samples", [](TiffLayout& s) { s.moreShorts = {{339, {3}}}; }},
        {"signed samples", [](TiffLayout& s) { s.moreShorts = {{339, {1, 2, 1}}}; }},
        {"horizontal predictor", [](TiffLayout& s) { s.moreShorts = {{317, {2}}}; }},
        {"separate planes", [](TiffLayout& s) { s.planar = 2; }},
        {"tiles", [](TiffLayout& s) { s.moreShorts = {{322, {16}}}; }},
        {"no width", [](TiffLayout& s) { s.width = 0; }},
        {"wider than 30000", [](TiffLayout& s) { s.width = 30001, s.height = 1; }},
        {"no rows per strip", [](TiffLayout& s) { s.rowsPerStrip = 0; }},
        {"no strip offsets", [](TiffLayout& s) { s.leaveOutStripOffsets = true; }},
        {"no strip byte counts", [](TiffLayout& s) { s.leaveOutByteCounts = true; }},
        {"a strip offset missing", [](TiffLayout& s) { s.missingStrips = 1; }},
        {"strips shorter than their rows", [](TiffLayout& s) { s.byteCountSlack = -1; }},
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
        {"not TIFF", edited(0, {'I', 'M'})},
        {"mixed byte order marks", edited(0, {'I', 'M'})},
        {"BigTIFF", edited(2, {43, 0})},
        {"version 41", edited(2, {41, 0})},
        {"directory past the end", edited(4, {0xF0, 0xFF, 0xFF, 0x7F})},
        {"directory at the last byte", edited(4, {static_cast<uint8_t>(plain.size() - 1),
                                                  static_cast<uint8_t>((plain.size() - 1) >> 8), 0,
                                                  0})},
        {"no entries", edited(directory, {0, 0})},
        {"more entries than the file holds", edited(directory, {0xFF, 0xFF})},
        {"width as a RATIONAL", edited(entry(0) + 2, {kRational, 0})},
        {"two widths in one field", edited(entry(0) + 4, {2, 0, 0, 0})},
        {"BitsPerSample values past the end",
         edited(entry(2) + 8, {0xF0, 0xFF, 0xFF, 0xFF})},
        {"BitsPerSample count running past the end",
         edited(entry(2) + 4, {0xFF, 0xFF, 0xFF, 0x3F})},
        {"strip offset past the end", [&] {
             Bytes b = plain;
             const uint32_t values = b[entry(5) + 8] | b[entry(5) + 9] << 8;
             b[values + 3] = 0x7F;  // the first strip's offset, high byte
             return b;
         }()},
        {"strip offsets of type ASCII", edited(entry(5) + 2, {2, 0})},
        {"image length of type BYTE", edited(entry(1) + 2, {1, 0})},
    };
    for (const auto& d : damaged) EXPECT_FALSE(Tiff(d.bytes, p)) << d.what;
    EXPECT_FALSE(Tiff(ReadFixture("blocks-rgb.png"), p)) << "PNG";
    EXPECT_FALSE(Tiff(Bytes{'I', 'I', 42, 0}, p)) << "header cut short";
}

TEST(TiffDamage, TruncatedAndCorruptedFilesAreRefusedOrReadAlike) {
    std::vector<std::pair<std::string, Bytes>> files;
    for (const char* name : kReadableFiles) files.emplace_back(name, ReadFixture(name));
    TiffLayout first;
    first.directoryFirst = true;
    first.bigEndian = true;
    first.rowsPerStrip = 1;
    files.emplace_back("written, directory first", MakeTiff(first));
    uint32_t seed = 5;
    const auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
    for (const auto& [name, whole] : files) {
        SCOPED_TRACE(name);
        RawPicture p;
        ASSERT_TRUE(Tiff(whole, p));
        const Bytes pixels = p.bgra;
        // A cut file is refused, or read alike where only values never read were cut off.
        for (size_t length = 0; length < whole.size(); ++length) {
            const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length));
            if (Tiff(cut, p)) {
                EXPECT_EQ(p.bgra, pixels) << length;
            }
        }
        // The strips and the directory's entries cannot be cut.
        const bool big = whole[0] == 'M';
        const auto u32 = [&whole, big](size_t at) {
            return big ? uint32_t{whole[at]} << 24 | whole[at + 1] << 16 | whole[at + 2] << 8 |
                             whole[at + 3]
                       : uint32_t{whole[at + 3]} << 24 | whole[at + 2] << 16 |
                             whole[at + 1] << 8 | whole[at];
        };
        const uint32_t directory = u32(4);
        const uint32_t entries = big ? whole[directory] << 8 | whole[directory + 1]
                                     : whole[directory + 1] << 8 | whole[directory];
        const size_t directoryEnd = directory + 2 + 12 * entries;
        const size_t pixelBytes = size_t{p.width} * p.height * (p.bitsPerPixel / 8);
        for (size_t length = 0; length < std::max(directoryEnd, 8 + pixelBytes); ++length) {
            if (length < directoryEnd || (directory > 8 && length < 8 + pixelBytes)) {
                const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length));
                EXPECT_FALSE(Tiff(cut, p)) << length;
            }
        }
        for (int round = 0; round < 2000; ++round) {
            Bytes b = whole;
            const size_t at = round % 2 ? next() % b.size()
                                        : directory + next() % (directoryEnd - directory);
            b[at] = static_cast<uint8_t>(next() >> 24);
            if (Tiff(b, p)) {
                EXPECT_EQ(p.bgra.size(), size_t{p.width} * p.height * 4);
            }
        }
    }
}
