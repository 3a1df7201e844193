#include "imagelib/DirectDecoder.h"

#include "base/Handles.h"
#include "decode/Gif.h"
#include "decode/JpegDc.h"
#include "decode/JpegScaled.h"
#include "decode/Limits.h"
#include "decode/Png.h"
#include "decode/RawPictures.h"
#include "decode/Tiff.h"
#include "imagelib/RowCollector.h"

#include <shlwapi.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <cwctype>
#include <cwchar>
#include <vector>

namespace imagelib {
namespace {

constexpr uint32_t kTypeBmp = 1;
constexpr uint32_t kTypeGif = 2;
constexpr uint32_t kTypeJpeg = 3;
constexpr uint32_t kTypePng = 4;
constexpr uint32_t kTypeTiff = 6;
constexpr uint32_t kTypeTga = 7;
constexpr uint32_t kTypeWbmp = 11;  // the cache's code; the preview's table numbers it 10

// Buffers of the decoding thread, kept between pictures: a folder's pictures come one after
// another, and the worker that decodes them should not allocate and free megabytes for each.
// Kept only while they hold at most kRetainedBufferBytes together: one large picture (a preview
// on the user-interface thread, a poster in the strip) would otherwise keep its file and its
// pixels resident until the thread ends. Above the bound all three are released after the
// picture, so between pictures a thread holds at most kRetainedBufferBytes.
struct ThreadBuffers {
    std::vector<uint8_t> file;
    int mappedFiles = 0;  // files mapped because `file` was too small for them
    decode::DcPicture dc;
    decode::RawPicture raw;
    decode::ScaledPicture scaled;

    size_t Capacity() const {
        return file.capacity() + dc.bgr.capacity() + raw.bgra.capacity() + raw.work.capacity() +
               scaled.bgr.capacity() + scaled.work.capacity();
    }
    void Trim() {
        if (Capacity() <= kRetainedBufferBytes) return;
        std::vector<uint8_t>().swap(file);
        std::vector<uint8_t>().swap(dc.bgr);
        std::vector<uint8_t>().swap(raw.bgra);
        std::vector<uint8_t>().swap(raw.work);
        std::vector<uint8_t>().swap(scaled.bgr);
        std::vector<uint8_t>().swap(scaled.work);
    }
};
ThreadBuffers& Buffers() {
    thread_local ThreadBuffers buffers;
    return buffers;
}

// Trims the thread's buffers when a decode ends, on every way out.
class TrimOnExit {
public:
    explicit TrimOnExit(ThreadBuffers& buffers) : buffers_(buffers) {}
    ~TrimOnExit() { buffers_.Trim(); }
    TrimOnExit(const TrimOnExit&) = delete;
    TrimOnExit& operator=(const TrimOnExit&) = delete;

private:
    ThreadBuffers& buffers_;
};

// The whole file into `bytes`: the `head` already read from it, then the rest.
bool ReadWholeFile(HANDLE file, const uint8_t* head, DWORD headBytes, std::vector<uint8_t>& bytes) {
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(file, &size) || size.QuadPart < headBytes ||
        static_cast<uint64_t>(size.QuadPart) > kMaxPixelBytes) {
        return false;
    }
    bytes.resize(static_cast<size_t>(size.QuadPart));
    std::memcpy(bytes.data(), head, headBytes);
    size_t done = headBytes;
    while (done < bytes.size()) {
        DWORD read = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 30));
        if (!::ReadFile(file, bytes.data() + done, chunk, &read, nullptr) || read == 0)
            return false;
        done += read;
    }
    return true;
}

// What the first bytes say the file is; 0 when it is none of ours.
uint32_t Sniff(const uint8_t* head, size_t size, uint32_t typeHint, const wchar_t* path) {
    if (size >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF) return kTypeJpeg;
    if (size >= 2 && head[0] == 'B' && head[1] == 'M') return kTypeBmp;
    // "GIF87a" or "GIF89a": the reader checks the last two bytes.
    if (size >= 4 && head[0] == 'G' && head[1] == 'I' && head[2] == 'F' && head[3] == '8')
        return kTypeGif;
    if (size >= 4 && head[0] == 0x89 && head[1] == 'P' && head[2] == 'N' && head[3] == 'G')
        return kTypePng;
    if (size >= 4 && ((head[0] == 'I' && head[1] == 'I' && head[2] == 42 && head[3] == 0) ||
                      (head[0] == 'M' && head[1] == 'M' && head[2] == 0 && head[3] == 42)))
        return kTypeTiff;
    const wchar_t* dot = path ? std::wcsrchr(path, L'.') : nullptr;
    if (typeHint == kTypeTga || (dot && _wcsicmp(dot, L".tga") == 0)) return kTypeTga;
    // WBMP has no signature either: only a file named so is read as one.
    if (dot && _wcsicmp(dot, L".wbmp") == 0) return kTypeWbmp;
    return 0;
}

