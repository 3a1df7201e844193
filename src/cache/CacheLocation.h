#pragma once
// Where a folder's cache files live: inside the folder on fixed disks and mapped network
// drives, in the temporary folder (named after the volume's serial number and the folder's
// path) on removable disks and optical discs, and for share paths wherever a write test
// allows. The system queries sit behind VolumeQueries so every rule can be tested.

#include "base/Win.h"

#include <string>

// Location kinds: the platform's drive types 0 to 6, and 7 for share paths.
enum CacheLocationKind : int {
    kLocationUnknown = DRIVE_UNKNOWN,      // 0
    kLocationNoRoot = DRIVE_NO_ROOT_DIR,   // 1
    kLocationRemovable = DRIVE_REMOVABLE,  // 2
    kLocationFixed = DRIVE_FIXED,          // 3
    kLocationNetworkDrive = DRIVE_REMOTE,  // 4
    kLocationOptical = DRIVE_CDROM,        // 5
    kLocationRamDisk = DRIVE_RAMDISK,      // 6
    kLocationShare = 7,
};

class VolumeQueries {
public:
    virtual ~VolumeQueries() = default;
    // GetDriveTypeW of a root such as "E:\".
    virtual UINT DriveType(const wchar_t* root) = 0;
    // The volume serial number of a root; false when it cannot be read (an empty drive).
    virtual bool Serial(const wchar_t* root, DWORD& serial) = 0;
    // Whether a file can be created in the folder: creates "write.tst" there and removes it.
    virtual bool FolderWritable(const wchar_t* folder) = 0;
};

// The queries in use: the system's, unless a test installed its own (null restores them).
VolumeQueries& CurrentVolumeQueries();
void SetVolumeQueries(VolumeQueries* queries);

// The folder's path as a file-name fragment: the first two characters (drive and colon, or
// the share path's backslashes) dropped, every backslash an underscore. Also written to the
// debugger output.
std::wstring FlattenPath(const wchar_t* path);

// The serial number of the volume holding `path`.
bool VolumeSerial(const wchar_t* path, DWORD* serial);

// The root of a path ("E:\Photos\2004" gives "E:\").
std::wstring RootOf(const wchar_t* path);

// The user's temporary folder, ending with a backslash; empty when it cannot be had.
std::wstring TempFolder();
