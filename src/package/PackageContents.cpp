#include "package/PackageContents.h"

#include "base/Utf.h"
#include "package/FileSystem.h"

#include <cstring>
#include <map>
#include <memory>
#include <utility>

namespace package {
namespace {

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

// The stored units of a name field up to the terminator, whatever its framing.
std::wstring RawName(const uint8_t* field, size_t length) {
    std::wstring name;
    for (size_t i = 0; i + 1 < length; i += 2) {
        const wchar_t c = static_cast<wchar_t>(field[i] | (field[i + 1] << 8));
        if (c == L'\0') break;
        name += c;
    }
    return name;
}

// Opens a package and reads its description. `error` names the file and the reason in plain
// words when it cannot be read or is not a package.
bool OpenPackage(const std::wstring& path, File& file, uint64_t& size, Listing& listing,
                 std::string& error) {
    file.reset(fs::OpenForReading(path));
    if (!file) {
        error = text::ToUtf8(path) + ": " + fs::WhyUnreadable(path);
        return false;
    }
    uint8_t fileHeader[kFileHeaderSize];
    if (std::fread(fileHeader, 1, sizeof fileHeader, file.get()) != sizeof fileHeader ||
        std::memcmp(fileHeader, kMagic, sizeof kMagic) != 0) {
        error = text::ToUtf8(path) + ": not a template package (it does not begin with \" qrv\")";
        return false;
    }
    uint8_t raw[kRecordHeaderSize];
    uint8_t field[256];
    const bool headerRead = std::fread(raw, 1, sizeof raw, file.get()) == sizeof raw;
    const RecordHeader header = headerRead ? ParseRecordHeader(raw) : RecordHeader{};
    if (!headerRead || std::fread(field, 1, header.nameLength, file.get()) != header.nameLength) {
        error = text::ToUtf8(path) + ": not a template package (it ends inside its description)";
        return false;
    }
    listing.description = RawName(field, header.nameLength);
    std::wstring decoded;
    const Problem framing = DecodeName(field, header.nameLength, decoded);
    listing.descriptionProblem =
        (framing == Problem::NameOddLength || framing == Problem::NameUnterminated) ? framing
                                                                                    : Problem::None;
    if (!fs::Size(file.get(), size)) {
        error = text::ToUtf8(path) + ": cannot be read";
        return false;
    }
    return true;
}

// Reads the record at the stream's position. False at the end of the file.
bool ReadMember(FILE* file, uint64_t fileSize, MemberInfo& member) {
    if (!fs::Tell(file, member.offset)) return false;
    uint8_t raw[kRecordHeaderSize];
    if (std::fread(raw, 1, sizeof raw, file) != sizeof raw) return false;
    member.header = ParseRecordHeader(raw);
    const uint64_t nameEnd = member.offset + kRecordHeaderSize + member.header.nameLength;
    const uint64_t recordEnd = nameEnd + member.header.dataLength;

    uint8_t field[256];
    const size_t got = std::fread(field, 1, member.header.nameLength, file);
    member.name = RawName(field, got);
    std::wstring decoded;
    member.problem = DecodeName(field, got == member.header.nameLength ? got : 0, decoded);

    uint8_t sizeField[kSizeFieldSize];
    if (member.header.dataLength >= kSizeFieldSize &&
        std::fread(sizeField, 1, sizeof sizeField, file) == sizeof sizeField) {
        member.sizeKnown = true;
        member.inflatedSize = static_cast<uint32_t>(sizeField[0]) | (sizeField[1] << 8) |
                              (sizeField[2] << 16) | (static_cast<uint32_t>(sizeField[3]) << 24);
    }
    if (recordEnd > fileSize) {
        member.problem = Problem::Truncated;
    } else if (member.problem == Problem::None) {
        member.problem = CheckDataLengths(member.header.dataLength, member.inflatedSize);
    }
    return true;
}

std::string Where(size_t index, const MemberInfo& member) {
    return "record " + std::to_string(index + 1) + " (kind " + std::to_string(member.header.kind) +
           ", \"" + text::ToUtf8(member.name) + "\" at offset " + std::to_string(member.offset) +
           "): ";
}

}  // namespace

std::string WhyNotAPackage(const std::wstring& path) {
    File file;
    uint64_t size = 0;
    Listing listing;
    std::string error;
    return OpenPackage(path, file, size, listing, error) ? std::string() : error;
}

bool ReadListing(const std::wstring& path, Listing& listing, std::string& error) {
    File file;
    uint64_t size = 0;
    listing = Listing{};
    if (!OpenPackage(path, file, size, listing, error)) return false;
    for (;;) {
        MemberInfo member;
        if (!ReadMember(file.get(), size, member)) break;
        listing.members.push_back(member);
        if (member.problem == Problem::Truncated) break;
        const uint64_t next =
            member.offset + kRecordHeaderSize + member.header.nameLength + member.header.dataLength;
        if (!fs::Seek(file.get(), next)) break;
    }
    return true;
}

bool VerifyPackage(const std::wstring& path, std::vector<std::string>& problems,
                   std::string& error) {
    File file;
    uint64_t size = 0;
    Listing listing;
    problems.clear();
    if (!OpenPackage(path, file, size, listing, error)) return false;
    if (listing.descriptionProblem != Problem::None) {
        problems.push_back(std::string("description: ") + Describe(listing.descriptionProblem));
    }

    Buffer compressed;
    Buffer content;
    std::map<std::pair<uint8_t, std::wstring>, size_t> seen;  // (kind, name key) -> index
    for (size_t index = 0;; ++index) {
        MemberInfo member;
        if (!ReadMember(file.get(), size, member)) break;
        if (member.problem == Problem::None) {
            const auto [first, added] =
                seen.try_emplace({member.header.kind, MemberNameKey(member.name)}, index);
            if (!added) {
                problems.push_back(Where(index, member) + "names the same file as record " +
                                   std::to_string(first->second + 1));
            }
        }
        if (member.problem != Problem::None) {
            problems.push_back(Where(index, member) + Describe(member.problem));
            if (member.problem == Problem::Truncated) break;
        } else {
            const size_t length = member.header.dataLength - kSizeFieldSize;
            Problem p = compressed.Allocate(length) ? Problem::None : Problem::OutOfMemory;
            if (p == Problem::None &&
                std::fread(compressed.Data(), 1, length, file.get()) != length) {
                p = Problem::Truncated;
            }
            if (p == Problem::None)
                p = Inflate(compressed.Data(), length, member.inflatedSize, content);
            if (p == Problem::None && content.Size() != member.inflatedSize) {
                problems.push_back(Where(index, member) + "data inflates to " +
                                   std::to_string(content.Size()) + " bytes, " +
                                   std::to_string(member.inflatedSize) + " stated");
            } else if (p != Problem::None) {
                problems.push_back(Where(index, member) + Describe(p));
            }
        }
        const uint64_t next =
            member.offset + kRecordHeaderSize + member.header.nameLength + member.header.dataLength;
        if (!fs::Seek(file.get(), next)) break;
    }
    return true;
}

}  // namespace package
