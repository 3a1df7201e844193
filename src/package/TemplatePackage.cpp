#include "package/TemplatePackage.h"

#include "package/FileSystem.h"
#include "package/PackageHost.h"

#include "base/Utf.h"

#include <cstring>
#include <cwchar>

using namespace package;

TemplatePackage::~TemplatePackage() {
    Close();
}

int TemplatePackage::Open(const wchar_t* path, wchar_t* description) {
    Close();
    startPosition_ = 0;
    // A path that does not fit is refused: cut, it would name another file.
    if (!path || std::wcslen(path) >= std::size(path_)) return 0;
    std::wcscpy(path_, path);

    stream_ = fs::OpenForReading(path_);
    if (!stream_) return 0;

    uint8_t fileHeader[kFileHeaderSize];
    if (std::fread(fileHeader, 1, sizeof fileHeader, stream_) != sizeof fileHeader ||
        std::memcmp(fileHeader, kMagic, sizeof kMagic) != 0) {
        return 0;
    }

    // The description record: its data-length field is ignored, the next record starts
    // right after the text. A file that ends inside this record is not a package.
    uint8_t rawHeader[kRecordHeaderSize];
    if (std::fread(rawHeader, 1, sizeof rawHeader, stream_) != sizeof rawHeader) return 0;
    const RecordHeader header = ParseRecordHeader(rawHeader);
    uint8_t field[256];
    if (std::fread(field, 1, header.nameLength, stream_) != header.nameLength) return 0;
    std::memcpy(header_, rawHeader, sizeof header_);

    if (description) {
        // Up to kDescriptionChars - 1 units, always terminated, whatever the field holds.
        size_t units = 0;
        for (; units + 1 < kDescriptionChars && 2 * units + 1 < header.nameLength; ++units) {
            const wchar_t c = static_cast<wchar_t>(field[2 * units] | (field[2 * units + 1] << 8));
            if (c == L'\0') break;
            description[units] = c;
        }
        description[units] = L'\0';
    }

    if (!fs::Tell(stream_, startPosition_)) {
        startPosition_ = 0;
        return 0;
    }
    return 1;
}

int TemplatePackage::ExtractKind(int kind, const wchar_t* folder) {
    tally_ = Tally{};
    swept_.clear();
    if (!stream_ || startPosition_ == 0) return -1;  // Open did not succeed
    uint64_t fileSize;
    if (!fs::Size(stream_, fileSize) || !fs::Seek(stream_, startPosition_)) return -1;

    fs::FileTime packageTime = 0;
    fs::LastWriteTime(path_, packageTime);
    const uint8_t wanted = static_cast<uint8_t>(kind);  // compared as one byte

    Buffer compressed;
    Buffer content;
    for (uint64_t position = startPosition_;;) {
        if (std::fread(header_, 1, sizeof header_, stream_) != sizeof header_) return 1;
        const RecordHeader header = ParseRecordHeader(header_);
        const uint64_t recordEnd =
            position + kRecordHeaderSize + header.nameLength + uint64_t{header.dataLength};
        position = recordEnd;

        if (header.kind != wanted) {
            if (!fs::Seek(stream_, recordEnd)) return 1;
            continue;
        }

        uint8_t field[256];
        std::wstring name;
        const bool nameRead = std::fread(field, 1, header.nameLength, stream_) == header.nameLength;
        const Problem nameProblem = DecodeName(field, nameRead ? header.nameLength : 0, name);
        if (recordEnd > fileSize) {
            Report(name, Problem::Truncated);
            return 1;  // nothing can follow a record that runs past the end
        }
        if (nameProblem != Problem::None) {
            Report(name, nameProblem);
            if (!fs::Seek(stream_, recordEnd)) return 1;
            continue;
        }

        const std::wstring destination = std::wstring(folder) + L'\\' + name;
        if (destination.size() > kMaxPathChars) {
            Report(name, Problem::PathTooLong);
            if (!fs::Seek(stream_, recordEnd)) return 1;
            continue;
        }

        if (header.kind != kKindSample) {
            const InPlace inPlace = CompareInPlace(destination, packageTime);
            if (inPlace == InPlace::Same || inPlace == InPlace::Newer) {
                ++(inPlace == InPlace::Same ? tally_.inPlace : tally_.newer);
                if (!fs::Seek(stream_, recordEnd)) return 1;
                continue;  // in place and not older than the package
            }
        }

        for (const std::wstring& level : SubFolderLevels(name))
            fs::CreateFolder(std::wstring(folder) + L'\\' + level);
        SweepOnce(destination);

        uint8_t sizeField[kSizeFieldSize] = {};
        if (header.dataLength >= kSizeFieldSize &&
            std::fread(sizeField, 1, sizeof sizeField, stream_) != sizeof sizeField) {
            return 1;
        }
        const uint32_t inflatedSize = static_cast<uint32_t>(sizeField[0]) | (sizeField[1] << 8) |
                                      (sizeField[2] << 16) |
                                      (static_cast<uint32_t>(sizeField[3]) << 24);
        if (const Problem p = CheckDataLengths(header.dataLength, inflatedSize);
            p != Problem::None) {
            Report(name, p);
            if (!fs::Seek(stream_, recordEnd)) return 1;
            continue;
        }

        // Inflate fully in memory first: a corrupt member writes nothing and destroys nothing.
        if (!compressed.Allocate(header.dataLength - kSizeFieldSize)) {
            Report(name, Problem::OutOfMemory);
            if (!fs::Seek(stream_, recordEnd)) return 1;
            continue;
        }
        if (std::fread(compressed.Data(), 1, compressed.Size(), stream_) != compressed.Size())
            return 1;
        if (const Problem p = Inflate(compressed.Data(), compressed.Size(), inflatedSize, content);
            p != Problem::None) {
            Report(name, p);
            continue;
        }
        std::string why;
        if (!fs::WriteFileAtomically(destination, content.Data(), content.Size(), packageTime,
                                     &why)) {
            Report(name, Problem::Unwritable, why);
            return -1;
        }
        ++tally_.written;
    }
}

