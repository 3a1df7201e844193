#include "decode/JpegStream.h"

#include "decode/Limits.h"

#include <algorithm>
#include <cstring>
#include <utility>

// A sequential file has to have all of its AC codes decoded, since Huffman codes are not
// self-delimiting. Where only the DC terms are kept, their values are never formed: one table
// lookup gives the length of one or more whole codes with their extra bits, and how many
// coefficients they cover; a progressive file's AC scans are passed over by looking for the
// next marker, and reading stops once every component's DC terms are complete.

namespace decode::jpeg {
namespace {

// The natural (row by row) index of each coefficient in the order the file codes them, and
// fifteen more entries for runs that damaged data carries past the last coefficient.
constexpr uint8_t kNatural[64 + 16] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33,
    40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36,
    29, 22, 15, 23, 30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54,
    47, 55, 62, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63};

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

void BuildAcValues(HuffmanTable& t) {
    for (uint32_t e = 0; e < kFastSize; ++e) {
        const uint16_t code = t.symbols[e];
        const int length = code >> 8;
        const int run = (code & 0xFF) >> 4;
        const int size = code & 15;
        int32_t entry = 0;
        if (length != 0 && size != 0 && length + size <= kFastBits) {
            const int shift = kFastBits - length - size;
            const int value = Extend((e >> shift) & ((1u << size) - 1), size);
            entry = static_cast<int32_t>(static_cast<uint32_t>(value) << 16) | (run + 1) << 8 |
                    (length + size);
        }
        t.acValue[e] = entry;
    }
}

void BuildTable(HuffmanTable& t, bool withValues) {
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
    if (!t.dcClass) {
        BuildAcRuns(t);
        if (withValues) BuildAcValues(t);
    }
    t.withValues = withValues;
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

// Decodes the AC coefficients of one block into `block` (natural order, zero beforehand).
inline bool DecodeAcCoefficients(BitReader& reader, const HuffmanTable& t, int16_t* block) {
    for (int k = 1; k < 64;) {
        reader.Ensure();
        const int32_t entry = t.acValue[reader.Peek(kFastBits)];
        if (entry != 0) {
            reader.Consume(entry & 0xFF);
            k += ((entry >> 8) & 0xFF) - 1;
            block[kNatural[k]] = static_cast<int16_t>(entry >> 16);
            ++k;
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
            k += run;
            const int value = Extend(reader.Take(size), size);
            // A run past the last coefficient is damage; kNatural keeps the write in the block.
            if (k > 63) return false;
            block[kNatural[k]] = static_cast<int16_t>(value);
            ++k;
        }
    }
    return true;
}

// The block's DC difference added to the component's predictor; false where the code is
// broken or the sum leaves the range of a coefficient.
inline bool AdvancePredictor(BitReader& reader, ScanPart& part) {
    int difference;
    if (!DecodeDcDifference(reader, *part.dc, difference)) return false;
    part.predictor += difference;
    return part.predictor <= kCoefficientLimit && part.predictor >= -kCoefficientLimit;
}

// Each block decoder gets the block's first coefficient: its DC term. They are inlined into
// the loops over blocks, where the bit reader's state stays in registers.
struct SequentialDcBlock {
    [[gnu::always_inline]] bool operator()(BitReader& reader, ScanPart& part,
                                           int16_t* block) const {
        if (!AdvancePredictor(reader, part)) return false;
        *block = static_cast<int16_t>(part.predictor);
        return SkipAcCodes(reader, *part.ac);
    }
};

struct SequentialBlock {
    [[gnu::always_inline]] bool operator()(BitReader& reader, ScanPart& part,
                                           int16_t* block) const {
        // Streamed rows reuse their blocks: cleared here, where they are about to be written.
        std::memset(block, 0, 64 * sizeof(int16_t));
        if (!AdvancePredictor(reader, part)) return false;
        *block = static_cast<int16_t>(part.predictor);
        return DecodeAcCoefficients(reader, *part.ac, block);
    }
};

inline int16_t Shifted(int32_t value, int low) {
    return static_cast<int16_t>(std::clamp(value * (int32_t{1} << low), -32768, 32767));
}

struct DcFirstBlock {
    int low;  // the scan's successive-approximation shift, 0..13
    [[gnu::always_inline]] bool operator()(BitReader& reader, ScanPart& part,
                                           int16_t* block) const {
        if (!AdvancePredictor(reader, part)) return false;
        *block = Shifted(part.predictor, low);
        return true;
    }
};

struct DcRefineBlock {
    int low;  // the bit this scan adds, 0..12
    [[gnu::always_inline]] bool operator()(BitReader& reader, ScanPart&, int16_t* block) const {
        reader.Ensure();
        if (reader.Take(1)) *block = static_cast<int16_t>(*block | (1 << low));
        return true;
    }
};

// A run of ends of band: 2^r blocks plus r more bits' worth, this one included.
inline uint32_t EndOfBandRun(BitReader& reader, int r) {
    uint32_t run = 1u << r;
    if (r != 0) run += reader.Take(r);
    return run;
}

// The next coefficient of the first scan of a band, from `k` on: kValue with `k` at it and its
// value; kDone when the band ends before it (a run of ends of band begun, or zeros to its end).
enum class BandStep { kValue, kDone, kDamaged };

[[gnu::always_inline]] inline BandStep NextInBand(BitReader& reader, ScanPart& part, int end,
                                                  int& k, int& value) {
    for (;;) {
        reader.Ensure();
        const int32_t entry = part.ac->acValue[reader.Peek(kFastBits)];
        if (entry != 0) {
            reader.Consume(entry & 0xFF);
            k += ((entry >> 8) & 0xFF) - 1;
            value = entry >> 16;
            break;
        }
        int symbol;
        if (!DecodeSymbol(reader, *part.ac, symbol)) return BandStep::kDamaged;
        const int run = symbol >> 4;
        const int size = symbol & 15;
        if (size == 0) {
            if (run != 15) {
                part.endOfBands = EndOfBandRun(reader, run) - 1;
                return BandStep::kDone;
            }
            k += 16;
            if (k > end) return BandStep::kDone;
            continue;
        }
        k += run;
        value = Extend(reader.Take(size), size);
        break;
    }
    return k > end ? BandStep::kDamaged : BandStep::kValue;
}

// The first scan of a band of AC coefficients of one component.
struct AcFirstBlock {
    int start, end, low;
    [[gnu::always_inline]] bool operator()(BitReader& reader, ScanPart& part,
                                           int16_t* block) const {
        if (part.endOfBands > 0) {
            --part.endOfBands;
            return true;
        }
        for (int k = start; k <= end; ++k) {
            int value;
            const BandStep step = NextInBand(reader, part, end, k, value);
            if (step != BandStep::kValue) return step == BandStep::kDone;
            block[kNatural[k]] = Shifted(value, low);
        }
        return true;
    }
};

// The next code of a later scan of a band: kValue with the zeros to pass and the new
// coefficient (+-plus; 0 for sixteen zeros passed), or kDone when a run of ends of band begins.
[[gnu::always_inline]] inline BandStep NextRefinement(BitReader& reader, ScanPart& part, int plus,
                                                      int& run, int& value) {
    reader.Ensure();
    int symbol;
    if (!DecodeSymbol(reader, *part.ac, symbol)) return BandStep::kDamaged;
    run = symbol >> 4;
    const int size = symbol & 15;
    value = 0;
    if (size != 0) {
        if (size != 1) return BandStep::kDamaged;
        value = reader.Take(1) ? plus : -plus;
    } else if (run != 15) {
        part.endOfBands = EndOfBandRun(reader, run);
        return BandStep::kDone;
    }
    return BandStep::kValue;
}

// A later scan of a band, adding one bit: to coefficients already known, one correction bit
// each; to those still zero, new coefficients of magnitude 2^low.
struct AcRefineBlock {
    int start, end, low;
    [[gnu::always_inline]] bool operator()(BitReader& reader, ScanPart& part,
                                           int16_t* block) const {
        const int plus = 1 << low;
        const auto refine = [&](int16_t& c) {
            reader.Ensure();
            if (reader.Take(1) && (c & plus) == 0) {
                c = static_cast<int16_t>(c >= 0 ? c + plus : c - plus);
            }
        };
        int k = start;
        if (part.endOfBands == 0) {
            while (k <= end) {
                int run, value;
                const BandStep step = NextRefinement(reader, part, plus, run, value);
                if (step == BandStep::kDamaged) return false;
                if (step == BandStep::kDone) break;
                // Passes `run` zero coefficients, refining the known ones on the way, and puts
                // the new one at the next zero.
                for (; k <= end; ++k) {
                    int16_t& c = block[kNatural[k]];
                    if (c != 0) {
                        refine(c);
                    } else if (run == 0) {
                        if (value != 0) c = static_cast<int16_t>(value);
                        ++k;
                        break;
                    } else {
                        --run;
                    }
                }
            }
        }
        if (part.endOfBands > 0) {
            for (; k <= end; ++k) {
                int16_t& c = block[kNatural[k]];
                if (c != 0) refine(c);
            }
            --part.endOfBands;
        }
        return true;
    }
};

// The progressive block decoders again, for summed blocks (SummedBlock): a coefficient's value,
// or what a later scan adds to it, goes into the sums at once. DC scans may hold components of
// different sum counts; an AC scan holds one component, so N is its count.
inline void AddToSums(const Component& comp, int16_t* block, int k, int32_t amount) {
    int32_t* sums = SummedBlock::Sums(block);
    const int32_t* weights = comp.sumWeights[k];
    for (int p = 0; p < comp.sumCount; ++p) sums[p] = AddWrapping(sums[p], amount, weights[p]);
}

struct DcFirstSummed {
    int low;
    [[gnu::always_inline]] bool operator()(BitReader& reader, ScanPart& part,
                                           int16_t* block) const {
        if (!AdvancePredictor(reader, part)) return false;
        AddToSums(*part.component, block, 0, part.predictor * (int32_t{1} << low));
        return true;
    }
};

struct DcRefineSummed {
    int low;
    [[gnu::always_inline]] bool operator()(BitReader& reader, ScanPart& part,
                                           int16_t* block) const {
        reader.Ensure();
        if (reader.Take(1)) AddToSums(*part.component, block, 0, int32_t{1} << low);
        return true;
    }
};

// Zigzag positions first..last as a mask.
inline uint64_t Band(int first, int last) {
    const uint64_t upTo = last >= 63 ? ~uint64_t{0} : (uint64_t{1} << (last + 1)) - 1;
    return upTo & ~((uint64_t{1} << first) - 1);
}

template <int N>
struct AcFirstSummed {
    int start, end, low;
    [[gnu::always_inline]] bool operator()(BitReader& reader, ScanPart& part,
                                           int16_t* block) const {
        if (part.endOfBands > 0) {
            --part.endOfBands;
            return true;
        }
        const Component& comp = *part.component;
        uint64_t* masks = SummedBlock::Masks(block);
        int32_t* sums = SummedBlock::Sums(block);
        for (int k = start; k <= end; ++k) {
            int value;
            const BandStep step = NextInBand(reader, part, end, k, value);
            if (step != BandStep::kValue) return step == BandStep::kDone;
            const uint64_t bit = uint64_t{1} << k;
            masks[0] |= bit;
            if (value < 0) masks[1] |= bit;
            if (comp.sumsNeeded & bit) {
                AddWeighted<N>(sums, comp.sumWeights[kNatural[k]], value * (int32_t{1} << low));
            }
        }
        return true;
    }
};

template <int N>
struct AcRefineSummed {
    int start, end, low;
    [[gnu::always_inline]] bool operator()(BitReader& reader, ScanPart& part,
                                           int16_t* block) const {
        const Component& comp = *part.component;
        uint64_t* masks = SummedBlock::Masks(block);
        int32_t* sums = SummedBlock::Sums(block);
        uint64_t nonzero = masks[0];
        uint64_t negative = masks[1];
        const int32_t plus = int32_t{1} << low;
        // A correction bit makes a known coefficient one step larger, away from zero.
        const auto correct = [&](int k) {
            if (comp.sumsNeeded >> k & 1) {
                AddWeighted<N>(sums, comp.sumWeights[kNatural[k]],
                               negative >> k & 1 ? -plus : plus);
            }
        };
        // Correction bits for the known coefficients in `known`, in order, up to 32 from one
        // look at the reader.
        const auto correctAll = [&](uint64_t known) {
            while (known != 0) {
                reader.Ensure();
                const uint32_t bits = reader.Peek(32);
                int used = 0;
                for (; known != 0 && used < 32; ++used) {
                    const int at = std::countr_zero(known);
                    known &= known - 1;
                    if (bits >> (31 - used) & 1) correct(at);
                }
                reader.Consume(used);
            }
        };
        int k = start;
        if (part.endOfBands == 0) {
            while (k <= end) {
                int run, value;
                const BandStep step = NextRefinement(reader, part, plus, run, value);
                if (step == BandStep::kDamaged) return false;
                if (step == BandStep::kDone) break;
                // Passes `run` zero coefficients, correcting the known ones on the way, and
                // puts the new one at the next zero (none past the band's end).
                uint64_t zeros = ~nonzero & Band(k, end);
                for (int r = 0; r < run; ++r) zeros &= zeros - 1;
                const int at = zeros != 0 ? std::countr_zero(zeros) : end + 1;
                if (at > k) correctAll(nonzero & Band(k, at - 1));
                if (at <= end && value != 0) {
                    nonzero |= uint64_t{1} << at;
                    if (value < 0) negative |= uint64_t{1} << at;
                    if (comp.sumsNeeded >> at & 1) {
                        AddWeighted<N>(sums, comp.sumWeights[kNatural[at]], value);
                    }
                }
                k = std::min(at, end) + 1;
            }
        }
        if (part.endOfBands > 0) {
            if (k <= end) correctAll(nonzero & Band(k, end));
            --part.endOfBands;
        }
        masks[0] = nonzero;
        masks[1] = negative;
        return true;
    }
};

// Calls `run` with the block decoder for a progressive scan of `kind`, made for the blocks
// `comp` keeps: coefficients, or sums (AC bands: for its sum count).
template <template <int> class Block, class Run>
bool WithSumCount(int count, int start, int end, int low, const Run& run) {
    switch (count) {
        case 1:
            return run(Block<1>{start, end, low});
        case 2:
            return run(Block<2>{start, end, low});
        case 4:
            return run(Block<4>{start, end, low});
        case 8:
            return run(Block<8>{start, end, low});
        case 16:
            return run(Block<16>{start, end, low});
        default:
            return false;  // StartSink accepts no other count
    }
}

template <class Run>
bool WithBlockDecoder(PlannedScan::Kind kind, const Component& comp, int start, int end, int low,
                      const Run& run) {
    // The components of a scan are all summed or none (StartSink decides for the picture).
    const bool summed = comp.summed;
    switch (kind) {
        case PlannedScan::Kind::kDcFirst:
            return summed ? run(DcFirstSummed{low}) : run(DcFirstBlock{low});
        case PlannedScan::Kind::kDcRefine:
            return summed ? run(DcRefineSummed{low}) : run(DcRefineBlock{low});
        case PlannedScan::Kind::kAcFirst:
            return summed ? WithSumCount<AcFirstSummed>(comp.sumCount, start, end, low, run)
                          : run(AcFirstBlock{start, end, low});
        case PlannedScan::Kind::kAcRefine:
            return summed ? WithSumCount<AcRefineSummed>(comp.sumCount, start, end, low, run)
                          : run(AcRefineBlock{start, end, low});
    }
    return false;
}

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

bool ReadU16(ByteCursor& cursor, uint16_t& value) {
    uint8_t bytes[2];
    if (!cursor.ReadBytes(bytes, 2)) return false;
    value = static_cast<uint16_t>(bytes[0] << 8 | bytes[1]);
    return true;
}

}  // namespace

// The table ready for decoding, or nullptr when the file never defined it.
const HuffmanTable* Stream::Prepared(HuffmanTable& table) const {
    if (!table.defined) return nullptr;
    const bool withValues = keep_ == Keep::kAll;
    if (!table.built || table.withValues != withValues) BuildTable(table, withValues);
    return &table;
}

bool Stream::Run() {
    if (!data_ || size_ < 4 || data_[0] != 0xFF || data_[1] != 0xD8) return false;
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
            if (!anyDecoded_ && planned_.empty()) return false;
            damaged_ = true;
            break;
        }
        size_t next = pos + length;
        const Outcome outcome = Segment(marker, ByteCursor(data_ + pos + 2, length - 2), next);
        if (outcome == Outcome::kFailed) {
            if (!anyDecoded_ && planned_.empty()) return false;
            damaged_ = true;
            break;
        }
        if (outcome == Outcome::kDone) break;
        pos = next;
    }
    if (!planned_.empty()) RunPlanned();
    if (!anyDecoded_) return false;
    complete_ = !damaged_ && AllDone();
    return true;
}

