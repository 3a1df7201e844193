#include "decode/Tiff.h"

#include "base/ByteCursor.h"
#include "decode/JpegScaled.h"
#include "decode/Limits.h"
#include "decode/PixelRows.h"
#include "decode/RowTarget.h"
#include "decode/TiffCodecs.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

// How the work is split: every number is read from the file through ByteCursor at its own
// offset, checked against the end of the file, in the file's byte order. The directory that
// holds the picture is found and its fields gathered; then the layout of its strips or tiles
// is checked (every one listed, their decoded size bounded) before the output is allocated.
// Then each strip or tile in turn, all its planes where samples are stored apart, is decoded
// into one buffer, reused, of the rows the picture needs of it (uncompressed data is read
// where it lies), and converted a row at a time: its samples made 8-bit and chunky where they
// are not, then turned into B, G, R, A.

namespace decode {
namespace {

using namespace tiff;

constexpr uint16_t kShort = 3;
constexpr uint16_t kLong = 4;
constexpr uint16_t kIfd = 13;       // a LONG that points to a directory
constexpr uint16_t kUndefined = 7;  // bytes

enum Tag : uint16_t {
    kNewSubfileType = 254,
    kSubfileType = 255,
    kImageWidth = 256,
    kImageLength = 257,
    kBitsPerSample = 258,
    kCompression = 259,
    kPhotometric = 262,
    kFillOrder = 266,
    kStripOffsets = 273,
    kSamplesPerPixel = 277,
    kRowsPerStrip = 278,
    kStripByteCounts = 279,
    kPlanarConfiguration = 284,
    kPredictor = 317,
    kColorMap = 320,
    kTileWidth = 322,
    kTileLength = 323,
    kTileOffsets = 324,
    kTileByteCounts = 325,
    kSubIfds = 330,
    kInkSet = 332,
    kExtraSamples = 338,
    kSampleFormat = 339,
    kJpegTables = 347,
};

enum Compression : uint32_t {
    kUncompressed = 1,
    kLzw = 5,
    kDeflate = 8,
    kDeflateOld = 32946,
    kPackBits = 32773,
    kJpeg = 7,
};

enum Photometric : uint32_t {
    kWhiteIsZero = 0,
    kBlackIsZero = 1,
    kRgb = 2,
    kPalette = 3,
    kSeparated = 5,  // CMYK where InkSet is 1
    kYCbCr = 6,      // read only JPEG-compressed: the JPEG decoder turns it into RGB
};

// The most bytes one byte of a strip can decode to: a PackBits run of 128 takes two bytes;
// an LZW code of 12 bits may stand for a string of up to 4094 bytes; Deflate, 1032.
uint64_t MaxExpansion(uint32_t compression) {
    switch (compression) {
        case kPackBits:
            return 64;
        case kLzw:
            return 4094 * 8 / 12 + 1;
        case kUncompressed:
            return 1;
        default:
            return 1032;
    }
}

constexpr uint32_t kPlanar = 2;
constexpr uint32_t kAssociatedAlpha = 1;
constexpr uint32_t kUnassociatedAlpha = 2;
constexpr uint32_t kUnsignedInteger = 1;
constexpr uint32_t kHorizontalDifferencing = 2;

// Directories looked at: along the chain, and below each directory in its SubIFDs.
constexpr uint32_t kMaxDirectories = 16;
constexpr uint32_t kMaxSubDirectories = 8;
constexpr uint32_t kMaxSamples = 16;
// A tile may overhang the picture, as small pictures in 256x256 tiles do, but its decoded rows
// may not cost much more than the picture's own samples.
constexpr uint64_t kSmallSegmentBytes = 1 << 20;
// A file that holds a sixteenth of its picture, or less where compressed, shows what it holds.
constexpr uint64_t kCutShortShown = 16;

// Numbers at any offset of the file, in its byte order.
class TiffBytes {
public:
    TiffBytes(const uint8_t* data, size_t size, bool bigEndian)
        : data_(data), size_(size), bigEndian_(bigEndian) {}

