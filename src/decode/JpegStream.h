#pragma once
// The reading half of the JPEG decoders (decode/JpegDc.h, decode/JpegScaled.h): markers,
// tables, the frame and the scans, down to each block's coefficients. What the decoders make
// of those coefficients is their own business.
//
// Handled: 8-bit Huffman-coded sequential (SOF0, SOF1) and progressive (SOF2) files with one
// component, or three YCbCr components where both chroma components are sampled alike and
// luma as often or twice as often in each direction, at most twice (4:4:4, 4:2:2, 4:2:0 and
// 4:4:0, whatever factors express them), or three RGB components sampled alike (Adobe's
// marker with transform 0, or without that marker the component ids 'R', 'G', 'B', as libjpeg
// takes them), as TIFF writers store RGB. Everything else is refused.
//
// How the work is split: the headers are read through ByteCursor; the entropy-coded data,
// which is most of the file and is read bit by bit, through BitReader, whose every byte read is
// checked against the end of the data. Damage (a bad code, a marker or the end of the file
// inside an MCU, a wrong restart marker, a broken segment after decoding began) ends decoding;
// what decoded before it is kept and the picture is marked incomplete.

#include "base/ByteCursor.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace decode::jpeg {

static_assert(std::endian::native == std::endian::little, "the bit reader loads big-endian words");

// Codes of up to this many bits (with their extra bits, where the tables say so) are decoded
// with one lookup. Eleven bits cover nearly every AC code and value of a photograph at
// ordinary qualities and keep each lookup table within 8 KiB.
constexpr int kFastBits = 11;
constexpr int kFastSize = 1 << kFastBits;

constexpr uint32_t CeilDiv(uint32_t a, uint32_t b) {
    return (a + b - 1) / b;
}

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
    void Refill();

    const uint8_t* p_ = nullptr;
    const uint8_t* end_ = nullptr;
    uint64_t bits_ = 0;  // left-aligned
    int count_ = 0;
    int padding_ = 0;
    bool atMarker_ = false;
};

// Inline: it runs every few codes, in the innermost loops.
inline void BitReader::Refill() {
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
                const uint64_t whole = bytes == 8 ? word : word & ~(~uint64_t{0} >> (bytes * 8));
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

struct DcEntry {
    int16_t difference;
    uint8_t bits;  // code and extra bits together; 0: not decodable by this entry
};

// An AC skip entry covers every whole code (with its extra bits) that fits in the kFastBits
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
    bool withValues = false;  // AC: `acValue` built too
    uint8_t counts[16];
    uint8_t values[256];
    // Codes of up to kFastBits bits: length << 8 | symbol; 0 for longer codes.
    uint16_t symbols[kFastSize];
    // DC tables: the difference itself, where code and extra bits fit in kFastBits.
    DcEntry dc[kFastSize];
    // AC tables, for passing over codes, as above.
    uint32_t ac[kFastSize];
    // AC tables, for decoding one coefficient where its code and extra bits fit in kFastBits:
    // value << 16 | (run + 1) << 8 | bits; 0 where they do not fit or the code is no value
    // (an end of block or a run of sixteen zeros).
    int32_t acValue[kFastSize];
    // Longer codes, canonically: limit[n] is the first left-aligned 16-bit code past those of
    // n bits or fewer; offset[n] turns an n-bit code into an index into values.
    uint32_t limit[17];
    int32_t offset[17];
};

// JFIF's YCbCr to RGB, full range, in 16-bit fixed point: R = Y + 1.402 (Cr - 128),
// G = Y - 0.344136 (Cb - 128) - 0.714136 (Cr - 128), B = Y + 1.772 (Cb - 128).
constexpr int32_t kCrToR = 91881;
constexpr int32_t kCbToG = 22554;
constexpr int32_t kCrToG = 46802;
constexpr int32_t kCbToB = 116130;

// The coefficients of a picture's blocks are kept as int16; valid 8-bit data stays far inside
// that range, and a damaged stream is stopped at its bounds.
constexpr int32_t kCoefficientLimit = 32767;

