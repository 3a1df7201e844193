#pragma once
// The application object and the one seam through which everything modal is shown: message
// boxes, modal dialogs such as the About box, and the help viewer. Tests install their own
// ModalHost so that nothing ever waits for a click nobody makes.

#include "base/Win.h"

#include <string>

namespace fw {

class Dialog;

// The framework's help command (ID_HELP), sent when F1 is pressed.
inline constexpr UINT kHelpCommand = 57670;

class Application {
public:
    Application();
    virtual ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    static Application* Current();

    // Start-up; returns FALSE when the application ends afterwards (no message loop).
    virtual BOOL InitInstance() = 0;

    // Commands routed to the application (the help command).
    virtual void OnCommand(UINT id);

    // The executable's file name without its extension.
    const std::wstring& Name() const { return name_; }

    HWND mainWindow = nullptr;

private:
    std::wstring name_;
};

// wWinMain's body: InitInstance, then a message loop when it asked for one.
int RunApplication(Application& application);

// The executable's full path, whole however long it is.
std::wstring ExecutablePath();

class ModalHost {
public:
    virtual ~ModalHost() = default;
    virtual int ShowMessageBox(HWND owner, const wchar_t* text, const wchar_t* title,
                               UINT style) = 0;
    virtual INT_PTR RunModal(Dialog& dialog) = 0;
    // Opens `file` in the help viewer (HtmlHelpW, HH_DISPLAY_TOPIC, no owner).
    virtual void ShowHelp(const wchar_t* file) = 0;
};

// The host in use: the system's, unless a test installed its own (null restores it).
ModalHost& Modal();
void SetModalHost(ModalHost* host);

// The framework's standard message box: owned by the main window, titled with the
// application's name.
int AppMessageBox(const wchar_t* text, UINT style = MB_OK);

}  // namespace fw
