// Glimmerly's entry point. The command line is not read: what the dialog shows always comes
// from the executable's own folder.
#include "app/InstallerApp.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    CInstallerApp application;
    return fw::RunApplication(application);
}
