#pragma once
// The ".qrt" template package layout, and the checks every reader of it applies to the
// untrusted bytes of a record before acting on them.
//
// File: " qrv" + one byte, a description record (header + name field, no data part),
// then member records: kind (1 byte), N (1 byte), D (4 bytes), N bytes of UTF-16LE name
// with its terminator, and D bytes of data: U (4 bytes) followed by one zlib stream.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

namespace package {

inline constexpr char kMagic[4] = {' ', 'q', 'r', 'v'};
inline constexpr size_t kFileHeaderSize = 5;
inline constexpr size_t kRecordHeaderSize = 6;
inline constexpr size_t kSizeFieldSize = 4;       // U, the first bytes of the data part
inline constexpr size_t kMaxNameChars = 126;      // N is one byte and counts the terminator
inline constexpr size_t kDescriptionChars = 128;  // callers' description buffers hold this many
inline constexpr size_t kMaxPathChars = 259;      // destination paths, terminator not counted

inline constexpr uint8_t kKindTemplates = 16;
inline constexpr uint8_t kKindBrushes = 21;
inline constexpr uint8_t kKindSample = 22;

// The host application's material folders, in the order an install fills them.
struct MaterialFolder {
    uint8_t kind;
    const wchar_t* name;
};
inline constexpr MaterialFolder kMaterialFolders[] = {
    {16, L"Templates"}, {17, L"Backgrounds"}, {18, L"Borders"},
    {19, L"Masks"},     {20, L"Textures"},    {21, L"Brushes"},
};

// zlib's deflate expands at most about 1032:1; anything claiming more cannot be real.
inline constexpr uint64_t kMaxInflateRatio = 1032;

struct RecordHeader {
    uint8_t kind = 0;
    uint8_t nameLength = 0;   // N
    uint32_t dataLength = 0;  // D
};

RecordHeader ParseRecordHeader(const uint8_t (&raw)[kRecordHeaderSize]);
void FormatRecordHeader(const RecordHeader& header, uint8_t (&raw)[kRecordHeaderSize]);

// Why a member is refused; None when it may be extracted.
enum class Problem {
    None,
    NameOddLength,     // N is odd
    NameUnterminated,  // the last character of the name field is not zero
    NameEmpty,
    NameAbsolute,      // begins with a separator
    NameColon,         // a drive or stream name: ':' anywhere
    NameControl,       // NUL or another control character inside the name
    NameReservedChar,  // one of < > " | ? * that Windows refuses in names
    NameDevice,        // a level named after a device (CON, AUX, COM1, ...), any extension
    NameBadComponent,  // empty, ".", "..", or ending in a dot or space
    PathTooLong,       // folder + separator + name exceeds kMaxPathChars
    DataTooShort,      // D < 4: no room for U
    SizeUnreachable,   // U larger than D - 4 bytes of zlib could ever produce
    Truncated,         // the record runs past the end of the file
    Corrupt,           // the data does not inflate completely
    SizeMismatch,      // the data inflates to a size other than U
    OutOfMemory,       // the member's buffers cannot be allocated
    Unwritable,        // the destination file cannot be created or written
};

const char* Describe(Problem problem);

// Decodes a name field: the UTF-16LE units before the terminator. Checks the field's
// framing (even length, final zero character) and the name's safety as a relative path.
Problem DecodeName(const uint8_t* field, size_t length, std::wstring& name);

// Checks a member name as a path below the extraction folder. Backslash and slash both
// separate levels. The one check for reader, writer and verifier: a name passes only if
// Windows can create it as given. Components ending in a dot or a space are refused because
// Windows strips those characters, which can turn ".. " into ".."; device names open the
// device instead of a file, whatever extension follows them.
Problem CheckMemberPath(std::wstring_view name);

// The form under which two member names denote the same file on Windows: separators
// unified, letters in one case.
std::wstring MemberNameKey(std::wstring_view name);

// Bounds that hold before any allocation: D must have room for U, and U must be
// reachable from D - 4 compressed bytes.
Problem CheckDataLengths(uint32_t dataLength, uint32_t inflatedSize);

// A heap block that reports allocation failure instead of throwing, and is not cleared:
// member sizes come from the file, so a failed allocation must be an answer, not a crash.
class Buffer {
public:
    bool Allocate(size_t size) {
        bytes_.reset(static_cast<uint8_t*>(std::malloc(size ? size : 1)));
        size_ = bytes_ ? size : 0;
        return bytes_ != nullptr;
    }
    uint8_t* Data() { return bytes_.get(); }
    const uint8_t* Data() const { return bytes_.get(); }
    size_t Size() const { return size_; }
    void Shrink(size_t size) { size_ = size < size_ ? size : size_; }

private:
    struct Free {
        void operator()(uint8_t* p) const { std::free(p); }
    };
    std::unique_ptr<uint8_t, Free> bytes_;
    size_t size_ = 0;
};

// One-shot inflation of a zlib stream into at most `expected` bytes. Returns None when the
// stream ended properly (`out` then holds what it produced, possibly fewer bytes than
// `expected`), Corrupt or OutOfMemory otherwise.
Problem Inflate(const uint8_t* data, size_t size, uint32_t expected, Buffer& out);

}  // namespace package
