#include "decode/Tiff.h"

#include "base/ByteCursor.h"
#include "decode/Limits.h"
#include "decode/PixelRows.h"

#include <algorithm>

// How the work is split: every number is read from the file through ByteCursor at its own
// offset, checked against the end of the file, in the file's byte order. The directory's
// fields are gathered first; then every strip the picture needs is checked to lie within the
// file before the output is allocated, so that a header's claims cost nothing until the file
// backs them with pixel bytes; then the rows are converted.

namespace decode {
namespace {

constexpr uint16_t kShort = 3;
constexpr uint16_t kLong = 4;

enum Tag : uint16_t {
    kImageWidth = 256,
    kImageLength = 257,
    kBitsPerSample = 258,
    kCompression = 259,
    kPhotometric = 262,
    kStripOffsets = 273,
    kSamplesPerPixel = 277,
    kRowsPerStrip = 278,
    kStripByteCounts = 279,
    kPlanarConfiguration = 284,
    kPredictor = 317,
    kTileWidth = 322,
    kTileLength = 323,
    kTileOffsets = 324,
    kTileByteCounts = 325,
    kExtraSamples = 338,
    kSampleFormat = 339,
};

constexpr uint32_t kUncompressed = 1;
constexpr uint32_t kBlackIsZero = 1;
constexpr uint32_t kRgb = 2;
constexpr uint32_t kChunky = 1;
constexpr uint32_t kAssociatedAlpha = 1;
constexpr uint32_t kUnassociatedAlpha = 2;
constexpr uint32_t kUnsignedInteger = 1;

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
    size_t Size() const { return size_; }

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
    if (f.type == kLong) return bytes.U32At(f.valuesAt + uint64_t{index} * 4, out);
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

// True when the field is absent (the default applies) or every one of its values, one for all
// samples or one per sample, is `wanted`.
bool AllSamplesAre(const TiffBytes& bytes, const Field& f, uint32_t samples, uint32_t wanted,
                   uint32_t fallback) {
    if (!f.present) return fallback == wanted;
    if (f.count != 1 && f.count != samples) return false;
    for (uint32_t i = 0; i < f.count; ++i) {
        uint32_t value;
        if (!ValueOf(bytes, f, i, value) || value != wanted) return false;
    }
    return true;
}

struct Directory {
    Field width, height, bitsPerSample, compression, photometric, stripOffsets, samplesPerPixel,
        rowsPerStrip, stripByteCounts, planarConfiguration, predictor, extraSamples,
        sampleFormat;
    bool tiled = false;

    Field* Slot(uint32_t tag) {
        switch (tag) {
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
            case kExtraSamples:
                return &extraSamples;
            case kSampleFormat:
                return &sampleFormat;
            default:
                return nullptr;
        }
    }
};

// The first directory's fields that matter here. Each entry lies within the file (the entry
// count is a 16-bit number and all of its entries must fit), and so do the values of every
// SHORT or LONG field kept. Where a tag repeats, its first entry counts.
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
        if (tag == kTileWidth || tag == kTileLength || tag == kTileOffsets ||
            tag == kTileByteCounts) {
            d.tiled = true;
        }
        Field* field = d.Slot(tag);
        if (!field || field->present) continue;
        field->present = true;
        field->type = type;
        field->count = count;
        if (type != kShort && type != kLong) continue;  // refused where the value is used
        const uint64_t bytesOfValues = uint64_t{count} * (type == kShort ? 2 : 4);
        if (bytesOfValues <= 4) {
            field->valuesAt = entry + 8;
        } else {
            uint32_t offset;
            if (!bytes.U32At(entry + 8, offset)) return false;
            field->valuesAt = offset;
        }
        if (field->valuesAt + bytesOfValues > bytes.Size()) return false;
    }
    return true;
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
    if (!ReadDirectory(bytes, directoryAt, d) || d.tiled) return false;

