#pragma once
// The framework's window object: a C++ object attached to an HWND, receiving its messages
// through a message map before the window's own procedure.
//
// Lifetime: an object attaches itself by subclassing (or, for dialogs, in WM_INITDIALOG);
// on WM_NCDESTROY dispatch stops, the original procedure is put back while the window is
// still valid, and the object lets go of the handle. The object never destroys the window
// in its destructor unless it still owns a live one.

#include "base/Win.h"
#include "framework/MessageMap.h"

namespace fw {

class Window {
public:
    Window() = default;
    virtual ~Window();
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    HWND GetSafeHwnd() const { return hwnd_; }

    // The framework object attached to a window, or null.
    static Window* FromHandle(HWND window);

    // Takes over an existing window: its messages reach this object's map first, the rest
    // its original procedure.
    bool Subclass(HWND window);
    void Unsubclass();

    virtual const MessageMap& GetMessageMap() const;

    // Offered every message the modal loop is about to dispatch to this window or one of its
    // children; true when the message was consumed.
    virtual bool PreTranslateMessage(MSG* msg);

    // Owner-draw messages (WM_DRAWITEM and kin) the parent reflects to the control they
    // concern; true when handled, with the message's result in `result`.
    virtual bool OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

    // The window's default handling: its original procedure.
    virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);

    // Helpers over the handle.
    void Invalidate(bool erase = true) const { ::InvalidateRect(hwnd_, nullptr, erase); }
    int GetDlgCtrlID() const { return ::GetDlgCtrlID(hwnd_); }

protected:
    // Reflection to the child, then the message map, then DefWindowProc.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);

    // Finds the control an owner-draw message concerns and lets it handle the message.
    bool ReflectToChild(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) const;

    void Attach(HWND window);
    void Detach();

    HWND hwnd_ = nullptr;

private:
    static LRESULT CALLBACK SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    WNDPROC original_ = nullptr;
};

}  // namespace fw