// Where only a reduced picture is wanted (1/4 or 1/8 of the size), a progressive picture's
// blocks are kept as what they add up to instead of as 64 coefficients: each block as the
// running sums of its coefficients' contributions to the few samples it gives, in 2^-16, with
// which of its coefficients are not zero and their signs (bit k for zigzag position k), all that
// later refinement scans need to know of them. A refinement scan then passes over the zeros a
// word at a time, and no transform is left for the end. Each coefficient adds
// coefficient x quantiser step x weight to each sum, in wrapping 32-bit arithmetic: the sums are
// exact, the same in whatever order the scans bring the coefficients, and the same as a
// sequential file's blocks give through CoefficientSums.
constexpr int kMaxSums = 16;  // 4 x 4 samples: chroma at half the luma's scale both ways

struct SummedBlock {
    // Length in int16 units, a whole number of 8-byte words.
    static constexpr uint32_t Stride(int sums) {
        return static_cast<uint32_t>((16 + 4 * sums + 7) / 8 * 4);
    }
    static uint64_t* Masks(int16_t* block) { return reinterpret_cast<uint64_t*>(block); }
    static int32_t* Sums(int16_t* block) { return reinterpret_cast<int32_t*>(block + 8); }
    static const int32_t* Sums(const int16_t* block) {
        return reinterpret_cast<const int32_t*>(block + 8);
    }
};

// sum + amount x weight, wrapping.
inline int32_t AddWrapping(int32_t sum, int32_t amount, int32_t weight) {
    return static_cast<int32_t>(static_cast<uint32_t>(sum) +
                                static_cast<uint32_t>(amount) * static_cast<uint32_t>(weight));
}

// Adds `amount` times each weight to the sums.
template <int N>
inline void AddWeighted(int32_t* sums, const int32_t* weights, int32_t amount) {
    for (int p = 0; p < N; ++p) sums[p] = AddWrapping(sums[p], amount, weights[p]);
}

// Bit k set where coefficient k is not zero.
inline uint64_t NonZeroMask(const int16_t* coefficients) {
#if defined(__SSE2__)
    uint64_t mask = 0;
    const __m128i zero = _mm_setzero_si128();
    for (int i = 0; i < 64; i += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(coefficients + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(coefficients + i + 8));
        const __m128i zeros = _mm_packs_epi16(_mm_cmpeq_epi16(a, zero), _mm_cmpeq_epi16(b, zero));
        mask |= uint64_t{~static_cast<uint32_t>(_mm_movemask_epi8(zeros)) & 0xFFFFu} << i;
    }
    return mask;
#else
    uint64_t mask = 0;
    for (int k = 0; k < 64; ++k) mask |= uint64_t{coefficients[k] != 0} << k;
    return mask;
#endif
}

// The sums of a block of coefficients (natural order), as a summed block holds them.
template <int N>
inline void CoefficientSums(const int16_t* coefficients, const int32_t (*weights)[kMaxSums],
                            int32_t* sums) {
    for (int p = 0; p < N; ++p) sums[p] = 0;
    for (uint64_t mask = NonZeroMask(coefficients); mask != 0; mask &= mask - 1) {
        const int k = std::countr_zero(mask);
        AddWeighted<N>(sums, weights[k], coefficients[k]);
    }
}

struct Component {
    uint8_t id = 0;
    uint8_t h = 1;
    uint8_t v = 1;
    uint8_t quantTable = 0;
    bool quantKnown = false;  // taken at the first scan holding the component
    uint16_t quant[64] = {};  // in natural (row by row) order
    uint32_t planeWide = 0;   // blocks kept: whole MCUs
    uint32_t planeHigh = 0;
    uint32_t blocksWide = 0;  // blocks covering the component's own area
    uint32_t blocksHigh = 0;
    size_t planeStart = 0;  // in coefficients
    int knownFromBit = -1;  // progressive: lowest DC bit decoded so far; -1 before any
    bool decoded = false;   // sequential: a scan covered it
    uint32_t stride = 64;   // int16 units a block takes in the planes
    // Sums per block the sink wants (McuRowSink::Sums), 0 for none; whether the planes hold
    // them (a progressive file) rather than coefficients.
    int sumCount = 0;
    bool summed = false;
    uint64_t sumsNeeded = 0;  // zigzag positions with a weight in some sum
    // Each coefficient's weight in each sum, natural order, in 2^-16: as the sink gave them,
    // and times the quantiser step once that is known (zero before).
    int32_t sumBasis[64][kMaxSums] = {};
    int32_t sumWeights[64][kMaxSums] = {};
};

