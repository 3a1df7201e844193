#pragma once
// Reader of ".qrt" template packages: opens one, hands out its description and extracts
// the members of one kind into a folder. Lives for one command on one thread.

#include "package/PackageFormat.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

class TemplatePackage {
public:
    // Receives one line for every member that is refused (unsafe name, impossible lengths,
    // data that does not inflate). Extraction goes on after each.
    using DiagnosticSink = std::function<void(const std::wstring& message)>;

    TemplatePackage() = default;
    ~TemplatePackage();
    TemplatePackage(const TemplatePackage&) = delete;
    TemplatePackage& operator=(const TemplatePackage&) = delete;

    // 1: open and positioned after the description; 0: the file cannot be read or is not a
    // package. `description`, when given, holds package::kDescriptionChars characters.
    int Open(const wchar_t* path, wchar_t* description);

    // 1: the scan reached the end of the package; -1: a destination file could not be
    // created (members written before it stay). Every call starts at the first member.
    int ExtractKind(int kind, const wchar_t* folder);

    // 1: closed (or nothing was open); 4: closing reported a failure.
    int Close();

    void SetDiagnosticSink(DiagnosticSink sink) { diagnostics_ = std::move(sink); }

private:
    void Report(const std::wstring& name, package::Problem problem) const;
    static void CreateSubFolders(const std::wstring& folder, const std::wstring& name);

    wchar_t path_[520] = {};
    FILE* stream_ = nullptr;
    uint8_t header_[package::kRecordHeaderSize] = {};  // the record header last read, as stored
    uint64_t startPosition_ = 0;                       // after the description; 0 until opened
    DiagnosticSink diagnostics_;
};