// The size a picture takes fitted into the (square) thumbnail box; never enlarged.
void FittedSize(uint32_t width, uint32_t height, uint64_t& fitWidth, uint64_t& fitHeight) {
    if (width >= height) {
        fitWidth = std::min<uint64_t>(width, kThumbnailBox);
        fitHeight = std::max<uint64_t>(1, uint64_t{height} * fitWidth / width);
    } else {
        fitHeight = std::min<uint64_t>(height, kThumbnailBox);
        fitWidth = std::max<uint64_t>(1, uint64_t{width} * fitHeight / height);
    }
}

void SetJpegFacts(const decode::JpegFacts& facts, DecodedImage& out) {
    out.type = kTypeJpeg;
    out.width = facts.width;
    out.height = facts.height;
    out.bitsPerPixel = facts.bitsPerPixel;
}

// Top-down BGR rows of width x height, with the file's facts, as a decoded image.
bool FromJpegRows(const std::vector<uint8_t>& bgr, uint32_t width, uint32_t height,
                  const decode::JpegFacts& facts, DecodedImage& out) {
    Pixels pixels;
    if (!pixels.Allocate(width, height, 3)) return false;
    const size_t rowBytes = size_t{width} * 3;
    for (uint32_t y = 0; y < height; ++y) {
        std::memcpy(pixels.TopRow(y), bgr.data() + y * rowBytes, rowBytes);
    }
    out.pixels = std::move(pixels);
    SetJpegFacts(facts, out);
    return true;
}

bool FromDc(const decode::DcPicture& dc, DecodedImage& out) {
    return FromJpegRows(dc.bgr, dc.blocksWide, dc.blocksHigh, dc, out);
}

bool FromScaled(const decode::ScaledPicture& scaled, DecodedImage& out) {
    return FromJpegRows(scaled.bgr, scaled.scaledWidth, scaled.scaledHeight, scaled, out);
}

bool DecodeFittedBytes(const uint8_t* data, size_t size, uint32_t boxWidth, uint32_t boxHeight,
                       ThreadBuffers& buffers, DecodedImage& out, bool& complete) {
    const auto choose = [boxWidth, boxHeight](uint32_t width, uint32_t height) {
        return FittedScaleShift(width, height, boxWidth, boxHeight);
    };
    if (!decode::DecodeJpegScaled(data, size, choose, buffers.scaled)) return false;
    complete = buffers.scaled.complete;
    return FromScaled(buffers.scaled, out);
}

void SetFacts(const decode::RawPicture& raw, uint32_t type, DecodedImage& out) {
    out.type = type;
    out.width = raw.width;
    out.height = raw.height;
    out.bitsPerPixel = raw.bitsPerPixel;
}

// The full picture, as WIC would give it.
bool FromRaw(const decode::RawPicture& raw, uint32_t type, DecodedImage& out) {
    RowCollector collector;
    if (!collector.Begin(raw.width, raw.height)) return false;
    const size_t rowBytes = size_t{raw.width} * 4;
    for (uint32_t y = 0; y < raw.height; ++y) {
        if (!collector.Put(y, raw.bgra.data() + y * rowBytes)) return false;
    }
    out.pixels = collector.Take();
    SetFacts(raw, type, out);
    return true;
}

// The factor by which a width x height picture is reduced for a thumbnail: each side still at
// least its size fitted into the thumbnail box.
uint32_t ReductionFactor(uint32_t width, uint32_t height) {
    uint64_t fitWidth = 0, fitHeight = 0;
    FittedSize(width, height, fitWidth, fitHeight);
    return static_cast<uint32_t>(std::min(width / fitWidth, height / fitHeight));
}

