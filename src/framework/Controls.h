#pragma once
// Thin wrappers over the standard controls: a typed face for their messages. They attach to a
// dialog's control through Dialog::SubclassDlgItem.

#include "framework/Window.h"

#include <commctrl.h>

#include <string>

namespace fw {

class Button : public Window {
public:
    // Owner-drawn buttons are drawn by DrawItem, reached through the reflected WM_DRAWITEM.
    virtual void DrawItem(const DRAWITEMSTRUCT* /*draw*/) {}
    bool OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
};

class ListBox : public Window {
public:
    int AddString(const wchar_t* text) const;
    int GetCount() const;
    int GetCurSel() const;
    int SetCurSel(int index) const;
    std::wstring GetText(int index) const;
    void ResetContent() const;
    int SetItemHeight(int index, int height) const;
    int GetItemHeight(int index) const;
};

class ComboBox : public Window {
public:
    int AddString(const wchar_t* text) const;
    int GetCount() const;
    int GetCurSel() const;
    int SetCurSel(int index) const;
    std::wstring GetLBText(int index) const;
    // The text of the selected entry (a drop-down list has no edit field).
    std::wstring GetWindowText() const;
    void ResetContent() const;
};

class Static : public Window {};

// A tooltip window owned by this object (destroyed with it).
class ToolTip : public Window {
public:
    ~ToolTip() override;
    bool Create(HWND parent);
    bool HasTool(UINT id) const;
    void AddTool(HWND owner, UINT id, const RECT& rect, const wchar_t* text) const;
    void UpdateTipText(HWND owner, UINT id, const wchar_t* text) const;
    void Activate(bool active) const;
    void SetMaxTipWidth(int width) const;
    void RelayEvent(MSG* msg) const;
};

}  // namespace fw
