#include "cache/ItemRecords.h"

#include "cache/ThumbCache.h"
#include "imagelib/CxImage.h"

#include <cwchar>

namespace {

bool StartRecord(ThumbItem& item, const wchar_t* path) {
    item = ThumbItem{};
    item.borderColor = 0;
    item.borderWidth = -1;
    const size_t length = path ? std::wcslen(path) : 0;
    if (length == 0 || length > kMaxItemPath) return false;
    std::wmemcpy(item.path, path, length + 1);
    return true;
}

}  // namespace

bool MakeItemRecord(ThumbItem& item, const wchar_t* path) {
    if (!StartRecord(item, path)) return false;

    WIN32_FIND_DATAW found;
    win::UniqueFindHandle search(::FindFirstFileW(path, &found));
    if (search) {
        const uint64_t time = (static_cast<uint64_t>(found.ftLastWriteTime.dwHighDateTime) << 32) |
                              found.ftLastWriteTime.dwLowDateTime;
        item.modified = time / 10000000u;
    }
    win::UniqueHandle file(::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file) item.size = ::GetFileSize(file.Get(), nullptr) & 0xFFFFFFFFu;
    item.hasThumbnail = 0;
    return true;
}

bool MakeItemRecord(ThumbItem& item, const wchar_t* path, const WIN32_FIND_DATAW& found) {
    if (!StartRecord(item, path)) return false;
    const uint64_t time = (static_cast<uint64_t>(found.ftLastWriteTime.dwHighDateTime) << 32) |
                          found.ftLastWriteTime.dwLowDateTime;
    item.modified = time / 10000000u;
    item.size = found.nFileSizeLow;
    item.hasThumbnail = 0;
    return true;
}

bool ExtensionAccepted(const wchar_t* fileTypes, const wchar_t* fileName) {
    const wchar_t* dot = std::wcsrchr(fileName, L'.');
    if (!dot || dot[1] == L'\0') return false;
    const std::wstring extension = ThumbCache::UpperAscii(dot + 1);
    const wchar_t* p = fileTypes;
    while (*p) {
        const wchar_t* end = p;
        while (*end && *end != L' ') ++end;
        const size_t length = static_cast<size_t>(end - p);
        if (length <= 9 && ThumbCache::UpperAscii(std::wstring(p, length)) == extension)
            return true;
        p = *end ? end + 1 : end;
    }
    return false;
}

ObtainedThumbnail LookUpThumbnail(ThumbCache& cache, ThumbItem& item, int thumbWidth,
                                  int thumbHeight, bool rebuildThumbnails) {
    ObtainedThumbnail result;
    if (rebuildThumbnails) return result;
    const int size[2] = {thumbWidth, thumbHeight};
    result.bitmap.Reset(cache.GetThumbnail(item, size, true));
    if (result.bitmap) result.origin = ObtainedThumbnail::Cached;
    return result;
}

ObtainedThumbnail FinishThumbnail(ThumbCache& cache, ThumbItem& item,
                                  std::unique_ptr<CxImage> fitted, int thumbWidth,
                                  int thumbHeight) {
    ObtainedThumbnail result;
    result.bitmap.Reset(cache.AdoptThumbnail(item, std::move(fitted), thumbWidth, thumbHeight));
    if (result.bitmap) {
        result.origin = ObtainedThumbnail::Made;
        result.store = true;
        return result;
    }
    // A file that cannot be decoded: a stored copy is shown whatever its time. The copy, not
    // the record, takes the facts the cache reads.
    const int size[2] = {thumbWidth, thumbHeight};
    ThumbItem copy = item;
    result.bitmap.Reset(cache.GetThumbnail(copy, size, false));
    if (result.bitmap) {
        result.origin = ObtainedThumbnail::StaleCopy;
        result.store = true;
    }
    return result;
}

ObtainedThumbnail ObtainThumbnail(ThumbCache& cache, ThumbItem& item, int thumbWidth,
                                  int thumbHeight, bool rebuildThumbnails) {
    ObtainedThumbnail result =
        LookUpThumbnail(cache, item, thumbWidth, thumbHeight, rebuildThumbnails);
    if (result.bitmap) return result;
    wchar_t full[MAX_PATH];
    std::unique_ptr<CxImage> fitted;
    if (cache.FullPathOf(item, full)) fitted = ThumbCache::DecodeThumbnail(full);
    return FinishThumbnail(cache, item, std::move(fitted), thumbWidth, thumbHeight);
}
