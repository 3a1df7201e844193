#include "Qrt.h"

#include "base/Utf.h"
#include "package/FileSystem.h"
#include "package/PackageFormat.h"
#include "package/PackageWriter.h"

#ifdef _WIN32
#include "base/Win.h"
#endif

#include <algorithm>
#include <cwctype>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace stdfs = std::filesystem;

namespace {

using package::kMaterialFolders;

stdfs::path ToPath(const std::wstring& wide) {
#ifdef _WIN32
    return stdfs::path(wide);
#else
    return stdfs::path(text::ToUtf8(wide));
#endif
}

std::wstring ToWide(const stdfs::path& path) {
#ifdef _WIN32
    return path.native();
#else
    return text::FromUtf8(path.native());
#endif
}

std::string Show(const stdfs::path& path) {
    return text::ToUtf8(ToWide(path));
}

bool ReadWholeFile(const stdfs::path& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// Files whose names start with a dot (and, on Windows, hidden files such as thumbnail
// caches) are left out of packages.
bool IsHidden(const stdfs::path& path) {
#ifdef _WIN32
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_HIDDEN)) return true;
#endif
    const std::wstring name = ToWide(path.filename());
    return !name.empty() && name[0] == L'.';
}

// The description: one line of UTF-8 (a byte-order mark and final line breaks are dropped),
// at most kMaxNameChars UTF-16 units, no control characters.
bool ReadDescription(const stdfs::path& file, std::wstring& description, std::string& error) {
    std::string bytes;
    if (!ReadWholeFile(file, bytes)) {
        error = Show(file) + ": " + package::fs::WhyUnreadable(ToWide(file)) +
                " (every package needs a description)";
        return false;
    }
    if (bytes.rfind("\xEF\xBB\xBF", 0) == 0) bytes.erase(0, 3);
    if (!text::IsValidUtf8(bytes)) {
        error = Show(file) + ": not UTF-8 text";
        return false;
    }
    while (!bytes.empty() && (bytes.back() == '\n' || bytes.back() == '\r')) bytes.pop_back();
    // Positions count characters as a reader sees them: UTF-8 lead bytes.
    size_t position = 0;
    for (const char byte : bytes) {
        const unsigned char c = static_cast<unsigned char>(byte);
        if ((c & 0xC0) != 0x80) ++position;
        if (c >= 0x20 && c != 0x7F) continue;
        const std::string what = c == '\n' || c == '\r' ? "a line break"
                                 : c == '\t'            ? "a tab"
                                                        : "a control character";
        error = Show(file) + ": " + what + " at character " + std::to_string(position) +
                "; the description is one line of text";
        return false;
    }
    description = text::FromUtf8(bytes);
    if (description.size() > package::kMaxNameChars) {
        error = Show(file) + ": the description has " + std::to_string(description.size()) +
                " UTF-16 units; a package holds at most " + std::to_string(package::kMaxNameChars) +
                " (a character beyond U+FFFF, such as an emoji, takes two)";
        return false;
    }
    return true;
}

struct Member {
    std::wstring name;  // with backslashes
    stdfs::path file;
};

