#include "framework/Controls.h"

#include <vector>

namespace fw {

bool Button::OnChildNotify(UINT message, WPARAM, LPARAM lParam, LRESULT* result) {
    if (message != WM_DRAWITEM) return false;
    DrawItem(reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
    *result = TRUE;
    return true;
}

int ListBox::AddString(const wchar_t* text) const {
    return static_cast<int>(::SendMessageW(hwnd_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text)));
}
int ListBox::GetCount() const {
    return static_cast<int>(::SendMessageW(hwnd_, LB_GETCOUNT, 0, 0));
}
int ListBox::GetCurSel() const {
    return static_cast<int>(::SendMessageW(hwnd_, LB_GETCURSEL, 0, 0));
}
int ListBox::SetCurSel(int index) const {
    return static_cast<int>(::SendMessageW(hwnd_, LB_SETCURSEL, index, 0));
}
std::wstring ListBox::GetText(int index) const {
    const LRESULT length = ::SendMessageW(hwnd_, LB_GETTEXTLEN, index, 0);
    if (length == LB_ERR) return {};
    std::vector<wchar_t> text(static_cast<size_t>(length) + 1);
    ::SendMessageW(hwnd_, LB_GETTEXT, index, reinterpret_cast<LPARAM>(text.data()));
    return text.data();
}
void ListBox::ResetContent() const {
    ::SendMessageW(hwnd_, LB_RESETCONTENT, 0, 0);
}
int ListBox::SetItemHeight(int index, int height) const {
    return static_cast<int>(::SendMessageW(hwnd_, LB_SETITEMHEIGHT, index, height));
}
int ListBox::GetItemHeight(int index) const {
    return static_cast<int>(::SendMessageW(hwnd_, LB_GETITEMHEIGHT, index, 0));
}

int ComboBox::AddString(const wchar_t* text) const {
    return static_cast<int>(::SendMessageW(hwnd_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text)));
}
int ComboBox::GetCount() const {
    return static_cast<int>(::SendMessageW(hwnd_, CB_GETCOUNT, 0, 0));
}
int ComboBox::GetCurSel() const {
    return static_cast<int>(::SendMessageW(hwnd_, CB_GETCURSEL, 0, 0));
}
int ComboBox::SetCurSel(int index) const {
    return static_cast<int>(::SendMessageW(hwnd_, CB_SETCURSEL, index, 0));
}
std::wstring ComboBox::GetLBText(int index) const {
    const LRESULT length = ::SendMessageW(hwnd_, CB_GETLBTEXTLEN, index, 0);
    if (length == CB_ERR) return {};
    std::vector<wchar_t> text(static_cast<size_t>(length) + 1);
    ::SendMessageW(hwnd_, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text.data()));
    return text.data();
}
std::wstring ComboBox::GetWindowText() const {
    const int length = ::GetWindowTextLengthW(hwnd_);
    std::vector<wchar_t> text(static_cast<size_t>(length) + 1);
    ::GetWindowTextW(hwnd_, text.data(), length + 1);
    return text.data();
}
void ComboBox::ResetContent() const {
    ::SendMessageW(hwnd_, CB_RESETCONTENT, 0, 0);
}

ToolTip::~ToolTip() {
    if (hwnd_ && ::IsWindow(hwnd_)) {
        HWND window = hwnd_;
        Unsubclass();
        ::DestroyWindow(window);
    }
}

bool ToolTip::Create(HWND parent) {
    HWND window =
        ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                          CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, parent,
                          nullptr, ::GetModuleHandleW(nullptr), nullptr);
    return window && Subclass(window);
}

bool ToolTip::HasTool(UINT id) const {
    TOOLINFOW info = {};
    info.cbSize = sizeof info;
    info.hwnd = ::GetParent(hwnd_);
    info.uId = id;
    return ::SendMessageW(hwnd_, TTM_GETTOOLINFOW, 0, reinterpret_cast<LPARAM>(&info)) != 0;
}

void ToolTip::AddTool(HWND owner, UINT id, const RECT& rect, const wchar_t* text) const {
    TOOLINFOW info = {};
    info.cbSize = sizeof info;
    // No TTF_SUBCLASS: the owner relays its mouse messages from PreTranslateMessage.
    info.hwnd = owner;
    info.uId = id;
    info.rect = rect;
    info.lpszText = const_cast<wchar_t*>(text);
    ::SendMessageW(hwnd_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info));
}

void ToolTip::UpdateTipText(HWND owner, UINT id, const wchar_t* text) const {
    TOOLINFOW info = {};
    info.cbSize = sizeof info;
    info.hwnd = owner;
    info.uId = id;
    info.lpszText = const_cast<wchar_t*>(text);
    ::SendMessageW(hwnd_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&info));
}

void ToolTip::Activate(bool active) const {
    ::SendMessageW(hwnd_, TTM_ACTIVATE, active, 0);
}
void ToolTip::SetMaxTipWidth(int width) const {
    ::SendMessageW(hwnd_, TTM_SETMAXTIPWIDTH, 0, width);
}
void ToolTip::RelayEvent(MSG* msg) const {
    ::SendMessageW(hwnd_, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(msg));
}

}  // namespace fw
