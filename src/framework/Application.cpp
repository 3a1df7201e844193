#include "framework/Application.h"

#include "base/Handles.h"
#include "framework/Dialog.h"

#include <commctrl.h>

#include <atomic>

namespace fw {
namespace {

Application* g_application = nullptr;
std::atomic<ModalHost*> g_modalHost{nullptr};

std::wstring ExecutableName() {
    std::wstring name = ExecutablePath();
    const size_t slash = name.find_last_of(L"\\/");
    if (slash != std::wstring::npos) name.erase(0, slash + 1);
    const size_t dot = name.rfind(L'.');
    if (dot != std::wstring::npos) name.erase(dot);
    return name;
}

class SystemModalHost : public ModalHost {
public:
    int ShowMessageBox(HWND owner, const wchar_t* text, const wchar_t* title, UINT style) override {
        return ::MessageBoxW(owner, text, title, style);
    }

    INT_PTR RunModal(Dialog& dialog) override { return dialog.DoModal(); }

    void ShowHelp(const wchar_t* file) override {
        // The viewer lives in hhctrl.ocx, loaded when first asked for.
        using HtmlHelpFn = HWND(WINAPI*)(HWND, LPCWSTR, UINT, DWORD_PTR);
        static win::UniqueModule library(::LoadLibraryW(L"hhctrl.ocx"));
        if (!library) return;
        auto htmlHelp = reinterpret_cast<HtmlHelpFn>(
            reinterpret_cast<void*>(::GetProcAddress(library.Get(), "HtmlHelpW")));
        constexpr UINT kDisplayTopic = 0;  // HH_DISPLAY_TOPIC
        if (htmlHelp) htmlHelp(nullptr, file, kDisplayTopic, 0);
    }
};

}  // namespace

std::wstring ExecutablePath() {
    // The function cuts a path that does not fit and says so only through the length.
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return {};
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        if (path.size() >= 32768) return {};
        path.resize(path.size() * 2);
    }
}

Application::Application() : name_(ExecutableName()) {
    g_application = this;
}

Application::~Application() {
    if (g_application == this) g_application = nullptr;
}

Application* Application::Current() {
    return g_application;
}

void Application::OnCommand(UINT) {}

int RunApplication(Application& application) {
    if (!application.InitInstance()) return 0;
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}

ModalHost& Modal() {
    static SystemModalHost system;
    ModalHost* installed = g_modalHost.load();
    return installed ? *installed : system;
}

void SetModalHost(ModalHost* host) {
    g_modalHost.store(host);
}

int AppMessageBox(const wchar_t* text, UINT style) {
    Application* application = Application::Current();
    const wchar_t* title = application ? application->Name().c_str() : L"";
    HWND owner =
        application && ::IsWindow(application->mainWindow) ? application->mainWindow : nullptr;
    return Modal().ShowMessageBox(owner, text, title, style);
}

}  // namespace fw