bool CollectMembers(const stdfs::path& root, std::vector<Member>& members, std::string& error,
                    std::vector<std::string>& warnings) {
    std::error_code ec;
    stdfs::recursive_directory_iterator it(root, ec), end;
    if (ec) {
        error = Show(root) + ": " + ec.message();
        return false;
    }
    for (; it != end; it.increment(ec)) {
        if (ec) {
            error = Show(root) + ": " + ec.message();
            return false;
        }
        const stdfs::path& path = it->path();
        if (IsHidden(path)) {  // left out without a word, as promised
            if (it->is_directory(ec)) it.disable_recursion_pending();
            continue;
        }
        if (it->is_directory(ec)) continue;
        if (!it->is_regular_file(ec)) {
            warnings.push_back("skipped " + Show(path) + " (not a regular file)");
            continue;
        }
        // A link is stored under its own name with its target's content; a target outside
        // the folder would carry in material that is not the author's.
        if (it->is_symlink(ec)) {
            const stdfs::path target = stdfs::weakly_canonical(path, ec);
            const stdfs::path inside = target.lexically_relative(stdfs::weakly_canonical(root, ec));
            if (ec || inside.empty() || *inside.begin() == "..") {
                error = Show(path) + ": a link to " + Show(target) + ", outside " + Show(root);
                return false;
            }
        }
        std::wstring name;
        for (const stdfs::path& part : path.lexically_relative(root)) {
            if (!name.empty()) name += L'\\';
            name += ToWide(part);
        }
        members.push_back({name, path});
    }
    std::sort(members.begin(), members.end(),
              [](const Member& a, const Member& b) { return a.name < b.name; });
    return true;
}

bool AddFile(package::PackageWriter& writer, uint8_t kind, const std::wstring& name,
             const stdfs::path& file, std::string& error) {
    // Checked before reading: on Windows a device name would open the device.
    if (const package::Problem p = package::CheckMemberPath(name); p != package::Problem::None) {
        error = Show(file) + ": " + package::Describe(p);
        return false;
    }
    std::string bytes;
    if (!ReadWholeFile(file, bytes)) {
        error = Show(file) + ": " + package::fs::WhyUnreadable(ToWide(file));
        return false;
    }
    return writer.AddMember(kind, name, reinterpret_cast<const uint8_t*>(bytes.data()),
                            bytes.size(), error);
}

// Edit distance between two names, letter case ignored.
size_t Distance(const std::wstring& a, const std::wstring& b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t above = row[j];
            const bool same = std::towlower(a[i - 1]) == std::towlower(b[j - 1]);
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

bool SameLetters(const std::wstring& a, const std::wstring& b) {
    return a.size() == b.size() && Distance(a, b) == 0;
}

// What an author's folder holds at its top: the description, the sample, the six folders.
struct Expected {
    const wchar_t* name;
    bool folder;
    uint8_t kind;  // 0 for the description
    stdfs::path found;
};

std::wstring Shown(const Expected& e) {
    return std::wstring(e.name) + (e.folder ? L"/" : L"");
}

// Matches the top-level entries with the expected names, letter case ignored; says which
// name it took where the case differs and what else it ignores, with the nearest expected name.
bool MatchTopLevel(const stdfs::path& root, std::vector<Expected>& expected, std::string& error,
                   std::vector<std::string>& notes) {
    std::error_code ec;
    std::vector<stdfs::directory_entry> entries;
    for (const stdfs::directory_entry& entry : stdfs::directory_iterator(root, ec))
        entries.push_back(entry);
    if (ec) {
        error = Show(root) + ": " + ec.message();
        return false;
    }
    std::sort(entries.begin(), entries.end());
    for (const stdfs::directory_entry& entry : entries) {
        if (IsHidden(entry.path())) continue;
        const std::wstring name = ToWide(entry.path().filename());
        const bool isFolder = entry.is_directory(ec);
        Expected* match = nullptr;
        for (Expected& e : expected) {
            if (SameLetters(name, e.name)) match = &e;
        }
        if (match && match->folder != isFolder) {
            notes.push_back("ignored " + Show(entry.path()) + ": " +
                            (match->folder
                                 ? "a file; " + text::ToUtf8(match->name) + " must be a folder"
                                 : "a folder; " + text::ToUtf8(match->name) + " must be a file"));
            continue;
        }
        if (match) {
            if (!match->found.empty()) {
                error = "both " + Show(match->found) + " and " + Show(entry.path()) + " are " +
                        text::ToUtf8(Shown(*match)) + "; keep one";
                return false;
            }
            match->found = entry.path();
            if (name != match->name)
                notes.push_back("took " + text::ToUtf8(name) + (isFolder ? "/" : "") + " as " +
                                text::ToUtf8(Shown(*match)));
            continue;
        }
        const Expected* nearest = &expected.front();
        for (const Expected& e : expected) {
            if (Distance(name, e.name) < Distance(name, nearest->name)) nearest = &e;
        }
        const size_t distance = Distance(name, nearest->name);
        notes.push_back(
            "ignored " + Show(entry.path()) +
            (distance <= 3 && distance < name.size()
                 ? ": did you mean " + text::ToUtf8(Shown(*nearest)) + "?"
                 : std::string(": not part of a package, which holds description.txt, "
                               "sample.jpg and the folders Templates/ Backgrounds/ Borders/ "
                               "Masks/ Textures/ Brushes/")));
    }
    return true;
}

// Whether `inner` lies inside `folder` (or is it), links and ".." resolved.
bool IsInside(const stdfs::path& inner, const stdfs::path& folder) {
    std::error_code ec;
    const stdfs::path relative =
        stdfs::weakly_canonical(inner, ec).lexically_relative(stdfs::weakly_canonical(folder, ec));
    return !ec && !relative.empty() && *relative.begin() != "..";
}

}  // namespace

