#include "imagelib/WicDecoder.h"

#include "imagelib/RowCollector.h"

#include "base/Win.h"

#include <wincodec.h>
#include <wrl/client.h>

#include <algorithm>
#include <vector>

// Video files are not decoded here: WIC has no video decoders, and the callers show videos
// with a placeholder. Such a file fails like any other unknown format.

namespace imagelib {
namespace {

using Microsoft::WRL::ComPtr;

// Failures that WIC does not report itself.
constexpr HRESULT kTooLarge = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0201);
constexpr HRESULT kEmptyImage = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0202);

// The SDK headers have no GUID for TGA; this is the container Wine's TGA decoder reports
// (Windows itself has no TGA decoder).
constexpr GUID kContainerFormatTga = {
    0x0c44fda1, 0xa5c5, 0x4298, {0x96, 0x85, 0x47, 0x3f, 0xc1, 0x7c, 0xd3, 0x22}};

constexpr uint32_t kTypeIco = 5;

uint32_t TypeOfContainer(const GUID& container) {
    struct Entry {
        const GUID* container;
        uint32_t type;
    };
    static const Entry kTypes[] = {
        {&GUID_ContainerFormatBmp, 1},  {&GUID_ContainerFormatGif, 2},
        {&GUID_ContainerFormatJpeg, 3}, {&GUID_ContainerFormatPng, 4},
        {&GUID_ContainerFormatIco, 5},  {&GUID_ContainerFormatTiff, 6},
        {&kContainerFormatTga, 7},
    };
    for (const Entry& e : kTypes) {
        if (IsEqualGUID(*e.container, container)) return e.type;
    }
    return 0;  // decodable, but not one of the formats the callers number
}

uint16_t BitsPerPixelOf(IWICImagingFactory* factory, const WICPixelFormatGUID& format) {
    ComPtr<IWICComponentInfo> info;
    if (FAILED(factory->CreateComponentInfo(format, &info))) return 0;
    ComPtr<IWICPixelFormatInfo> formatInfo;
    if (FAILED(info.As(&formatInfo))) return 0;
    UINT bits = 0;
    if (FAILED(formatInfo->GetBitsPerPixel(&bits))) return 0;
    return static_cast<uint16_t>(bits);
}

uint16_t BitsPerPixelOf(IWICImagingFactory* factory, IWICBitmapFrameDecode* frame) {
    WICPixelFormatGUID format{};
    if (FAILED(frame->GetPixelFormat(&format))) return 0;
    return BitsPerPixelOf(factory, format);
}

// Icons hold one picture in several sizes: take the largest, and of equal sizes the deepest.
// Every other format shows its first frame (the first page of a TIFF, the first picture of an
// animated GIF).
HRESULT PickFrame(IWICImagingFactory* factory, IWICBitmapDecoder* decoder, uint32_t type,
                  ComPtr<IWICBitmapFrameDecode>& picked) {
    HRESULT hr = decoder->GetFrame(0, &picked);
    if (FAILED(hr)) return hr;
    if (type != kTypeIco) return S_OK;
    UINT count = 0;
    hr = decoder->GetFrameCount(&count);
    if (FAILED(hr)) return hr;
    uint64_t bestArea = 0;
    uint16_t bestBits = 0;
    for (UINT i = 0; i < count; ++i) {
        ComPtr<IWICBitmapFrameDecode> frame;
        UINT width = 0;
        UINT height = 0;
        if (FAILED(decoder->GetFrame(i, &frame)) || FAILED(frame->GetSize(&width, &height))) {
            continue;  // a damaged entry does not spoil the others
        }
        const uint64_t area = uint64_t{width} * height;
        const uint16_t bits = BitsPerPixelOf(factory, frame.Get());
        if (area > bestArea || (area == bestArea && bits > bestBits)) {
            bestArea = area;
            bestBits = bits;
            picked = frame;
        }
    }
    return S_OK;
}

// Reads the frame through a converter to 32bppBGRA: Wine's converter reaches that format from
// indexed, grey and 16-bit sources, where it cannot reach 24bppBGR. The conversion runs in
// strips of a few MiB, so a large photo never exists twice at four bytes a pixel.
HRESULT ReadPixels(IWICImagingFactory* factory, IWICBitmapFrameDecode* frame, uint32_t width,
                   uint32_t height, Pixels& out) {
    ComPtr<IWICFormatConverter> converter;
    HRESULT hr = factory->CreateFormatConverter(&converter);
    if (FAILED(hr)) return hr;
    hr = converter->Initialize(frame, GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone,
                               nullptr, 0.0, WICBitmapPaletteTypeCustom);
    if (FAILED(hr)) return hr;

    RowCollector collector;
    if (!collector.Begin(width, height)) return kTooLarge;
    const uint32_t rowBytes = width * 4;
    const uint32_t stripRows = std::max<uint32_t>(1, (4u << 20) / rowBytes);
    std::vector<uint8_t> strip(size_t{stripRows} * rowBytes);
    for (uint32_t top = 0; top < height; top += stripRows) {
        const uint32_t rows = std::min(stripRows, height - top);
        const WICRect rect{0, static_cast<INT>(top), static_cast<INT>(width),
                           static_cast<INT>(rows)};
        hr = converter->CopyPixels(&rect, rowBytes, rows * rowBytes, strip.data());
        if (FAILED(hr)) return hr;
        for (uint32_t r = 0; r < rows; ++r) {
            if (!collector.Put(top + r, strip.data() + size_t{r} * rowBytes)) return kTooLarge;
        }
    }
    out = collector.Take();
    return S_OK;
}

