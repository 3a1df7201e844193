#include "Qrt.h"

#include "base/Utf.h"
#include "glimmerly/Version.h"
#include "package/FileSystem.h"
#include "package/PackageContents.h"
#include "package/PackageHost.h"
#include "package/TemplatePackage.h"

#ifdef _WIN32
#include "app/InstallCommand.h"
#include "base/FullPath.h"
#endif

#include <cwchar>
#include <cwctype>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitUnwritable = 3;
constexpr int kExitProblems = 4;
constexpr int kExitNotInstalled = 5;

// Each command's usage line, shown with a usage error of that command.
struct CommandForm {
    const wchar_t* name;
    size_t operands;
    const char* usage;
};

const CommandForm kCommands[] = {
    {L"list", 1, "qrt list PKG"},
    {L"verify", 1, "qrt verify PKG"},
    {L"extract", 3, "qrt extract [-q] PKG KIND FOLDER"},
    {L"pack", 2, "qrt pack [-q] SRCDIR OUT.qrt"},
    {L"install", 1, "qrt install [-q] [--dry-run [--host FOLDER]] PKG"},
    {L"status", 1, "qrt status [-q] [--host FOLDER] PKG"},
    {L"uninstall", 1, "qrt uninstall [-q] [--host FOLDER] PKG"},
};

const char kUsage[] =
    "usage: qrt COMMAND ...\n"
    "  qrt list PKG                  description and one line per record: KIND<TAB>SIZE<TAB>NAME;\n"
    "                                exit 4 when the package is cut short\n"
    "  qrt verify PKG                check every record; exit 4 and one line per problem\n"
    "  qrt extract PKG KIND FOLDER   extract the members of one kind below FOLDER (which must\n"
    "                                exist); KIND is 16-22 or Templates, Backgrounds, Borders,\n"
    "                                Masks, Textures, Brushes, sample; exit 3 when any of them\n"
    "                                is refused or cannot be written\n"
    "  qrt pack SRCDIR OUT.qrt       pack description.txt, sample.jpg and the folders Templates/\n"
    "                                Backgrounds/ Borders/ Masks/ Textures/ Brushes/ of SRCDIR\n"
    "  qrt install PKG               install PKG into the host application's folders; exit 3\n"
    "                                and a line per member when some could not be installed\n"
    "  qrt install --dry-run PKG     what install would write, skip or refuse; writes nothing\n"
    "  qrt status PKG                one line per member: installed, differs or missing in the\n"
    "                                host's folders; exit 5 unless everything is installed\n"
    "  qrt uninstall PKG             remove the host files identical to PKG's members; exit 3\n"
    "                                when some could not be removed\n"
    "  --host FOLDER                 status, uninstall, install --dry-run: this host folder\n"
#ifdef _WIN32
    "                                instead of the one registered in \"AppPath\"\n"
#else
    "                                (required here: only qrt.exe reads the registry)\n"
#endif
    "  -q                            no summary line\n"
    "  qrt --version                 the version\n"
    "  qrt --help                    this text\n";

