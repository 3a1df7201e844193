#pragma once
// Builds package files byte by byte from the format's layout, independently of the
// product's writer, so tests can also make packages that no writer would produce.

#include <zlib.h>

#include <cstdint>
#include <string>

namespace testing_support {

class PackageBytes {
public:
    // Little-endian helpers.
    static std::string U32(uint32_t v) {
        std::string s(4, '\0');
        for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(v >> (8 * i));
        return s;
    }

    // UTF-16LE units followed by one zero character.
    static std::string NameField(const std::wstring& name) {
        std::string s;
        for (wchar_t c : name) {
            s += static_cast<char>(c & 0xFF);
            s += static_cast<char>((c >> 8) & 0xFF);
        }
        s += std::string(2, '\0');
        return s;
    }

    static std::string Deflate(const std::string& content) {
        uLongf size = compressBound(static_cast<uLong>(content.size()));
        std::string out(size, '\0');
        compress2(reinterpret_cast<Bytef*>(out.data()), &size,
                  reinterpret_cast<const Bytef*>(content.data()),
                  static_cast<uLong>(content.size()), 6);
        out.resize(size);
        return out;
    }

    // A record from its parts; N and D are taken from the parts' sizes.
    static std::string Record(uint8_t kind, const std::string& nameField, const std::string& data) {
        return RecordWith(kind, static_cast<uint8_t>(nameField.size()),
                          static_cast<uint32_t>(data.size()), nameField, data);
    }

    // A record whose N and D fields say whatever the test wants.
    static std::string RecordWith(uint8_t kind, uint8_t n, uint32_t d, const std::string& nameField,
                                  const std::string& data) {
        return std::string(1, static_cast<char>(kind)) + std::string(1, static_cast<char>(n)) +
               U32(d) + nameField + data;
    }

    // A well-formed member: U followed by the zlib stream of the content.
    static std::string Member(uint8_t kind, const std::wstring& name, const std::string& content) {
        return Record(kind, NameField(name),
                      U32(static_cast<uint32_t>(content.size())) + Deflate(content));
    }

    explicit PackageBytes(const std::wstring& description = L"Test package",
                          uint32_t descriptionD = 0) {
        bytes_ = std::string(" qrv") + '\0' +
                 RecordWith(0, static_cast<uint8_t>(2 * description.size() + 2), descriptionD,
                            NameField(description), "");
    }

    PackageBytes& Add(uint8_t kind, const std::wstring& name, const std::string& content) {
        bytes_ += Member(kind, name, content);
        return *this;
    }
    PackageBytes& Append(const std::string& raw) {
        bytes_ += raw;
        return *this;
    }

    const std::string& Bytes() const { return bytes_; }

private:
    std::string bytes_;
};

}  // namespace testing_support
