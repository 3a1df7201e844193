#pragma once
// The thin file layer under the thumbnail cache: every cache file is opened, read, written
// and discarded through these functions.

#include "base/Handles.h"

#include <cstdint>
#include <vector>

// Opens the file, creating it hidden when it does not exist; shared for reading and writing.
// Returns INVALID_HANDLE_VALUE when it cannot be opened.
HANDLE OpenCacheFile(const wchar_t* path, bool writable);

// Reads up to `count` bytes at the current position. Returns 0 at once for a count of 0
// (leaving `bytesRead` untouched); otherwise stores the number read and returns the thread's
// last error code right after the read (38, ERROR_HANDLE_EOF, at the end of the file).
DWORD ReadBytes(HANDLE file, void* buffer, DWORD count, DWORD* bytesRead);

// True when all `count` bytes were written at the current position.
bool WriteBytes(HANDLE file, const void* buffer, DWORD count);

// For tests: from now on every cache write fails, as on a full disk, until called with false.
void FailCacheWrites(bool fail);

// Discards a cache file in its two steps: normal attributes (it is hidden), then delete.
void DiscardCacheFile(const wchar_t* path);

// Length of an open file; 0 when it cannot be read.
uint64_t CacheFileLength(HANDLE file);

// Positions the file pointer from the start; false when that fails.
bool SeekCacheFile(HANDLE file, int64_t offset);

// The whole file from its start, up to `limit` bytes (a longer file reads as if it ended there).
std::vector<uint8_t> ReadWholeCacheFile(HANDLE file, size_t limit);
