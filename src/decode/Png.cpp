#include "decode/Png.h"

#include "base/ByteCursor.h"
#include "decode/Limits.h"
#include "decode/PixelRows.h"
#include "decode/RowTarget.h"

#include <emmintrin.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <vector>

// How the work is split: chunks are walked through ByteCursor, each one whole within the
// buffer (length, type, data and CRC) before any of it is used. The image data of all IDAT
// chunks forms one zlib stream, inflated a row at a time (its filter byte and its samples) into
// one buffer, then unfiltered and converted in the same pass into the output, whose previous
// row serves as the row above. Nothing is allocated per row.

// The filters run on SSE2, which every x86-64 processor has.
#ifndef __SSE2__
#error "decode/Png.cpp needs SSE2"
#endif

namespace decode {
namespace {

constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
constexpr uint32_t kMaxChunkLength = 0x7FFFFFFF;
constexpr uint64_t kMaxInflation = 1032;
// Image data inflated in one go: many rows, still well within the processor's caches.
constexpr size_t kBatchBytes = 64 * 1024;

constexpr uint32_t ChunkType(const char (&name)[5]) {
    return uint32_t{static_cast<uint8_t>(name[0])} << 24 |
           uint32_t{static_cast<uint8_t>(name[1])} << 16 |
           uint32_t{static_cast<uint8_t>(name[2])} << 8 | uint32_t{static_cast<uint8_t>(name[3])};
}

constexpr uint32_t kIhdr = ChunkType("IHDR");
constexpr uint32_t kPlte = ChunkType("PLTE");
constexpr uint32_t kTrns = ChunkType("tRNS");
constexpr uint32_t kIdat = ChunkType("IDAT");
constexpr uint32_t kIend = ChunkType("IEND");

// A chunk whose type starts with an upper-case letter must be understood to show the picture.
constexpr bool IsCritical(uint32_t type) {
    return (type & 0x20000000u) == 0;
}

inline uint32_t LoadBigEndian32(const uint8_t* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

struct Chunk {
    uint32_t type = 0;
    const uint8_t* data = nullptr;  // `length` bytes, then the CRC; the type just before
    uint32_t length = 0;
};

// The next chunk, when all of it is within the buffer; the cursor then stands after it.
bool NextChunk(const uint8_t* base, ByteCursor& c, Chunk& chunk) {
    uint8_t header[8];
    if (!c.ReadBytes(header, 8)) return false;
    const uint32_t length = LoadBigEndian32(header);
    if (length > kMaxChunkLength || length > c.Remaining() || c.Remaining() - length < 4) {
        return false;
    }
    chunk.type = LoadBigEndian32(header + 4);
    chunk.data = base + c.Position();
    chunk.length = length;
    return c.Skip(size_t{length} + 4);
}

bool CrcMatches(const Chunk& chunk) {
    uLong crc = crc32(0L, chunk.data - 4, 4);
    crc = crc32(crc, chunk.data, chunk.length);
    return crc == LoadBigEndian32(chunk.data + chunk.length);
}

// The concatenated data of consecutive IDAT chunks, inflated on demand.
class ImageDataStream {
public:
    ImageDataStream(const uint8_t* base, ByteCursor& chunks, const Chunk& first)
        : base_(base), chunks_(chunks) {
        stream_.next_in = const_cast<Bytef*>(first.data);
        stream_.avail_in = first.length;
        initialised_ = inflateInit(&stream_) == Z_OK;
    }
    ~ImageDataStream() {
        if (initialised_) inflateEnd(&stream_);
    }
    ImageDataStream(const ImageDataStream&) = delete;
    ImageDataStream& operator=(const ImageDataStream&) = delete;

    // Exactly `count` bytes of image data, or false when the data is damaged or ends first.
    bool Read(uint8_t* out, uint32_t count) {
        if (!initialised_ || ended_) return false;
        stream_.next_out = out;
        stream_.avail_out = count;
        while (stream_.avail_out > 0) {
            if (stream_.avail_in == 0 && !NextData()) return false;
            const int status = inflate(&stream_, Z_NO_FLUSH);
            if (status == Z_STREAM_END) {
                ended_ = true;
                return stream_.avail_out == 0;
            }
            if (status == Z_BUF_ERROR && stream_.avail_in == 0) continue;
            if (status != Z_OK) return false;
        }
        return true;
    }

    // True when the stream ends, its checksum verified, without more image data than was
    // read. Extra data would mean the header's size is not the one the encoder wrote.
    bool Finish() {
        if (!initialised_) return false;
        uint8_t extra;
        while (!ended_) {
            stream_.next_out = &extra;
            stream_.avail_out = 1;
            if (stream_.avail_in == 0 && !NextData()) return false;
            const int status = inflate(&stream_, Z_NO_FLUSH);
            if (stream_.avail_out == 0) return false;
            if (status == Z_STREAM_END) {
                ended_ = true;
            } else if (status != Z_OK && !(status == Z_BUF_ERROR && stream_.avail_in == 0)) {
                return false;
            }
        }
        return true;
    }

private:
    // The next non-empty IDAT chunk; the image data must continue in the chunk that follows.
    bool NextData() {
        Chunk chunk;
        do {
            if (!NextChunk(base_, chunks_, chunk) || chunk.type != kIdat) return false;
        } while (chunk.length == 0);
        stream_.next_in = const_cast<Bytef*>(chunk.data);
        stream_.avail_in = chunk.length;
        return true;
    }

    const uint8_t* base_;
    ByteCursor& chunks_;
    z_stream stream_{};
    bool initialised_ = false;
    bool ended_ = false;
};

enum ColourType : uint8_t { kGrey = 0, kRgb = 2, kPalette = 3, kGreyAlpha = 4, kRgba = 6 };

// Rows are unfiltered one pixel at a time, the pixel's samples side by side in the 16-bit lanes
// of an SSE2 register: the filters work on each sample apart, so a pixel costs about as much
// as a single byte would, and the chain from each pixel to the next, which no reordering can
// shorten, is a few instructions long. The lanes are laid out as the output's B, G, R, A: grey
// in lane 0 (and alpha in lane 3), RGB with red and blue traded. The row above is then the
// output row above, as it stands, and each result is stored straight into the output.

inline __m128i Select(__m128i mask, __m128i ifSet, __m128i ifClear) {
    return _mm_or_si128(_mm_and_si128(mask, ifSet), _mm_andnot_si128(mask, ifClear));
}

inline __m128i Distance(__m128i x, __m128i y) {
    return _mm_sub_epi16(_mm_max_epi16(x, y), _mm_min_epi16(x, y));
}

// Paeth's predictor, without branches, added to the filtered samples `raw`: of a (left), b
// (above) and c (above left), the one nearest to a + b - c, preferring a, then b, on ties.
// Only the steps that need a lie between one pixel's result and the next pixel's: everything
// else, the sums with b and c included, is worked out beside them.
inline __m128i AddPaeth(__m128i raw, __m128i a, __m128i b, __m128i c) {
    const __m128i pa = Distance(b, c);  // |(a + b - c) - a|
    const __m128i beyondC = _mm_sub_epi16(_mm_add_epi16(c, c), b);
    const __m128i rawB = _mm_add_epi8(raw, b);
    const __m128i rawC = _mm_add_epi8(raw, c);
    const __m128i pb = Distance(a, c);        // |(a + b - c) - b|
    const __m128i pc = Distance(a, beyondC);  // |(a + b - c) - c|
    const __m128i takeB = _mm_cmplt_epi16(pb, pa);
    const __m128i takeC = _mm_cmplt_epi16(pc, _mm_min_epi16(pa, pb));
    return Select(takeC, rawC, Select(takeB, rawB, _mm_add_epi8(raw, a)));
}

// A pixel's samples as the file stores them, as a little-endian number; RGB is read as four
// bytes (the fourth is the next pixel's) where another pixel follows.
template <int Channels>
inline uint32_t LoadSamples(const uint8_t* s, bool last) {
    if constexpr (Channels == 1) {
        return s[0];
    } else if constexpr (Channels == 2) {
        return s[0] | uint32_t{s[1]} << 24;  // grey to lane 0, alpha to lane 3
    } else if constexpr (Channels == 3) {
        return last ? s[0] | uint32_t{s[1]} << 8 | uint32_t{s[2]} << 16 : LoadU32(s);
    } else {
        return LoadU32(s);
    }
}

template <int Channels>
inline __m128i ToLanes(uint32_t samples) {
    const __m128i lanes =
        _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(samples)), _mm_setzero_si128());
    if constexpr (Channels >= 3) return _mm_shufflelo_epi16(lanes, _MM_SHUFFLE(3, 0, 1, 2));
    return lanes;
}

// Lanes 0 to 3 (each within 0..255) as an output pixel: B, G, R, A in the low to high bytes.
template <int Channels>
inline uint32_t ToPixel(__m128i lanes) {
    const auto packed = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(lanes, lanes)));
    if constexpr (Channels == 1) return (packed & 0xFF) * 0x010101u | kOpaque;
    if constexpr (Channels == 2) return (packed & 0xFF) * 0x010101u | (packed & 0xFF000000u);
    if constexpr (Channels == 3) return packed | kOpaque;
    return packed;
}

