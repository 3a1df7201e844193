#include "Thumbs.h"

#include "base/ByteCursor.h"
#include "base/FullPath.h"
#include "base/Handles.h"
#include "base/Utf.h"
#include "cache/CacheFile.h"
#include "cache/ItemRecords.h"
#include "cache/ThumbCache.h"
#include "imagelib/WicDecoder.h"

#include "glimmerly/Version.h"

#include <shlwapi.h>

#include <map>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr const wchar_t* kCacheName = L"_thumbs";

const char kUsage[] =
    "usage: thumbs COMMAND ...\n"
    "  thumbs make FOLDER              build the folder's thumbnail cache as the program does;\n"
    "                                  one line per picture: cached, made or failed, a tab, the "
    "name\n"
    "  thumbs show FOLDER              the cache's two paths, then one line per index entry:\n"
    "                                  KEY OFFSET MODIFIED TYPE WIDTH HEIGHT BPP (tab-separated)\n"
    "                                  and its description on the next line\n"
    "  thumbs export FOLDER FILE OUT.bmp\n"
    "                                  the stored 100 x 100 thumbnail of FILE as a 24-bit BMP\n"
    "  thumbs --version                the version\n"
    "  thumbs --help                   this text\n";

void Print(FILE* stream, const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

std::string Utf8(const std::wstring& text) {
    return text::ToUtf8(text);
}

int Usage(FILE* err, const std::string& message) {
    Print(err, "thumbs: " + message);
    std::fputs(kUsage, err);
    return kExitUsage;
}

std::wstring Join(const std::wstring& folder, const std::wstring& name) {
    wchar_t joined[MAX_PATH];
    return ::PathCombineW(joined, folder.c_str(), name.c_str()) ? joined : L"";
}

std::string SystemMessage(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message(text ? text : L"", length);
    if (text) ::LocalFree(text);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                                message.back() == L' ' || message.back() == L'.')) {
        message.pop_back();
    }
    return message.empty() ? "error " + std::to_string(error) : Utf8(message);
}

// Why the folder's cache cannot be written; empty when it can. Both files are opened as the
// cache opens them (created when missing), so a run that cannot store anything stops before it
// starts instead of reporting every picture as failed.
std::string CacheProblem(const std::wstring& folder) {
    if (folder.size() >= MAX_PATH) return "the path is too long for a cache";
    std::wstring indexPath, dataPath;
    if (!ThumbCache::CachePaths(folder.c_str(), kCacheName, indexPath, dataPath))
        return "no cache can be placed for a folder on this kind of drive";
    for (const std::wstring& path : {indexPath, dataPath}) {
        win::UniqueHandle file(OpenCacheFile(path.c_str(), true));
        if (!file) return "cannot open " + Utf8(path) + ": " + SystemMessage(::GetLastError());
    }
    return {};
}

int Make(const std::wstring& folder, FILE* out, FILE* err) {
    WIN32_FIND_DATAW found;
    win::UniqueFindHandle search(::FindFirstFileW(Join(folder, L"*.*").c_str(), &found));
    if (!search) {
        Print(err, "thumbs: cannot list " + Utf8(folder));
        return kExitFailed;
    }
    const std::string problem = CacheProblem(folder);
    if (!problem.empty()) {
        Print(err, "thumbs: cannot cache " + Utf8(folder) + ": " + problem);
        return kExitFailed;
    }
    win::ComScope com;
    imagelib::ThreadImaging imaging;
    ThumbCache cache;
    cache.Open(folder.c_str(), kCacheName, Folder, L"");
    do {
        if (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN)) continue;
        if (!ExtensionAccepted(kDefaultImageTypes, found.cFileName)) continue;
        ThumbItem item;
        if (!MakeItemRecord(item, Join(folder, found.cFileName).c_str(), found)) {
            // The program does not list it either: its path does not fit a record.
            Print(out, "failed\t" + Utf8(found.cFileName));
            continue;
        }
        const ObtainedThumbnail got = ObtainThumbnail(cache, item, 100, 100, false);
        if (got.store) cache.AddThumbnail(item, false);
        const char* outcome = got.origin == ObtainedThumbnail::Made ? "made"
                              : got.bitmap                          ? "cached"
                                                                    : "failed";
        Print(out, std::string(outcome) + "\t" + Utf8(found.cFileName));
    } while (::FindNextFileW(search.Get(), &found));
    cache.Close();
    return kExitOk;
}

