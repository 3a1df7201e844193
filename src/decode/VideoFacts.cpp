#include "decode/VideoFacts.h"

#include "base/ByteCursor.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

// One reader per container, each recognising its own first bytes:
// - AVI: the header list names the video stream (fourcc, size, duration); its bit rate is the
//   sum of its chunk sizes in idx1 or in an OpenDML index, streamed 64 KiB at a time, else the
//   size of the movi lists.
// - MPEG: a program stream (plain, or in VCD's raw CD sectors) is demultiplexed to its first
//   video stream, whose sequence header and MPEG-2 sequence extension give the facts; an
//   elementary stream is scanned as it is. Only the first 4 MiB are read.
// - ASF: the header object's file properties (maximum bit rate) and video stream properties.
// Every offset, size and count the file states is checked against the bytes there are and a
// fixed cap before it is used.

namespace decode {

size_t MemorySource::ReadAt(uint64_t offset, uint8_t* out, size_t count) {
    if (offset >= size_) return 0;
    const size_t n = static_cast<size_t>(std::min<uint64_t>(count, size_ - offset));
    if (n) std::memcpy(out, data_ + offset, n);
    return n;
}

namespace {

constexpr size_t kBlock = 64 * 1024;

constexpr uint32_t FourCC(const char (&s)[5]) {
    return uint32_t{uint8_t(s[0])} | uint32_t{uint8_t(s[1])} << 8 | uint32_t{uint8_t(s[2])} << 16 |
           uint32_t{uint8_t(s[3])} << 24;
}

uint16_t U16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}
uint32_t U32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
uint64_t U64(const uint8_t* p) {
    return U32(p) | uint64_t{U32(p + 4)} << 32;
}

bool ReadExactly(ByteSource& source, uint64_t offset, uint8_t* out, size_t count) {
    const uint64_t size = source.Size();
    if (offset > size || count > size - offset) return false;
    return source.ReadAt(offset, out, count) == count;
}

uint32_t Side(uint64_t stated) {
    return stated <= kMaxVideoSide ? uint32_t(stated) : 0;
}

// A measured or stated rate in kbit/s; one that happens to equal the variable marker is moved
// off it by 1 kbit/s, so that it is not read as "variable".
uint32_t Kbps(double bitsPerSecond) {
    if (!(bitsPerSecond > 0)) return 0;
    const double k = std::floor(bitsPerSecond / 1000 + 0.5);
    if (k >= double(UINT32_MAX)) return UINT32_MAX;
    const uint32_t rounded = uint32_t(k);
    return rounded == kVariableBitRate ? rounded + 1 : rounded;
}

// --- AVI -------------------------------------------------------------------------------------

constexpr size_t kMaxHeaderList = 256 * 1024;
constexpr uint32_t kMaxAviChunks = 10000;
constexpr uint64_t kMaxIndexEntries = 4u << 20;
constexpr size_t kMaxStandardIndexes = 4096;
constexpr uint32_t kAviIfList = 0x1;
constexpr uint8_t kIndexOfIndexes = 0x00;
constexpr uint8_t kIndexOfChunks = 0x01;

struct Span {
    const uint8_t* data;
    size_t size;
};

// The chunks of a RIFF list held in memory; sizes are clipped to the list.
class ChunkList {
public:
    explicit ChunkList(Span bytes) : bytes_(bytes) {}
    bool Next(uint32_t& id, Span& body) {
        if (bytes_.size - at_ < 8) return false;
        id = U32(bytes_.data + at_);
        const size_t size = std::min<size_t>(U32(bytes_.data + at_ + 4), bytes_.size - at_ - 8);
        body = {bytes_.data + at_ + 8, size};
        at_ += 8 + size;
        if (size % 2 && at_ < bytes_.size) ++at_;
        return true;
    }

private:
    Span bytes_;
    size_t at_ = 0;
};

// What the header list says of the first video stream.
struct AviVideo {
    bool found = false;
    uint32_t index = 0;  // among all streams: the NN of its "NNdc" chunks
    uint32_t handler = 0, compression = 0;
    uint32_t scale = 0, rate = 0, length = 0;
    uint32_t width = 0, height = 0;
    std::vector<uint64_t> standardIndexes;  // offsets of its OpenDML "ix" chunks
};

struct AviLayout {
    uint32_t mainWidth = 0, mainHeight = 0;
    uint32_t streams = 0;
    AviVideo video;
    uint64_t moviBytes = 0;
    bool hasIdx1 = false;
    uint64_t idx1Offset = 0, idx1Size = 0;
};

void ReadSuperIndex(Span indx, AviVideo& video) {
    if (indx.size < 24 || U16(indx.data) != 4 || indx.data[3] != kIndexOfIndexes) return;
    const size_t entries =
        std::min<size_t>({U32(indx.data + 4), (indx.size - 24) / 16, kMaxStandardIndexes});
    for (size_t i = 0; i < entries; ++i) {
        video.standardIndexes.push_back(U64(indx.data + 24 + 16 * i));
    }
}

void ReadStreamList(Span strl, uint32_t index, AviVideo& video) {
    AviVideo stream;
    stream.index = index;
    bool isVideo = false;
    ChunkList chunks(strl);
    uint32_t id;
    Span body;
    while (chunks.Next(id, body)) {
        if (id == FourCC("strh") && body.size >= 36) {
            isVideo = U32(body.data) == FourCC("vids");
            stream.handler = U32(body.data + 4);
            stream.scale = U32(body.data + 20);
            stream.rate = U32(body.data + 24);
            stream.length = U32(body.data + 32);
        } else if (id == FourCC("strf") && body.size >= 20) {
            const int64_t height = static_cast<int32_t>(U32(body.data + 8));  // < 0: top-down
            stream.width = Side(U32(body.data + 4));
            stream.height = Side(uint64_t(height < 0 ? -height : height));
            stream.compression = U32(body.data + 16);
        } else if (id == FourCC("indx")) {
            ReadSuperIndex(body, stream);
        }
    }
    if (!isVideo) return;
    stream.found = true;
    video = std::move(stream);
}

void ReadHeaderList(Span hdrl, AviLayout& layout) {
    ChunkList chunks(hdrl);
    uint32_t id;
    Span body;
    while (chunks.Next(id, body)) {
        if (id == FourCC("avih") && body.size >= 40) {
            layout.mainWidth = Side(U32(body.data + 32));
            layout.mainHeight = Side(U32(body.data + 36));
        } else if (id == FourCC("LIST") && body.size >= 4 && U32(body.data) == FourCC("strl")) {
            const uint32_t index = layout.streams++;
            if (!layout.video.found) {
                ReadStreamList({body.data + 4, body.size - 4}, index, layout.video);
            }
        }
    }
}

// Calls visit(id, payload offset, payload size) for each chunk in [begin, end), payloads
// clipped to `end`, while `budget` lasts and visit returns true.
template <class Visit>
void WalkChunks(ByteSource& source, uint64_t begin, uint64_t end, uint32_t& budget, Visit&& visit) {
    uint64_t at = begin;
    while (budget > 0 && at < end && end - at >= 8) {
        --budget;
        uint8_t header[8];
        if (!ReadExactly(source, at, header, 8)) return;
        const uint64_t body = at + 8;
        const uint64_t size = std::min<uint64_t>(U32(header + 4), end - body);
        if (!visit(U32(header), body, size)) return;
        at = body + size + size % 2;
    }
}

uint32_t ListType(ByteSource& source, uint64_t body, uint64_t size) {
    uint8_t type[4];
    return size >= 4 && ReadExactly(source, body, type, 4) ? U32(type) : 0;
}

// Calls each(entry) for `count` index entries of `stride` bytes from `offset`, read 64 KiB at a
// time.
template <class Each>
void ForEachEntry(ByteSource& source, uint64_t offset, uint64_t count, size_t stride, Each&& each) {
    std::vector<uint8_t> block(kBlock);
    for (uint64_t done = 0; done < count;) {
        const size_t want = size_t(std::min<uint64_t>(count - done, kBlock / stride)) * stride;
        const size_t got = source.ReadAt(offset + done * stride, block.data(), want) / stride;
        if (got == 0) return;
        for (size_t i = 0; i < got; ++i) each(block.data() + i * stride);
        done += got;
    }
}

// The video stream's bytes as idx1 lists them: its "NNdc" and "NNdb" entries, list entries
// left out.
uint64_t SumIdx1(ByteSource& source, const AviLayout& layout) {
    const uint32_t n = layout.video.index;
    if (n > 99) return 0;
    const uint32_t digits = uint32_t('0' + n / 10) | uint32_t('0' + n % 10) << 8;
    const uint32_t compressed = digits | FourCC("\0\0dc");
    const uint32_t uncompressed = digits | FourCC("\0\0db");
    uint64_t total = 0;
    const uint64_t entries = std::min<uint64_t>(layout.idx1Size / 16, kMaxIndexEntries);
    ForEachEntry(source, layout.idx1Offset, entries, 16, [&](const uint8_t* entry) {
        const uint32_t id = U32(entry);
        if ((id == compressed || id == uncompressed) && !(U32(entry + 4) & kAviIfList)) {
            total += U32(entry + 12);
        }
    });
    return total;
}

// The video stream's bytes as its OpenDML standard index chunks list them.
uint64_t SumStandardIndexes(ByteSource& source, const std::vector<uint64_t>& offsets) {
    uint64_t budget = kMaxIndexEntries;
    uint64_t total = 0;
    for (const uint64_t offset : offsets) {
        // Chunk header (8), then wLongsPerEntry, bIndexSubType, bIndexType, nEntriesInUse,
        // dwChunkId, qwBaseOffset, dwReserved (24).
        uint8_t header[32];
        if (!ReadExactly(source, offset, header, 32)) continue;
        const size_t stride = size_t{U16(header + 8)} * 4;
        if (header[11] != kIndexOfChunks || stride < 8) continue;
        const uint64_t chunkSize = U32(header + 4);
        const uint64_t entries = std::min<uint64_t>(
            {U32(header + 12), chunkSize >= 24 ? (chunkSize - 24) / stride : 0, budget});
        budget -= entries;
        ForEachEntry(source, offset + 32, entries, stride, [&](const uint8_t* entry) {
            total += U32(entry + 4) & 0x7FFFFFFF;  // bit 31: not a key frame
        });
    }
    return total;
}

uint32_t AviFourcc(uint32_t handler, uint32_t compression) {
    if (handler != 0) return handler;
    // Uncompressed (BI_RGB) frames have no code of their own; "DIB " is Windows' name for them.
    if (compression == 0) return FourCC("DIB ");
    // BI_RLE8 and BI_RLE4 written as numbers rather than as codes.
    if (compression == 1 || compression == 2) return FourCC("RLE ");
    return compression;
}

bool ReadAvi(ByteSource& source, VideoFacts& out) {
    uint8_t riff[12];
    if (!ReadExactly(source, 0, riff, 12) || U32(riff) != FourCC("RIFF") ||
        U32(riff + 8) != FourCC("AVI ")) {
        return false;
    }
    AviLayout layout;
    uint32_t budget = kMaxAviChunks;
    auto visit = [&](uint32_t id, uint64_t body, uint64_t size) {
        const uint32_t type = id == FourCC("LIST") ? ListType(source, body, size) : 0;
        if (type == FourCC("hdrl") && !layout.video.found) {
            std::vector<uint8_t> hdrl(size_t(std::min<uint64_t>(size - 4, kMaxHeaderList)));
            if (ReadExactly(source, body + 4, hdrl.data(), hdrl.size())) {
                ReadHeaderList({hdrl.data(), hdrl.size()}, layout);
            }
        } else if (type == FourCC("movi")) {
            layout.moviBytes += size - 4;
        } else if (id == FourCC("idx1") && !layout.hasIdx1) {
            layout.hasIdx1 = true;
            layout.idx1Offset = body;
            layout.idx1Size = size;
        }
        return true;
    };
    // The first RIFF, and the "AVIX" ones that carry an OpenDML file's further movi lists.
    WalkChunks(source, 0, source.Size(), budget, [&](uint32_t id, uint64_t body, uint64_t size) {
        const uint32_t form = id == FourCC("RIFF") ? ListType(source, body, size) : 0;
        if (form != FourCC("AVI ") && form != FourCC("AVIX")) return false;
        WalkChunks(source, body + 4, body + size, budget, visit);
        return true;
    });
    if (!layout.video.found) return false;

    const AviVideo& video = layout.video;
    out.container = VideoContainer::kAvi;
    out.fourcc = AviFourcc(video.handler, video.compression);
    const bool strfSize = video.width != 0 && video.height != 0;
    out.width = strfSize ? video.width : layout.mainWidth;
    out.height = strfSize ? video.height : layout.mainHeight;

    // An idx1 that lists none of the video's chunks gives way to the OpenDML index.
    uint64_t bytes = layout.hasIdx1 ? SumIdx1(source, layout) : 0;
    if (bytes == 0) bytes = SumStandardIndexes(source, video.standardIndexes);
    // The movi lists hold the other streams' chunks too: an overestimate, but near.
    if (bytes == 0) bytes = layout.moviBytes;
    if (video.rate != 0) {
        const double seconds = double(video.length) * video.scale / video.rate;
        if (seconds > 0) out.kbitsPerSecond = Kbps(double(bytes) * 8 / seconds);
    }
    return true;
}

// --- MPEG ------------------------------------------------------------------------------------

constexpr uint64_t kMaxMpegRead = 4u << 20;
constexpr size_t kSectorSize = 2352;
constexpr size_t kSectorHeader = 24;
constexpr size_t kSectorData = 2324;
constexpr uint32_t kMaxPackets = 1u << 20;

// A file's bytes in order over [begin, end), 64 KiB at a time; in `sectors` mode only the user
// data of each raw CD sector.
class ByteStream {
public:
    ByteStream(ByteSource& source, uint64_t begin, uint64_t end, bool sectors)
        : source_(source), next_(begin), end_(end), sectors_(sectors), buffer_(kBlock) {}

