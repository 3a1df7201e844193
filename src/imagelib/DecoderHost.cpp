#include "imagelib/DecoderHost.h"

#include "base/Handles.h"
#include "imagelib/DecoderProtocol.h"
#include "imagelib/SharedSection.h"
#include "imagelib/Video.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <tuple>
#include <vector>

namespace imagelib {
namespace {

namespace protocol = decoder_protocol;

constexpr uint32_t kDefaultTimeoutMs = 20000;  // a 24 MP TIFF through WIC takes a few seconds
constexpr uint32_t kStartTimeoutMs = 20000;    // a cold Wine start of the decoder is slow
// A video frame takes well under a second where its decoders are installed; platform decoders
// that stall (a reader waiting for a plug-in that is not there) are given up on sooner than a
// slow picture, since a folder of such videos would hold up every thumbnail behind them.
constexpr uint32_t kVideoTimeoutMs = 10000;
constexpr size_t kIdleDecoders = 4;

std::wstring DefaultProgram() {
    std::wstring exe(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, exe.data(), static_cast<DWORD>(exe.size()));
        if (n == 0) return L"";
        if (n < exe.size()) {
            exe.resize(n);
            break;
        }
        exe.resize(exe.size() * 2);
    }
    const size_t slash = exe.find_last_of(L"\\/");
    return exe.substr(0, slash == std::wstring::npos ? 0 : slash + 1) + L"GlimmerlyDecoder.exe";
}

// Decoder processes are ended with the program, also when it is ended from outside, since
// they are in a job that kills its processes once its last handle closes.
HANDLE DecoderJob() {
    static const HANDLE job = [] {
        HANDLE h = ::CreateJobObjectW(nullptr, nullptr);
        if (!h) return h;
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        ::SetInformationJobObject(h, JobObjectExtendedLimitInformation, &limits, sizeof limits);
        return h;
    }();
    return job;
}

// One decoder process and the server end of its pipe.
class DecoderProcess {
public:
    enum class Outcome { Decoded, Failed, Lost };

    static std::unique_ptr<DecoderProcess> Start(const std::wstring& program) {
        static LONG serial = 0;
        const std::wstring name = L"\\\\.\\pipe\\glimmerly-decoder-" +
                                  std::to_wstring(::GetCurrentProcessId()) + L"-" +
                                  std::to_wstring(::InterlockedIncrement(&serial));
        auto decoder = std::unique_ptr<DecoderProcess>(new DecoderProcess);
        decoder->pipe_.Reset(::CreateNamedPipeW(
            name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
            PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 1 << 16, 1 << 16, 0, nullptr));
        decoder->event_.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        if (!decoder->pipe_ || !decoder->event_) return nullptr;

        std::wstring commandLine = L"\"" + program + L"\" " + name;
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info{};
        if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                              CREATE_NO_WINDOW | CREATE_SUSPENDED, nullptr, nullptr, &startup,
                              &info)) {
            return nullptr;
        }
        decoder->process_.Reset(info.hProcess);
        const win::UniqueHandle thread(info.hThread);
        if (HANDLE job = DecoderJob()) ::AssignProcessToJobObject(job, info.hProcess);
        ::ResumeThread(info.hThread);
        if (!decoder->Connect()) {
            decoder->End();
            return nullptr;
        }
        return decoder;
    }

    ~DecoderProcess() { End(); }

    // The file at `path`, or, where `data` is given, the picture it holds (`path` names it).
    Outcome Decode(const std::wstring& path, uint32_t kind, const uint8_t* data, size_t size,
                   uint32_t timeoutMs, DecodedImage& out, const char*& reason) {
        const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
        protocol::RequestHeader request;
        request.pathChars = static_cast<uint32_t>(path.size());
        request.kind = kind;
        if (data && !ShareData(data, size, request)) {
            reason = "Out of memory";
            return Outcome::Failed;
        }
        protocol::Reply reply;
        if (!Transfer(true, &request, sizeof request, deadline) ||
            !Transfer(true, const_cast<wchar_t*>(path.data()),
                      static_cast<DWORD>(path.size() * sizeof(wchar_t)), deadline) ||
            !Transfer(false, &reply, sizeof reply, deadline) ||
            reply.magic != protocol::kReplyMagic) {
            End();
            return Outcome::Lost;
        }
        if (!reply.decoded) {
            reply.reason[sizeof reply.reason - 1] = '\0';
            reason = Remembered(reply.reason, kind);
            return Outcome::Failed;
        }
        if (!TakePixels(reply, out)) {
            reason = "Out of memory";
            return Outcome::Failed;
        }
        return Outcome::Decoded;
    }