// The index as the cache would load it: later records win, listed in key order.
bool ReadIndex(const std::wstring& indexPath, std::map<std::wstring, int32_t>& entries) {
    win::UniqueHandle index(::CreateFileW(indexPath.c_str(), GENERIC_READ,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
    if (!index) return false;
    const std::vector<uint8_t> bytes = ReadWholeCacheFile(index.Get(), 64u << 20);
    ByteCursor cursor(bytes.data(), bytes.size());
    uint32_t header = 0;
    if (!cursor.ReadU32(header) || !ThumbCache::IsValidHeader(header)) return false;
    for (const IndexRecord& record : ThumbCache::ParseIndex(bytes, Folder)) {
        entries[record.category + L"|" + record.name] = record.offset;
    }
    return true;
}

// The stored record at `offset`, all of it, or nothing.
bool ReadRecord(HANDLE data, int32_t offset, std::vector<uint8_t>& record) {
    record.assign(ThumbCache::kRecordBytes, 0);
    DWORD read = 0;
    if (offset < 0 || !SeekCacheFile(data, offset)) return false;
    ReadBytes(data, record.data(), ThumbCache::kRecordBytes, &read);
    return read == ThumbCache::kRecordBytes;
}

int Show(const std::wstring& folder, FILE* out, FILE* err) {
    std::wstring indexPath, dataPath;
    if (!ThumbCache::CachePaths(folder.c_str(), kCacheName, indexPath, dataPath)) {
        Print(err, "thumbs: " + Utf8(folder) + " keeps no thumbnail cache");
        return kExitFailed;
    }
    Print(out, "index: " + Utf8(indexPath));
    Print(out, "data: " + Utf8(dataPath));
    std::map<std::wstring, int32_t> entries;
    if (!ReadIndex(indexPath, entries)) return kExitOk;  // no cache yet
    win::UniqueHandle data(::CreateFileW(dataPath.c_str(), GENERIC_READ,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                         0, nullptr));
    for (const auto& [key, offset] : entries) {
        std::vector<uint8_t> record;
        if (!data || !ReadRecord(data.Get(), offset, record)) {
            Print(out, Utf8(key) + "\t" + std::to_string(offset) + "\t-\t-\t-\t-\t-");
            Print(out, "\t(no complete record)");
            continue;
        }
        std::wstring category, name;
        ThumbCache::SplitKey(key, category, name);
        ThumbItem item;
        MakeItemRecord(item, Join(folder, name).c_str());
        ByteCursor cursor(record.data(), record.size());
        cursor.ReadU64(item.modified);
        cursor.ReadU32(item.typeCode);
        cursor.ReadU32(item.width);
        cursor.ReadU32(item.height);
        cursor.ReadU32(item.bitsPerPixel);
        ThumbCache::BuildDescription(item);
        Print(out, Utf8(key) + "\t" + std::to_string(offset) + "\t" +
                       std::to_string(item.modified) + "\t" + std::to_string(item.typeCode) + "\t" +
                       std::to_string(item.width) + "\t" + std::to_string(item.height) + "\t" +
                       std::to_string(item.bitsPerPixel));
        // The description's line breaks (CR LF, and a lone CR before the last line) become
        // spaces, so each entry keeps to two lines.
        std::wstring description = item.description;
        for (wchar_t& c : description) {
            if (c == L'\r' || c == L'\n') c = L' ';
        }
        Print(out, "\t" + Utf8(description));
    }
    return kExitOk;
}

int Export(const std::wstring& folder, const std::wstring& file, const std::wstring& bmpPath,
           FILE* err) {
    std::wstring indexPath, dataPath;
    std::map<std::wstring, int32_t> entries;
    if (!ThumbCache::CachePaths(folder.c_str(), kCacheName, indexPath, dataPath) ||
        !ReadIndex(indexPath, entries)) {
        Print(err, "thumbs: " + Utf8(folder) + " has no thumbnail cache");
        return kExitFailed;
    }
    const wchar_t* slash = std::wcsrchr(file.c_str(), L'\\');
    const std::wstring key = L"|" + ThumbCache::UpperAscii(slash ? slash + 1 : file);
    const auto found = entries.find(key);
    win::UniqueHandle data(::CreateFileW(dataPath.c_str(), GENERIC_READ,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                         0, nullptr));
    std::vector<uint8_t> record;
    if (found == entries.end() || !data || !ReadRecord(data.Get(), found->second, record)) {
        Print(err, "thumbs: no stored thumbnail for " + Utf8(file));
        return kExitFailed;
    }

    // The record's pixels are already DIB rows: 100 rows of 300 bytes, bottom row first.
    BITMAPFILEHEADER fileHeader = {};
    BITMAPINFOHEADER info = {};
    info.biSize = sizeof info;
    info.biWidth = ThumbCache::kThumbSide;
    info.biHeight = ThumbCache::kThumbSide;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    info.biSizeImage = ThumbCache::kPixelBytes;
    fileHeader.bfType = 0x4D42;  // "BM"
    fileHeader.bfOffBits = sizeof fileHeader + sizeof info;
    fileHeader.bfSize = fileHeader.bfOffBits + ThumbCache::kPixelBytes;
    win::UniqueHandle bmp(::CreateFileW(bmpPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!bmp || !WriteBytes(bmp.Get(), &fileHeader, sizeof fileHeader) ||
        !WriteBytes(bmp.Get(), &info, sizeof info) ||
        !WriteBytes(bmp.Get(), record.data() + ThumbCache::kHeaderBytes, ThumbCache::kPixelBytes)) {
        Print(err, "thumbs: cannot write " + Utf8(bmpPath));
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace

int RunThumbs(const std::vector<std::wstring>& args, FILE* out, FILE* err) {
    if (args.empty()) return Usage(err, "no command given");
    const std::wstring& command = args[0];
    const size_t operands = args.size() - 1;
    if (command == L"--help" || command == L"-h" || command == L"help") {
        std::fputs(kUsage, out);
        return kExitOk;
    }
    if (command == L"--version") {
        Print(out, std::string("thumbs ") + GLIMMERLY_VERSION);
        return kExitOk;
    }
    if (command == L"make" && operands == 1) return Make(win::FullPath(args[1]), out, err);
    if (command == L"show" && operands == 1) return Show(win::FullPath(args[1]), out, err);
    if (command == L"export" && operands == 3)
        return Export(win::FullPath(args[1]), args[2], win::FullPath(args[3]), err);
    return Usage(err, "cannot understand: " + Utf8(command));
}
