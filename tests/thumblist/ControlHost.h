#pragma once
// A small top-level window that hosts a thumbnail control the way the dialog does: a
// placeholder static with id 1000 that the control replaces. It records every message the
// control sends its parent, with the item record's contents copied out.

#include "thumblist/ThumbListCtrl.h"

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace testing_support {

struct ParentMessage {
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;  // as sent (a pointer only during the call)
    int item = -1;      // iItem of the item record
    UINT state = 0;     // state of the item record
    std::wstring path;  // pszText of the item record
    WORD key = 0;       // TLM_KEYDOWN's virtual-key code
    // The rest of the item record, which the control fills with zeros.
    UINT mask = 0;
    int subItem = 0;
    UINT stateMask = 0;
    int textMax = 0;  // cchTextMax
    int image = 0;
    LPARAM param = 0;
    int indent = 0;
};

// A notification the container received from its children, as seen before the control
// handles it (custom draw is left out: it comes for every cell painted).
struct Notification {
    UINT code = 0;
    UINT_PTR idFrom = 0;
    HWND from = nullptr;
    int item = -1;      // iItem, for list notifications that carry one
    UINT newState = 0;  // uNewState of NMLISTVIEW / NMITEMACTIVATE
    UINT oldState = 0;
    LRESULT result = 0;  // what the container returned
};

// Subclasses a container window and records its WM_NOTIFY traffic.
class NotifySpy {
public:
    explicit NotifySpy(HWND container);
    ~NotifySpy();
    NotifySpy(const NotifySpy&) = delete;
    NotifySpy& operator=(const NotifySpy&) = delete;

    std::vector<Notification>& Seen() { return seen_; }
    std::vector<Notification> Of(UINT code) const;

private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                 UINT_PTR id, DWORD_PTR self);
    HWND window_;
    std::vector<Notification> seen_;
};

class ControlHost {
public:
    // A host window of the given client size with a placeholder at (x, y, w, h). A host that
    // is never shown is enough for everything but update regions and painting on screen, and
    // leaves the X server alone.
    ControlHost(int clientWidth, int clientHeight, RECT placeholder, bool visible = true);
    ~ControlHost();
    ControlHost(const ControlHost&) = delete;
    ControlHost& operator=(const ControlHost&) = delete;

    HWND Window() const { return window_; }
    HWND Placeholder() const { return placeholder_; }
    std::vector<ParentMessage>& Messages() { return messages_; }
    // The recorded messages of one kind, in the order they came.
    std::vector<ParentMessage> Of(UINT message) const;

    // The parameters the installer dialog passes.
    static ThumbListParams DialogParams();

    // Dispatches messages until `done` holds or `timeout` passes; true when it held.
    static bool PumpUntil(const std::function<bool()>& done,
                          std::chrono::milliseconds timeout = std::chrono::seconds(20));
    static void Pump(std::chrono::milliseconds duration);

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND window_ = nullptr;
    HWND placeholder_ = nullptr;
    std::vector<ParentMessage> messages_;
};

}  // namespace testing_support
