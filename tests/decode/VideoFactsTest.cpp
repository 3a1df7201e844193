// The video facts reader: clips ffmpeg wrote (scripts/make-video-fixtures.sh), containers built
// here for what ffmpeg does not write (other streams and indexes, decoys that a wrong parse
// would read, VCD sectors, ASF header extensions), and cut or damaged files.
#include "decode/VideoFacts.h"

#ifdef _WIN32
#include "base/Win.h"
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

using decode::kVariableBitRate;
using decode::VideoContainer;
using decode::VideoFacts;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes ReadClip(const std::string& name) {
#ifdef _WIN32
    wchar_t exe[MAX_PATH];
    ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
    const auto folder = std::filesystem::path(exe).parent_path() / L"video-fixtures";
#else
    const std::filesystem::path folder = GLIMMERLY_VIDEO_FIXTURES;
#endif
    std::ifstream in(folder / name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Read(const Bytes& bytes, VideoFacts& facts) {
    decode::MemorySource source(bytes.data(), bytes.size());
    return decode::ReadVideoFacts(source, facts);
}

// Reads a file the container reader must take.
VideoFacts Facts(const Bytes& file, VideoContainer container) {
    VideoFacts facts;
    EXPECT_TRUE(Read(file, facts));
    EXPECT_EQ(facts.container, container);
    return facts;
}

void ExpectFacts(const VideoFacts& facts, const char* fourcc, uint32_t width, uint32_t height,
                 uint32_t kbps) {
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&facts.fourcc), 4), fourcc);
    EXPECT_EQ(facts.width, width);
    EXPECT_EQ(facts.height, height);
    EXPECT_EQ(facts.kbitsPerSecond, kbps);
}

Bytes Le(uint64_t value, int bytes) {
    Bytes b;
    for (int i = 0; i < bytes; ++i) b.push_back(i < 8 ? uint8_t(value >> (8 * i)) : 0);
    return b;
}
Bytes Be(uint64_t value, int bytes) {
    Bytes b = Le(value, bytes);
    std::reverse(b.begin(), b.end());
    return b;
}
Bytes Text(const char* text) {
    return Bytes(text, text + std::strlen(text));
}
Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes b;
    for (const Bytes& part : parts) b.insert(b.end(), part.begin(), part.end());
    return b;
}
uint32_t Get32(const Bytes& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t{b[at + 3]} << 24;
}
uint32_t Code(const char* s) {
    return Get32(Text(s), 0);
}

// --- AVI ----------------------------------------------------------------------------------

Bytes Chunk(const char* id, const Bytes& body) {
    return Cat({Text(id), Le(body.size(), 4), body, Bytes(body.size() % 2, 0)});
}
Bytes List(const char* type, const Bytes& body) {
    return Chunk("LIST", Cat({Text(type), body}));
}

// A stream of 50 frames at `rate` a second; for video, a 64 x 48 frame unless said.
Bytes Strl(const char* type, uint32_t handler, uint32_t compression, int32_t height = 48,
           uint32_t rate = 25, const Bytes& more = {}, uint32_t width = 64) {
    const Bytes strh = Cat({Text(type), Le(handler, 4), Le(0, 12), Le(1, 4), Le(rate, 4), Le(0, 4),
                            Le(50, 4), Le(0, 20)});
    const Bytes strf = Cat({Le(40, 4), Le(width, 4), Le(uint32_t(height), 4), Le(0x180001, 4),
                            Le(compression, 4), Le(0, 20)});
    return List("strl", Cat({Chunk("strh", strh), Chunk("strf", strf), more}));
}

// RIFF AVI, its avih saying 320 x 240.
Bytes Avi(const Bytes& strls, const Bytes& rest) {
    const Bytes avih = Cat({Le(0, 32), Le(320, 4), Le(240, 4), Le(0, 16)});
    return Chunk("RIFF",
                 Cat({Text("AVI "), List("hdrl", Cat({Chunk("avih", avih), strls})), rest}));
}

