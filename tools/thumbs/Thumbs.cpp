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
#include <wincodec.h>
#include <wrl/client.h>

#include <cstring>
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
    "                                  KEY OFFSET MODIFIED TYPE WIDTH HEIGHT BPP STATE\n"
    "                                  (tab-separated; STATE is current, stale or missing)\n"
    "                                  and its description on the next line\n"
    "  thumbs export FOLDER FILE OUT   the stored 100 x 100 thumbnail of FILE; OUT ends in .bmp\n"
    "                                  (24-bit BMP) or .png\n"
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

// A usage error of one command: its own usage line.
int CommandUsage(FILE* err, const std::string& message, const char* usage) {
    Print(err, "thumbs: " + message);
    Print(err, std::string("usage: ") + usage);
    Print(err, "(thumbs --help describes every command)");
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
        const DWORD error = ::GetLastError();
        const DWORD attributes = ::GetFileAttributesW(folder.c_str());
        Print(err, "thumbs: " + Utf8(folder) +
                       (attributes == INVALID_FILE_ATTRIBUTES ? ": no such folder"
                        : !(attributes & FILE_ATTRIBUTE_DIRECTORY)
                            ? ": not a folder"
                            : ": cannot be listed: " + SystemMessage(error)));
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

// Whether the file of a stored entry is gone, or has changed since its thumbnail was stored
// (its time in whole seconds no longer matches, which makes the program make it anew).
std::string FileTimeState(const std::wstring& folder, const std::wstring& name,
                          uint64_t storedSeconds) {
    WIN32_FIND_DATAW found;
    win::UniqueFindHandle search(::FindFirstFileW(Join(folder, name).c_str(), &found));
    if (!search) return "missing";
    const uint64_t time = (static_cast<uint64_t>(found.ftLastWriteTime.dwHighDateTime) << 32) |
                          found.ftLastWriteTime.dwLowDateTime;
    return time / 10000000u == storedSeconds ? "current" : "stale";
}

int Show(const std::wstring& folder, FILE* out, FILE* err) {
    const DWORD attributes = ::GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        Print(err,
              "thumbs: " + Utf8(folder) +
                  (attributes == INVALID_FILE_ATTRIBUTES ? ": no such folder" : ": not a folder"));
        return kExitFailed;
    }
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
            Print(out, Utf8(key) + "\t" + std::to_string(offset) + "\t-\t-\t-\t-\t-\t-");
            Print(out, "\t(no complete record)");
            continue;
        }
        std::wstring category, name;
        ThumbCache::SplitKey(key, category, name);
        ThumbItem item;
        MakeItemRecord(item, Join(folder, name).c_str());
        ByteCursor cursor(record.data(), record.size());
        cursor.ReadU64(item.modified);
        const std::string state = FileTimeState(folder, name, item.modified);
        cursor.ReadU32(item.typeCode);
        cursor.ReadU32(item.width);
        cursor.ReadU32(item.height);
        cursor.ReadU32(item.bitsPerPixel);
        ThumbCache::BuildDescription(item);
        Print(out, Utf8(key) + "\t" + std::to_string(offset) + "\t" +
                       std::to_string(item.modified) + "\t" + std::to_string(item.typeCode) + "\t" +
                       std::to_string(item.width) + "\t" + std::to_string(item.height) + "\t" +
                       std::to_string(item.bitsPerPixel) + "\t" + state);
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

const char kExportUsage[] = "thumbs export FOLDER FILE OUT.bmp|OUT.png";

// Writes the 100 x 100 pixels (DIB rows, bottom row first) as a PNG through WIC's encoder.
HRESULT WritePng(const std::wstring& path, const uint8_t* dibRows) {
    using Microsoft::WRL::ComPtr;
    const UINT side = ThumbCache::kThumbSide, stride = side * 3;
    std::vector<uint8_t> rows(static_cast<size_t>(stride) * side);
    for (UINT y = 0; y < side; ++y)
        std::memcpy(&rows[static_cast<size_t>(y) * stride], dibRows + (side - 1 - y) * stride,
                    stride);
    ComPtr<IWICImagingFactory> factory;
    ComPtr<IWICStream> stream;
    ComPtr<IWICBitmapEncoder> encoder;
    ComPtr<IWICBitmapFrameEncode> frame;
    ComPtr<IPropertyBag2> options;
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    HRESULT hr = ::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_PPV_ARGS(&factory));
    if (SUCCEEDED(hr)) hr = factory->CreateStream(&stream);
    if (SUCCEEDED(hr)) hr = stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE);
    if (SUCCEEDED(hr)) hr = factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder);
    if (SUCCEEDED(hr)) hr = encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache);
    if (SUCCEEDED(hr)) hr = encoder->CreateNewFrame(&frame, &options);
    if (SUCCEEDED(hr)) hr = frame->Initialize(options.Get());
    if (SUCCEEDED(hr)) hr = frame->SetSize(side, side);
    if (SUCCEEDED(hr)) hr = frame->SetPixelFormat(&format);
    if (SUCCEEDED(hr) && format != GUID_WICPixelFormat24bppBGR)
        hr = WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT;
    if (SUCCEEDED(hr))
        hr = frame->WritePixels(side, stride, static_cast<UINT>(rows.size()), rows.data());
    if (SUCCEEDED(hr)) hr = frame->Commit();
    if (SUCCEEDED(hr)) hr = encoder->Commit();
    return hr;
}