bool PackFolder(const std::wstring& sourceFolder, const std::wstring& packagePath,
                PackSummary& summary, std::string& error, std::vector<std::string>& notes) {
    summary = PackSummary{};
    const stdfs::path root = ToPath(sourceFolder);
    const stdfs::path out = ToPath(packagePath);
    std::error_code ec;
    if (!stdfs::is_directory(root, ec)) {
        error = Show(root) + (stdfs::exists(root, ec) ? ": not a folder (pack takes the author's "
                                                        "folder)"
                                                      : ": no such folder");
        return false;
    }
    if (IsInside(out, root)) {
        error = Show(out) + " lies inside " + Show(root) + ", the folder being packed; choose " +
                "another place for the package";
        return false;
    }

    std::vector<Expected> expected = {{L"description.txt", false, 0, {}},
                                      {L"sample.jpg", false, package::kKindSample, {}}};
    for (const package::MaterialFolder& folder : kMaterialFolders)
        expected.push_back({folder.name, true, folder.kind, {}});
    if (!MatchTopLevel(root, expected, error, notes)) return false;

    package::PackageWriter writer;
    std::wstring description;
    if (expected[0].found.empty()) {
        error = Show(root / "description.txt") + ": no such file (every package needs a " +
                "description: one line of text)";
        return false;
    }
    if (!ReadDescription(expected[0].found, description, error) ||
        !writer.SetDescription(description, error)) {
        return false;
    }

    // The preview first, stored under the name the program looks for; then the six material
    // kinds in their install order, each sorted.
    summary.sample = !expected[1].found.empty();
    if (summary.sample &&
        !AddFile(writer, package::kKindSample, L"sample.jpg", expected[1].found, error)) {
        return false;
    }
    int material = 0;
    for (size_t k = 0; k < std::size(kMaterialFolders); ++k) {
        const stdfs::path& folder = expected[2 + k].found;
        if (folder.empty()) continue;
        std::vector<Member> members;
        if (!CollectMembers(folder, members, error, notes)) return false;
        for (const Member& member : members) {
            if (!AddFile(writer, kMaterialFolders[k].kind, member.name, member.file, error))
                return false;
        }
        summary.members[k] = static_cast<int>(members.size());
        material += summary.members[k];
    }
    if (material == 0)
        notes.push_back(
            "warning: no material: none of the six folders holds a file, so the "
            "package installs nothing");
    if (!summary.sample)
        notes.push_back("warning: no sample.jpg: Glimmerly shows a placeholder for this package");
    const bool replacing = stdfs::exists(out, ec);
    if (!writer.Write(packagePath, error, &summary.bytes)) return false;
    if (replacing) notes.push_back("warning: replaced the existing " + Show(out));
    return true;
}
