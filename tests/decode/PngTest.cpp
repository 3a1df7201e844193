// The PNG reader: files another program wrote, every filter on every colour type written here,
// transparency, chunk layouts, every refusal, and damaged or cut-short files.
#include "decode/Png.h"
#include "decode/Fixtures.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include <cstring>

using namespace decode_tests;
using decode::RawPicture;
using decode::ReadPng;

namespace {

bool Png(const Bytes& b, RawPicture& p) {
    return ReadPng(b.data(), b.size(), p);
}

Bytes ChunkOf(const char* type, const Bytes& data) {
    Bytes typed(type, type + 4);
    typed.insert(typed.end(), data.begin(), data.end());
    Writer out(true);
    out.U32(static_cast<uint32_t>(data.size()));
    out.Append(typed);
    out.U32(static_cast<uint32_t>(crc32(0, typed.data(), static_cast<uInt>(typed.size()))));
    return out.bytes;
}

Bytes HeaderData(uint32_t width, uint32_t height, uint8_t depth, uint8_t colourType,
                 uint8_t interlace = 0, uint8_t compression = 0, uint8_t filterMethod = 0) {
    Writer out(true);
    out.U32(width), out.U32(height), out.U8(depth), out.U8(colourType), out.U8(compression);
    out.U8(filterMethod), out.U8(interlace);
    return out.bytes;
}

Bytes Deflate(const Bytes& raw) {
    uLongf length = compressBound(static_cast<uLong>(raw.size()));
    Bytes packed(length);
    EXPECT_EQ(compress2(packed.data(), &length, raw.data(), static_cast<uLong>(raw.size()), 9),
              Z_OK);
    packed.resize(length);
    return packed;
}

uint32_t ChannelsOf(uint8_t colourType) {
    const uint32_t channels[7] = {1, 0, 3, 1, 2, 0, 4};
    return channels[colourType];
}

// Sample k of pixel (x, y): flat patches, where the distances Paeth's predictor compares tie,
// between samples that change from pixel to pixel. Palette files take it modulo their palette.
uint8_t SampleAt(uint32_t x, uint32_t y, uint32_t k) {
    if ((x / 3 + y / 2) % 3 == 0) return static_cast<uint8_t>(90 + 40 * k);
    return static_cast<uint8_t>((x * 73 + y * 151 + k * 41) ^ (x * y * 29));
}

Rgb PaletteColour(uint32_t i) {
    return {static_cast<int>(i * 40 % 256), static_cast<int>((255 - i * 40) % 256),
            static_cast<int>(i * 7 % 256)};
}

// The filter the encoder applies, written as the format describes it.
uint8_t Predict(uint8_t filter, int a, int b, int c) {
    switch (filter) {
        case 1:
            return static_cast<uint8_t>(a);
        case 2:
            return static_cast<uint8_t>(b);
        case 3:
            return static_cast<uint8_t>((a + b) / 2);
        case 4: {
            const int p = a + b - c;
            const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
            if (pa <= pb && pa <= pc) return static_cast<uint8_t>(a);
            if (pb <= pc) return static_cast<uint8_t>(b);
            return static_cast<uint8_t>(c);
        }
        default:
            return 0;
    }
}

struct PngLayout {
    uint32_t width = 7;
    uint32_t height = 5;
    uint8_t colourType = 2;
    std::vector<uint8_t> filters = {0};  // row y takes filters[y % size]
    uint32_t paletteEntries = 6;         // colour type 3; indices are taken modulo indexModulo
    uint32_t indexModulo = 6;
    Bytes transparency;       // the tRNS chunk's data, where not empty
    uint32_t dataRows = 0;    // rows of image data; 0: as many as the picture has
    size_t idatSize = 0;      // the image data in IDAT chunks of this many bytes; 0: one chunk
    bool emptyIdats = false;  // and a zero-length IDAT before each
    bool ancillary = false;   // text and gamma chunks before and after the image data
};

// The samples of row y, before filtering.
Bytes RowSamples(const PngLayout& s, uint32_t y) {
    const uint32_t channels = ChannelsOf(s.colourType);
    Bytes row;
    for (uint32_t x = 0; x < s.width; ++x) {
        for (uint32_t k = 0; k < channels; ++k) {
            const uint8_t v = SampleAt(x, y, k);
            row.push_back(s.colourType == 3 ? static_cast<uint8_t>(v % s.indexModulo) : v);
        }
    }
    return row;
}

Bytes FilteredData(const PngLayout& s) {
    const uint32_t rows = s.dataRows ? s.dataRows : s.height;
    const size_t bpp = ChannelsOf(s.colourType);
    Bytes data;
    Bytes prior(s.width * bpp, 0);
    for (uint32_t y = 0; y < rows; ++y) {
        const Bytes row = RowSamples(s, y);
        const uint8_t filter = s.filters[y % s.filters.size()];
        data.push_back(filter);
        for (size_t i = 0; i < row.size(); ++i) {
            const int a = i >= bpp ? row[i - bpp] : 0;
            const int c = i >= bpp ? prior[i - bpp] : 0;
            data.push_back(static_cast<uint8_t>(row[i] - Predict(filter, a, prior[i], c)));
        }
        prior = row;
    }
    return data;
}

std::vector<Bytes> MakeChunks(const PngLayout& s) {
    std::vector<Bytes> chunks;
    chunks.push_back(ChunkOf("IHDR", HeaderData(s.width, s.height, 8, s.colourType)));
    if (s.ancillary) chunks.push_back(ChunkOf("tEXt", {'T', 'i', 't', 'l', 'e', 0, 'x'}));
    if (s.colourType == 3) {
        Bytes palette;
        for (uint32_t i = 0; i < s.paletteEntries; ++i) {
            const Rgb c = PaletteColour(i);
            palette.insert(palette.end(), {static_cast<uint8_t>(c.r), static_cast<uint8_t>(c.g),
                                           static_cast<uint8_t>(c.b)});
        }
        chunks.push_back(ChunkOf("PLTE", palette));
    }
    if (!s.transparency.empty()) chunks.push_back(ChunkOf("tRNS", s.transparency));
    if (s.ancillary) chunks.push_back(ChunkOf("gAMA", {0, 0, 0xB1, 0x8F}));
    const Bytes packed = Deflate(FilteredData(s));
    const size_t step = s.idatSize ? s.idatSize : packed.size();
    for (size_t at = 0; at < packed.size(); at += step) {
        if (s.emptyIdats) chunks.push_back(ChunkOf("IDAT", {}));
        const size_t end = std::min(packed.size(), at + step);
        chunks.push_back(ChunkOf("IDAT", Bytes(packed.begin() + static_cast<std::ptrdiff_t>(at),
                                               packed.begin() + static_cast<std::ptrdiff_t>(end))));
    }
    if (s.ancillary) chunks.push_back(ChunkOf("tEXt", {'E', 'n', 'd', 0, 'y'}));
    chunks.push_back(ChunkOf("IEND", {}));
    return chunks;
}

Bytes Join(const std::vector<Bytes>& chunks) {
    Bytes file = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    for (const Bytes& c : chunks) file.insert(file.end(), c.begin(), c.end());
    return file;
}

Bytes MakePng(const PngLayout& s) {
    return Join(MakeChunks(s));
}

size_t IndexOfChunk(const std::vector<Bytes>& chunks, const char* type) {
    for (size_t i = 0; i < chunks.size(); ++i) {
        if (std::memcmp(chunks[i].data() + 4, type, 4) == 0) return i;
    }
    return chunks.size();
}

// What the reader should give for pixel (x, y) of a written file.
Bgra Expected(const PngLayout& s, uint32_t x, uint32_t y) {
    const auto sample = [&](uint32_t k) { return SampleAt(x, y, k); };
    const Bytes& t = s.transparency;
    const auto key = [&t](size_t i) { return t[i] << 8 | t[i + 1]; };
    switch (s.colourType) {
        case 0: {
            const bool keyed = t.size() == 2 && sample(0) == key(0);
            return Grey(sample(0), keyed ? 0 : 255);
        }
        case 2: {
            const bool keyed = t.size() == 6 && sample(0) == key(0) && sample(1) == key(2) &&
                               sample(2) == key(4);
            return {sample(2), sample(1), sample(0), static_cast<uint8_t>(keyed ? 0 : 255)};
        }
        case 3: {
            const uint32_t index = sample(0) % s.indexModulo;
            if (index >= s.paletteEntries) return {0, 0, 0, 255};
            const Rgb c = PaletteColour(index);
            return {static_cast<uint8_t>(c.b), static_cast<uint8_t>(c.g),
                    static_cast<uint8_t>(c.r), index < t.size() ? t[index] : uint8_t{255}};
        }
        case 4:
            return Grey(sample(0), sample(1));
        default:
            return {sample(2), sample(1), sample(0), sample(3)};
    }
}

int MismatchesOf(const RawPicture& p, const PngLayout& s) {
    return Mismatches(p, [&s](uint32_t x, uint32_t y) { return Expected(s, x, y); });
}

const char* const kReadableFiles[] = {
    "blocks-rgb.png",          "blocks-rgb-trns.png",      "blocks-rgba.png",
    "blocks-palette.png",      "blocks-palette-trns.png",  "gradient-grey.png",
    "gradient-grey-trns.png",  "gradient-grey-alpha.png",  "photo-rgb.png",
};

}  // namespace

