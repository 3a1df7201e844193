#include "framework/Window.h"

namespace fw {
namespace {

constexpr wchar_t kObjectProperty[] = L"Glimmerly.FrameworkObject";

// The control an owner-draw message is about.
HWND ReflectionTarget(HWND parent, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_DRAWITEM:
            return reinterpret_cast<const DRAWITEMSTRUCT*>(lParam)->hwndItem;
        case WM_MEASUREITEM:
            return ::GetDlgItem(
                parent,
                static_cast<int>(reinterpret_cast<const MEASUREITEMSTRUCT*>(lParam)->CtlID));
        case WM_COMPAREITEM:
            return reinterpret_cast<const COMPAREITEMSTRUCT*>(lParam)->hwndItem;
        case WM_DELETEITEM:
            return reinterpret_cast<const DELETEITEMSTRUCT*>(lParam)->hwndItem;
        default:
            (void)wParam;
            return nullptr;
    }
}

}  // namespace

Window::~Window() {
    if (hwnd_ && original_) Unsubclass();
}

Window* Window::FromHandle(HWND window) {
    return window ? static_cast<Window*>(::GetPropW(window, kObjectProperty)) : nullptr;
}

void Window::Attach(HWND window) {
    hwnd_ = window;
    ::SetPropW(window, kObjectProperty, this);
}

void Window::Detach() {
    if (hwnd_) ::RemovePropW(hwnd_, kObjectProperty);
    hwnd_ = nullptr;
}

bool Window::Subclass(HWND window) {
    if (!window || hwnd_ || FromHandle(window)) return false;
    Attach(window);
    original_ = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&SubclassProc)));
    if (!original_) {
        Detach();
        return false;
    }
    return true;
}

void Window::Unsubclass() {
    if (hwnd_ && original_)
        ::SetWindowLongPtrW(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original_));
    original_ = nullptr;
    Detach();
}

const MessageMap& Window::GetMessageMap() const {
    static const EmptyMessageMap empty;
    return empty;
}

bool Window::PreTranslateMessage(MSG*) {
    return false;
}

bool Window::OnChildNotify(UINT, WPARAM, LPARAM, LRESULT*) {
    return false;
}

LRESULT Window::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    return original_ ? ::CallWindowProcW(original_, hwnd_, message, wParam, lParam)
                     : ::DefWindowProcW(hwnd_, message, wParam, lParam);
}

bool Window::ReflectToChild(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) const {
    Window* child = FromHandle(ReflectionTarget(hwnd_, message, wParam, lParam));
    return child && child != this && child->OnChildNotify(message, wParam, lParam, result);
}

LRESULT Window::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (ReflectToChild(message, wParam, lParam, &result)) return result;
    const Handled handled = GetMessageMap().Dispatch(*this, message, wParam, lParam);
    if (handled.handled) return handled.result;
    return DefWindowProc(message, wParam, lParam);
}

LRESULT CALLBACK Window::SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    // A window procedure is a boundary: nothing escapes it.
    try {
        Window* self = FromHandle(window);
        if (!self) return ::DefWindowProcW(window, message, wParam, lParam);
        if (message == WM_NCDESTROY) {
            // Dispatch stops here: the original procedure is restored while the window is
            // still valid, then the window finishes its destruction without us.
            WNDPROC original = self->original_;
            self->Unsubclass();
            return ::CallWindowProcW(original, window, message, wParam, lParam);
        }
        return self->WindowProc(message, wParam, lParam);
    } catch (...) {
        return 0;
    }
}

}  // namespace fw
