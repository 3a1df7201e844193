#include "base/Dpi.h"

namespace ui {
namespace {

// Functions that Windows before 10 lacks, looked up once in user32.
template <class Function>
Function User32Function(const char* name) {
    HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
    return user32
               ? reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(user32, name)))
               : nullptr;
}

UINT ScreenDpi() {
    HDC screen = ::GetDC(nullptr);
    const int dpi = screen ? ::GetDeviceCaps(screen, LOGPIXELSX) : 0;
    if (screen) ::ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : kBaseDpi;
}

}  // namespace

UINT DpiOf(HWND window) {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = User32Function<GetDpiForWindowFn>("GetDpiForWindow");
    if (getDpiForWindow && window) {
        if (const UINT dpi = getDpiForWindow(window)) return dpi;
    }
    return SystemDpi();
}

int SystemMetric(int index, UINT dpi) {
    using GetMetricFn = int(WINAPI*)(int, UINT);
    static const auto getMetric = User32Function<GetMetricFn>("GetSystemMetricsForDpi");
    return getMetric ? getMetric(index, dpi) : ::GetSystemMetrics(index);
}

void LayOutDialogOurselves(HWND dialog) {
    using SetBehaviorFn = BOOL(WINAPI*)(HWND, int, int);
    static const auto setBehavior = User32Function<SetBehaviorFn>("SetDialogDpiChangeBehavior");
    constexpr int kDisableAll = 1;  // DDC_DISABLE_ALL
    if (setBehavior) setBehavior(dialog, kDisableAll, kDisableAll);
}

UINT SystemDpi() {
    using GetDpiForSystemFn = UINT(WINAPI*)();
    static const auto getDpiForSystem = User32Function<GetDpiForSystemFn>("GetDpiForSystem");
    if (getDpiForSystem) {
        if (const UINT dpi = getDpiForSystem()) return dpi;
    }
    return ScreenDpi();
}

}  // namespace ui