TEST(PngFiles, ImageMagickFilesOfEveryColourTypeGiveTheirPixels) {
    const struct {
        const char* name;
        uint16_t bits;
        bool alpha;
        std::function<Bgra(uint32_t, uint32_t)> expected;
    } files[] = {
        {"blocks-rgb.png", 24, false, [](uint32_t x, uint32_t y) { return Tile(x, y); }},
        {"blocks-rgb-trns.png", 24, true,
         [](uint32_t x, uint32_t y) {
             const Rgb c = TileAt(x, y);
             return Tile(x, y, c.r == 30 && c.g == 30 && c.b == 30 ? 0 : 255);
         }},
        {"blocks-rgba.png", 32, true,
         [](uint32_t x, uint32_t y) { return Tile(x, y, RgbaAlphaAt(x, y)); }},
        {"blocks-palette.png", 8, false, [](uint32_t x, uint32_t y) { return Tile(x, y); }},

        {"gradient-grey.png", 8, false,
         [](uint32_t x, uint32_t y) { return Grey(GradientAt(x, y, 100, 75)); }},
        {"gradient-grey-trns.png", 8, true,
         [](uint32_t x, uint32_t y) {
             const int level = GradientAt(x, y, 100, 75);
             return Grey(level, level == 128 ? 0 : 255);
         }},
        {"gradient-grey-alpha.png", 16, true,
         [](uint32_t x, uint32_t y) { return Grey(GradientAt(x, y, 100, 75), GreyAlphaAt(x, y)); }},
    };
    RawPicture p;
    for (const auto& file : files) {
        SCOPED_TRACE(file.name);
        ASSERT_TRUE(Png(ReadFixture(file.name), p));
        const bool blocks = file.name[0] == 'b';
        EXPECT_EQ(p.width, blocks ? 64u : 100u);
        EXPECT_EQ(p.height, blocks ? 48u : 75u);
        EXPECT_EQ(p.bitsPerPixel, file.bits);
        EXPECT_EQ(p.hasAlpha, file.alpha);
        ASSERT_EQ(p.bgra.size(), size_t{p.width} * p.height * 4);
        EXPECT_EQ(Mismatches(p, file.expected), 0);
    }
}

