#include "framework/FileFind.h"

#include "base/Handles.h"

namespace fw {

std::vector<std::wstring> SubfolderNames(const wchar_t* folder) {
    std::vector<std::wstring> names;
    const std::wstring pattern = std::wstring(folder ? folder : L"") + L"\\*.*";
    WIN32_FIND_DATAW found;
    win::UniqueFindHandle search(::FindFirstFileW(pattern.c_str(), &found));
    if (!search) return names;
    do {
        const std::wstring name = found.cFileName;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && name != L"." && name != L"..") {
            names.push_back(name);
        }
    } while (::FindNextFileW(search.Get(), &found));
    return names;
}

}  // namespace fw
