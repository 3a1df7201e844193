#include "package/FileSystem.h"

#include "base/Utf.h"

#include <cerrno>
#include <climits>
#include <memory>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace package::fs {
namespace {

// Seconds between 1601-01-01 and 1970-01-01.
constexpr int64_t kEpochDifference = 11644473600LL;

std::string NativePath(const std::wstring& path) {
    std::string native = text::ToUtf8(path);
    for (char& c : native) {
        if (c == '\\') c = '/';
    }
    return native;
}

bool WriteAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

// mkstemp's pattern; the six letters it fills in are ASCII letters and digits.
constexpr char kTempPrefix[] = ".~qrt-";
constexpr size_t kTempPrefixLength = sizeof kTempPrefix - 1;

bool IsTemporaryName(const char* name) {
    if (std::strncmp(name, kTempPrefix, kTempPrefixLength) != 0) return false;
    const char* rest = name + kTempPrefixLength;
    size_t n = 0;
    for (; rest[n]; ++n) {
        const char c = rest[n];
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
            return false;
    }
    return n == 6;
}

// A temporary file made and locked by this process. The lock is taken after creation, so
// a sweeper may have removed the file in between: then the name no longer leads to the
// file we hold, and a fresh one is made.
int CreateLockedTemporary(const std::string& folder, std::string& temp) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp = folder + "/" + kTempPrefix + "XXXXXX";
        const int fd = ::mkstemp(temp.data());
        if (fd < 0) return -1;
        struct stat held, named;
        if (::flock(fd, LOCK_EX) == 0 && ::fstat(fd, &held) == 0 &&
            ::stat(temp.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
            held.st_ino == named.st_ino) {
            return fd;
        }
        ::close(fd);
    }
    return -1;
}

// Plain words for the errors a user meets; the system's own text for the rest.
std::string Words(int error) {
    switch (error) {
        case ENOENT:
            return "no such file";
        case EACCES:
        case EPERM:
            return "access denied";
        case ENOSPC:
            return "the disk is full";
        case EROFS:
            return "the file system is read-only";
        case EISDIR:
            return "a folder, not a file";
        case ENOTDIR:
            return "a file is in the way of a folder";
        case ENOTEMPTY:
            return "the folder is not empty";
    }
    return std::strerror(error);
}

std::string WriteFailure(const std::string& target, int error) {
    if (error == ENOENT) {
        const size_t slash = target.find_last_of('/');
        return "the folder " + (slash == std::string::npos ? "." : target.substr(0, slash)) +
               " does not exist";
    }
    struct stat st;
    if (::stat(target.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        return "a folder of that name is in the way";
    return Words(error);
}

mode_t CurrentUmask() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

}  // namespace

FileTime Now() {
    struct timespec now;
    ::clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<FileTime>(now.tv_sec + kEpochDifference) * 10000000u +
           static_cast<FileTime>(now.tv_nsec / 100);
}

FILE* OpenForReading(const std::wstring& path) {
    return std::fopen(NativePath(path).c_str(), "rb");
}

bool LastWriteTime(const std::wstring& path, FileTime& time) {
    struct stat st;
    if (::stat(NativePath(path).c_str(), &st) != 0) return false;
    const int64_t seconds = static_cast<int64_t>(st.st_mtim.tv_sec) + kEpochDifference;
    if (seconds < 0) return false;
    time = static_cast<FileTime>(seconds) * 10000000u +
           static_cast<FileTime>(st.st_mtim.tv_nsec / 100);
    return true;
}

void CreateFolder(const std::wstring& path) {
    ::mkdir(NativePath(path).c_str(), 0777);
}

bool WriteFileAtomically(const std::wstring& path, const uint8_t* data, size_t size, FileTime time,
                         std::string* why) {
    const std::string target = NativePath(path);
    const size_t slash = target.find_last_of('/');
    std::string temp;
    const int fd = CreateLockedTemporary(
        slash == std::string::npos ? std::string(".") : target.substr(0, slash), temp);
    if (fd < 0) {
        if (why) *why = WriteFailure(target, errno);
        return false;
    }

    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    const int64_t hundreds = static_cast<int64_t>(time);
    times[1].tv_sec = static_cast<time_t>(hundreds / 10000000 - kEpochDifference);
    times[1].tv_nsec = static_cast<long>((hundreds % 10000000) * 100);
    // Moved into place while still locked, so no sweeper can take it first.
    const bool written = ::fchmod(fd, 0666 & ~CurrentUmask()) == 0 && WriteAll(fd, data, size) &&
                         ::futimens(fd, times) == 0;
    const bool ok = written && ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) {
        if (why) *why = written ? WriteFailure(target, errno) : Words(errno);
        ::unlink(temp.c_str());
    }
    const bool closed = ::close(fd) == 0;
    if (ok && !closed && why) *why = Words(errno);
    return closed && ok;
}