// A picture reduced by averaging each `factor` x `factor` box (the last boxes of a row or column
// may be smaller), made as its rows come, one row of boxes at a time: still larger than the
// thumbnail, which area-averages it further. Colours are averaged weighted by alpha
// (premultiplied), so transparent pixels lend no colour; plain averages are kept beside them
// for a picture whose alpha the reader finds to mean nothing (zero throughout).
class BoxReducer final : public decode::RowSink {
public:
    // Only pictures at least twice the thumbnail's size are reduced.
    bool Begin(uint32_t width, uint32_t height, bool alpha) override {
        factor_ = ReductionFactor(width, height);
        if (factor_ < 2) return false;
        width_ = width;
        alpha_ = alpha;
        const uint32_t boxesWide = (width + factor_ - 1) / factor_;
        const uint32_t boxesHigh = (height + factor_ - 1) / factor_;
        if (!plain_.Allocate(boxesWide, boxesHigh, 3)) return false;
        if (alpha && !weighted_.Allocate(boxesWide, boxesHigh, 4)) return false;
        sums_.assign(size_t{boxesWide} * kSums, 0);
        box_ = kNoBox;
        rows_ = 0;
        return true;
    }

    void Row(uint32_t y, const uint8_t* p) override {
        if (y / factor_ != box_) {
            Flush();
            box_ = y / factor_;
        }
        ++rows_;
        // A box holds up to factor x factor pixels, and the factor reaches kMaxPictureSide / 100
        // (a picture as wide as allowed and 100 times less high): 90,000 alpha-weighted samples
        // of up to 255 x 255 overflow 32 bits. One row of a box fits, for any factor allowed.
        static_assert(uint64_t{decode::kMaxPictureSide} * 255 * 255 <= UINT32_MAX);
        uint64_t* sum = sums_.data();
        for (uint32_t x = 0; x < width_; sum += kSums) {
            const uint32_t end = std::min(width_, x + factor_);
            uint32_t b = 0, g = 0, r = 0;
            if (alpha_) {
                uint32_t wb = 0, wg = 0, wr = 0, a = 0;
                for (; x < end; ++x, p += 4) {
                    b += p[0], g += p[1], r += p[2];
                    wb += p[0] * p[3], wg += p[1] * p[3], wr += p[2] * p[3], a += p[3];
                }
                sum[3] += wb, sum[4] += wg, sum[5] += wr, sum[6] += a;
            } else {
                for (; x < end; ++x, p += 4) b += p[0], g += p[1], r += p[2];
            }
            sum[0] += b, sum[1] += g, sum[2] += r;
        }
    }

    // The reduced picture once every row has come: premultiplied with alpha when `alpha` (the
    // reader's last word on it), else opaque.
    bool Finish(bool alpha, Pixels& out) {
        Flush();
        if (alpha && !alpha_) return false;
        out = std::move(alpha ? weighted_ : plain_);
        return true;
    }

private:
    static constexpr size_t kSums = 7;  // b, g, r; then b, g, r weighted by alpha, and alpha
    static constexpr uint32_t kNoBox = UINT32_MAX;

    void Flush() {
        if (box_ == kNoBox || rows_ == 0) return;
        uint8_t* plain = plain_.TopRow(box_);
        uint8_t* weighted = alpha_ ? weighted_.TopRow(box_) : nullptr;
        const uint64_t* sum = sums_.data();
        for (uint32_t x = 0; x < width_; x += factor_, sum += kSums) {
            const uint64_t count = uint64_t{std::min(width_ - x, factor_)} * rows_;
            for (int c = 0; c < 3; ++c)
                *plain++ = static_cast<uint8_t>((sum[c] + count / 2) / count);
            if (weighted) {
                // Sums of c * a: dividing by 255 * count gives the mean premultiplied colour.
                const uint64_t scale = 255 * count;
                for (int c = 3; c < 6; ++c)
                    *weighted++ = static_cast<uint8_t>((sum[c] + scale / 2) / scale);
                *weighted++ = static_cast<uint8_t>((sum[6] + count / 2) / count);
            }
        }
        std::fill(sums_.begin(), sums_.end(), uint64_t{0});
        rows_ = 0;
    }

    uint32_t factor_ = 0;
    uint32_t width_ = 0;
    bool alpha_ = false;
    Pixels plain_;
    Pixels weighted_;
    std::vector<uint64_t> sums_;  // kSums for each box of the row of boxes being summed
    uint32_t box_ = kNoBox;       // that row of boxes
    uint32_t rows_ = 0;           // the picture's rows summed into it so far
};

