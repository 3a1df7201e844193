#include "app/InstallerApp.h"

#include "app/InstallerDlg.h"
#include "thumblist/ThumbListCtrl.h"

#include <commctrl.h>

BOOL CInstallerApp::InitInstance() {
    INITCOMMONCONTROLSEX controls = {};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES;
    ::InitCommonControlsEx(&controls);
    RegisterThumbListClasses();

    CInstallerDlg dialog;
    dialog.DoModal();
    mainWindow = nullptr;
    return FALSE;  // no message loop of our own: the application ends with the dialog
}

void CInstallerApp::OnCommand(UINT id) {
    if (id == fw::kHelpCommand) fw::Modal().ShowHelp(L"Glimmerly.chm");
}