private:
    DecoderProcess() = default;

    bool Connect() {
        OVERLAPPED overlapped{};
        overlapped.hEvent = event_.Get();
        if (::ConnectNamedPipe(pipe_.Get(), &overlapped)) return true;
        const DWORD error = ::GetLastError();
        if (error == ERROR_PIPE_CONNECTED) return true;
        if (error != ERROR_IO_PENDING) return false;
        const HANDLE waits[] = {event_.Get(), process_.Get()};
        const DWORD woke = ::WaitForMultipleObjects(2, waits, FALSE, kStartTimeoutMs);
        DWORD ignored = 0;
        if (woke != WAIT_OBJECT_0) {
            ::CancelIoEx(pipe_.Get(), &overlapped);
            ::GetOverlappedResult(pipe_.Get(), &overlapped, &ignored, TRUE);
            return false;
        }
        return ::GetOverlappedResult(pipe_.Get(), &overlapped, &ignored, FALSE) != FALSE;
    }

    // Moves `size` bytes to or from the decoder before `deadline`. A decoder that crashed
    // breaks the pipe, which ends the wait at once; one that hangs is ended at the deadline.
    bool Transfer(bool write, void* data, DWORD size, ULONGLONG deadline) {
        auto* p = static_cast<uint8_t*>(data);
        while (size > 0) {
            OVERLAPPED overlapped{};
            overlapped.hEvent = event_.Get();
            ::ResetEvent(event_.Get());
            const BOOL done = write ? ::WriteFile(pipe_.Get(), p, size, nullptr, &overlapped)
                                    : ::ReadFile(pipe_.Get(), p, size, nullptr, &overlapped);
            if (!done && ::GetLastError() != ERROR_IO_PENDING) return false;
            const ULONGLONG now = ::GetTickCount64();
            const DWORD wait = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
            DWORD moved = 0;
            if (!done && ::WaitForSingleObject(event_.Get(), wait) != WAIT_OBJECT_0) {
                ::TerminateProcess(process_.Get(), 1);
                ::CancelIoEx(pipe_.Get(), &overlapped);
                ::GetOverlappedResult(pipe_.Get(), &overlapped, &moved, TRUE);
                return false;
            }
            if (!::GetOverlappedResult(pipe_.Get(), &overlapped, &moved, FALSE) || moved == 0) {
                return false;
            }
            p += moved;
            size -= moved;
        }
        return true;
    }

    // A copy of `data` in a section that the decoder receives as its own handle (and closes).
    bool ShareData(const uint8_t* data, size_t size, protocol::RequestHeader& request) {
        const win::UniqueHandle section = SectionWithCopy(data, size);
        if (!section) return false;
        HANDLE remote = nullptr;
        if (!::DuplicateHandle(::GetCurrentProcess(), section.Get(), process_.Get(), &remote,
                               FILE_MAP_READ, FALSE, 0)) {
            return false;
        }
        request.dataSection = reinterpret_cast<uintptr_t>(remote);
        request.dataBytes = size;
        return true;
    }

    // The reply's pixels, checked: the decoder reads untrusted files and is not trusted either.
    bool TakePixels(const protocol::Reply& reply, DecodedImage& out) {
        if ((reply.channels != 3 && reply.channels != 4) ||
            !SizeAllowed(reply.pixelWidth, reply.pixelHeight, reply.channels) ||
            reply.stride != DibStride(reply.pixelWidth, reply.channels) ||
            reply.bytes != uint64_t{reply.stride} * reply.pixelHeight) {
            return false;
        }
        win::UniqueHandle section;
        if (!::DuplicateHandle(process_.Get(),
                               reinterpret_cast<HANDLE>(static_cast<uintptr_t>(reply.section)),
                               ::GetCurrentProcess(), section.Put(), FILE_MAP_READ, FALSE, 0)) {
            return false;
        }
        const SectionView view(section.Get(), reply.bytes);
        if (!view.Data()) return false;
        DecodedImage image;
        if (!image.pixels.Allocate(reply.pixelWidth, reply.pixelHeight, reply.channels)) {
            return false;
        }
        std::memcpy(image.pixels.bytes.data(), view.Data(), image.pixels.bytes.size());
        image.type = reply.type;
        image.width = reply.width;
        image.height = reply.height;
        image.bitsPerPixel = reply.bitsPerPixel;
        out = std::move(image);
        return true;
    }

    // The decoder's reason as one of ours, so that the pointer outlives the reply.
    static const char* Remembered(const char* reason, uint32_t kind) {
        if (kind == protocol::kKindVideoFrame) return "The video cannot be decoded";
        static const char* const kKnown[] = {"File not found",
                                             "Cannot open file",
                                             "Out of memory",
                                             "Unknown or unsupported image format",
                                             "Image too large",
                                             "Corrupt or truncated image",
                                             "Imaging component not available"};
        for (const char* known : kKnown) {
            if (std::strcmp(reason, known) == 0) return known;
        }
        return "Corrupt or truncated image";
    }

    void End() {
        if (process_) {
            pipe_.Reset();  // a decoder waiting for work sees the pipe break and returns
            if (::WaitForSingleObject(process_.Get(), 2000) != WAIT_OBJECT_0) {
                ::TerminateProcess(process_.Get(), 1);
            }
            process_.Reset();
        }
        pipe_.Reset();
    }

    win::UniqueHandle pipe_;
    win::UniqueHandle event_;
    win::UniqueHandle process_;
};

