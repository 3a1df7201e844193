#include "app/InstallerDlg.h"

#include "base/Dpi.h"
#include "base/Utf.h"
#include "controls/SkinBitmap.h"
#include "framework/Application.h"
#include "framework/FileFind.h"
#include "package/TemplatePackage.h"

#include <cwchar>
#include <cwctype>

namespace {

constexpr wchar_t kConfigFile[] = L"Glimmerly.ini";
constexpr wchar_t kDefaultCaption[] = L"Glimmerly";
constexpr wchar_t kDialogFileTypes[] = L"bmp bmi jpg tif tiff paj mat tga ogf qrt";
constexpr wchar_t kHelpFile[] = L"Glimmerly.chm";

// The first line of an ini section, read whole (a "key=value" line stays as it is); empty
// when the section is missing or empty. The buffer grows until the section fits, so a long
// line is never cut into another program's or caption's text.
std::wstring FirstLineOfSection(const wchar_t* section, const std::wstring& file,
                                DWORD* read = nullptr) {
    std::wstring buffer(260, L'\0');
    DWORD length = 0;
    for (;;) {
        length = ::GetPrivateProfileSectionW(section, buffer.data(),
                                             static_cast<DWORD>(buffer.size()), file.c_str());
        // A section that did not fit comes back as the buffer's size less two.
        if (length + 2 < buffer.size() || buffer.size() >= 65536) break;
        buffer.assign(buffer.size() * 4, L'\0');
    }
    if (read) *read = length;
    return length ? std::wstring(buffer.c_str()) : std::wstring();
}

std::wstring FileNameOf(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

// From the last dot on, lower-cased; empty without a dot.
std::wstring LowerExtension(const std::wstring& fileName) {
    const size_t dot = fileName.rfind(L'.');
    std::wstring extension = dot == std::wstring::npos ? L"" : fileName.substr(dot);
    for (wchar_t& c : extension) c = static_cast<wchar_t>(std::towlower(c));
    return extension;
}

// A black frame `thickness` pixels wide inside `rect`.
void Frame(HDC dc, const RECT& rect, int thickness = 1) {
    win::UniqueBrush black(::CreateSolidBrush(RGB(0, 0, 0)));
    RECT ring = rect;
    for (int i = 0; i < thickness && ring.right > ring.left && ring.bottom > ring.top; ++i) {
        ::FrameRect(dc, &ring, black.Get());
        ::InflateRect(&ring, -1, -1);
    }
}

TRIVERTEX Vertex(int x, int y, COLORREF color) {
    TRIVERTEX vertex = {};
    vertex.x = x;
    vertex.y = y;
    vertex.Red = static_cast<COLOR16>(GetRValue(color) << 8);
    vertex.Green = static_cast<COLOR16>(GetGValue(color) << 8);
    vertex.Blue = static_cast<COLOR16>(GetBValue(color) << 8);
    return vertex;
}

void HorizontalGradient(HDC dc, int left, int top, int right, int bottom, COLORREF from,
                        COLORREF to) {
    TRIVERTEX vertices[2] = {Vertex(left, top, from), Vertex(right, bottom, to)};
    GRADIENT_RECT rect = {0, 1};
    ::GradientFill(dc, vertices, 2, &rect, 1, GRADIENT_FILL_RECT_H);
}

}  // namespace

const fw::MessageMap& PaintedStatic::GetMessageMap() const {
    static const fw::MessageMapOf<PaintedStatic> map(
        fw::Static::GetMessageMap(), {
                                         fw::OnPaint(&PaintedStatic::OnPaint),
                                         fw::OnEraseBkgnd(&PaintedStatic::OnEraseBkgnd),
                                     });
    return map;
}

void PaintedStatic::OnPaint() {
    PAINTSTRUCT paint;
    ::BeginPaint(hwnd_, &paint);
    ::EndPaint(hwnd_, &paint);
    if (paint_) paint_();
}

void CInstallerDlg::DialogPrompt::Show(const wchar_t* text, const wchar_t* title, UINT style) {
    if (title) {
        fw::Modal().ShowMessageBox(nullptr, text, title,
                                   style);  // the install program's error box has no owner
    } else {
        fw::AppMessageBox(text, style);
    }
}

CInstallerDlg::CInstallerDlg(HWND parent) : fw::Dialog(IDD, parent) {
    icon = ::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kIconId));
    backgroundBrush.Reset(::CreateSolidBrush(kBackground));
}