struct ScanPart {
    Component* component;
    const HuffmanTable* dc;
    const HuffmanTable* ac;
    int16_t* plane;
    int32_t predictor;
    uint32_t endOfBands;  // progressive AC: blocks still to pass in the current run of ends
};

// Where a scan stands in its restart intervals (none when `interval` is 0).
struct RestartCount {
    uint32_t interval = 0;
    uint32_t untilNext = 0;  // MCUs left in the current interval
    int index = 0;           // of the next restart marker, 0..7
};

// A progressive scan found in the file, decoded once the last is found: band by band of MCU
// rows, each band through every scan in turn, so that only one band of blocks is held rather
// than all the picture's (96 MB for 24 megapixels at 4:2:2). A scan's data for a block depends on
// its own state (bit position, predictors, runs of ends of band) and on what the earlier scans gave
// that block alone, so this decodes exactly what scan after scan over the whole picture would.
struct PlannedScan {
    enum class Kind : uint8_t { kDcFirst, kDcRefine, kAcFirst, kAcRefine };
    Kind kind = Kind::kDcFirst;
    int count = 0;
    ScanPart parts[3] = {};
    int start = 0, end = 0, low = 0;
    std::unique_ptr<HuffmanTable[]> tables;  // as defined at the scan; the parts point here
    // Progress.
    BitReader reader;
    RestartCount restarts;
    bool stopped = false;  // damaged, or built on a scan that was
};

class Stream;

struct FreePlanes {
    void operator()(int16_t* planes) const { std::free(planes); }
};

// Takes the blocks of a file's MCU rows as they complete, so that a picture's coefficients need
// not all be held at once (for 24 megapixels, 72 to 144 MB to allocate and clear): a
// sequential file's as its scan goes, a progressive file's once all its scans are found.
class McuRowSink {
public:
    // The frame has been read; false refuses the file.
    virtual bool Start(const Stream& stream) = 0;
    // Row `mcuRow` of MCUs: for component i, Plane(i) holds its v rows of planeWide blocks of
    // 64 coefficients. Every row is given once, in order, whatever decoded: past damage, rows
    // hold what decoded before it and zeros after.
    virtual void Take(const Stream& stream, uint32_t mcuRow) = 0;
    // Asked after Start for each component: the sums per block wanted instead of the
    // coefficients (see SummedBlock), 1 to kMaxSums, with each coefficient's weight in each
    // (natural order, in 2^-16, before quantisation); 0 keeps the coefficients.
    virtual int Sums(const Stream&, int, int32_t (&)[64][kMaxSums]) { return 0; }

protected:
    ~McuRowSink() = default;
};

// Which coefficients a Stream keeps: the DC term of each block alone (the AC codes of a
// sequential file are passed over, a progressive file's AC scans skipped, and reading stops
// once the DC terms are complete), or all 64.
enum class Keep { kDc, kAll };

class Stream {
public:
    Stream(const uint8_t* data, size_t size, Keep keep) : data_(data), size_(size), keep_(keep) {}

    // With all coefficients kept: MCU rows go to `sink` where the file allows it (a
    // progressive file, or one scan holding every component of a sequential one). Set before
    // Run.
    void SetRowSink(McuRowSink* sink) { sink_ = sink; }
    // After Run: whether the rows went to the sink; otherwise Plane() holds every block.
    bool Streamed() const { return streaming_; }

    // Reads the file. False when it is not a JPEG of a kind handled here, when a header
    // before the first scan's data is damaged, or when the picture is larger than the limits
    // in decode/Limits.h. True once at least one MCU decoded cleanly.
    bool Run();

    // After Run: the frame, and whether everything decoded.
    uint32_t Width() const { return width_; }
    uint32_t Height() const { return height_; }
    int ComponentCount() const { return componentCount_; }
    bool Progressive() const { return progressive_; }
    // Three components of R, G and B rather than Y, Cb and Cr.
    bool Rgb() const { return rgb_; }
    bool Complete() const { return complete_; }
    const Component& ComponentAt(int i) const { return components_[i]; }
    uint32_t McusHigh() const { return mcusHigh_; }
    // The first of component i's blocks, planeWide x planeHigh of them (while streaming, of
    // the MCU row given to the sink), each ComponentAt(i).stride int16 units long: its DC term
    // alone, its 64 coefficients (natural order, not dequantised), or a SummedBlock.
    const int16_t* Plane(int i) const {
        const Component& comp = components_[i];
        return planes_.get() + comp.planeStart +
               size_t{bandRow_} * comp.v * comp.planeWide * comp.stride;
    }

private:
    enum class Outcome { kGoOn, kDone, kFailed };

