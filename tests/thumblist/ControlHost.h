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
    int item = -1;       // iItem of the item record
    UINT state = 0;      // state of the item record
    std::wstring path;   // pszText of the item record
    WORD key = 0;        // TLM_KEYDOWN's virtual-key code
};

class ControlHost {
public:
    // A host window of the given client size with a placeholder at (x, y, w, h).
    ControlHost(int clientWidth, int clientHeight, RECT placeholder);
    ~ControlHost();
    ControlHost(const ControlHost&) = delete;
    ControlHost& operator=(const ControlHost&) = delete;

    HWND Window() const { return window_; }
    HWND Placeholder() const { return placeholder_; }
    std::vector<ParentMessage>& Messages() { return messages_; }

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
