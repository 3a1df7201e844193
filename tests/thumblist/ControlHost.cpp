#include "ControlHost.h"

#include "support/MessagePump.h"


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

ControlHost::ControlHost(int clientWidth, int clientHeight, RECT placeholder, bool visible) {
    RegisterHostClass();
    RECT frame = {0, 0, clientWidth, clientHeight};
    ::AdjustWindowRectEx(&frame, WS_POPUP, FALSE, 0);
    // A tool window: Wine leaves it unmanaged, so no time is lost waiting for a window manager
    // that Xvfb does not have.
    window_ = ::CreateWindowExW(WS_EX_TOOLWINDOW, kHostClass, L"host",
                                WS_POPUP | WS_CLIPCHILDREN | (visible ? WS_VISIBLE : 0), 0, 0,
                                frame.right - frame.left, frame.bottom - frame.top, nullptr,
                                nullptr, ::GetModuleHandleW(nullptr), nullptr);
    ::SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    ::SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&WindowProc));
    placeholder_ = ::CreateWindowExW(
        0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_BLACKFRAME, placeholder.left, placeholder.top,
        placeholder.right - placeholder.left, placeholder.bottom - placeholder.top, window_,
        reinterpret_cast<HMENU>(1000), ::GetModuleHandleW(nullptr), nullptr);
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
    return testing_support::PumpUntil(done, timeout);
}

void ControlHost::Pump(std::chrono::milliseconds duration) {
    PumpUntil([] { return false; }, duration);
}

std::vector<ParentMessage> ControlHost::Of(UINT message) const {
    std::vector<ParentMessage> found;
    for (const ParentMessage& record : messages_) {
        if (record.message == message) found.push_back(record);
    }
    return found;
}

NotifySpy::NotifySpy(HWND container) : window_(container) {
    ::SetWindowSubclass(window_, &Proc, 1, reinterpret_cast<DWORD_PTR>(this));
}

NotifySpy::~NotifySpy() {
    if (::IsWindow(window_)) ::RemoveWindowSubclass(window_, &Proc, 1);
}

std::vector<Notification> NotifySpy::Of(UINT code) const {
    std::vector<Notification> found;
    for (const Notification& seen : seen_) {
        if (seen.code == code) found.push_back(seen);
    }
    return found;
}

LRESULT CALLBACK NotifySpy::Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                 DWORD_PTR self) {
    const auto* header = reinterpret_cast<const NMHDR*>(lParam);
    if (message != WM_NOTIFY || header->code == NM_CUSTOMDRAW) {
        return ::DefSubclassProc(window, message, wParam, lParam);
    }
    // Recorded before the control acts, so the record keeps the order the list sent them in
    // even when handling one brings on another.
    Notification seen;
    seen.code = header->code;
    seen.idFrom = header->idFrom;
    seen.from = header->hwndFrom;
    switch (header->code) {
        case NM_CLICK:
        case NM_RCLICK:
        case NM_DBLCLK:
        case LVN_ITEMCHANGED: {
            // NMITEMACTIVATE begins as NMLISTVIEW does.
            const auto* list = reinterpret_cast<const NMLISTVIEW*>(lParam);
            seen.item = list->iItem;
            seen.newState = list->uNewState;
            seen.oldState = list->uOldState;
            break;
        }
        default:
            break;
    }
    auto& record = reinterpret_cast<NotifySpy*>(self)->seen_;
    record.push_back(seen);
    const size_t at = record.size() - 1;
    const LRESULT result = ::DefSubclassProc(window, message, wParam, lParam);
    record[at].result = result;
    return result;
}

LRESULT CALLBACK ControlHost::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* host = reinterpret_cast<ControlHost*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (host && message >= TLM_ITEMCLICK && message <= TLM_DRAGOVER) {
        ParentMessage record;
        record.message = message;
        record.wParam = wParam;
        record.lParam = lParam;
        if (message == TLM_KEYDOWN) {
            record.key = *reinterpret_cast<const WORD*>(lParam);
        } else if (message != TLM_ITEMMOVED && message != TLM_DROP && message != TLM_DRAGOVER) {
            const auto* item = reinterpret_cast<const LVITEMW*>(lParam);
            record.item = item->iItem;
            record.state = item->state;
            record.path = item->pszText ? item->pszText : L"";
            record.mask = item->mask;
            record.subItem = item->iSubItem;
            record.stateMask = item->stateMask;
            record.textMax = item->cchTextMax;
            record.image = item->iImage;
            record.param = item->lParam;
            record.indent = item->iIndent;
        }
        host->messages_.push_back(record);
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace testing_support