void RemoveLeftoverTemporaries(const std::wstring& folder) {
    const std::string native = NativePath(folder);
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(native.c_str()), ::closedir);
    if (!dir) return;
    while (const dirent* entry = ::readdir(dir.get())) {
        if (!IsTemporaryName(entry->d_name)) continue;
        const std::string path = native + "/" + entry->d_name;
        const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat st;
        // A writer that is still at work holds the lock.
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0)
            ::unlink(path.c_str());
        ::close(fd);
    }
}

Entry Inspect(const std::wstring& path) {
    Entry entry;
    const std::string native = NativePath(path);
    struct stat st;
    if (::stat(native.c_str(), &st) != 0) return entry;
    struct stat own;
    const bool link = ::lstat(native.c_str(), &own) == 0 && S_ISLNK(own.st_mode);
    entry.type = S_ISDIR(st.st_mode)              ? EntryType::Folder
                 : (S_ISREG(st.st_mode) && !link) ? EntryType::File
                                                  : EntryType::Other;
    entry.size = static_cast<uint64_t>(st.st_size);
    FileTime time = 0;
    if (LastWriteTime(path, time)) entry.time = time;
    entry.readOnly = (st.st_mode & 0222) == 0;
    return entry;
}

std::string WhyUnreadable(const std::wstring& path) {
    const std::string native = NativePath(path);
    struct stat st;
    if (::stat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return "a folder, not a file";
    const int fd = ::open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return errno == ENOTDIR ? "no such file" : Words(errno);
    ::close(fd);
    return "cannot be read";
}

bool HeldFile::Open(const std::wstring& path, bool /*forRemoval*/, std::string& why) {
    Close();
    // POSIX has no share modes; Remove checks that the name still leads to this file.
    const int fd = ::open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        why = errno == ELOOP ? "a link, not a file" : Words(errno);
        return false;
    }
    handle_ = fd;
    path_ = path;
    return true;
}

bool HeldFile::Read(uint8_t* data, size_t size, size_t& got) {
    got = 0;
    if (handle_ < 0) return false;
    for (;;) {
        const ssize_t n = ::read(static_cast<int>(handle_), data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        got = static_cast<size_t>(n);
        return true;
    }
}

bool HeldFile::Remove(std::string& why) {
    if (handle_ < 0) {
        why = "not open";
        return false;
    }
    const std::string native = NativePath(path_);
    struct stat held, named;
    if (::fstat(static_cast<int>(handle_), &held) != 0 || ::lstat(native.c_str(), &named) != 0 ||
        held.st_dev != named.st_dev || held.st_ino != named.st_ino) {
        why = "it was replaced while it was compared";
        return false;
    }
    // As on Windows, a read-only file is not removed.
    if ((named.st_mode & 0222) == 0) {
        why = "read-only";
        return false;
    }
    if (::unlink(native.c_str()) != 0) {
        why = Words(errno);
        return false;
    }
    Close();
    return true;
}

void HeldFile::Close() {
    if (handle_ >= 0) ::close(static_cast<int>(handle_));
    handle_ = -1;
}

bool RemoveEmptyFolder(const std::wstring& path) {
    const std::string native = NativePath(path);
    struct stat st;
    // A link is left alone: removing it would not remove an empty folder.
    if (::lstat(native.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    return ::rmdir(native.c_str()) == 0;
}

bool Seek(FILE* stream, uint64_t position) {
    return position <= static_cast<uint64_t>(LLONG_MAX) &&
           ::fseeko(stream, static_cast<off_t>(position), SEEK_SET) == 0;
}

bool Tell(FILE* stream, uint64_t& position) {
    const off_t at = ::ftello(stream);
    if (at < 0) return false;
    position = static_cast<uint64_t>(at);
    return true;
}

bool Size(FILE* stream, uint64_t& size) {
    uint64_t here;
    if (!Tell(stream, here) || ::fseeko(stream, 0, SEEK_END) != 0) return false;
    const bool ok = Tell(stream, size);
    return Seek(stream, here) && ok;
}

}  // namespace package::fs
