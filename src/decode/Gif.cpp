#include "decode/Gif.h"

#include "base/ByteCursor.h"
#include "decode/Limits.h"
#include "decode/PixelRows.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

// How the work is split: the blocks before the first image are walked through ByteCursor,
// extensions skipped sub-block by sub-block; the first image's descriptor and colour table
// give a 256-entry table of output pixels (B, G, R, A), the transparent index cleared in it.
// The LZW codes are then read from the image's sub-blocks a byte at a time, and each code's
// string is written backwards, by following its prefixes, as output pixels: every table entry
// keeps the output pixel of its last index, so a pixel costs one load, one store and one step
// along the chain. A frame row that lies wholly on the screen is written straight into the
// output; any other row (clipped by the screen's right edge, or below the screen) goes through
// one row of its own, whose visible part is then copied. Strings that run past the end of a
// row are written into a buffer of their own first. Nothing is allocated per row.

namespace decode {
namespace {

constexpr uint8_t kImageSeparator = 0x2C;
constexpr uint8_t kExtensionIntroducer = 0x21;
constexpr uint8_t kGraphicControlLabel = 0xF9;
constexpr uint8_t kPlainTextLabel = 0x01;

constexpr uint32_t kMaxCodes = 4096;
constexpr uint32_t kMaxCodeWidth = 12;
// Data can decode to no more pixels than this a byte: a code of at least 2 bits gives at most
// 4096 pixels, and strings that long take thousands of codes to build; once the table is
// full, codes take 12 bits (4096 pixels for 1.5 bytes at most).
constexpr uint64_t kMaxPixelsPerByte = 4096;
// A screen no larger than this is allowed whatever the data: a small frame on a larger empty
// screen costs no more than 4 MiB.
constexpr uint64_t kScreenPixelsAlwaysAllowed = uint64_t{1} << 20;

// Skips data sub-blocks up to and including the block terminator.
bool SkipSubBlocks(ByteCursor& c) {
    for (;;) {
        uint8_t length;
        if (!c.ReadU8(length)) return false;
        if (length == 0) return true;
        if (!c.Skip(length)) return false;
    }
}

// A colour table of `entries` R, G, B triples as output pixels; indices past it are black.
void LoadColourTable(const uint8_t* table, uint32_t entries, uint32_t* palette) {
    for (uint32_t i = 0; i < 256; ++i) palette[i] = kOpaque;
    for (uint32_t i = 0; i < entries; ++i, table += 3) {
        palette[i] = uint32_t{table[0]} << 16 | uint32_t{table[1]} << 8 | table[2] | kOpaque;
    }
}

// Without any colour table, the indices the code size allows spread from black to white (the
// minimum code size is the encoder's own word on how many colours it used): a picture that
// shows its shapes, where black throughout (ImageMagick's choice) would show nothing.
void LoadGreyRamp(uint32_t minCodeSize, uint32_t* palette) {
    const uint32_t levels = 1u << minCodeSize;  // 2..256: literal codes are below this
    for (uint32_t i = 0; i < 256; ++i) {
        const uint32_t g = i < levels ? i * 255 / (levels - 1) : 0;
        palette[i] = g * 0x010101u | kOpaque;
    }
}

// The LZW codes of the image data, least significant bit first, read across its sub-blocks
// where they lie in the file (a sub-block cut short by the end of the file still gives its
// bytes).
class CodeReader {
public:
    CodeReader(const uint8_t* data, size_t size, size_t position)
        : data_(data), size_(size), at_(position) {}

    // The next code of `width` bits; false when the data ends first.
    bool Next(uint32_t width, uint32_t& code) {
        while (count_ < width) {
            if (blockLeft_ == 0 && !NextBlock()) return false;
            // As many whole bytes as the bit buffer holds, within the sub-block.
            do {
                bits_ |= uint64_t{data_[at_++]} << count_;
                count_ += 8;
            } while (--blockLeft_ > 0 && count_ <= 56);
        }
        code = static_cast<uint32_t>(bits_) & ((1u << width) - 1);
        bits_ >>= width;
        count_ -= width;
        return true;
    }

private:
    // Steps into the next sub-block; false at the block terminator or the end of the file.
    bool NextBlock() {
        if (at_ >= size_ || data_[at_] == 0) return false;
        const size_t length = data_[at_++];
        blockLeft_ = std::min(length, size_ - at_);
        return blockLeft_ > 0;
    }

