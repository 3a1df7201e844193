#include "package/FileSystem.h"

#include "base/Handles.h"

#include "base/Utf.h"

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

// Plain words for the errors a user meets; the system's own text for the rest.
std::string Words(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
            return "no such file";
        case ERROR_PATH_NOT_FOUND:
            return "no such folder";
        case ERROR_ACCESS_DENIED:
            return "access denied";
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return "in use by another program";
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return "the disk is full";
        case ERROR_WRITE_PROTECT:
            return "the disk is write-protected";
        case ERROR_DIR_NOT_EMPTY:
            return "the folder is not empty";
    }
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message(text ? text : L"", text ? length : 0);
    if (text) ::LocalFree(text);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                                message.back() == L' ' || message.back() == L'.')) {
        message.pop_back();
    }
    return message.empty() ? "system error " + std::to_string(error) : text::ToUtf8(message);
}

// Why a write to `path` failed with `error`, naming what is in the way where that is the cause.
std::string WriteFailure(const std::wstring& path, DWORD error) {
    if (error == ERROR_PATH_NOT_FOUND)
        return "the folder " + text::ToUtf8(FolderOf(path)) + " does not exist";
    if (error == ERROR_ACCESS_DENIED) {
        const Entry entry = Inspect(path);
        if (entry.type == EntryType::Folder) return "a folder of that name is in the way";
        if (entry.readOnly) return "a read-only file of that name is in the way";
    }
    return Words(error);
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

bool WriteFileAtomically(const std::wstring& path, const uint8_t* data, size_t size, FileTime time,
                         std::string* why) {
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
        if (!file && ::GetLastError() != ERROR_FILE_EXISTS) {
            if (why) *why = WriteFailure(temp, ::GetLastError());
            return false;
        }
    }
    if (!file) {
        if (why) *why = "no temporary file could be made beside it";
        return false;
    }

    const FILETIME ft = ToFileTime(time);
    // The material must not arrive hidden: the attributes are cleared just before the move.
    FILE_BASIC_INFO basic = {};
    basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    const bool written =
        WriteAll(file.Get(), data, size) && ::SetFileTime(file.Get(), nullptr, nullptr, &ft) &&
        ::SetFileInformationByHandle(file.Get(), FileBasicInfo, &basic, sizeof basic);
    const bool ok = written && ::MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
    if (!ok) {
        const DWORD error = ::GetLastError();
        if (why) *why = written ? WriteFailure(path, error) : Words(error);
        // Still open: the deletion takes effect when the handle closes.
        ::DeleteFileW(temp.c_str());
    }
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

Entry Inspect(const std::wstring& path) {
    Entry entry;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return entry;
    const DWORD attributes = data.dwFileAttributes;
    entry.type = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? EntryType::Folder
                 : (attributes & (FILE_ATTRIBUTE_DEVICE | FILE_ATTRIBUTE_REPARSE_POINT))
                     ? EntryType::Other
                     : EntryType::File;
    entry.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    entry.time = FromFileTime(data.ftLastWriteTime);
    entry.readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    return entry;
}

std::string WhyUnreadable(const std::wstring& path) {
    if (Inspect(path).type == EntryType::Folder) return "a folder, not a file";
    win::UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, 0, nullptr));
    if (file) return "cannot be read";
    const DWORD error = ::GetLastError();
    return error == ERROR_PATH_NOT_FOUND ? "no such file" : Words(error);
}

bool HeldFile::Open(const std::wstring& path, bool forRemoval, std::string& why) {
    Close();
    // Held for removal, writers and deleters are kept out until the decision is made.
    const DWORD access = GENERIC_READ | (forRemoval ? DELETE : 0);
    const DWORD share =
        forRemoval ? FILE_SHARE_READ : FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const HANDLE file = ::CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        why = Words(::GetLastError());
        return false;
    }
    handle_ = reinterpret_cast<intptr_t>(file);
    path_ = path;
    return true;
}

bool HeldFile::Read(uint8_t* data, size_t size, size_t& got) {
    got = 0;
    if (handle_ == -1) return false;
    DWORD read = 0;
    const DWORD chunk = static_cast<DWORD>(size > 0x40000000 ? 0x40000000 : size);
    if (!::ReadFile(reinterpret_cast<HANDLE>(handle_), data, chunk, &read, nullptr)) return false;
    got = read;
    return true;
}

bool HeldFile::Remove(std::string& why) {
    if (handle_ == -1) {
        why = "not open";
        return false;
    }
    FILE_DISPOSITION_INFO disposition = {};
    disposition.DeleteFile = TRUE;
    if (!::SetFileInformationByHandle(reinterpret_cast<HANDLE>(handle_), FileDispositionInfo,
                                      &disposition, sizeof disposition)) {
        const DWORD error = ::GetLastError();
        why =
            (error == ERROR_ACCESS_DENIED && Inspect(path_).readOnly) ? "read-only" : Words(error);
        return false;
    }
    Close();  // the file goes with the handle
    return true;
}

void HeldFile::Close() {
    if (handle_ != -1) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
    handle_ = -1;
}

bool RemoveEmptyFolder(const std::wstring& path) {
    // A junction or link is left alone: removing it would not remove an empty folder.
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        return false;
    }
    return ::RemoveDirectoryW(path.c_str()) != 0;
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