TEST(PngFiles, ImageMagickPaletteWithAlphaGivesItsPixels) {
    // ImageMagick's quantizer premultiplies: translucent colours come out a level off the
    // tiles', and the transparent tile black.
    RawPicture p;
    ASSERT_TRUE(Png(ReadFixture("blocks-palette-trns.png"), p));
    EXPECT_EQ(p.bitsPerPixel, 8);
    EXPECT_TRUE(p.hasAlpha);
    int wrong = 0;
    for (uint32_t y = 0; y < p.height; ++y) {
        for (uint32_t x = 0; x < p.width; ++x) {
            const Bgra px = PixelAt(p, x, y);
            const Rgb c = px.a == 0 ? Rgb{0, 0, 0} : TileAt(x, y);
            wrong += px.a != PaletteAlphaAt(x, y) || std::abs(px.r - c.r) > 1 ||
                     std::abs(px.g - c.g) > 1 || std::abs(px.b - c.b) > 1;
        }
    }
    EXPECT_EQ(wrong, 0);
}

TEST(PngFiles, PhotoGivesThePixelsItWasMadeFrom) {
    Ppm ppm;
    ASSERT_TRUE(ParsePpm(ReadFixture("photo-rgb.ppm"), ppm));
    RawPicture p;
    ASSERT_TRUE(Png(ReadFixture("photo-rgb.png"), p));
    ASSERT_EQ(p.width, ppm.width);
    ASSERT_EQ(p.height, ppm.height);
    EXPECT_EQ(Mismatches(p,
                         [&ppm](uint32_t x, uint32_t y) {
                             const uint8_t* rgb = &ppm.rgb[(size_t{y} * ppm.width + x) * 3];
                             return Bgra{rgb[2], rgb[1], rgb[0], 255};
                         }),
              0);
}