    bool U16At(uint64_t offset, uint32_t& out) const {
        uint8_t b[2];
        if (!BytesAt(offset, b, 2)) return false;
        out = bigEndian_ ? uint32_t{b[0]} << 8 | b[1] : uint32_t{b[1]} << 8 | b[0];
        return true;
    }
    bool U32At(uint64_t offset, uint32_t& out) const {
        uint8_t b[4];
        if (!BytesAt(offset, b, 4)) return false;
        out = bigEndian_ ? uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | b[3]
                         : uint32_t{b[3]} << 24 | uint32_t{b[2]} << 16 | uint32_t{b[1]} << 8 | b[0];
        return true;
    }
    const uint8_t* Data() const { return data_; }
    size_t Size() const { return size_; }
    bool BigEndian() const { return bigEndian_; }

private:
    bool BytesAt(uint64_t offset, uint8_t* out, size_t count) const {
        ByteCursor c(data_, size_);
        return offset <= size_ && c.Skip(static_cast<size_t>(offset)) && c.ReadBytes(out, count);
    }

    const uint8_t* data_;
    size_t size_;
    bool bigEndian_;
};

// A directory entry: its values lie within the entry when they fit in its four value bytes,
// elsewhere in the file when not.
struct Field {
    bool present = false;
    uint32_t type = 0;
    uint32_t count = 0;
    uint64_t valuesAt = 0;
};

// The index-th value of a SHORT or LONG field; the field's values were checked to lie within
// the file when it was read, and are read checked again here.
bool ValueOf(const TiffBytes& bytes, const Field& f, uint32_t index, uint32_t& out) {
    if (!f.present || index >= f.count) return false;
    if (f.type == kShort) return bytes.U16At(f.valuesAt + uint64_t{index} * 2, out);
    if (f.type == kLong || f.type == kIfd)
        return bytes.U32At(f.valuesAt + uint64_t{index} * 4, out);
    return false;
}

// The value of a field that holds one, or `fallback` where the file leaves it out.
bool SingleValue(const TiffBytes& bytes, const Field& f, uint32_t fallback, uint32_t& out) {
    if (!f.present) {
        out = fallback;
        return true;
    }
    return f.count == 1 && ValueOf(bytes, f, 0, out);
}

// The value every sample shares, where the field gives one for all samples or one per sample,
// or `fallback` where it is absent; false where samples differ.
bool SharedValue(const TiffBytes& bytes, const Field& f, uint32_t samples, uint32_t fallback,
                 uint32_t& out) {
    out = fallback;
    if (!f.present) return true;
    if (f.count != 1 && f.count != samples) return false;
    for (uint32_t i = 0; i < f.count; ++i) {
        uint32_t value;
        if (!ValueOf(bytes, f, i, value) || (i > 0 && value != out)) return false;
        out = value;
    }
    return true;
}

struct Directory {
    Field newSubfileType, subfileType, width, height, bitsPerSample, compression, photometric,
        fillOrder, stripOffsets, samplesPerPixel, rowsPerStrip, stripByteCounts,
        planarConfiguration, predictor, colorMap, tileWidth, tileLength, tileOffsets,
        tileByteCounts, subIfds, inkSet, extraSamples, sampleFormat, jpegTables;
    uint32_t next = 0;  // the next directory's offset; 0 for none

