#include "controls/CSkinListBox.h"

#include "base/Dpi.h"
#include "base/Handles.h"
#include "controls/SkinBitmap.h"
#include "framework/FileFind.h"

#include <algorithm>

void CSkinListBox::SetBitmaps(UINT normalId, UINT selectedId) {
    normalBitmapId = normalId;
    selectedBitmapId = selectedId;
    LoadSkins(ui::DpiOf(hwnd_));
}

void CSkinListBox::SetDpi(UINT dpi) {
    if (dpi == dpi_) return;
    LoadSkins(dpi);
    ::InvalidateRect(hwnd_, nullptr, TRUE);
}

void CSkinListBox::LoadSkins(UINT dpi) {
    dpi_ = dpi;
    normalBar_ = normalBitmapId ? skin::Load(normalBitmapId, dpi) : win::UniqueBitmap();
    selectedBar_ = selectedBitmapId ? skin::Load(selectedBitmapId, dpi) : win::UniqueBitmap();
    const SIZE normal = skin::Size96(normalBitmapId);
    if (normal.cy > 0) SetItemHeight(0, ui::Scale(normal.cy + 1, dpi));
}

void CSkinListBox::FillFolders(const wchar_t* folder) {
    ResetContent();
    for (const std::wstring& name : fw::SubfolderNames(folder)) AddString(name.c_str());
}

bool CSkinListBox::OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    if (message != WM_DRAWITEM) return ListBox::OnChildNotify(message, wParam, lParam, result);
    DrawSkinItem(reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
    *result = TRUE;
    return true;
}

const fw::MessageMap& CSkinListBox::GetMessageMap() const {
    static const fw::MessageMapOf<CSkinListBox> map(
        ListBox::GetMessageMap(), {
                                      fw::OnEraseBkgnd(&CSkinListBox::OnEraseBkgnd),
                                      fw::OnScroll(WM_VSCROLL, &CSkinListBox::OnVScroll),
                                  });
    return map;
}

void CSkinListBox::DrawSkinItem(const DRAWITEMSTRUCT* draw) {
    if (draw->itemID == static_cast<UINT>(-1)) return;
    HDC dc = draw->hDC;
    const RECT& item = draw->rcItem;
    if (draw->itemAction & (ODA_DRAWENTIRE | ODA_SELECT)) {
        if (normalBitmapId != 0) {
            const bool selected = (draw->itemState & ODS_SELECTED) && ::IsWindowEnabled(hwnd_);
            HBITMAP bar = selected ? selectedBar_.Get() : normalBar_.Get();
            BITMAP info = {};
            if (bar && ::GetObjectW(bar, sizeof info, &info)) {
                win::MemoryDc memory(::CreateCompatibleDC(dc));
                win::SelectObjectScope select(memory.Get(), bar);
                const int width = std::min<int>(info.bmWidth, item.right - item.left);
                const int height = std::min<int>(info.bmHeight, item.bottom - item.top);
                ::BitBlt(dc, item.left, item.top, width, height, memory.Get(), 0, 0, SRCCOPY);
            }
        }
        win::UniqueFont font(::CreateFontW(ui::Scale(14, dpi_), 0, 0, 0, 500, FALSE, FALSE, FALSE,
                                           0, 0, 0, PROOF_QUALITY, 6, L"MS Sans Serif"));
        win::SelectObjectScope selectFont(dc, font.Get());
        const COLORREF previousText = ::SetTextColor(dc, RGB(0, 0, 0));
        const int previousMode = ::SetBkMode(dc, TRANSPARENT);
        const std::wstring text = GetText(static_cast<int>(draw->itemID));
        RECT box = item;
        ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &box,
                    DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
        ::SetBkMode(dc, previousMode);
        ::SetTextColor(dc, previousText);
    }
    if (draw->itemAction & ODA_FOCUS) ::DrawFocusRect(dc, &item);
}

BOOL CSkinListBox::OnEraseBkgnd(HDC dc) {
    if (GetDlgCtrlID() == 1004) {
        RECT client;
        ::GetClientRect(hwnd_, &client);
        win::UniqueBrush brush(::CreateSolidBrush(kBackground));
        ::FillRect(dc, &client, brush.Get());
    }
    return FALSE;
}

void CSkinListBox::OnVScroll(UINT code, UINT position, HWND bar) {
    ::InvalidateRect(hwnd_, nullptr, TRUE);
    DefWindowProc(WM_VSCROLL, MAKEWPARAM(code, position), reinterpret_cast<LPARAM>(bar));
}
