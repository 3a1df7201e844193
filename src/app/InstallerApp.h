#pragma once
// The application object: registers the thumbnail control's classes, runs the installer
// dialog modally, and ends when it closes.

#include "framework/Application.h"

class CInstallerApp : public fw::Application {
public:
    BOOL InitInstance() override;
    // The help command opens the help file.
    void OnCommand(UINT id) override;
};
