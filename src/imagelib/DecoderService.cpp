#include "imagelib/DecoderService.h"

#include "base/Handles.h"
#include "imagelib/DecoderProtocol.h"
#include "imagelib/SharedSection.h"

#include <cstring>
#include <string>

namespace imagelib {
namespace {

namespace protocol = decoder_protocol;

// A fault nobody handled: end at once. Without this, Windows would show its error report and
// Wine would start its debugger, and the caller would wait for its timeout instead of seeing
// the pipe break.
LONG WINAPI EndOnUnhandledException(EXCEPTION_POINTERS* info) {
    const DWORD code = info && info->ExceptionRecord ? info->ExceptionRecord->ExceptionCode : 3;
    ::TerminateProcess(::GetCurrentProcess(), code);
    return EXCEPTION_EXECUTE_HANDLER;
}

bool ReadExactly(HANDLE pipe, void* data, DWORD size) {
    auto* p = static_cast<uint8_t*>(data);
    while (size > 0) {
        DWORD done = 0;
        if (!::ReadFile(pipe, p, size, &done, nullptr) || done == 0) return false;
        p += done;
        size -= done;
    }
    return true;
}

bool WriteExactly(HANDLE pipe, const void* data, DWORD size) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
        DWORD done = 0;
        if (!::WriteFile(pipe, p, size, &done, nullptr) || done == 0) return false;
        p += done;
        size -= done;
    }
    return true;
}

void SetReason(protocol::Reply& reply, const char* reason) {
    std::strncpy(reply.reason, reason, sizeof reply.reason - 1);
}

// The decoded pixels into a new section; the reply names it. `section` keeps it open until the
// caller has had the chance to duplicate it, that is until the next request.
bool Publish(const DecodedImage& image, protocol::Reply& reply, win::UniqueHandle& section) {
    const uint64_t bytes = image.pixels.bytes.size();
    section = SectionWithCopy(image.pixels.bytes.data(), image.pixels.bytes.size());
    if (!section) return false;
    reply.decoded = 1;
    reply.type = image.type;
    reply.width = image.width;
    reply.height = image.height;
    reply.bitsPerPixel = image.bitsPerPixel;
    reply.pixelWidth = image.pixels.width;
    reply.pixelHeight = image.pixels.height;
    reply.channels = image.pixels.channels;
    reply.stride = image.pixels.stride;
    reply.section = reinterpret_cast<uintptr_t>(section.Get());
    reply.bytes = bytes;
    return true;
}

// The picture of a memory request: the section the caller duplicated into this process, read
// and closed here.
const char* DecodeSection(const protocol::RequestHeader& request, const std::wstring& name,
                          DecodeMemoryFunction decodeMemory, DecodedImage& image) {
    const win::UniqueHandle data(
        reinterpret_cast<HANDLE>(static_cast<uintptr_t>(request.dataSection)));
    if (request.dataBytes > SIZE_MAX) return "Out of memory";
    const SectionView view(data.Get(), request.dataBytes);
    if (!view.Data()) return "Out of memory";
    return decodeMemory(name.c_str(), view.Data(), static_cast<size_t>(request.dataBytes), image);
}

int Serve(HANDLE pipe, const DecoderFunctions& functions) {
    win::UniqueHandle section;
    std::wstring path;
    for (;;) {
        protocol::RequestHeader request;
        if (!ReadExactly(pipe, &request, sizeof request)) return 0;  // the caller is done
        if (request.magic != protocol::kRequestMagic || request.pathChars == 0 ||
            request.pathChars > protocol::kMaxPathChars) {
            return 2;
        }
        path.assign(request.pathChars, L'\0');
        if (!ReadExactly(pipe, path.data(), request.pathChars * sizeof(wchar_t))) return 0;
        section.Reset();  // the caller has taken the previous picture, or given up on it

        protocol::Reply reply;
        DecodedImage image;
        const char* failure;
        if (request.kind == protocol::kKindVideoFrame) {
            failure = functions.decodeVideoFrame(path.c_str(), image);
        } else if (request.dataBytes) {
            failure = DecodeSection(request, path, functions.decodeMemory, image);
        } else {
            failure = functions.decode(path.c_str(), image);
        }
        if (failure) {
            SetReason(reply, failure);
        } else if (!Publish(image, reply, section)) {
            reply = protocol::Reply();
            SetReason(reply, "Out of memory");
        }
        if (!WriteExactly(pipe, &reply, sizeof reply)) return 0;
    }
}

}  // namespace

const char* DecodeMemoryWithWic(const wchar_t*, const uint8_t* data, size_t size,
                                DecodedImage& out) {
    return DecodeImageMemory(data, size, out);
}

int ServeDecoder(const wchar_t* pipeName, const DecoderFunctions& functions) {
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    ::SetUnhandledExceptionFilter(EndOnUnhandledException);
    win::UniqueHandle pipe(::CreateFileW(pipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                         OPEN_EXISTING, 0, nullptr));
    if (!pipe) return 2;
    if (FAILED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 2;
    int result;
    {
        const ThreadImaging imaging;  // released before COM is uninitialised
        result = Serve(pipe.Get(), functions);
    }
    ::CoUninitialize();
    return result;
}

}  // namespace imagelib
