#pragma once
// A list box drawn as a column of bitmap bars with centred black captions on a dark
// background; it takes over an owner-drawn, fixed-height list box that keeps its strings.

#include "base/Handles.h"
#include "framework/Controls.h"

class CSkinListBox : public fw::ListBox {
public:
    static constexpr COLORREF kBackground = RGB(93, 95, 99);

    // Stores the bar bitmaps, skinned for the window's DPI, and makes the items one pixel (at
    // 96 DPI) higher than the normal bar.
    void SetBitmaps(UINT normalId, UINT selectedId);
    // Skins the bars, the item height and the item font for another DPI.
    void SetDpi(UINT dpi);
    UINT Dpi() const { return dpi_; }

    // Fills the list with the names of the folder's sub-folders ("." and ".." left out).
    void FillFolders(const wchar_t* folder);

    bool OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
    const fw::MessageMap& GetMessageMap() const override;

    void DrawSkinItem(const DRAWITEMSTRUCT* draw);

    UINT normalBitmapId = 0;
    UINT selectedBitmapId = 0;

private:
    void LoadSkins(UINT dpi);
    BOOL OnEraseBkgnd(HDC dc);
    void OnVScroll(UINT code, UINT position, HWND bar);

    UINT dpi_ = 96;
    win::UniqueBitmap normalBar_;
    win::UniqueBitmap selectedBar_;
};