    Field* Slot(uint32_t tag) {
        switch (tag) {
            case kNewSubfileType:
                return &newSubfileType;
            case kSubfileType:
                return &subfileType;
            case kImageWidth:
                return &width;
            case kImageLength:
                return &height;
            case kBitsPerSample:
                return &bitsPerSample;
            case kCompression:
                return &compression;
            case kPhotometric:
                return &photometric;
            case kFillOrder:
                return &fillOrder;
            case kStripOffsets:
                return &stripOffsets;
            case kSamplesPerPixel:
                return &samplesPerPixel;
            case kRowsPerStrip:
                return &rowsPerStrip;
            case kStripByteCounts:
                return &stripByteCounts;
            case kPlanarConfiguration:
                return &planarConfiguration;
            case kPredictor:
                return &predictor;
            case kColorMap:
                return &colorMap;
            case kTileWidth:
                return &tileWidth;
            case kTileLength:
                return &tileLength;
            case kTileOffsets:
                return &tileOffsets;
            case kTileByteCounts:
                return &tileByteCounts;
            case kSubIfds:
                return &subIfds;
            case kInkSet:
                return &inkSet;
            case kExtraSamples:
                return &extraSamples;
            case kSampleFormat:
                return &sampleFormat;
            case kJpegTables:
                return &jpegTables;
            default:
                return nullptr;
        }
    }
};

// The fields of the directory at `at` that matter here. Each entry lies within the file (the
// entry count is a 16-bit number and all of its entries must fit), and so do the values of
// every SHORT, LONG or IFD field kept. Where a tag repeats, its first entry counts. A next
// directory's offset that the file cuts off counts as none.
bool ReadDirectory(const TiffBytes& bytes, uint32_t at, Directory& d) {
    uint32_t entries;
    if (!bytes.U16At(at, entries) || entries == 0) return false;
    const uint64_t first = uint64_t{at} + 2;
    if (first + uint64_t{entries} * 12 > bytes.Size()) return false;
    for (uint32_t i = 0; i < entries; ++i) {
        const uint64_t entry = first + uint64_t{i} * 12;
        uint32_t tag, type, count;
        if (!bytes.U16At(entry, tag) || !bytes.U16At(entry + 2, type) ||
            !bytes.U32At(entry + 4, count)) {
            return false;
        }
        Field* field = d.Slot(tag);
        if (!field || field->present) continue;
        field->present = true;
        field->type = type;
        field->count = count;
        const bool tables = tag == kJpegTables && type == kUndefined;
        if (type != kShort && type != kLong && type != kIfd && !tables)
            continue;  // refused where used
        const uint64_t bytesOfValues = uint64_t{count} * (tables ? 1 : type == kShort ? 2 : 4);
        if (bytesOfValues <= 4) {
            field->valuesAt = entry + 8;
        } else {
            uint32_t offset;
            if (!bytes.U32At(entry + 8, offset)) return false;
            field->valuesAt = offset;
        }
        if (field->valuesAt + bytesOfValues > bytes.Size()) return false;
    }
    if (!bytes.U32At(first + uint64_t{entries} * 12, d.next)) d.next = 0;
    return true;
}

// Whether a directory holds a picture of its own, not a reduced-resolution copy of one or a
// transparency mask (NewSubfileType bits 0 and 2, or the older SubfileType 2).
bool IsFullPicture(const TiffBytes& bytes, const Directory& d) {
    uint32_t kind, oldKind;
    return SingleValue(bytes, d.newSubfileType, 0, kind) && (kind & 5) == 0 &&
           SingleValue(bytes, d.subfileType, 1, oldKind) && oldKind != 2;
}

// The first directory along the chain that holds a full picture, looking also below each
// directory that does not into its SubIFDs (where a file whose first directory is a thumbnail
// may keep the picture); the first directory itself where none does. A chain that loops or
// runs on past kMaxDirectories ends there.
bool FindPicture(const TiffBytes& bytes, uint32_t firstAt, Directory& out) {
    uint32_t visited[kMaxDirectories];
    uint32_t count = 0;
    Directory first;
    bool haveFirst = false;
    for (uint32_t at = firstAt; at != 0 && count < kMaxDirectories;) {
        if (std::find(visited, visited + count, at) != visited + count) break;
        visited[count++] = at;
        Directory d;
        if (!ReadDirectory(bytes, at, d)) break;
        if (IsFullPicture(bytes, d)) {
            out = d;
            return true;
        }
        if (count == 1) first = d, haveFirst = true;
        const uint32_t subs = std::min(d.subIfds.count, kMaxSubDirectories);
        for (uint32_t i = 0; i < subs; ++i) {
            uint32_t subAt;
            Directory sub;
            if (ValueOf(bytes, d.subIfds, i, subAt) && ReadDirectory(bytes, subAt, sub) &&
                IsFullPicture(bytes, sub)) {
                out = sub;
                return true;
            }
        }
        at = d.next;
    }
    out = first;
    return haveFirst;
}

// Associated (premultiplied) colours made straight, rounded to the nearest level; colours
// brighter than their alpha allows are held at 255, and a transparent pixel has no colour.
void Unpremultiply(uint8_t* d, uint32_t width) {
    for (uint32_t x = 0; x < width; ++x, d += 4) {
        const uint32_t a = d[3];
        if (a == 255) continue;
        if (a == 0) {
            StoreU32(d, 0);
            continue;
        }
        for (int i = 0; i < 3; ++i) {
            d[i] = static_cast<uint8_t>(std::min<uint32_t>(255, (d[i] * 255u + a / 2) / a));
        }
    }
}

enum class Colour { kGrey, kRgb, kPalette, kCmyk };

// Rows of a strip or tile (one per plane where samples are stored apart) into B, G, R, A.
class RowConverter {
public:
    Colour colour = Colour::kGrey;
    uint32_t samples = 1;  // per pixel
    uint32_t bits = 8;     // per sample
    bool planar = false;
    bool bigEndian = false;
    bool whiteIsZero = false;
    uint32_t alpha = 0;  // the alpha sample's index; 0 for none
    bool associated = false;
    uint32_t palette[256] = {};  // B, G, R, A as stored by StoreU32

