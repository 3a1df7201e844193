#pragma once
// Conversions between UTF-8 and the program's wide text. Wide strings hold UTF-16 code
// units on every platform (on Linux each wchar_t carries one unit), so text read from
// packages and caches means the same in both builds.

#include <string>
#include <string_view>

namespace text {

// UTF-16 units to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string ToUtf8(std::wstring_view utf16);

// UTF-8 to UTF-16 units; a malformed sequence becomes U+FFFD.
std::wstring FromUtf8(std::string_view utf8);

// True when the bytes are well-formed UTF-8.
bool IsValidUtf8(std::string_view bytes);

}  // namespace text