bool TemplatePackage::ReadMember(int kind, size_t maxBytes, Buffer& out) {
    uint64_t fileSize;
    if (!stream_ || startPosition_ == 0 || !fs::Size(stream_, fileSize) ||
        !fs::Seek(stream_, startPosition_)) {
        return false;
    }
    const uint8_t wanted = static_cast<uint8_t>(kind);  // compared as one byte
    Buffer compressed;
    Buffer candidate;
    bool found = false;
    for (uint64_t position = startPosition_;;) {
        if (std::fread(header_, 1, sizeof header_, stream_) != sizeof header_) return found;
        const RecordHeader header = ParseRecordHeader(header_);
        const uint64_t dataAt = position + kRecordHeaderSize + header.nameLength;
        const uint64_t recordEnd = dataAt + header.dataLength;
        position = recordEnd;
        if (recordEnd > fileSize) return found;  // nothing can follow a cut record
        uint8_t sizeField[kSizeFieldSize] = {};
        if (header.kind == wanted && header.dataLength >= kSizeFieldSize &&
            fs::Seek(stream_, dataAt) &&
            std::fread(sizeField, 1, sizeof sizeField, stream_) == sizeof sizeField) {
            const uint32_t inflatedSize = static_cast<uint32_t>(sizeField[0]) |
                                          (sizeField[1] << 8) | (sizeField[2] << 16) |
                                          (static_cast<uint32_t>(sizeField[3]) << 24);
            if (CheckDataLengths(header.dataLength, inflatedSize) == Problem::None &&
                inflatedSize <= maxBytes &&
                compressed.Allocate(header.dataLength - kSizeFieldSize) &&
                std::fread(compressed.Data(), 1, compressed.Size(), stream_) == compressed.Size() &&
                Inflate(compressed.Data(), compressed.Size(), inflatedSize, candidate) ==
                    Problem::None) {
                std::swap(out, candidate);
                found = true;
            }
        }
        if (!fs::Seek(stream_, recordEnd)) return found;
    }
}

int TemplatePackage::Close() {
    if (!stream_) return 1;
    const int rc = std::fclose(stream_);
    stream_ = nullptr;
    return rc == 0 ? 1 : 4;
}

void TemplatePackage::Report(const std::wstring& name, Problem problem, const std::string& why) {
    ++tally_.refused;
    if (!diagnostics_) return;
    const std::string reason = std::string(Describe(problem)) + (why.empty() ? "" : ": " + why);
    diagnostics_(L"skipped member \"" + name + L"\": " + text::FromUtf8(reason));
}

void TemplatePackage::SweepOnce(const std::wstring& destination) {
    const size_t separator = destination.find_last_of(L"\\/");
    if (separator == std::wstring::npos) return;
    const std::wstring folder = destination.substr(0, separator);
    if (swept_.insert(folder).second) fs::RemoveLeftoverTemporaries(folder);
}