enum Filter : uint8_t { kNone = 0, kSub = 1, kUp = 2, kAverage = 3, kPaeth = 4 };

// One row: `s` its filtered samples, `above` the output row above (zeros above the first row),
// `d` its output row.
template <int Channels, Filter F>
void UnfilterRow(const uint8_t* s, const uint8_t* above, uint8_t* d, uint32_t width) {
    __m128i a = _mm_setzero_si128();  // the pixel to the left, unfiltered
    __m128i c = _mm_setzero_si128();  // the pixel above that one
    for (uint32_t x = 0; x < width; ++x, s += Channels, above += 4, d += 4) {
        const __m128i raw = ToLanes<Channels>(LoadSamples<Channels>(s, x + 1 == width));
        const __m128i b = _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(LoadU32(above))),
                                            _mm_setzero_si128());
        // Bytes add modulo 256 in the low half of each lane; the high halves stay zero.
        if constexpr (F == kNone) a = raw;
        if constexpr (F == kSub) a = _mm_add_epi8(raw, a);
        if constexpr (F == kUp) a = _mm_add_epi8(raw, b);
        if constexpr (F == kAverage) a = _mm_add_epi8(raw, _mm_srli_epi16(_mm_add_epi16(a, b), 1));
        if constexpr (F == kPaeth) a = AddPaeth(raw, a, b, c);
        c = b;
        StoreU32(d, ToPixel<Channels>(a));
    }
}

