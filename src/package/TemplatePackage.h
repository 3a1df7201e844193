#pragma once
// Reader of ".qrt" template packages: opens one, hands out its description and extracts
// the members of one kind into a folder. Lives for one command on one thread.

#include "package/PackageFormat.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <set>
#include <string>

class TemplatePackage {
public:
    // Receives one line for every member that is refused (unsafe name, impossible lengths,
    // data that does not inflate; extraction goes on after each) and for the member whose
    // destination cannot be written (extraction stops there).
    using DiagnosticSink = std::function<void(const std::wstring& message)>;

    // What the last ExtractKind did with the members of its kind.
    struct Tally {
        int written = 0;
        int inPlace = 0;  // kept: the file in place has the package's own time
        int newer = 0;    // kept: the file in place is newer than the package
        int refused = 0;  // reported to the sink: refused, corrupt or unwritable
        int Kept() const { return inPlace + newer; }
    };

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

    // The content of the last member of `kind` that inflates whole (the one ExtractKind leaves
    // in place), into `out`; false when there is none or the package is not open. Nothing is
    // written to disk; members larger than `maxBytes` are passed over. Every call starts at the
    // first member.
    bool ReadMember(int kind, size_t maxBytes, package::Buffer& out);

    // 1: closed (or nothing was open); 4: closing reported a failure.
    int Close();

    void SetDiagnosticSink(DiagnosticSink sink) { diagnostics_ = std::move(sink); }

    const Tally& LastTally() const { return tally_; }

private:
    void Report(const std::wstring& name, package::Problem problem, const std::string& why = {});
    // Before the first write into a folder, the leftovers of an interrupted run go.
    void SweepOnce(const std::wstring& destination);

    wchar_t path_[520] = {};
    FILE* stream_ = nullptr;
    uint8_t header_[package::kRecordHeaderSize] = {};  // the record header last read, as stored
    uint64_t startPosition_ = 0;                       // after the description; 0 until opened
    DiagnosticSink diagnostics_;
    Tally tally_;
    std::set<std::wstring> swept_;  // folders swept during this ExtractKind
};
