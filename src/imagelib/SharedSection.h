#pragma once
// Pagefile-backed sections that carry bytes between a program and its decoder process: one
// side copies the bytes into a new section, the other maps it read-only.

#include "base/Handles.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace imagelib {

// A new section holding a copy of `size` bytes (at least one); none when that fails.
inline win::UniqueHandle SectionWithCopy(const void* data, size_t size) {
    const uint64_t bytes = size;
    win::UniqueHandle section(::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE,
                                                   static_cast<DWORD>(bytes >> 32),
                                                   static_cast<DWORD>(bytes), nullptr));
    if (!section || size == 0) return win::UniqueHandle();
    void* view = ::MapViewOfFile(section.Get(), FILE_MAP_WRITE, 0, 0, 0);
    if (!view) return win::UniqueHandle();
    std::memcpy(view, data, size);
    ::UnmapViewOfFile(view);
    return section;
}

// A section mapped read-only while this lives. Data() is null unless the mapping holds at
// least the bytes the other side says it does: that side is not trusted.
class SectionView {
public:
    SectionView(HANDLE section, uint64_t bytes)
        : view_(::MapViewOfFile(section, FILE_MAP_READ, 0, 0, 0)) {
        MEMORY_BASIC_INFORMATION region{};
        if (view_ && ::VirtualQuery(view_, &region, sizeof region) && region.RegionSize >= bytes) {
            data_ = static_cast<const uint8_t*>(view_);
        }
    }
    ~SectionView() {
        if (view_) ::UnmapViewOfFile(view_);
    }
    SectionView(const SectionView&) = delete;
    SectionView& operator=(const SectionView&) = delete;

    const uint8_t* Data() const { return data_; }

private:
    void* view_;
    const uint8_t* data_ = nullptr;
};

}  // namespace imagelib
