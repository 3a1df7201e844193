// A video frame through a DirectShow graph: the file's source (with whatever splitter and
// decoder DirectShow's intelligent connect puts between), a Sample Grabber that takes one
// RGB24 sample, and a Null Renderer. The graph runs without a clock, so it does not wait for
// the sample's presentation time.
#include "imagelib/Video.h"

#include "base/Win.h"

#include <dshow.h>
#include <qedit.h>
#include <wrl/client.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace imagelib {
namespace {

using Microsoft::WRL::ComPtr;

// Not in the SDK headers any more (qedit's classes are deprecated but still shipped).
constexpr CLSID kSampleGrabber = {
    0xc1f400a0, 0x3f08, 0x11d3, {0x9f, 0x0b, 0x00, 0x60, 0x08, 0x03, 0x9e, 0x37}};
constexpr CLSID kNullRenderer = {
    0xc1f400a4, 0x3f08, 0x11d3, {0x9f, 0x0b, 0x00, 0x60, 0x08, 0x03, 0x9e, 0x37}};

constexpr long kRunTimeoutMs = 10000;
constexpr REFERENCE_TIME kHundredNsPerSecond = 10000000;

// An AM_MEDIA_TYPE a filter filled: its format block and its object are the caller's.
class MediaType {
public:
    MediaType() = default;
    ~MediaType() {
        if (type_.cbFormat) ::CoTaskMemFree(type_.pbFormat);
        if (type_.pUnk) type_.pUnk->Release();
    }
    MediaType(const MediaType&) = delete;
    MediaType& operator=(const MediaType&) = delete;
    AM_MEDIA_TYPE* operator&() { return &type_; }
    const AM_MEDIA_TYPE& Get() const { return type_; }

private:
    AM_MEDIA_TYPE type_{};
};

ComPtr<IPin> FindPin(IBaseFilter* filter, PIN_DIRECTION wanted, bool unconnected) {
    ComPtr<IEnumPins> pins;
    if (FAILED(filter->EnumPins(&pins))) return nullptr;
    ComPtr<IPin> pin;
    while (pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
        PIN_DIRECTION direction{};
        if (FAILED(pin->QueryDirection(&direction)) || direction != wanted) continue;
        ComPtr<IPin> peer;
        if (unconnected && SUCCEEDED(pin->ConnectedTo(&peer))) continue;
        return pin;
    }
    return nullptr;
}

ComPtr<IBaseFilter> AddFilter(IGraphBuilder* graph, const CLSID& clsid, const wchar_t* name) {
    ComPtr<IBaseFilter> filter;
    if (FAILED(::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&filter))) ||
        FAILED(graph->AddFilter(filter.Get(), name))) {
        return nullptr;
    }
    return filter;
}

// Connects one of the source's outputs to the grabber: the first that leads to video.
bool ConnectVideo(IGraphBuilder* graph, IBaseFilter* source, IPin* grabberInput) {
    ComPtr<IEnumPins> pins;
    if (FAILED(source->EnumPins(&pins))) return false;
    ComPtr<IPin> pin;
    while (pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
        PIN_DIRECTION direction{};
        if (SUCCEEDED(pin->QueryDirection(&direction)) && direction == PINDIR_OUTPUT &&
            SUCCEEDED(graph->Connect(pin.Get(), grabberInput))) {
            return true;
        }
    }
    return false;
}

// The grabbed RGB24 sample (bottom-up DIB rows unless the height is negative) as pixels.
const char* CopyFrame(const AM_MEDIA_TYPE& type, const std::vector<uint8_t>& bytes, Pixels& out) {
    if (type.formattype != FORMAT_VideoInfo || type.cbFormat < sizeof(VIDEOINFOHEADER) ||
        !type.pbFormat) {
        return "The video's frames have no usable format";
    }
    const BITMAPINFOHEADER& header =
        reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat)->bmiHeader;
    const uint32_t width = static_cast<uint32_t>(std::max<LONG>(header.biWidth, 0));
    const bool topDown = header.biHeight < 0;
    const uint32_t height =
        static_cast<uint32_t>(topDown ? -static_cast<int64_t>(header.biHeight) : header.biHeight);
    if (width == 0 || height == 0 || width > kMaxSide || height > kMaxSide) {
        return "The video's frame size is not usable";
    }
    const size_t stride = DibStride(width, 3);
    if (bytes.size() < stride * height) return "The video frame is smaller than its format says";
    if (!out.Allocate(width, height, 3)) return "The video frame is too large";
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* src = bytes.data() + (topDown ? y : height - 1 - y) * stride;
        std::memcpy(out.TopRow(y), src, size_t{width} * 3);
    }
    return nullptr;
}

}  // namespace

