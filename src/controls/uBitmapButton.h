#pragma once
// A push button drawn from one bitmap strip of equally high state images (row 0 normal,
// 1 pressed, 3 disabled, 4 hovered). It lights up while the pointer rests on it, shows a
// tooltip, counts a double click as a second press and can report right-button releases.

#include "base/Handles.h"
#include "framework/Controls.h"

#include <memory>
#include <string>

// The message a button sends its parent on a right-button release when asked to.
inline constexpr UINT kRightClickMessage = WM_USER + 1000;  // 2024

// Sent with kRightClickMessage: the release's key flags and its point in screen coordinates.
struct RightClickInfo {
    int32_t flags;
    int32_t x;
    int32_t y;
};

class uBitmapButton : public fw::Button {
public:
    uBitmapButton() = default;
    ~uBitmapButton() override = default;

    // Takes over the parent's control `id` and skins it with the strip `bitmapId` of `states`
    // rows, for the parent's DPI (controls/SkinBitmap.h). A negative x keeps the control's
    // position and only sizes it.
    BOOL Create(UINT id, HWND parent, UINT bitmapId, int x, int y, const wchar_t* tip, UINT states,
                bool notifyRightClick);
    // Skins the button for another DPI and sizes it to match; its position stays.
    void SetDpi(UINT dpi);
    UINT Dpi() const { return dpi_; }
    void SetToolTipText(const wchar_t* text, BOOL activate);

    bool PreTranslateMessage(MSG* msg) override;
    LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    void DrawItem(const DRAWITEMSTRUCT* draw) override;
    const fw::MessageMap& GetMessageMap() const override;

    bool IsHovering() const { return hovering != 0; }
    bool IsTracking() const { return tracking != 0; }
    HWND ToolTipWindow() const { return toolTip ? toolTip->GetSafeHwnd() : nullptr; }

private:
    void EnsureToolTip();
    SIZE StateSize() const;
    void OnMouseMove(UINT flags, POINT point);
    void OnRButtonUp(UINT flags, POINT point);
    LRESULT OnMouseLeave(WPARAM, LPARAM);
    LRESULT OnMouseHover(WPARAM, LPARAM);

    std::wstring tipText;
    win::UniqueBitmap stripBitmap;
    UINT bitmapId_ = 0;
    UINT states_ = 0;
    UINT dpi_ = 96;
    std::unique_ptr<fw::ToolTip> toolTip;
    int tracking = 0;
    int hovering = 0;
    bool notifyRightClick = false;
    std::unique_ptr<RightClickInfo> rightClickInfo;
};
