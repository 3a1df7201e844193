#pragma once
// A dialog from a dialog-template resource, run modally by its own message loop (which offers
// each message to PreTranslateMessage up the window chain) or created modeless.

#include "framework/Window.h"

namespace fw {

class Dialog : public Window {
public:
    explicit Dialog(UINT templateId, HWND parent = nullptr)
        : templateId_(templateId), parent_(parent) {}
    ~Dialog() override;

    // Runs the dialog until EndDialog; returns its result, or -1 when it cannot be created.
    INT_PTR DoModal();

    // Creates the dialog without a modal loop (for embedding and tests).
    bool Create(HWND parent = nullptr);

    // Ends the modal loop with `result` (a modeless dialog is destroyed).
    void EndDialog(INT_PTR result);

    // Data exchange runs here; returns TRUE to let the system set the focus.
    virtual BOOL OnInitDialog();

    // Binds controls to their objects (SubclassDlgItem).
    virtual void DoDataExchange() {}

    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }

    bool SubclassDlgItem(int id, Window& control);
    HWND GetDlgItem(int id) const { return ::GetDlgItem(hwnd_, id); }
    UINT TemplateId() const { return templateId_; }
    bool IsModalRunning() const { return inModalLoop_; }

    const MessageMap& GetMessageMap() const override;

    // Offers `msg` to the framework objects from its window up to `top`, then to the dialog
    // manager of `top`; true when someone consumed it.
    static bool RouteMessage(HWND top, MSG* msg);

protected:
    LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void OnOKCommand() { OnOK(); }
    void OnCancelCommand() { OnCancel(); }

    UINT templateId_;
    HWND parent_;
    bool inModalLoop_ = false;
    bool endRequested_ = false;
    INT_PTR result_ = 0;
};

}  // namespace fw