using RowUnfilter = void (*)(const uint8_t*, const uint8_t*, uint8_t*, uint32_t);

template <int Channels>
constexpr RowUnfilter kUnfilters[5] = {UnfilterRow<Channels, kNone>, UnfilterRow<Channels, kSub>,
                                       UnfilterRow<Channels, kUp>, UnfilterRow<Channels, kAverage>,
                                       UnfilterRow<Channels, kPaeth>};

RowUnfilter UnfilterFor(uint32_t channels, uint8_t filter) {
    if (filter > kPaeth) return nullptr;
    switch (channels) {
        case 1:
            return kUnfilters<1>[filter];
        case 2:
            return kUnfilters<2>[filter];
        case 3:
            return kUnfilters<3>[filter];
        default:
            return kUnfilters<4>[filter];
    }
}

// The transparent colour of a grey or RGB file without alpha (16-bit samples as the file gives
// them, so that a key over 255 matches no pixel), as an output pixel's B, G, R.
bool KeyOf(uint8_t colourType, const Chunk& transparency, uint32_t& key) {
    const uint8_t* t = transparency.data;
    uint32_t red, green, blue;
    if (colourType == kGrey && transparency.length == 2) {
        red = green = blue = uint32_t{t[0]} << 8 | t[1];
    } else if (colourType == kRgb && transparency.length == 6) {
        red = uint32_t{t[0]} << 8 | t[1];
        green = uint32_t{t[2]} << 8 | t[3];
        blue = uint32_t{t[4]} << 8 | t[5];
    } else {
        return false;
    }
    if (red > 255 || green > 255 || blue > 255) {
        key = UINT32_MAX;  // matches no pixel: colours fill 24 bits
    } else {
        key = red << 16 | green << 8 | blue;
    }
    return true;
}

void ClearKeyedAlpha(uint8_t* d, uint32_t width, uint32_t key) {
    for (uint32_t x = 0; x < width; ++x, d += 4) {
        const uint32_t pixel = LoadU32(d);
        if ((pixel & 0xFFFFFF) == key) StoreU32(d, pixel & 0xFFFFFF);
    }
}

uint32_t ChannelsOf(uint8_t colourType) {
    switch (colourType) {
        case kGrey:
        case kPalette:
            return 1;
        case kGreyAlpha:
            return 2;
        case kRgb:
            return 3;
        case kRgba:
            return 4;
        default:
            return 0;
    }
}

}  // namespace

