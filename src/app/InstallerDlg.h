#pragma once
// The installer dialog: categories and templates on the left, the thumbnail strip of the
// chosen template along the bottom, the selected file large in the preview panel, and the
// (hidden) install command behind the Install button.

#include "app/InstallCommand.h"
#include "app/PreviewPictures.h"
#include "base/Handles.h"
#include "controls/CSkinListBox.h"
#include "controls/uBitmapButton.h"
#include "framework/Controls.h"
#include "framework/Dialog.h"
#include "imagelib/CxImage.h"
#include "thumblist/ThumbListCtrl.h"

#include <functional>
#include <memory>
#include <string>

// A static control whose pixels the dialog draws directly (the preview panel and the bar
// behind the buttons): it erases nothing and answers its own paint requests by asking its
// owner to draw, so a repaint of the control alone never leaves it blank.
class PaintedStatic : public fw::Static {
public:
    explicit PaintedStatic(std::function<void()> paint) : paint_(std::move(paint)) {}
    const fw::MessageMap& GetMessageMap() const override;

private:
    void OnPaint();
    BOOL OnEraseBkgnd(HDC) { return TRUE; }
    std::function<void()> paint_;
};

class CInstallerDlg : public fw::Dialog {
public:
    enum : int {
        IDD = 102,
        IDD_ABOUT = 100,
        kThumbStripId = 1000,
        kPreviewId = 1003,
        kTemplateListId = 1004,
        kPrevId = 1005,
        kNextId = 1006,
        kBarId = 1007,
        kInstallId = 1008,
        kExitId = 1009,
        kCategoryId = 1010,
        kIconId = 128,
        kSelectedBarId = 130,
        kNormalBarId = 134,
        kLogoBitmapId = 137,
        kPrevStripId = 138,
        kNextStripId = 139,
        kInstallStripId = 140,
        kExitStripId = 141,
    };
    static constexpr COLORREF kBackground = RGB(114, 119, 116);
    static constexpr COLORREF kBarColor = RGB(93, 95, 99);
    static constexpr COLORREF kTextColor = RGB(200, 200, 200);
    // The smallest window, at 96 DPI.
    static constexpr int kMinWidth = 643;
    static constexpr int kMinHeight = 490;
    // The dialog template's font size, in points.
    static constexpr int kFontPoints = 8;

    explicit CInstallerDlg(HWND parent = nullptr);
    ~CInstallerDlg() override;

    BOOL OnInitDialog() override;
    void DoDataExchange() override;
    const fw::MessageMap& GetMessageMap() const override;

    // Handlers.
    void OnSysCommand(UINT id, LPARAM lParam);
    void OnPaint();
    HCURSOR OnQueryDragIcon();
    void OnSelchangeTemplateList();
    void OnSize(UINT type, int cx, int cy);
    void OnPrev();
    void OnNext();
    HBRUSH OnCtlColor(HDC dc, HWND control, UINT kind);
    void OnExit();
    void OnInstall();
    // Only Exit and the close box end the program: Enter and Escape (IDOK and IDCANCEL from
    // the dialog manager) do nothing.
    void OnOK() override {}
    void OnCancel() override {}
    LRESULT OnClose(WPARAM, LPARAM);
    void OnGetMinMaxInfo(MINMAXINFO* info);
    void OnSelchangeCategory();
    LRESULT OnItemSelected(WPARAM id, LPARAM item);
    // The window moved to a monitor of another DPI: everything that depends on the DPI is
    // made anew, and the window takes the suggested rectangle.
    LRESULT OnDpiChanged(WPARAM dpis, LPARAM suggested);

    // Places the controls for the client size; every distance is the 96-DPI one scaled to
    // the window's DPI (ui::Scale).
    void Layout();
    // Fonts, skins and the thumbnail strip for `dpi`.
    void ApplyDpi(UINT dpi);
    UINT Dpi() const { return dpi_; }
    // The font the dialog and its controls are drawn with, for the window's DPI.
    HFONT DialogFont() const;
    void PaintPreview();
    void ClearSelection();
    void FillCategories(const std::wstring& folder);
    void StartInstallProgram(const wchar_t* programPath) {
        installer.StartInstallProgram(programPath);
    }
    static int ImageTypeFromExtension(const wchar_t* extension);
    void OnHelp();

    // The position counter's text: the selected item's number (0 for none) and the item count.
    std::wstring CounterText();

    // The picture the preview panel shows, fitted to it; null when none.
    const CxImage* PreviewPicture() const {
        const preview::FittedPicture* shown = panelPicture.Shown();
        return shown ? &shown->pixels : nullptr;
    }
    // For tests and the benchmark: waits until the files beside the selection are prepared.
    void WaitForNeighbours() { neighbours.WaitIdle(); }
    size_t NeighbourBytes() { return neighbours.HeldBytes(); }

    // State, in the order the dialog keeps it.
    int categoryMode = 0;
    fw::ComboBox categoryCombo;
    CSkinListBox templateList;
    PaintedStatic previewStatic{[this] { PaintPanel(); }};
    HICON icon = nullptr;
    ThumbListCtrl thumbs;
    preview::PanelPicture panelPicture;
    // Texts built from folder and file names are held whole; what the program cannot hand to
    // Windows whole is not listed in the first place.
    std::wstring moduleFolder;
    std::wstring previewTitle;
    std::wstring currentFolder;
    std::wstring selectedPath;
    int selectedIndex = -1;
    RECT captionRect = {};
    win::UniqueBitmap logoBitmap;
    std::unique_ptr<CxImage> logoImage;
    win::UniqueBrush backgroundBrush;
    std::wstring caption;
    std::wstring installProgram;
    std::wstring logoPath;
    uBitmapButton prevButton;
    uBitmapButton nextButton;
    uBitmapButton installButton;
    uBitmapButton exitButton;

protected:
    // The executable's full path; the dialog shows the material below its folder.
    virtual std::wstring ModulePath() const;

private:
    // The install command's messages as the framework's message boxes.
    class DialogPrompt : public InstallPrompt {
    public:
        void Show(const wchar_t* text, const wchar_t* title, UINT style) override;
    };

    void RegisterShellType();
    SIZE PanelSize() const;
    // Has the files beside the selection prepared, and nothing else.
    void PrepareNeighbours();
    // The three parts of PaintPreview.
    void PaintPanel();
    void PaintBar();
    void PaintCaption();

    PaintedStatic barStatic_{[this] {
        PaintBar();
        PaintCaption();
    }};
    preview::NeighbourPreparer neighbours;
    // The panel shows a package's sample, taken out into the temporary folder.
    bool showingSample_ = false;
    DialogPrompt prompt_;
    InstallCommand installer{prompt_};
    UINT dpi_ = 96;
    // Made when the DPI changes; until then the dialog manager's font serves.
    win::UniqueFont dialogFont_;
};
