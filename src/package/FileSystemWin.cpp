#include "package/FileSystem.h"

#include "base/Handles.h"

namespace package::fs {
namespace {

FileTime FromFileTime(const FILETIME& ft) {
    return (static_cast<FileTime>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

FILETIME ToFileTime(FileTime time) {
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(time);
    ft.dwHighDateTime = static_cast<DWORD>(time >> 32);
    return ft;
}

std::wstring FolderOf(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring(L".") : path.substr(0, slash);
}

bool WriteAll(HANDLE file, const uint8_t* data, size_t size) {
    while (size > 0) {
        const DWORD chunk = static_cast<DWORD>(size > 0x40000000 ? 0x40000000 : size);
        DWORD written = 0;
        if (!::WriteFile(file, data, chunk, &written, nullptr) || written == 0) return false;
        data += written;
        size -= written;
    }
    return true;
}

}  // namespace

FileTime Now() {
    FILETIME ft;
    ::GetSystemTimeAsFileTime(&ft);
    return FromFileTime(ft);
}

FILE* OpenForReading(const std::wstring& path) {
    return ::_wfopen(path.c_str(), L"rb");
}

bool LastWriteTime(const std::wstring& path, FileTime& time) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return false;
    time = FromFileTime(data.ftLastWriteTime);
    return true;
}

void CreateFolder(const std::wstring& path) {
    ::CreateDirectoryW(path.c_str(), nullptr);
}

bool WriteFileAtomically(const std::wstring& path, const uint8_t* data, size_t size,
                         FileTime time) {
    // A unique name in the destination's folder, so the final move never crosses volumes.
    static volatile LONG counter = 0;
    const std::wstring folder = FolderOf(path);
    std::wstring temp;
    win::UniqueHandle file;
    for (int attempt = 0; attempt < 100 && !file; ++attempt) {
        wchar_t name[40];
        swprintf(name, 40, L"\\~qrt%lx-%lx.tmp", ::GetCurrentProcessId(),
                 static_cast<unsigned long>(::InterlockedIncrement(&counter)));
        temp = folder + name;
        file.Reset(::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file && ::GetLastError() != ERROR_FILE_EXISTS) return false;
    }
    if (!file) return false;

    const FILETIME ft = ToFileTime(time);
    const bool written =
        WriteAll(file.Get(), data, size) && ::SetFileTime(file.Get(), nullptr, nullptr, &ft);
    file.Reset();
    if (!written || !::MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        ::DeleteFileW(temp.c_str());
        return false;
    }
    return true;
}

bool Seek(FILE* stream, uint64_t position) {
    return position <= static_cast<uint64_t>(INT64_MAX) &&
           ::_fseeki64(stream, static_cast<__int64>(position), SEEK_SET) == 0;
}

bool Tell(FILE* stream, uint64_t& position) {
    const __int64 at = ::_ftelli64(stream);
    if (at < 0) return false;
    position = static_cast<uint64_t>(at);
    return true;
}

bool Size(FILE* stream, uint64_t& size) {
    uint64_t here;
    if (!Tell(stream, here) || ::_fseeki64(stream, 0, SEEK_END) != 0) return false;
    const bool ok = Tell(stream, size);
    return Seek(stream, here) && ok;
}

}  // namespace package::fs
