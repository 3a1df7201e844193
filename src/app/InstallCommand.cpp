#include "app/InstallCommand.h"

#include "app/RegistryPath.h"

namespace {

struct MaterialFolder {
    int kind;
    const wchar_t* name;
};

// In this order.
const MaterialFolder kMaterialFolders[] = {
    {16, L"Templates"}, {17, L"Backgrounds"}, {18, L"Borders"},
    {19, L"Masks"},     {20, L"Textures"},    {21, L"Brushes"},
};

bool IsFolder(const wchar_t* path) {
    const DWORD attributes = ::GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

void InstallPrompt::ShowProblems(const std::vector<std::wstring>& lines) {
    std::wstring text = L"Not everything in the package could be installed:\n";
    for (const std::wstring& line : lines) text += L"\n" + line;
    Show(text.c_str(), nullptr, MB_OK | MB_ICONWARNING);
}

bool InstallCommand::Run(const wchar_t* installProgram, const wchar_t* selectedPath) {
    if (installProgram && *installProgram) {
        StartInstallProgram(installProgram);
        return true;
    }
    InstallPackage(selectedPath ? selectedPath : L"");
    return false;
}

InstallCommand::Outcome InstallCommand::InstallPackage(const wchar_t* packagePath) {
    // Without a host folder the destinations would be relative to whatever the current
    // drive is, so an unreadable or empty "AppPath" stops the command before anything; so
    // does one naming no folder, which means the host is not (or no longer) installed there.
    wchar_t hostFolder[RegistryPath::kBufferChars] = {};
    if (!RegistryPath::ReadValue(kAppPathValue, hostFolder) || hostFolder[0] == L'\0' ||
        !IsFolder(hostFolder)) {
        const std::wstring text =
            std::wstring(
                L"The host application's folder could not be read from the registry "
                L"value\n") +
            kAppPathValue +
            (hostFolder[0] ? L"\nor is not a folder:\n" + std::wstring(hostFolder)
                           : std::wstring()) +
            L"\n\nNothing was installed.";
        prompt_.Show(text.c_str(), nullptr, MB_OK | MB_ICONERROR);
        return Outcome::HostFolderUnknown;
    }

    TemplatePackage package;
    std::vector<std::wstring> problems;
    const wchar_t* currentFolder = L"";
    package.SetDiagnosticSink([&](const std::wstring& message) {
        problems.push_back(std::wstring(currentFolder) + L": " + message);
    });
    wchar_t description[package::kDescriptionChars] = {};
    if (package.Open(packagePath, description) != 1) {
        package.Close();
        const std::wstring text =
            std::wstring(L"The selected file cannot be opened as a template package:\n") +
            packagePath + L"\n\nNothing was installed.";
        prompt_.Show(text.c_str(), nullptr, MB_OK | MB_ICONERROR);
        return Outcome::NotAPackage;
    }

    prompt_.Show(description, nullptr, MB_OK);

    std::wstring host(hostFolder);
    if (!host.empty() && host.back() == L'\\') host.pop_back();
    bool anythingInPlace = false;
    for (const MaterialFolder& folder : kMaterialFolders) {
        // The material folders are the host's own layout: one that is missing is made. A
        // failure in one folder does not stop the others.
        const std::wstring destination = host + L'\\' + folder.name;
        ::CreateDirectoryW(destination.c_str(), nullptr);
        currentFolder = folder.name;
        if (package.ExtractKind(folder.kind, destination.c_str()) != 1) {
            problems.push_back(std::wstring(folder.name) +
                               L": installation stopped there; the members after it were not "
                               L"installed");
        }
        const TemplatePackage::Tally& tally = package.LastTally();
        anythingInPlace = anythingInPlace || tally.written > 0 || tally.kept > 0;
    }
    package.Close();
    // A package installed again changes no file but still signals the host.
    if (problems.empty() || anythingInPlace) RegistryPath::WriteDword(kUpdateFlagValue, 1);
    if (problems.empty()) return Outcome::Installed;
    prompt_.ShowProblems(problems);
    return Outcome::Incomplete;
}

void InstallCommand::StartInstallProgram(const wchar_t* programPath) {
    if (process_) {
        DWORD exitCode = 0;
        if (::GetExitCodeProcess(process_.Get(), &exitCode) && exitCode == STILL_ACTIVE) return;
    }
    process_.Reset();
    thread_.Reset();

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!::CreateProcessW(programPath, nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &info)) {
        prompt_.Show(L"Error", L"Cannot start application ! ! !", MB_ICONERROR);
        return;
    }
    process_.Reset(info.hProcess);
    thread_.Reset(info.hThread);
}