// A JPEG's block averages for a thumbnail, reduced further by box averages where they are at
// least twice its size: a 24 MP picture's are 750 x 500, a megabyte of fresh memory each time
// that the thumbnail would only average down again.
bool FromDcReduced(const decode::DcPicture& dc, DecodedImage& out) {
    BoxReducer reducer;
    if (!reducer.Begin(dc.blocksWide, dc.blocksHigh, false)) return FromDc(dc, out);
    std::vector<uint8_t> row(size_t{dc.blocksWide} * 4, 255);
    const uint8_t* bgr = dc.bgr.data();
    for (uint32_t y = 0; y < dc.blocksHigh; ++y) {
        for (uint32_t x = 0; x < dc.blocksWide; ++x, bgr += 3)
            std::memcpy(&row[size_t{x} * 4], bgr, 3);
        reducer.Row(y, row.data());
    }
    if (!reducer.Finish(false, out.pixels)) return false;
    SetJpegFacts(dc, out);
    return true;
}

// A raw picture into the library's storage: for a thumbnail, reduced (as it was read, when the
// reader streamed it through `reducer`) when at least twice the thumbnail's size; else whole.
bool FromRawFor(const decode::RawPicture& raw, uint32_t type, bool reduced, BoxReducer& reducer,
                DecodedImage& out) {
    if (!raw.streamed && reduced && reducer.Begin(raw.width, raw.height, raw.hasAlpha)) {
        const size_t rowBytes = size_t{raw.width} * 4;
        for (uint32_t y = 0; y < raw.height; ++y) reducer.Row(y, raw.bgra.data() + y * rowBytes);
    } else if (!raw.streamed) {
        return FromRaw(raw, type, out);
    }
    if (!reducer.Finish(raw.hasAlpha, out.pixels)) return false;
    SetFacts(raw, type, out);
    return true;
}

using RawReader = bool (*)(const uint8_t*, size_t, decode::RawPicture&);

// The reader of a format whose pixels are read whole (then reduced here); null for others.
RawReader RawReaderFor(uint32_t type) {
    switch (type) {
        case kTypeBmp:
            return decode::ReadBmp;
        case kTypeGif:
            return decode::ReadGif;
        case kTypeTga:
            return decode::ReadTga;
        case kTypeWbmp:
            return decode::ReadWbmp;
        case kTypePng:
            return decode::ReadPng;
        case kTypeTiff:
            return decode::ReadTiff;
        default:
            return nullptr;
    }
}

// How a JPEG may come: left to WIC when whole; for a thumbnail, as block averages when they
// cover it, else whole or reduced by our own decoder; or as block averages of any size (for a
// file WIC refuses).
enum class JpegUse { Never, ForThumbnail, Always };

// A picture of a known type from its bytes.
bool DecodeBytes(const uint8_t* data, size_t size, uint32_t type, bool reduced, JpegUse jpeg,
                 ThreadBuffers& buffers, DecodedImage& out) {
    if (type == kTypeJpeg) {
        if (jpeg == JpegUse::Never) return false;
        if (jpeg == JpegUse::ForThumbnail) {
            // Too small for its block averages to cover the thumbnail: decoded whole, or at the
            // scale that still covers it, by our own decoder rather than by WIC in the decoder
            // process (a tenth of the time for a 640 x 480 photograph). Decided from the frame
            // header, so that no picture is decoded twice.
            bool tooSmall = false;
            const auto choose = [&tooSmall](uint32_t width, uint32_t height) {
                uint64_t fitWidth = 0, fitHeight = 0;
                FittedSize(width, height, fitWidth, fitHeight);
                if ((width + 7) / 8 >= fitWidth && (height + 7) / 8 >= fitHeight) return -1;
                tooSmall = true;
                return FittedScaleShift(width, height, kThumbnailBox, kThumbnailBox);
            };
            if (decode::DecodeJpegScaled(data, size, choose, buffers.scaled)) {
                return FromScaled(buffers.scaled, out);
            }
            if (tooSmall) return false;
        }
        // A file cut short or damaged gives the blocks decoded before the damage and a neutral
        // grey below, as viewers show such files.
        if (!decode::DecodeJpegDc(data, size, buffers.dc)) return false;
        return reduced ? FromDcReduced(buffers.dc, out) : FromDc(buffers.dc, out);
    }
    const RawReader read = RawReaderFor(type);
    if (!read) return false;
    // For a thumbnail, the readers that can hand their rows on as they make them do, and the
    // picture is reduced as it comes, never held whole.
    BoxReducer reducer;
    buffers.raw.sink = reduced ? &reducer : nullptr;
    buffers.raw.streamed = false;
    const bool readable = read(data, size, buffers.raw);
    buffers.raw.sink = nullptr;
    return readable && FromRawFor(buffers.raw, type, reduced, reducer, out);
}

