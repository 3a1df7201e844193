#include "cache/ThumbCache.h"

#include "base/ByteCursor.h"
#include "base/Trace.h"
#include "cache/CacheFile.h"
#include "package/TemplatePackage.h"

#include <shlwapi.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <cwchar>
#include <map>
#include <memory>
#include <mutex>
#include <set>

namespace {

constexpr size_t kIndexReadLimit = 64u << 20;  // far beyond any real index
constexpr DWORD kEndOfFile = 38;               // ERROR_HANDLE_EOF

std::mutex& FreeSlotsMutex() {
    static std::mutex mutex;
    return mutex;
}

template <size_t N>
void CopyInto(wchar_t (&member)[N], const wchar_t* text) {
    std::wcsncpy(member, text ? text : L"", N - 1);
    member[N - 1] = L'\0';
}

// Index names of the ANSI variant are in the system's code page.
std::wstring AnsiToWide(const uint8_t* bytes, size_t length) {
    if (length == 0) return {};
    wchar_t wide[index_format::kNameChars * 2] = {};
    const int chars =
        ::MultiByteToWideChar(CP_ACP, 0, reinterpret_cast<const char*>(bytes),
                              static_cast<int>(length), wide, index_format::kNameChars * 2 - 1);
    return std::wstring(wide, chars > 0 ? static_cast<size_t>(chars) : 0);
}

// Whether a record at `offset` would share bytes with one at any of `taken`.
bool Overlaps(const std::set<int32_t>& taken, int32_t offset) {
    const int64_t record = ThumbCache::kRecordBytes;
    const auto next = taken.lower_bound(
        static_cast<int32_t>(std::max<int64_t>(INT32_MIN, int64_t{offset} - record + 1)));
    return next != taken.end() && int64_t{*next} < int64_t{offset} + record;
}

uint32_t HeaderOf(const std::vector<uint8_t>& bytes, uint32_t missing) {
    ByteCursor cursor(bytes.data(), bytes.size());
    uint32_t header = missing;
    cursor.ReadU32(header);
    return header;
}

}  // namespace

FreeSlotTable& FreeSlots() {
    static FreeSlotTable table;
    return table;
}

FreeSlotsLock::FreeSlotsLock() {
    FreeSlotsMutex().lock();
}
FreeSlotsLock::~FreeSlotsLock() {
    FreeSlotsMutex().unlock();
}

namespace {

// The in-process lock of one index path, shared by every cache object on those files.
std::shared_ptr<std::mutex> LocalLockFor(const std::wstring& indexPath) {
    static std::mutex registryMutex;
    static std::map<std::wstring, std::weak_ptr<std::mutex>> registry;
    std::lock_guard<std::mutex> guard(registryMutex);
    std::weak_ptr<std::mutex>& slot = registry[indexPath];
    std::shared_ptr<std::mutex> lock = slot.lock();
    if (!lock) {
        lock = std::make_shared<std::mutex>();
        slot = lock;
    }
    return lock;
}

}  // namespace