// A file that stopped a decoder, by its path, size and time of last change: a replaced file
// is tried again.
using FileKey = std::tuple<std::wstring, uint64_t, uint64_t>;

bool KeyOf(const std::wstring& path, FileKey& key) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return false;
    std::wstring upper = path;
    if (!upper.empty()) ::CharUpperBuffW(upper.data(), static_cast<DWORD>(upper.size()));
    key = {
        upper, uint64_t{data.nFileSizeHigh} << 32 | data.nFileSizeLow,
        uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32 | data.ftLastWriteTime.dwLowDateTime};
    return true;
}

// Everything shared between callers, under one lock that is never held while decoding.
struct Decoders {
    std::mutex lock;
    std::wstring program = DefaultProgram();
    uint32_t timeoutMs = kDefaultTimeoutMs;
    std::vector<std::unique_ptr<DecoderProcess>> idle;
    std::set<FileKey> lost;
    bool startFailed = false;  // the program is there but did not start: decode in-process
    DecoderStats stats;
};

// Never destroyed: worker threads may still decode while the program exits.
Decoders& Shared() {
    static Decoders* decoders = new Decoders;
    return *decoders;
}

}  // namespace

namespace {

// A file, or the picture `data` holds (named by `path`, whose file stands for it in the memory
// of losses), or a video file's frame, through a decoder process.
const char* DecodeThroughDecoder(const wchar_t* path, uint32_t kind, const uint8_t* data,
                                 size_t size, DecodedImage& out) {
    out = DecodedImage();
    if (path == nullptr || *path == L'\0') return "File not found";
    const std::wstring file = path;
    if (file.size() > protocol::kMaxPathChars) return "File not found";
    FileKey key;
    const bool keyed = KeyOf(file, key);

    Decoders& shared = Shared();
    std::unique_ptr<DecoderProcess> decoder;
    std::wstring program;
    uint32_t timeoutMs;
    {
        std::lock_guard<std::mutex> hold(shared.lock);
        if (keyed && shared.lost.count(key)) {
            ++shared.stats.spared;
            return kDecoderFailed;
        }
        if (!shared.idle.empty()) {
            decoder = std::move(shared.idle.back());
            shared.idle.pop_back();
        }
        program = shared.program;
        timeoutMs = shared.timeoutMs;
        if (kind == protocol::kKindVideoFrame) timeoutMs = std::min(timeoutMs, kVideoTimeoutMs);
    }
    if (!decoder) {
        // A decoder program that is there but does not start (refused by a policy, damaged,
        // or never connecting) is not tried for every picture: each try could cost the start
        // timeout. Pictures are then decoded in-process while the program runs.
        bool tryStart;
        {
            std::lock_guard<std::mutex> hold(shared.lock);
            tryStart = !shared.startFailed;
        }
        if (tryStart && ::GetFileAttributesW(program.c_str()) != INVALID_FILE_ATTRIBUTES) {
            decoder = DecoderProcess::Start(program);
            if (!decoder) {
                std::lock_guard<std::mutex> hold(shared.lock);
                if (program == shared.program) shared.startFailed = true;
                ++shared.stats.startFailures;
            }
        }
        std::lock_guard<std::mutex> hold(shared.lock);
        if (decoder) {
            ++shared.stats.started;
        } else {
            ++shared.stats.inProcess;
        }
    }
    if (!decoder) {
        if (kind == protocol::kKindVideoFrame) return DecodeVideoFrame(path, out);
        return data ? DecodeImageMemory(data, size, out) : DecodeImageFile(path, out);
    }

    const char* reason = nullptr;
    const DecoderProcess::Outcome outcome =
        decoder->Decode(file, kind, data, size, timeoutMs, out, reason);
    std::lock_guard<std::mutex> hold(shared.lock);
    if (outcome == DecoderProcess::Outcome::Lost) {
        ++shared.stats.lost;
        if (keyed) shared.lost.insert(key);
        return kDecoderFailed;
    }
    if (shared.idle.size() < kIdleDecoders && program == shared.program) {
        shared.idle.push_back(std::move(decoder));
    }
    return outcome == DecoderProcess::Outcome::Decoded ? nullptr : reason;
}

}  // namespace

