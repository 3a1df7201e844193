#include "decode/JpegDc.h"

#include "base/ByteCursor.h"
#include "decode/Limits.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>

// How the work is split: the headers are read through ByteCursor; the entropy-coded data,
// which is most of the file and is read bit by bit, through BitReader, whose every byte read is
// checked against the end of the data. A sequential file still has to have all of its AC codes
// decoded, since Huffman codes are not self-delimiting, but their values are never formed: one
// table lookup gives the length of one or more whole codes with their extra bits, and how many
// coefficients they cover. A progressive file's AC scans are passed over by looking for the
// next marker, and reading stops once every component's DC terms are complete.
//
// Damage (a bad code, a marker or the end of the file inside an MCU, a wrong restart marker,
// a broken segment after decoding began) ends decoding; what decoded before it is kept and the
// picture is marked incomplete.

namespace decode {
namespace {

static_assert(std::endian::native == std::endian::little, "the bit reader loads big-endian words");

// Codes of up to this many bits (with their extra bits, where the tables say so) are decoded
// with one lookup. Eleven bits cover nearly every AC code and value of a photograph at
// ordinary qualities and keep each lookup table within 8 KiB.
constexpr int kFastBits = 11;
constexpr int kFastSize = 1 << kFastBits;

// Entropy-coded data, most significant bit first. A 0xFF byte is followed by a stuffed 0x00;
// any other byte after 0xFF starts a marker, where reading stops and zero bits are supplied
// instead. Those zero bits are counted: clean data never needs them (encoders pad the last
// byte with ones), so consuming any of them means the data is damaged or cut short.
class BitReader {
public:
    void Start(const uint8_t* p, const uint8_t* end) {
        p_ = p;
        end_ = end;
        bits_ = 0;
        count_ = 0;
        padding_ = 0;
        atMarker_ = false;
    }

    // Afterwards at least 32 bits are available: one code of up to 16 bits and its extra bits.
    void Ensure() {
        if (count_ < 32) Refill();
    }
    // n in 1..32.
    uint32_t Peek(int n) const { return static_cast<uint32_t>(bits_ >> (64 - n)); }
    void Consume(int n) {
        bits_ <<= n;
        count_ -= n;
    }
    uint32_t Take(int n) {
        const uint32_t value = Peek(n);
        Consume(n);
        return value;
    }
    bool Overran() const { return count_ < padding_; }
    // Where reading stopped: at a marker's first byte, or at the first byte not yet read.
    const uint8_t* Position() const { return p_; }

private:
    void Refill() {
        while (count_ <= 56) {
            if (!atMarker_ && end_ - p_ >= 8) {
                uint64_t word;
                std::memcpy(&word, p_, 8);
                word = __builtin_bswap64(word);
                const uint64_t inverted = ~word;
                const bool hasFF =
                    ((inverted - 0x0101010101010101ull) & ~inverted & 0x8080808080808080ull) != 0;
                if (!hasFF) {
                    const int bytes = (64 - count_) >> 3;
                    const uint64_t whole =
                        bytes == 8 ? word : word & ~(~uint64_t{0} >> (bytes * 8));
                    bits_ |= whole >> count_;
                    p_ += bytes;
                    count_ += bytes * 8;
                    continue;
                }
            }
            uint64_t byte = 0;
            if (!atMarker_ && p_ < end_) {
                byte = *p_;
                if (byte != 0xFF) {
                    ++p_;
                } else if (end_ - p_ >= 2 && p_[1] == 0x00) {
                    p_ += 2;
                } else {
                    atMarker_ = true;
                    byte = 0;
                    padding_ += 8;
                }
            } else {
                padding_ += 8;
            }
            bits_ |= byte << (56 - count_);
            count_ += 8;
        }
    }