TEST(VideoFacts, AviCodesSizesAndIndexes) {
    // Stream 0 is audio, so only the video's "01dc" and "01db" count, and not when flagged as
    // a list: 2000 + 3000 bytes in 2 s.
    Bytes idx1;
    for (auto [id, size, flags] : {std::tuple{"00wb", 1000, 0x10},
                                   {"00dc", 11000, 0x10},
                                   {"01dc", 2000, 0x10},
                                   {"rec ", 7000, 0x01},
                                   {"01db", 3000, 0x00},
                                   {"01dc", 5000, 0x01}}) {
        idx1 = Cat({idx1, Text(id), Le(flags, 4), Le(4, 4), Le(size, 4)});
    }
    idx1 = Chunk("idx1", idx1);
    const Bytes audio = Strl("auds", 0, 1);
    const Bytes xvid = Strl("vids", 0, Code("XVID"));
    ExpectFacts(Facts(Avi(Cat({audio, xvid}), idx1), VideoContainer::kAvi), "XVID", 64, 48, 20);
    // The handler over biCompression, a top-down frame, stream 0's chunks.
    const Bytes divx = Strl("vids", Code("divx"), Code("DX50"), -48);
    ExpectFacts(Facts(Avi(divx, idx1), VideoContainer::kAvi), "divx", 64, 48, 44);
    // Codes for uncompressed and run-length frames; avih's size when strf has none.
    ExpectFacts(Facts(Avi(Strl("vids", 0, 0, 0, 25, {}, 0), {}), VideoContainer::kAvi), "DIB ", 320,
                240, 0);
    EXPECT_EQ(Facts(Avi(Strl("vids", 0, 2), {}), VideoContainer::kAvi).fourcc, Code("RLE "));

    // An index longer than one read: 6000 entries of 0, 1, 2... bytes.
    Bytes many;
    for (uint32_t i = 0; i < 6000; ++i) {
        const Bytes entry = Cat({Text("00dc"), Le(0x10, 4), Le(4, 4), Le(i, 4)});
        many.insert(many.end(), entry.begin(), entry.end());
    }
    EXPECT_EQ(Facts(Avi(divx, Chunk("idx1", many)), VideoContainer::kAvi).kbitsPerSecond,
              (5999 * 6000 / 2 * 8 / 2 + 500) / 1000);

    // No idx1: the movi lists' payload, audio and all, of every RIFF part, over the duration.
    const Bytes movi = List("movi", Cat({Chunk("00dc", Bytes(3000)), Chunk("01wb", Bytes(999))}));
    const Bytes avix = Chunk("RIFF", Cat({Text("AVIX"), movi}));
    EXPECT_EQ(Facts(Cat({Avi(divx, movi), avix}), VideoContainer::kAvi).kbitsPerSecond,
              2 * (movi.size() - 12) * 8 / 2000);

    // An OpenDML super index pointing at a standard index after the RIFF, whose sizes lose the
    // key frame bit: 4000 + 6000 bytes in 2 s.
    const Bytes ix =
        Chunk("ix00", Cat({Le(2, 2), Le(0x0100, 2), Le(2, 4), Text("00dc"), Le(0, 12), Le(8, 4),
                           Le(4000 | 0x80000000u, 4), Le(5000, 4), Le(6000, 4)}));
    auto indexed = [&](uint64_t at) {
        const Bytes indx = Cat(
            {Le(4, 4), Le(1, 4), Text("00dc"), Le(0, 12), Le(at, 8), Le(ix.size(), 4), Le(50, 4)});
        return Avi(Strl("vids", 0, 0, 48, 25, Chunk("indx", indx)), movi);
    };
    EXPECT_EQ(Facts(Cat({indexed(indexed(0).size()), ix}), VideoContainer::kAvi).kbitsPerSecond,
              40u);

    VideoFacts facts;
    EXPECT_FALSE(Read(Avi(audio, idx1), facts));  // no video stream
}

// --- MPEG ---------------------------------------------------------------------------------

