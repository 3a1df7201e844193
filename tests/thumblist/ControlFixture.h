#pragma once
// Shared pieces of the control's window tests: a control created in a host the way the dialog
// does it, waiting for its thumbnails, and finding items and their rectangles.

#include "thumblist/ThumbListCtrl.h"

#include "ControlHost.h"
#include "support/BmpFile.h"
#include "support/TempDir.h"

#include <string>
#include <utility>
#include <vector>

namespace testing_support {

// Waits, pumping messages, until the worker has made every thumbnail it could and ended.
inline bool WaitForThumbnails(const ThumbListCtrl& control) {
    return ControlHost::PumpUntil(
        [&] { return control.PendingCount() == 0 && !control.WorkerRunning(); });
}

// The index of the listed file called `name`, or -1. The file system decides the listing
// order, so tests look their files up.
inline int IndexOfFile(const ThumbListCtrl& control, const std::wstring& name) {
    for (int i = 0; i < control.GetItemCount(); ++i) {
        ThumbItem item;
        if (!control.ItemSnapshot(i, item)) continue;
        const std::wstring path = item.path;
        if (path.size() > name.size() &&
            path.compare(path.size() - name.size(), name.size(), name) == 0 &&
            path[path.size() - name.size() - 1] == L'\\') {
            return i;
        }
    }
    return -1;
}

inline std::wstring PathOf(const ThumbListCtrl& control, int index) {
    ThumbItem item;
    return control.ItemSnapshot(index, item) ? std::wstring(item.path) : std::wstring();
}

// LVM_GETITEMRECT with the given portion (LVIR_BOUNDS, LVIR_SELECTBOUNDS, ...).
inline RECT ItemRect(HWND list, int index, int portion) {
    RECT rect = {};
    rect.left = portion;
    ::SendMessageW(list, LVM_GETITEMRECT, index, reinterpret_cast<LPARAM>(&rect));
    return rect;
}

inline UINT ItemState(HWND list, int index) {
    return static_cast<UINT>(::SendMessageW(list, LVM_GETITEMSTATE, index, 0xF));
}

// Sets an item's state as a user's action would, through the list itself.
inline void SetState(HWND list, int index, UINT state) {
    LVITEMW item = {};
    item.state = state;
    item.stateMask = 0xF;
    ::SendMessageW(list, LVM_SETITEMSTATE, index, reinterpret_cast<LPARAM>(&item));
}

// Records the wParam and lParam of every `message` a window receives, before it acts on it.
class MessageSpy {
public:
    MessageSpy(HWND window, UINT message) : window_(window), message_(message) {
        ::SetWindowSubclass(window_, &Proc, 2, reinterpret_cast<DWORD_PTR>(this));
    }
    ~MessageSpy() {
        if (::IsWindow(window_)) ::RemoveWindowSubclass(window_, &Proc, 2);
    }
    MessageSpy(const MessageSpy&) = delete;
    MessageSpy& operator=(const MessageSpy&) = delete;

    std::vector<std::pair<WPARAM, LPARAM>> seen;

private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                 DWORD_PTR self) {
        auto* spy = reinterpret_cast<MessageSpy*>(self);
        if (message == spy->message_) spy->seen.emplace_back(wParam, lParam);
        return ::DefSubclassProc(window, message, wParam, lParam);
    }
    HWND window_;
    UINT message_;
};

// A host with one control in it, created from `params` over a placeholder at (10, 10) of the
// given size.
struct HostedControl {
    HostedControl(const ThumbListParams& params, int width, int height, bool visible = false)
        : host(width + 40, height + 40, {10, 10, 10 + width, 10 + height}, visible) {
        container = control.Create(host.Window(), host.Placeholder(), params, L"_thumbs", 0);
    }
    ~HostedControl() {
        // The container goes first: its teardown stops the threads the control's destructor
        // relies on having ended.
        if (::IsWindow(container)) ::DestroyWindow(container);
    }
    HostedControl(const HostedControl&) = delete;
    HostedControl& operator=(const HostedControl&) = delete;

    HWND List() const { return control.ListWindow(); }

    ControlHost host;
    ThumbListCtrl control;
    HWND container = nullptr;
};

}  // namespace testing_support
