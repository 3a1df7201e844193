#include "Qrt.h"

#include "base/Utf.h"
#include "glimmerly/Version.h"
#include "package/PackageContents.h"
#include "package/PackageHost.h"
#include "package/TemplatePackage.h"

#ifdef _WIN32
#include "app/InstallCommand.h"
#include "base/FullPath.h"
#endif

#include <cwchar>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitUnwritable = 3;
constexpr int kExitProblems = 4;
constexpr int kExitNotInstalled = 5;

const char kUsage[] =
    "usage: qrt COMMAND ...\n"
    "  qrt list PKG                  description and one line per record: KIND<TAB>SIZE<TAB>NAME;\n"
    "                                exit 4 when the package is cut short\n"
    "  qrt extract PKG KIND FOLDER   extract the members of one kind (16-22) below FOLDER;\n"
    "                                exit 3 when any of them is refused or cannot be written\n"
    "  qrt verify PKG                check every record; exit 4 and one line per problem\n"
    "  qrt pack SRCDIR OUT.qrt       pack description.txt, Templates/ Backgrounds/ Borders/\n"
    "                                Masks/ Textures/ Brushes/ and sample.jpg of SRCDIR\n"
    "  qrt install [--dry-run] PKG   install PKG into the host application's folders; exit 3\n"
    "                                and a line per member when some could not be installed;\n"
    "                                --dry-run: what it would write, skip or refuse, writing "
    "nothing\n"
    "  qrt status PKG                one line per member: installed, differs or missing in the\n"
    "                                host's folders; exit 5 unless everything is installed\n"
    "  qrt uninstall PKG             remove the host files identical to PKG's members; exit 3\n"
    "                                when some could not be removed\n"
    "  --host FOLDER                 (status, uninstall, install --dry-run) this host folder\n"
#ifdef _WIN32
    "                                instead of the one registered in \"AppPath\"\n"
#else
    "                                (required here: install itself is part of qrt.exe)\n"
#endif
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

// A path operand as the commands use it: made full on Windows (under Wine a Linux path such as
// /srv/x names Z:\\srv\\x), as given elsewhere.
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