CInstallerDlg::~CInstallerDlg() {
    // The windows go first, so the thumbnail control's threads end before its object does.
    if (GetSafeHwnd() && ::IsWindow(GetSafeHwnd())) ::DestroyWindow(GetSafeHwnd());
}

std::wstring CInstallerDlg::ModulePath() const {
    return fw::ExecutablePath();
}

const fw::MessageMap& CInstallerDlg::GetMessageMap() const {
    static const fw::MessageMapOf<CInstallerDlg> map(
        Dialog::GetMessageMap(),
        {
            fw::OnSysCommand(&CInstallerDlg::OnSysCommand),
            fw::OnPaint(&CInstallerDlg::OnPaint),
            fw::OnQueryDragIcon(&CInstallerDlg::OnQueryDragIcon),
            fw::OnCommand(kTemplateListId, LBN_SELCHANGE, &CInstallerDlg::OnSelchangeTemplateList),
            fw::OnSize(&CInstallerDlg::OnSize),
            fw::OnCommand(kPrevId, BN_CLICKED, &CInstallerDlg::OnPrev),
            fw::OnCommand(kNextId, BN_CLICKED, &CInstallerDlg::OnNext),
            fw::OnCtlColor(&CInstallerDlg::OnCtlColor),
            fw::OnCommand(kExitId, BN_CLICKED, &CInstallerDlg::OnExit),
            fw::OnCommand(kInstallId, BN_CLICKED, &CInstallerDlg::OnInstall),
            fw::OnGetMinMaxInfo(&CInstallerDlg::OnGetMinMaxInfo),
            fw::OnCommand(kCategoryId, CBN_SELCHANGE, &CInstallerDlg::OnSelchangeCategory),
            fw::OnMessage(TLM_SELCHANGED, &CInstallerDlg::OnItemSelected),
            fw::OnMessage(WM_CLOSE, &CInstallerDlg::OnClose),
            fw::OnMessage(WM_DPICHANGED, &CInstallerDlg::OnDpiChanged),
        });
    return map;
}

void CInstallerDlg::DoDataExchange() {
    SubclassDlgItem(kCategoryId, categoryCombo);
    SubclassDlgItem(kTemplateListId, templateList);
    SubclassDlgItem(kPreviewId, previewStatic);
    SubclassDlgItem(kBarId, barStatic_);
}