// Everything after the file was recognised: failures here mean a damaged file.
HRESULT DecodeFrame(IWICImagingFactory* factory, IWICBitmapDecoder* decoder, DecodedImage& out) {
    GUID container{};
    HRESULT hr = decoder->GetContainerFormat(&container);
    if (FAILED(hr)) return hr;
    const uint32_t type = TypeOfContainer(container);

    ComPtr<IWICBitmapFrameDecode> frame;
    hr = PickFrame(factory, decoder, type, frame);
    if (FAILED(hr)) return hr;
    UINT width = 0;
    UINT height = 0;
    hr = frame->GetSize(&width, &height);
    if (FAILED(hr)) return hr;
    if (width == 0 || height == 0) return kEmptyImage;
    // Checked with four channels, so that widening to alpha later cannot fail on size.
    if (!SizeAllowed(width, height, 4)) return kTooLarge;

    DecodedImage result;
    result.type = type;
    result.width = width;
    result.height = height;
    result.bitsPerPixel = BitsPerPixelOf(factory, frame.Get());
    hr = ReadPixels(factory, frame.Get(), width, height, result.pixels);
    if (FAILED(hr)) return hr;
    out = std::move(result);
    return S_OK;
}

const char* OpenFailure(HRESULT hr) {
    switch (hr) {
        case HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND):
        case HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND):
        case HRESULT_FROM_WIN32(ERROR_INVALID_NAME):
        case HRESULT_FROM_WIN32(ERROR_BAD_NETPATH):
            return "File not found";
        case HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED):
        case HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION):
            return "Cannot open file";
        case E_OUTOFMEMORY:
            return "Out of memory";
        default:
            return "Unknown or unsupported image format";
    }
}

const char* FrameFailure(HRESULT hr) {
    switch (hr) {
        case kTooLarge:
            return "Image too large";
        case E_OUTOFMEMORY:
            return "Out of memory";
        default:
            return "Corrupt or truncated image";
    }
}

// The innermost ThreadImaging alive on this thread; null when there is none.
thread_local ThreadImaging* tThreadImaging = nullptr;

// The thread's factory, or a new one held by `own`; null when WIC is not available.
IWICImagingFactory* FactoryFor(ComPtr<IWICImagingFactory>& own) {
    if (IWICImagingFactory* kept = ThreadImaging::Current()) return kept;
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                IID_PPV_ARGS(&own)))) {
        return nullptr;
    }
    return own.Get();
}

}  // namespace

const char* DecodeImageFile(const wchar_t* path, DecodedImage& out) {
    out = DecodedImage();
    if (path == nullptr || *path == L'\0') return "File not found";

    ComPtr<IWICImagingFactory> own;
    IWICImagingFactory* factory = FactoryFor(own);
    if (!factory) return "Imaging component not available";

    ComPtr<IWICBitmapDecoder> decoder;
    HRESULT hr = factory->CreateDecoderFromFilename(path, nullptr, GENERIC_READ,
                                                    WICDecodeMetadataCacheOnDemand, &decoder);
    if (FAILED(hr)) return OpenFailure(hr);
    hr = DecodeFrame(factory, decoder.Get(), out);
    if (FAILED(hr)) return FrameFailure(hr);
    return nullptr;
}

const char* DecodeImageMemory(const uint8_t* data, size_t size, DecodedImage& out) {
    out = DecodedImage();
    if (data == nullptr || size == 0 || size > UINT32_MAX)
        return "Unknown or unsupported image format";
    ComPtr<IWICImagingFactory> own;
    IWICImagingFactory* factory = FactoryFor(own);
    if (!factory) return "Imaging component not available";
    ComPtr<IWICStream> stream;
    HRESULT hr = factory->CreateStream(&stream);
    if (SUCCEEDED(hr)) {
        hr = stream->InitializeFromMemory(const_cast<BYTE*>(data), static_cast<DWORD>(size));
    }
    if (FAILED(hr)) return OpenFailure(hr);
    ComPtr<IWICBitmapDecoder> decoder;
    hr = factory->CreateDecoderFromStream(stream.Get(), nullptr, WICDecodeMetadataCacheOnDemand,
                                          &decoder);
    if (FAILED(hr)) return OpenFailure(hr);
    hr = DecodeFrame(factory, decoder.Get(), out);
    if (FAILED(hr)) return FrameFailure(hr);
    return nullptr;
}

ThreadImaging::ThreadImaging() : previous_(tThreadImaging) {
    tThreadImaging = this;
}

ThreadImaging::~ThreadImaging() {
    tThreadImaging = previous_;
    if (factory_) factory_->Release();
}

IWICImagingFactory* ThreadImaging::Current() {
    ThreadImaging* scope = tThreadImaging;
    if (!scope) return nullptr;
    // A failure is tried again at the next decode, as a thread without a scope would.
    if (!scope->factory_ &&
        FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                IID_PPV_ARGS(&scope->factory_)))) {
        scope->factory_ = nullptr;
    }
    return scope->factory_;
}

}  // namespace imagelib
