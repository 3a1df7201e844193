#pragma once
// The package code's only contact with the platform: opening, file times, folders and the
// atomic replacement of a destination file. Paths are wide text with backslashes as
// separators; the POSIX side maps them to UTF-8 with slashes.

#include <cstdint>
#include <cstdio>
#include <string>

namespace package::fs {

// Last-write time as a FILETIME value: 100-nanosecond intervals since 1601-01-01 UTC.
using FileTime = uint64_t;

FileTime Now();

FILE* OpenForReading(const std::wstring& path);

bool LastWriteTime(const std::wstring& path, FileTime& time);

// Creates one folder level; an existing folder or a failure is not reported.
void CreateFolder(const std::wstring& path);

// Writes `data` to a temporary file beside `path`, gives it `time` as its last-write
// time and then moves it over `path` in one step. False when the file cannot be created,
// written or moved into place; `path` is then as it was. The temporary file is marked as
// such (a leading dot on POSIX; hidden and temporary attributes on Windows) and stays
// locked by its writer until it has been moved into place.
// `why`, when given, receives the reason of a failure in plain words.
bool WriteFileAtomically(const std::wstring& path, const uint8_t* data, size_t size, FileTime time,
                         std::string* why = nullptr);

// Removes from `folder` the temporary files an interrupted WriteFileAtomically left there:
// only files whose names match its own pattern, and none that a live writer still holds.
void RemoveLeftoverTemporaries(const std::wstring& folder);

enum class EntryType { None, File, Folder, Other };

struct Entry {
    EntryType type = EntryType::None;
    uint64_t size = 0;
    FileTime time = 0;
    bool readOnly = false;
};

// What `path` names, links followed; type None when nothing is there.
Entry Inspect(const std::wstring& path);

// Why `path` cannot be opened for reading, in plain words ("no such file", "a folder, not a
// file", "access denied", ...).
std::string WhyUnreadable(const std::wstring& path);

// A file held open to compare its bytes and then, perhaps, to remove it. Held for removal,
// others may still read it but neither change, rename nor delete it until it is let go, so
// what was compared is what is removed.
class HeldFile {
public:
    HeldFile() = default;
    ~HeldFile() { Close(); }
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;

    bool Open(const std::wstring& path, bool forRemoval, std::string& why);
    // False on a read error; `got` is 0 at the end of the file.
    bool Read(uint8_t* data, size_t size, size_t& got);
    // Removes the file and lets it go; false (with `why`) when the system refuses, a read-only
    // file included.
    bool Remove(std::string& why);
    void Close();

private:
    intptr_t handle_ = -1;  // a HANDLE on Windows, a descriptor elsewhere
    std::wstring path_;
};

// Removes `path` when it is an empty folder; false otherwise.
bool RemoveEmptyFolder(const std::wstring& path);

// 64-bit positioning of a C stream.
bool Seek(FILE* stream, uint64_t position);
bool Tell(FILE* stream, uint64_t& position);
bool Size(FILE* stream, uint64_t& size);

}  // namespace package::fs
