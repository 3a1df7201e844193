#pragma once
// Pixel quantities of the user interface are written for 96 DPI and scaled to the DPI of the
// window they belong to. Every such quantity goes through Scale, so that one rounding holds
// everywhere and, at 96 DPI, every pixel stays where it was.

namespace ui {

inline constexpr unsigned kBaseDpi = 96;

// px96 at `dpi`: px96 * dpi / 96 rounded to the nearest pixel, halves away from zero (as
// MulDiv rounds). A position and a size scaled apart therefore differ from the scaled sum by
// at most one pixel.
constexpr int Scale(int px96, unsigned dpi) {
    const long long product = static_cast<long long>(px96) * dpi;
    const long long half = kBaseDpi / 2;
    return static_cast<int>(product >= 0 ? (product + half) / kBaseDpi
                                         : -((-product + half) / kBaseDpi));
}

}  // namespace ui

#ifdef _WIN32
#include "base/Win.h"

namespace ui {

// The DPI a window is shown at: GetDpiForWindow where the system has it (Windows 10 1607 and
// later, Wine), else the screen's LOGPIXELSX, which is the system DPI a system-aware process
// sees. Never 0.
UINT DpiOf(HWND window);

// The system DPI: GetDpiForSystem where it exists, else the screen's LOGPIXELSX.
UINT SystemDpi();

// GetSystemMetrics(index) for a window at `dpi`: GetSystemMetricsForDpi where it exists
// (Windows 10 1607 and later, Wine), else the system's own value.
int SystemMetric(int index, UINT dpi);

// Tells the dialog manager (Windows 10 1703 and later) to leave a dialog's size, font and
// controls alone when its DPI changes: the dialog lays itself out. Nothing elsewhere.
void LayOutDialogOurselves(HWND dialog);

}  // namespace ui
#endif