void Print(FILE* stream, const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

// One item per line: control characters in stored names must not break the lines.
std::string Printable(const std::wstring& stored) {
    std::wstring safe = stored;
    for (wchar_t& c : safe) {
        if (c < 0x20 || c == 0x7F) c = L'?';
    }
    return text::ToUtf8(safe);
}

int Usage(FILE* err, const std::string& message) {
    Print(err, "qrt: " + message);
    std::fputs(kUsage, err);
    return kExitUsage;
}

// A usage error of a known command: its own usage line.
int CommandUsage(FILE* err, const CommandForm& form, const std::string& message) {
    Print(err, "qrt: " + message);
    Print(err, std::string("usage: ") + form.usage);
    Print(err, "(qrt --help describes every command)");
    return kExitUsage;
}

// A path operand as the commands use it: made full on Windows (under Wine a Linux path such as
// /srv/x names Z:\srv\x), as given elsewhere.
std::wstring Full(const std::wstring& path) {
#ifdef _WIN32
    return win::FullPath(path);
#else
    return path;
#endif
}

// The command's options and operands.
struct Invocation {
    std::wstring command;
    std::vector<std::wstring> operands;
    bool quiet = false;
    bool dryRun = false;
    bool hostGiven = false;
    std::wstring host;
};

bool Parse(const std::vector<std::wstring>& args, Invocation& call, std::string& error) {
    call.command = args[0];
    bool optionsEnd = false;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::wstring& arg = args[i];
        if (optionsEnd || arg.empty() || arg[0] != L'-' || arg == L"-") {
            call.operands.push_back(arg);
        } else if (arg == L"--") {
            optionsEnd = true;
        } else if (arg == L"-q" || arg == L"--quiet") {
            call.quiet = true;
        } else if (arg == L"--dry-run") {
            call.dryRun = true;
        } else if (arg == L"--host") {
            if (i + 1 == args.size()) {
                error = "--host needs a folder";
                return false;
            }
            call.hostGiven = true;
            call.host = args[++i];
        } else {
            error = "unknown option " + text::ToUtf8(arg);
            return false;
        }
    }
    const bool hostAllowed = call.command == L"status" || call.command == L"uninstall" ||
                             (call.command == L"install" && call.dryRun);
    if (call.hostGiven && !hostAllowed) {
        error = "--host goes with status, uninstall and install --dry-run";
        return false;
    }
    if (call.dryRun && call.command != L"install") {
        error = "--dry-run goes with install";
        return false;
    }
    return true;
}

// What to type to register a host folder, for messages that find none.
const char kRegisterHost[] =
    "register the host's folder with: reg add \"HKLM\\SOFTWARE\\Brannic\\Lumora\\Orvane\" /v "
    "AppPath /t REG_SZ /d \"FOLDER\" /f";

#ifdef _WIN32
// Why "AppPath" gives no host folder, in plain words.
std::string NoHostFolder(const HostFolder& found) {
    return "no host folder: the registry value " + text::ToUtf8(InstallCommand::kAppPathValue) +
           (found.status == HostFolder::Status::NotAFolder
                ? " names " + text::ToUtf8(found.path) + ", which is not a folder"
            : found.status == HostFolder::Status::Empty ? " is empty"
                                                        : " is not set");
}
#endif

// The host folder of status, uninstall and a dry run: --host, else "AppPath" as the install
// command reads it. False (after saying why) when there is none.
bool FindHost(const Invocation& call, std::wstring& host, FILE* err) {
    if (call.hostGiven) {
        host = Full(call.host);
        const package::fs::EntryType type = package::fs::Inspect(host).type;
        if (type != package::fs::EntryType::Folder) {
            Print(err, "qrt: " + text::ToUtf8(host) +
                           (type == package::fs::EntryType::None ? ": no such folder"
                                                                 : ": not a folder"));
            return false;
        }
        return true;
    }
#ifdef _WIN32
    const HostFolder found = InstallCommand::FindHostFolder();
    if (found.status == HostFolder::Status::Found) {
        host = found.path;
        return true;
    }
    Print(err, "qrt: " + NoHostFolder(found) + "; give --host FOLDER, or " + kRegisterHost);
#else
    Print(err, "qrt: give the host folder with --host FOLDER (only qrt.exe reads the registry)");
#endif
    return false;
}

const char* AgeText(package::Age age) {
    switch (age) {
        case package::Age::Newer:
            return "newer than the package";
        case package::Age::Older:
            return "older than the package";
        case package::Age::Same:
            break;
    }
    return "as old as the package";
}

