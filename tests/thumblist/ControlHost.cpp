#include "ControlHost.h"

#include <thread>

namespace testing_support {
namespace {

constexpr wchar_t kHostClass[] = L"GlimmerlyTestHost";

void RegisterHostClass() {
    static const bool registered = [] {
        RegisterThumbListClasses();
        WNDCLASSEXW host = {};
        host.cbSize = sizeof host;
        host.lpfnWndProc = DefWindowProcW;
        host.hInstance = ::GetModuleHandleW(nullptr);
        host.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
        host.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        host.lpszClassName = kHostClass;
        return ::RegisterClassExW(&host) != 0;
    }();
    (void)registered;
}

}  // namespace

ControlHost::ControlHost(int clientWidth, int clientHeight, RECT placeholder) {
    RegisterHostClass();
    RECT frame = {0, 0, clientWidth, clientHeight};
    ::AdjustWindowRectEx(&frame, WS_POPUP, FALSE, 0);
    window_ = ::CreateWindowExW(0, kHostClass, L"host", WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0,
                                frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr,
                                ::GetModuleHandleW(nullptr), nullptr);
    ::SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    ::SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&WindowProc));
    placeholder_ = ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_BLACKFRAME, placeholder.left,
                                     placeholder.top, placeholder.right - placeholder.left,
                                     placeholder.bottom - placeholder.top, window_, reinterpret_cast<HMENU>(1000),
                                     ::GetModuleHandleW(nullptr), nullptr);
}

ControlHost::~ControlHost() {
    if (::IsWindow(window_)) ::DestroyWindow(window_);
    Pump(std::chrono::milliseconds(0));
}

ThumbListParams ControlHost::DialogParams() {
    ThumbListParams params = {};
    params.thumbWidth = 100;
    params.thumbHeight = 100;
    params.styleFlags = 0x1B;
    params.bkColor = 0x615A57;
    params.cellColor = 0x635F5D;
    params.captionColor = 0xFFFFFF;
    params.selectedColor = ::GetSysColor(COLOR_HIGHLIGHT);
    params.iconId = -1;
    params.bkBitmapId = -1;
    return params;
}

bool ControlHost::PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        if (done()) return true;
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void ControlHost::Pump(std::chrono::milliseconds duration) {
    PumpUntil([] { return false; }, duration);
}

LRESULT CALLBACK ControlHost::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* host = reinterpret_cast<ControlHost*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (host && message >= TLM_ITEMCLICK && message <= TLM_DRAGOVER) {
        ParentMessage record;
        record.message = message;
        record.wParam = wParam;
        if (message == TLM_KEYDOWN) {
            record.key = *reinterpret_cast<const WORD*>(lParam);
        } else if (message != TLM_ITEMMOVED && message != TLM_DROP && message != TLM_DRAGOVER) {
            const auto* item = reinterpret_cast<const LVITEMW*>(lParam);
            record.item = item->iItem;
            record.state = item->state;
            record.path = item->pszText ? item->pszText : L"";
        }
        host->messages_.push_back(record);
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace testing_support