    const uint8_t* data_;
    size_t size_;
    size_t at_;             // the next byte to read
    size_t blockLeft_ = 0;  // of the current sub-block
    uint64_t bits_ = 0;
    uint32_t count_ = 0;
};

// The order in which the frame's rows come: top to bottom, or the four passes of interlacing
// (every 8th row from 0, every 8th from 4, every 4th from 2, every 2nd from 1).
class RowOrder {
public:
    RowOrder(uint32_t height, bool interlaced)
        : height_(height), interlaced_(interlaced), step_(interlaced ? 8 : 1) {}

    uint32_t Row() const { return row_; }

    // Moves to the next row; false when there is none.
    bool Next() {
        static constexpr uint8_t kStart[4] = {0, 4, 2, 1};
        static constexpr uint8_t kStep[4] = {8, 8, 4, 2};
        row_ += step_;
        while (row_ >= height_) {
            if (!interlaced_ || pass_ == 3) return false;
            ++pass_;
            row_ = kStart[pass_];
            step_ = kStep[pass_];
        }
        return true;
    }

private:
    uint32_t height_;
    bool interlaced_;
    uint32_t step_;
    uint32_t pass_ = 0;
    uint32_t row_ = 0;
};

struct FrameGeometry {
    uint32_t left, top, width, height;  // of the frame, on the screen
    bool interlaced;
    uint32_t screenWidth, screenHeight;
    uint32_t visibleColumns;  // of each frame row, from its left: the rest is off the screen
    uint32_t visibleRows;     // frame rows on the screen (none when no column is)
};

// Where the decoded pixels go, row by row in the frame's order.
class FrameRows {
public:
    FrameRows(const FrameGeometry& g, uint8_t* output, uint8_t* ownRow)
        : g_(g),
          output_(output),
          ownRow_(ownRow),
          order_(g.height, g.interlaced),
          visibleRowsLeft_(g.visibleRows) {
        Select();
    }

    // Where the current row's pixels go (4 bytes each), and how many are written.
    uint8_t* Target() const { return target_; }
    uint32_t& Position() { return position_; }
    bool Started() const { return rowsDone_ > 0 || position_ > 0; }

    // Ends the current (full) row; false when the frame has no more rows the screen shows.
    bool NextRow() {
        Flush(g_.width);
        ++rowsDone_;
        if (visible_ && --visibleRowsLeft_ == 0) return false;
        if (!order_.Next()) return false;
        Select();
        return true;
    }

    // The data ended before the frame: the current row's decoded pixels are kept, and the rest
    // of the frame's visible pixels made transparent, unless the output was cleared already.
    void Abandon(bool outputCleared) {
        Flush(position_);
        if (outputCleared) return;
        uint32_t from = std::min(position_, g_.visibleColumns);
        do {
            if (visible_) {
                std::memset(ScreenRow() + size_t{from} * 4, 0,
                            size_t{g_.visibleColumns - from} * 4);
            }
            from = 0;
            if (!order_.Next()) return;
            Select();
        } while (true);
    }

private:
    uint8_t* ScreenRow() const {
        return output_ + (size_t{g_.top + order_.Row()} * g_.screenWidth + g_.left) * 4;
    }

    void Select() {
        visible_ = g_.top + order_.Row() < g_.screenHeight && g_.visibleColumns > 0;
        // A row wholly on the screen is written in place.
        direct_ = visible_ && g_.visibleColumns == g_.width;
        target_ = direct_ ? ScreenRow() : ownRow_;
        position_ = 0;
    }

    // The first `count` pixels of a row decoded into its own buffer, onto the screen.
    void Flush(uint32_t count) {
        if (visible_ && !direct_) {
            std::memcpy(ScreenRow(), ownRow_, size_t{std::min(count, g_.visibleColumns)} * 4);
        }
    }