    void Prepare(uint32_t width) {
        const bool asStored = bits == 8 && !planar;
        if (!asStored) scratch_.resize(size_t{width} * samples);
    }

    void Convert(const uint8_t* const* planes, uint32_t width, uint8_t* out) {
        const uint8_t* s = planes[0];
        if (planar) {
            for (uint32_t p = 0; p < samples; ++p) ToBytes(planes[p], width, scratch_.data() + p);
            s = scratch_.data();
        } else if (bits != 8) {
            ToBytes(s, width * samples, scratch_.data());
            s = scratch_.data();
        }
        switch (colour) {
            case Colour::kGrey:
                GreyRow(s, width, out);
                break;
            case Colour::kRgb:
                RgbRow(s, width, out);
                break;
            case Colour::kPalette:
                for (uint32_t x = 0; x < width; ++x) StoreU32(out + x * 4, palette[s[x]]);
                break;
            case Colour::kCmyk:
                CmykRow(s, width, out);
                break;
        }
        if (associated) Unpremultiply(out, width);
    }

private:
    // `count` samples of `bits` each from the start of a row as 8-bit values, every `stride`-th
    // byte of `d` (the samples of a plane go between those of the others): 16-bit ones by
    // their high byte, as WIC takes them (ImageMagick rounds v / 257 down, at most a level
    // lower); fewer bits stretched to the full range, but for palette indices.
    void ToBytes(const uint8_t* s, uint32_t count, uint8_t* d) const {
        const uint32_t stride = planar ? samples : 1;
        if (bits == 8) {
            for (uint32_t i = 0; i < count; ++i) d[i * stride] = s[i];
        } else if (bits == 16) {
            s += bigEndian ? 0 : 1;
            for (uint32_t i = 0; i < count; ++i) d[i * stride] = s[i * 2];
        } else {
            const uint32_t perByte = 8 / bits;
            const uint32_t mask = (1u << bits) - 1;
            const uint32_t scale = colour == Colour::kPalette ? 1 : 255 / mask;
            for (uint32_t i = 0; i < count; ++i) {
                const uint32_t shift = 8 - bits * (i % perByte + 1);
                d[i * stride] = static_cast<uint8_t>((s[i / perByte] >> shift & mask) * scale);
            }
        }
    }

    void GreyRow(const uint8_t* s, uint32_t width, uint8_t* d) const {
        if (samples == 1 && !whiteIsZero) return ConvertGreyRow(s, width, d);
        const uint32_t invert = whiteIsZero ? 0xFF : 0;
        for (uint32_t x = 0; x < width; ++x, s += samples, d += 4) {
            const uint32_t g = s[0] ^ invert;
            const uint32_t a = alpha ? s[alpha] : 255;
            StoreU32(d, g | g << 8 | g << 16 | a << 24);
        }
    }

    void RgbRow(const uint8_t* s, uint32_t width, uint8_t* d) const {
        if (samples == 3) return ConvertRgbRow(s, width, d);
        if (samples == 4 && alpha == 3) return ConvertRgbaRow(s, width, d);
        for (uint32_t x = 0; x < width; ++x, s += samples, d += 4) {
            const uint32_t a = alpha ? s[alpha] : 255;
            StoreU32(d, uint32_t{s[2]} | uint32_t{s[1]} << 8 | uint32_t{s[0]} << 16 | a << 24);
        }
    }

    // Inks to light as ImageMagick turns them (WIC's differ by a level at most): each colour is
    // what its ink and black leave of white.
    void CmykRow(const uint8_t* s, uint32_t width, uint8_t* d) const {
        for (uint32_t x = 0; x < width; ++x, s += samples, d += 4) {
            const uint32_t k = 255 - s[3];
            const uint32_t a = alpha ? s[alpha] : 255;
            const auto light = [k](uint32_t ink) { return ((255 - ink) * k + 127) / 255; };
            StoreU32(d, light(s[2]) | light(s[1]) << 8 | light(s[0]) << 16 | a << 24);
        }
    }

