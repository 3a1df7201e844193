#pragma once
// A package against a host folder (the parent of the six material folders): which members of
// kinds 16 to 21 are in place, what an install would do, and the removal of exactly the files
// an install of it put there. No record is kept: the package's members are the list and their
// content the proof. Member content is streamed through inflation and compared piece by piece,
// never held whole.

#include "package/FileSystem.h"

#include <cstdint>
#include <string>
#include <vector>

namespace package {

// The file at a member's destination against the package's last-write time, as extraction
// decides: None and Older are written, Same and Newer are kept.
enum class InPlace { None, Older, Same, Newer };
InPlace CompareInPlace(const std::wstring& destination, fs::FileTime packageTime);

// The folder levels extraction creates for `name`, outermost first (relative to the kind's
// folder). The scan stops at a final three-letter extension, as the format has always done.
std::vector<std::wstring> SubFolderLevels(const std::wstring& name);

enum class HostState {
    Installed,   // the file holds exactly the member's content
    Differs,     // something else is there
    Missing,     // nothing is there
    Refused,     // the member cannot be installed (unsafe name, impossible lengths, bad data)
    Unreadable,  // a file is there but cannot be read
};

// A file's last-write time against the package's.
enum class Age { Older, Same, Newer };

struct HostMember {
    uint8_t kind = 0;
    std::wstring relative;  // KIND-FOLDER\NAME, the name as stored
    HostState state = HostState::Missing;
    Age age = Age::Same;  // Differs: the file in place against the package
    std::string reason;   // Refused and Unreadable; Differs when it is no plain file
};

// One entry per member of kinds 16 to 21, in install order: kind by kind, file order within a
// kind. A later member whose name an earlier one of its kind already took is left out: install
// never writes it. False (with `error`) when the package cannot be opened or read.
bool CheckHost(const std::wstring& packagePath, const std::wstring& host,
               std::vector<HostMember>& members, std::string& error);

enum class PlanAction {
    Write,       // install would write it
    Skip,        // a file is there and not older than the package
    Refuse,      // unsafe or impossible name, bad data, or its destination cannot be written
    NotReached,  // after a member that cannot be written, install stops the kind
};

struct PlannedMember {
    uint8_t kind = 0;
    std::wstring relative;
    PlanAction action = PlanAction::Write;
    std::string reason;  // Skip, Refuse and NotReached
};

// What an install of the package into `host` would do, member by member, writing nothing.
bool PlanInstall(const std::wstring& packagePath, const std::wstring& host,
                 std::vector<PlannedMember>& members, std::string& error);

enum class RemovalOutcome {
    Removed,
    Kept,     // the file differs from the member: a user's edit or another package's version
    Missing,  // nothing there
    Refused,  // the member cannot be installed, so nothing of it is removed
    Failed,   // identical but could not be removed (in use, read-only) or read
};

struct RemovedMember {
    uint8_t kind = 0;
    std::wstring relative;
    RemovalOutcome outcome = RemovalOutcome::Missing;
    Age age = Age::Same;  // Kept
    std::string reason;   // Kept when no plain file, Refused, Failed
};

struct Removal {
    std::vector<RemovedMember> members;
    std::vector<std::wstring> folders;  // removed sub-folders, KIND-FOLDER\LEVEL, deepest first
    int Count(RemovalOutcome outcome) const;
};

// Removes the host files whose content is identical to the package's members, then the
// sub-folders that leaves empty among those the members' names contain. Never the material
// folders or the host folder, never a file that differs.
bool UninstallFromHost(const std::wstring& packagePath, const std::wstring& host, Removal& removal,
                       std::string& error);

}  // namespace package
