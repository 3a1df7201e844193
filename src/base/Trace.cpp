#include "base/Trace.h"

#include "base/Win.h"

#include <cstdarg>
#include <mutex>

namespace {

std::mutex& SinkLock() {
    static std::mutex lock;
    return lock;
}

std::function<void(const std::wstring&)>& Sink() {
    static std::function<void(const std::wstring&)> sink;
    return sink;
}

}  // namespace

void Trace(const wchar_t* format, ...) {
    std::lock_guard<std::mutex> guard(SinkLock());
    if (!Sink()) return;
    wchar_t line[1025];  // wvsprintfW writes at most 1024 characters and the terminator
    va_list args;
    va_start(args, format);
    ::wvsprintfW(line, format, args);
    va_end(args);
    Sink()(line);
}

void SetTraceSink(std::function<void(const std::wstring& line)> sink) {
    std::lock_guard<std::mutex> guard(SinkLock());
    Sink() = std::move(sink);
}

namespace {

std::function<void(const std::wstring&)>& ErrorSink() {
    static std::function<void(const std::wstring&)> sink;
    return sink;
}

}  // namespace

void ReportError(const wchar_t* text) {
    std::lock_guard<std::mutex> guard(SinkLock());
    if (ErrorSink()) ErrorSink()(text ? text : L"");
}

void SetErrorSink(std::function<void(const std::wstring& text)> sink) {
    std::lock_guard<std::mutex> guard(SinkLock());
    ErrorSink() = std::move(sink);
}