std::string Count(int n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

int Status(const std::wstring& path, const std::wstring& host, bool quiet, FILE* out, FILE* err) {
    std::vector<package::HostMember> members;
    std::string error;
    if (!package::CheckHost(path, host, members, error)) {
        Print(err, "qrt: " + error);
        return kExitFailed;
    }
    int counts[5] = {};
    for (const package::HostMember& m : members) {
        ++counts[static_cast<int>(m.state)];
        std::string line;
        switch (m.state) {
            case package::HostState::Installed:
                line = "installed\t" + Printable(m.relative);
                break;
            case package::HostState::Differs:
                line = "differs\t" + Printable(m.relative) + "\t" +
                       (m.reason.empty() ? AgeText(m.age) : m.reason);
                break;
            case package::HostState::Missing:
                line = "missing\t" + Printable(m.relative);
                break;
            case package::HostState::Refused:
                line = "refused\t" + Printable(m.relative) + "\t" + m.reason;
                break;
            case package::HostState::Unreadable:
                line = "unreadable\t" + Printable(m.relative) + "\t" + m.reason;
                break;
        }
        Print(out, line);
    }
    const int installed = counts[static_cast<int>(package::HostState::Installed)];
    const int total = static_cast<int>(members.size());
    std::string summary = "status: " + std::to_string(installed) + " of " +
                          Count(total, "member", "members") + " installed";
    const std::pair<package::HostState, const char*> others[] = {
        {package::HostState::Differs, " differ"},
        {package::HostState::Missing, " missing"},
        {package::HostState::Refused, " refused"},
        {package::HostState::Unreadable, " unreadable"}};
    std::string rest;
    for (const auto& [state, word] : others) {
        const int n = counts[static_cast<int>(state)];
        if (n == 0) continue;
        rest += (rest.empty() ? "" : ", ") + std::to_string(n) +
                (state == package::HostState::Differs && n == 1 ? " differs" : word);
    }
    if (!rest.empty()) summary += " (" + rest + ")";
    if (!quiet) Print(out, summary + " in " + text::ToUtf8(host));
    return installed == total ? kExitOk : kExitNotInstalled;
}

int DryRun(const std::wstring& path, const std::wstring& host, bool quiet, FILE* out, FILE* err) {
    std::vector<package::PlannedMember> members;
    std::string error;
    if (!package::PlanInstall(path, host, members, error)) {
        Print(err, "qrt: " + error);
        return kExitFailed;
    }
    int write = 0, skip = 0, refuse = 0;
    for (const package::PlannedMember& m : members) {
        const char* action = "write";
        switch (m.action) {
            case package::PlanAction::Write:
                ++write;
                break;
            case package::PlanAction::Skip:
                action = "skip";
                ++skip;
                break;
            case package::PlanAction::Refuse:
                action = "refuse";
                ++refuse;
                break;
            case package::PlanAction::NotReached:
                action = "not-reached";
                ++refuse;
                break;
        }
        Print(out, std::string(action) + "\t" + Printable(m.relative) +
                       (m.reason.empty() ? "" : "\t" + m.reason));
    }
    if (!quiet)
        Print(out, "dry run: " + std::to_string(write) + " to write, " + std::to_string(skip) +
                       " to skip, " + std::to_string(refuse) + " not installable, into " +
                       text::ToUtf8(host) + "; nothing was written");
    return refuse == 0 ? kExitOk : kExitUnwritable;
}

int Uninstall(const std::wstring& path, const std::wstring& host, bool quiet, FILE* out,
              FILE* err) {
    package::Removal removal;
    std::string error;
#ifdef _WIN32
    const bool read = InstallCommand::UninstallPackage(path, host, removal, error);
#else
    const bool read = package::UninstallFromHost(path, host, removal, error);
#endif
    if (!read) {
        Print(err, "qrt: " + error);
        return kExitFailed;
    }
    using package::RemovalOutcome;
    for (const package::RemovedMember& m : removal.members) {
        const std::string name = Printable(m.relative);
        switch (m.outcome) {
            case RemovalOutcome::Removed:
                Print(out, "removed\t" + name);
                break;
            case RemovalOutcome::Kept:
                Print(out, "kept\t" + name + "\t" +
                               (m.reason.empty()
                                    ? std::string("differs from the package, ") + AgeText(m.age)
                                    : m.reason));
                break;
            case RemovalOutcome::Missing:
                Print(out, "missing\t" + name);
                break;
            case RemovalOutcome::Refused:
                Print(out, "refused\t" + name + "\t" + m.reason);
                break;
            case RemovalOutcome::Failed:
                Print(err, "qrt: cannot remove " + name + ": " + m.reason);
                break;
        }
    }
    for (const std::wstring& folder : removal.folders)
        Print(out, "removed\t" + Printable(folder) + "\\");
    const int failed = removal.Count(RemovalOutcome::Failed);
    std::string summary = "uninstall: " + std::to_string(removal.Count(RemovalOutcome::Removed)) +
                          " removed, " + std::to_string(removal.Count(RemovalOutcome::Kept)) +
                          " kept because they differ, " +
                          std::to_string(removal.Count(RemovalOutcome::Missing)) + " not there";
    if (failed) summary += ", " + std::to_string(failed) + " could not be removed";
    if (!removal.folders.empty())
        summary += "; " + Count(static_cast<int>(removal.folders.size()), "folder", "folders") +
                   " removed";
    if (!quiet) Print(out, summary + " from " + text::ToUtf8(host));
    return failed == 0 ? kExitOk : kExitUnwritable;
}

int List(const std::wstring& path, FILE* out, FILE* err) {
    package::Listing listing;
    std::string error;
    if (!package::ReadListing(path, listing, error)) {
        Print(err, "qrt: " + error);
        return kExitFailed;
    }
    Print(out, "description: " + Printable(listing.description));
    bool cut = false;
    for (const package::MemberInfo& member : listing.members) {
        const std::string size = member.sizeKnown ? std::to_string(member.inflatedSize) : "-";
        Print(out,
              std::to_string(member.header.kind) + "\t" + size + "\t" + Printable(member.name));
        if (member.problem != package::Problem::None) {
            Print(err, "qrt: record at offset " + std::to_string(member.offset) + ": " +
                           package::Describe(member.problem));
        }
        cut = cut || member.problem == package::Problem::Truncated;
    }
    if (cut) {
        Print(err, "qrt: the package is cut short; the records above are all that could be read");
        return kExitProblems;
    }
    return kExitOk;
}

// The kinds by name, as the folders and the sample are called.
struct KindName {
    const wchar_t* name;
    int kind;
};
const KindName kKindNames[] = {{L"Templates", 16}, {L"Backgrounds", 17}, {L"Borders", 18},
                               {L"Masks", 19},     {L"Textures", 20},    {L"Brushes", 21},
                               {L"sample", 22}};

// A number from 0 to 255, or one of the kind names (letter case ignored).
bool ParseKind(const std::wstring& text, int& kind) {
    for (const KindName& k : kKindNames) {
        const std::wstring name = k.name;
        if (name.size() == text.size() &&
            std::equal(name.begin(), name.end(), text.begin(),
                       [](wchar_t a, wchar_t b) { return std::towlower(a) == std::towlower(b); })) {
            kind = k.kind;
            return true;
        }
    }
    if (text.empty() || text.size() > 3) return false;
    kind = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') return false;
        kind = kind * 10 + (c - L'0');
    }
    return kind <= 255;
}