// A sequence header (25 fps), with an intra quantiser matrix when `matrix`.
Bytes SequenceHeader(uint32_t width, uint32_t height, uint32_t rate, bool matrix = false) {
    return Cat({{0, 0, 1, 0xB3},
                Be(uint64_t{width} << 52 | uint64_t{height} << 40 | 0x13ull << 32 |
                       uint64_t{rate} << 14 | 1 << 13 | 20 << 3 | (matrix ? 2 : 0),
                   8),
                Bytes(matrix ? 64 : 0, 0x10)});
}
// Main profile at main level, 4:2:0.
Bytes SequenceExtension(uint32_t widthExt, uint32_t heightExt, uint32_t rateExt) {
    return Cat({{0, 0, 1, 0xB5},
                Be(0x148ull << 36 | 1ull << 33 | uint64_t{widthExt} << 31 |
                       uint64_t{heightExt} << 29 | uint64_t{rateExt} << 17 | 1 << 16,
                   6)});
}
const Bytes kGop = {0, 0, 1, 0xB8, 0, 8, 0, 0x40};
const Bytes kPicture = {0, 0, 1, 0, 0, 0x0F, 0xFF, 0xF8};

// A PES packet with an MPEG-1 header: stuffing, STD buffer, PTS.
Bytes Pes(uint8_t id, const Bytes& payload) {
    return Cat(
        {{0, 0, 1, id, 0, uint8_t(9 + payload.size()), 0xFF, 0xFF, 0x60, 0x2E, 0x21, 0, 1, 0, 1},
         payload});
}

// A pack and system header, an audio packet holding a sequence header that is not the
// video's, `beforeVideo`, then the video's own (352 x 288, 1000 kbit/s) split across two
// packets.
Bytes ProgramStream(const Bytes& beforeVideo = {}) {
    const Bytes video = Cat({SequenceHeader(352, 288, 2500), kGop, kPicture});
    return Cat({{0, 0, 1, 0xBA, 0x21, 0, 1, 0, 1, 0x80, 0x1B, 0x91},
                {0, 0, 1, 0xBB, 0, 6, 0x80, 0x1B, 0x91, 0x04, 0xE1, 0xFF},
                Pes(0xC0, SequenceHeader(640, 480, 0x3FFFF)),
                beforeVideo,
                Pes(0xE0, Bytes(video.begin(), video.begin() + 7)),
                Pes(0xE0, Bytes(video.begin() + 7, video.end())),
                {0, 0, 1, 0xB9}});
}

// VCD's RIFF CDXA of raw sectors holding `stream`, each sector's header a sequence header
// that only a reader that kept the headers would see.
Bytes Vcd(Bytes stream) {
    stream.resize((stream.size() + 2323) / 2324 * 2324);
    Bytes sectors;
    for (size_t at = 0; at < stream.size(); at += 2324) {
        sectors = Cat({sectors, SequenceHeader(720, 576, 0x3FFFF), Bytes(12),
                       Bytes(stream.begin() + at, stream.begin() + at + 2324), Le(0xEDC, 4)});
    }
    return Chunk("RIFF", Cat({Text("CDXA"), Chunk("fmt ", Bytes(16)), Chunk("data", sectors)}));
}

TEST(VideoFacts, MpegStreams) {
    const auto mpeg = VideoContainer::kMpeg;
    ExpectFacts(Facts(Vcd(ReadClip("mpeg1-cbr.mpg")), mpeg), "MPG1", 320, 240, 1000);

    ExpectFacts(Facts(ProgramStream(), mpeg), "MPG1", 352, 288, 1000);
    ExpectFacts(Facts(Vcd(ProgramStream()), mpeg), "MPG1", 352, 288, 1000);
    // A broken packet: the raw bytes are scanned, and the first header is taken.
    ExpectFacts(Facts(ProgramStream({0x55}), mpeg), "MPG1", 640, 480, kVariableBitRate);

    // MPEG-2's size and rate extensions, after a quantiser matrix.
    const Bytes large =
        Cat({SequenceHeader(0x123, 0x456, 0x3FFFF, true), SequenceExtension(1, 2, 3)});
    ExpectFacts(Facts(large, mpeg), "MPG2", 0x1123, 0x2456, (3 << 18 | 0x3FFFF) * 2 / 5);
    // 0x3FFFF with all extension bits set is variable too.
    const Bytes variable = Cat({SequenceHeader(720, 576, 0x3FFFF), SequenceExtension(0, 0, 0xFFF)});
    EXPECT_EQ(Facts(variable, mpeg).kbitsPerSecond, kVariableBitRate);
    // An extension after the first GOP is not the sequence's.
    const Bytes late = Cat({SequenceHeader(720, 576, 15000), kGop, SequenceExtension(1, 1, 1)});
    ExpectFacts(Facts(late, mpeg), "MPG1", 720, 576, 6000);
}

