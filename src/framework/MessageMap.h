#pragma once
// Message maps: a table per class, one entry per message, command or notification, each
// bound to a member function whose signature the entry's kind fixes at compile time.
//
//   const fw::MessageMap& CMyDialog::GetMessageMap() const {
//       static const fw::MessageMapOf<CMyDialog> map(Dialog::GetMessageMap(), {
//           fw::OnPaint(&CMyDialog::OnPaint),
//           fw::OnCommand(IDC_NEXT, BN_CLICKED, &CMyDialog::OnNext),
//           fw::OnMessage(WM_APP + 1, &CMyDialog::OnCustom),
//       });
//       return map;
//   }

#include "base/Win.h"

#include <functional>
#include <initializer_list>
#include <vector>

namespace fw {

class Window;

// What a handler returned, and whether it took the message at all.
struct Handled {
    bool handled = false;
    LRESULT result = 0;
};

class MessageMap {
public:
    virtual ~MessageMap() = default;
    // Finds the entry for the message (commands and notifications by id and code) and runs it
    // on `target`; entries of the base map are searched after this class's own.
    virtual Handled Dispatch(Window& target, UINT message, WPARAM wParam, LPARAM lParam) const = 0;
};

// The map of a class without handlers of its own.
class EmptyMessageMap : public MessageMap {
public:
    Handled Dispatch(Window&, UINT, WPARAM, LPARAM) const override { return {}; }
};

template <class T>
struct MapEntry {
    UINT message;
    UINT id;    // WM_COMMAND and WM_NOTIFY: the control id; otherwise 0
    UINT code;  // WM_COMMAND: the notification code; WM_NOTIFY: NMHDR::code; otherwise 0
    std::function<LRESULT(T&, UINT, WPARAM, LPARAM)> call;
    UINT lastMessage = 0;  // an entry for a range of messages ends here; 0: `message` alone
};

template <class T>
class MessageMapOf : public MessageMap {
public:
    MessageMapOf(const MessageMap& base, std::initializer_list<MapEntry<T>> entries)
        : base_(base), entries_(entries) {}