TEST(PngVariants, EveryFilterOnEveryColourTypeAndWidth) {
    const std::vector<std::vector<uint8_t>> filterSets = {{0}, {1}, {2}, {3}, {4}, {4, 3, 2, 1, 0}};
    RawPicture p;
    for (uint8_t colourType : {0, 2, 3, 4, 6}) {
        for (const auto& filters : filterSets) {
            // One pixel, two, and an odd width whose rows end inside a 4-byte word.
            for (uint32_t width : {1u, 2u, 33u}) {
                SCOPED_TRACE(testing::Message() << "colour type " << int{colourType} << ", filter "
                                                << int{filters[0]} << " of " << filters.size()
                                                << ", width " << width);
                PngLayout s;
                s.width = width;
                s.height = 9;
                s.colourType = colourType;
                s.filters = filters;
                s.paletteEntries = s.indexModulo = 200;
                ASSERT_TRUE(Png(MakePng(s), p));
                EXPECT_EQ(p.width, width);
                EXPECT_EQ(p.height, 9u);
                EXPECT_EQ(p.bitsPerPixel, ChannelsOf(colourType) * 8);
                EXPECT_EQ(p.hasAlpha, colourType == 4 || colourType == 6);
                EXPECT_EQ(MismatchesOf(p, s), 0);
            }
        }
    }
}