std::string KindText(int kind) {
    for (const KindName& k : kKindNames) {
        if (k.kind == kind) return std::to_string(kind) + " (" + text::ToUtf8(k.name) + ")";
    }
    return std::to_string(kind);
}

// "N written, N already in place, N kept because newer, N skipped".
std::string Outcomes(int written, int inPlace, int newer, int skipped) {
    return std::to_string(written) + " written, " + std::to_string(inPlace) +
           " already in place, " + std::to_string(newer) + " kept because newer, " +
           std::to_string(skipped) + " skipped";
}

int Extract(const Invocation& call, FILE* out, FILE* err) {
    const std::wstring path = Full(call.operands[0]);
    const std::wstring folder = Full(call.operands[2]);
    int kind;
    if (!ParseKind(call.operands[1], kind)) {
        return CommandUsage(err, kCommands[2],
                            "KIND must be a number from 0 to 255 or one of Templates, "
                            "Backgrounds, Borders, Masks, Textures, Brushes, sample; not " +
                                text::ToUtf8(call.operands[1]));
    }
    TemplatePackage package;
    package.SetDiagnosticSink(
        [err](const std::wstring& message) { Print(err, "qrt: " + Printable(message)); });
    if (package.Open(path.c_str(), nullptr) != 1) {
        package.Close();
        Print(err, "qrt: " + package::WhyNotAPackage(path) + "; nothing was extracted");
        return kExitFailed;
    }
    const package::fs::EntryType type = package::fs::Inspect(folder).type;
    if (type != package::fs::EntryType::Folder) {
        package.Close();
        Print(err, "qrt: cannot extract into " + text::ToUtf8(folder) +
                       (type == package::fs::EntryType::None
                            ? ": no such folder; make it first"
                            : ": not a folder; name a folder to extract into"));
        return kExitUnwritable;
    }
    const int result = package.ExtractKind(kind, folder.c_str());
    const TemplatePackage::Tally tally = package.LastTally();
    package.Close();
    if (tally.written + tally.Kept() + tally.refused == 0)
        Print(err, "qrt: the package has no member of kind " + KindText(kind));
    if (result != 1) {
        Print(err,
              "qrt: extraction stopped at the member that could not be written; the "
              "members after it were not extracted");
    }
    if (!call.quiet) {
        Print(out, "extracted kind " + KindText(kind) + " into " + text::ToUtf8(folder) + ": " +
                       Outcomes(tally.written, tally.inPlace, tally.newer, tally.refused));
    }
    return result != 1 || tally.refused > 0 ? kExitUnwritable : kExitOk;
}