// --- ASF ----------------------------------------------------------------------------------

// A GUID as ASF writes it: the first three fields little-endian.
Bytes Guid(const char* text) {
    auto hex = [&](int at, int digits) {
        return std::stoull(std::string(text + at, digits), 0, 16);
    };
    return Cat({Le(hex(0, 8), 4), Le(hex(9, 4), 2), Le(hex(14, 4), 2), Be(hex(19, 4), 2),
                Be(hex(24, 12), 6)});
}
Bytes Object(const char* guid, const Bytes& body) {
    return Cat({Guid(guid), Le(24 + body.size(), 8), body});
}
const char* const kFileProperties = "8CABDCA1-A947-11CF-8EE4-00C00C205365";
const char* const kAudio = "F8699E40-5B4D-11CF-A8FD-00805F5C442B";
const char* const kVideo = "BC19EFC0-5B4D-11CF-A8FD-00805F5C442B";

// Stream properties: type, error correction type, time offset, lengths, flags and reserved,
// then width, height, flags, format size and a BITMAPINFOHEADER.
Bytes StreamProperties(const char* type, uint32_t width, uint32_t height, const char* fourcc) {
    return Object("B7DC0791-A9B7-11CF-8EE6-00C00C205365",
                  Cat({Guid(type), Bytes(24), Le(51, 4), Bytes(10), Le(width, 4), Le(height, 4),
                       Le(2, 1), Le(40, 2), Le(40, 4), Le(width, 4), Le(height, 4), Le(0x180001, 4),
                       Text(fourcc), Bytes(20)}));
}
Bytes Header(std::initializer_list<Bytes> objects) {
    return Object("75B22630-668E-11CF-A6D9-00AA0062CE6C",
                  Cat({Le(objects.size(), 4), {1, 2}, Cat(objects)}));
}

TEST(VideoFacts, AsfHeaderExtension) {
    // Video only in the header extension, after a stream name and a payload extension system.
    const Bytes extended =
        Object("14E6A5CB-C672-4332-8399-A96952065B5A",
               Cat({Bytes(60), Le(1, 2), Le(1, 2), Le(0, 2), Le(3, 2), Text("cam"), Guid(kAudio),
                    Le(0, 2), Le(2, 4), Le(0, 2), StreamProperties(kVideo, 640, 360, "WMV3")}));
    const Bytes extension = Object("5FBF03B5-A92E-11CF-8EE3-00C00C205365",
                                   Cat({Guid("ABD3D211-A9BA-11CF-8EE6-00C00C205365"), Le(6, 2),
                                        Le(extended.size(), 4), extended}));
    const Bytes properties = Object(kFileProperties, Cat({Bytes(76), Le(1234567, 4)}));
    const Bytes audio = StreamProperties(kAudio, 0, 0, "WMA2");
    ExpectFacts(Facts(Header({properties, audio, extension}), VideoContainer::kAsf), "WMV3", 640,
                360, 1235);

    VideoFacts facts;
    EXPECT_FALSE(Read(Header({properties, audio}), facts));
    EXPECT_FALSE(Read(Guid("75B22630-668E-11CF-A6D9-00AA0062CE6C"), facts));
}

// --- Clips ffmpeg wrote ------------------------------------------------------------------