// A whole file of `size` bytes mapped for reading; empty when it cannot be.
class MappedFile {
public:
    MappedFile(HANDLE file, uint64_t size) {
        if (size == 0 || size > kMaxPixelBytes) return;
        const win::UniqueHandle mapping(
            ::CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr));
        if (!mapping) return;
        view_ = static_cast<const uint8_t*>(::MapViewOfFile(mapping.Get(), FILE_MAP_READ, 0, 0, 0));
        if (view_) size_ = static_cast<size_t>(size);
    }
    ~MappedFile() {
        if (view_) ::UnmapViewOfFile(view_);
    }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    const uint8_t* Data() const { return view_; }
    size_t Size() const { return size_; }

private:
    const uint8_t* view_ = nullptr;
    size_t size_ = 0;
};

// Whether a file's bytes may be mapped: only on a local fixed disk (or a RAM disk). Elsewhere a
// mapped page can fail to come in (a network connection drops, a card is pulled) and the
// failure would end the program; a read only fails. A drive letter's kind is asked once per
// process (it takes a millisecond here, for every picture otherwise).
bool MappableVolume(const wchar_t* path) {
    if (::PathIsUNCW(path) || path[0] == L'\0' || path[1] != L':') return false;
    const wchar_t letter = static_cast<wchar_t>(std::towupper(path[0]));
    if (letter < L'A' || letter > L'Z') return false;
    static std::atomic<uint8_t> kinds[26];  // GetDriveTypeW + 1; 0 until asked
    std::atomic<uint8_t>& known = kinds[letter - L'A'];
    uint8_t kind = known.load(std::memory_order_relaxed);
    if (kind == 0) {
        const wchar_t root[] = {letter, L':', L'\\', L'\0'};
        kind = static_cast<uint8_t>(::GetDriveTypeW(root) + 1);
        known.store(kind, std::memory_order_relaxed);
    }
    return kind == DRIVE_FIXED + 1 || kind == DRIVE_RAMDISK + 1;
}

HANDLE OpenForReading(const wchar_t* path, DWORD share) {
    return ::CreateFileW(path, GENERIC_READ, share, nullptr, OPEN_EXISTING,
                         FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
}

// Hands the file's bytes and type to `decodeBytes`, when `wanted` takes the type its signature
// (or name) gives. The bytes are read whole into the thread's buffer; but a file larger than
// the buffer, on a local disk, is mapped, opened so that no one can write to it for the few
// milliseconds of the decode: its pages come straight from the system's file cache, where
// reading it would first fault in as much fresh memory (28 ms for a 9 MB file here, against
// 2 ms mapped; a folder's first pictures come on a new thread). A file someone holds open for
// writing is read as it is at that moment. Either way the user may delete or rename the file
// meanwhile.
template <class Wanted, class DecodeBytesOf>
bool DecodeFile(const wchar_t* path, uint32_t typeHint, const Wanted& wanted,
                const DecodeBytesOf& decodeBytes) {
    if (!path || !*path) return false;
    // Reading into the buffer the thread already holds costs less than mapping (about 6 ms
    // less for 9 MB here), so a thread that goes on decoding files larger than its buffer grows
    // it after its fourth such file.
    constexpr int kMappedBeforeReading = 4;
    ThreadBuffers& buffers = Buffers();
    constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    bool mappable = buffers.mappedFiles < kMappedBeforeReading && MappableVolume(path);
    win::UniqueHandle file(
        OpenForReading(path, mappable ? FILE_SHARE_READ | FILE_SHARE_DELETE : kShareAll));
    if (!file && mappable && ::GetLastError() == ERROR_SHARING_VIOLATION) {
        file.Reset(OpenForReading(path, kShareAll));  // someone is writing it: read as it is
        mappable = false;
    }
    // A cheap look at the name and signature first: files of other formats are not read here.
    uint8_t head[4] = {};
    DWORD headBytes = 0;
    if (!file || !::ReadFile(file.Get(), head, sizeof head, &headBytes, nullptr)) return false;
    const uint32_t type = Sniff(head, headBytes, typeHint, path);
    if (type == 0 || !wanted(type)) return false;

    const TrimOnExit trim(buffers);
    LARGE_INTEGER size;
    if (mappable && ::GetFileSizeEx(file.Get(), &size) &&
        static_cast<uint64_t>(size.QuadPart) > buffers.file.capacity()) {
        const MappedFile mapped(file.Get(), static_cast<uint64_t>(size.QuadPart));
        if (mapped.Data()) {
            ++buffers.mappedFiles;
            return decodeBytes(mapped.Data(), mapped.Size(), type, buffers);
        }
    }
    if (!ReadWholeFile(file.Get(), head, headBytes, buffers.file)) return false;
    file.Reset();  // not held while decoding: the user may replace the file meanwhile
    return decodeBytes(buffers.file.data(), buffers.file.size(), type, buffers);
}

bool Decode(const wchar_t* path, uint32_t typeHint, bool reduced, JpegUse jpeg, DecodedImage& out) {
    return DecodeFile(
        path, typeHint,
        [jpeg](uint32_t type) { return type != kTypeJpeg || jpeg != JpegUse::Never; },
        [&](const uint8_t* data, size_t size, uint32_t type, ThreadBuffers& buffers) {
            return DecodeBytes(data, size, type, reduced, jpeg, buffers, out);
        });
}
}  // namespace

