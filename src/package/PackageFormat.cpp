#include "package/PackageFormat.h"

#include "base/ByteCursor.h"

#include <zlib.h>

#include <cwctype>

namespace package {

RecordHeader ParseRecordHeader(const uint8_t (&raw)[kRecordHeaderSize]) {
    ByteCursor cursor(raw, sizeof raw);
    RecordHeader header;
    cursor.ReadU8(header.kind);
    cursor.ReadU8(header.nameLength);
    cursor.ReadU32(header.dataLength);
    return header;
}

void FormatRecordHeader(const RecordHeader& header, uint8_t (&raw)[kRecordHeaderSize]) {
    raw[0] = header.kind;
    raw[1] = header.nameLength;
    for (int i = 0; i < 4; ++i) raw[2 + i] = static_cast<uint8_t>(header.dataLength >> (8 * i));
}

const char* Describe(Problem problem) {
    switch (problem) {
        case Problem::None:
            return "ok";
        case Problem::NameOddLength:
            return "name field has an odd length";
        case Problem::NameUnterminated:
            return "name field is not terminated";
        case Problem::NameEmpty:
            return "name is empty";
        case Problem::NameAbsolute:
            return "name is an absolute path";
        case Problem::NameColon:
            return "name contains a drive or ':'";
        case Problem::NameControl:
            return "name contains a control character";
        case Problem::NameReservedChar:
            return "name contains one of < > \" | ? *";
        case Problem::NameDevice:
            return "name has a level that is a device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9)";
        case Problem::NameBadComponent:
            return "name has an empty, '.', '..' or dot/space-ended level";
        case Problem::PathTooLong:
            return "destination path is longer than 259 characters";
        case Problem::DataTooShort:
            return "data part is shorter than 4 bytes";
        case Problem::SizeUnreachable:
            return "stated size cannot come from the compressed data";
        case Problem::Truncated:
            return "record runs past the end of the file";
        case Problem::Corrupt:
            return "data does not inflate completely";
        case Problem::SizeMismatch:
            return "data inflates to a size other than the stated one";
        case Problem::OutOfMemory:
            return "member is too large to hold in memory";
        case Problem::Unwritable:
            return "destination file cannot be written";
    }
    return "unknown problem";
}

Problem DecodeName(const uint8_t* field, size_t length, std::wstring& name) {
    name.clear();
    if (length % 2 != 0) return Problem::NameOddLength;
    if (length < 2 || field[length - 1] != 0 || field[length - 2] != 0) {
        return Problem::NameUnterminated;
    }
    const size_t units = length / 2 - 1;
    name.reserve(units);
    for (size_t i = 0; i < units; ++i) {
        name += static_cast<wchar_t>(field[2 * i] | (field[2 * i + 1] << 8));
    }
    return CheckMemberPath(name);
}

namespace {

wchar_t FoldCase(wchar_t c) {
    return static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
}

// Windows takes the part before the first dot, without trailing spaces, as the device:
// "aux.png" and "nul .txt.bak" name devices, "auxiliary.png" does not.
bool IsDeviceName(std::wstring_view component) {
    std::wstring_view stem = component.substr(0, component.find(L'.'));
    while (!stem.empty() && stem.back() == L' ') stem.remove_suffix(1);
    std::wstring upper;
    for (wchar_t c : stem) upper += FoldCase(c);
    if (upper == L"CON" || upper == L"PRN" || upper == L"AUX" || upper == L"NUL") return true;
    if (upper.size() == 4 &&
        (upper.compare(0, 3, L"COM") == 0 || upper.compare(0, 3, L"LPT") == 0)) {
        // Windows also counts the superscript digits as port numbers.
        const wchar_t digit = upper[3];
        return (digit >= L'1' && digit <= L'9') || digit == L'\u00B9' || digit == L'\u00B2' ||
               digit == L'\u00B3';
    }
    return false;
}

}  // namespace

Problem CheckMemberPath(std::wstring_view name) {
    if (name.empty()) return Problem::NameEmpty;
    const auto isSeparator = [](wchar_t c) { return c == L'\\' || c == L'/'; };
    if (isSeparator(name.front())) return Problem::NameAbsolute;
    for (wchar_t c : name) {
        if (c == L':') return Problem::NameColon;
        if (c < 0x20 || c == 0x7F) return Problem::NameControl;
        if (std::wstring_view(L"<>\"|?*").find(c) != std::wstring_view::npos)
            return Problem::NameReservedChar;
    }
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = start;
        while (end < name.size() && !isSeparator(name[end])) ++end;
        const std::wstring_view component = name.substr(start, end - start);
        if (component.empty() || component == L"." || component == L".." ||
            component.back() == L'.' || component.back() == L' ') {
            return Problem::NameBadComponent;
        }
        if (IsDeviceName(component)) return Problem::NameDevice;
        start = end + 1;
    }
    return Problem::None;
}

std::wstring MemberNameKey(std::wstring_view name) {
    std::wstring key;
    key.reserve(name.size());
    for (wchar_t c : name) key += c == L'/' ? L'\\' : FoldCase(c);
    return key;
}

Problem CheckDataLengths(uint32_t dataLength, uint32_t inflatedSize) {
    if (dataLength < kSizeFieldSize) return Problem::DataTooShort;
    const uint64_t compressed = dataLength - kSizeFieldSize;
    if (inflatedSize > compressed * kMaxInflateRatio) return Problem::SizeUnreachable;
    return Problem::None;
}

Problem Inflate(const uint8_t* data, size_t size, uint32_t expected, Buffer& out) {
    if (!out.Allocate(expected)) return Problem::OutOfMemory;
    uLongf produced = expected;
    uLong consumed = static_cast<uLong>(size);
    const int rc = uncompress2(out.Data(), &produced, data, &consumed);
    if (rc != Z_OK || produced > expected) return Problem::Corrupt;
    out.Shrink(produced);
    return Problem::None;
}

}  // namespace package