void CInstallerDlg::RegisterShellType() {
    // Rewritten at every start; the results are not examined.
    const std::wstring exe = ModulePath();
    const auto setDefault = [](const wchar_t* key, const std::wstring& value) {
        HKEY created = nullptr;
        if (::RegCreateKeyW(HKEY_CLASSES_ROOT, key, &created) == ERROR_SUCCESS)
            ::RegCloseKey(created);
        ::RegSetValueW(HKEY_CLASSES_ROOT, key, REG_SZ, value.c_str(),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    };
    setDefault(L"QRTInstaller", L"QRV Template Installer");
    // Quoted: unquoted, a path with a space lets the shell try its first word as a program.
    setDefault(L"QRTInstaller\\shell\\open\\command", L"\"" + exe + L"\"");
    setDefault(L".qrt", L"QRTInstaller");
}

BOOL CInstallerDlg::OnInitDialog() {
    Dialog::OnInitDialog();
    // The dialog manager made the font for the window's DPI; a later change is ours to follow.
    dpi_ = ui::DpiOf(GetSafeHwnd());
    ui::LayOutDialogOurselves(GetSafeHwnd());
    if (fw::Application* application = fw::Application::Current())
        application->mainWindow = GetSafeHwnd();
    ::SendMessageW(GetSafeHwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    ::SendMessageW(GetSafeHwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    templateList.SetBitmaps(kNormalBarId, kSelectedBarId);

    const std::wstring exe = ModulePath();
    moduleFolder = exe.substr(0, exe.rfind(L'\\') + 1);
    RegisterShellType();

    ThumbListParams params = {};
    params.thumbWidth = 100;
    params.thumbHeight = 100;
    params.styleFlags = TLF_HORIZONTAL | TLF_SINGLESEL | TLF_INFOTIPS | TLF_BKCOLOR;
    params.bkColor = RGB(87, 90, 97);
    params.cellColor = RGB(93, 95, 99);
    params.captionColor = RGB(255, 255, 255);
    params.selectedColor = ::GetSysColor(COLOR_HIGHLIGHT);
    params.iconId = kIconId;
    params.bkBitmapId = -1;
    params.dpi = dpi_;
    thumbs.Create(GetSafeHwnd(), GetDlgItem(kThumbStripId), params, L"_thumbs", Folder);
    thumbs.SetFileTypes(kDialogFileTypes, false);

    prevButton.Create(kPrevId, GetSafeHwnd(), kPrevStripId, 10, 20, L"Previous", 5, false);
    nextButton.Create(kNextId, GetSafeHwnd(), kNextStripId, 110, 20, L"Next", 5, false);
    installButton.Create(kInstallId, GetSafeHwnd(), kInstallStripId, 110, 20, L"Install", 5, false);
    exitButton.Create(kExitId, GetSafeHwnd(), kExitStripId, 110, 20, L"Exit", 5, false);
    for (uBitmapButton* button : {&prevButton, &nextButton, &installButton, &exitButton})
        button->SetDpi(dpi_);

    logoBitmap = skin::Load(kLogoBitmapId, dpi_);
    logoPath = moduleFolder + L"Logo.bmp";
    logoImage = std::make_unique<CxImage>(logoPath.c_str(), 1, false, false);

    const std::wstring config = moduleFolder + kConfigFile;
    installProgram = FirstLineOfSection(L"INSTALL", config);
    DWORD read = 0;
    const std::wstring categoryLine = FirstLineOfSection(L"CATEGORY", config, &read);
    if (read) categoryMode = categoryLine == L"1" ? 1 : 0;

    Layout();

    if (categoryMode) {
        FillCategories(moduleFolder);
        categoryCombo.SetCurSel(0);
        OnSelchangeCategory();
        if (templateList.GetCount() > 0) templateList.SetCurSel(0);
    } else {
        currentFolder = moduleFolder;
        ::ShowWindow(categoryCombo.GetSafeHwnd(), SW_HIDE);
        templateList.FillFolders(moduleFolder.c_str());
        if (templateList.GetCount() > 0) templateList.SetCurSel(0);
        OnSelchangeTemplateList();
    }
    ::ShowWindow(GetSafeHwnd(), SW_SHOWMAXIMIZED);
    return TRUE;
}

void CInstallerDlg::Layout() {
    RECT client;
    ::GetClientRect(GetSafeHwnd(), &client);
    const int w = client.right;
    const int h = client.bottom;
    const auto place = [this](int id, int x, int y, int cx, int cy) {
        if (HWND control = GetDlgItem(id))
            ::SetWindowPos(control, nullptr, x, y, cx, cy, SWP_NOZORDER);
    };
    const auto move = [this](int id, int x, int y) {
        if (HWND control = GetDlgItem(id))
            ::SetWindowPos(control, nullptr, x, y, 0, 0, SWP_NOZORDER | SWP_NOSIZE);
    };
    const auto s = [this](int px96) { return ui::Scale(px96, dpi_); };
    if (categoryMode) {
        place(kTemplateListId, s(10), h - s(122), s(165), s(114));
    } else {
        place(kTemplateListId, s(10), h - s(142), s(165), s(132));
    }
    place(kCategoryId, s(10), h - s(142), s(165), s(100));
    place(kThumbStripId, s(180), h - s(142), w - s(190), s(140));
    place(kPreviewId, s(10), s(10), w - s(20), h - s(207));
    move(kPrevId, s(70), h - s(182));
    move(kNextId, s(150), h - s(182));
    move(kInstallId, w - s(180), h - s(182));
    move(kExitId, w - s(95), h - s(182));
    place(kBarId, s(10), h - s(190), w - s(20), s(42));
    captionRect = {s(180), h - s(185), w - s(10), h - s(153)};
}

void CInstallerDlg::OnSize(UINT, int, int) {
    Layout();
}

void CInstallerDlg::OnGetMinMaxInfo(MINMAXINFO* info) {
    info->ptMinTrackSize.x = ui::Scale(kMinWidth, dpi_);
    info->ptMinTrackSize.y = ui::Scale(kMinHeight, dpi_);
}

HFONT CInstallerDlg::DialogFont() const {
    if (dialogFont_) return dialogFont_.Get();
    return reinterpret_cast<HFONT>(::SendMessageW(GetSafeHwnd(), WM_GETFONT, 0, 0));
}

void CInstallerDlg::ApplyDpi(UINT dpi) {
    if (dpi == 0) return;
    dpi_ = dpi;
    // The template's font at this DPI, as the dialog manager makes it.
    LOGFONTW font = {};
    if (::GetObjectW(DialogFont(), sizeof font, &font)) {
        const LONG height = -::MulDiv(kFontPoints, static_cast<int>(dpi), 72);
        if (font.lfHeight != height) {
            font.lfHeight = height;
            font.lfWidth = 0;
            if (win::UniqueFont made{::CreateFontIndirectW(&font)}) {
                HWND dialog = GetSafeHwnd();
                ::SendMessageW(dialog, WM_SETFONT, reinterpret_cast<WPARAM>(made.Get()), FALSE);
                for (HWND child = ::GetWindow(dialog, GW_CHILD); child;
                     child = ::GetWindow(child, GW_HWNDNEXT)) {
                    ::SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(made.Get()), FALSE);
                }
                dialogFont_ = std::move(made);  // the previous one of ours is no longer used
            }
        }
    }
    templateList.SetDpi(dpi);
    for (uBitmapButton* button : {&prevButton, &nextButton, &installButton, &exitButton})
        button->SetDpi(dpi);
    thumbs.SetDpi(dpi);
    logoBitmap = skin::Load(kLogoBitmapId, dpi);
}

LRESULT CInstallerDlg::OnDpiChanged(WPARAM dpis, LPARAM suggested) {
    ApplyDpi(HIWORD(dpis));
    if (const auto* rect = reinterpret_cast<const RECT*>(suggested)) {
        ::SetWindowPos(GetSafeHwnd(), nullptr, rect->left, rect->top, rect->right - rect->left,
                       rect->bottom - rect->top, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    Layout();  // also when the size stayed and no WM_SIZE came
    ::InvalidateRect(GetSafeHwnd(), nullptr, TRUE);
    return 0;
}

HBRUSH CInstallerDlg::OnCtlColor(HDC dc, HWND, UINT kind) {
    if (kind == CTLCOLOR_EDIT) {
        ::SetBkColor(dc, RGB(255, 255, 255));
        ::SetTextColor(dc, RGB(0, 0, 0));
        return backgroundBrush.Get();
    }
    if (kind == CTLCOLOR_DLG) return backgroundBrush.Get();
    return nullptr;  // the default answer
}

HCURSOR CInstallerDlg::OnQueryDragIcon() {
    return reinterpret_cast<HCURSOR>(icon);
}

void CInstallerDlg::OnPaint() {
    PAINTSTRUCT paint;
    HDC dc = ::BeginPaint(GetSafeHwnd(), &paint);
    if (::IsIconic(GetSafeHwnd())) {
        ::SendMessageW(GetSafeHwnd(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
        RECT client;
        ::GetClientRect(GetSafeHwnd(), &client);
        const int x = (client.right - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
        const int y = (client.bottom - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
        ::DrawIcon(dc, x, y, icon);
        ::EndPaint(GetSafeHwnd(), &paint);
        return;
    }
    ::EndPaint(GetSafeHwnd(), &paint);
    PaintPreview();
}

void CInstallerDlg::OnHelp() {
    fw::Modal().ShowHelp(kHelpFile);
}

void CInstallerDlg::OnSysCommand(UINT id, LPARAM lParam) {
    if ((id & 0xFFF0) == 0x10) {
        fw::Dialog about(IDD_ABOUT, GetSafeHwnd());
        fw::Modal().RunModal(about);
    } else if (id == fw::kHelpCommand) {
        OnHelp();
    } else {
        ::DefWindowProcW(GetSafeHwnd(), WM_SYSCOMMAND, id, lParam);
    }
}

void CInstallerDlg::PaintPreview() {
    PaintPanel();
    PaintBar();
    PaintCaption();
    // The buttons are drawn again over anything painted across them.
    for (int id : {kPrevId, kNextId, kExitId, kInstallId}) {
        if (HWND button = GetDlgItem(id)) ::InvalidateRect(button, nullptr, TRUE);
    }
}

// The preview panel: the picture fitted and framed, or the logo bitmap in the middle.
void CInstallerDlg::PaintPanel() {
    HWND panel = GetDlgItem(kPreviewId);
    if (!panel) return;
    win::WindowDc dc(panel);
    RECT area;
    ::GetClientRect(panel, &area);
    win::UniqueBrush fill(::CreateSolidBrush(kBackground));
    ::FillRect(dc.Get(), &area, fill.Get());
    if (const preview::FittedPicture* picture = panelPicture.For({area.right, area.bottom})) {
        picture->pixels.Draw(dc.Get(), picture->place.left, picture->place.top);
        Frame(dc.Get(), picture->place, ui::Scale(1, dpi_));
    } else if (logoBitmap) {
        BITMAP info = {};
        ::GetObjectW(logoBitmap.Get(), sizeof info, &info);
        win::MemoryDc memory(::CreateCompatibleDC(dc.Get()));
        win::SelectObjectScope select(memory.Get(), logoBitmap.Get());
        ::BitBlt(dc.Get(), (area.right - info.bmWidth) / 2, (area.bottom - info.bmHeight) / 2,
                 info.bmWidth, info.bmHeight, memory.Get(), 0, 0, SRCCOPY);
    }
}

// The bar behind the buttons: its colour, edge lines brightest in the middle, the logo image.
void CInstallerDlg::PaintBar() {
    HWND bar = GetDlgItem(kBarId);
    if (!bar) return;
    win::WindowDc dc(bar);
    RECT area;
    ::GetClientRect(bar, &area);
    win::UniqueBrush fill(::CreateSolidBrush(kBarColor));
    ::FillRect(dc.Get(), &area, fill.Get());
    const int half = area.right / 2;
    const COLORREF white = RGB(255, 255, 255);
    const auto s = [this](int px96) { return ui::Scale(px96, dpi_); };
    const int edge = s(2);
    HorizontalGradient(dc.Get(), 0, 0, half, edge, kBarColor, white);
    HorizontalGradient(dc.Get(), 0, area.bottom - edge, half, area.bottom, kBarColor, white);
    HorizontalGradient(dc.Get(), half, 0, area.right, edge, white, kBarColor);
    HorizontalGradient(dc.Get(), half, area.bottom - edge, area.right, area.bottom, white,
                       kBarColor);
    if (logoImage) {
        // The logo's own size is taken as 96-DPI pixels.
        logoImage->Draw(dc.Get(), s(1), s(3), s(static_cast<int>(logoImage->GetWidth())),
                        s(static_cast<int>(logoImage->GetHeight())));
    }
}

// The caption area with the caption and the title, and the position counter, drawn on the
// dialog itself (over the bar, which they share).
void CInstallerDlg::PaintCaption() {
    HWND dialog = GetSafeHwnd();
    RECT client;
    ::GetClientRect(dialog, &client);
    win::WindowDc dc(dialog);
    win::SelectObjectScope font(dc.Get(), DialogFont());
    const auto s = [this](int px96) { return ui::Scale(px96, dpi_); };
    Frame(dc.Get(), captionRect, s(1));
    if (categoryMode) {
        const std::wstring info = FirstLineOfSection(L"INFO", currentFolder + kConfigFile);
        caption = info.empty() ? kDefaultCaption : info;
    } else if (templateList.GetCount() > 0) {
        const int selected = templateList.GetCurSel();
        if (selected != LB_ERR) caption = templateList.GetText(selected);
    } else {
        caption = kDefaultCaption;
    }
    ::SetTextColor(dc.Get(), kTextColor);
    ::SetBkMode(dc.Get(), TRANSPARENT);
    RECT box = captionRect;
    // Names are drawn as they are: an ampersand is no mnemonic here.
    ::DrawTextW(dc.Get(), caption.c_str(), -1, &box, DT_CENTER | DT_NOPREFIX);
    box = captionRect;
    box.top += s(15);
    ::DrawTextW(dc.Get(), previewTitle.c_str(), -1, &box, DT_CENTER | DT_NOPREFIX);

    RECT counter = {s(96), client.bottom - s(182), s(148), client.bottom - s(157)};
    Frame(dc.Get(), counter, s(1));
    counter.top += s(4);
    const std::wstring position = CounterText();
    ::DrawTextW(dc.Get(), position.c_str(), -1, &counter, DT_CENTER | DT_VCENTER);
}

std::wstring CInstallerDlg::CounterText() {
    wchar_t position[32];
    ::wsprintfW(position, L"%d/%d", selectedIndex + 1, thumbs.GetItemCount());
    return position;
}

void CInstallerDlg::FillCategories(const std::wstring& folder) {
    categoryCombo.ResetContent();
    // A category's folder is used with a backslash after it.
    for (const std::wstring& name : fw::SubfolderNames(folder.c_str(), 1))
        categoryCombo.AddString(name.c_str());
}

void CInstallerDlg::OnSelchangeCategory() {
    if (categoryMode) currentFolder = moduleFolder + categoryCombo.GetWindowText() + L"\\";
    templateList.FillFolders(currentFolder.c_str());
    templateList.SetCurSel(0);
    OnSelchangeTemplateList();
}

void CInstallerDlg::OnSelchangeTemplateList() {
    const int selected = templateList.GetCurSel();
    if (selected == LB_ERR) {
        thumbs.Reset();
        ClearSelection();
        PaintPreview();
        return;
    }
    const std::wstring folder = currentFolder + templateList.GetText(selected);
    // A folder the strip refuses shows nothing rather than the previous template's files.
    if (thumbs.SetFolder(folder.c_str(), false) < 0) thumbs.Reset();
    if (thumbs.GetItemCount() > 0) {
        thumbs.SelectItems(0, -1);
    } else {
        ClearSelection();
        Invalidate();
    }
}

// Nothing selected: no picture, the counter at 0 and no title left from another file.
void CInstallerDlg::ClearSelection() {
    panelPicture.Clear();
    neighbours.Want({});
    selectedIndex = -1;
    previewTitle.clear();
}

void CInstallerDlg::OnPrev() {
    if (selectedIndex > 0) {
        --selectedIndex;
        thumbs.SelectItems(selectedIndex, -1);
    }
}

void CInstallerDlg::OnNext() {
    if (selectedIndex + 1 < thumbs.GetItemCount()) {
        ++selectedIndex;
        thumbs.SelectItems(selectedIndex, -1);
    }
}

int CInstallerDlg::ImageTypeFromExtension(const wchar_t* extension) {
    struct Row {
        const wchar_t* extension;
        int code;
    };
    static const Row rows[] = {
        {L".bmp", 1},  {L".gif", 2},  {L".jpg", 3},  {L".jpeg", 3}, {L".png", 4},  {L".ico", 5},
        {L".tiff", 6}, {L".tif", 6},  {L".tga", 7},  {L".ogf", 8},  {L".pcx", 9},  {L".wbmp", 10},
        {L".wmf", 11}, {L".emf", 11}, {L".jp2", 12}, {L".j2k", 12}, {L".jpc", 13}, {L".j2c", 13},
        {L".pgx", 14}, {L".pnm", 15}, {L".pgm", 15}, {L".ppm", 15}, {L".ras", 16},
    };
    for (const Row& row : rows) {
        if (std::wcscmp(row.extension, extension) == 0) return row.code;
    }
    return 0;
}

LRESULT CInstallerDlg::OnItemSelected(WPARAM, LPARAM lParam) {
    const auto* item = reinterpret_cast<const LVITEMW*>(lParam);
    if (!item || item->state != 1) return 0;
    selectedIndex = item->iItem;

    const std::wstring path = item->pszText ? item->pszText : L"";
    const std::wstring fileName = FileNameOf(path);
    previewTitle = fileName.substr(0, fileName.rfind(L'.'));
    std::wstring extension = LowerExtension(fileName);

    selectedPath = path;
    std::wstring previewPath = path;
    bool sample = false;
    if (extension.compare(0, 4, L".qrt") == 0) {
        TemplatePackage package;
        if (package.Open(path.c_str(), nullptr) == 1) {
            wchar_t temp[MAX_PATH] = {};
            ::GetTempPathW(MAX_PATH, temp);
            previewPath = std::wstring(temp) + L"sample.jpg";
            // An earlier package's sample must not stand in for a package without one.
            ::SetFileAttributesW(previewPath.c_str(), FILE_ATTRIBUTE_NORMAL);
            ::DeleteFileW(previewPath.c_str());
            package.ExtractKind(22, temp);
            package.Close();
            extension = L".jpg";
            sample = true;
        }
    }

    const auto type = static_cast<uint32_t>(ImageTypeFromExtension(extension.c_str()));
    const SIZE panel = PanelSize();
    // The picture shown so far stays at hand while it is a neighbour, for a step back. It is
    // handed over, not copied: the panel takes another picture just below.
    if (const preview::FittedPicture* shown = panelPicture.Shown();
        shown && shown->pixels.IsValid() && !showingSample_) {
        const preview::NeighbourPreparer::Job job{panelPicture.Path(), panelPicture.Type(),
                                                  shown->panel};
        neighbours.Offer(job, std::move(*panelPicture.Release()));
    }
    showingSample_ = sample;
    preview::FittedPicture prepared;
    if (!sample && neighbours.Take({previewPath, type, panel}, prepared)) {
        panelPicture.Adopt(previewPath, type, std::move(prepared));
    } else {
        std::string error;
        if (!panelPicture.Load(previewPath, type, panel, error)) {
            fw::AppMessageBox(text::FromUtf8(error).c_str(), MB_OK);
            PrepareNeighbours();
            return 0;
        }
    }
    PrepareNeighbours();
    PaintPreview();
    return 0;
}

SIZE CInstallerDlg::PanelSize() const {
    RECT area = {};
    if (HWND panel = ::GetDlgItem(GetSafeHwnd(), kPreviewId)) ::GetClientRect(panel, &area);
    return {area.right, area.bottom};
}

void CInstallerDlg::PrepareNeighbours() {
    std::vector<preview::NeighbourPreparer::Job> jobs;
    const SIZE panel = PanelSize();
    // Next first: stepping forward is the common way through a template.
    for (int index : {selectedIndex + 1, selectedIndex - 1}) {
        ThumbItem item;
        if (panel.cx <= 0 || panel.cy <= 0 || index < 0 || !thumbs.ItemSnapshot(index, item)) {
            continue;
        }
        const std::wstring extension = LowerExtension(FileNameOf(item.path));
        // A package's sample is taken out of it when it is selected.
        if (extension.compare(0, 4, L".qrt") == 0) continue;
        jobs.push_back(
            {item.path, static_cast<uint32_t>(ImageTypeFromExtension(extension.c_str())), panel});
    }
    neighbours.Want(jobs);
}

void CInstallerDlg::OnExit() {
    ::SendMessageW(GetSafeHwnd(), WM_CLOSE, 0, 0);
}

LRESULT CInstallerDlg::OnClose(WPARAM, LPARAM) {
    EndDialog(IDCANCEL);
    return 0;
}

void CInstallerDlg::OnInstall() {
    if (installer.Run(installProgram.c_str(), selectedPath.c_str())) OnExit();
}
