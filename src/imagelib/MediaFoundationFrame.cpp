// A video frame through Media Foundation's Source Reader.
#include "imagelib/Video.h"

#include "base/Win.h"

#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <mfreadwrite.h>
#include <propvarutil.h>
#include <wrl/client.h>

#include <algorithm>
#include <cstring>
#include <mutex>

namespace imagelib {
namespace {

using Microsoft::WRL::ComPtr;

constexpr DWORD kVideo = static_cast<DWORD>(MF_SOURCE_READER_FIRST_VIDEO_STREAM);
constexpr LONGLONG kHundredNsPerSecond = 10000000;
// Samples read before giving up on one (stream ticks and format changes come without one).
constexpr int kMaxReads = 64;

// Started once for the process and left running: shutting it down while another thread's
// reader is alive would pull the platform from under it.
bool StartMediaFoundation() {
    static std::once_flag once;
    static bool started = false;
    std::call_once(once, [] { started = SUCCEEDED(::MFStartup(MF_VERSION, MFSTARTUP_LITE)); });
    return started;
}

class PropVariant {
public:
    PropVariant() { ::PropVariantInit(&value_); }
    ~PropVariant() { ::PropVariantClear(&value_); }
    PropVariant(const PropVariant&) = delete;
    PropVariant& operator=(const PropVariant&) = delete;
    PROPVARIANT* operator&() { return &value_; }
    const PROPVARIANT& Get() const { return value_; }

private:
    PROPVARIANT value_;
};

// Asks for the first output format of these the reader accepts.
bool ChooseOutput(IMFSourceReader* reader, GUID& subtype) {
    for (const GUID* candidate : {&MFVideoFormat_RGB32, &MFVideoFormat_NV12}) {
        ComPtr<IMFMediaType> type;
        if (FAILED(::MFCreateMediaType(&type))) return false;
        type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
        type->SetGUID(MF_MT_SUBTYPE, *candidate);
        if (SUCCEEDED(reader->SetCurrentMediaType(kVideo, nullptr, type.Get()))) {
            subtype = *candidate;
            return true;
        }
    }
    return false;
}

LONGLONG SeekTarget(IMFSourceReader* reader) {
    PropVariant duration;
    if (FAILED(reader->GetPresentationAttribute(static_cast<DWORD>(MF_SOURCE_READER_MEDIASOURCE),
                                                MF_PD_DURATION, &duration)) ||
        duration.Get().vt != VT_UI8) {
        return 0;
    }
    const LONGLONG tenth = static_cast<LONGLONG>(duration.Get().uhVal.QuadPart / 10);
    return std::min(tenth, 10 * kHundredNsPerSecond);
}

bool Seek(IMFSourceReader* reader, LONGLONG position) {
    PropVariant at;
    (&at)->vt = VT_I8;
    (&at)->hVal.QuadPart = position;
    return SUCCEEDED(reader->SetCurrentPosition(GUID_NULL, at.Get()));
}

ComPtr<IMFSample> ReadOneSample(IMFSourceReader* reader) {
    for (int i = 0; i < kMaxReads; ++i) {
        DWORD stream = 0, flags = 0;
        LONGLONG time = 0;
        ComPtr<IMFSample> sample;
        if (FAILED(reader->ReadSample(kVideo, 0, &stream, &flags, &time, &sample))) break;
        if (sample) return sample;
        if (flags & (MF_SOURCE_READERF_ENDOFSTREAM | MF_SOURCE_READERF_ERROR)) break;
    }
    return nullptr;
}

// The sample's pixels, laid out as the current output type says.
class LockedFrame {
public:
    explicit LockedFrame(IMFSample* sample) {
        if (FAILED(sample->ConvertToContiguousBuffer(&buffer_))) return;
        if (SUCCEEDED(buffer_.As(&buffer2d_)) && SUCCEEDED(buffer2d_->Lock2D(&data_, &pitch_))) {
            DWORD length = 0;
            buffer_->GetCurrentLength(&length);
            length_ = length;
            return;
        }
        buffer2d_.Reset();
        DWORD max = 0, length = 0;
        if (FAILED(buffer_->Lock(&data_, &max, &length))) data_ = nullptr;
        length_ = length;
    }
    ~LockedFrame() {
        if (!data_) return;
        if (buffer2d_) {
            buffer2d_->Unlock2D();
        } else {
            buffer_->Unlock();
        }
    }
    LockedFrame(const LockedFrame&) = delete;
    LockedFrame& operator=(const LockedFrame&) = delete;

