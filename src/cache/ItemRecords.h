#pragma once
// Making item records and choosing which files are listed: shared by the thumbnail control's
// workers and the `thumbs` tool, so both list and describe a folder the same way.

#include "base/Handles.h"
#include "cache/ThumbItem.h"

#include <memory>

class CxImage;
class ThumbCache;

inline constexpr const wchar_t* kDefaultImageTypes = L"bmp ogf tga jpg jpeg png gif wbmp tif tiff";
inline constexpr const wchar_t* kDefaultVideoTypes = L"avi mpg mpeg asf wmv mp2 mpv dat vob";

// The longest full path a record holds. A longer one would be cut into another file's name,
// so such a file is not listed.
inline constexpr size_t kMaxItemPath = 255;

// A record for the file at `path`: zeroed, the path, the last-write time in whole seconds
// since 1601, the low 32 bits of the size, border width -1. False, with an empty record,
// when the path is longer than kMaxItemPath.
bool MakeItemRecord(ThumbItem& item, const wchar_t* path);

// The same record from what a folder search already found for the file: its time and size
// come with the search, so listing a folder costs no further look-up per file.
bool MakeItemRecord(ThumbItem& item, const wchar_t* path, const WIN32_FIND_DATAW& found);

// Whether the extension of `fileName` (after its last dot) is one of the blank-separated
// `fileTypes`, without regard to case. Entries longer than 9 characters never match.
bool ExtensionAccepted(const wchar_t* fileTypes, const wchar_t* fileName);

// A thumbnail as the display loop obtains it: from the cache when it holds a current one
// (unless rebuilding), else decoded from the file, else a cached copy whatever its time.
struct ObtainedThumbnail {
    enum Origin { None, Cached, Made, StaleCopy };
    win::UniqueBitmap bitmap;
    Origin origin = None;
    // The bitmap came from the file or the fallback: AddThumbnail(item, false) follows.
    bool store = false;
};

ObtainedThumbnail ObtainThumbnail(ThumbCache& cache, ThumbItem& item, int thumbWidth,
                                  int thumbHeight, bool rebuildThumbnails);

// ObtainThumbnail in steps, for a loop that decodes on other threads: the cached thumbnail
// (origin Cached, or None when a decode is needed), then, from what
// ThumbCache::DecodeThumbnail gave for the file (null: nothing), the made thumbnail or the
// stale copy. Both steps use the cache and so belong to its one thread.
ObtainedThumbnail LookUpThumbnail(ThumbCache& cache, ThumbItem& item, int thumbWidth,
                                  int thumbHeight, bool rebuildThumbnails);
ObtainedThumbnail FinishThumbnail(ThumbCache& cache, ThumbItem& item,
                                  std::unique_ptr<CxImage> fitted, int thumbWidth, int thumbHeight);
