#include "Qrt.h"

#include "base/Utf.h"
#include "glimmerly/Version.h"
#include "package/PackageContents.h"
#include "package/TemplatePackage.h"

#ifdef _WIN32
#include "app/InstallCommand.h"
#endif

#include <cwchar>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitUnwritable = 3;
constexpr int kExitProblems = 4;

const char kUsage[] =
    "usage: qrt COMMAND ...\n"
    "  qrt list PKG                  description and one line per record: KIND<TAB>SIZE<TAB>NAME;\n"
    "                                exit 4 when the package is cut short\n"
    "  qrt extract PKG KIND FOLDER   extract the members of one kind (16-22) below FOLDER;\n"
    "                                exit 3 when any of them is refused or cannot be written\n"
    "  qrt verify PKG                check every record; exit 4 and one line per problem\n"
    "  qrt pack SRCDIR OUT.qrt       pack description.txt, Templates/ Backgrounds/ Borders/\n"
    "                                Masks/ Textures/ Brushes/ and sample.jpg of SRCDIR\n"
#ifdef _WIN32
    "  qrt install PKG               install PKG into the host application's folders; exit 3\n"
    "                                and a line per member when some could not be installed\n"
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
    if (tally.kept > 0) {
        Print(err, "qrt: kept " + std::to_string(tally.kept) +
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
    const size_t operands = args.size() - 1;
    if (command == L"--help" || command == L"-h" || command == L"help") {
        std::fputs(kUsage, out);
        return kExitOk;
    }
    if (command == L"--version") {
        Print(out, std::string("qrt ") + GLIMMERLY_VERSION);
        return kExitOk;
    }
    if (command == L"list" && operands == 1) return List(args[1], out, err);
    if (command == L"extract" && operands == 3) return Extract(args[1], args[2], args[3], err);
    if (command == L"verify" && operands == 1) return Verify(args[1], out, err);
    if (command == L"pack" && operands == 2) return Pack(args[1], args[2], err);
#ifdef _WIN32
    if (command == L"install" && operands == 1) return Install(args[1], out, err);
#else
    if (command == L"install") return Usage(err, "install is part of the Windows build (qrt.exe)");
#endif
    return Usage(
        err, "cannot understand: " + text::ToUtf8(command) +
                 (operands ? " with " + std::to_string(operands) + " operand(s)" : std::string()));
}
