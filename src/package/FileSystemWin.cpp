#include "package/FileSystem.h"

#include "base/Handles.h"

#include <cwchar>

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

// "~qrt" PID "-" COUNTER ".tmp", both numbers in lower-case hexadecimal.
bool IsTemporaryName(const wchar_t* name) {
    const auto hexRun = [](const wchar_t*& p) {
        const wchar_t* start = p;
        while ((*p >= L'0' && *p <= L'9') || (*p >= L'a' && *p <= L'f')) ++p;
        return p > start;
    };
    if (std::wcsncmp(name, L"~qrt", 4) != 0) return false;
    const wchar_t* p = name + 4;
    if (!hexRun(p) || *p++ != L'-' || !hexRun(p)) return false;
    return std::wcscmp(p, L".tmp") == 0;
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
        // Hidden and temporary while it is written. Others may only rename or delete it, which
        // the move below needs; a sweeper, which wants it alone, cannot open it meanwhile.
        file.Reset(::CreateFileW(temp.c_str(), GENERIC_WRITE | FILE_WRITE_ATTRIBUTES,
                                 FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY, nullptr));
        if (!file && ::GetLastError() != ERROR_FILE_EXISTS) return false;
    }
    if (!file) return false;

    const FILETIME ft = ToFileTime(time);
    // The material must not arrive hidden: the attributes are cleared just before the move.
    FILE_BASIC_INFO basic = {};
    basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    const bool ok = WriteAll(file.Get(), data, size) &&
                    ::SetFileTime(file.Get(), nullptr, nullptr, &ft) &&
                    ::SetFileInformationByHandle(file.Get(), FileBasicInfo, &basic, sizeof basic) &&
                    ::MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
    // Still open: the deletion takes effect when the handle closes.
    if (!ok) ::DeleteFileW(temp.c_str());
    return ok;
}

void RemoveLeftoverTemporaries(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    win::UniqueFindHandle find(::FindFirstFileW((folder + L"\\~qrt*.tmp").c_str(), &found));
    if (!find) return;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
            !IsTemporaryName(found.cFileName))
            continue;
        // Opening it alone fails while its writer still holds it; closing deletes it.
        win::UniqueHandle stale(::CreateFileW(
            (folder + L'\\' + found.cFileName).c_str(), DELETE, 0, nullptr, OPEN_EXISTING,
            FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    } while (::FindNextFileW(find.Get(), &found));
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