// The video chunks' bytes in an AVI's movi list, walked chunk by chunk rather than read from
// the index as the reader does.
uint64_t VideoBytesInMovi(const Bytes& file) {
    const std::string text(file.begin(), file.end());
    uint64_t total = 0;
    for (size_t at = text.find("movi") + 4; at + 8 <= text.find("idx1");
         at += 8 + (Get32(file, at + 4) + 1) / 2 * 2) {
        if (text.compare(at, 4, "00dc") == 0) total += Get32(file, at + 4);
    }
    return total;
}

// ASF's file properties' maximum bit rate, found by its GUID.
uint32_t AsfMaximumBitRate(const Bytes& file) {
    const Bytes guid = Guid(kFileProperties);
    const size_t at =
        std::search(file.begin(), file.end(), guid.begin(), guid.end()) - file.begin();
    return at + 104 <= file.size() ? Get32(file, at + 100) : 0;
}

struct Clip {
    const char* name;
    VideoContainer container;
    const char* fourcc;
    uint32_t height, kbps;  // for AVI and ASF, kbps is computed from the file
};
// Every clip lasts 2 s and is 320 wide; raw.avi's biHeight is -240.
const Clip kClips[] = {
    {"mjpeg.avi", VideoContainer::kAvi, "MJPG", 240, 0},
    {"xvid.avi", VideoContainer::kAvi, "xvid", 240, 0},
    {"fmp4.avi", VideoContainer::kAvi, "FMP4", 240, 0},
    {"odd-size.avi", VideoContainer::kAvi, "FMP4", 180, 0},
    {"raw.avi", VideoContainer::kAvi, "DIB ", 240, 0},
    {"mpeg1-cbr.mpg", VideoContainer::kMpeg, "MPG1", 240, 1000},
    {"mpeg1-vbr.mpv", VideoContainer::kMpeg, "MPG1", 240, kVariableBitRate},
    {"mpeg2.mpg", VideoContainer::kMpeg, "MPG2", 240, 2000},
    {"mpeg2.vob", VideoContainer::kMpeg, "MPG2", 240, kVariableBitRate},
    {"wmv2.wmv", VideoContainer::kAsf, "WMV2", 240, 0},
};

TEST(VideoFacts, ClipsFfmpegWroteWholeAndCut) {
    for (const Clip& clip : kClips) {
        SCOPED_TRACE(clip.name);
        const Bytes file = ReadClip(clip.name);
        ASSERT_FALSE(file.empty());
        uint32_t kbps = clip.kbps;
        if (clip.container == VideoContainer::kAvi) {
            kbps = uint32_t((VideoBytesInMovi(file) * 8 / 2 + 500) / 1000);
        } else if (clip.container == VideoContainer::kAsf) {
            kbps = (AsfMaximumBitRate(file) + 500) / 1000;
        }
        ExpectFacts(Facts(file, clip.container), clip.fourcc, 320, clip.height, kbps);

        // Cut anywhere, a file gives the whole one's container and size, or nothing.
        for (size_t size = 0; size < file.size(); size += size < 600 ? 1 : file.size() / 300 + 1) {
            decode::MemorySource cut(file.data(), size);
            VideoFacts facts;
            facts.container = VideoContainer::kAvi, facts.width = 7;
            if (!decode::ReadVideoFacts(cut, facts)) {
                EXPECT_EQ(facts.container, VideoContainer::kNone) << size;
                EXPECT_EQ(facts.width, 0u) << size;
            } else {
                EXPECT_EQ(facts.container, clip.container) << size;
                EXPECT_TRUE(facts.width == 320 || facts.width == 0) << size;
                EXPECT_TRUE(facts.height == clip.height || facts.height == 0) << size;
            }
        }
    }
}

TEST(VideoFacts, Garbage) {
    VideoFacts facts;
    Bytes noise(1 << 16);
    uint32_t state = 12345;
    for (uint8_t& b : noise) b = uint8_t((state = state * 1103515245 + 12345) >> 16);
    EXPECT_FALSE(Read(noise, facts));
    EXPECT_FALSE(Read({}, facts));
    // A pack header, then zeros: no sequence header anywhere.
    EXPECT_FALSE(Read(Cat({{0, 0, 1, 0xBA, 0x21}, Bytes(100000)}), facts));
}

}  // namespace