bool DecodeDirect(const wchar_t* path, uint32_t typeHint, bool reduced, DecodedImage& out) {
    return Decode(path, typeHint, reduced, reduced ? JpegUse::ForThumbnail : JpegUse::Never, out);
}

bool DecodeJpegBlocks(const wchar_t* path, DecodedImage& out) {
    return Decode(path, kTypeJpeg, true, JpegUse::Always, out) && out.type == kTypeJpeg;
}

bool DecodeDirectMemory(const uint8_t* data, size_t size, uint32_t typeHint, bool reduced,
                        DecodedImage& out) {
    if (!data) return false;
    const uint32_t type = Sniff(data, size, typeHint, nullptr);
    if (type == 0) return false;
    ThreadBuffers& buffers = Buffers();
    const TrimOnExit trim(buffers);
    return DecodeBytes(data, size, type, reduced, reduced ? JpegUse::ForThumbnail : JpegUse::Never,
                       buffers, out);
}

int FittedScaleShift(uint32_t width, uint32_t height, uint32_t boxWidth, uint32_t boxHeight) {
    if (width == 0 || height == 0 || boxWidth == 0 || boxHeight == 0) return 0;
    const uint64_t w = width, h = height, bw = boxWidth, bh = boxHeight;
    // The dialog truncates the side that does not touch the box, in floating point; truncated
    // here in exact arithmetic, that is never less.
    uint64_t needWidth = bw, needHeight = bh;
    if (w * bh > bw * h) {
        needHeight = bw * h / w;  // wider than the box: touches its sides
    } else if (w * bh < bw * h) {
        needWidth = bh * w / h;  // narrower: touches its top and bottom
    }
    int shift = 0;
    while (shift < 3 && ((w + (2u << shift) - 1) >> (shift + 1)) >= needWidth &&
           ((h + (2u << shift) - 1) >> (shift + 1)) >= needHeight) {
        ++shift;
    }
    return shift;
}

bool DecodeJpegFitted(const wchar_t* path, uint32_t boxWidth, uint32_t boxHeight, DecodedImage& out,
                      bool& complete) {
    return DecodeFile(
        path, kTypeJpeg, [](uint32_t type) { return type == kTypeJpeg; },
        [&](const uint8_t* data, size_t size, uint32_t, ThreadBuffers& buffers) {
            return DecodeFittedBytes(data, size, boxWidth, boxHeight, buffers, out, complete);
        });
}

bool DecodeJpegFittedMemory(const uint8_t* data, size_t size, uint32_t boxWidth, uint32_t boxHeight,
                            DecodedImage& out, bool& complete) {
    if (!data || Sniff(data, size, 0, nullptr) != kTypeJpeg) return false;
    ThreadBuffers& buffers = Buffers();
    const TrimOnExit trim(buffers);
    return DecodeFittedBytes(data, size, boxWidth, boxHeight, buffers, out, complete);
}

size_t RetainedBufferBytes() {
    return Buffers().Capacity();
}

}  // namespace imagelib