const char* DecodeIsolated(const wchar_t* path, DecodedImage& out) {
    return DecodeThroughDecoder(path, protocol::kKindPicture, nullptr, 0, out);
}

const char* DecodeIsolatedVideoFrame(const wchar_t* path, DecodedImage& out) {
    return DecodeThroughDecoder(path, protocol::kKindVideoFrame, nullptr, 0, out);
}

const char* DecodeIsolatedMemory(const uint8_t* data, size_t size, const wchar_t* name,
                                 DecodedImage& out) {
    if (!data || size == 0) {
        out = DecodedImage();
        return "Unknown or unsupported image format";
    }
    return DecodeThroughDecoder(name, protocol::kKindPicture, data, size, out);
}

DecoderStats GetDecoderStats() {
    Decoders& shared = Shared();
    std::lock_guard<std::mutex> hold(shared.lock);
    return shared.stats;
}

void ConfigureDecoder(const std::wstring& program, uint32_t timeoutMs) {
    Decoders& shared = Shared();
    std::vector<std::unique_ptr<DecoderProcess>> ending;
    {
        std::lock_guard<std::mutex> hold(shared.lock);
        shared.program = program.empty() ? DefaultProgram() : program;
        shared.timeoutMs = timeoutMs ? timeoutMs : kDefaultTimeoutMs;
        ending.swap(shared.idle);
        shared.lost.clear();
        shared.startFailed = false;
    }
}

}  // namespace imagelib