    // Up to `max` buffered bytes, read on; empty at the end.
    Span Take(size_t max) {
        if (at_ == filled_ && !Fill()) return {nullptr, 0};
        const size_t n = std::min(max, filled_ - at_);
        const Span span{buffer_.data() + at_, n};
        at_ += n;
        return span;
    }
    size_t Read(uint8_t* out, size_t count) {
        size_t done = 0;
        while (done < count) {
            const Span span = Take(count - done);
            if (span.size == 0) break;
            std::memcpy(out + done, span.data, span.size);
            done += span.size;
        }
        return done;
    }
    bool ReadByte(uint8_t& byte) { return Read(&byte, 1) == 1; }
    bool Skip(size_t count) {
        while (count > 0) {
            const size_t n = Take(count).size;
            if (n == 0) return false;
            count -= n;
        }
        return true;
    }

private:
    bool Fill() {
        at_ = filled_ = 0;
        while (filled_ == 0 && next_ < end_) {
            const size_t want = sectors_ ? kBlock / kSectorSize * kSectorSize : kBlock;
            const size_t got = source_.ReadAt(next_, buffer_.data(),
                                              size_t(std::min<uint64_t>(want, end_ - next_)));
            if (got == 0) break;
            next_ += got;
            if (!sectors_) {
                filled_ = got;
                break;
            }
            for (size_t sector = 0; sector < got && got - sector > kSectorHeader;
                 sector += kSectorSize) {
                const size_t n = std::min(got - sector - kSectorHeader, kSectorData);
                std::memmove(buffer_.data() + filled_, buffer_.data() + sector + kSectorHeader, n);
                filled_ += n;
            }
        }
        return filled_ > 0;
    }

