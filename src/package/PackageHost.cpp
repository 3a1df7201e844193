#include "package/PackageHost.h"

#include "base/Utf.h"
#include "package/PackageContents.h"
#include "package/PackageFormat.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <set>

namespace package {
namespace {

constexpr size_t kChunk = 64 * 1024;

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using PackageFile = std::unique_ptr<FILE, FileCloser>;

bool IsSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

Age AgeOf(fs::FileTime file, fs::FileTime package) {
    return file > package ? Age::Newer : file < package ? Age::Older : Age::Same;
}

enum class Stream { Complete, Stopped, Corrupt, Unreadable };

// Inflates a member's data piece by piece into `sink`, which returns false to stop. More
// output than the stated size is Corrupt, as the reader refuses it; `produced` is the total.
Stream StreamMember(FILE* file, const MemberInfo& member,
                    const std::function<bool(const uint8_t*, size_t)>& sink, uint64_t& produced) {
    produced = 0;
    const uint64_t dataAt =
        member.offset + kRecordHeaderSize + member.header.nameLength + kSizeFieldSize;
    uint64_t left = member.header.dataLength - kSizeFieldSize;
    if (!fs::Seek(file, dataAt)) return Stream::Unreadable;
    z_stream z = {};
    if (inflateInit(&z) != Z_OK) return Stream::Corrupt;
    const std::unique_ptr<z_stream, int (*)(z_stream*)> end(&z, inflateEnd);
    std::vector<uint8_t> in(kChunk), out(kChunk);
    for (int rc = Z_OK; rc != Z_STREAM_END;) {
        if (z.avail_in == 0) {
            if (left == 0) return Stream::Corrupt;  // the data ends before the stream does
            const size_t want = static_cast<size_t>(std::min<uint64_t>(left, kChunk));
            if (std::fread(in.data(), 1, want, file) != want) return Stream::Unreadable;
            left -= want;
            z.next_in = in.data();
            z.avail_in = static_cast<uInt>(want);
        }
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(kChunk);
        rc = inflate(&z, Z_NO_FLUSH);
        const size_t got = kChunk - z.avail_out;
        if (rc != Z_OK && rc != Z_STREAM_END && !(rc == Z_BUF_ERROR && z.avail_in == 0))
            return Stream::Corrupt;
        produced += got;
        if (produced > member.inflatedSize) return Stream::Corrupt;
        if (got > 0 && !sink(out.data(), got)) return Stream::Stopped;
    }
    return Stream::Complete;
}

enum class Match { Same, Differs, Corrupt, Unreadable };

// The member's content against the rest of `held`, which has the member's stated size.
Match CompareWithFile(FILE* package, const MemberInfo& member, fs::HeldFile& held) {
    std::vector<uint8_t> mine(kChunk);
    bool readFailed = false;
    uint64_t produced = 0;
    const Stream result = StreamMember(
        package, member,
        [&](const uint8_t* data, size_t size) {
            while (size > 0) {
                size_t got = 0;
                if (!held.Read(mine.data(), std::min(size, kChunk), got)) {
                    readFailed = true;
                    return false;
                }
                if (got == 0 || std::memcmp(mine.data(), data, got) != 0) return false;
                data += got;
                size -= got;
            }
            return true;
        },
        produced);
    if (readFailed) return Match::Unreadable;
    if (result == Stream::Corrupt || result == Stream::Unreadable) return Match::Corrupt;
    if (result == Stream::Stopped || produced != member.inflatedSize) return Match::Differs;
    uint8_t extra;
    size_t got = 0;
    if (!held.Read(&extra, 1, got)) return Match::Unreadable;
    return got == 0 ? Match::Same : Match::Differs;
}

// The members of the six kinds as an install meets them.
struct Candidate {
    const MemberInfo* info = nullptr;
    std::wstring relative;            // KIND-FOLDER\NAME
    std::wstring destination;         // host\KIND-FOLDER\NAME
    std::wstring folder;              // host\KIND-FOLDER
    Problem refusal = Problem::None;  // refused before the file in place is looked at
    Problem lengths = Problem::None;  // impossible data lengths, found after that
};

class HostWalk {
public:
    bool Open(const std::wstring& packagePath, const std::wstring& host, std::string& error) {
        if (!ReadListing(packagePath, listing_, error)) return false;
        file_.reset(fs::OpenForReading(packagePath));
        if (!file_ || !fs::LastWriteTime(packagePath, packageTime_)) {
            error = "cannot read " + text::ToUtf8(packagePath);
            return false;
        }
        host_ = host;
        // One trailing separator goes, as the install command does with "AppPath".
        if (!host_.empty() && IsSeparator(host_.back())) host_.pop_back();
        return true;
    }