    const uint8_t* Data() const { return data_; }
    size_t Length() const { return length_; }
    // The pitch Lock2D gave (negative for bottom-up rows), or 0 for a plain buffer.
    LONG Pitch() const { return buffer2d_ ? pitch_ : 0; }

private:
    ComPtr<IMFMediaBuffer> buffer_;
    ComPtr<IMF2DBuffer> buffer2d_;
    BYTE* data_ = nullptr;
    LONG pitch_ = 0;
    size_t length_ = 0;
};

const char* ConvertRgb32(const LockedFrame& frame, LONG pitch, uint32_t width, uint32_t height,
                         Pixels& out) {
    const size_t rowBytes = size_t{width} * 4;
    const size_t absPitch = static_cast<size_t>(pitch < 0 ? -static_cast<int64_t>(pitch) : pitch);
    if (absPitch < rowBytes || frame.Length() < absPitch * (height - 1) + rowBytes) {
        return "The video frame is smaller than its format says";
    }
    if (!out.Allocate(width, height, 3)) return "The video frame is too large";
    for (uint32_t y = 0; y < height; ++y) {
        // A negative pitch means the first row in memory is the bottom one.
        const uint8_t* src = frame.Data() + (pitch < 0 ? size_t{height - 1 - y} : y) * absPitch;
        uint8_t* dst = out.TopRow(y);
        for (uint32_t x = 0; x < width; ++x) std::memcpy(dst + 3 * x, src + 4 * x, 3);
    }
    return nullptr;
}

const char* ConvertNv12(const LockedFrame& frame, LONG pitch, uint32_t width, uint32_t height,
                        bool fullRange, Pixels& out) {
    const size_t rowBytes = (size_t{width} + 1) & ~size_t{1};
    const size_t absPitch = static_cast<size_t>(pitch < 0 ? -static_cast<int64_t>(pitch) : pitch);
    if (absPitch < rowBytes) return "The video frame is smaller than its format says";
    // Decoders pad the luma plane to a multiple of 16 rows or more; the chroma plane follows
    // the padding, and the buffer holds one and a half planes of the padded height.
    const size_t rows = frame.Length() / absPitch;
    const size_t lumaRows = rows * 2 / 3;
    if (lumaRows < height || rows - lumaRows < (height + 1) / 2) {
        return "The video frame is smaller than its format says";
    }
    return Nv12ToPixels(frame.Data(), frame.Data() + lumaRows * absPitch,
                        static_cast<uint32_t>(absPitch), width, height, fullRange, out)
               ? nullptr
               : "The video frame is too large";
}

// Motion JPEG keeps JPEG's full-range YCbCr. Wine's decoders hand it on as NV12 without saying
// so, and read as the usual limited range it would come out too bright and too saturated.
bool JpegCoded(const wchar_t* path) {
    decode::VideoFacts facts;
    if (!ReadVideoFileFacts(path, facts)) return false;
    char code[4];
    for (int i = 0; i < 4; ++i) {
        const char c = static_cast<char>(facts.fourcc >> (8 * i));
        code[i] = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    }
    for (const char* jpeg : {"MJPG", "JPEG", "AVRN", "DMB1"}) {
        if (std::memcmp(code, jpeg, 4) == 0) return true;
    }
    return false;
}

}  // namespace

const char* DecodeVideoFrameWithMediaFoundation(const wchar_t* path, DecodedImage& out) {
    out.pixels.Clear();
    if (!StartMediaFoundation()) return "Media Foundation is not available";
    ComPtr<IMFAttributes> attributes;
    if (FAILED(::MFCreateAttributes(&attributes, 1))) return "Out of memory";
    attributes->SetUINT32(MF_SOURCE_READER_ENABLE_VIDEO_PROCESSING, TRUE);
    ComPtr<IMFSourceReader> reader;
    if (FAILED(::MFCreateSourceReaderFromURL(path, attributes.Get(), &reader))) {
        return "The video cannot be opened";
    }
    // Only the video stream is needed; deselecting the others one by one (Wine 8 crashes on
    // MF_SOURCE_READER_ALL_STREAMS) spares decoding their samples.
    for (DWORD stream = 0; stream < 16; ++stream) {
        ComPtr<IMFMediaType> type;
        if (FAILED(reader->GetNativeMediaType(stream, 0, &type))) break;
        GUID major{};
        type->GetGUID(MF_MT_MAJOR_TYPE, &major);
        if (major != MFMediaType_Video) reader->SetStreamSelection(stream, FALSE);
    }
    GUID subtype{};
    if (!ChooseOutput(reader.Get(), subtype)) return "The video's frames cannot be converted";

    ComPtr<IMFSample> sample;
    if (const LONGLONG target = SeekTarget(reader.Get());
        target > 0 && Seek(reader.Get(), target)) {
        sample = ReadOneSample(reader.Get());
        // A file whose duration was wrong ends before the target: take its first frame.
        if (!sample && Seek(reader.Get(), 0)) sample = ReadOneSample(reader.Get());
    } else {
        sample = ReadOneSample(reader.Get());
    }
    if (!sample) return "The video has no frame to show";

    ComPtr<IMFMediaType> current;
    if (FAILED(reader->GetCurrentMediaType(kVideo, &current))) return "The video has no format";
    UINT32 width = 0, height = 0;
    if (FAILED(::MFGetAttributeSize(current.Get(), MF_MT_FRAME_SIZE, &width, &height)) ||
        width == 0 || height == 0 || width > kMaxSide || height > kMaxSide) {
        return "The video's frame size is not usable";
    }
    // The visible part of a frame padded for the decoder (1920 x 1080 coded as 1088 rows).
    MFVideoArea aperture{};
    if (SUCCEEDED(current->GetBlob(MF_MT_MINIMUM_DISPLAY_APERTURE,
                                   reinterpret_cast<UINT8*>(&aperture), sizeof aperture,
                                   nullptr)) &&
        aperture.OffsetX.value == 0 && aperture.OffsetY.value == 0 && aperture.Area.cx > 0 &&
        aperture.Area.cy > 0 && static_cast<UINT32>(aperture.Area.cx) <= width &&
        static_cast<UINT32>(aperture.Area.cy) <= height) {
        width = aperture.Area.cx;
        height = aperture.Area.cy;
    }

    const LockedFrame frame(sample.Get());
    if (!frame.Data()) return "The video frame cannot be read";
    LONG pitch = frame.Pitch();
    if (pitch == 0) {
        UINT32 stride = 0;
        pitch = SUCCEEDED(current->GetUINT32(MF_MT_DEFAULT_STRIDE, &stride))
                    ? static_cast<LONG>(stride)
                    : static_cast<LONG>(subtype == MFVideoFormat_RGB32 ? width * 4 : width);
    }
    if (subtype == MFVideoFormat_RGB32)
        return ConvertRgb32(frame, pitch, width, height, out.pixels);
    const UINT32 range =
        ::MFGetAttributeUINT32(current.Get(), MF_MT_VIDEO_NOMINAL_RANGE, MFNominalRange_Unknown);
    const bool fullRange =
        range == MFNominalRange_0_255 || (range == MFNominalRange_Unknown && JpegCoded(path));
    return ConvertNv12(frame, pitch, width, height, fullRange, out.pixels);
}

}  // namespace imagelib