// Serialises file work on one pair of cache files. Every operation takes the in-process lock
// of the index path; operations that write also take the named mutex, so a cache in another
// process never interleaves its writes or index rewrites with ours. Reads stay free of kernel
// round trips: a lookup is on the path every shown thumbnail takes.
class ThumbCache::FileLock {
public:
    enum Kind { Read, Write };
    explicit FileLock(ThumbCache& cache, Kind kind = Write)
        : local_(cache.localLock_.get()), mutex_(kind == Write ? cache.fileMutex_.Get() : nullptr) {
        if (local_) local_->lock();
        if (mutex_) ::WaitForSingleObject(mutex_, INFINITE);  // an abandoned mutex is ours too
    }
    ~FileLock() {
        if (mutex_) ::ReleaseMutex(mutex_);
        if (local_) local_->unlock();
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    std::mutex* local_;
    HANDLE mutex_;
};

ThumbCache::ThumbCache()
    : folder(),
      baseName(),
      indexPath(),
      dataPath(),
      category(),
      mode(Folder),
      indexFile(nullptr),
      dataFile(nullptr),
      magic(kMagic) {}

ThumbCache::~ThumbCache() {
    Close();
    thumbImage.reset();
    entries.clear();
}

void ThumbCache::SplitKey(const std::wstring& key, std::wstring& keyCategory, std::wstring& name) {
    const size_t bar = key.rfind(L'|');
    if (bar == std::wstring::npos) {
        keyCategory.clear();
        name = key;
        return;
    }
    keyCategory = key.substr(0, bar);
    name = key.substr(bar + 1);
}

bool ThumbCache::IsValidHeader(uint32_t header) {
    return index_format::IsValidHeader(header);
}

bool ThumbCache::IsAnsiHeader(uint32_t header) {
    return index_format::IsAnsiHeader(header);
}

std::vector<IndexRecord> ThumbCache::ParseIndex(const std::vector<uint8_t>& bytes,
                                                CacheMode parseMode) {
    return index_format::Parse(bytes, parseMode, AnsiToWide);
}

std::wstring ThumbCache::KeyOf(const ThumbItem& item) const {
    std::wstring name;
    if (mode == Folder) {
        const wchar_t* slash = std::wcsrchr(item.path, L'\\');
        name = slash ? slash + 1 : L"";
    } else {
        name = item.path;
    }
    return std::wstring(category) + L"|" + UpperAscii(name);
}

bool ThumbCache::FileExists(const std::wstring& name) const {
    wchar_t joined[MAX_PATH];
    return ::PathCombineW(joined, folder, name.c_str()) && ::PathFileExistsW(joined);
}

// An offset the cache may read or write: -1 (a slot handed out), or a whole record inside
// the data file. Anything else comes from a damaged or planted index.
bool ThumbCache::OffsetUsable(int32_t offset) const {
    if (offset == -1) return true;
    if (offset < 0 || !dataFile || dataFile == INVALID_HANDLE_VALUE) return false;
    return static_cast<uint64_t>(offset) + kRecordBytes <= CacheFileLength(dataFile);
}

bool ThumbCache::Open(const wchar_t* openFolder, const wchar_t* openBaseName, CacheMode openMode,
                      const wchar_t* openCategory) {
    mode = openMode;
    CopyInto(category, UpperAscii(openCategory ? openCategory : L"").c_str());
    if (mode == Database && category[0] == L'\0') return false;

    if (!dataFile || mode == Folder) {
        // Folder mode expects a closed cache; an open one is closed first so its records are kept.
        if (dataFile) Close();
        CopyInto(folder, openFolder);
        CopyInto(baseName, openBaseName);
        if (openFolder && std::wcslen(openFolder) >= std::size(folder)) folder[0] = L'\0';
        ComputeLocation();

        fileMutex_.Reset();
        if (indexPath[0]) {
            // Mutex names cannot hold backslashes and are limited in length: name it after a
            // hash of the upper-cased index path.
            uint64_t hash = 1469598103934665603ull;
            for (wchar_t c : UpperAscii(indexPath))
                hash = (hash ^ static_cast<uint16_t>(c)) * 1099511628211ull;
            wchar_t name[64];
            ::wsprintfW(name, L"GlimmerlyThumbCache-%08lx%08lx",
                        static_cast<unsigned long>(hash >> 32), static_cast<unsigned long>(hash));
            fileMutex_.Reset(::CreateMutexW(nullptr, FALSE, name));
            localLock_ = LocalLockFor(UpperAscii(indexPath));
        } else {
            localLock_.reset();
        }

        FileLock lock(*this);
        uint32_t header = 0xFFFFFFFF;
        {
            win::UniqueHandle index(OpenCacheFile(indexPath, true));
            indexFile = index.Get();
            DWORD read = 0;
            if (index) ReadBytes(index.Get(), &header, sizeof header, &read);
            indexFile = nullptr;
        }
        if (!IsValidHeader(header)) {
            // A data file is never used without a valid index beside it.
            DiscardCacheFile(indexPath);
            DiscardCacheFile(dataPath);
        }
        Trace(L"Open CTL file location =====>%s\n", dataPath);
        dataFile = OpenCacheFile(dataPath, true);
    }
    LoadIndex();
    return true;
}

void ThumbCache::LoadIndex() {
    FileLock lock(*this);
    win::UniqueHandle index(OpenCacheFile(indexPath, true));
    indexFile = index.Get();
    const std::vector<uint8_t> bytes = ReadWholeCacheFile(index.Get(), kIndexReadLimit);
    const uint32_t header = HeaderOf(bytes, 0);
    if (!IsValidHeader(header)) {
        const uint64_t length = index ? CacheFileLength(index.Get()) : 1;
        index.Reset();
        indexFile = nullptr;
        if (length == 0) DiscardCacheFile(indexPath);
        return;
    }
    // A record claimed by two names (or overlapping another name's) belongs to at most one of
    // them, and nothing tells which: both are made anew. Offsets outside the data file are
    // dropped as well, and neither comes back when Close merges the index on disk.
    std::vector<IndexRecord> records = ParseIndex(bytes, mode);
    std::map<int32_t, std::set<std::wstring>> keysAt;
    for (const IndexRecord& record : records) {
        if (record.offset != -1 && OffsetUsable(record.offset))
            keysAt[record.offset].insert(record.category + L"|" + record.name);
    }
    std::set<int32_t> contested;
    for (auto it = keysAt.begin(); it != keysAt.end(); ++it) {
        if (it->second.size() > 1) contested.insert(it->first);
        const auto next = std::next(it);
        if (next != keysAt.end() && int64_t{next->first} - it->first < kRecordBytes) {
            contested.insert(it->first);
            contested.insert(next->first);
        }
    }
    for (IndexRecord& record : records) {
        const std::wstring key = record.category + L"|" + record.name;
        if (!OffsetUsable(record.offset) || contested.count(record.offset)) {
            droppedAtOpen_.emplace(key, record.offset);
            continue;
        }
        if (mode == Database && record.category != category) continue;
        if (FileExists(record.name)) {
            entries[key] = record.offset;  // a later record with the same key wins
        } else {
            FreeSlotsLock slots;
            FreeSlots()[folder].emplace(key, record.offset);  // an earlier slot stays
        }
    }
    Trace(L"**************Read from IDX File ==>> %s....%x\n", indexPath, header);
    indexFile = nullptr;
}

HBITMAP ThumbCache::GetThumbnail(ThumbItem& item, const int* thumbSize, bool checkTime) {
    const auto found = entries.find(KeyOf(item));
    if (found == entries.end() || found->second == -1) return nullptr;
    const uint64_t wanted = item.modified;

    std::vector<uint8_t>& record = recordBuffer_;  // reused: lookups come by the thousand
    record.resize(kRecordBytes);
    DWORD read = 0;
    {
        FileLock lock(*this, FileLock::Read);
        if (!dataFile || dataFile == INVALID_HANDLE_VALUE) return nullptr;
        // One positioned read instead of a seek and a read.
        OVERLAPPED at = {};
        at.Offset = static_cast<DWORD>(found->second);
        if (!::ReadFile(dataFile, record.data(), kRecordBytes, &read, &at)) read = 0;
    }
    if (read < kHeaderBytes) return nullptr;

    ByteCursor cursor(record.data(), read);
    cursor.ReadU64(item.modified);
    cursor.ReadU32(item.typeCode);
    cursor.ReadU32(item.width);
    cursor.ReadU32(item.height);
    cursor.ReadU32(item.bitsPerPixel);
    BuildDescription(item);

    const bool timed = ImageTypeFromExtension(ExtensionOf(item.path).c_str()) != 0 || checkTime;
    // A stale record, or one cut short, is a miss: the thumbnail is made anew and stored over it.
    if ((timed && item.modified != wanted) || read < kRecordBytes) {
        item.modified = wanted;
        return nullptr;
    }

    const int side = thumbSize[0] > thumbSize[1] ? thumbSize[0] : thumbSize[1];
    if (side == static_cast<int>(kThumbSide)) {
        // Shown at its stored size, the record already is the bitmap's pixels (DIB rows,
        // bottom first): they go straight into a DIB section.
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = kThumbSide;
        info.bmiHeader.biHeight = kThumbSide;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 24;
        void* bits = nullptr;
        HBITMAP bitmap = ::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        if (bitmap && bits) std::memcpy(bits, record.data() + kHeaderBytes, kPixelBytes);
        return bitmap;
    }
    CxImage image(1);
    if (!image.CreateFromArray(record.data() + kHeaderBytes, kThumbSide, kThumbSide, 24,
                               kThumbSide * 3, false) ||
        !image.IsValid()) {
        return nullptr;
    }
    if (!image.Resample(side, side, 1)) return nullptr;
    return image.MakeBitmap();
}

namespace {

// A sample larger than this is no preview picture.
constexpr size_t kMaxSampleBytes = size_t{64} << 20;

// True for the extensions of template packages: their first four characters are ".qrt",
// compared without regard to case, as the preview panel takes them.
bool IsPackageExtension(const std::wstring& extension) {
    return extension.size() >= 3 && _wcsnicmp(extension.c_str(), L"qrt", 3) == 0;
}

// A template package's thumbnail is its sample picture, read in memory: nothing is written to
// disk. Null when the file is no package or holds no sample.
std::unique_ptr<CxImage> PackageSample(const wchar_t* path) {
    TemplatePackage package;
    if (package.Open(path, nullptr) != 1) return nullptr;
    package::Buffer sample;
    const bool read = package.ReadMember(package::kKindSample, kMaxSampleBytes, sample);
    package.Close();
    if (!read) return nullptr;
    return std::make_unique<CxImage>(sample.Data(), sample.Size(), 3, true, path);
}

}  // namespace

HBITMAP ThumbCache::MakeThumbnail(ThumbItem& item, int width, int height) {
    wchar_t full[MAX_PATH];
    // Whatever fails leaves no picture behind for a following AddThumbnail to store under this
    // item's name.
    if (!FullPathOf(item, full)) {
        thumbImage.reset();
        return nullptr;
    }
    return AdoptThumbnail(item, DecodeThumbnail(full), width, height);
}

bool ThumbCache::FullPathOf(const ThumbItem& item, wchar_t (&full)[MAX_PATH]) const {
    return ::PathCombineW(full, folder, item.path) != nullptr;
}

std::unique_ptr<CxImage> ThumbCache::DecodeThumbnail(const wchar_t* fullPath) {
    const std::wstring extension = ExtensionOf(fullPath);
    std::unique_ptr<CxImage> image =
        IsPackageExtension(extension)
            ? PackageSample(fullPath)
            : std::make_unique<CxImage>(fullPath, ImageTypeFromExtension(extension.c_str()), true,
                                        false);
    if (!image || !image->IsValid()) return nullptr;
    RGBQUAD magenta = {};
    magenta.rgbBlue = 255;
    magenta.rgbRed = 255;
    // Fitting keeps the file's own facts (type, size, depth) that the record takes up.
    if (!image->Thumbnail(kThumbSide, kThumbSide, magenta) || !image->IncreaseBpp(24)) {
        return nullptr;
    }
    return image;
}

HBITMAP ThumbCache::AdoptThumbnail(ThumbItem& item, std::unique_ptr<CxImage> fitted, int width,
                                   int height) {
    thumbImage = std::move(fitted);
    if (!thumbImage) return nullptr;
    // A package shows its sample, but its info tip describes the package: its extension as
    // the type (code 0), with the sample's size and depth.
    item.typeCode = IsPackageExtension(ExtensionOf(item.path)) ? 0 : thumbImage->GetType();
    item.width = thumbImage->GetImageWidth();
    item.height = thumbImage->GetImageHeight();
    item.bitsPerPixel = thumbImage->GetImageBpp();

    CxImage copy(*thumbImage, true, true, true);
    if (!copy.IsValid()) return nullptr;
    const int side = width > height ? width : height;
    if (!copy.Resample(side, side, 1)) return nullptr;
    return copy.MakeBitmap();
}

void ThumbCache::AddThumbnail(ThumbItem& item, bool appendToIndex) {
    // Only a freshly made 100 x 100, 24-bit thumbnail is stored: after a failed decode a header
    // without new pixels would make old pixels count as current.
    if (!thumbImage || !thumbImage->IsValid() || thumbImage->GetWidth() != kThumbSide ||
        thumbImage->GetHeight() != kThumbSide || thumbImage->GetSize() != kPixelBytes + 40) {
        return;
    }
    const std::wstring key = KeyOf(item);
    BuildDescription(item);
    FileLock lock(*this);
    if (!dataFile || dataFile == INVALID_HANDLE_VALUE) return;  // nothing stored, nothing indexed

    int32_t offset = -1;
    if (const auto found = entries.find(key); found != entries.end()) {
        offset = found->second;
    } else {
        FreeSlotsLock slots;
        const auto table = FreeSlots().find(folder);
        if (table != FreeSlots().end()) {
            // A file that went and came back within the visit takes its own slot again; in
            // no case does its name stay in the table, where its slot could go to another.
            if (const auto own = table->second.find(key); own != table->second.end()) {
                offset = own->second;
                table->second.erase(own);
            }
            for (auto it = table->second.begin(); offset == -1 && it != table->second.end(); ++it) {
                if (it->second != -1) {
                    offset = it->second;
                    it->second = -1;  // handed out
                }
            }
        }
    }
    if (offset == -1) {
        const uint64_t end = CacheFileLength(dataFile);
        if (end > static_cast<uint64_t>(INT32_MAX) - kRecordBytes) return;  // offsets are 32-bit
        offset = static_cast<int32_t>(end);
    }
    Trace(L"!!!!!!!!!!!!!!!!!! adding file %s\n", key.c_str());

    uint8_t header[kHeaderBytes];
    for (int i = 0; i < 8; ++i) header[i] = static_cast<uint8_t>(item.modified >> (8 * i));
    const uint32_t facts[4] = {item.typeCode, item.width, item.height, item.bitsPerPixel};
    for (int f = 0; f < 4; ++f) {
        for (int i = 0; i < 4; ++i)
            header[8 + 4 * f + i] = static_cast<uint8_t>(facts[f] >> (8 * i));
    }
    const bool written = SeekCacheFile(dataFile, offset) &&
                         WriteBytes(dataFile, header, sizeof header) &&
                         WriteBytes(dataFile, thumbImage->GetBits(0), kPixelBytes);
    ::FlushFileBuffers(dataFile);
    if (!written) {
        // A record not written whole is no one's: the name is not indexed (and loses a record it
        // had there), so it can never show what another file left at that offset.
        entries.erase(key);
        return;
    }
    entries[key] = offset;
    if (appendToIndex) AppendToIndex(key, offset);
}

void ThumbCache::WriteIndexRecord(HANDLE file, const std::wstring& recordCategory,
                                  const std::wstring& name, int32_t offset) {
    std::vector<uint8_t> bytes;
    index_format::AppendRecord(bytes, mode, recordCategory, name, offset);
    WriteBytes(file, bytes.data(), static_cast<DWORD>(bytes.size()));
}

// Rewrites an index of the ANSI variant (or one without a valid header) in the "TU04" form.
void ThumbCache::RewriteIndexAsUnicode(HANDLE file) {
    const std::vector<uint8_t> bytes = ReadWholeCacheFile(file, kIndexReadLimit);
    const std::vector<IndexRecord> records =
        IsAnsiHeader(HeaderOf(bytes, 0)) ? ParseIndex(bytes, mode) : std::vector<IndexRecord>();
    SeekCacheFile(file, 0);
    ::SetEndOfFile(file);
    WriteBytes(file, &magic, sizeof magic);
    for (const IndexRecord& record : records)
        WriteIndexRecord(file, record.category, record.name, record.offset);
}

void ThumbCache::AppendToIndex(const std::wstring& key, int32_t offset) {
    win::UniqueHandle index(OpenCacheFile(indexPath, true));
    if (!index) return;
    indexFile = index.Get();
    uint32_t header = 0;
    DWORD read = 0;
    ReadBytes(index.Get(), &header, sizeof header, &read);
    if (read != sizeof header || header != kMagic) RewriteIndexAsUnicode(index.Get());
    LARGE_INTEGER zero = {};
    ::SetFilePointerEx(index.Get(), zero, nullptr, FILE_END);
    std::wstring keyCategory, name;
    SplitKey(key, keyCategory, name);
    WriteIndexRecord(index.Get(), keyCategory, name, offset);
    ::FlushFileBuffers(index.Get());
    indexFile = nullptr;
}

void ThumbCache::Close() {
    const auto closeDataFile = [this] {
        if (!dataFile) return;
        const bool usable = dataFile != INVALID_HANDLE_VALUE;
        const uint64_t length = usable ? CacheFileLength(dataFile) : 1;
        if (usable) ::CloseHandle(dataFile);
        dataFile = nullptr;
        if (length == 0) DiscardCacheFile(dataPath);
    };

    if (entries.empty()) {
        FileLock lock(*this);
        droppedAtOpen_.clear();
        closeDataFile();
        return;
    }

    FileLock lock(*this);
    {
        // Merge what another object may have written meanwhile, and what Open did not load
        // (other categories), then drop the keys of files that have gone.
        // A record comes back only at an offset no other name holds, and not when Open dropped
        // it: the data file has grown since, so the offset alone proves nothing.
        win::UniqueHandle index(OpenCacheFile(indexPath, true));
        indexFile = index.Get();
        std::set<int32_t> owned;
        for (const auto& [key, offset] : entries) {
            if (offset != -1) owned.insert(offset);
        }
        for (IndexRecord& record :
             ParseIndex(ReadWholeCacheFile(index.Get(), kIndexReadLimit), mode)) {
            const std::wstring key = record.category + L"|" + record.name;
            const bool exists = FileExists(record.name);
            if (exists && !entries.count(key) && OffsetUsable(record.offset) &&
                !droppedAtOpen_.count({key, record.offset}) &&
                (record.offset == -1 || !Overlaps(owned, record.offset))) {
                if (record.offset != -1) owned.insert(record.offset);
                entries[key] = record.offset;
                Trace(L"**************New Read from IDX -  File =====> %s\n", record.name.c_str());
            } else if (!exists) {
                entries.erase(key);
            }
        }
    }
    DiscardCacheFile(indexPath);

    win::UniqueHandle index(OpenCacheFile(indexPath, true));
    indexFile = index.Get();
    if (index) {
        WriteBytes(index.Get(), &magic, sizeof magic);
        // No two names ever share an offset in the index written.
        std::set<int32_t> written;
        std::wstring keyCategory, name;
        for (const auto& [key, offset] : entries) {
            if (offset != -1 && Overlaps(written, offset)) continue;
            if (offset != -1) written.insert(offset);
            SplitKey(key, keyCategory, name);
            WriteIndexRecord(index.Get(), keyCategory, name, offset);
        }
        {
            FreeSlotsLock slots;
            const auto table = FreeSlots().find(folder);
            if (table != FreeSlots().end()) {
                for (const auto& [key, offset] : table->second) {
                    if (offset == -1 || entries.count(key) || Overlaps(written, offset)) continue;
                    written.insert(offset);
                    SplitKey(key, keyCategory, name);
                    WriteIndexRecord(index.Get(), keyCategory, name, offset);
                }
            }
        }
        ::FlushFileBuffers(index.Get());
        Trace(L"******Written to IDX file => %s\n", indexPath);
    }
    entries.clear();
    droppedAtOpen_.clear();
    closeDataFile();
    const uint64_t indexLength = index ? CacheFileLength(index.Get()) : 1;
    index.Reset();
    indexFile = nullptr;
    if (indexLength == 0) DiscardCacheFile(indexPath);
}
