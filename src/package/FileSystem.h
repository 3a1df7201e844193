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
bool WriteFileAtomically(const std::wstring& path, const uint8_t* data, size_t size, FileTime time);

// Removes from `folder` the temporary files an interrupted WriteFileAtomically left there:
// only files whose names match its own pattern, and none that a live writer still holds.
void RemoveLeftoverTemporaries(const std::wstring& folder);

// 64-bit positioning of a C stream.
bool Seek(FILE* stream, uint64_t position);
bool Tell(FILE* stream, uint64_t& position);
bool Size(FILE* stream, uint64_t& size);

}  // namespace package::fs