    const FrameGeometry& g_;
    uint8_t* output_;
    uint8_t* ownRow_;
    RowOrder order_;
    uint32_t visibleRowsLeft_;
    uint32_t rowsDone_ = 0;
    uint8_t* target_ = nullptr;
    uint32_t position_ = 0;
    bool visible_ = false;
    bool direct_ = false;
};

// The string table. Entry i < 2^minCodeSize is index i; each later one is an earlier entry
// (`prefix`) followed by one index, whose output pixel is `last`.
struct LzwTables {
    uint16_t prefix[kMaxCodes];
    uint16_t length[kMaxCodes];
    uint8_t first[kMaxCodes];  // the string's first index
    uint32_t last[kMaxCodes];
    uint8_t spill[kMaxCodes * 4];  // the pixels of a string that runs past the end of its row
};

// The string of `code`, `length` pixels, written backwards from `end`.
inline void WriteString(const LzwTables& t, uint32_t code, uint32_t length, uint8_t* end) {
    for (uint32_t i = 0; i < length; ++i, code = t.prefix[code]) {
        end -= 4;
        StoreU32(end, t.last[code]);
    }
}

// Writes the string of `code` at the current position; false when the frame is complete.
bool Emit(LzwTables& t, uint32_t code, FrameRows& rows, uint32_t frameWidth) {
    const uint32_t length = t.length[code];
    uint32_t& position = rows.Position();
    if (length <= frameWidth - position) {
        WriteString(t, code, length, rows.Target() + (size_t{position} + length) * 4);
        position += length;
        return position < frameWidth || rows.NextRow();
    }
    WriteString(t, code, length, t.spill + size_t{length} * 4);
    for (uint32_t done = 0; done < length;) {
        const uint32_t count = std::min(length - done, frameWidth - position);
        std::memcpy(rows.Target() + size_t{position} * 4, t.spill + size_t{done} * 4,
                    size_t{count} * 4);
        done += count;
        position += count;
        if (position == frameWidth && !rows.NextRow()) return false;
    }
    return true;
}

// Decodes the image data into the rows; true when the frame's visible rows are complete.
bool DecodeImage(CodeReader& reader, uint32_t minCodeSize, const uint32_t* palette,
                 uint32_t frameWidth, FrameRows& rows, LzwTables& t) {
    const uint32_t clear = 1u << minCodeSize;
    const uint32_t end = clear + 1;
    constexpr uint32_t kNone = UINT32_MAX;
    for (uint32_t i = 0; i < clear; ++i) {
        t.prefix[i] = 0;
        t.length[i] = 1;
        t.first[i] = static_cast<uint8_t>(i);
        t.last[i] = palette[i];
    }
    uint32_t width = minCodeSize + 1;
    uint32_t next = end + 1;  // the next free entry
    uint32_t previous = kNone;
    for (;;) {
        uint32_t code;
        if (!reader.Next(width, code)) return false;
        if (code == clear) {
            width = minCodeSize + 1;
            next = end + 1;
            previous = kNone;
            continue;
        }
        if (code == end) return false;
        if (previous == kNone) {
            if (code > end) return false;  // no string to build one from: damaged
        } else {
            if (code > next) return false;  // beyond the table: damaged
            // Once the table is full it stays as it is (a deferred clear), the codes 12 bits.
            if (next < kMaxCodes) {
                // The code just being defined (next) is the previous string and its own first
                // index.
                const uint32_t tail = t.first[code == next ? previous : code];
                t.prefix[next] = static_cast<uint16_t>(previous);
                t.length[next] = static_cast<uint16_t>(t.length[previous] + 1);
                t.first[next] = t.first[previous];
                t.last[next] = palette[tail];
                ++next;
            }
        }
        // Codes widen once the next free entry needs the wider code. (With a code size of 1
        // that is already so after the first code.)
        if (next >= 1u << width && width < kMaxCodeWidth) ++width;
        if (!Emit(t, code, rows, frameWidth)) return true;
        previous = code;
    }
}

}  // namespace

bool ReadGif(const uint8_t* data, size_t size, RawPicture& out) {
    if (!data || size < 6 ||
        (std::memcmp(data, "GIF87a", 6) != 0 && std::memcmp(data, "GIF89a", 6) != 0)) {
        return false;
    }
    ByteCursor c(data, size);
    c.Skip(6);
    uint16_t screenWidth, screenHeight;
    uint8_t screenFlags, background, aspect;
    if (!c.ReadU16(screenWidth) || !c.ReadU16(screenHeight) || !c.ReadU8(screenFlags) ||
        !c.ReadU8(background) || !c.ReadU8(aspect)) {
        return false;
    }
    const uint8_t* table = nullptr;
    uint32_t tableEntries = 0;
    if (screenFlags & 0x80) {
        tableEntries = 2u << (screenFlags & 7);
        table = data + c.Position();
        if (!c.Skip(size_t{tableEntries} * 3)) return false;
    }

    // Extensions up to the first image. A Graphic Control Extension applies to the graphic
    // that follows it: a plain-text extension (which no viewer draws) takes it for its own.
    int transparentIndex = -1;
    for (;;) {
        uint8_t introducer, label;
        if (!c.ReadU8(introducer)) return false;
        if (introducer == kImageSeparator) break;
        // The trailer, or anything unknown, before an image: there is no picture.
        if (introducer != kExtensionIntroducer || !c.ReadU8(label)) return false;
        if (label == kGraphicControlLabel) {
            uint8_t length;
            if (!c.ReadU8(length)) return false;
            const uint8_t* block = data + c.Position();
            if (!c.Skip(length)) return false;
            transparentIndex = length >= 4 && (block[0] & 1) ? block[3] : -1;
        } else if (label == kPlainTextLabel) {
            transparentIndex = -1;
        }
        if (!SkipSubBlocks(c)) return false;
    }

    uint16_t left, top, width, height;
    uint8_t imageFlags, minCodeSize;
    if (!c.ReadU16(left) || !c.ReadU16(top) || !c.ReadU16(width) || !c.ReadU16(height) ||
        !c.ReadU8(imageFlags)) {
        return false;
    }
    if (imageFlags & 0x80) {
        tableEntries = 2u << (imageFlags & 7);
        table = data + c.Position();
        if (!c.Skip(size_t{tableEntries} * 3)) return false;
    }
    if (!c.ReadU8(minCodeSize) || minCodeSize < 1 || minCodeSize > 8) return false;

    FrameGeometry g{};
    g.left = left;
    g.top = top;
    g.width = width;
    g.height = height;
    g.interlaced = (imageFlags & 0x40) != 0;
    // Some writers leave the screen's size 0: the frame's right and bottom edges then give it.
    g.screenWidth = screenWidth ? screenWidth : g.left + g.width;
    g.screenHeight = screenHeight ? screenHeight : g.top + g.height;
    size_t outBytes;
    if (!OutputSizeAllowed(g.screenWidth, g.screenHeight, 4, outBytes)) return false;
    // The screen must not be much larger than what the image data could decode to: a few
    // bytes claiming 1 GiB of pixels are refused before anything is allocated.
    const uint64_t screenPixels = uint64_t{g.screenWidth} * g.screenHeight;
    if (screenPixels > kScreenPixelsAlwaysAllowed &&
        screenPixels > kMaxPixelsPerByte * c.Remaining()) {
        return false;
    }
    g.visibleColumns = g.left < g.screenWidth ? std::min(g.width, g.screenWidth - g.left) : 0;
    g.visibleRows = g.top < g.screenHeight && g.visibleColumns > 0
                        ? std::min(g.height, g.screenHeight - g.top)
                        : 0;

    uint32_t palette[256];
    if (table) {
        LoadColourTable(table, tableEntries, palette);
    } else {
        LoadGreyRamp(minCodeSize, palette);
    }
    if (transparentIndex >= 0) palette[transparentIndex] = 0;

    // Screen pixels the frame leaves uncovered are transparent: the output is cleared first
    // unless the frame covers all of it.
    const bool covers =
        g.left == 0 && g.top == 0 && g.width >= g.screenWidth && g.height >= g.screenHeight;
    out.width = g.screenWidth;
    out.height = g.screenHeight;
    out.bitsPerPixel = 8;
    out.hasAlpha = transparentIndex >= 0 || !covers;
    if (covers) {
        out.bgra.resize(outBytes);
    } else {
        out.bgra.assign(outBytes, 0);
    }
    if (g.visibleRows == 0) return true;  // nothing of the frame is on the screen

    const auto tables = std::make_unique_for_overwrite<LzwTables>();
    // A row of the frame's own, for the rows not wholly on the screen.
    std::vector<uint8_t> ownRow(
        g.visibleColumns == g.width && g.visibleRows == g.height ? 0 : size_t{g.width} * 4);
    FrameRows rows(g, out.bgra.data(), ownRow.data());
    CodeReader reader(data, size, c.Position());
    if (DecodeImage(reader, minCodeSize, palette, g.width, rows, *tables)) return true;
    // The data ended early, or is damaged: what was decoded stays, the rest is transparent.
    if (!rows.Started()) return false;
    rows.Abandon(!covers);
    out.hasAlpha = true;
    return true;
}

}  // namespace decode