    Outcome Segment(uint8_t marker, ByteCursor segment, size_t& next);
    bool ReadFrame(ByteCursor& c, uint8_t marker);
    bool ReadHuffmanTables(ByteCursor& c);
    bool ReadQuantTables(ByteCursor& c);
    Outcome ReadScan(ByteCursor& c, size_t& next);
    Outcome ReadProgressiveScan(ScanPart* parts, int count, const uint8_t* tableIds, int start,
                                int end, int high, int low, const uint8_t* data, size_t& next);
    Outcome AfterScan(bool clean, size_t& next);
    Outcome PassScan(const uint8_t* data, size_t& next);
    Outcome PlanScan(PlannedScan::Kind kind, ScanPart* parts, int count, int start, int end,
                     int low, const uint8_t* data, size_t& next);
    void RunPlanned();
    // Scan `scan`'s blocks in MCU row `my`, row `inBand` of the planes; false at damage.
    template <class Block>
    bool DecodeRow(PlannedScan& scan, uint32_t my, uint32_t inBand, const Block& block);
    template <class Block>
    bool DecodeScan(ScanPart* parts, int count, const uint8_t* start, const Block& block);
    // The blocks of MCU `mx` in row `row` of the planes.
    template <class Block>
    bool DecodeMcu(BitReader& reader, ScanPart* parts, int count, uint32_t row, uint32_t mx,
                   const Block& block);
    // Before each MCU: at the end of an interval, the restart marker due is passed and the
    // predictors and runs start again; false when another comes instead.
    bool NextInterval(BitReader& reader, RestartCount& restarts, ScanPart* parts, int count);
    bool Restart(BitReader& reader, int index);
    bool AllDone() const;
    // Start, then the sums the sink wants of each component.
    bool StartSink();
    bool AllocatePlanes(bool streaming);
    void TakeRow(uint32_t mcuRow);
    // Clears the streamed row's blocks from MCU `mcu` on (`single`: of a one-component scan).
    void ClearRowFrom(uint32_t mcu, bool single);
    const HuffmanTable* Prepared(HuffmanTable& table) const;

    const uint8_t* data_;
    size_t size_;
    Keep keep_;

    bool frameSeen_ = false;
    bool progressive_ = false;
    bool adobeSeen_ = false;  // Adobe's marker, which says how three components are coded
    bool adobeRgb_ = false;
    bool rgbIds_ = false;  // components named 'R', 'G', 'B'
    bool rgb_ = false;
    uint32_t width_ = 0;
    uint32_t height_ = 0;
    int componentCount_ = 0;
    Component components_[3];
    uint32_t mcusWide_ = 0;
    uint32_t mcusHigh_ = 0;
    // Zeroed by calloc: tens of megabytes where a sequential file's components come in scans of
    // their own, which the system gives as zero pages rather than clearing them here.
    std::unique_ptr<int16_t[], FreePlanes> planes_;
    size_t planeCount_ = 0;
    McuRowSink* sink_ = nullptr;
    bool streaming_ = false;
    // While streaming: the MCU rows the planes hold (several for a progressive file, so that
    // each scan goes on for a while before the next), and which of them the sink is given.
    uint32_t bandRows_ = 1;
    uint32_t bandRow_ = 0;
    std::vector<PlannedScan> planned_;
    uint32_t rowsTaken_ = 0;

    uint16_t quant_[4][64] = {};  // natural order; quant_[i][0] == 0 until defined
    HuffmanTable dcTables_[4];
    HuffmanTable acTables_[4];
    uint32_t restartInterval_ = 0;

    const uint8_t* end_ = nullptr;  // where the last scan's entropy-coded data ended
    bool anyDecoded_ = false;       // at least one MCU decoded cleanly
    bool damaged_ = false;
    bool complete_ = false;
};

}  // namespace decode::jpeg