    uint32_t width, height, compression, photometric, samples, planar, predictor, rowsPerStrip;
    if (!d.width.present || !d.height.present || !d.photometric.present ||
        !SingleValue(bytes, d.width, 0, width) || !SingleValue(bytes, d.height, 0, height) ||
        !SingleValue(bytes, d.compression, kUncompressed, compression) ||
        !SingleValue(bytes, d.photometric, 0, photometric) ||
        !SingleValue(bytes, d.samplesPerPixel, 1, samples) ||
        !SingleValue(bytes, d.planarConfiguration, kChunky, planar) ||
        !SingleValue(bytes, d.predictor, 1, predictor) ||
        !SingleValue(bytes, d.rowsPerStrip, UINT32_MAX, rowsPerStrip)) {
        return false;
    }
    if (compression != kUncompressed || planar != kChunky || predictor != 1) return false;

    // Grey, RGB, or RGB and one alpha sample.
    bool associated = false;
    if (photometric == kBlackIsZero) {
        if (samples != 1 || d.extraSamples.present) return false;
    } else if (photometric == kRgb) {
        if (samples == 3) {
            if (d.extraSamples.present) return false;
        } else if (samples == 4) {
            uint32_t extra;
            if (!SingleValue(bytes, d.extraSamples, 0, extra)) return false;
            if (extra != kAssociatedAlpha && extra != kUnassociatedAlpha) return false;
            associated = extra == kAssociatedAlpha;
        } else {
            return false;
        }
    } else {
        return false;
    }
    if (!AllSamplesAre(bytes, d.bitsPerSample, samples, 8, 1) ||
        !AllSamplesAre(bytes, d.sampleFormat, samples, kUnsignedInteger, kUnsignedInteger)) {
        return false;
    }
    size_t outBytes;
    if (!OutputSizeAllowed(width, height, 4, outBytes) || rowsPerStrip == 0) return false;

    // Every strip the rows need, within the file. A strip's byte count may exceed its rows
    // (writers may pad) but not fall short of them.
    rowsPerStrip = std::min(rowsPerStrip, height);
    const uint32_t strips = (height - 1) / rowsPerStrip + 1;
    const uint64_t rowBytes = uint64_t{width} * samples;
    if (!d.stripOffsets.present || !d.stripByteCounts.present || d.stripOffsets.count < strips ||
        d.stripByteCounts.count < strips) {
        return false;
    }
    for (uint32_t s = 0; s < strips; ++s) {
        uint32_t offset, byteCount;
        if (!ValueOf(bytes, d.stripOffsets, s, offset) ||
            !ValueOf(bytes, d.stripByteCounts, s, byteCount)) {
            return false;
        }
        const uint64_t needed = rowBytes * std::min(rowsPerStrip, height - s * rowsPerStrip);
        if (byteCount < needed || offset > size || needed > size - offset) return false;
    }

    out.width = width;
    out.height = height;
    out.bitsPerPixel = static_cast<uint16_t>(samples * 8);
    out.hasAlpha = samples == 4;
    out.bgra.resize(outBytes);
    uint32_t y = 0;
    for (uint32_t s = 0; s < strips; ++s) {
        uint32_t offset;
        if (!ValueOf(bytes, d.stripOffsets, s, offset)) return false;
        const uint8_t* row = data + offset;
        const uint32_t end = std::min(height, y + rowsPerStrip);
        for (; y < end; ++y, row += rowBytes) {
            uint8_t* pixels = out.bgra.data() + size_t{y} * width * 4;
            switch (samples) {
                case 1:
                    ConvertGreyRow(row, width, pixels);
                    break;
                case 3:
                    ConvertRgbRow(row, width, pixels);
                    break;
                default:
                    ConvertRgbaRow(row, width, pixels);
                    if (associated) Unpremultiply(pixels, width);
                    break;
            }
        }
    }
    return true;
}

}  // namespace decode
