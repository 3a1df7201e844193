#include "controls/uBitmapButton.h"

#include "base/Dpi.h"
#include "controls/SkinBitmap.h"

#include <commctrl.h>

BOOL uBitmapButton::Create(UINT id, HWND parent, UINT bitmapId, int x, int y, const wchar_t* tip,
                           UINT states, bool notify) {
    if (!Subclass(::GetDlgItem(parent, static_cast<int>(id)))) return FALSE;
    tipText = tip ? tip : L"";
    if (!stripBitmap) {
        bitmapId_ = bitmapId;
        states_ = states;
        dpi_ = ui::DpiOf(parent);
        stripBitmap = skin::Load(bitmapId, dpi_, static_cast<int>(states ? states : 1));
        if (!stripBitmap) return FALSE;
    }
    const SIZE size = StateSize();
    const short left = static_cast<short>(x);
    const short top = static_cast<short>(y);
    UINT flags = SWP_NOZORDER | SWP_NOREDRAW | SWP_NOACTIVATE;
    if (left < 0) flags |= SWP_NOMOVE;
    ::SetWindowPos(hwnd_, nullptr, left, top, size.cx, size.cy, flags);
    if (!tipText.empty()) SetToolTipText(tipText.c_str(), TRUE);
    notifyRightClick = notify;
    if (notify) rightClickInfo = std::make_unique<RightClickInfo>();
    return TRUE;
}

SIZE uBitmapButton::StateSize() const {
    BITMAP info = {};
    ::GetObjectW(stripBitmap.Get(), sizeof info, &info);
    const int height =
        states_ ? static_cast<int>(static_cast<UINT>(info.bmHeight) / states_) : info.bmHeight;
    return {info.bmWidth, height};
}

void uBitmapButton::SetDpi(UINT dpi) {
    if (!stripBitmap || dpi == dpi_) return;
    win::UniqueBitmap strip = skin::Load(bitmapId_, dpi, static_cast<int>(states_ ? states_ : 1));
    if (!strip) return;
    stripBitmap = std::move(strip);
    dpi_ = dpi;
    const SIZE size = StateSize();
    ::SetWindowPos(hwnd_, nullptr, 0, 0, size.cx, size.cy,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    if (toolTip && toolTip->HasTool(1)) {
        // The tool's rectangle follows the button's new size.
        TTTOOLINFOW tool = {};
        tool.cbSize = sizeof tool;
        tool.hwnd = hwnd_;
        tool.uId = 1;
        ::GetClientRect(hwnd_, &tool.rect);
        ::SendMessageW(toolTip->GetSafeHwnd(), TTM_NEWTOOLRECTW, 0,
                       reinterpret_cast<LPARAM>(&tool));
    }
    ::InvalidateRect(hwnd_, nullptr, TRUE);
}

void uBitmapButton::EnsureToolTip() {
    if (toolTip) return;
    toolTip = std::make_unique<fw::ToolTip>();
    if (!toolTip->Create(hwnd_)) {
        toolTip.reset();
        return;
    }
    toolTip->Activate(false);
    toolTip->SetMaxTipWidth(ui::Scale(400, dpi_));
}

void uBitmapButton::SetToolTipText(const wchar_t* text, BOOL activate) {
    if (!text || !*text) return;
    EnsureToolTip();
    if (!toolTip) return;
    if (!toolTip->HasTool(1)) {
        RECT client;
        ::GetClientRect(hwnd_, &client);
        toolTip->AddTool(hwnd_, 1, client, text);
    }
    toolTip->UpdateTipText(hwnd_, 1, text);
    toolTip->Activate(activate != FALSE);
}

bool uBitmapButton::PreTranslateMessage(MSG* msg) {
    if (toolTip) toolTip->RelayEvent(msg);
    return Button::PreTranslateMessage(msg);
}

LRESULT uBitmapButton::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    // A double click counts as another press, so quick repeated clicks all register.
    if (message == WM_LBUTTONDBLCLK) message = WM_LBUTTONDOWN;
    return Button::DefWindowProc(message, wParam, lParam);
}

void uBitmapButton::DrawItem(const DRAWITEMSTRUCT* draw) {
    win::MemoryDc memory(::CreateCompatibleDC(draw->hDC));
    win::SelectObjectScope select(memory.Get(), stripBitmap.Get());
    if (!select.Selected()) return;
    const int height = draw->rcItem.bottom - draw->rcItem.top;
    int row = 0;
    if (draw->itemState & ODS_DISABLED) {
        row = 3;
    } else if (draw->itemState & ODS_SELECTED) {
        row = 1;
    } else if (hovering) {
        row = 4;
    }
    ::BitBlt(draw->hDC, draw->rcItem.left, draw->rcItem.top, draw->rcItem.right - draw->rcItem.left,
             height, memory.Get(), 0, row * height, SRCCOPY);
}

const fw::MessageMap& uBitmapButton::GetMessageMap() const {
    static const fw::MessageMapOf<uBitmapButton> map(
        Button::GetMessageMap(), {
                                     fw::OnMouse(WM_MOUSEMOVE, &uBitmapButton::OnMouseMove),
                                     fw::OnMouse(WM_RBUTTONUP, &uBitmapButton::OnRButtonUp),
                                     fw::OnMouseNotice(WM_MOUSELEAVE, &uBitmapButton::OnMouseLeave),
                                     fw::OnMouseNotice(WM_MOUSEHOVER, &uBitmapButton::OnMouseHover),
                                 });
    return map;
}

void uBitmapButton::OnMouseMove(UINT flags, POINT point) {
    if (!tracking) {
        TRACKMOUSEEVENT track = {};
        track.cbSize = sizeof track;
        track.dwFlags = TME_HOVER | TME_LEAVE;
        track.hwndTrack = hwnd_;
        track.dwHoverTime = 1;
        tracking = _TrackMouseEvent(&track) ? 1 : 0;
    }
    DefWindowProc(WM_MOUSEMOVE, flags, MAKELPARAM(point.x, point.y));
}

LRESULT uBitmapButton::OnMouseHover(WPARAM, LPARAM) {
    hovering = 1;
    ::InvalidateRect(hwnd_, nullptr, TRUE);
    return 0;
}

LRESULT uBitmapButton::OnMouseLeave(WPARAM, LPARAM) {
    tracking = 0;
    hovering = 0;
    ::InvalidateRect(hwnd_, nullptr, TRUE);
    return 0;
}

void uBitmapButton::OnRButtonUp(UINT flags, POINT point) {
    if (rightClickInfo) {
        RECT window;
        ::GetWindowRect(hwnd_, &window);
        rightClickInfo->flags = static_cast<int32_t>(flags);
        rightClickInfo->x = point.x + window.left;
        rightClickInfo->y = point.y + window.top;
        ::SendMessageW(::GetParent(hwnd_), kRightClickMessage,
                       reinterpret_cast<WPARAM>(rightClickInfo.get()), ::GetDlgCtrlID(hwnd_));
    }
    DefWindowProc(WM_RBUTTONUP, flags, MAKELPARAM(point.x, point.y));
}