    const uint8_t* p_ = nullptr;
    const uint8_t* end_ = nullptr;
    uint64_t bits_ = 0;  // left-aligned
    int count_ = 0;
    int padding_ = 0;
    bool atMarker_ = false;
};

struct DcEntry {
    int16_t difference;
    uint8_t bits;  // code and extra bits together; 0: not decodable by this entry
};

// An AC lookup entry covers every whole code (with its extra bits) that fits in the kFastBits
// bits looked at, so one lookup usually passes over two or three coefficients:
//   bits 0-4    bits of all of them
//   bits 5-12   coefficients they advance (an end of block adds nothing)
//   bit 13      the last of them ends the block
//   bits 16-20  bits of the first alone
//   bits 24-28  coefficients the first alone advances; 0 when it ends the block
// All of them may be taken only while the block cannot end inside them; otherwise the first
// alone is. 0: the first code and its extra bits do not fit, decode it the long way.
constexpr uint32_t kAcEndsBlock = 1u << 13;

struct HuffmanTable {
    bool defined = false;
    bool built = false;  // tables are built when a scan first uses them
    bool dcClass = false;
    uint8_t counts[16];
    uint8_t values[256];
    // Codes of up to kFastBits bits: length << 8 | symbol; 0 for longer codes.
    uint16_t symbols[kFastSize];
    // DC tables: the difference itself, where code and extra bits fit in kFastBits.
    DcEntry dc[kFastSize];
    // AC tables, as above.
    uint32_t ac[kFastSize];
    // Longer codes, canonically: limit[n] is the first left-aligned 16-bit code past those of
    // n bits or fewer; offset[n] turns an n-bit code into an index into values.
    uint32_t limit[17];
    int32_t offset[17];
};

int Extend(uint32_t bits, int size) {
    const int value = static_cast<int>(bits);
    return value < (1 << (size - 1)) ? value - (1 << size) + 1 : value;
}

// Checks the code lengths of a table as it is defined: they must be able to form a code.
bool CodeLengthsValid(const uint8_t counts[16]) {
    uint32_t code = 0;
    for (int length = 1; length <= 16; ++length) {
        code += counts[length - 1];
        if (code > (1u << length)) return false;
        code <<= 1;
    }
    return true;
}

void BuildAcRuns(HuffmanTable& t) {
    for (uint32_t e = 0; e < kFastSize; ++e) {
        int used = 0;
        int advance = 0;
        int count = 0;
        uint32_t entry = 0;
        while (used < kFastBits) {
            const uint16_t code = t.symbols[(e << used) & (kFastSize - 1)];
            const int length = code >> 8;
            if (length == 0 || used + length > kFastBits) break;
            const int run = (code & 0xFF) >> 4;
            const int size = code & 15;
            const bool ends = size == 0 && run != 15;
            const int step = size == 0 ? (run == 15 ? 16 : 0) : run + 1;
            if (used + length + size > kFastBits || advance + step >= 64) break;
            used += length + size;
            advance += step;
            if (count++ == 0)
                entry = static_cast<uint32_t>(used) << 16 | static_cast<uint32_t>(step) << 24;
            entry = (entry & ~0x3FFFu) | static_cast<uint32_t>(used) |
                    static_cast<uint32_t>(advance) << 5;
            if (ends) {
                entry |= kAcEndsBlock;
                break;
            }
        }
        t.ac[e] = entry;
    }
}

void BuildTable(HuffmanTable& t) {
    std::memset(t.symbols, 0, sizeof t.symbols);
    std::memset(t.dc, 0, sizeof t.dc);
    uint32_t code = 0;
    int index = 0;
    t.limit[0] = 0;
    t.offset[0] = 0;
    for (int length = 1; length <= 16; ++length) {
        const int n = t.counts[length - 1];
        t.offset[length] = index - static_cast<int32_t>(code);
        for (int i = 0; i < n; ++i, ++code, ++index) {
            if (length > kFastBits) continue;
            const uint8_t symbol = t.values[index];
            const int shift = kFastBits - length;
            const uint32_t first = code << shift;
            for (uint32_t e = first; e < first + (1u << shift); ++e) {
                t.symbols[e] = static_cast<uint16_t>(length << 8 | symbol);
                if (!t.dcClass) continue;
                if (symbol == 0) {
                    t.dc[e] = {0, static_cast<uint8_t>(length)};
                } else if (length + symbol <= kFastBits) {
                    const uint32_t extra = (e >> (shift - symbol)) & ((1u << symbol) - 1);
                    t.dc[e] = {static_cast<int16_t>(Extend(extra, symbol)),
                               static_cast<uint8_t>(length + symbol)};
                }
            }
        }
        t.limit[length] = code << (16 - length);
        code <<= 1;
    }
    if (!t.dcClass) BuildAcRuns(t);
    t.built = true;
}

// The symbol at the reader, or false for bits that are no code of the table.
// Needs 16 available bits.
inline bool DecodeSymbol(BitReader& reader, const HuffmanTable& t, int& symbol) {
    const uint16_t entry = t.symbols[reader.Peek(kFastBits)];
    if (entry != 0) {
        reader.Consume(entry >> 8);
        symbol = entry & 0xFF;
        return true;
    }
    // No code of kFastBits bits or fewer starts here, so the code is longer (or invalid).
    const uint32_t bits16 = reader.Peek(16);
    for (int length = kFastBits + 1; length <= 16; ++length) {
        if (bits16 < t.limit[length]) {
            reader.Consume(length);
            symbol = t.values[t.offset[length] + static_cast<int32_t>(bits16 >> (16 - length))];
            return true;
        }
    }
    return false;
}

inline bool DecodeDcDifference(BitReader& reader, const HuffmanTable& t, int& difference) {
    reader.Ensure();
    const DcEntry entry = t.dc[reader.Peek(kFastBits)];
    if (entry.bits != 0) {
        reader.Consume(entry.bits);
        difference = entry.difference;
        return true;
    }
    int size;
    if (!DecodeSymbol(reader, t, size)) return false;
    difference = size == 0 ? 0 : Extend(reader.Take(size), size);
    return true;
}

// Decodes the AC codes of one block and forgets them.
inline bool SkipAcCodes(BitReader& reader, const HuffmanTable& t) {
    for (int k = 1; k < 64;) {
        reader.Ensure();
        const uint32_t entry = t.ac[reader.Peek(kFastBits)];
        if (entry != 0) {
            const int advance = (entry >> 5) & 0xFF;
            if (k + advance < 64) {
                reader.Consume(entry & 31);
                if (entry & kAcEndsBlock) return true;
                k += advance;
            } else {
                reader.Consume((entry >> 16) & 31);
                const int first = static_cast<int>(entry >> 24);
                if (first == 0) return true;
                k += first;
            }
            continue;
        }
        int symbol;
        if (!DecodeSymbol(reader, t, symbol)) return false;
        const int run = symbol >> 4;
        const int size = symbol & 15;
        if (size == 0) {
            if (run != 15) return true;
            k += 16;
        } else {
            reader.Consume(size);
            k += run + 1;
        }
    }
    // A run past the last coefficient is tolerated: the codes after it are still in step.
    return true;
}

// The DC coefficients of a picture's blocks are kept as int16; valid 8-bit data stays far
// inside that range, and a damaged stream is stopped at its bounds.
constexpr int32_t kCoefficientLimit = 32767;

struct Component {
    uint8_t id = 0;
    uint8_t h = 1;
    uint8_t v = 1;
    uint8_t quantTable = 0;
    int32_t quantDc = 0;     // taken at the first scan holding the component; 0 before
    uint32_t planeWide = 0;  // blocks kept: whole MCUs
    uint32_t planeHigh = 0;
    uint32_t blocksWide = 0;  // blocks covering the component's own area
    uint32_t blocksHigh = 0;
    size_t planeStart = 0;
    int knownFromBit = -1;  // progressive: lowest DC bit decoded so far; -1 before any
    bool decoded = false;   // sequential: a scan covered it
};

struct ScanPart {
    Component* component;
    const HuffmanTable* dc;
    const HuffmanTable* ac;
    int16_t* plane;
    int32_t predictor;
};

// The block's DC difference added to the component's predictor; false where the code is
// broken or the sum leaves the range of a coefficient.
inline bool AdvancePredictor(BitReader& reader, ScanPart& part) {
    int difference;
    if (!DecodeDcDifference(reader, *part.dc, difference)) return false;
    part.predictor += difference;
    return part.predictor <= kCoefficientLimit && part.predictor >= -kCoefficientLimit;
}

struct SequentialBlock {
    bool operator()(BitReader& reader, ScanPart& part, int16_t* coefficient) const {
        if (!AdvancePredictor(reader, part)) return false;
        *coefficient = static_cast<int16_t>(part.predictor);
        return SkipAcCodes(reader, *part.ac);
    }
};

struct DcFirstBlock {
    int low;  // the scan's successive-approximation shift, 0..13
    bool operator()(BitReader& reader, ScanPart& part, int16_t* coefficient) const {
        if (!AdvancePredictor(reader, part)) return false;
        const int32_t value = part.predictor * (int32_t{1} << low);
        *coefficient = static_cast<int16_t>(std::clamp(value, -32768, 32767));
        return true;
    }
};

struct DcRefineBlock {
    int low;  // the bit this scan adds, 0..12
    bool operator()(BitReader& reader, ScanPart&, int16_t* coefficient) const {
        reader.Ensure();
        if (reader.Take(1)) *coefficient = static_cast<int16_t>(*coefficient | (1 << low));
        return true;
    }
};

// The first marker at or after p, past entropy-coded data: 0xFF 0x00 is data, runs of 0xFF
// are fill, and restart markers are passed over when `passRestarts` is set. Returns a pointer
// to the marker's 0xFF, or nullptr.
const uint8_t* FindMarker(const uint8_t* p, const uint8_t* end, bool passRestarts) {
    while (p < end) {
        const void* found = std::memchr(p, 0xFF, static_cast<size_t>(end - p));
        if (!found) return nullptr;
        const uint8_t* ff = static_cast<const uint8_t*>(found);
        const uint8_t* q = ff + 1;
        while (q < end && *q == 0xFF) ++q;
        if (q == end) return nullptr;
        const bool restart = *q >= 0xD0 && *q <= 0xD7;
        if (*q != 0x00 && !(restart && passRestarts)) return q - 1;
        p = q + 1;
    }
    return nullptr;
}

// The table ready for decoding, or nullptr when the file never defined it.
const HuffmanTable* Prepared(HuffmanTable& table) {
    if (!table.defined) return nullptr;
    if (!table.built) BuildTable(table);
    return &table;
}

bool ReadU16(ByteCursor& cursor, uint16_t& value) {
    uint8_t bytes[2];
    if (!cursor.ReadBytes(bytes, 2)) return false;
    value = static_cast<uint16_t>(bytes[0] << 8 | bytes[1]);
    return true;
}

constexpr uint32_t CeilDiv(uint32_t a, uint32_t b) {
    return (a + b - 1) / b;
}

class Decoder {
public:
    Decoder(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool Run(DcPicture& out);

private:
    enum class Outcome { kGoOn, kDone, kFailed };

    Outcome Segment(uint8_t marker, ByteCursor segment, size_t& next);
    bool ReadFrame(ByteCursor& c, uint8_t marker);
    bool ReadHuffmanTables(ByteCursor& c);
    bool ReadQuantTables(ByteCursor& c);
    Outcome ReadScan(ByteCursor& c, size_t& next);
    template <class Block>
    bool DecodeScan(ScanPart* parts, int count, const uint8_t* start, const Block& block);
    bool Restart(BitReader& reader, int index);
    bool AllDone() const;
    void Render(DcPicture& out) const;

    const uint8_t* data_;
    size_t size_;

    bool frameSeen_ = false;
    bool progressive_ = false;
    bool adobeRgb_ = false;
    uint32_t width_ = 0;
    uint32_t height_ = 0;
    int componentCount_ = 0;
    Component components_[3];
    uint32_t mcusWide_ = 0;
    uint32_t mcusHigh_ = 0;
    std::vector<int16_t> planes_;

    int32_t quantDc_[4] = {};
    HuffmanTable dcTables_[4];
    HuffmanTable acTables_[4];
    uint32_t restartInterval_ = 0;

    const uint8_t* end_ = nullptr;  // where the last scan's entropy-coded data ended
    bool anyDecoded_ = false;       // at least one MCU decoded cleanly
    bool damaged_ = false;
};

bool Decoder::Run(DcPicture& out) {
    if (size_ < 4 || data_[0] != 0xFF || data_[1] != 0xD8) return false;
    size_t pos = 2;
    for (;;) {
        // Bytes other than fill before a marker are tolerated, as many writers leave some.
        while (pos + 1 < size_ &&
               !(data_[pos] == 0xFF && data_[pos + 1] != 0xFF && data_[pos + 1] != 0x00)) {
            ++pos;
        }
        if (pos + 1 >= size_) {
            damaged_ = true;  // no end-of-image marker before what was needed
            break;
        }
        const uint8_t marker = data_[pos + 1];
        pos += 2;
        if (marker == 0xD9) break;                                           // end of image
        if ((marker >= 0xD0 && marker <= 0xD7) || marker == 0x01) continue;  // no length
        if (pos + 2 > size_) {
            damaged_ = true;
            break;
        }
        const size_t length = size_t{data_[pos]} << 8 | data_[pos + 1];
        if (length < 2 || length > size_ - pos) {
            if (!anyDecoded_) return false;
            damaged_ = true;
            break;
        }
        size_t next = pos + length;
        const Outcome outcome = Segment(marker, ByteCursor(data_ + pos + 2, length - 2), next);
        if (outcome == Outcome::kFailed) {
            if (!anyDecoded_) return false;
            damaged_ = true;
            break;
        }
        if (outcome == Outcome::kDone) break;
        pos = next;
    }
    if (!anyDecoded_) return false;
    Render(out);
    out.complete = !damaged_ && AllDone();
    return true;
}

Decoder::Outcome Decoder::Segment(uint8_t marker, ByteCursor segment, size_t& next) {
    switch (marker) {
        case 0xC0:
        case 0xC1:
        case 0xC2:
            if (frameSeen_) return Outcome::kFailed;
            return ReadFrame(segment, marker) ? Outcome::kGoOn : Outcome::kFailed;
        case 0xC4:
            return ReadHuffmanTables(segment) ? Outcome::kGoOn : Outcome::kFailed;
        case 0xDB:
            return ReadQuantTables(segment) ? Outcome::kGoOn : Outcome::kFailed;
        case 0xDD: {
            uint16_t interval;
            if (!ReadU16(segment, interval)) return Outcome::kFailed;
            restartInterval_ = interval;
            return Outcome::kGoOn;
        }
        case 0xDA:
            return ReadScan(segment, next);
        case 0xEE: {
            // Adobe's marker: a transform of 0 means three components hold RGB, not YCbCr.
            uint8_t adobe[12];
            if (segment.ReadBytes(adobe, sizeof adobe) && std::memcmp(adobe, "Adobe", 5) == 0) {
                adobeRgb_ = adobe[11] == 0;
            }
            return Outcome::kGoOn;
        }
        case 0xC3:  // lossless
        case 0xC5:  // differential (hierarchical) frames
        case 0xC6:
        case 0xC7:
        case 0xC8:  // reserved
        case 0xC9:  // arithmetic coding
        case 0xCA:
        case 0xCB:
        case 0xCC:
        case 0xCD:
        case 0xCE:
        case 0xCF:
        case 0xDE:  // hierarchical progression
        case 0xDF:
        case 0xD8:  // a second start of image
            return Outcome::kFailed;
        case 0xDC:  // the height given after the first scan: never needed past it
            return frameSeen_ && anyDecoded_ ? Outcome::kDone : Outcome::kFailed;
        default:  // application segments, comments and others: not ours
            return Outcome::kGoOn;
    }
}

bool Decoder::ReadFrame(ByteCursor& c, uint8_t marker) {
    uint8_t precision, count;
    uint16_t height, width;
    if (!c.ReadU8(precision) || !ReadU16(c, height) || !ReadU16(c, width) || !c.ReadU8(count)) {
        return false;
    }
    // A height of 0 would be given by a later marker: such files are left to WIC.
    if (precision != 8 || width == 0 || height == 0) return false;
    if (width > kMaxPictureSide || height > kMaxPictureSide) return false;
    if (count != 1 && count != 3) return false;
    for (int i = 0; i < count; ++i) {
        uint8_t id, sampling, table;
        if (!c.ReadU8(id) || !c.ReadU8(sampling) || !c.ReadU8(table)) return false;
        Component& comp = components_[i];
        comp.id = id;
        comp.h = sampling >> 4;
        comp.v = sampling & 15;
        comp.quantTable = table;
        if (comp.h < 1 || comp.h > 4 || comp.v < 1 || comp.v > 4 || table > 3) return false;
        for (int j = 0; j < i; ++j) {
            if (components_[j].id == id) return false;
        }
    }
    if (count == 1) {
        // One component is coded block by block whatever its sampling factors say.
        components_[0].h = components_[0].v = 1;
    } else {
        const Component* c3 = components_;
        if (c3[0].h > 2 || c3[0].v > 2) return false;
        for (int i = 1; i < 3; ++i) {
            if (c3[i].h != 1 || c3[i].v != 1) return false;
        }
        if (c3[0].id == 'R' && c3[1].id == 'G' && c3[2].id == 'B') return false;
    }
    frameSeen_ = true;
    progressive_ = marker == 0xC2;
    width_ = width;
    height_ = height;
    componentCount_ = count;
    const uint32_t hMax = components_[0].h;
    const uint32_t vMax = components_[0].v;
    mcusWide_ = CeilDiv(width, 8 * hMax);
    mcusHigh_ = CeilDiv(height, 8 * vMax);
    size_t total = 0;
    for (int i = 0; i < count; ++i) {
        Component& comp = components_[i];
        comp.planeWide = mcusWide_ * comp.h;
        comp.planeHigh = mcusHigh_ * comp.v;
        comp.blocksWide = CeilDiv(CeilDiv(width * comp.h, hMax), 8);
        comp.blocksHigh = CeilDiv(CeilDiv(height * comp.v, vMax), 8);
        comp.planeStart = total;
        total += size_t{comp.planeWide} * comp.planeHigh;
    }
    // At most 30000x30000 pixels: under 15 million blocks a component.
    planes_.assign(total, 0);
    return true;
}

bool Decoder::ReadHuffmanTables(ByteCursor& c) {
    while (!c.AtEnd()) {
        uint8_t classAndId;
        uint8_t counts[16];
        uint8_t values[256];
        if (!c.ReadU8(classAndId) || !c.ReadBytes(counts, sizeof counts)) return false;
        const int tableClass = classAndId >> 4;
        const int id = classAndId & 15;
        if (tableClass > 1 || id > 3) return false;
        int total = 0;
        for (uint8_t n : counts) total += n;
        if (total > 256 || !c.ReadBytes(values, static_cast<size_t>(total))) return false;
        if (tableClass == 0) {
            for (int i = 0; i < total; ++i) {
                if (values[i] > 15) return false;  // a DC difference has at most 15 bits
            }
        }
        if (!CodeLengthsValid(counts)) return false;
        HuffmanTable& table = tableClass == 0 ? dcTables_[id] : acTables_[id];
        std::memcpy(table.counts, counts, sizeof counts);
        std::memcpy(table.values, values, static_cast<size_t>(total));
        table.dcClass = tableClass == 0;
        table.defined = true;
        table.built = false;
    }
    return true;
}

bool Decoder::ReadQuantTables(ByteCursor& c) {
    while (!c.AtEnd()) {
        uint8_t precisionAndId;
        if (!c.ReadU8(precisionAndId)) return false;
        const int precision = precisionAndId >> 4;
        const int id = precisionAndId & 15;
        if (precision > 1 || id > 3) return false;
        // Only the first entry, the DC step, is of use here.
        uint16_t dc;
        if (precision == 0) {
            uint8_t dc8;
            if (!c.ReadU8(dc8)) return false;
            dc = dc8;
        } else if (!ReadU16(c, dc)) {
            return false;
        }
        if (dc == 0 || !c.Skip(precision == 0 ? 63 : 126)) return false;
        quantDc_[id] = dc;
    }
    return true;
}

Decoder::Outcome Decoder::ReadScan(ByteCursor& c, size_t& next) {
    if (!frameSeen_) return Outcome::kFailed;
    if (componentCount_ == 3 && adobeRgb_) return Outcome::kFailed;
    uint8_t count;
    if (!c.ReadU8(count) || count < 1 || count > componentCount_) return Outcome::kFailed;
    ScanPart parts[3];
    uint8_t tableIds[3];
    for (int i = 0; i < count; ++i) {
        uint8_t id, tables;
        if (!c.ReadU8(id) || !c.ReadU8(tables)) return Outcome::kFailed;
        Component* comp = nullptr;
        for (int j = 0; j < componentCount_; ++j) {
            if (components_[j].id == id) comp = &components_[j];
        }
        if (!comp) return Outcome::kFailed;
        for (int j = 0; j < i; ++j) {
            if (parts[j].component == comp) return Outcome::kFailed;
        }
        parts[i] = {comp, nullptr, nullptr, planes_.data() + comp->planeStart, 0};
        tableIds[i] = tables;
    }
    uint8_t start, end, approximation;
    if (!c.ReadU8(start) || !c.ReadU8(end) || !c.ReadU8(approximation)) return Outcome::kFailed;
    const int high = approximation >> 4;
    const int low = approximation & 15;
    const uint8_t* data = data_ + next;
    const uint8_t* dataEnd = data_ + size_;

    const auto passScan = [&] {
        const uint8_t* marker = FindMarker(data, dataEnd, true);
        if (!marker) return Outcome::kDone;  // cut short; whatever decoded stands
        next = static_cast<size_t>(marker - data_);
        return Outcome::kGoOn;
    };
    const auto afterScan = [&](bool clean) {
        if (!clean) {
            damaged_ = true;
            return Outcome::kDone;
        }
        if (AllDone()) return Outcome::kDone;
        const uint8_t* marker = FindMarker(end_, dataEnd, true);
        if (!marker) return Outcome::kDone;
        next = static_cast<size_t>(marker - data_);
        return Outcome::kGoOn;
    };

    // Each component's DC step is the one in force at the first scan that holds it.
    for (int i = 0; i < count; ++i) {
        Component& comp = *parts[i].component;
        if (comp.quantDc == 0) comp.quantDc = quantDc_[comp.quantTable];
        if (comp.quantDc == 0) return Outcome::kFailed;
    }

    if (!progressive_) {
        if (start != 0 || end != 63 || approximation != 0) return Outcome::kFailed;
        for (int i = 0; i < count; ++i) {
            if ((tableIds[i] >> 4) > 3 || (tableIds[i] & 15) > 3) return Outcome::kFailed;
            parts[i].dc = Prepared(dcTables_[tableIds[i] >> 4]);
            parts[i].ac = Prepared(acTables_[tableIds[i] & 15]);
            if (!parts[i].dc || !parts[i].ac) return Outcome::kFailed;
        }
        const bool clean = DecodeScan(parts, count, data, SequentialBlock{});
        if (clean) {
            for (int i = 0; i < count; ++i) parts[i].component->decoded = true;
        }
        return afterScan(clean);
    }

    if (start != 0) return passScan();  // AC coefficients: not needed
    if (end != 0) return Outcome::kFailed;
    if (high == 0) {
        if (low > 13) return Outcome::kFailed;
        for (int i = 0; i < count; ++i) {
            if ((tableIds[i] >> 4) > 3) return Outcome::kFailed;
            parts[i].dc = Prepared(dcTables_[tableIds[i] >> 4]);
            if (!parts[i].dc) return Outcome::kFailed;
            // A second first scan of a component would undo its refinements: pass it over.
            if (parts[i].component->knownFromBit >= 0) return passScan();
        }
        const bool clean = DecodeScan(parts, count, data, DcFirstBlock{low});
        if (clean) {
            for (int i = 0; i < count; ++i) parts[i].component->knownFromBit = low;
        }
        return afterScan(clean);
    }
    // A refinement adds one bit below those known; out of order ones are passed over.
    if (low != high - 1) return passScan();
    for (int i = 0; i < count; ++i) {
        if (parts[i].component->knownFromBit != high) return passScan();
    }
    const bool clean = DecodeScan(parts, count, data, DcRefineBlock{low});
    if (clean) {
        for (int i = 0; i < count; ++i) parts[i].component->knownFromBit = low;
    }
    return afterScan(clean);
}

template <class Block>
bool Decoder::DecodeScan(ScanPart* parts, int count, const uint8_t* start, const Block& block) {
    // A local reader: its state stays in registers across the loop.
    BitReader reader;
    reader.Start(start, data_ + size_);
    // One component alone is coded block by block over its own area; several are coded in
    // MCUs, each holding h x v blocks of each.
    const Component& only = *parts[0].component;
    const uint32_t wide = count == 1 ? only.blocksWide : mcusWide_;
    const uint32_t high = count == 1 ? only.blocksHigh : mcusHigh_;
    uint32_t untilRestart = restartInterval_;
    int restartIndex = 0;
    for (uint32_t my = 0; my < high; ++my) {
        for (uint32_t mx = 0; mx < wide; ++mx) {
            if (restartInterval_ != 0) {
                if (untilRestart == 0) {
                    if (!Restart(reader, restartIndex)) return false;
                    restartIndex = (restartIndex + 1) & 7;
                    for (int i = 0; i < count; ++i) parts[i].predictor = 0;
                    untilRestart = restartInterval_;
                }
                --untilRestart;
            }
            if (count == 1) {
                int16_t* coefficient = parts[0].plane + size_t{my} * only.planeWide + mx;
                if (!block(reader, parts[0], coefficient)) return false;
            } else {
                for (int i = 0; i < count; ++i) {
                    ScanPart& part = parts[i];
                    const Component& comp = *part.component;
                    for (uint32_t v = 0; v < comp.v; ++v) {
                        int16_t* row = part.plane + (size_t{my} * comp.v + v) * comp.planeWide +
                                       size_t{mx} * comp.h;
                        for (uint32_t h = 0; h < comp.h; ++h) {
                            if (!block(reader, part, row + h)) return false;
                        }
                    }
                }
            }
            if (reader.Overran()) return false;
            anyDecoded_ = true;
        }
    }
    end_ = reader.Position();
    return true;
}

bool Decoder::Restart(BitReader& reader, int index) {
    if (reader.Overran()) return false;
    const uint8_t* end = data_ + size_;
    const uint8_t* marker = FindMarker(reader.Position(), end, false);
    if (!marker || marker[1] != 0xD0 + index) return false;
    reader.Start(marker + 2, end);
    return true;
}

bool Decoder::AllDone() const {
    if (!frameSeen_) return false;
    for (int i = 0; i < componentCount_; ++i) {
        const Component& comp = components_[i];
        if (progressive_ ? comp.knownFromBit != 0 : !comp.decoded) return false;
    }
    return true;
}

// A block's mean sample in eighths (DC x step = 8 x (mean - 128)), clamped to 0..255.
inline int32_t MeanInEighths(int16_t coefficient, int32_t step) {
    return std::clamp(coefficient * step + 1024, 0, 2040);
}

inline uint8_t ToByte(int32_t fixed) {
    // fixed: a value in eighths, scaled by 2^16.
    return static_cast<uint8_t>(std::clamp((fixed + (1 << 18)) >> 19, 0, 255));
}

void Decoder::Render(DcPicture& out) const {
    out.width = width_;
    out.height = height_;
    out.components = static_cast<uint8_t>(componentCount_);
    out.bitsPerPixel = componentCount_ == 1 ? 8 : 24;
    out.progressive = progressive_;
    out.blocksWide = CeilDiv(width_, 8);
    out.blocksHigh = CeilDiv(height_, 8);
    out.bgr.resize(size_t{out.blocksWide} * out.blocksHigh * 3);
    uint8_t* d = out.bgr.data();
    const Component& luma = components_[0];
    const int16_t* y = planes_.data() + luma.planeStart;
    if (componentCount_ == 1) {
        for (uint32_t by = 0; by < out.blocksHigh; ++by) {
            const int16_t* row = y + size_t{by} * luma.planeWide;
            for (uint32_t bx = 0; bx < out.blocksWide; ++bx, d += 3) {
                const auto grey =
                    static_cast<uint8_t>((MeanInEighths(row[bx], luma.quantDc) + 4) >> 3);
                d[0] = d[1] = d[2] = grey;
            }
        }
        return;
    }
    const Component& blue = components_[1];
    const Component& red = components_[2];
    const int16_t* cb = planes_.data() + blue.planeStart;
    const int16_t* cr = planes_.data() + red.planeStart;
    const int shiftX = luma.h == 2 ? 1 : 0;
    const int shiftY = luma.v == 2 ? 1 : 0;
    // JFIF's YCbCr to RGB, full range, in 16-bit fixed point.
    constexpr int32_t kCrToR = 91881;   // 1.402
    constexpr int32_t kCbToG = 22554;   // 0.344136
    constexpr int32_t kCrToG = 46802;   // 0.714136
    constexpr int32_t kCbToB = 116130;  // 1.772
    for (uint32_t by = 0; by < out.blocksHigh; ++by) {
        const int16_t* yRow = y + size_t{by} * luma.planeWide;
        const int16_t* cbRow = cb + size_t{by >> shiftY} * blue.planeWide;
        const int16_t* crRow = cr + size_t{by >> shiftY} * red.planeWide;
        for (uint32_t bx = 0; bx < out.blocksWide; ++bx, d += 3) {
            const int32_t l = MeanInEighths(yRow[bx], luma.quantDc) << 16;
            const int32_t b = MeanInEighths(cbRow[bx >> shiftX], blue.quantDc) - 1024;
            const int32_t r = MeanInEighths(crRow[bx >> shiftX], red.quantDc) - 1024;
            d[0] = ToByte(l + kCbToB * b);
            d[1] = ToByte(l - kCbToG * b - kCrToG * r);
            d[2] = ToByte(l + kCrToR * r);
        }
    }
}

}  // namespace

bool DecodeJpegDc(const uint8_t* data, size_t size, DcPicture& out) {
    if (!data) return false;
    // The tables take about 130 KiB: too much for the stack of a worker thread.
    const auto decoder = std::make_unique<Decoder>(data, size);
    return decoder->Run(out);
}

}  // namespace decode
