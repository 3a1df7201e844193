#pragma once
// The qrt command line: list, extract, verify, pack and (Windows) install template
// packages. Output is UTF-8, one line per item.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Runs one command (arguments without the program name) and returns its exit code:
// 0 success, 1 the package cannot be opened or the command failed, 2 usage error,
// 3 a member was refused or could not be written (extract, install), 4 problems found
// (verify) or the package is cut short (list).
int RunQrt(const std::vector<std::wstring>& args, FILE* out, FILE* err);

struct PackSummary {
    int members[6] = {};  // per material kind, in install order
    bool sample = false;
    uint64_t bytes = 0;  // the package's size
};

// Packs an author's folder into a package: description.txt, the six material folders and
// sample.jpg, their names matched without regard to letter case. Notes on what was taken,
// ignored or missing go to `notes`.
bool PackFolder(const std::wstring& sourceFolder, const std::wstring& packagePath,
                PackSummary& summary, std::string& error, std::vector<std::string>& notes);
