#pragma once
// The installer dialog, run for real inside the test process: a library folder of templates in
// a fresh temporary folder stands in for the executable's folder, every modal thing goes to a
// recorder, the registry is a sandbox and the temporary folder the package samples go to is a
// private one. The dialog is created modeless, so the test drives it between message pumps.

#include "app/InstallerApp.h"
#include "app/InstallerDlg.h"
#include "ImagingClasses.h"
#include "framework/Application.h"
#include "support/BmpFile.h"
#include "support/MessagePump.h"
#include "support/RegistrySandbox.h"
#include "support/TempDir.h"
#include "thumblist/Canvas.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace dialog_tests {

namespace stdfs = std::filesystem;
using testing_support::Canvas;
using testing_support::TempDir;

// Everything the dialog asked the modal seam to show, in order.
class RecordingModalHost : public fw::ModalHost {
public:
    struct Box {
        HWND owner;
        std::wstring text;
        std::wstring title;
        UINT style;
    };

    int ShowMessageBox(HWND owner, const wchar_t* text, const wchar_t* title, UINT style) override {
        boxes.push_back({owner, text ? text : L"", title ? title : L"", style});
        return IDOK;
    }
    INT_PTR RunModal(fw::Dialog& dialog) override {
        modalTemplates.push_back(dialog.TemplateId());
        return IDOK;
    }
    void ShowHelp(const wchar_t* file) override { helpFiles.push_back(file ? file : L""); }

    std::vector<Box> boxes;
    std::vector<UINT> modalTemplates;
    std::vector<std::wstring> helpFiles;
};

// The dialog with its executable placed in the test's library folder.
class TestDialog : public CInstallerDlg {
public:
    explicit TestDialog(std::wstring modulePath) : modulePath_(std::move(modulePath)) {}

protected:
    std::wstring ModulePath() const override { return modulePath_; }

private:
    std::wstring modulePath_;
};

// A window's position and size in its parent's client coordinates.
struct Box {
    int x, y, width, height;
    bool operator==(const Box&) const = default;
};

inline void PrintTo(const Box& box, std::ostream* out) {
    *out << "(" << box.x << ", " << box.y << ") " << box.width << " x " << box.height;
}

inline Box BoxOf(const RECT& rect) {
    return {rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top};
}

using testing_support::PumpUntil;

// Dispatches whatever is queued now.
inline void PumpPending() {
    PumpUntil([] { return true; });
}

// The pixels of a window's client area as they are on its surface now.
inline std::unique_ptr<Canvas> CaptureClient(HWND window) {
    RECT client = {};
    ::GetClientRect(window, &client);
    auto canvas = std::make_unique<Canvas>(client.right, client.bottom);
    HDC dc = ::GetDC(window);
    ::BitBlt(canvas->Dc(), 0, 0, client.right, client.bottom, dc, 0, 0, SRCCOPY);
    ::ReleaseDC(window, dc);
    return canvas;
}

// A bitmap resource of the executable drawn into a canvas of its own size.
inline std::unique_ptr<Canvas> ResourceBitmap(UINT id) {
    win::UniqueBitmap bitmap(::LoadBitmapW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id)));
    BITMAP info = {};
    if (!bitmap || !::GetObjectW(bitmap.Get(), sizeof info, &info)) return nullptr;
    auto canvas = std::make_unique<Canvas>(info.bmWidth, info.bmHeight);
    win::MemoryDc memory(::CreateCompatibleDC(canvas->Dc()));
    win::SelectObjectScope select(memory.Get(), bitmap.Get());
    ::BitBlt(canvas->Dc(), 0, 0, info.bmWidth, info.bmHeight, memory.Get(), 0, 0, SRCCOPY);
    return canvas;
}

// Counts the pixels of `actual` inside (x0, y0, width, height) that differ from `expected`
// read at the same offset from (ex, ey).
inline int CountDifferences(const Canvas& actual, int x0, int y0, const Canvas& expected, int ex,
                            int ey, int width, int height) {
    int differences = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            if (actual.At(x0 + x, y0 + y) != expected.At(ex + x, ey + y)) ++differences;
        }
    }
    return differences;
}