bool WriteBmp(const std::wstring& path, const uint8_t* dibRows) {
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
    win::UniqueHandle bmp(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    return bmp && WriteBytes(bmp.Get(), &fileHeader, sizeof fileHeader) &&
           WriteBytes(bmp.Get(), &info, sizeof info) &&
           WriteBytes(bmp.Get(), dibRows, ThumbCache::kPixelBytes);
}

int Export(const std::wstring& folder, const std::wstring& file, const std::wstring& outPath,
           FILE* err) {
    const std::wstring extension = ThumbCache::UpperAscii(::PathFindExtensionW(outPath.c_str()));
    if (extension != L".BMP" && extension != L".PNG") {
        return CommandUsage(err,
                            "cannot write " + Utf8(outPath) +
                                ": a thumbnail is written as .bmp or .png; give OUT one of them",
                            kExportUsage);
    }
    const std::wstring filePath = Join(folder, file);
    const DWORD attributes = ::GetFileAttributesW(filePath.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        Print(err, "thumbs: no such file: " + Utf8(filePath));
        return kExitFailed;
    }
    std::wstring indexPath, dataPath;
    std::map<std::wstring, int32_t> entries;
    if (!ThumbCache::CachePaths(folder.c_str(), kCacheName, indexPath, dataPath) ||
        !ReadIndex(indexPath, entries)) {
        Print(err, "thumbs: " + Utf8(folder) +
                       " has no thumbnail cache yet; build it with: thumbs make " + Utf8(folder));
        return kExitFailed;
    }
    const wchar_t* name = ::PathFindFileNameW(filePath.c_str());
    const auto found = entries.find(L"|" + ThumbCache::UpperAscii(name));
    win::UniqueHandle data(::CreateFileW(dataPath.c_str(), GENERIC_READ,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                         0, nullptr));
    std::vector<uint8_t> record;
    if (found == entries.end() || !data || !ReadRecord(data.Get(), found->second, record)) {
        Print(err, "thumbs: no stored thumbnail for " + Utf8(filePath) +
                       (ExtensionAccepted(kDefaultImageTypes, name)
                            ? "; store it with: thumbs make " + Utf8(folder)
                            : std::string("; only pictures are stored (") +
                                  Utf8(kDefaultImageTypes) + ")"));
        return kExitFailed;
    }

    // The record's pixels are already DIB rows: 100 rows of 300 bytes, bottom row first.
    const uint8_t* pixels = record.data() + ThumbCache::kHeaderBytes;
    std::string why;
    if (extension == L".PNG") {
        win::ComScope com;
        const HRESULT hr = WritePng(outPath, pixels);
        if (FAILED(hr)) {
            why = HRESULT_FACILITY(hr) == FACILITY_WIN32
                      ? SystemMessage(HRESULT_CODE(hr))
                      : "the PNG encoder failed (" +
                            std::to_string(static_cast<unsigned long>(hr)) + ")";
        }
    } else if (!WriteBmp(outPath, pixels)) {
        why = SystemMessage(::GetLastError());
    }
    if (!why.empty()) {
        ::DeleteFileW(outPath.c_str());  // no half-written picture stays behind
        Print(err, "thumbs: cannot write " + Utf8(outPath) + ": " + why);
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
    if (command == L"make" || command == L"show") {
        return CommandUsage(
            err, Utf8(command) + " takes 1 operand, " + std::to_string(operands) + " given",
            command == L"make" ? "thumbs make FOLDER" : "thumbs show FOLDER");
    }
    if (command == L"export")
        return CommandUsage(err, "export takes 3 operands, " + std::to_string(operands) + " given",
                            kExportUsage);
    return Usage(err, "there is no command \"" + Utf8(command) + "\"");
}
