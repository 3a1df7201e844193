#pragma once
// A fresh folder under the system's temporary folder, removed with everything in it when
// the object goes away.

#include "base/Utf.h"

#ifdef _WIN32
#include "base/Handles.h"
#endif

#include <chrono>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace testing_support {

class TempDir {
public:
    TempDir() {
        std::random_device random;
        const auto base = std::filesystem::temp_directory_path();
        for (int attempt = 0; attempt < 100; ++attempt) {
            path_ = base / ("glimmerly-test-" + std::to_string(random()));
            if (std::filesystem::create_directory(path_)) return;
        }
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

    // The folder as program text: UTF-16 units with backslashes on Windows, the UTF-8
    // path's characters elsewhere.
    std::wstring Wide() const { return WideOf(path_); }

    static std::wstring WideOf(const std::filesystem::path& path) {
#ifdef _WIN32
        return path.native();
#else
        return text::FromUtf8(path.native());
#endif
    }

private:
    std::filesystem::path path_;
};

inline void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Gives `to` the last-write time of `from` shifted by `offset`, at full precision (the
// standard library's setter on mingw only keeps whole seconds).
inline void CopyWriteTime(const std::filesystem::path& from, const std::filesystem::path& to,
                          std::chrono::nanoseconds offset = {}) {
#ifdef _WIN32
    WIN32_FILE_ATTRIBUTE_DATA data;
    ::GetFileAttributesExW(from.c_str(), GetFileExInfoStandard, &data);
    ULARGE_INTEGER t;
    t.LowPart = data.ftLastWriteTime.dwLowDateTime;
    t.HighPart = data.ftLastWriteTime.dwHighDateTime;
    t.QuadPart += offset.count() / 100;
    FILETIME ft;
    ft.dwLowDateTime = t.LowPart;
    ft.dwHighDateTime = t.HighPart;
    win::UniqueHandle file(::CreateFileW(to.c_str(), FILE_WRITE_ATTRIBUTES,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                         FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    ::SetFileTime(file.Get(), nullptr, nullptr, &ft);
#else
    std::filesystem::last_write_time(to, std::filesystem::last_write_time(from) + offset);
#endif
}

}  // namespace testing_support