bool ReadPng(const uint8_t* data, size_t size, RawPicture& out) {
    if (!data || size < sizeof kSignature || std::memcmp(data, kSignature, 8) != 0) return false;
    ByteCursor c(data, size);
    c.Skip(sizeof kSignature);

    Chunk chunk;
    if (!NextChunk(data, c, chunk) || chunk.type != kIhdr || chunk.length != 13 ||
        !CrcMatches(chunk)) {
        return false;
    }
    const uint32_t width = LoadBigEndian32(chunk.data);
    const uint32_t height = LoadBigEndian32(chunk.data + 4);
    const uint8_t bitDepth = chunk.data[8];
    const uint8_t colourType = chunk.data[9];
    const uint8_t compression = chunk.data[10];
    const uint8_t filterMethod = chunk.data[11];
    const uint8_t interlace = chunk.data[12];
    const uint32_t channels = ChannelsOf(colourType);
    if (channels == 0 || bitDepth != 8 || compression != 0 || filterMethod != 0 || interlace != 0) {
        return false;
    }
    size_t outBytes;
    if (!OutputSizeAllowed(width, height, 4, outBytes)) return false;

    // The chunks before the image data.
    uint32_t palette[256];
    uint32_t paletteEntries = 0;
    bool transparency = false;
    bool keyed = false;
    uint32_t key = 0;
    for (;;) {
        if (!NextChunk(data, c, chunk)) return false;
        if (chunk.type == kIdat) break;
        if (chunk.type == kPlte) {
            if (colourType == kGrey || colourType == kGreyAlpha || paletteEntries != 0 ||
                transparency) {
                return false;
            }
            if (chunk.length == 0 || chunk.length % 3 != 0 || chunk.length > 256 * 3 ||
                !CrcMatches(chunk)) {
                return false;
            }
            // Indices past the palette show black, as other decoders show them.
            paletteEntries = chunk.length / 3;
            for (uint32_t i = 0; i < 256; ++i) palette[i] = kOpaque;
            for (uint32_t i = 0; i < paletteEntries; ++i) {
                const uint8_t* rgb = chunk.data + i * 3;
                palette[i] = uint32_t{rgb[0]} << 16 | uint32_t{rgb[1]} << 8 | rgb[2] | kOpaque;
            }
        } else if (chunk.type == kTrns) {
            if (transparency || !CrcMatches(chunk)) return false;
            if (colourType == kPalette) {
                if (paletteEntries == 0 || chunk.length > paletteEntries) return false;
                for (uint32_t i = 0; i < chunk.length; ++i) {
                    palette[i] = (palette[i] & 0xFFFFFF) | uint32_t{chunk.data[i]} << 24;
                }
                transparency = true;
            } else if (colourType == kGrey || colourType == kRgb) {
                if (!KeyOf(colourType, chunk, key)) return false;
                transparency = keyed = true;
            }
            // Beside an alpha channel it means nothing, and is passed over.
        } else if (IsCritical(chunk.type)) {
            return false;  // IHDR again, IEND before any image data, or a kind unknown here
        }
    }
    if (colourType == kPalette && paletteEntries == 0) return false;

    // Deflate expands data at most 1032 times: a file too short to hold the picture even so is
    // refused before its output is allocated.
    const size_t filteredBytes = size_t{width} * channels + 1;
    const auto rest = static_cast<uint64_t>(data + size - chunk.data);
    if (uint64_t{height} * filteredBytes > rest * kMaxInflation) return false;

    out.width = width;
    out.height = height;
    out.bitsPerPixel = static_cast<uint16_t>(channels * 8);
    out.hasAlpha = colourType == kGreyAlpha || colourType == kRgba || transparency;
    RowTarget target(out, out.hasAlpha);

    // Rows are inflated a batch at a time into `filtered`: each its filter byte, then its
    // samples. (Each call into zlib costs a copy into its window, so not a row at a time.)
    // Palette indices are unfiltered into two rows of their own (the index in each pixel's
    // first byte), the other one being the row above; everything else straight into the
    // output. Above the first row are zeros.
    const size_t pixelRowBytes = size_t{width} * 4;
    const uint32_t batchRows =
        static_cast<uint32_t>(std::clamp<size_t>(kBatchBytes / filteredBytes, 1, height));
    std::vector<uint8_t> buffer(filteredBytes * batchRows +
                                pixelRowBytes * (colourType == kPalette ? 2 : 1));
    uint8_t* const filtered = buffer.data();
    uint8_t* const moreRows = buffer.data() + filteredBytes * batchRows;
    ImageDataStream stream(data, c, chunk);
    for (uint32_t y = 0; y < height;) {
        const uint32_t batch = std::min(batchRows, height - y);
        if (!stream.Read(filtered, static_cast<uint32_t>(batch * filteredBytes))) return false;
        for (const uint8_t* f = filtered; f < filtered + batch * filteredBytes;
             f += filteredBytes, ++y) {
            const RowUnfilter unfilter = UnfilterFor(channels, f[0]);
            if (!unfilter) return false;
            uint8_t* const row = target.Row(y);
            if (colourType == kPalette) {
                uint8_t* const indices = moreRows + (y & 1) * pixelRowBytes;
                unfilter(f + 1, moreRows + (~y & 1) * pixelRowBytes, indices, width);
                for (uint32_t x = 0; x < width; ++x) {
                    StoreU32(row + x * 4, palette[indices[x * 4]]);
                }
            } else {
                unfilter(f + 1, y == 0 ? moreRows : target.Row(y - 1), row, width);
                if (keyed) ClearKeyedAlpha(row, width, key);
            }
            target.Made(y);
        }
    }
    if (!stream.Finish()) return false;

    // The file must still be whole to its end.
    do {
        if (!NextChunk(data, c, chunk)) return false;
    } while (chunk.type != kIend);
    return true;
}

}  // namespace decode