    std::vector<uint8_t> scratch_;  // a row of 8-bit chunky samples
};

// The strips or tiles of a picture: each plane of each is decoded, when it has to be, into a
// part of its own of `buffer`, grown the first time one is needed (and kept by the caller for
// the next picture: a megabyte of fresh memory costs more than decoding a strip).
class Segments {
public:
    Segments(const TiffBytes& bytes, const Field& offsets, const Field& byteCounts,
             uint32_t compression, uint32_t predictor, uint32_t bits, uint32_t samplesPerRow,
             uint32_t stride, size_t rowBytes, uint32_t maxRows, std::vector<uint8_t>& buffer)
        : bytes_(bytes),
          offsets_(offsets),
          byteCounts_(byteCounts),
          compression_(compression),
          predictor_(predictor),
          bits_(bits),
          samplesPerRow_(samplesPerRow),
          stride_(stride),
          rowBytes_(rowBytes),
          partBytes_(rowBytes * maxRows),
          buffer_(buffer) {}

    // The bytes of segment `index` as far as the file holds them (none where its offset or byte
    // count cannot be read: false).
    bool Data(uint32_t index, const uint8_t*& data, size_t& size) const {
        uint32_t offset, count;
        data = bytes_.Data();
        size = 0;
        if (!ValueOf(bytes_, offsets_, index, offset) ||
            !ValueOf(bytes_, byteCounts_, index, count)) {
            return false;
        }
        data += std::min<size_t>(offset, bytes_.Size());
        size = offset < bytes_.Size() ? std::min<size_t>(count, bytes_.Size() - offset) : 0;
        return true;
    }

    // Segments are JPEGs of at most segmentHeight rows (a tile may overhang the picture), and
    // share `tables` (JPEGTables: a stream of its own, from its start to its end marker; none
    // where each segment holds its own).
    void ReadJpeg(const uint8_t* tables, size_t size, uint32_t segmentHeight) {
        tables_ = tables;
        tablesSize_ = size;
        jpegRows_ = segmentHeight;
    }

    // Whether the first JPEG-compressed segment decodes: the decoder refuses some kinds of
    // JPEG, and a file of those is better left to another reader than shown black.
    bool FirstJpegDecodes() { return DecodeJpeg(0); }

    // The first `rows` rows of segment `index`. Uncompressed data that the file holds whole is
    // read where it lies; anything else is decoded into part `part` of `parts` of the buffer,
    // and the rows' bytes that the data does not provide (cut off, damaged) are
    // zero: a cut-short file shows what it holds.
    const uint8_t* Rows(uint32_t index, uint32_t rows, uint32_t part, uint32_t parts) {
        const uint8_t* data;
        size_t size;
        Data(index, data, size);  // none where the value cannot be read
        const size_t needed = rows * rowBytes_;
        if (compression_ == kUncompressed && predictor_ == 1 && size >= needed) return data;
        if (buffer_.size() < partBytes_ * parts) buffer_.resize(partBytes_ * parts);
        uint8_t* out = buffer_.data() + partBytes_ * part;
        size_t written = 0;
        switch (compression_) {
            case kUncompressed:
                written = std::min(size, needed);
                std::memcpy(out, data, written);
                break;
            case kPackBits:
                written = UnpackBits(data, size, out, needed);
                break;
            case kLzw:
                written = DecodeLzw(data, size, out, needed);
                break;
            case kJpeg:
                written = JpegRows(index, out, rows);
                break;
            default:
                written = inflater_.Run(data, size, out, needed);
                break;
        }
        std::memset(out + written, 0, needed - written);
        if (predictor_ == kHorizontalDifferencing) {
            for (uint32_t r = 0; r < rows; ++r) {
                uint8_t* row = out + r * rowBytes_;
                if (bits_ == 8) {
                    UndoDifferencing8(row, samplesPerRow_, stride_);
                } else {
                    UndoDifferencing16(row, samplesPerRow_, stride_, bytes_.BigEndian());
                }
            }
        }
        return out;
    }

private:
    // Decodes segment `index` into jpeg_, unless it is there already. A segment is a JPEG
    // stream without the tables the file shares: those (the tables' stream without its end
    // marker) are put before it (without its start marker).
    bool DecodeJpeg(uint32_t index) {
        if (jpegIndex_ == static_cast<int64_t>(index)) return true;
        jpegIndex_ = -1;
        const uint8_t* data;
        size_t size;
        if (!Data(index, data, size)) return false;
        const uint8_t* stream = data;
        size_t length = size;
        const auto starts = [](const uint8_t* p, size_t n) {
            return n >= 2 && p[0] == 0xFF && p[1] == 0xD8;
        };
        if (starts(tables_, tablesSize_) && starts(data, size)) {
            size_t kept = tablesSize_;
            if (kept >= 4 && tables_[kept - 2] == 0xFF && tables_[kept - 1] == 0xD9) kept -= 2;
            joined_.assign(tables_, tables_ + kept);
            joined_.insert(joined_.end(), data + 2, data + size);
            stream = joined_.data();
            length = joined_.size();
        }
        // A JPEG larger than its segment is refused before anything is allocated for it.
        const uint32_t wide = samplesPerRow_ / stride_;
        const uint32_t high = jpegRows_;
        const auto fits = [wide, high](uint32_t width, uint32_t height) {
            return width <= wide && height <= high ? 0 : -1;
        };
        if (!DecodeJpegScaled(stream, length, fits, jpeg_)) return false;
        jpegIndex_ = index;
        return true;
    }

