#include "Qrt.h"

#include "base/Utf.h"
#include "package/PackageFormat.h"
#include "package/PackageWriter.h"

#ifdef _WIN32
#include "base/Win.h"
#endif

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace stdfs = std::filesystem;

namespace {

struct MaterialFolder {
    uint8_t kind;
    const wchar_t* name;
};

const MaterialFolder kMaterialFolders[] = {
    {16, L"Templates"}, {17, L"Backgrounds"}, {18, L"Borders"},
    {19, L"Masks"},     {20, L"Textures"},    {21, L"Brushes"},
};

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

bool ReadDescription(const stdfs::path& folder, std::wstring& description, std::string& error) {
    const stdfs::path file = folder / "description.txt";
    std::string bytes;
    if (!ReadWholeFile(file, bytes)) {
        error = Show(file) + ": cannot be read (every package needs a description)";
        return false;
    }
    if (bytes.rfind("\xEF\xBB\xBF", 0) == 0) bytes.erase(0, 3);
    if (!text::IsValidUtf8(bytes)) {
        error = Show(file) + ": not UTF-8 text";
        return false;
    }
    while (!bytes.empty() && (bytes.back() == '\n' || bytes.back() == '\r')) bytes.pop_back();
    description = text::FromUtf8(bytes);
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
        if (IsHidden(path)) {
            warnings.push_back("skipped hidden " + Show(path));
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
        error = Show(file) + ": cannot be read";
        return false;
    }
    return writer.AddMember(kind, name, reinterpret_cast<const uint8_t*>(bytes.data()),
                            bytes.size(), error);
}

}  // namespace

bool PackFolder(const std::wstring& sourceFolder, const std::wstring& packagePath,
                std::string& error, std::vector<std::string>& warnings) {
    const stdfs::path root = ToPath(sourceFolder);
    std::error_code ec;
    if (!stdfs::is_directory(root, ec)) {
        error = Show(root) + ": not a folder";
        return false;
    }

    package::PackageWriter writer;
    std::wstring description;
    if (!ReadDescription(root, description, error) || !writer.SetDescription(description, error))
        return false;

    // The preview first, then the six material kinds in their install order, each sorted.
    const stdfs::path sample = root / "sample.jpg";
    if (stdfs::is_regular_file(sample, ec) &&
        !AddFile(writer, package::kKindSample, L"sample.jpg", sample, error)) {
        return false;
    }
    for (const MaterialFolder& folder : kMaterialFolders) {
        const stdfs::path path = root / ToPath(folder.name);
        if (!stdfs::is_directory(path, ec)) continue;
        std::vector<Member> members;
        if (!CollectMembers(path, members, error, warnings)) return false;
        for (const Member& member : members) {
            if (!AddFile(writer, folder.kind, member.name, member.file, error)) return false;
        }
    }

    // Anything else at the top is not part of a package; say so rather than drop it quietly.
    for (const stdfs::directory_entry& entry : stdfs::directory_iterator(root, ec)) {
        const std::wstring name = ToWide(entry.path().filename());
        const bool known = name == L"description.txt" || name == L"sample.jpg" ||
                           std::any_of(std::begin(kMaterialFolders), std::end(kMaterialFolders),
                                       [&](const MaterialFolder& f) { return name == f.name; });
        if (!known) warnings.push_back("ignored " + Show(entry.path()));
    }
    return writer.Write(packagePath, error);
}
