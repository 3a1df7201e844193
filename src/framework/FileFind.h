#pragma once
// Folder searches as the application lists its material.

#include <string>
#include <vector>

namespace fw {

// The names of the sub-folders of `folder`, in the order the file system gives them ("." and
// ".." left out). The folder is searched with "\*.*" appended; a folder that already ends in a
// backslash gives a doubled separator, which the file system accepts.
std::vector<std::wstring> SubfolderNames(const wchar_t* folder);

}  // namespace fw
