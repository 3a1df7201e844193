#include "cache/CacheFile.h"

#include <algorithm>
#include <atomic>

namespace {

std::atomic<bool> g_failWrites{false};

}  // namespace

void FailCacheWrites(bool fail) {
    g_failWrites = fail;
}

HANDLE OpenCacheFile(const wchar_t* path, bool writable) {
    if (!path || !*path) return INVALID_HANDLE_VALUE;
    const DWORD access = writable ? (GENERIC_READ | GENERIC_WRITE) : GENERIC_READ;
    return ::CreateFileW(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_HIDDEN, nullptr);
}

DWORD ReadBytes(HANDLE file, void* buffer, DWORD count, DWORD* bytesRead) {
    if (count == 0) return 0;
    DWORD read = 0;
    ::SetLastError(0);
    ::ReadFile(file, buffer, count, &read, nullptr);
    const DWORD error = ::GetLastError();
    *bytesRead = read;
    return error;
}

bool WriteBytes(HANDLE file, const void* buffer, DWORD count) {
    if (g_failWrites) return false;
    DWORD written = 0;
    return ::WriteFile(file, buffer, count, &written, nullptr) && written == count;
}

void DiscardCacheFile(const wchar_t* path) {
    ::SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileW(path);
}

uint64_t CacheFileLength(HANDLE file) {
    LARGE_INTEGER size;
    return ::GetFileSizeEx(file, &size) ? static_cast<uint64_t>(size.QuadPart) : 0;
}

bool SeekCacheFile(HANDLE file, int64_t offset) {
    LARGE_INTEGER to;
    to.QuadPart = offset;
    return ::SetFilePointerEx(file, to, nullptr, FILE_BEGIN) != 0;
}

std::vector<uint8_t> ReadWholeCacheFile(HANDLE file, size_t limit) {
    std::vector<uint8_t> bytes;
    if (file == INVALID_HANDLE_VALUE || !SeekCacheFile(file, 0)) return bytes;
    const uint64_t length = CacheFileLength(file);
    bytes.resize(static_cast<size_t>(length < limit ? length : limit));
    DWORD read = 0;
    size_t total = 0;
    while (total < bytes.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - total, 1 << 20));
        ReadBytes(file, bytes.data() + total, chunk, &read);
        if (read == 0) break;
        total += read;
    }
    bytes.resize(total);
    return bytes;
}
