#pragma once
// The qrt command line: list, extract, verify, pack and (Windows) install template
// packages. Output is UTF-8, one line per item.

#include <cstdio>
#include <string>
#include <vector>

// Runs one command (arguments without the program name) and returns its exit code:
// 0 success, 1 the package cannot be opened or the command failed, 2 usage error,
// 3 a member was refused or could not be written (extract, install), 4 problems found
// (verify) or the package is cut short (list).
int RunQrt(const std::vector<std::wstring>& args, FILE* out, FILE* err);

// Packs an author's folder into a package: description.txt, the six material folders and
// sample.jpg. Notes about skipped entries go to `warnings`.
bool PackFolder(const std::wstring& sourceFolder, const std::wstring& packagePath,
                std::string& error, std::vector<std::string>& warnings);
