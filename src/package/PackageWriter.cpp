#include "package/PackageWriter.h"

#include "base/Utf.h"
#include "package/FileSystem.h"
#include "package/PackageFormat.h"

#include <zlib.h>

namespace package {
namespace {

void AppendU32(std::vector<uint8_t>& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// Record header and name field; D is the data part's length.
void AppendRecordStart(std::vector<uint8_t>& out, uint8_t kind, const std::wstring& name,
                       uint32_t dataLength) {
    RecordHeader header;
    header.kind = kind;
    header.nameLength = static_cast<uint8_t>(2 * name.size() + 2);
    header.dataLength = dataLength;
    uint8_t raw[kRecordHeaderSize];
    FormatRecordHeader(header, raw);
    out.insert(out.end(), raw, raw + sizeof raw);
    for (wchar_t c : name) {
        out.push_back(static_cast<uint8_t>(c & 0xFF));
        out.push_back(static_cast<uint8_t>((c >> 8) & 0xFF));
    }
    out.push_back(0);
    out.push_back(0);
}

// Wide strings carry UTF-16 units; a wider wchar_t may hold a value that is none.
bool IsUtf16Unit(wchar_t c) {
    return (static_cast<uint32_t>(c) >> 16) == 0;
}

bool FitsName(const std::wstring& text, const char* what, std::string& error) {
    if (text.size() > kMaxNameChars) {
        error = std::string(what) + " \"" + text::ToUtf8(text) + "\" has " +
                std::to_string(text.size()) + " UTF-16 units; a package holds at most " +
                std::to_string(kMaxNameChars) + " (a character beyond U+FFFF, such as an emoji, " +
                "takes two)";
        return false;
    }
    for (wchar_t c : text) {
        if (c == L'\0' || !IsUtf16Unit(c)) {
            error = std::string(what) + " \"" + text::ToUtf8(text) + "\" cannot be stored";
            return false;
        }
    }
    return true;
}

}  // namespace

bool PackageWriter::SetDescription(const std::wstring& description, std::string& error) {
    if (!FitsName(description, "description", error)) return false;
    description_ = description;
    return true;
}

bool PackageWriter::AddMember(uint8_t kind, const std::wstring& name, const uint8_t* data,
                              size_t size, std::string& error) {
    if (!FitsName(name, "member name", error)) return false;
    if (const Problem p = CheckMemberPath(name); p != Problem::None) {
        error = "member name \"" + text::ToUtf8(name) + "\": " + Describe(p);
        return false;
    }
    const auto [known, added] = names_.try_emplace({kind, MemberNameKey(name)}, name);
    if (!added) {
        error = "member name \"" + text::ToUtf8(name) + "\" of kind " + std::to_string(kind) +
                " is the same file as \"" + text::ToUtf8(known->second) + "\", already packed";
        return false;
    }
    if (size > UINT32_MAX) {
        error = "member \"" + text::ToUtf8(name) + "\" is larger than 4 GiB";
        return false;
    }
    uLongf compressedSize = compressBound(static_cast<uLong>(size));
    std::vector<uint8_t> compressed(compressedSize);
    if (compress2(compressed.data(), &compressedSize, data, static_cast<uLong>(size),
                  Z_BEST_COMPRESSION) != Z_OK ||
        compressedSize > UINT32_MAX - kSizeFieldSize) {
        error = "member \"" + text::ToUtf8(name) + "\" cannot be compressed";
        return false;
    }
    AppendRecordStart(records_, kind, name, static_cast<uint32_t>(compressedSize + kSizeFieldSize));
    AppendU32(records_, static_cast<uint32_t>(size));
    records_.insert(records_.end(), compressed.begin(), compressed.begin() + compressedSize);
    return true;
}

std::vector<uint8_t> PackageWriter::Bytes() const {
    std::vector<uint8_t> out(kMagic, kMagic + sizeof kMagic);
    out.push_back(0);  // the byte after the magic is not interpreted
    AppendRecordStart(out, 0, description_, 0);
    out.insert(out.end(), records_.begin(), records_.end());
    return out;
}

bool PackageWriter::Write(const std::wstring& path, std::string& error, uint64_t* written) const {
    const std::vector<uint8_t> bytes = Bytes();
    std::string why;
    if (!fs::WriteFileAtomically(path, bytes.data(), bytes.size(), fs::Now(), &why)) {
        error = "cannot write " + text::ToUtf8(path) + ": " + why;
        return false;
    }
    if (written) *written = bytes.size();
    return true;
}

}  // namespace package
