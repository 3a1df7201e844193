#pragma once
// Record-by-record view of a package for the tools: what `qrt list` prints and what
// `qrt verify` checks. The extraction path is TemplatePackage; this never writes files.

#include "package/PackageFormat.h"

#include <cstdint>
#include <string>
#include <vector>

namespace package {

struct MemberInfo {
    uint64_t offset = 0;  // of the record header
    RecordHeader header;
    std::wstring name;                // the stored units before the terminator (or all of them)
    bool sizeKnown = false;           // U could be read
    uint32_t inflatedSize = 0;        // U as stored
    Problem problem = Problem::None;  // framing, name and length checks; not inflation
};

struct Listing {
    std::wstring description;
    Problem descriptionProblem = Problem::None;  // framing of the description field only
    std::vector<MemberInfo> members;
};

// "PATH: why" when `path` cannot be opened as a package (no such file, a folder, not a
// package, ...); empty when it can.
std::string WhyNotAPackage(const std::wstring& path);

// Reads the description and every member record's header, name and stored size, in file
// order. A record cut off by the end of the file ends the listing with Truncated.
// False (with `error`) when the file cannot be read or is not a package.
bool ReadListing(const std::wstring& path, Listing& listing, std::string& error);

// Checks every record: complete, safely named, and inflating to exactly its stated size.
// Returns one line per problem; empty when the package is sound. False (with `error`) when
// the file cannot be read or is not a package.
bool VerifyPackage(const std::wstring& path, std::vector<std::string>& problems,
                   std::string& error);

}  // namespace package