    Handled Dispatch(Window& target, UINT message, WPARAM wParam, LPARAM lParam) const override {
        for (const MapEntry<T>& entry : entries_) {
            const UINT last = entry.lastMessage ? entry.lastMessage : entry.message;
            if (message < entry.message || message > last) continue;
            if (message == WM_COMMAND &&
                (entry.id != LOWORD(wParam) || entry.code != HIWORD(wParam)))
                continue;
            if (message == WM_NOTIFY) {
                const auto* header = reinterpret_cast<const NMHDR*>(lParam);
                if (!header || entry.id != header->idFrom || entry.code != header->code) continue;
            }
            return {true, entry.call(static_cast<T&>(target), message, wParam, lParam)};
        }
        return base_.Dispatch(target, message, wParam, lParam);
    }

private:
    const MessageMap& base_;
    std::vector<MapEntry<T>> entries_;
};

// Entry makers. Each fixes the handler's signature for its message.

template <class T>
MapEntry<T> OnCommand(UINT id, UINT code, void (T::*handler)()) {
    return {WM_COMMAND, id, code, [handler](T& t, UINT, WPARAM, LPARAM) -> LRESULT {
                (t.*handler)();
                return 0;
            }};
}

template <class T>
MapEntry<T> OnNotify(UINT id, UINT code, LRESULT (T::*handler)(NMHDR*)) {
    return {WM_NOTIFY, id, code, [handler](T& t, UINT, WPARAM, LPARAM l) {
                return (t.*handler)(reinterpret_cast<NMHDR*>(l));
            }};
}

// Any message, its parameters passed through.
template <class T>
MapEntry<T> OnMessage(UINT message, LRESULT (T::*handler)(WPARAM, LPARAM)) {
    return {message, 0, 0,
            [handler](T& t, UINT, WPARAM w, LPARAM l) { return (t.*handler)(w, l); }};
}

template <class T>
MapEntry<T> OnPaint(void (T::*handler)()) {
    return {WM_PAINT, 0, 0, [handler](T& t, UINT, WPARAM, LPARAM) -> LRESULT {
                (t.*handler)();
                return 0;
            }};
}

template <class T>
MapEntry<T> OnSize(void (T::*handler)(UINT type, int cx, int cy)) {
    return {WM_SIZE, 0, 0, [handler](T& t, UINT, WPARAM w, LPARAM l) -> LRESULT {
                (t.*handler)(static_cast<UINT>(w), LOWORD(l), HIWORD(l));
                return 0;
            }};
}

template <class T>
MapEntry<T> OnSysCommand(void (T::*handler)(UINT id, LPARAM)) {
    return {WM_SYSCOMMAND, 0, 0, [handler](T& t, UINT, WPARAM w, LPARAM l) -> LRESULT {
                (t.*handler)(static_cast<UINT>(w), l);
                return 0;
            }};
}

template <class T>
MapEntry<T> OnGetMinMaxInfo(void (T::*handler)(MINMAXINFO*)) {
    return {WM_GETMINMAXINFO, 0, 0, [handler](T& t, UINT, WPARAM, LPARAM l) -> LRESULT {
                (t.*handler)(reinterpret_cast<MINMAXINFO*>(l));
                return 0;
            }};
}

template <class T>
MapEntry<T> OnQueryDragIcon(HCURSOR (T::*handler)()) {
    return {WM_QUERYDRAGICON, 0, 0, [handler](T& t, UINT, WPARAM, LPARAM) {
                return reinterpret_cast<LRESULT>((t.*handler)());
            }};
}

template <class T>
MapEntry<T> OnEraseBkgnd(BOOL (T::*handler)(HDC)) {
    return {WM_ERASEBKGND, 0, 0, [handler](T& t, UINT, WPARAM w, LPARAM) -> LRESULT {
                return (t.*handler)(reinterpret_cast<HDC>(w));
            }};
}

// WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_RBUTTONUP and their kin: key flags and client point.
template <class T>
MapEntry<T> OnMouse(UINT message, void (T::*handler)(UINT flags, POINT point)) {
    return {message, 0, 0, [handler](T& t, UINT, WPARAM w, LPARAM l) -> LRESULT {
                const POINT p = {static_cast<short>(LOWORD(l)), static_cast<short>(HIWORD(l))};
                (t.*handler)(static_cast<UINT>(w), p);
                return 0;
            }};
}

// WM_MOUSEHOVER and WM_MOUSELEAVE take the result the handler gives.
template <class T>
MapEntry<T> OnMouseNotice(UINT message, LRESULT (T::*handler)(WPARAM, LPARAM)) {
    return OnMessage(message, handler);
}

template <class T>
MapEntry<T> OnScroll(UINT message, void (T::*handler)(UINT code, UINT position, HWND bar)) {
    return {message, 0, 0, [handler](T& t, UINT, WPARAM w, LPARAM l) -> LRESULT {
                (t.*handler)(LOWORD(w), HIWORD(w), reinterpret_cast<HWND>(l));
                return 0;
            }};
}

// The WM_CTLCOLOR family in one entry: the handler answers with a brush, or null for the
// default answer; `kind` is one of CTLCOLOR_MSGBOX to CTLCOLOR_STATIC.
template <class T>
MapEntry<T> OnCtlColor(HBRUSH (T::*handler)(HDC dc, HWND control, UINT kind)) {
    MapEntry<T> entry = {WM_CTLCOLORMSGBOX, 0, 0, nullptr, WM_CTLCOLORSTATIC};
    entry.call = [handler](T& t, UINT message, WPARAM w, LPARAM l) -> LRESULT {
        return reinterpret_cast<LRESULT>((t.*handler)(
            reinterpret_cast<HDC>(w), reinterpret_cast<HWND>(l), message - WM_CTLCOLORMSGBOX));
    };
    return entry;
}

}  // namespace fw