const char* DecodeVideoFrameWithDirectShow(const wchar_t* path, DecodedImage& out) {
    out.pixels.Clear();
    ComPtr<IGraphBuilder> graph;
    if (FAILED(::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_PPV_ARGS(&graph)))) {
        return "DirectShow is not available";
    }
    ComPtr<IBaseFilter> source;
    if (FAILED(graph->AddSourceFilter(path, L"Source", &source)))
        return "The video cannot be opened";
    const ComPtr<IBaseFilter> grabberFilter = AddFilter(graph.Get(), kSampleGrabber, L"Grabber");
    const ComPtr<IBaseFilter> renderer = AddFilter(graph.Get(), kNullRenderer, L"Renderer");
    ComPtr<ISampleGrabber> grabber;
    if (!grabberFilter || !renderer || FAILED(grabberFilter.As(&grabber))) {
        return "DirectShow's sample grabber is not available";
    }
    AM_MEDIA_TYPE wanted{};
    wanted.majortype = MEDIATYPE_Video;
    wanted.subtype = MEDIASUBTYPE_RGB24;
    wanted.formattype = FORMAT_VideoInfo;
    grabber->SetMediaType(&wanted);
    grabber->SetOneShot(TRUE);
    grabber->SetBufferSamples(TRUE);

    const ComPtr<IPin> grabberInput = FindPin(grabberFilter.Get(), PINDIR_INPUT, true);
    const ComPtr<IPin> grabberOutput = FindPin(grabberFilter.Get(), PINDIR_OUTPUT, true);
    const ComPtr<IPin> rendererInput = FindPin(renderer.Get(), PINDIR_INPUT, true);
    if (!grabberInput || !grabberOutput || !rendererInput ||
        !ConnectVideo(graph.Get(), source.Get(), grabberInput.Get()) ||
        FAILED(graph->Connect(grabberOutput.Get(), rendererInput.Get()))) {
        return "The video has no decodable video stream";
    }

    ComPtr<IMediaFilter> filter;
    if (SUCCEEDED(graph.As(&filter))) filter->SetSyncSource(nullptr);
    ComPtr<IMediaSeeking> seeking;
    if (SUCCEEDED(graph.As(&seeking))) {
        REFERENCE_TIME duration = 0;
        if (SUCCEEDED(seeking->GetDuration(&duration)) && duration > 0) {
            REFERENCE_TIME target = std::min(duration / 10, 10 * kHundredNsPerSecond);
            seeking->SetPositions(&target, AM_SEEKING_AbsolutePositioning, nullptr,
                                  AM_SEEKING_NoPositioning);
        }
    }
    ComPtr<IMediaControl> control;
    ComPtr<IMediaEvent> events;
    // mingw-w64 declares no uuidof for IMediaEvent: asked for by its IID.
    if (FAILED(graph.As(&control)) ||
        FAILED(graph->QueryInterface(IID_IMediaEvent,
                                     reinterpret_cast<void**>(events.GetAddressOf()))) ||
        FAILED(control->Run())) {
        return "The video cannot be played";
    }
    long code = 0;
    events->WaitForCompletion(kRunTimeoutMs, &code);
    control->Stop();

    long bytes = 0;
    if (FAILED(grabber->GetCurrentBuffer(&bytes, nullptr)) || bytes <= 0) {
        return "The video has no frame to show";
    }
    std::vector<uint8_t> frame(static_cast<size_t>(bytes));
    if (FAILED(grabber->GetCurrentBuffer(&bytes, reinterpret_cast<long*>(frame.data())))) {
        return "The video frame cannot be read";
    }
    frame.resize(static_cast<size_t>(std::max(0L, bytes)));
    MediaType connected;
    if (FAILED(grabber->GetConnectedMediaType(&connected))) return "The video has no format";
    return CopyFrame(connected.Get(), frame, out.pixels);
}

}  // namespace imagelib