int Verify(const std::wstring& path, FILE* out, FILE* err) {
    std::vector<std::string> problems;
    std::string error;
    if (!package::VerifyPackage(path, problems, error)) {
        Print(err, "qrt: " + error);
        return kExitFailed;
    }
    for (const std::string& problem : problems) Print(out, problem);
    return problems.empty() ? kExitOk : kExitProblems;
}

int Pack(const Invocation& call, FILE* out, FILE* err) {
    const std::wstring packagePath = Full(call.operands[1]);
    std::string error;
    std::vector<std::string> notes;
    PackSummary summary;
    const bool ok = PackFolder(Full(call.operands[0]), packagePath, summary, error, notes);
    for (const std::string& note : notes) Print(err, "qrt: " + note);
    if (!ok) {
        Print(err, "qrt: " + error + "; no package was written");
        return kExitFailed;
    }
    if (!call.quiet) {
        std::string contents;
        for (size_t k = 0; k < std::size(package::kMaterialFolders); ++k) {
            if (summary.members[k] == 0) continue;
            contents += text::ToUtf8(package::kMaterialFolders[k].name) + " " +
                        std::to_string(summary.members[k]) + ", ";
        }
        if (contents.empty()) contents = "no material, ";
        contents += summary.sample ? "and the sample" : "and no sample";
        Print(out, "packed " + text::ToUtf8(packagePath) + " (" + std::to_string(summary.bytes) +
                       " bytes): " + contents);
    }
    return kExitOk;
}

