#pragma once
// Windows paths as the tools take them from a command line.

#include <string>

namespace win {

// The path with its drive (or share) and no relative parts; as given when that fails. Under
// Wine a Linux path such as /srv/pictures becomes one on the drive mapped to the root.
std::wstring FullPath(const std::wstring& path);

}  // namespace win