TEST(PngVariants, TransparencyChunksAndPaletteEdges) {
    RawPicture p;
    struct Case {
        const char* what;
        uint8_t colourType;
        Bytes transparency;
        uint32_t paletteEntries = 6;
        uint32_t indexModulo = 6;
    };
    const Case cases[] = {
        {"grey key, on the flat patches", 0, {0, 90}},
        {"grey key above 255 matches nothing", 0, {1, 90}},
        {"RGB key, on the flat patches", 2, {0, 90, 0, 130, 0, 170}},
        {"RGB key differing in blue only", 2, {0, 90, 0, 130, 0, 171}},
        {"palette alpha for some entries", 3, {0, 70, 255, 128}},
        {"palette alpha for every entry", 3, {9, 8, 7, 6, 5, 4}},
        {"indices past a short palette show opaque black", 3, {}, 4, 7},
        {"tRNS beside an alpha channel is passed over", 6, {0, 90}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PngLayout s;
        s.width = 13;
        s.height = 6;
        s.colourType = c.colourType;
        s.filters = {4, 1};
        s.transparency = c.transparency;
        s.paletteEntries = c.paletteEntries;
        s.indexModulo = c.indexModulo;
        ASSERT_TRUE(Png(MakePng(s), p));
        EXPECT_EQ(p.hasAlpha, !c.transparency.empty() || c.colourType == 6);
        EXPECT_EQ(MismatchesOf(p, s), 0);
    }
    // The keys do make pixels transparent (so that the cases above test something).
    PngLayout grey;
    grey.colourType = 0;
    grey.transparency = {0, 90};
    ASSERT_TRUE(Png(MakePng(grey), p));
    EXPECT_EQ(PixelAt(p, 0, 0).a, 0);
    EXPECT_EQ(PixelAt(p, 0, 0).g, 90);  // the colour stays
}

TEST(PngVariants, ChunkLayoutsAndReuseOfThePicture) {
    RawPicture p;
    PngLayout s;
    s.width = 21;
    s.height = 11;
    s.colourType = 6;
    s.filters = {0, 1, 2, 3, 4};
    for (size_t idatSize : {size_t{1}, size_t{7}, size_t{0}}) {
        for (bool empty : {false, true}) {
            SCOPED_TRACE(testing::Message() << "IDAT of " << idatSize << ", empty ones " << empty);
            s.idatSize = idatSize;
            s.emptyIdats = empty;
            s.ancillary = empty;
            ASSERT_TRUE(Png(MakePng(s), p));
            EXPECT_EQ(MismatchesOf(p, s), 0);
        }
    }

    // Bytes after the end of the zlib stream, inside the last IDAT, are passed over; so is a
    // suggested palette in an RGB file.
    std::vector<Bytes> chunks = MakeChunks(PngLayout{});
    const size_t idat = IndexOfChunk(chunks, "IDAT");
    Bytes data(chunks[idat].begin() + 8, chunks[idat].end() - 4);
    data.insert(data.end(), {1, 2, 3});
    chunks[idat] = ChunkOf("IDAT", data);
    chunks.insert(chunks.begin() + 1, ChunkOf("PLTE", {1, 2, 3, 4, 5, 6}));
    ASSERT_TRUE(Png(Join(chunks), p));
    EXPECT_EQ(MismatchesOf(p, PngLayout{}), 0);

    // The caller's picture is reused: a large one, then a small one.
    PngLayout large;
    large.width = 300;
    large.height = 200;
    ASSERT_TRUE(Png(MakePng(large), p));
    ASSERT_TRUE(Png(MakePng(PngLayout{}), p));
    EXPECT_EQ(p.width, 7u);
    EXPECT_EQ(p.bgra.size(), size_t{7} * 5 * 4);
    EXPECT_EQ(MismatchesOf(p, PngLayout{}), 0);
}

TEST(PngVariants, ImageDataIsGuardedByItsAdler32RatherThanItsCrc) {
    PngLayout s;
    s.height = 40;
    s.filters = {1};
    const std::vector<Bytes> chunks = MakeChunks(s);
    const size_t idat = IndexOfChunk(chunks, "IDAT");
    RawPicture p;

    // A wrong IDAT CRC alone is passed over: the zlib stream's checksum covers the same bytes.
    std::vector<Bytes> badCrc = chunks;
    badCrc[idat].back() ^= 0x55;
    EXPECT_TRUE(Png(Join(badCrc), p));

    // Any change in the data itself is caught, by zlib's checks or the checksum at its end.
    for (size_t at = 8; at + 4 < chunks[idat].size(); ++at) {
        std::vector<Bytes> changed = chunks;
        changed[idat][at] ^= 0x01;
        EXPECT_FALSE(Png(Join(changed), p)) << "byte " << at - 8 << " of the image data";
    }
}

TEST(PngRefusals, KindsLeftToWicAndBrokenStructure) {
    RawPicture p;
    for (const char* name :
         {"blocks-rgb-16.png", "blocks-rgb-interlaced.png", "blocks-palette-4.png"}) {
        const Bytes bytes = ReadFixture(name);
        ASSERT_FALSE(bytes.empty()) << name;
        EXPECT_FALSE(Png(bytes, p)) << name;
    }

    struct Case {
        std::string what;
        Bytes bytes;
    };
    std::vector<Case> cases;
    const PngLayout plain;
    const auto withHeader = [&plain](const Bytes& header) {
        std::vector<Bytes> chunks = MakeChunks(plain);
        chunks[0] = ChunkOf("IHDR", header);
        return Join(chunks);
    };
    // Depths other than 8, for every colour type, and colour types that do not exist.
    for (uint8_t colourType : {0, 2, 3, 4, 6}) {
        for (uint8_t depth : {1, 2, 4, 16}) {
            cases.push_back({"depth " + std::to_string(depth) + ", colour type " +
                                 std::to_string(colourType),
                             withHeader(HeaderData(7, 5, depth, colourType))});
        }
    }
    for (uint8_t colourType : {1, 5, 7}) {
        cases.push_back({"colour type " + std::to_string(colourType),
                         withHeader(HeaderData(7, 5, 8, colourType))});
    }
    cases.push_back({"Adam7", withHeader(HeaderData(7, 5, 8, 2, 1))});
    cases.push_back({"unknown interlace method", withHeader(HeaderData(7, 5, 8, 2, 2))});
    cases.push_back({"unknown compression", withHeader(HeaderData(7, 5, 8, 2, 0, 1))});
    cases.push_back({"unknown filter method", withHeader(HeaderData(7, 5, 8, 2, 0, 0, 1))});
    cases.push_back({"no width", withHeader(HeaderData(0, 5, 8, 2))});
    cases.push_back({"no height", withHeader(HeaderData(7, 0, 8, 2))});
    cases.push_back({"wider than 30000", withHeader(HeaderData(30001, 1, 8, 2))});
    cases.push_back({"width over 2^31", withHeader(HeaderData(0x80000001u, 1, 8, 2))});
    cases.push_back({"over 1 GiB of output", withHeader(HeaderData(30000, 30000, 8, 2))});
    cases.push_back({"within the limits, but not the data's size",
                     withHeader(HeaderData(16000, 16000, 8, 2))});
    cases.push_back({"IHDR of 14 bytes", [&] {
                         Bytes header = HeaderData(7, 5, 8, 2);
                         header.push_back(0);
                         return withHeader(header);
                     }()});

    const auto edited = [](const PngLayout& s, auto change) {
        std::vector<Bytes> chunks = MakeChunks(s);
        change(chunks);
        return Join(chunks);
    };
    PngLayout palette;
    palette.colourType = 3;
    PngLayout grey;
    grey.colourType = 0;
    cases.push_back({"no signature", [&] {
                         Bytes b = MakePng(plain);
                         b[1] = 'p';
                         return b;
                     }()});
    cases.push_back({"IHDR not first", edited(plain, [](std::vector<Bytes>& c) {
                         std::swap(c[0], c[1]);
                     })});
    cases.push_back({"IHDR twice", edited(plain, [](std::vector<Bytes>& c) {
                         c.insert(c.begin() + 1, c[0]);
                     })});
    cases.push_back({"IHDR CRC", edited(plain, [](std::vector<Bytes>& c) { c[0].back() ^= 1; })});
    cases.push_back({"unknown critical chunk", edited(plain, [](std::vector<Bytes>& c) {
                         c.insert(c.begin() + 1, ChunkOf("ABCD", {1, 2}));
                     })});
    cases.push_back({"IEND before the image data", edited(plain, [](std::vector<Bytes>& c) {
                         c.insert(c.begin() + 1, ChunkOf("IEND", {}));
                     })});
    cases.push_back({"no image data", edited(plain, [](std::vector<Bytes>& c) {
                         c.erase(c.begin() + static_cast<std::ptrdiff_t>(IndexOfChunk(c, "IDAT")));
                     })});
    cases.push_back({"no IEND", edited(plain, [](std::vector<Bytes>& c) { c.pop_back(); })});
    cases.push_back({"palette type without a palette", edited(palette, [](std::vector<Bytes>& c) {
                         c.erase(c.begin() + static_cast<std::ptrdiff_t>(IndexOfChunk(c, "PLTE")));
                     })});
    cases.push_back({"palette in a grey file", edited(grey, [](std::vector<Bytes>& c) {
                         c.insert(c.begin() + 1, ChunkOf("PLTE", {1, 2, 3}));
                     })});
    cases.push_back({"two palettes", edited(palette, [](std::vector<Bytes>& c) {
                         c.insert(c.begin() + 1, c[IndexOfChunk(c, "PLTE")]);
                     })});
    cases.push_back({"palette of 257 entries", edited(palette, [](std::vector<Bytes>& c) {
                         c[IndexOfChunk(c, "PLTE")] = ChunkOf("PLTE", Bytes(257 * 3, 9));
                     })});
    cases.push_back({"palette not in whole entries", edited(palette, [](std::vector<Bytes>& c) {
                         c[IndexOfChunk(c, "PLTE")] = ChunkOf("PLTE", Bytes(17, 9));
                     })});
    cases.push_back({"empty palette", edited(palette, [](std::vector<Bytes>& c) {
                         c[IndexOfChunk(c, "PLTE")] = ChunkOf("PLTE", {});
                     })});
    cases.push_back({"palette CRC", edited(palette, [](std::vector<Bytes>& c) {
                         c[IndexOfChunk(c, "PLTE")].back() ^= 1;
                     })});
    cases.push_back({"tRNS before the palette", edited(palette, [](std::vector<Bytes>& c) {
                         c.insert(c.begin() + 1, ChunkOf("tRNS", {1}));
                     })});
    cases.push_back({"tRNS longer than the palette", edited(palette, [](std::vector<Bytes>& c) {
                         c.insert(c.begin() + 2, ChunkOf("tRNS", Bytes(7, 1)));
                     })});
    cases.push_back({"two tRNS", edited(palette, [](std::vector<Bytes>& c) {
                         c.insert(c.begin() + 2, ChunkOf("tRNS", {1}));
                         c.insert(c.begin() + 2, ChunkOf("tRNS", {1}));
                     })});
    cases.push_back({"tRNS CRC", edited(palette, [](std::vector<Bytes>& c) {
                         c.insert(c.begin() + 2, ChunkOf("tRNS", {1}));
                         c[2].back() ^= 1;
                     })});
    cases.push_back({"grey tRNS of 6 bytes", edited(grey, [](std::vector<Bytes>& c) {
                         c.insert(c.begin() + 1, ChunkOf("tRNS", Bytes(6, 0)));
                     })});
    cases.push_back({"RGB tRNS of 2 bytes", edited(plain, [](std::vector<Bytes>& c) {
                         c.insert(c.begin() + 1, ChunkOf("tRNS", Bytes(2, 0)));
                     })});
    cases.push_back({"chunk length over 2^31", edited(plain, [](std::vector<Bytes>& c) {
                         c[1][0] = 0x80;
                     })});
    cases.push_back({"image data interrupted by another chunk", [&] {
                         PngLayout s;
                         s.idatSize = 5;
                         return edited(s, [](std::vector<Bytes>& c) {
                             c.insert(c.begin() + static_cast<std::ptrdiff_t>(IndexOfChunk(c, "IDAT")) +
                                          1,
                                      ChunkOf("tEXt", {'a', 0, 'b'}));
                         });
                     }()});
    PngLayout shortData;
    shortData.dataRows = 4;
    cases.push_back({"a row of image data missing", MakePng(shortData)});
    PngLayout longData;
    longData.dataRows = 6;
    cases.push_back({"a row of image data too many", MakePng(longData)});
    PngLayout badFilter;
    badFilter.filters = {1, 5};
    cases.push_back({"filter type 5", MakePng(badFilter)});
    cases.push_back({"zlib stream with a preset dictionary", edited(plain, [](std::vector<Bytes>& c) {
                         const Bytes raw = FilteredData(PngLayout{});
                         z_stream z{};
                         deflateInit(&z, 9);
                         const Bytef dictionary[] = {1, 2, 3, 4};
                         deflateSetDictionary(&z, dictionary, sizeof dictionary);
                         Bytes packed(compressBound(static_cast<uLong>(raw.size())) + 16);
                         z.next_in = const_cast<Bytef*>(raw.data());
                         z.avail_in = static_cast<uInt>(raw.size());
                         z.next_out = packed.data();
                         z.avail_out = static_cast<uInt>(packed.size());
                         deflate(&z, Z_FINISH);
                         packed.resize(z.total_out);
                         deflateEnd(&z);
                         c[IndexOfChunk(c, "IDAT")] = ChunkOf("IDAT", packed);
                     })});
    cases.push_back({"JPEG", ReadFixture("blocks-444.jpg")});
    cases.push_back({"TIFF", ReadFixture("blocks-rgb.tif")});
    const Bytes whole = MakePng(plain);
    cases.push_back({"signature alone", Bytes(whole.begin(), whole.begin() + 8)});

    for (const Case& c : cases) EXPECT_FALSE(Png(c.bytes, p)) << c.what;
    EXPECT_TRUE(Png(MakePng(plain), p)) << "the plain file the cases start from";
    EXPECT_TRUE(Png(MakePng(palette), p)) << "the plain file the cases start from";
    EXPECT_TRUE(Png(MakePng(grey), p)) << "the plain file the cases start from";
}

TEST(PngDamage, TruncatedAndCorruptedFilesAreRefusedOrRead) {
    std::vector<std::pair<std::string, Bytes>> files;
    for (const char* name : kReadableFiles) files.emplace_back(name, ReadFixture(name));
    PngLayout paeth;
    paeth.width = 17;
    paeth.height = 12;
    paeth.colourType = 6;
    paeth.filters = {4, 3};
    paeth.idatSize = 50;
    paeth.ancillary = true;
    files.emplace_back("written RGBA in many IDATs, text after them", MakePng(paeth));
    uint32_t seed = 7;
    const auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
    for (const auto& [name, whole] : files) {
        SCOPED_TRACE(name);
        RawPicture p;
        ASSERT_TRUE(Png(whole, p));
        // Anything up to the end of IEND missing: refused.
        for (size_t length = 0; length < whole.size(); ++length) {
            const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length));
            EXPECT_FALSE(Png(cut, p)) << length;
        }
        for (int round = 0; round < 1000; ++round) {
            Bytes b = whole;
            const size_t at = round % 2 ? next() % b.size() : next() % 64 % b.size();
            b[at] = static_cast<uint8_t>(next() >> 24);
            if (Png(b, p)) {
                EXPECT_EQ(p.bgra.size(), size_t{p.width} * p.height * 4);
            }
        }
    }
}