#ifdef _WIN32
// The install command's messages as console lines in plain words: the description on standard
// output, where the dialog shows its box, then the summary; problems on standard error.
class ConsolePrompt : public InstallPrompt {
public:
    ConsolePrompt(bool quiet, FILE* out, FILE* err) : quiet_(quiet), out_(out), err_(err) {}
    void Show(const wchar_t* text, const wchar_t* title, UINT style) override {
        if (!(style & MB_ICONERROR)) {
            Print(out_, text::ToUtf8(text));
            return;
        }
        Print(err_,
              "qrt: " + (title ? text::ToUtf8(title) + ": " : std::string()) + Printable(text));
    }
    void ShowProblems(const std::vector<std::wstring>& lines) override {
        for (const std::wstring& line : lines) Print(err_, "qrt: " + Printable(line));
    }
    void HostFolderUnknown(const HostFolder& host) override {
        Print(err_, "qrt: " + NoHostFolder(host) + "; nothing was installed");
        Print(err_, std::string("qrt: ") + kRegisterHost);
    }
    void NotAPackage(const wchar_t* path) override {
        std::string why = package::WhyNotAPackage(path);
        if (why.empty()) why = text::ToUtf8(path) + ": cannot be read";
        Print(err_, "qrt: " + why + "; nothing was installed");
    }
    void Finished(const std::wstring& host, const InstallTally& tally) override {
        if (quiet_) return;
        Print(out_, "installed into " + text::ToUtf8(host) + ": " +
                        Outcomes(tally.written, tally.inPlace, tally.newer, tally.skipped));
    }

private:
    bool quiet_;
    FILE* out_;
    FILE* err_;
};

int Install(const std::wstring& path, bool quiet, FILE* out, FILE* err) {
    ConsolePrompt prompt(quiet, out, err);
    InstallCommand command(prompt);
    switch (command.InstallPackage(path.c_str())) {
        case InstallCommand::Outcome::Installed:
            return kExitOk;
        case InstallCommand::Outcome::Incomplete:
            return kExitUnwritable;
        default:
            return kExitFailed;
    }
}
#endif

}  // namespace

int RunQrt(const std::vector<std::wstring>& args, FILE* out, FILE* err) {
    if (args.empty()) return Usage(err, "no command given");
    const std::wstring& command = args[0];
    if (command == L"--help" || command == L"-h" || command == L"help") {
        std::fputs(kUsage, out);
        return kExitOk;
    }
    if (command == L"--version") {
        Print(out, std::string("qrt ") + GLIMMERLY_VERSION);
        return kExitOk;
    }
    const CommandForm* form = nullptr;
    for (const CommandForm& f : kCommands) {
        if (command == f.name) form = &f;
    }
    if (!form) return Usage(err, "there is no command \"" + text::ToUtf8(command) + "\"");
    Invocation call;
    std::string error;
    if (!Parse(args, call, error)) return CommandUsage(err, *form, error);
    if (call.operands.size() != form->operands) {
        const size_t given = call.operands.size();
        return CommandUsage(err, *form,
                            text::ToUtf8(command) + " takes " + std::to_string(form->operands) +
                                (form->operands == 1 ? " operand, " : " operands, ") +
                                std::to_string(given) + " given");
    }
    const std::wstring first = Full(call.operands[0]);
    if (command == L"list") return List(first, out, err);
    if (command == L"verify") return Verify(first, out, err);
    if (command == L"extract") return Extract(call, out, err);
    if (command == L"pack") return Pack(call, out, err);
    if (command != L"install" || call.dryRun) {
        std::wstring host;
        if (!FindHost(call, host, err)) return kExitFailed;
        if (command == L"status") return Status(first, host, call.quiet, out, err);
        if (command == L"uninstall") return Uninstall(first, host, call.quiet, out, err);
        return DryRun(first, host, call.quiet, out, err);
    }
#ifdef _WIN32
    return Install(first, call.quiet, out, err);
#else
    return CommandUsage(err, *form,
                        "install is part of the Windows build (qrt.exe); here it runs only with "
                        "--dry-run --host FOLDER");
#endif
}
