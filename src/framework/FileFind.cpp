#include "framework/FileFind.h"

#include "base/Handles.h"

#include <cwchar>

namespace fw {

std::vector<std::wstring> SubfolderNames(const wchar_t* folder, size_t appended) {
    std::vector<std::wstring> names;
    if (!folder || !*folder) return names;  // not the current drive's root
    const size_t base = std::wcslen(folder);
    const std::wstring pattern = std::wstring(folder) + L"\\*.*";
    WIN32_FIND_DATAW found;
    win::UniqueFindHandle search(::FindFirstFileW(pattern.c_str(), &found));
    if (!search) return names;
    do {
        const std::wstring name = found.cFileName;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && name != L"." && name != L".." &&
            base + name.size() + appended <= kMaxFolderPath) {
            names.push_back(name);
        }
    } while (::FindNextFileW(search.Get(), &found));
    return names;
}

}  // namespace fw
