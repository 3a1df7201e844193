#pragma once
// Folder searches as the application lists its material.

#include <string>
#include <vector>

namespace fw {

// The longest path the program hands to Windows; a folder whose path is longer is not listed,
// since Windows (without long-path support) cannot open it and a cut path names another.
inline constexpr size_t kMaxFolderPath = 259;

// The names of the sub-folders of `folder`, in the order the file system gives them ("." and
// ".." left out). The folder is searched with "\*.*" appended; a folder that already ends in a
// backslash gives a doubled separator, which the file system accepts. Names whose path
// (`folder`, the name and `appended` characters more) would pass kMaxFolderPath are left out;
// an empty folder lists nothing.
std::vector<std::wstring> SubfolderNames(const wchar_t* folder, size_t appended = 0);

}  // namespace fw
