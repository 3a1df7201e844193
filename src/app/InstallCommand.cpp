#include "app/InstallCommand.h"

#include "app/RegistryPath.h"

namespace {

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

void InstallPrompt::HostFolderUnknown(const HostFolder& host) {
    const std::wstring text =
        std::wstring(L"The host application's folder could not be read from the registry value\n") +
        InstallCommand::kAppPathValue +
        (host.path.empty() ? std::wstring() : L"\nor is not a folder:\n" + host.path) +
        L"\n\nNothing was installed.";
    Show(text.c_str(), nullptr, MB_OK | MB_ICONERROR);
}

void InstallPrompt::NotAPackage(const wchar_t* path) {
    const std::wstring text =
        std::wstring(L"The selected file cannot be opened as a template package:\n") + path +
        L"\n\nNothing was installed.";
    Show(text.c_str(), nullptr, MB_OK | MB_ICONERROR);
}

HostFolder InstallCommand::FindHostFolder() {
    // Without a host folder the destinations would be relative to whatever the current
    // drive is, so an unreadable or empty "AppPath" stops the command before anything; so
    // does one naming no folder, which means the host is not (or no longer) installed there.
    HostFolder host;
    wchar_t value[RegistryPath::kBufferChars] = {};
    if (!RegistryPath::ReadValue(kAppPathValue, value)) return host;
    host.path = value;
    if (host.path.empty()) {
        host.status = HostFolder::Status::Empty;
    } else if (!IsFolder(value)) {
        host.status = HostFolder::Status::NotAFolder;
    } else {
        host.status = HostFolder::Status::Found;
        if (host.path.back() == L'\\') host.path.pop_back();
    }
    return host;
}

bool InstallCommand::UninstallPackage(const std::wstring& packagePath, const std::wstring& host,
                                      package::Removal& removal, std::string& error) {
    if (!package::UninstallFromHost(packagePath, host, removal, error)) return false;
    if (removal.Count(package::RemovalOutcome::Removed) > 0)
        RegistryPath::WriteDword(kUpdateFlagValue, 1);
    return true;
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
    const HostFolder hostFolder = FindHostFolder();
    if (hostFolder.status != HostFolder::Status::Found) {
        prompt_.HostFolderUnknown(hostFolder);
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
        prompt_.NotAPackage(packagePath);
        return Outcome::NotAPackage;
    }

    prompt_.Show(description, nullptr, MB_OK);

    const std::wstring& host = hostFolder.path;
    InstallTally total;
    for (const package::MaterialFolder& folder : package::kMaterialFolders) {
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
        total.written += tally.written;
        total.inPlace += tally.inPlace;
        total.newer += tally.newer;
        total.skipped += tally.refused;
    }
    package.Close();
    // A package installed again changes no file but still signals the host.
    const bool anythingInPlace = total.written + total.inPlace + total.newer > 0;
    if (problems.empty() || anythingInPlace) RegistryPath::WriteDword(kUpdateFlagValue, 1);
    if (!problems.empty()) prompt_.ShowProblems(problems);
    prompt_.Finished(host, total);
    return problems.empty() ? Outcome::Installed : Outcome::Incomplete;
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