// The host folder of status, uninstall and a dry run: --host, else "AppPath" as the install
// command reads it. False (after saying why) when there is none.
bool FindHost(const Invocation& call, std::wstring& host, FILE* err) {
    if (call.hostGiven) {
        host = Full(call.host);
        if (package::fs::Inspect(host).type != package::fs::EntryType::Folder) {
            Print(err, "qrt: " + text::ToUtf8(host) + ": no such folder");
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
    Print(err, "qrt: no host folder: the registry value " +
                   text::ToUtf8(InstallCommand::kAppPathValue) +
                   (found.status == HostFolder::Status::NotAFolder
                        ? " names " + text::ToUtf8(found.path) + ", which is not a folder"
                    : found.status == HostFolder::Status::Empty ? " is empty"
                                                                : " is not set") +
                   "; register the host or give --host FOLDER");
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

int Status(const std::wstring& path, const std::wstring& host, FILE* out, FILE* err) {
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
    Print(out, summary + " in " + text::ToUtf8(host));
    return installed == total ? kExitOk : kExitNotInstalled;
}

int DryRun(const std::wstring& path, const std::wstring& host, FILE* out, FILE* err) {
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
    Print(out, "dry run: " + std::to_string(write) + " to write, " + std::to_string(skip) +
                   " to skip, " + std::to_string(refuse) + " not installable, into " +
                   text::ToUtf8(host) + "; nothing was written");
    return refuse == 0 ? kExitOk : kExitUnwritable;
}

int Uninstall(const std::wstring& path, const std::wstring& host, FILE* out, FILE* err) {
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
    Print(out, summary + " from " + text::ToUtf8(host));
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

bool ParseKind(const std::wstring& text, int& kind) {
    if (text.empty() || text.size() > 3) return false;
    kind = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') return false;
        kind = kind * 10 + (c - L'0');
    }
    return kind <= 255;
}

int Extract(const std::wstring& path, const std::wstring& kindText, const std::wstring& folder,
            FILE* err) {
    int kind;
    if (!ParseKind(kindText, kind)) return Usage(err, "KIND must be a number from 0 to 255");
    TemplatePackage package;
    package.SetDiagnosticSink(
        [err](const std::wstring& message) { Print(err, "qrt: " + text::ToUtf8(message)); });
    if (package.Open(path.c_str(), nullptr) != 1) {
        package.Close();
        Print(err, "qrt: " + text::ToUtf8(path) + " cannot be opened as a template package");
        return kExitFailed;
    }
    const int result = package.ExtractKind(kind, folder.c_str());
    const TemplatePackage::Tally tally = package.LastTally();
    package.Close();
    if (tally.Kept() > 0) {
        Print(err, "qrt: kept " + std::to_string(tally.Kept()) +
                       " member(s): the files in place are not older than the package");
    }
    if (result != 1) {
        Print(err, "qrt: a member of kind " + std::to_string(kind) +
                       " could not be written below " + text::ToUtf8(folder));
        return kExitUnwritable;
    }
    return tally.refused > 0 ? kExitUnwritable : kExitOk;
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

int Pack(const std::wstring& folder, const std::wstring& packagePath, FILE* err) {
    std::string error;
    std::vector<std::string> warnings;
    const bool ok = PackFolder(folder, packagePath, error, warnings);
    for (const std::string& warning : warnings) Print(err, "qrt: " + warning);
    if (!ok) {
        Print(err, "qrt: " + error);
        return kExitFailed;
    }
    return kExitOk;
}

#ifdef _WIN32
// The dialog's message boxes as console lines: the description on standard output, where
// the dialog shows its box; error boxes on standard error.
class ConsolePrompt : public InstallPrompt {
public:
    ConsolePrompt(FILE* out, FILE* err) : out_(out), err_(err) {}
    void Show(const wchar_t* text, const wchar_t* title, UINT style) override {
        if (!(style & MB_ICONERROR)) {
            Print(out_, text::ToUtf8(text));
            return;
        }
        // An error box's lines become one line.
        std::string line = "qrt: " + (title ? text::ToUtf8(title) + ": " : std::string());
        bool space = false;
        for (char c : text::ToUtf8(text)) {
            if (c == '\n' || c == '\r') {
                space = true;
                continue;
            }
            if (space && line.back() != ' ') line += ' ';
            space = false;
            line += c;
        }
        Print(err_, line);
    }
    void ShowProblems(const std::vector<std::wstring>& lines) override {
        for (const std::wstring& line : lines) Print(err_, "qrt: " + Printable(line));
    }

private:
    FILE* out_;
    FILE* err_;
};

int Install(const std::wstring& path, FILE* out, FILE* err) {
    ConsolePrompt prompt(out, err);
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
    Invocation call;
    std::string error;
    if (!Parse(args, call, error)) return Usage(err, error);
    const std::vector<std::wstring>& ops = call.operands;
    const size_t operands = ops.size();
    if (command == L"list" && operands == 1) return List(Full(ops[0]), out, err);
    if (command == L"extract" && operands == 3)
        return Extract(Full(ops[0]), ops[1], Full(ops[2]), err);
    if (command == L"verify" && operands == 1) return Verify(Full(ops[0]), out, err);
    if (command == L"pack" && operands == 2) return Pack(Full(ops[0]), Full(ops[1]), err);
    if ((command == L"status" || command == L"uninstall" ||
         (command == L"install" && call.dryRun)) &&
        operands == 1) {
        std::wstring host;
        if (!FindHost(call, host, err)) return kExitFailed;
        if (command == L"status") return Status(Full(ops[0]), host, out, err);
        if (command == L"uninstall") return Uninstall(Full(ops[0]), host, out, err);
        return DryRun(Full(ops[0]), host, out, err);
    }
#ifdef _WIN32
    if (command == L"install" && operands == 1) return Install(Full(ops[0]), out, err);
#else
    if (command == L"install") return Usage(err, "install is part of the Windows build (qrt.exe)");
#endif
    return Usage(
        err, "cannot understand: " + text::ToUtf8(command) +
                 (operands ? " with " + std::to_string(operands) + " operand(s)" : std::string()));
}
