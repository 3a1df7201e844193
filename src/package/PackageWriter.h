#pragma once
// Builds ".qrt" packages that TemplatePackage accepts. Refuses anything the format cannot
// hold (over-long names or description, unsafe names, members over 4 GiB) with a clear
// error instead of writing a package that would be cut short.

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace package {

class PackageWriter {
public:
    bool SetDescription(const std::wstring& description, std::string& error);

    // Compresses the content at once; members are written in the order they were added.
    // A name that Windows would take for one already added to the kind is refused.
    bool AddMember(uint8_t kind, const std::wstring& name, const uint8_t* data, size_t size,
                   std::string& error);

    // The whole package file.
    std::vector<uint8_t> Bytes() const;

    // Writes Bytes() to `path`, replacing it; `written`, when given, receives the size.
    bool Write(const std::wstring& path, std::string& error, uint64_t* written = nullptr) const;

private:
    std::wstring description_;
    std::vector<uint8_t> records_;
    std::map<std::pair<uint8_t, std::wstring>, std::wstring> names_;  // (kind, key) -> name
};

}  // namespace package