    // Calls `visit(kindFolderName, candidates)` for each of the six kinds in install order.
    template <class Visit>
    void ForEachKind(Visit visit) const {
        for (const MaterialFolder& kind : kMaterialFolders) {
            std::vector<Candidate> candidates;
            for (const MemberInfo& member : listing_.members) {
                if (member.header.kind != kind.kind) continue;
                Candidate c;
                c.info = &member;
                c.folder = host_ + L'\\' + kind.name;
                c.relative = std::wstring(kind.name) + L'\\' + member.name;
                c.destination = c.folder + L'\\' + member.name;
                const bool lengthProblem = member.problem == Problem::DataTooShort ||
                                           member.problem == Problem::SizeUnreachable;
                if (member.problem != Problem::None && !lengthProblem) {
                    c.refusal = member.problem;
                } else if (c.destination.size() > kMaxPathChars) {
                    c.refusal = Problem::PathTooLong;
                } else if (lengthProblem) {
                    c.lengths = member.problem;
                }
                candidates.push_back(std::move(c));
            }
            visit(kind.name, candidates);
        }
    }

    FILE* PackageStream() const { return file_.get(); }
    fs::FileTime PackageTime() const { return packageTime_; }
    const std::wstring& Host() const { return host_; }

private:
    Listing listing_;
    PackageFile file_;
    fs::FileTime packageTime_ = 0;
    std::wstring host_;
};

}  // namespace

InPlace CompareInPlace(const std::wstring& destination, fs::FileTime packageTime) {
    fs::FileTime existing;
    if (!fs::LastWriteTime(destination, existing)) return InPlace::None;
    return packageTime > existing   ? InPlace::Older
           : packageTime < existing ? InPlace::Newer
                                    : InPlace::Same;
}

std::vector<std::wstring> SubFolderLevels(const std::wstring& name) {
    std::vector<std::wstring> levels;
    for (size_t n = 0; n < name.size(); ++n) {
        if (name[n] == L'.' && name.size() - n - 1 == 3) break;
        if (IsSeparator(name[n])) levels.push_back(name.substr(0, n));
    }
    return levels;
}

int Removal::Count(RemovalOutcome outcome) const {
    return static_cast<int>(
        std::count_if(members.begin(), members.end(),
                      [&](const RemovedMember& m) { return m.outcome == outcome; }));
}

bool CheckHost(const std::wstring& packagePath, const std::wstring& host,
               std::vector<HostMember>& members, std::string& error) {
    members.clear();
    HostWalk walk;
    if (!walk.Open(packagePath, host, error)) return false;
    walk.ForEachKind([&](const wchar_t*, const std::vector<Candidate>& candidates) {
        std::set<std::wstring> taken;
        for (const Candidate& c : candidates) {
            HostMember m;
            m.kind = c.info->header.kind;
            m.relative = c.relative;
            const Problem refusal = c.refusal != Problem::None ? c.refusal : c.lengths;
            if (refusal != Problem::None) {
                m.state = HostState::Refused;
                m.reason = Describe(refusal);
                members.push_back(std::move(m));
                continue;
            }
            if (!taken.insert(MemberNameKey(c.info->name)).second) continue;
            const fs::Entry entry = fs::Inspect(c.destination);
            m.age = AgeOf(entry.time, walk.PackageTime());
            if (entry.type == fs::EntryType::None) {
                m.state = HostState::Missing;
            } else if (entry.type != fs::EntryType::File) {
                m.state = HostState::Differs;
                m.reason = entry.type == fs::EntryType::Folder ? "a folder, not a file"
                                                               : "not a plain file";
            } else if (entry.size != c.info->inflatedSize) {
                m.state = HostState::Differs;
            } else {
                fs::HeldFile held;
                if (!held.Open(c.destination, false, m.reason)) {
                    m.state = HostState::Unreadable;
                } else {
                    switch (CompareWithFile(walk.PackageStream(), *c.info, held)) {
                        case Match::Same:
                            m.state = HostState::Installed;
                            break;
                        case Match::Differs:
                            m.state = HostState::Differs;
                            break;
                        case Match::Corrupt:
                            m.state = HostState::Refused;
                            m.reason = Describe(Problem::Corrupt);
                            taken.erase(MemberNameKey(c.info->name));
                            break;
                        case Match::Unreadable:
                            m.state = HostState::Unreadable;
                            m.reason = "cannot be read";
                            break;
                    }
                }
            }
            members.push_back(std::move(m));
        }
    });
    return true;
}

bool PlanInstall(const std::wstring& packagePath, const std::wstring& host,
                 std::vector<PlannedMember>& members, std::string& error) {
    members.clear();
    HostWalk walk;
    if (!walk.Open(packagePath, host, error)) return false;
    std::set<std::wstring> madeFolders;  // MemberNameKey of folders the install would make
    const auto exists = [&](const std::wstring& folder) {
        return madeFolders.count(MemberNameKey(folder)) > 0 ||
               fs::Inspect(folder).type == fs::EntryType::Folder;
    };
    walk.ForEachKind([&](const wchar_t* kindName, const std::vector<Candidate>& candidates) {
        std::set<std::wstring> placed;  // names this install writes or keeps
        // The install makes a missing material folder; anything else of its name means the
        // first member that gets that far cannot be written.
        std::string blocked;
        if (!candidates.empty()) {
            const std::wstring& folder = candidates.front().folder;
            const fs::EntryType type = fs::Inspect(folder).type;
            if (type == fs::EntryType::None) {
                madeFolders.insert(MemberNameKey(folder));
            } else if (type != fs::EntryType::Folder) {
                blocked = text::ToUtf8(kindName) + " is a file, not a folder";
            }
        }
        bool stopped = false;  // install ends the kind at a member it cannot write
        for (const Candidate& c : candidates) {
            PlannedMember m;
            m.kind = c.info->header.kind;
            m.relative = c.relative;
            const auto finish = [&](PlanAction action, std::string reason) {
                m.action = action;
                m.reason = std::move(reason);
                members.push_back(std::move(m));
            };
            if (stopped) {
                finish(PlanAction::NotReached,
                       "not reached: install stops this kind at the member that cannot be written");
                continue;
            }
            if (c.refusal != Problem::None) {
                finish(PlanAction::Refuse, Describe(c.refusal));
                continue;
            }
            const std::wstring key = MemberNameKey(c.info->name);
            if (blocked.empty() && placed.count(key)) {
                finish(PlanAction::Skip, "the same file as an earlier member, which install keeps");
                continue;
            }
            switch (blocked.empty() ? CompareInPlace(c.destination, walk.PackageTime())
                                    : InPlace::None) {
                case InPlace::Same:
                    placed.insert(key);
                    finish(PlanAction::Skip, "already in place");
                    continue;
                case InPlace::Newer:
                    placed.insert(key);
                    finish(PlanAction::Skip, "kept: the file in place is newer than the package");
                    continue;
                case InPlace::None:
                case InPlace::Older:
                    break;
            }
            // The levels install makes come first; lengths and data are checked after them.
            for (const std::wstring& level : SubFolderLevels(c.info->name)) {
                const std::wstring path = c.folder + L'\\' + level;
                if (blocked.empty() && fs::Inspect(path).type == fs::EntryType::None)
                    madeFolders.insert(MemberNameKey(path));
            }
            if (c.lengths != Problem::None) {
                finish(PlanAction::Refuse, Describe(c.lengths));
                continue;
            }
            uint64_t produced = 0;
            if (StreamMember(
                    walk.PackageStream(), *c.info, [](const uint8_t*, size_t) { return true; },
                    produced) != Stream::Complete) {
                finish(PlanAction::Refuse, Describe(Problem::Corrupt));
                continue;
            }
            std::string obstacle = blocked;
            const std::wstring& name = c.info->name;
            for (size_t n = 0; n < name.size() && obstacle.empty(); ++n) {
                if (!IsSeparator(name[n])) continue;
                const std::wstring path = c.folder + L'\\' + name.substr(0, n);
                if (exists(path)) continue;
                const std::string shown =
                    text::ToUtf8(std::wstring(kindName) + L'\\' + name.substr(0, n));
                obstacle = fs::Inspect(path).type == fs::EntryType::None
                               ? "the folder " + shown + " does not exist and is not made"
                               : shown + " is a file, not a folder";
            }
            const fs::Entry entry = fs::Inspect(c.destination);
            if (obstacle.empty() && entry.type == fs::EntryType::Folder)
                obstacle = "a folder of that name is in the way";
            if (obstacle.empty() && entry.readOnly)
                obstacle = "a read-only file of that name is in the way";
            if (!obstacle.empty()) {
                stopped = true;
                finish(PlanAction::Refuse, "cannot be written: " + obstacle);
                continue;
            }
            placed.insert(key);
            finish(PlanAction::Write, "");
        }
    });
    return true;
}

bool UninstallFromHost(const std::wstring& packagePath, const std::wstring& host, Removal& removal,
                       std::string& error) {
    removal = Removal{};
    HostWalk walk;
    if (!walk.Open(packagePath, host, error)) return false;
    // Folder levels below removed files: key -> KIND-FOLDER\LEVEL as named in the package.
    std::map<std::wstring, std::wstring> levels;
    walk.ForEachKind([&](const wchar_t* kindName, const std::vector<Candidate>& candidates) {
        for (const Candidate& c : candidates) {
            RemovedMember m;
            m.kind = c.info->header.kind;
            m.relative = c.relative;
            const Problem refusal = c.refusal != Problem::None ? c.refusal : c.lengths;
            const fs::Entry entry =
                refusal == Problem::None ? fs::Inspect(c.destination) : fs::Entry{};
            m.age = AgeOf(entry.time, walk.PackageTime());
            fs::HeldFile held;
            if (refusal != Problem::None) {
                m.outcome = RemovalOutcome::Refused;
                m.reason = Describe(refusal);
            } else if (entry.type == fs::EntryType::None) {
                m.outcome = RemovalOutcome::Missing;
            } else if (entry.type != fs::EntryType::File) {
                m.outcome = RemovalOutcome::Kept;
                m.reason = entry.type == fs::EntryType::Folder ? "a folder, not a file"
                                                               : "not a plain file";
            } else if (entry.size != c.info->inflatedSize) {
                m.outcome = RemovalOutcome::Kept;
            } else if (!held.Open(c.destination, true, m.reason)) {
                m.outcome = RemovalOutcome::Failed;
            } else {
                switch (CompareWithFile(walk.PackageStream(), *c.info, held)) {
                    case Match::Same:
                        if (held.Remove(m.reason)) {
                            m.outcome = RemovalOutcome::Removed;
                            const std::wstring& name = c.info->name;
                            for (size_t n = 0; n < name.size(); ++n) {
                                if (!IsSeparator(name[n])) continue;
                                const std::wstring level =
                                    std::wstring(kindName) + L'\\' + name.substr(0, n);
                                levels.try_emplace(MemberNameKey(level), level);
                            }
                        } else {
                            m.outcome = RemovalOutcome::Failed;
                        }
                        break;
                    case Match::Differs:
                        m.outcome = RemovalOutcome::Kept;
                        break;
                    case Match::Corrupt:
                        m.outcome = RemovalOutcome::Refused;
                        m.reason = Describe(Problem::Corrupt);
                        break;
                    case Match::Unreadable:
                        m.outcome = RemovalOutcome::Failed;
                        m.reason = "cannot be read";
                        break;
                }
            }
            removal.members.push_back(std::move(m));
        }
    });
    // Deepest first, so a level emptied by removing the one below it goes too.
    std::vector<std::wstring> ordered;
    for (const auto& [key, level] : levels) ordered.push_back(level);
    const auto depth = [](const std::wstring& level) {
        return std::count_if(level.begin(), level.end(), IsSeparator);
    };
    std::stable_sort(
        ordered.begin(), ordered.end(),
        [&](const std::wstring& a, const std::wstring& b) { return depth(a) > depth(b); });
    for (const std::wstring& level : ordered) {
        if (fs::RemoveEmptyFolder(walk.Host() + L'\\' + level)) removal.folders.push_back(level);
    }
    return true;
}

}  // namespace package
