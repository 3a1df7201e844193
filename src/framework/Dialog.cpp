#include "framework/Dialog.h"

#include "framework/Application.h"

namespace fw {
namespace {

// Messages whose result a dialog procedure returns directly instead of through
// DWLP_MSGRESULT.
bool ReturnsResultDirectly(UINT message) {
    switch (message) {
        case WM_CTLCOLORMSGBOX:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORSCROLLBAR:
        case WM_CTLCOLORSTATIC:
        case WM_COMPAREITEM:
        case WM_VKEYTOITEM:
        case WM_CHARTOITEM:
        case WM_QUERYDRAGICON:
        case WM_INITDIALOG:
            return true;
        default:
            return false;
    }
}

}  // namespace

Dialog::~Dialog() {
    if (hwnd_ && ::IsWindow(hwnd_)) ::DestroyWindow(hwnd_);
}

const MessageMap& Dialog::GetMessageMap() const {
    static const MessageMapOf<Dialog> map(
        Window::GetMessageMap(), {
                                     OnCommand(IDOK, BN_CLICKED, &Dialog::OnOKCommand),
                                     OnCommand(IDCANCEL, BN_CLICKED, &Dialog::OnCancelCommand),
                                 });
    return map;
}

BOOL Dialog::OnInitDialog() {
    DoDataExchange();
    return TRUE;
}

bool Dialog::SubclassDlgItem(int id, Window& control) {
    return control.Subclass(GetDlgItem(id));
}

LRESULT Dialog::DefWindowProc(UINT, WPARAM, LPARAM) {
    return 0;  // the dialog manager does the default handling when the procedure returns FALSE
}

bool Dialog::Create(HWND parent) {
    if (parent) parent_ = parent;
    endRequested_ = false;
    const HWND window =
        ::CreateDialogParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(templateId_), parent_,
                             &DialogProc, reinterpret_cast<LPARAM>(this));
    return window != nullptr;
}

INT_PTR Dialog::DoModal() {
    if (parent_) ::EnableWindow(parent_, FALSE);
    if (!Create()) {
        if (parent_) ::EnableWindow(parent_, TRUE);
        return -1;
    }
    if (!::IsWindowVisible(hwnd_)) ::ShowWindow(hwnd_, SW_SHOW);

    inModalLoop_ = true;
    MSG msg;
    while (!endRequested_) {
        const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            ::PostQuitMessage(static_cast<int>(msg.wParam));  // leave the quit for the outer loop
            break;
        }
        if (got == -1) break;
        if (!RouteMessage(hwnd_, &msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
    inModalLoop_ = false;

    if (parent_) {
        ::EnableWindow(parent_, TRUE);
        ::SetActiveWindow(parent_);
    }
    if (hwnd_) ::DestroyWindow(hwnd_);
    return result_;
}

void Dialog::EndDialog(INT_PTR result) {
    result_ = result;
    endRequested_ = true;
    if (inModalLoop_) {
        ::PostMessageW(hwnd_, WM_NULL, 0, 0);  // wakes the loop
    } else if (hwnd_) {
        ::DestroyWindow(hwnd_);
    }
}

bool Dialog::RouteMessage(HWND top, MSG* msg) {
    // F1 asks the application for help, as the framework's help command does.
    if (msg->message == WM_KEYDOWN && msg->wParam == VK_F1 && Application::Current()) {
        Application::Current()->OnCommand(kHelpCommand);
        return true;
    }
    for (HWND window = msg->hwnd; window; window = ::GetParent(window)) {
        if (Window* object = Window::FromHandle(window); object && object->PreTranslateMessage(msg))
            return true;
        if (window == top) break;
    }
    return top && ::IsDialogMessageW(top, msg);
}

INT_PTR CALLBACK Dialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    try {
        if (message == WM_INITDIALOG) {
            auto* self = reinterpret_cast<Dialog*>(lParam);
            self->Attach(window);
            return self->OnInitDialog();
        }
        auto* self = static_cast<Dialog*>(Window::FromHandle(window));
        if (!self) return FALSE;
        if (message == WM_NCDESTROY) {
            self->Detach();
            return FALSE;
        }
        LRESULT result = 0;
        bool handled = self->ReflectToChild(message, wParam, lParam, &result);
        if (!handled) {
            const Handled dispatched =
                self->GetMessageMap().Dispatch(*self, message, wParam, lParam);
            handled = dispatched.handled;
            result = dispatched.result;
        }
        if (!handled) return FALSE;
        if (ReturnsResultDirectly(message)) return static_cast<INT_PTR>(result);
        ::SetWindowLongPtrW(window, DWLP_MSGRESULT, result);
        return TRUE;
    } catch (...) {
        return FALSE;
    }
}

}  // namespace fw
