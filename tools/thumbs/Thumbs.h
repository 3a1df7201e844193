#pragma once
// The thumbs command line: builds, shows and exports a folder's thumbnail cache with the
// program's own cache code. Output is UTF-8, one line per item.

#include <cstdio>
#include <string>
#include <vector>

// Runs one command (arguments without the program name); returns the exit code:
// 0 success, 1 the folder cannot be listed or cached or the thumbnail is not stored, 2 usage
// error. Path arguments are made full (drive, no relative parts) before use.
int RunThumbs(const std::vector<std::wstring>& args, FILE* out, FILE* err);
