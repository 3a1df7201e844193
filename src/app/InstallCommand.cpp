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

}  // namespace

bool InstallCommand::Run(const wchar_t* installProgram, const wchar_t* selectedPath) {
    if (installProgram && *installProgram) {
        StartInstallProgram(installProgram);
        return true;
    }
    InstallPackage(selectedPath ? selectedPath : L"");
    return false;
}

InstallCommand::Outcome InstallCommand::InstallPackage(
    const wchar_t* packagePath, const TemplatePackage::DiagnosticSink& diagnostics) {
    // Without a host folder the destinations would be relative to whatever the current
    // drive is, so an unreadable or empty "AppPath" stops the command before anything.
    wchar_t hostFolder[RegistryPath::kBufferChars] = {};
    if (!RegistryPath::ReadValue(kAppPathValue, hostFolder) || hostFolder[0] == L'\0') {
        const std::wstring text =
            std::wstring(
                L"The host application's folder could not be read from the registry value\n") +
            kAppPathValue + L"\n\nNothing was installed.";
        prompt_.Show(text.c_str(), nullptr, MB_OK | MB_ICONERROR);
        return Outcome::HostFolderUnknown;
    }

    TemplatePackage package;
    package.SetDiagnosticSink(diagnostics);
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
    for (const MaterialFolder& folder : kMaterialFolders) {
        // A failure in one folder does not stop the others.
        package.ExtractKind(folder.kind, (host + L'\\' + folder.name).c_str());
    }
    package.Close();
    RegistryPath::WriteDword(kUpdateFlagValue, 1);
    return Outcome::Installed;
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