    // The rows of a JPEG-compressed segment as 8-bit R, G, B (or grey) samples; the bytes
    // written, whole rows only. Where the JPEG is narrower than the segment, the rest of
    // each row is zero.
    size_t JpegRows(uint32_t index, uint8_t* out, uint32_t rows) {
        if (!DecodeJpeg(index)) return 0;
        const uint32_t wide = std::min(samplesPerRow_ / stride_, jpeg_.scaledWidth);
        const uint32_t high = std::min(rows, jpeg_.scaledHeight);
        for (uint32_t y = 0; y < high; ++y) {
            const uint8_t* from = jpeg_.bgr.data() + size_t{y} * jpeg_.scaledWidth * 3;
            uint8_t* to = out + y * rowBytes_;
            if (stride_ == 3) {
                for (uint32_t x = 0; x < wide; ++x, from += 3, to += 3) {
                    to[0] = from[2];
                    to[1] = from[1];
                    to[2] = from[0];
                }
            } else {
                for (uint32_t x = 0; x < wide; ++x, from += 3) *to++ = from[1];
            }
            std::memset(to, 0, out + (y + 1) * rowBytes_ - to);
        }
        return high * rowBytes_;
    }

    const TiffBytes& bytes_;
    const Field& offsets_;
    const Field& byteCounts_;
    uint32_t compression_, predictor_, bits_, samplesPerRow_, stride_;
    size_t rowBytes_;
    size_t partBytes_;  // the most rows a segment has
    std::vector<uint8_t>& buffer_;
    Inflater inflater_;
    const uint8_t* tables_ = nullptr;
    size_t tablesSize_ = 0;
    std::vector<uint8_t> joined_;
    ScaledPicture jpeg_;
    int64_t jpegIndex_ = -1;  // the segment whose pixels jpeg_ holds
    uint32_t jpegRows_ = 0;
};

// The palette of 2^bits entries: ColorMap holds all red levels, then all green, then all blue,
// of 16 bits each. Some writers put 8-bit levels there; a map with no level above 255 is taken
// as one of those, as no picture uses only its darkest 256th.
bool ReadPalette(const TiffBytes& bytes, const Field& map, uint32_t bits, uint32_t* palette) {
    const uint32_t entries = 1u << bits;
    if (!map.present || map.count % 3 != 0 || map.count / 3 < entries) return false;
    const uint32_t third = map.count / 3;
    uint32_t levels[3 * 256];
    uint32_t highest = 0;
    for (uint32_t c = 0; c < 3; ++c) {
        for (uint32_t i = 0; i < entries; ++i) {
            if (!ValueOf(bytes, map, c * third + i, levels[c * 256 + i])) return false;
            highest = std::max(highest, levels[c * 256 + i]);
        }
    }
    const uint32_t divisor = highest <= 255 ? 1 : 257;
    const auto level = [&](uint32_t c, uint32_t i) {
        return (levels[c * 256 + i] + divisor / 2) / divisor;
    };
    for (uint32_t i = 0; i < entries; ++i) {
        palette[i] = level(2, i) | level(1, i) << 8 | level(0, i) << 16 | kOpaque;
    }
    return true;
}

bool ReadPicture(const TiffBytes& bytes, const Directory& d, RawPicture& out) {
    uint32_t width, height, compression, photometric, samples, planarConfiguration, predictor,
        fillOrder, inkSet, bits, sampleFormat;
    if (!d.width.present || !d.height.present || !d.photometric.present ||
        !SingleValue(bytes, d.width, 0, width) || !SingleValue(bytes, d.height, 0, height) ||
        !SingleValue(bytes, d.compression, kUncompressed, compression) ||
        !SingleValue(bytes, d.photometric, 0, photometric) ||
        !SingleValue(bytes, d.samplesPerPixel, 1, samples) ||
        !SingleValue(bytes, d.planarConfiguration, 1, planarConfiguration) ||
        !SingleValue(bytes, d.predictor, 1, predictor) ||
        !SingleValue(bytes, d.fillOrder, 1, fillOrder) ||
        !SingleValue(bytes, d.inkSet, 1, inkSet) || samples == 0 || samples > kMaxSamples ||
        !SharedValue(bytes, d.bitsPerSample, samples, 1, bits) ||
        !SharedValue(bytes, d.sampleFormat, samples, kUnsignedInteger, sampleFormat)) {
        return false;
    }
    if (compression != kUncompressed && compression != kLzw && compression != kDeflate &&
        compression != kDeflateOld && compression != kPackBits && compression != kJpeg) {
        return false;
    }
    // JPEG-compressed: YCbCr, which the JPEG decoder turns into RGB, RGB, or grey; 8-bit
    // samples stored together, nothing beside the colour. Each JPEG says how it codes its
    // colours, and the decoder goes by that.
    const bool jpeg = compression == kJpeg;
    if (jpeg &&
        !(bits == 8 && predictor == 1 && planarConfiguration == 1 &&
          ((photometric == kYCbCr && samples == 3) || (photometric == kRgb && samples == 3) ||
           (photometric == kBlackIsZero && samples == 1)))) {
        return false;
    }
    if (bits != 1 && bits != 2 && bits != 4 && bits != 8 && bits != 16) return false;
    if (sampleFormat != kUnsignedInteger || fillOrder != 1 ||
        (planarConfiguration != 1 && planarConfiguration != kPlanar)) {
        return false;
    }
    // Differencing of whole bytes only, as other readers have it.
    if (predictor != 1 && !(predictor == kHorizontalDifferencing && bits >= 8)) return false;

    RowConverter converter;
    converter.samples = samples;
    converter.bits = bits;
    converter.planar = planarConfiguration == kPlanar && samples > 1;
    converter.bigEndian = bytes.BigEndian();
    uint32_t colourSamples;
    switch (photometric) {
        case kWhiteIsZero:
        case kBlackIsZero:
            converter.colour = Colour::kGrey;
            converter.whiteIsZero = photometric == kWhiteIsZero;
            colourSamples = 1;
            break;
        case kRgb:
        case kYCbCr:
            if (photometric == kYCbCr && !jpeg) return false;
            converter.colour = Colour::kRgb;
            colourSamples = 3;
            break;
        case kPalette:
            converter.colour = Colour::kPalette;
            colourSamples = 1;
            if (samples != 1 || bits > 8 ||
                !ReadPalette(bytes, d.colorMap, bits, converter.palette)) {
                return false;
            }
            break;
        case kSeparated:
            converter.colour = Colour::kCmyk;
            colourSamples = 4;
            if (inkSet != 1) return false;
            break;
        default:
            return false;
    }
    if (samples < colourSamples) return false;
    // The first extra sample said to be alpha is the alpha. Extra samples of unstated meaning
    // (or where ExtraSamples is absent) are left out and the picture is opaque: whatever their
    // meaning, a picture shown whole is nearer the mark than one made transparent by a mask
    // or a spot colour.
    const uint32_t extras = std::min(d.extraSamples.count, samples - colourSamples);
    for (uint32_t i = 0; i < extras && !converter.alpha; ++i) {
        uint32_t kind;
        if (!ValueOf(bytes, d.extraSamples, i, kind)) return false;
        if (kind == kAssociatedAlpha || kind == kUnassociatedAlpha) {
            converter.alpha = colourSamples + i;
            converter.associated = kind == kAssociatedAlpha;
        }
    }

    // The strips or tiles, each `segmentWidth` x `segmentHeight` (strips: the picture's width,
    // RowsPerStrip rows); all of them listed, in every plane.
    size_t outBytes;
    if (!OutputSizeAllowed(width, height, 4, outBytes)) return false;
    const bool tiled = d.tileWidth.present || d.tileOffsets.present;
    uint32_t segmentWidth = width, segmentHeight;
    const Field& offsets = tiled ? d.tileOffsets : d.stripOffsets;
    const Field& byteCounts = tiled ? d.tileByteCounts : d.stripByteCounts;
    if (tiled) {
        if (!SingleValue(bytes, d.tileWidth, 0, segmentWidth) ||
            !SingleValue(bytes, d.tileLength, 0, segmentHeight)) {
            return false;
        }
    } else if (!SingleValue(bytes, d.rowsPerStrip, UINT32_MAX, segmentHeight)) {
        return false;
    }
    if (segmentWidth == 0 || segmentHeight == 0) return false;
    const uint32_t across = (width - 1) / segmentWidth + 1;
    const uint32_t down = (height - 1) / segmentHeight + 1;
    const uint32_t planes = converter.planar ? samples : 1;
    const uint32_t segmentSamples = converter.planar ? 1 : samples;
    const uint64_t segments = uint64_t{across} * down * planes;
    if (!offsets.present || !byteCounts.present || offsets.count < segments ||
        byteCounts.count < segments) {
        return false;
    }
    const uint64_t samplesPerRow = uint64_t{segmentWidth} * segmentSamples;
    const uint64_t rowBytes = (samplesPerRow * bits + 7) / 8;
    const uint64_t segmentBytes = rowBytes * std::min(segmentHeight, height) * planes;
    const uint64_t pictureBytes = (uint64_t{width} * samples * bits + 7) / 8 * height;
    if (segmentBytes > std::max(2 * pictureBytes, kSmallSegmentBytes) ||
        segmentBytes > kMaxOutputBytes) {
        return false;
    }
    Segments reader(bytes, offsets, byteCounts, compression, predictor, bits,
                    static_cast<uint32_t>(samplesPerRow), segmentSamples,
                    static_cast<size_t>(rowBytes), std::min(segmentHeight, height), out.work);
    if (jpeg) {
        // The tables' bytes were checked to lie within the file when the directory was read.
        const bool tables = d.jpegTables.present && d.jpegTables.type == kUndefined;
        reader.ReadJpeg(tables ? bytes.Data() + d.jpegTables.valuesAt : nullptr,
                        tables ? d.jpegTables.count : 0, segmentHeight);
        if (!reader.FirstJpegDecodes()) return false;
    }
    // The strips' bytes that the file holds, expanded as far as their compression can, must
    // make up a part of the rows they decode to (the whole would refuse cut-short files), so
    // that a header's claims cost little until the file backs them.
    const uint64_t decoded = rowBytes * height * across * planes;
    const uint64_t expansion = MaxExpansion(compression) * kCutShortShown;
    uint64_t held = 0;
    for (uint32_t i = 0; i < segments && held * expansion < decoded; ++i) {
        const uint8_t* data;
        size_t size;
        if (!reader.Data(i, data, size)) return false;
        held += size;
    }
    if (held * expansion < decoded) return false;

    out.width = width;
    out.height = height;
    out.bitsPerPixel = static_cast<uint16_t>(samples * bits);
    out.hasAlpha = converter.alpha != 0;
    RowTarget target(out, out.hasAlpha, across == 1);
    converter.Prepare(width);
    const uint32_t perPlane = across * down;
    const uint8_t* rows[kMaxSamples];
    for (uint32_t ty = 0; ty < down; ++ty) {
        const uint32_t top = ty * segmentHeight;
        const uint32_t high = std::min(segmentHeight, height - top);
        for (uint32_t tx = 0; tx < across; ++tx) {
            const uint32_t left = tx * segmentWidth;
            const uint32_t wide = std::min(segmentWidth, width - left);
            for (uint32_t p = 0; p < planes; ++p) {
                rows[p] = reader.Rows(p * perPlane + ty * across + tx, high, p, planes);
            }
            for (uint32_t y = 0; y < high; ++y) {
                converter.Convert(rows, wide, target.Row(top + y) + size_t{left} * 4);
                for (uint32_t p = 0; p < planes; ++p) rows[p] += rowBytes;
                if (tx + 1 == across) target.Made(top + y);
            }
        }
    }
    return true;
}

}  // namespace

bool ReadTiff(const uint8_t* data, size_t size, RawPicture& out) {
    if (!data || size < 8) return false;
    bool bigEndian;
    if (data[0] == 'I' && data[1] == 'I') {
        bigEndian = false;
    } else if (data[0] == 'M' && data[1] == 'M') {
        bigEndian = true;
    } else {
        return false;
    }
    const TiffBytes bytes(data, size, bigEndian);
    uint32_t version, directoryAt;
    if (!bytes.U16At(2, version) || version != 42 || !bytes.U32At(4, directoryAt)) return false;
    Directory d;
    return FindPicture(bytes, directoryAt, d) && ReadPicture(bytes, d, out);
}

}  // namespace decode
