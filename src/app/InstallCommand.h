#pragma once
// The install command behind the dialog's Install button, shared with `qrt install`.
// Program mode starts the configured install program; package mode extracts the six
// material kinds of a template package into the host application's folders and raises
// the host's refresh flag.

#include "base/Handles.h"
#include "package/PackageHost.h"
#include "package/TemplatePackage.h"

#include <string>
#include <vector>

// The host application's folder as the install command reads it from "AppPath".
struct HostFolder {
    enum class Status { Found, Unreadable, Empty, NotAFolder };
    Status status = Status::Unreadable;
    std::wstring path;  // as read; when found, without a trailing backslash
};

// What an install did with the members of the six kinds, all kinds together.
struct InstallTally {
    int written = 0;
    int inPlace = 0;  // already there with the package's own time
    int newer = 0;    // kept because the file in place is newer than the package
    int skipped = 0;  // refused, corrupt or not writable
};

// Where the install command talks to the user: message boxes in the dialog, console
// lines in `qrt`, a recorder in the tests.
class InstallPrompt {
public:
    virtual ~InstallPrompt() = default;
    // A box with an OK button. A null `title` means the application's name.
    virtual void Show(const wchar_t* text, const wchar_t* title, UINT style) = 0;
    // What of a package could not be installed, one line per member and why: by default
    // one warning box that lists them.
    virtual void ShowProblems(const std::vector<std::wstring>& lines);
    // Nothing was installed for want of a host folder: by default the dialog's error box.
    virtual void HostFolderUnknown(const HostFolder& host);
    // Nothing was installed because `path` is no package: by default the dialog's error box.
    virtual void NotAPackage(const wchar_t* path);
    // The install ran to its end; the dialog shows no completion message.
    virtual void Finished(const std::wstring& /*host*/, const InstallTally& /*tally*/) {}
};

class InstallCommand {
public:
    static constexpr const wchar_t* kAppPathValue =
        L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Brannic\\Lumora\\Orvane\\AppPath";
    static constexpr const wchar_t* kUpdateFlagValue =
        L"HKEY_CURRENT_USER\\Software\\Velnor\\Tessaly\\Orvane\\ShouldUpdateCat";

    enum class Outcome {
        Installed,          // every member of the six kinds is in place
        Incomplete,         // some members were refused or could not be written (the user was
                            // told which); the flag is set if anything is in place
        HostFolderUnknown,  // "AppPath" unreadable, empty or no folder: nothing extracted, no flag
        NotAPackage,        // the selection cannot be opened as a package: same
    };

    explicit InstallCommand(InstallPrompt& prompt) : prompt_(prompt) {}
    InstallCommand(const InstallCommand&) = delete;
    InstallCommand& operator=(const InstallCommand&) = delete;

    // The Install button: program mode when `installProgram` is not empty, else package
    // mode on `selectedPath`. True when the dialog must close afterwards (program mode).
    bool Run(const wchar_t* installProgram, const wchar_t* selectedPath);

    Outcome InstallPackage(const wchar_t* packagePath);

    // "AppPath" read and checked as InstallPackage does before it installs anything.
    static HostFolder FindHostFolder();

    // Removes from `host` the files whose content is identical to the package's members (see
    // package::UninstallFromHost) and raises the refresh flag when anything was removed, as
    // an install does. False (with `error`) when the package cannot be read.
    static bool UninstallPackage(const std::wstring& packagePath, const std::wstring& host,
                                 package::Removal& removal, std::string& error);

    // Starts the install program unless the one started last is still running.
    void StartInstallProgram(const wchar_t* programPath);
    // The process of the install program started last (null before any); the command keeps
    // ownership.
    HANDLE LastProgram() const { return process_.Get(); }

private:
    InstallPrompt& prompt_;
    // The install program started last; kept for the whole run.
    win::UniqueHandle process_;
    win::UniqueHandle thread_;
};
