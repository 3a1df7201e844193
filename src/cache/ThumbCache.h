#pragma once
// The thumbnail cache of one folder (Folder mode) or of a database of categories (Database
// mode): a data file of fixed 24 + 30000-byte records (file facts and a 100 x 100, 24-bit
// thumbnail) and an index file of (key, record offset) pairs, read at Open and rewritten at
// Close. Used by one thread at a time; two objects on the same files serialise their file
// work through a named mutex per index path.

#include "base/Handles.h"
#include "cache/IndexFormat.h"
#include "cache/ThumbItem.h"
#include "imagelib/CxImage.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

// Offsets of records that the index lists but whose files have gone, per folder (exactly as
// passed to Open): free for the next new thumbnail of that folder. -1 marks a slot handed out.
using FreeSlotTable = std::map<std::wstring, std::map<std::wstring, int32_t>>;

// The process-wide table of free slots. Reach it only through FreeSlotsLock.
FreeSlotTable& FreeSlots();

class FreeSlotsLock {
public:
    FreeSlotsLock();
    ~FreeSlotsLock();
    FreeSlotsLock(const FreeSlotsLock&) = delete;
    FreeSlotsLock& operator=(const FreeSlotsLock&) = delete;
};

struct ImageTypeRow {
    uint32_t code;
    const wchar_t* description;
    const wchar_t* extension;
};
struct VideoTypeRow {
    uint32_t code;
    const wchar_t* name;
    const wchar_t* extension;
};
extern const ImageTypeRow ImageTypes[18];
extern const VideoTypeRow VideoTypes[10];

// Compressor codes (upper case, spaces kept) to their descriptions.
const std::map<std::wstring, std::wstring>& FourCCNames();

// "n Bytes", "x.xx KB" or "x.xx MB".
void FormatFileSize(uint32_t bytes, wchar_t* out, size_t outChars);

class ThumbCache {
public:
    static constexpr uint32_t kMagic = index_format::kMagic;
    static constexpr uint32_t kThumbSide = 100;
    static constexpr uint32_t kHeaderBytes = 24;
    static constexpr uint32_t kPixelBytes = kThumbSide * kThumbSide * 3;
    static constexpr uint32_t kRecordBytes = kHeaderBytes + kPixelBytes;

    ThumbCache();
    ~ThumbCache();
    ThumbCache(const ThumbCache&) = delete;
    ThumbCache& operator=(const ThumbCache&) = delete;

    bool Open(const wchar_t* folder, const wchar_t* baseName, CacheMode mode,
              const wchar_t* category);
    void Close();
    HBITMAP GetThumbnail(ThumbItem& item, const int* thumbSize, bool checkTime);
    HBITMAP MakeThumbnail(ThumbItem& item, int width, int height);
    // MakeThumbnail in two steps, so that the decoding can run on another thread: the file
    // at `fullPath` (`item.path` resolved against the cache's folder) decoded and fitted into
    // the 100 x 100 thumbnail, touching no cache state; then the result taken up as
    // MakeThumbnail would (null: the file could not be decoded).
    static std::unique_ptr<CxImage> DecodeThumbnail(const wchar_t* fullPath);
    bool FullPathOf(const ThumbItem& item, wchar_t (&full)[MAX_PATH]) const;
    HBITMAP AdoptThumbnail(ThumbItem& item, std::unique_ptr<CxImage> fitted, int width, int height);
    void AddThumbnail(ThumbItem& item, bool appendToIndex);
    void LoadIndex();

    static void SplitKey(const std::wstring& key, std::wstring& category, std::wstring& name);

    // Location and naming of the cache files, computed by Open.
    static int LocationKind(const wchar_t* folder);
    void NamesInFolder();
    void NamesInTemp();
    void NamesForShare();

    // Media descriptions.
    static uint32_t ImageTypeFromExtension(const wchar_t* extension);
    static uint32_t VideoTypeFromExtension(const wchar_t* extension);
    static void ImageTypeDescription(uint32_t code, wchar_t* out, size_t outChars);
    static void FourCCDescription(uint32_t code, wchar_t* out, size_t outChars);
    static void BuildDescription(ThumbItem& item);

    // The text after the last "." of a path; empty without one.
    static std::wstring ExtensionOf(const wchar_t* path);
    // Letters a to z made upper case; every other character unchanged.
    static std::wstring UpperAscii(std::wstring text);

    // Parses an index file's bytes. Reading stops, keeping what came before, at a length
    // that does not fit the 256-character buffers or runs past the end.
    static bool IsValidHeader(uint32_t header);
    static bool IsAnsiHeader(uint32_t header);
    static std::vector<IndexRecord> ParseIndex(const std::vector<uint8_t>& bytes, CacheMode mode);

    // The two paths Open would use for `folder`, without touching any cache file (a share
    // path still gets its write test). False when the folder gets no cache.
    static bool CachePaths(const wchar_t* folder, const wchar_t* baseName, std::wstring& index,
                           std::wstring& data);

    // For tools and tests: the state after Open.
    const wchar_t* IndexPath() const { return indexPath; }
    const wchar_t* DataPath() const { return dataPath; }
    const std::map<std::wstring, int32_t>& Entries() const { return entries; }

private:
    class FileLock;

    void ComputeLocation();
    std::wstring KeyOf(const ThumbItem& item) const;
    bool FileExists(const std::wstring& name) const;
    bool OffsetUsable(int32_t offset) const;
    void WriteIndexRecord(HANDLE file, const std::wstring& category, const std::wstring& name,
                          int32_t offset);
    void RewriteIndexAsUnicode(HANDLE file);
    void AppendToIndex(const std::wstring& key, int32_t offset);

    wchar_t folder[260];
    wchar_t baseName[256];
    wchar_t indexPath[260];
    wchar_t dataPath[260];
    wchar_t category[256];
    CacheMode mode;
    HANDLE indexFile;
    HANDLE dataFile;
    uint32_t magic;
    std::unique_ptr<CxImage> thumbImage;
    std::map<std::wstring, int32_t> entries;
    // Index records Open refused (offset outside the data file, or shared with another name).
    std::set<std::pair<std::wstring, int32_t>> droppedAtOpen_;

    std::vector<uint8_t> recordBuffer_;
    std::shared_ptr<std::mutex> localLock_;  // shared with every cache object on these files
    win::UniqueHandle fileMutex_;  // named after indexPath; serialises file work across objects
};
