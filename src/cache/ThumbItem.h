#pragma once
// One listed file: the thumbnail control's record, filled in part by the cache.

#include <cstdint>

struct ThumbItem {
    wchar_t path[256];         // full path; a file whose path is longer is not listed
    wchar_t description[150];  // info-tip text built by the cache
    uint64_t modified;         // last-write time in whole seconds since 1601-01-01 UTC
    uint64_t size;             // file size; only the low 32 bits are used
    int hasThumbnail;          // 1 once the thumbnail is in the control's image list
    uint32_t borderColor;      // 0x00BBGGRR
    int borderWidth;
    uint32_t typeCode;  // image library format code, or a video's FourCC
    uint32_t width;
    uint32_t height;
    uint32_t bitsPerPixel;  // or a video's bit rate in kbit/s
    uint64_t serial;        // the control's name for the record: unlike its address, never reused
};