Stream::Outcome Stream::Segment(uint8_t marker, ByteCursor segment, size_t& next) {
    switch (marker) {
        case 0xC0:
        case 0xC1:
        case 0xC2:
            if (frameSeen_) return Outcome::kFailed;
            return ReadFrame(segment, marker) && StartSink() ? Outcome::kGoOn : Outcome::kFailed;
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
                adobeSeen_ = true;
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

bool Stream::ReadFrame(ByteCursor& c, uint8_t marker) {
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
        // Both chroma components sampled alike, luma once or twice as often in each direction
        // and at most twice per MCU: 4:4:4, 4:2:2, 4:2:0 and 4:4:0, however the factors are
        // written (some encoders give every component 1x2 for 4:4:4, or luma 2x2 and chroma
        // 1x2 for 4:2:2).
        const Component* c3 = components_;
        if (c3[0].h > 2 || c3[0].v > 2) return false;
        if (c3[1].h != c3[2].h || c3[1].v != c3[2].v) return false;
        if ((c3[0].h != c3[1].h && c3[0].h != 2 * c3[1].h) ||
            (c3[0].v != c3[1].v && c3[0].v != 2 * c3[1].v)) {
            return false;
        }
        rgbIds_ = c3[0].id == 'R' && c3[1].id == 'G' && c3[2].id == 'B';
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
    for (int i = 0; i < count; ++i) {
        Component& comp = components_[i];
        comp.planeWide = mcusWide_ * comp.h;
        comp.planeHigh = mcusHigh_ * comp.v;
        comp.blocksWide = CeilDiv(CeilDiv(width * comp.h, hMax), 8);
        comp.blocksHigh = CeilDiv(CeilDiv(height * comp.v, vMax), 8);
    }
    // All coefficients are kept from the first scan on, when it is known whether they can be
    // streamed.
    return keep_ == Keep::kAll || AllocatePlanes(false);
}

bool Stream::StartSink() {
    if (!sink_) return true;
    if (!sink_->Start(*this)) return false;
    bool all = true;
    for (int i = 0; i < componentCount_; ++i) {
        Component& comp = components_[i];
        // Powers of two: the band decoders are made for those counts.
        const int count = sink_->Sums(*this, i, comp.sumBasis);
        comp.sumCount =
            count >= 1 && count <= kMaxSums && std::has_single_bit(unsigned(count)) ? count : 0;
        comp.sumsNeeded = 0;
        for (int k = 0; k < 64 && comp.sumCount > 0; ++k) {
            for (int p = 0; p < comp.sumCount; ++p) {
                if (comp.sumBasis[kNatural[k]][p] != 0) comp.sumsNeeded |= uint64_t{1} << k;
            }
        }
        all = all && comp.sumCount > 0;
    }
    // A scan's blocks are all summed or none.
    if (!all) {
        for (int i = 0; i < componentCount_; ++i) components_[i].sumCount = 0;
    }
    return true;
}

bool Stream::AllocatePlanes(bool streaming) {
    streaming_ = streaming;
    uint64_t rowLength = 0;
    for (int i = 0; i < componentCount_; ++i) {
        Component& comp = components_[i];
        comp.summed = keep_ == Keep::kAll && progressive_ && comp.sumCount > 0;
        comp.stride = keep_ == Keep::kDc ? 1
                      : comp.summed      ? SummedBlock::Stride(comp.sumCount)
                                         : 64;
        rowLength += uint64_t{comp.planeWide} * comp.v * comp.stride;
    }
    // A progressive file's scans take turns over bands of up to 1 MB of blocks.
    bandRows_ = streaming && progressive_
                    ? static_cast<uint32_t>(std::clamp<uint64_t>((1u << 19) / rowLength, 1, 16))
                    : 1;
    uint64_t count = 0;
    for (int i = 0; i < componentCount_; ++i) {
        Component& comp = components_[i];
        comp.planeStart = static_cast<size_t>(count);
        count += uint64_t{comp.planeWide} * (streaming ? comp.v * bandRows_ : comp.planeHigh) *
                 comp.stride;
    }
    // At most 30000x30000 pixels: under 15 million blocks a component. All 64 coefficients of
    // each are kept within the output limit: some 170 megapixels at 4:4:4.
    if (count * sizeof(int16_t) > kMaxOutputBytes) return false;
    planeCount_ = static_cast<size_t>(count);
    planes_.reset(static_cast<int16_t*>(std::calloc(planeCount_, sizeof(int16_t))));
    return planes_ != nullptr;
}

void Stream::TakeRow(uint32_t mcuRow) {
    sink_->Take(*this, mcuRow);
    rowsTaken_ = mcuRow + 1;
}

void Stream::ClearRowFrom(uint32_t mcu, bool single) {
    for (int i = 0; i < componentCount_; ++i) {
        const Component& comp = components_[i];
        const uint32_t first = single ? mcu : mcu * comp.h;
        for (uint32_t v = 0; v < comp.v; ++v) {
            int16_t* row = planes_.get() + comp.planeStart + size_t{v} * comp.planeWide * 64;
            std::fill(row + size_t{first} * 64, row + size_t{comp.planeWide} * 64, int16_t{0});
        }
    }
}

bool Stream::ReadHuffmanTables(ByteCursor& c) {
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

bool Stream::ReadQuantTables(ByteCursor& c) {
    while (!c.AtEnd()) {
        uint8_t precisionAndId;
        if (!c.ReadU8(precisionAndId)) return false;
        const int precision = precisionAndId >> 4;
        const int id = precisionAndId & 15;
        if (precision > 1 || id > 3) return false;
        uint16_t steps[64];
        for (int k = 0; k < 64; ++k) {
            if (precision == 0) {
                uint8_t step;
                if (!c.ReadU8(step)) return false;
                steps[k] = step;
            } else if (!ReadU16(c, steps[k])) {
                return false;
            }
        }
        if (steps[0] == 0) return false;
        for (int k = 0; k < 64; ++k) quant_[id][kNatural[k]] = steps[k];
    }
    return true;
}

Stream::Outcome Stream::PassScan(const uint8_t* data, size_t& next) {
    const uint8_t* marker = FindMarker(data, data_ + size_, true);
    if (!marker) {
        damaged_ = true;  // cut short; whatever decoded stands
        return Outcome::kDone;
    }
    next = static_cast<size_t>(marker - data_);
    return Outcome::kGoOn;
}

Stream::Outcome Stream::AfterScan(bool clean, size_t& next) {
    if (!clean) {
        damaged_ = true;
        return Outcome::kDone;
    }
    // Only DC terms: done once they are complete. All coefficients: a progressive file's later
    // scans refine what is there, so they are read up to the end of the image.
    if (AllDone() && (keep_ == Keep::kDc || !progressive_)) return Outcome::kDone;
    const uint8_t* marker = FindMarker(end_, data_ + size_, true);
    if (!marker) {
        if (keep_ == Keep::kAll) damaged_ = true;
        return Outcome::kDone;
    }
    next = static_cast<size_t>(marker - data_);
    return Outcome::kGoOn;
}

Stream::Outcome Stream::ReadScan(ByteCursor& c, size_t& next) {
    if (!frameSeen_) return Outcome::kFailed;
    if (componentCount_ == 3) {
        rgb_ = adobeSeen_ ? adobeRgb_ : rgbIds_;
        // RGB is taken only where every component is sampled alike.
        if (rgb_ &&
            (components_[0].h != components_[1].h || components_[0].v != components_[1].v)) {
            return Outcome::kFailed;
        }
    }
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
        parts[i] = {comp, nullptr, nullptr, nullptr, 0, 0};
        tableIds[i] = tables;
    }
    // With a sink, rows are given as they complete: a sequential file's as its one scan goes,
    // a progressive file's once all its scans are found (RunPlanned).
    if (!planes_ && !AllocatePlanes(sink_ && (progressive_ || count == componentCount_))) {
        return Outcome::kFailed;
    }
    for (int i = 0; i < count; ++i) {
        parts[i].plane = planes_.get() + parts[i].component->planeStart;
    }
    uint8_t start, end, approximation;
    if (!c.ReadU8(start) || !c.ReadU8(end) || !c.ReadU8(approximation)) return Outcome::kFailed;
    const int high = approximation >> 4;
    const int low = approximation & 15;
    const uint8_t* data = data_ + next;

    // Each component's quantisation is the one in force at the first scan that holds it.
    for (int i = 0; i < count; ++i) {
        Component& comp = *parts[i].component;
        if (!comp.quantKnown) {
            if (quant_[comp.quantTable][0] == 0) return Outcome::kFailed;
            std::memcpy(comp.quant, quant_[comp.quantTable], sizeof comp.quant);
            comp.quantKnown = true;
            for (int k = 0; k < 64 && comp.sumCount > 0; ++k) {
                for (int p = 0; p < kMaxSums; ++p) {
                    comp.sumWeights[k][p] = comp.sumBasis[k][p] * comp.quant[k];
                }
            }
        }
    }

    if (progressive_) {
        return ReadProgressiveScan(parts, count, tableIds, start, end, high, low, data, next);
    }
    if (start != 0 || end != 63 || approximation != 0) return Outcome::kFailed;
    for (int i = 0; i < count; ++i) {
        if ((tableIds[i] >> 4) > 3 || (tableIds[i] & 15) > 3) return Outcome::kFailed;
        parts[i].dc = Prepared(dcTables_[tableIds[i] >> 4]);
        parts[i].ac = Prepared(acTables_[tableIds[i] & 15]);
        if (!parts[i].dc || !parts[i].ac) return Outcome::kFailed;
    }
    const bool clean = keep_ == Keep::kDc ? DecodeScan(parts, count, data, SequentialDcBlock{})
                                          : DecodeScan(parts, count, data, SequentialBlock{});
    if (streaming_ && rowsTaken_ < mcusHigh_) {
        // The row the damage struck as far as it decoded (DecodeScan cleared the rest), then
        // empty rows.
        TakeRow(rowsTaken_);
        std::fill_n(planes_.get(), planeCount_, int16_t{0});
        while (rowsTaken_ < mcusHigh_) TakeRow(rowsTaken_);
    }
    if (clean) {
        for (int i = 0; i < count; ++i) parts[i].component->decoded = true;
    }
    return AfterScan(clean, next);
}

Stream::Outcome Stream::ReadProgressiveScan(ScanPart* parts, int count, const uint8_t* tableIds,
                                            int start, int end, int high, int low,
                                            const uint8_t* data, size_t& next) {
    using Kind = PlannedScan::Kind;
    Kind kind;
    if (start != 0) {
        if (keep_ == Keep::kDc) return PassScan(data, next);  // AC coefficients: not needed
        // A band of AC coefficients, of one component.
        if (count != 1 || end < start || end > 63 || low > 13 || (tableIds[0] & 15) > 3) {
            return Outcome::kFailed;
        }
        parts[0].ac = Prepared(acTables_[tableIds[0] & 15]);
        if (!parts[0].ac) return Outcome::kFailed;
        // A refinement adds one bit below those known; others are passed over.
        if (high != 0 && low != high - 1) return PassScan(data, next);
        kind = high == 0 ? Kind::kAcFirst : Kind::kAcRefine;
    } else if (end != 0) {
        return Outcome::kFailed;
    } else if (high == 0) {
        if (low > 13) return Outcome::kFailed;
        for (int i = 0; i < count; ++i) {
            if ((tableIds[i] >> 4) > 3) return Outcome::kFailed;
            parts[i].dc = Prepared(dcTables_[tableIds[i] >> 4]);
            if (!parts[i].dc) return Outcome::kFailed;
            // A second first scan of a component would undo its refinements: pass it over.
            if (parts[i].component->knownFromBit >= 0) return PassScan(data, next);
        }
        kind = Kind::kDcFirst;
    } else {
        // A refinement adds one bit below those known; out of order ones are passed over.
        if (low != high - 1) return PassScan(data, next);
        for (int i = 0; i < count; ++i) {
            if (parts[i].component->knownFromBit != high) return PassScan(data, next);
        }
        kind = Kind::kDcRefine;
    }
    const bool dc = kind == Kind::kDcFirst || kind == Kind::kDcRefine;
    if (streaming_) {
        // Decoded at the end of the file, row by row beside the other scans.
        if (dc) {
            for (int i = 0; i < count; ++i) parts[i].component->knownFromBit = low;
        }
        return PlanScan(kind, parts, count, start, end, low, data, next);
    }
    const bool clean =
        WithBlockDecoder(kind, *parts[0].component, start, end, low,
                         [&](const auto& block) { return DecodeScan(parts, count, data, block); });
    if (clean && dc) {
        for (int i = 0; i < count; ++i) parts[i].component->knownFromBit = low;
    }
    return AfterScan(clean, next);
}

constexpr size_t kMaxPlannedScans = 100;

Stream::Outcome Stream::PlanScan(PlannedScan::Kind kind, ScanPart* parts, int count, int start,
                                 int end, int low, const uint8_t* data, size_t& next) {
    // Encoders write ten or twenty scans; each planned one holds copies of its tables, so a
    // file of thousands is damage, not a picture to hold them all for.
    if (planned_.size() >= kMaxPlannedScans) {
        damaged_ = true;
        return Outcome::kDone;
    }
    PlannedScan& scan = planned_.emplace_back();
    scan.kind = kind;
    scan.count = count;
    scan.start = start;
    scan.end = end;
    scan.low = low;
    scan.restarts = {restartInterval_, restartInterval_, 0};
    // Later segments may define tables again: the scan keeps its own.
    scan.tables = std::make_unique<HuffmanTable[]>(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        scan.parts[i] = parts[i];
        const HuffmanTable* table =
            kind == PlannedScan::Kind::kAcFirst || kind == PlannedScan::Kind::kAcRefine
                ? parts[i].ac
                : parts[i].dc;
        if (table) {
            scan.tables[i] = *table;
            (table == parts[i].ac ? scan.parts[i].ac : scan.parts[i].dc) = &scan.tables[i];
        }
    }
    scan.reader.Start(data, data_ + size_);
    const uint8_t* marker = FindMarker(data, data_ + size_, true);
    if (!marker) {
        damaged_ = true;  // cut short: the scan decodes as far as its data goes
        return Outcome::kDone;
    }
    next = static_cast<size_t>(marker - data_);
    return Outcome::kGoOn;
}

void Stream::RunPlanned() {
    for (uint32_t first = 0; first < mcusHigh_; first += bandRows_) {
        const uint32_t rows = std::min(bandRows_, mcusHigh_ - first);
        std::fill_n(planes_.get(), planeCount_, int16_t{0});
        for (size_t s = 0; s < planned_.size(); ++s) {
            PlannedScan& scan = planned_[s];
            if (scan.stopped) continue;
            const bool clean = WithBlockDecoder(scan.kind, *scan.parts[0].component, scan.start,
                                                scan.end, scan.low, [&](const auto& block) {
                                                    for (uint32_t r = 0; r < rows; ++r) {
                                                        if (!DecodeRow(scan, first + r, r, block))
                                                            return false;
                                                    }
                                                    return true;
                                                });
            if (clean) continue;
            // Damage ends the scan; the later scans of its components would read their data
            // against coefficients it did not give, so they end with it.
            damaged_ = true;
            for (size_t t = s; t < planned_.size(); ++t) {
                for (int i = 0; i < planned_[t].count; ++i) {
                    for (int j = 0; j < scan.count; ++j) {
                        if (planned_[t].parts[i].component == scan.parts[j].component) {
                            planned_[t].stopped = true;
                        }
                    }
                }
            }
        }
        for (bandRow_ = 0; bandRow_ < rows; ++bandRow_) TakeRow(first + bandRow_);
        bandRow_ = 0;
    }
}

template <class Block>
bool Stream::DecodeRow(PlannedScan& scan, uint32_t my, uint32_t inBand, const Block& block) {
    BitReader reader = scan.reader;  // a local copy: its state stays in registers
    const auto step = [&] { return NextInterval(reader, scan.restarts, scan.parts, scan.count); };
    bool clean = true;
    if (scan.count == 1) {
        // One component alone: its block rows within MCU row `my`, over its own area.
        ScanPart& part = scan.parts[0];
        const Component& comp = *part.component;
        for (uint32_t v = 0; v < comp.v && clean; ++v) {
            if (my * comp.v + v >= comp.blocksHigh) break;
            int16_t* row = part.plane + size_t{inBand * comp.v + v} * comp.planeWide * comp.stride;
            for (uint32_t bx = 0; bx < comp.blocksWide; ++bx) {
                if (!step() || !block(reader, part, row + size_t{bx} * comp.stride) ||
                    reader.Overran()) {
                    clean = false;
                    break;
                }
                anyDecoded_ = true;
            }
        }
    } else {
        for (uint32_t mx = 0; mx < mcusWide_ && clean; ++mx) {
            clean = step() && DecodeMcu(reader, scan.parts, scan.count, inBand, mx, block) &&
                    !reader.Overran();
            if (clean) anyDecoded_ = true;
        }
    }
    scan.reader = reader;
    return clean;
}

template <class Block>
bool Stream::DecodeScan(ScanPart* parts, int count, const uint8_t* start, const Block& block) {
    // A local reader: its state stays in registers across the loop.
    BitReader reader;
    reader.Start(start, data_ + size_);
    // One component alone is coded block by block over its own area; several are coded in
    // MCUs, each holding h x v blocks of each.
    const Component& only = *parts[0].component;
    const uint32_t wide = count == 1 ? only.blocksWide : mcusWide_;
    const uint32_t high = count == 1 ? only.blocksHigh : mcusHigh_;
    RestartCount restarts{restartInterval_, restartInterval_, 0};
    // While streaming, the rest of the row from the MCU that failed holds blocks of the row
    // before: cleared.
    const auto fail = [&](uint32_t mx) {
        if (streaming_) ClearRowFrom(mx, count == 1);
        return false;
    };
    for (uint32_t my = 0; my < high; ++my) {
        // While streaming, the planes hold one row of MCUs.
        const uint32_t row = streaming_ ? 0 : my;
        if (streaming_ && my > 0) TakeRow(my - 1);
        for (uint32_t mx = 0; mx < wide; ++mx) {
            if (!NextInterval(reader, restarts, parts, count)) return fail(mx);
            if (count == 1) {
                int16_t* coefficients =
                    parts[0].plane + (size_t{row} * only.planeWide + mx) * only.stride;
                if (!block(reader, parts[0], coefficients)) return fail(mx);
            } else if (!DecodeMcu(reader, parts, count, row, mx, block)) {
                return fail(mx);
            }
            if (reader.Overran()) return fail(mx);
            anyDecoded_ = true;
        }
    }
    end_ = reader.Position();
    return true;
}

template <class Block>
bool Stream::DecodeMcu(BitReader& reader, ScanPart* parts, int count, uint32_t row, uint32_t mx,
                       const Block& block) {
    for (int i = 0; i < count; ++i) {
        ScanPart& part = parts[i];
        const Component& comp = *part.component;
        for (uint32_t v = 0; v < comp.v; ++v) {
            int16_t* blocks =
                part.plane +
                ((size_t{row} * comp.v + v) * comp.planeWide + size_t{mx} * comp.h) * comp.stride;
            for (uint32_t h = 0; h < comp.h; ++h) {
                if (!block(reader, part, blocks + h * comp.stride)) return false;
            }
        }
    }
    return true;
}

bool Stream::NextInterval(BitReader& reader, RestartCount& restarts, ScanPart* parts, int count) {
    if (restarts.interval == 0) return true;
    if (restarts.untilNext == 0) {
        if (!Restart(reader, restarts.index)) return false;
        restarts.index = (restarts.index + 1) & 7;
        for (int i = 0; i < count; ++i) {
            parts[i].predictor = 0;
            parts[i].endOfBands = 0;
        }
        restarts.untilNext = restarts.interval;
    }
    --restarts.untilNext;
    return true;
}

bool Stream::Restart(BitReader& reader, int index) {
    if (reader.Overran()) return false;
    const uint8_t* end = data_ + size_;
    const uint8_t* marker = FindMarker(reader.Position(), end, false);
    if (!marker || marker[1] != 0xD0 + index) return false;
    reader.Start(marker + 2, end);
    return true;
}

bool Stream::AllDone() const {
    if (!frameSeen_) return false;
    for (int i = 0; i < componentCount_; ++i) {
        const Component& comp = components_[i];
        if (progressive_ ? comp.knownFromBit != 0 : !comp.decoded) return false;
    }
    return true;
}

}  // namespace decode::jpeg
