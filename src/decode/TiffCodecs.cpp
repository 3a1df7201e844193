#include "decode/TiffCodecs.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace decode::tiff {

size_t UnpackBits(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize) {
    size_t i = 0, written = 0;
    while (i < inSize && written < outSize) {
        const int header = static_cast<int8_t>(in[i++]);
        if (header >= 0) {  // header + 1 bytes as they are
            const size_t n = std::min({size_t(header) + 1, inSize - i, outSize - written});
            std::memcpy(out + written, in + i, n);
            i += n;
            written += n;
        } else if (header != -128 && i < inSize) {  // the next byte 1 - header times
            const size_t n = std::min(size_t(1 - header), outSize - written);
            std::memset(out + written, in[i++], n);
            written += n;
        }
    }
    return written;
}

namespace {

constexpr uint32_t kClear = 256;
constexpr uint32_t kEndOfInformation = 257;
constexpr uint32_t kFirstFree = 258;
constexpr uint32_t kMaxCodes = 4096;
constexpr uint32_t kMaxWidth = 12;

// Every string of the table has been written out whole at least once (a new entry is the
// previous code's string followed by the first byte of the current one, which the output holds
// just after it), so an entry is the place and length of such a copy, and a code is decoded by
// copying from earlier output. Only in the case where a code is the entry being defined do
// source and destination overlap, by the previous string's length, which a forward copy of
// single bytes handles.
template <bool kMsbFirst>
size_t DecodeLzwCodes(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize) {
    struct Entry {
        uint32_t at;
        uint32_t length;
    };
    Entry table[kMaxCodes];
    // MSB-first streams change width when the next free code is one short of the next power
    // of two; the old LSB-first ones when it reaches it.
    constexpr uint32_t kEarly = kMsbFirst ? 1 : 0;
    uint64_t bits = 0;
    uint32_t bitCount = 0;
    size_t position = 0, written = 0;
    uint32_t width = 9, next = kFirstFree;
    bool havePrevious = false;
    size_t previousAt = 0;
    uint32_t previousLength = 0;
    while (written < outSize) {
        while (bitCount <= 56 && position < inSize) {
            if constexpr (kMsbFirst) {
                bits = bits << 8 | in[position++];
            } else {
                bits |= uint64_t{in[position++]} << bitCount;
            }
            bitCount += 8;
        }
        if (bitCount < width) break;
        const uint32_t mask = (1u << width) - 1;
        uint32_t code;
        if constexpr (kMsbFirst) {
            code = static_cast<uint32_t>(bits >> (bitCount - width)) & mask;
        } else {
            code = static_cast<uint32_t>(bits) & mask;
            bits >>= width;
        }
        bitCount -= width;

        if (code == kClear) {
            width = 9;
            next = kFirstFree;
            havePrevious = false;
            continue;
        }
        if (code == kEndOfInformation) break;
        const size_t at = written;
        uint32_t length;
        if (code < 256) {
            out[written++] = static_cast<uint8_t>(code);
            length = 1;
        } else {
            // A code not yet defined (beyond the one being defined) means damaged data.
            if (!havePrevious || code > next || (code == next && next == kMaxCodes)) break;
            const Entry e =
                code < next ? table[code] : Entry{uint32_t(previousAt), previousLength + 1};
            length = e.length;
            const size_t n = std::min<size_t>(length, outSize - written);
            uint8_t* d = out + written;
            const uint8_t* s = out + e.at;
            if (n <= 16 && e.at + 16 <= written && outSize - written >= 16) {
                // Most strings are short: one fixed 16-byte copy, whose excess the next codes
                // overwrite (the caller clears what no code writes).
                uint8_t block[16];
                std::memcpy(block, s, 16);
                std::memcpy(d, block, 16);
            } else if (e.at + n <= written) {
                std::memcpy(d, s, n);
            } else {
                for (size_t i = 0; i < n; ++i) d[i] = s[i];
            }
            written += n;  // short of `length` only where the output is full: the loop ends
        }
        if (havePrevious && next < kMaxCodes) {
            table[next++] = {uint32_t(previousAt), previousLength + 1};
            if (next + kEarly >= (1u << width) && width < kMaxWidth) ++width;
        }
        havePrevious = true;
        previousAt = at;
        previousLength = length;
    }
    return written;
}

}  // namespace

size_t DecodeLzw(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize) {
    // Offsets into the output are kept in 32 bits; no strip or tile comes near.
    outSize = std::min<size_t>(outSize, UINT32_MAX);
    if (inSize >= 2 && in[0] == 0 && (in[1] & 1)) {
        return DecodeLzwCodes<false>(in, inSize, out, outSize);
    }
    return DecodeLzwCodes<true>(in, inSize, out, outSize);
}

Inflater::~Inflater() {
    if (initialised_) inflateEnd(&stream_);
}

size_t Inflater::Run(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize) {
    if (!initialised_) {
        if (inflateInit(&stream_) != Z_OK) return 0;
        initialised_ = true;
    } else if (inflateReset(&stream_) != Z_OK) {
        return 0;
    }
    stream_.next_in = const_cast<Bytef*>(in);
    stream_.avail_in = static_cast<uInt>(std::min<size_t>(inSize, UINT_MAX));
    stream_.next_out = out;
    stream_.avail_out = static_cast<uInt>(std::min<size_t>(outSize, UINT_MAX));
    // inflate goes as far as its input, its output space, the stream's end or damage allow;
    // the loop only guards against a call that stops short without saying why.
    while (stream_.avail_out > 0 && stream_.avail_in > 0) {
        const uInt before = stream_.avail_in + stream_.avail_out;
        if (inflate(&stream_, Z_NO_FLUSH) != Z_OK) break;
        if (stream_.avail_in + stream_.avail_out == before) break;
    }
    return static_cast<size_t>(stream_.next_out - out);
}

void UndoDifferencing8(uint8_t* row, size_t count, uint32_t stride) {
    for (size_t i = stride; i < count; ++i) row[i] = static_cast<uint8_t>(row[i] + row[i - stride]);
}

void UndoDifferencing16(uint8_t* row, size_t count, uint32_t stride, bool bigEndian) {
    const int high = bigEndian ? 0 : 1;
    const int low = 1 - high;
    for (size_t i = stride; i < count; ++i) {
        uint8_t* s = row + i * 2;
        const uint8_t* p = s - size_t{stride} * 2;
        const uint32_t sum = (uint32_t{s[high]} << 8 | s[low]) + (uint32_t{p[high]} << 8 | p[low]);
        s[high] = static_cast<uint8_t>(sum >> 8);
        s[low] = static_cast<uint8_t>(sum);
    }
}

}  // namespace decode::tiff
