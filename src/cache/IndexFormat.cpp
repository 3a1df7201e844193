#include "cache/IndexFormat.h"

#include "base/ByteCursor.h"

namespace index_format {
namespace {

constexpr uint32_t kMaxFieldBytes = 2 * 255 + 1;  // the longest length a 256-character buffer takes

// Reads one length-prefixed text field; false (reading ends) when the length does not fit
// the buffers or runs past the end.
bool ReadTextField(ByteCursor& cursor, AnsiDecoder ansi, std::wstring& text) {
    uint32_t length = 0;
    if (!cursor.ReadU32(length) || length > kMaxFieldBytes || length > cursor.Remaining())
        return false;
    uint8_t buffer[2 * kNameChars] = {};
    cursor.ReadBytes(buffer, length);
    if (ansi) {
        text = ansi(buffer, length);
        const size_t end = text.find(L'\0');
        if (end != std::wstring::npos) text.resize(end);
        return text.size() < kNameChars;
    }
    // Whole units only: the odd last byte is the terminator's, so a name holds 255 units at most.
    text.clear();
    for (size_t i = 0; i + 1 < length; i += 2) {
        const wchar_t c = static_cast<wchar_t>(buffer[i] | (buffer[i + 1] << 8));
        if (c == L'\0') break;
        text += c;
    }
    return true;
}

}  // namespace

bool IsAnsiHeader(uint32_t header) {
    const uint8_t b1 = static_cast<uint8_t>(header >> 8);
    return (header & 0xFFFF00FFu) == (kMagic & 0xFFFF00FFu) && (b1 & 0x58) == 0x58;
}

bool IsValidHeader(uint32_t header) {
    return header == kMagic || IsAnsiHeader(header);
}

std::wstring UpperAscii(std::wstring text) {
    for (wchar_t& c : text) {
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - 32);
    }
    return text;
}

std::wstring Latin1(const uint8_t* bytes, size_t length) {
    return std::wstring(bytes, bytes + length);
}

std::vector<IndexRecord> Parse(const std::vector<uint8_t>& bytes, CacheMode mode,
                               AnsiDecoder ansi) {
    std::vector<IndexRecord> records;
    ByteCursor cursor(bytes.data(), bytes.size());
    uint32_t header = 0;
    if (!cursor.ReadU32(header)) return records;
    const AnsiDecoder names = IsAnsiHeader(header) ? (ansi ? ansi : Latin1) : nullptr;
    for (;;) {
        IndexRecord record;
        if (mode == Database && !ReadTextField(cursor, nullptr, record.category)) break;
        if (!ReadTextField(cursor, names, record.name) || !cursor.ReadI32(record.offset)) break;
        record.category = UpperAscii(record.category);
        record.name = UpperAscii(record.name);
        records.push_back(std::move(record));
    }
    return records;
}

std::vector<uint8_t> TextField(const std::wstring& text) {
    std::vector<uint8_t> field;
    const uint32_t length = static_cast<uint32_t>(2 * text.size() + 1);
    for (int i = 0; i < 4; ++i) field.push_back(static_cast<uint8_t>(length >> (8 * i)));
    for (wchar_t c : text) {
        field.push_back(static_cast<uint8_t>(c & 0xFF));
        field.push_back(static_cast<uint8_t>((c >> 8) & 0xFF));
    }
    field.push_back(0);
    return field;
}

void AppendRecord(std::vector<uint8_t>& out, CacheMode mode, const std::wstring& category,
                  const std::wstring& name, int32_t offset) {
    if (mode == Database) {
        const std::vector<uint8_t> field = TextField(category);
        out.insert(out.end(), field.begin(), field.end());
    }
    const std::vector<uint8_t> field = TextField(name);
    out.insert(out.end(), field.begin(), field.end());
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(static_cast<uint32_t>(offset) >> (8 * i)));
}

}  // namespace index_format