inline bool IsWhite(COLORREF color) {
    return color == RGB(255, 255, 255);
}

// Brightness as the sum of the three channels.
inline int Brightness(COLORREF color) {
    return GetRValue(color) + GetGValue(color) + GetBValue(color);
}

// Records the last position and size a window was asked to take (before the window's own
// procedure adjusts it).
class PositionSpy {
public:
    explicit PositionSpy(HWND window) : window_(window) {
        ::SetWindowSubclass(window_, &Proc, 1, reinterpret_cast<DWORD_PTR>(this));
    }
    ~PositionSpy() {
        if (::IsWindow(window_)) ::RemoveWindowSubclass(window_, &Proc, 1);
    }
    PositionSpy(const PositionSpy&) = delete;
    PositionSpy& operator=(const PositionSpy&) = delete;

    Box requested = {-1, -1, -1, -1};

private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                 DWORD_PTR self) {
        if (message == WM_WINDOWPOSCHANGING) {
            const auto* position = reinterpret_cast<const WINDOWPOS*>(lParam);
            if ((position->flags & (SWP_NOSIZE | SWP_NOMOVE)) == 0) {
                reinterpret_cast<PositionSpy*>(self)->requested = {position->x, position->y,
                                                                   position->cx, position->cy};
            }
        }
        return ::DefSubclassProc(window, message, wParam, lParam);
    }
    HWND window_;
};

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        // As the application's start-up does, once for the process.
        static const bool classesReady = [] {
            INITCOMMONCONTROLSEX controls = {sizeof controls,
                                             ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
            ::InitCommonControlsEx(&controls);
            return RegisterThumbListClasses();
        }();
        ASSERT_TRUE(classesReady);
        ASSERT_TRUE(sandbox_.Ok());
        RestoreImagingClasses();
        fw::SetModalHost(&modal_);
        stdfs::create_directories(Library());
        stdfs::create_directories(TempFolder());
        wchar_t previous[MAX_PATH] = {};
        for (SavedVariable& variable : savedTemp_) {
            variable.present = ::GetEnvironmentVariableW(variable.name, previous, MAX_PATH) > 0;
            variable.value = previous;
            ::SetEnvironmentVariableW(variable.name, (Wide(TempFolder()) + L"\\").c_str());
        }
    }

    void TearDown() override {
        CloseDialog();
        fw::SetModalHost(nullptr);
        for (const SavedVariable& variable : savedTemp_) {
            ::SetEnvironmentVariableW(variable.name,
                                      variable.present ? variable.value.c_str() : nullptr);
        }
    }

    static std::wstring Wide(const stdfs::path& path) { return TempDir::WideOf(path); }

    // The folder the dialog takes for its executable's folder.
    stdfs::path Library() const { return root_ / "library"; }
    // The temporary folder the package samples are extracted into.
    stdfs::path TempFolder() const { return root_ / "temp"; }
    // The module folder as the dialog keeps it, with its final backslash.
    std::wstring ModuleFolder() const { return Wide(Library()) + L"\\"; }

    void WriteIni(const std::string& text, const stdfs::path& folder = {}) {
        testing_support::WriteFile((folder.empty() ? Library() : folder) / "Glimmerly.ini", text);
    }

    // A solid 24-bit BMP picture.
    static void Picture(const stdfs::path& path, uint32_t width = 40, uint32_t height = 30,
                        testing_support::Rgb color = {200, 60, 40}) {
        testing_support::WriteSolidBmp(path, width, height, color);
    }

    // Creates the dialog on `library` (the default library folder when empty).
    TestDialog& Start(const stdfs::path& library = {}) {
        CloseDialog();
        const stdfs::path folder = library.empty() ? Library() : library;
        dialog_ = std::make_unique<TestDialog>(Wide(folder) + L"\\Glimmerly.exe");
        EXPECT_TRUE(dialog_->Create());
        PumpPending();
        return *dialog_;
    }

    TestDialog& Dialog() { return *dialog_; }
    HWND Window() const { return dialog_ ? dialog_->GetSafeHwnd() : nullptr; }
    HWND Item(int id) const { return ::GetDlgItem(Window(), id); }

    void CloseDialog() {
        if (!dialog_) return;
        if (HWND window = dialog_->GetSafeHwnd(); window && ::IsWindow(window)) {
            ::DestroyWindow(window);
        }
        PumpPending();
        dialog_.reset();
    }

    // Gives the dialog a client area of width x height (it starts maximized).
    void ResizeClient(int width, int height) {
        ::ShowWindow(Window(), SW_RESTORE);
        RECT frame = {0, 0, width, height};
        ::AdjustWindowRectEx(&frame, static_cast<DWORD>(::GetWindowLongW(Window(), GWL_STYLE)),
                             FALSE, static_cast<DWORD>(::GetWindowLongW(Window(), GWL_EXSTYLE)));
        ::SetWindowPos(Window(), nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                       SWP_NOZORDER | SWP_NOACTIVATE);
        PumpPending();
    }

    SIZE ClientSize() const {
        RECT client = {};
        ::GetClientRect(Window(), &client);
        return {client.right, client.bottom};
    }

    // A control's position and size in the dialog's client coordinates.
    Box ChildBox(int id) const {
        RECT rect = {};
        ::GetWindowRect(Item(id), &rect);
        ::MapWindowPoints(nullptr, Window(), reinterpret_cast<POINT*>(&rect), 2);
        return BoxOf(rect);
    }

    // The listed item whose file is called `name`, or -1 (the file system decides the order).
    int IndexOfFile(const std::wstring& name) {
        for (int i = 0; i < Dialog().thumbs.GetItemCount(); ++i) {
            if (PathOfItem(i).ends_with(L"\\" + name)) return i;
        }
        return -1;
    }

    std::wstring PathOfItem(int index) {
        ThumbItem item;
        return Dialog().thumbs.ItemSnapshot(index, item) ? std::wstring(item.path) : std::wstring();
    }

    // The item the strip's list view shows selected, or -1.
    int ListSelection() {
        return static_cast<int>(::SendMessageW(Dialog().thumbs.ListWindow(), LVM_GETNEXTITEM,
                                               static_cast<WPARAM>(-1), LVNI_SELECTED));
    }

    std::vector<std::wstring> TemplateNames() {
        std::vector<std::wstring> names;
        for (int i = 0; i < Dialog().templateList.GetCount(); ++i) {
            names.push_back(Dialog().templateList.GetText(i));
        }
        return names;
    }

    // Sends a control's notification to the dialog as the control itself would.
    void Notify(int id, WORD code) {
        ::SendMessageW(Window(), WM_COMMAND, MAKEWPARAM(id, code),
                       reinterpret_cast<LPARAM>(Item(id)));
    }

    // The thumbnail control's selection message for a file, as the control sends it.
    void SendSelected(int index, const std::wstring& path) {
        std::wstring text = path;
        LVITEMW item = {};
        item.iItem = index;
        item.state = 1;
        item.pszText = text.data();
        item.cchTextMax = static_cast<int>(text.size());
        ::SendMessageW(Window(), TLM_SELCHANGED, CInstallerDlg::kThumbStripId,
                       reinterpret_cast<LPARAM>(&item));
    }

    struct SavedVariable {
        const wchar_t* name;
        bool present = false;
        std::wstring value;
    };

    win::ComScope com_;
    testing_support::RegistrySandbox sandbox_;
    TempDir root_;
    // The application object: its name titles the framework's message boxes, and F1 reaches
    // its help command.
    CInstallerApp application_;
    RecordingModalHost modal_;
    SavedVariable savedTemp_[2] = {{L"TMP", false, {}}, {L"TEMP", false, {}}};
    // Last, so it goes first: its windows end before the sandbox and the folders do.
    std::unique_ptr<TestDialog> dialog_;
};

}  // namespace dialog_tests
