// The preview panel as the user meets it: the real dialog in this process, over a library whose
// templates are the folders given. For each template it times, from the selection change to
// the painted panel:
//   cold      the template chosen, its first file shown (nothing prepared);
//   step      Next, after the neighbours were prepared (a user looking at each picture);
//   held      Next pressed again at once (Next held down: what is being prepared is waited
//             for, the rest decoded on the spot);
//   whole     the file decoded whole and drawn scaled into the panel twice, as a full repaint
//             did before pictures were fitted once and kept.
// Output, one tab-separated line per template:
//   preview NAME FILES COLD-MS STEP-MS STEP-MAX-MS HELD-MS WHOLE-MS NEIGHBOUR-BYTES PANEL-WxH
// (means over the files; NEIGHBOUR-BYTES: the pixels the prepared neighbours held at most).
//
// preview_bench.exe LIBRARY  (the templates are LIBRARY's sub-folders)

#include "app/InstallerDlg.h"
#include "framework/Application.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

class BenchDialog : public CInstallerDlg {
public:
    explicit BenchDialog(std::wstring modulePath) : modulePath_(std::move(modulePath)) {}

protected:
    std::wstring ModulePath() const override { return modulePath_; }

private:
    std::wstring modulePath_;
};

// Message boxes would stop the run: they are counted instead.
class QuietModal : public fw::ModalHost {
public:
    int ShowMessageBox(HWND, const wchar_t* text, const wchar_t*, UINT) override {
        std::fwprintf(stderr, L"preview_bench: %ls\n", text ? text : L"");
        return IDOK;
    }
    INT_PTR RunModal(fw::Dialog&) override { return IDOK; }
    void ShowHelp(const wchar_t*) override {}
};

double Now() {
    LARGE_INTEGER counter, frequency;
    ::QueryPerformanceCounter(&counter);
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

void Pump() {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
}

// The selected file decoded whole and drawn scaled into the panel twice.
double WholeDecodeAndPaint(const std::wstring& path, HWND panel) {
    const double start = Now();
    CxImage image(path.c_str(), 0, false, false);
    if (image.IsValid()) {
        RECT area;
        ::GetClientRect(panel, &area);
        const RECT fit =
            preview::FitPicture(static_cast<int>(image.GetWidth()),
                                static_cast<int>(image.GetHeight()), area.right, area.bottom);
        HDC dc = ::GetDC(panel);
        for (int paint = 0; paint < 2; ++paint) {
            image.Draw2(dc, fit.left, fit.top, fit.right - fit.left, fit.bottom - fit.top);
        }
        ::GdiFlush();
        ::ReleaseDC(panel, dc);
    }
    return Now() - start;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fwprintf(stderr, L"usage: preview_bench LIBRARY\n");
        return 2;
    }
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);
    if (!RegisterThumbListClasses()) return 1;
    QuietModal modal;
    fw::SetModalHost(&modal);

    std::wstring library = argv[1];
    if (library.back() != L'\\') library += L'\\';
    BenchDialog dialog(library + L"Glimmerly.exe");
    if (!dialog.Create()) return 1;
    Pump();
    HWND panel = ::GetDlgItem(dialog.GetSafeHwnd(), CInstallerDlg::kPreviewId);
    RECT area;
    ::GetClientRect(panel, &area);

    for (int t = 0; t < dialog.templateList.GetCount(); ++t) {
        const std::wstring name = dialog.templateList.GetText(t);
        dialog.templateList.SetCurSel(t);
        // A strip already showing the template would keep its selection and show nothing new.
        dialog.thumbs.Reset();
        dialog.ClearSelection();
        double start = Now();
        dialog.OnSelchangeTemplateList();
        ::GdiFlush();
        const double cold = Now() - start;
        const int files = dialog.thumbs.GetItemCount();
        if (files < 2) {
            std::wprintf(L"preview\t%ls\t%d\n", name.c_str(), files);
            continue;
        }

        double step = 0, stepMax = 0, held = 0, whole = 0;
        size_t neighbourBytes = 0;
        for (int i = 1; i < files; ++i) {
            dialog.WaitForNeighbours();
            neighbourBytes = std::max(neighbourBytes, dialog.NeighbourBytes());
            Pump();
            start = Now();
            dialog.OnNext();
            ::GdiFlush();
            const double took = Now() - start;
            step += took;
            stepMax = std::max(stepMax, took);
        }
        // Back to the start, then Next held down.
        dialog.thumbs.SelectItems(0, -1);
        dialog.WaitForNeighbours();
        start = Now();
        for (int i = 1; i < files; ++i) dialog.OnNext();
        ::GdiFlush();
        held = Now() - start;
        dialog.WaitForNeighbours();
        for (int i = 0; i < files; ++i) {
            ThumbItem item;
            if (dialog.thumbs.ItemSnapshot(i, item)) whole += WholeDecodeAndPaint(item.path, panel);
        }
        Pump();
        std::wprintf(L"preview\t%ls\t%d\t%.1f\t%.1f\t%.1f\t%.1f\t%.1f\t%zu\t%ldx%ld\n",
                     name.c_str(), files, cold * 1000, step * 1000 / (files - 1), stepMax * 1000,
                     held * 1000 / (files - 1), whole * 1000 / files, neighbourBytes, area.right,
                     area.bottom);
        std::fflush(stdout);
    }
    ::DestroyWindow(dialog.GetSafeHwnd());
    Pump();
    fw::SetModalHost(nullptr);
    return 0;
}