    ByteSource& source_;
    uint64_t next_, end_;
    bool sectors_;
    std::vector<uint8_t> buffer_;
    size_t at_ = 0, filled_ = 0;
};

// Finds the first sequence header in MPEG video fed to it in pieces, and keeps it with the
// bytes after it that may hold quantiser matrices and the sequence extension.
class SequenceScanner {
public:
    void Feed(const uint8_t* data, size_t size) {
        for (size_t i = 0; i < size && !Done(); ++i) {
            if (collecting_) {
                kept_[have_++] = data[i];
            } else {
                window_ = window_ << 8 | data[i];
                collecting_ = window_ == 0x000001B3;
            }
        }
    }
    bool Done() const { return have_ == sizeof kept_; }
    bool Read(VideoFacts& out) const;

private:
    uint32_t window_ = 0xFFFFFFFF;
    bool collecting_ = false;
    // The header (8), two quantiser matrices (128) and room for user data and the extension.
    uint8_t kept_[512] = {};
    size_t have_ = 0;
};

bool SequenceScanner::Read(VideoFacts& out) const {
    const uint8_t* h = kept_;
    if (have_ < 8) return false;
    uint32_t width = uint32_t{h[0]} << 4 | h[1] >> 4;
    uint32_t height = uint32_t{h[1] & 0x0Fu} << 8 | h[2];
    if (width == 0 || height == 0) return false;
    const uint32_t rateValue = uint32_t{h[4]} << 10 | uint32_t{h[5]} << 2 | h[6] >> 6;
    // MPEG-2 when a sequence extension comes before the first GOP or picture. Quantiser
    // matrices may come first; their entries are non-zero, so they hold no start code.
    bool mpeg2 = false;
    uint32_t rateExtension = 0;
    for (size_t i = 8; i + 8 <= have_; ++i) {
        if (h[i] != 0 || h[i + 1] != 0 || h[i + 2] != 1) continue;
        const uint8_t code = h[i + 3];
        if (code == 0xB5 && h[i + 4] >> 4 == 1) {
            // extension id 4, profile and level 8, progressive 1, chroma format 2, horizontal
            // size extension 2, vertical 2, bit rate extension 12, marker 1
            const uint32_t bits = uint32_t{h[i + 4]} << 24 | uint32_t{h[i + 5]} << 16 |
                                  uint32_t{h[i + 6]} << 8 | h[i + 7];
            mpeg2 = true;
            width |= (bits >> 15 & 3) << 12;
            height |= (bits >> 13 & 3) << 12;
            rateExtension = bits >> 1 & 0xFFF;
            break;
        }
        if (code == 0x00 || code == 0xB8 || code == 0xB3 || code == 0xB7) break;
        i += 2;
    }

    out.container = VideoContainer::kMpeg;
    out.fourcc = mpeg2 ? FourCC("MPG2") : FourCC("MPG1");
    out.width = width;
    out.height = height;
    // 0x3FFFF is MPEG-1's "variable". MPEG-2 has no such value, but writers mark variable rates
    // as all 30 bits set, or (ffmpeg, when no maximum rate is set) 0x3FFFF with no extension;
    // 104.9 Mbit/s is beyond what MPEG-2 main profile allows.
    if (rateValue == 0x3FFFF && (!mpeg2 || rateExtension == 0 || rateExtension == 0xFFF)) {
        out.kbitsPerSecond = kVariableBitRate;
    } else {
        out.kbitsPerSecond = Kbps(double(uint64_t{rateExtension} << 18 | rateValue) * 400);
    }
    return true;
}

// Reads zero bytes up to a start code prefix (00 00 01) and the code after it.
bool NextStartCode(ByteStream& in, uint8_t& code) {
    uint32_t zeros = 0;
    uint8_t byte;
    while (in.ReadByte(byte)) {
        if (byte == 0) {
            ++zeros;
        } else {
            return byte == 1 && zeros >= 2 && in.ReadByte(code);
        }
    }
    return false;
}

bool SkipPackHeader(ByteStream& in) {
    uint8_t pack[10];
    if (!in.ReadByte(pack[0])) return false;
    if (pack[0] >> 6 == 1) {  // MPEG-2: 10 bytes, the last giving the stuffing's length
        return in.Read(pack + 1, 9) == 9 && in.Skip(pack[9] & 7);
    }
    return pack[0] >> 4 == 2 && in.Skip(7);  // MPEG-1: 8 bytes
}

// Where the payload of a video PES packet starts, after its header.
bool PesPayloadStart(const uint8_t* packet, size_t size, size_t& start) {
    ByteCursor c(packet, size);
    uint8_t byte = 0;
    if (size >= 3 && packet[0] >> 6 == 2) {  // MPEG-2: flags 2, header data length 1
        start = 3 + size_t{packet[2]};
        return start <= size;
    }
    // MPEG-1: stuffing, an optional STD buffer field, then the time stamps.
    for (int stuffing = 0; stuffing <= 16; ++stuffing) {
        if (!c.ReadU8(byte)) return false;
        if (byte != 0xFF) break;
    }
    if (byte >> 6 == 1 && !(c.Skip(1) && c.ReadU8(byte))) return false;
    if (byte >> 4 == 2) {
        if (!c.Skip(4)) return false;
    } else if (byte >> 4 == 3) {
        if (!c.Skip(9)) return false;
    } else if (byte != 0x0F) {
        return false;
    }
    start = c.Position();
    return true;
}

// Feeds the first video stream's payload to `scanner` until it has a sequence header or the
// bytes stop being a program stream.
void DemuxProgramStream(ByteStream& in, SequenceScanner& scanner) {
    std::vector<uint8_t> packet(0xFFFF);
    int videoId = -1;
    for (uint32_t n = 0; n < kMaxPackets && !scanner.Done(); ++n) {
        uint8_t code;
        if (!NextStartCode(in, code) || code == 0xB9) return;  // B9: program end
        if (code == 0xBA) {
            if (!SkipPackHeader(in)) return;
            continue;
        }
        uint8_t length[2];
        if (code < 0xBB || in.Read(length, 2) != 2) return;
        const size_t size = size_t{length[0]} << 8 | length[1];
        if (code < 0xE0 || code > 0xEF || (videoId >= 0 && code != videoId)) {
            if (!in.Skip(size)) return;
            continue;
        }
        videoId = code;
        const size_t got = in.Read(packet.data(), size);
        size_t start;
        if (!PesPayloadStart(packet.data(), got, start)) return;
        scanner.Feed(packet.data() + start, got - start);
        if (got < size) return;
    }
}

bool ReadMpeg(ByteSource& source, VideoFacts& out) {
    uint8_t head[12];
    const size_t n = source.ReadAt(0, head, sizeof head);
    const uint64_t fileSize = source.Size();
    uint64_t begin = 0, end = fileSize;
    bool programStream = false, sectors = false;
    const bool startCode = n >= 4 && head[0] == 0 && head[1] == 0 && head[2] == 1;
    if (startCode && head[3] == 0xBA) {
        programStream = true;
    } else if (n == 12 && U32(head) == FourCC("RIFF") && U32(head + 8) == FourCC("CDXA")) {
        // VCD: raw CD sectors in the data chunk.
        uint32_t budget = 64;
        bool found = false;
        WalkChunks(source, 12, std::min<uint64_t>(8 + uint64_t{U32(head + 4)}, fileSize), budget,
                   [&](uint32_t id, uint64_t body, uint64_t size) {
                       if (id != FourCC("data")) return true;
                       begin = body;
                       end = body + size;
                       found = true;
                       return false;
                   });
        if (!found) return false;
        programStream = sectors = true;
    } else if (!(startCode && head[3] == 0xB3)) {  // not an elementary stream either
        return false;
    }
    end = std::min(end, begin + kMaxMpegRead);

    SequenceScanner scanner;
    if (programStream) {
        ByteStream in(source, begin, end, sectors);
        DemuxProgramStream(in, scanner);
        if (scanner.Read(out)) return true;
    }
    // An elementary stream, or a program stream that would not demultiplex: the raw bytes.
    SequenceScanner raw;
    ByteStream in(source, begin, end, sectors);
    while (!raw.Done()) {
        const Span span = in.Take(kBlock);
        if (span.size == 0) break;
        raw.Feed(span.data, span.size);
    }
    return raw.Read(out);
}

// --- ASF -------------------------------------------------------------------------------------

constexpr uint32_t kMaxAsfObjects = 1024;  // in all, header extension's included
constexpr uint32_t kMaxAsfListEntries = 256;

struct Guid {
    uint32_t a;
    uint16_t b, c;
    uint8_t d[8];
};

// On disk the first three fields are little-endian, the last eight bytes in order.
bool IsGuid(const uint8_t* p, const Guid& g) {
    return U32(p) == g.a && U16(p + 4) == g.b && U16(p + 6) == g.c &&
           std::memcmp(p + 8, g.d, 8) == 0;
}

constexpr Guid kHeaderObject = {
    0x75B22630, 0x668E, 0x11CF, {0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C}};
constexpr Guid kFileProperties = {
    0x8CABDCA1, 0xA947, 0x11CF, {0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65}};
constexpr Guid kStreamProperties = {
    0xB7DC0791, 0xA9B7, 0x11CF, {0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65}};
constexpr Guid kVideoMedia = {
    0xBC19EFC0, 0x5B4D, 0x11CF, {0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B}};
constexpr Guid kHeaderExtension = {
    0x5FBF03B5, 0xA92E, 0x11CF, {0x8E, 0xE3, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65}};
constexpr Guid kExtendedStreamProperties = {
    0x14E6A5CB, 0xC672, 0x4332, {0x83, 0x99, 0xA9, 0x69, 0x52, 0x06, 0x5B, 0x5A}};

struct AsfFacts {
    bool video = false;
    uint32_t maxBitrate = 0;
    VideoFacts facts;
};

// A Stream Properties Object of `size` bytes at `at`: object header (24), stream type (16),
// error correction type (16), time offset (8), lengths of the type's data and of the error
// correction data (4 + 4), flags (2), reserved (4), then the type's data, for video: encoded
// width (4) and height (4), reserved (1), format data size (2) and a BITMAPINFOHEADER.
void ReadStreamProperties(ByteSource& source, uint64_t at, uint64_t size, AsfFacts& asf) {
    uint8_t object[109];
    const size_t n = size_t(std::min<uint64_t>(size, sizeof object));
    if (asf.video || n < 86 || !ReadExactly(source, at, object, n)) return;
    if (!IsGuid(object + 24, kVideoMedia)) return;
    asf.video = true;
    const uint64_t typeData = std::min<uint64_t>(U32(object + 64), n - 78);
    if (typeData < 8) return;
    asf.facts.width = Side(U32(object + 78));
    asf.facts.height = Side(U32(object + 82));
    if (typeData >= 31) asf.facts.fourcc = U32(object + 105);
}

// An Extended Stream Properties Object: 88 bytes of fixed fields ending with the counts of
// stream names and payload extension systems, those, and then perhaps a Stream Properties
// Object.
void ReadExtendedStreamProperties(ByteSource& source, uint64_t at, uint64_t size, AsfFacts& asf) {
    uint8_t fixed[88];
    if (size < 88 || !ReadExactly(source, at, fixed, 88)) return;
    const uint64_t end = at + size;
    uint64_t pos = at + 88;
    const uint32_t names = std::min<uint32_t>(U16(fixed + 84), kMaxAsfListEntries);
    const uint32_t systems = std::min<uint32_t>(U16(fixed + 86), kMaxAsfListEntries);
    for (uint32_t i = 0; i < names && pos < end; ++i) {
        uint8_t name[4];  // language index, name length
        if (!ReadExactly(source, pos, name, 4)) return;
        pos += 4 + uint64_t{U16(name + 2)};
    }
    for (uint32_t i = 0; i < systems && pos < end; ++i) {
        uint8_t system[22];  // GUID, data size, info length
        if (!ReadExactly(source, pos, system, 22)) return;
        pos += 22 + uint64_t{U32(system + 18)};
    }
    uint8_t header[24];
    if (pos >= end || end - pos < 24 || !ReadExactly(source, pos, header, 24)) return;
    if (IsGuid(header, kStreamProperties)) {
        ReadStreamProperties(source, pos, std::min(U64(header + 16), end - pos), asf);
    }
}

// Calls visit(header, offset, size) for each object in [begin, end), at most `count` and while
// `budget` lasts.
template <class Visit>
void WalkObjects(ByteSource& source, uint64_t begin, uint64_t end, uint32_t count, uint32_t& budget,
                 Visit&& visit) {
    uint64_t at = begin;
    for (uint32_t i = 0; i < count && budget > 0 && at < end && end - at >= 24; ++i, --budget) {
        uint8_t header[24];
        if (!ReadExactly(source, at, header, 24)) return;
        const uint64_t size = U64(header + 16);
        if (size < 24 || size > end - at) return;
        visit(header, at, size);
        at += size;
    }
}

// A Header Extension Object: reserved GUID (16), reserved (2), data size (4), then objects.
void ReadHeaderExtension(ByteSource& source, uint64_t at, uint64_t size, uint32_t& budget,
                         AsfFacts& asf) {
    uint8_t extension[46];
    if (size < 46 || !ReadExactly(source, at, extension, 46)) return;
    const uint64_t end = at + 46 + std::min<uint64_t>(U32(extension + 42), size - 46);
    WalkObjects(source, at + 46, end, kMaxAsfObjects, budget,
                [&](const uint8_t* header, uint64_t objectAt, uint64_t objectSize) {
                    if (IsGuid(header, kExtendedStreamProperties)) {
                        ReadExtendedStreamProperties(source, objectAt, objectSize, asf);
                    }
                });
}

bool ReadAsf(ByteSource& source, VideoFacts& out) {
    // GUID, size (8), object count (4), reserved (2).
    uint8_t head[30];
    if (!ReadExactly(source, 0, head, 30) || !IsGuid(head, kHeaderObject)) return false;
    const uint64_t end = std::min(U64(head + 16), source.Size());
    uint32_t budget = kMaxAsfObjects;
    AsfFacts asf;
    auto visit = [&](const uint8_t* header, uint64_t at, uint64_t size) {
        uint8_t file[104];
        if (IsGuid(header, kFileProperties)) {
            if (size >= 104 && ReadExactly(source, at, file, 104)) asf.maxBitrate = U32(file + 100);
        } else if (IsGuid(header, kStreamProperties)) {
            ReadStreamProperties(source, at, size, asf);
        } else if (IsGuid(header, kHeaderExtension)) {
            ReadHeaderExtension(source, at, size, budget, asf);
        }
    };
    WalkObjects(source, 30, end, U32(head + 24), budget, visit);
    if (!asf.video) return false;
    out = asf.facts;
    out.container = VideoContainer::kAsf;
    out.kbitsPerSecond = Kbps(asf.maxBitrate);
    return true;
}

}  // namespace

bool ReadVideoFacts(ByteSource& source, VideoFacts& out) {
    out = {};
    for (auto* reader : {ReadAvi, ReadMpeg, ReadAsf}) {
        VideoFacts facts;
        if (reader(source, facts)) {
            out = facts;
            return true;
        }
    }
    return false;
}

}  // namespace decode
