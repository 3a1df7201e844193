#pragma once
// The bytes of a cache index: a 4-byte header ("TU04", or the older ANSI variant), then per
// record (Database mode: a category field first) a name field and a 32-bit record offset. A
// field is a 32-bit byte length followed by that many bytes: UTF-16LE units and one zero byte
// (ANSI bytes in the older variant). Portable, so the reader is fuzzed natively as well.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum CacheMode { Folder = 0, Database = 1 };

// One record of an index file.
struct IndexRecord {
    std::wstring category;  // Database mode only
    std::wstring name;
    int32_t offset = -1;
};

namespace index_format {

inline constexpr uint32_t kMagic = 0x34305554;  // "TU04"
// Names fit 256-character buffers with their terminator.
inline constexpr size_t kNameChars = 256;

bool IsAnsiHeader(uint32_t header);
bool IsValidHeader(uint32_t header);

// Letters a to z made upper case; every other character unchanged.
std::wstring UpperAscii(std::wstring text);

// Turns `length` bytes of the ANSI variant into text (the platform's code page on Windows).
using AnsiDecoder = std::wstring (*)(const uint8_t* bytes, size_t length);
// Each byte as the character of the same value.
std::wstring Latin1(const uint8_t* bytes, size_t length);

// The records of an index, names and categories upper-cased. Reading stops, keeping what
// came before, at a length that does not fit the 256-character buffers or runs past the end.
std::vector<IndexRecord> Parse(const std::vector<uint8_t>& bytes, CacheMode mode,
                               AnsiDecoder ansi = Latin1);

// A text field as written: the UTF-16 units and the first byte of the terminator.
std::vector<uint8_t> TextField(const std::wstring& text);
// One record as written in `mode`.
void AppendRecord(std::vector<uint8_t>& out, CacheMode mode, const std::wstring& category,
                  const std::wstring& name, int32_t offset);

}  // namespace index_format
