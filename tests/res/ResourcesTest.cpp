// The resources linked into this executable: pictures, icon, the two dialog templates, version
// information and manifest, checked as the program will load them.

#include "base/Win.h"

#include <commctrl.h>
#include <shlwapi.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <string>
#include <vector>

#include "base/Handles.h"
#include "glimmerly/Version.h"
#include "resource.h"

namespace {

// The version texts are ASCII.
std::wstring Wide(const char* text) {
    return std::wstring(text, text + std::strlen(text));
}

HINSTANCE Module() {
    return ::GetModuleHandleW(nullptr);
}

// ---------------------------------------------------------------------------------------------
// Pixels of a bitmap resource, top-down, one 0x00RRGGBB value per pixel.

struct Pixels {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> rgb;

    uint32_t At(int x, int y) const { return rgb[size_t(y) * size_t(width) + size_t(x)]; }
};

int Red(uint32_t c) {
    return int((c >> 16) & 0xFF);
}
int Green(uint32_t c) {
    return int((c >> 8) & 0xFF);
}
int Blue(uint32_t c) {
    return int(c & 0xFF);
}
double Luma(uint32_t c) {
    return 0.299 * Red(c) + 0.587 * Green(c) + 0.114 * Blue(c);
}

Pixels ReadBitmap(HBITMAP bitmap) {
    Pixels result;
    BITMAP info{};
    if (!::GetObjectW(bitmap, sizeof info, &info)) return result;
    BITMAPINFO header{};
    header.bmiHeader.biSize = sizeof header.bmiHeader;
    header.bmiHeader.biWidth = info.bmWidth;
    header.bmiHeader.biHeight = -info.bmHeight;
    header.bmiHeader.biPlanes = 1;
    header.bmiHeader.biBitCount = 32;
    header.bmiHeader.biCompression = BI_RGB;
    std::vector<uint32_t> bits(size_t(info.bmWidth) * size_t(info.bmHeight));
    HDC screen = ::GetDC(nullptr);
    const int lines =
        ::GetDIBits(screen, bitmap, 0, UINT(info.bmHeight), bits.data(), &header, DIB_RGB_COLORS);
    ::ReleaseDC(nullptr, screen);
    if (lines != info.bmHeight) return result;
    for (auto& c : bits) c &= 0x00FFFFFF;
    result.width = info.bmWidth;
    result.height = info.bmHeight;
    result.rgb = std::move(bits);
    return result;
}

win::UniqueBitmap LoadBitmapResource(int id) {
    return win::UniqueBitmap(static_cast<HBITMAP>(
        ::LoadImageW(Module(), MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
}

Pixels LoadPixels(int id) {
    const win::UniqueBitmap bitmap = LoadBitmapResource(id);
    return bitmap ? ReadBitmap(bitmap.Get()) : Pixels{};
}

// One row of a button strip: five state images stacked from the top, 25 pixels high at 96 DPI.
constexpr int kStateHeight = 25;

std::vector<uint32_t> StateRow(const Pixels& strip, int row) {
    const int height = strip.height / 5;
    const auto first = strip.rgb.begin() + ptrdiff_t(row) * height * strip.width;
    return {first, first + ptrdiff_t(height) * strip.width};
}

// A skin and its variants for 144 and 192 DPI.
std::vector<int> WithVariants(std::initializer_list<int> ids) {
    std::vector<int> all;
    for (int id : ids) all.insert(all.end(), {id, id + IDB_SKIN_150, id + IDB_SKIN_200});
    return all;
}

double MeanLuma(const std::vector<uint32_t>& pixels) {
    double sum = 0;
    for (uint32_t c : pixels) sum += Luma(c);
    return pixels.empty() ? 0 : sum / double(pixels.size());
}

double MaxLuma(const std::vector<uint32_t>& pixels) {
    double best = 0;
    for (uint32_t c : pixels) best = std::max(best, Luma(c));
    return best;
}

// ---------------------------------------------------------------------------------------------
// Bitmaps

struct BitmapCase {
    int id;
    int width;
    int height;
};

TEST(ResourceBitmaps, EachHasItsSizeAndTwentyFourBitsPerPixel) {
    // The skins for 144 and 192 DPI are the 96-DPI sizes scaled and rounded to the nearest
    // pixel, halves up, per button state.
    const BitmapCase cases[] = {
        {IDB_LIST_SELECTED, 145, 17},
        {IDB_LIST_NORMAL, 145, 17},
        {IDB_PREVIEW_LOGO, 100, 100},
        {IDB_PREV, 24, 125},
        {IDB_NEXT, 24, 125},
        {IDB_INSTALL, 77, 125},
        {IDB_EXIT, 77, 125},
        {IDB_LIST_SELECTED_150, 218, 26},
        {IDB_LIST_NORMAL_150, 218, 26},
        {IDB_PREVIEW_LOGO_150, 150, 150},
        {IDB_PREV_150, 36, 5 * 38},
        {IDB_NEXT_150, 36, 5 * 38},
        {IDB_INSTALL_150, 116, 5 * 38},
        {IDB_EXIT_150, 116, 5 * 38},
        {IDB_LIST_SELECTED_200, 290, 34},
        {IDB_LIST_NORMAL_200, 290, 34},
        {IDB_PREVIEW_LOGO_200, 200, 200},
        {IDB_PREV_200, 48, 250},
        {IDB_NEXT_200, 48, 250},
        {IDB_INSTALL_200, 154, 250},
        {IDB_EXIT_200, 154, 250},
    };
    for (const BitmapCase& c : cases) {
        SCOPED_TRACE(c.id);
        const win::UniqueBitmap bitmap = LoadBitmapResource(c.id);
        ASSERT_TRUE(bitmap);
        BITMAP info{};
        ASSERT_TRUE(::GetObjectW(bitmap.Get(), sizeof info, &info));
        EXPECT_EQ(info.bmWidth, c.width);
        EXPECT_EQ(info.bmHeight, c.height);
        EXPECT_EQ(info.bmBitsPixel, 24);
        // The plain loader the skinned controls use gives the same size.
        const win::UniqueBitmap plain(::LoadBitmapW(Module(), MAKEINTRESOURCEW(c.id)));
        ASSERT_TRUE(plain);
        BITMAP plainInfo{};
        ASSERT_TRUE(::GetObjectW(plain.Get(), sizeof plainInfo, &plainInfo));
        EXPECT_EQ(plainInfo.bmWidth, c.width);
        EXPECT_EQ(plainInfo.bmHeight, c.height);
    }
}

TEST(ResourceBitmaps, ButtonStripsShowEachStateInItsRow) {
    for (int id : WithVariants({IDB_PREV, IDB_NEXT, IDB_INSTALL, IDB_EXIT})) {
        SCOPED_TRACE(id);
        const Pixels strip = LoadPixels(id);
        ASSERT_GE(strip.height, 5 * kStateHeight);
        ASSERT_EQ(strip.height % 5, 0);
        const auto normal = StateRow(strip, 0);
        const auto pressed = StateRow(strip, 1);
        const auto spare = StateRow(strip, 2);
        const auto disabled = StateRow(strip, 3);
        const auto hover = StateRow(strip, 4);
        // Row 2 is never shown; it repeats the normal look so that a stray use looks right.
        EXPECT_EQ(spare, normal);
        EXPECT_NE(pressed, normal);
        EXPECT_NE(disabled, normal);
        EXPECT_NE(hover, normal);
        EXPECT_NE(hover, pressed);
        // Pressed sinks in, hover lights up, disabled has no bright label.
        EXPECT_LT(MeanLuma(pressed), MeanLuma(normal));
        EXPECT_GT(MeanLuma(hover), MeanLuma(normal));
        EXPECT_LT(MaxLuma(disabled) + 40, MaxLuma(normal));
    }
}

// Where the bright pixels of the arrow carry their weight: a triangle is heaviest at its base,
// so the weight lies on the opposite side from the tip.
double ArrowWeightOffset(const Pixels& strip) {
    double weightedX = 0, count = 0;
    int left = strip.width, right = -1;
    for (int y = 0; y < strip.height / 5; ++y) {
        for (int x = 0; x < strip.width; ++x) {
            if (Luma(strip.At(x, y)) > 200) {
                weightedX += x;
                count += 1;
                left = std::min(left, x);
                right = std::max(right, x);
            }
        }
    }
    if (count < 20) return 0;  // no arrow to speak of
    return weightedX / count - (left + right) / 2.0;
}

TEST(ResourceBitmaps, PrevPointsLeftAndNextPointsRight) {
    for (int offset : {0, IDB_SKIN_150, IDB_SKIN_200}) {
        SCOPED_TRACE(offset);
        EXPECT_GT(ArrowWeightOffset(LoadPixels(IDB_PREV + offset)), 0.5);
        EXPECT_LT(ArrowWeightOffset(LoadPixels(IDB_NEXT + offset)), -0.5);
    }
}

TEST(ResourceBitmaps, ListBarsAreRaisedAndSelectedIsLighterWithADarkTopLine) {
    const Pixels normal = LoadPixels(IDB_LIST_NORMAL);
    const Pixels selected = LoadPixels(IDB_LIST_SELECTED);
    ASSERT_EQ(normal.height, 17);
    ASSERT_EQ(selected.height, 17);
    const int mid = normal.width / 2;
    // Raised: light upper and left edges, dark lower and right edges.
    EXPECT_GT(Luma(normal.At(mid, 0)), Luma(normal.At(mid, 8)) + 20);
    EXPECT_LT(Luma(normal.At(mid, 16)), Luma(normal.At(mid, 8)) - 20);
    EXPECT_GT(Luma(normal.At(0, 8)), Luma(normal.At(mid, 8)));
    EXPECT_LT(Luma(normal.At(normal.width - 1, 8)), Luma(normal.At(mid, 8)));
    // Selected: lighter than the normal bar, with a darker line along its top.
    EXPECT_GT(Luma(selected.At(mid, 8)), Luma(normal.At(mid, 8)) + 20);
    EXPECT_LT(Luma(selected.At(mid, 0)), Luma(selected.At(mid, 8)) - 60);
    // Black item text needs a light bar under it.
    EXPECT_GT(Luma(normal.At(mid, 8)), 120);
}

TEST(ResourceBitmaps, LogoMeetsThePanelWithoutASeam) {
    const Pixels logo = LoadPixels(IDB_PREVIEW_LOGO);
    ASSERT_EQ(logo.width, 100);
    const uint32_t panel = 0x727774;  // RGB(114, 119, 116) as 0x00RRGGBB
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(logo.At(i, 0), panel) << "top edge at " << i;
        EXPECT_EQ(logo.At(0, i), panel) << "left edge at " << i;
        EXPECT_EQ(logo.At(99, i), panel) << "right edge at " << i;
    }
    // Something is drawn in the middle.
    EXPECT_NE(logo.At(50, 50), panel);
}

// ---------------------------------------------------------------------------------------------
// Icon

#pragma pack(push, 2)
struct IconDirEntry {  // GRPICONDIRENTRY
    BYTE width, height, colorCount, reserved;
    WORD planes, bitCount;
    DWORD bytesInRes;
    WORD id;
};
#pragma pack(pop)

TEST(ResourceIcon, GroupHoldsThirtyTwoBitImagesAt16And32And48) {
    HRSRC found = ::FindResourceW(Module(), MAKEINTRESOURCEW(IDI_GLIMMERLY), RT_GROUP_ICON);
    ASSERT_NE(found, nullptr);
    const auto* bytes = static_cast<const BYTE*>(::LockResource(::LoadResource(Module(), found)));
    ASSERT_NE(bytes, nullptr);
    const DWORD size = ::SizeofResource(Module(), found);
    ASSERT_GE(size, 6u);
    const WORD count = *reinterpret_cast<const WORD*>(bytes + 4);
    ASSERT_EQ(size, 6u + count * sizeof(IconDirEntry));
    std::vector<int> sizes;
    for (WORD i = 0; i < count; ++i) {
        IconDirEntry entry;
        memcpy(&entry, bytes + 6 + i * sizeof entry, sizeof entry);
        EXPECT_EQ(entry.bitCount, 32) << "entry " << i;
        sizes.push_back(entry.width);
    }
    std::sort(sizes.begin(), sizes.end());
    EXPECT_EQ(sizes, (std::vector<int>{16, 32, 48}));
}

TEST(ResourceIcon, LoadsAtEachSizeWithTransparentCornersAndAnOpaqueMiddle) {
    HRSRC group = ::FindResourceW(Module(), MAKEINTRESOURCEW(IDI_GLIMMERLY), RT_GROUP_ICON);
    ASSERT_NE(group, nullptr);
    auto* directory = static_cast<BYTE*>(::LockResource(::LoadResource(Module(), group)));
    ASSERT_NE(directory, nullptr);
    for (int size : {16, 32, 48}) {
        SCOPED_TRACE(size);
        const win::UniqueIcon icon(static_cast<HICON>(
            ::LoadImageW(Module(), MAKEINTRESOURCEW(IDI_GLIMMERLY), IMAGE_ICON, size, size, 0)));
        ASSERT_TRUE(icon);
        ICONINFO info{};
        ASSERT_TRUE(::GetIconInfo(icon.Get(), &info));
        const win::UniqueBitmap color(info.hbmColor), mask(info.hbmMask);
        BITMAP colorInfo{};
        ASSERT_TRUE(::GetObjectW(color.Get(), sizeof colorInfo, &colorInfo));
        EXPECT_EQ(colorInfo.bmWidth, size);
        EXPECT_EQ(colorInfo.bmHeight, size);

        // The exact image of this size, as stored: 32 bits with a real alpha channel.
        const int id = ::LookupIconIdFromDirectoryEx(directory, TRUE, size, size, LR_DEFAULTCOLOR);
        HRSRC image = ::FindResourceW(Module(), MAKEINTRESOURCEW(id), RT_ICON);
        ASSERT_NE(image, nullptr);
        const auto* header =
            static_cast<const BITMAPINFOHEADER*>(::LockResource(::LoadResource(Module(), image)));
        ASSERT_NE(header, nullptr);
        ASSERT_EQ(header->biWidth, size);
        ASSERT_EQ(header->biHeight, 2 * size);  // colour and mask
        ASSERT_EQ(header->biBitCount, 32);
        ASSERT_GE(::SizeofResource(Module(), image), sizeof *header + size_t(size * size * 4));
        const auto* bgra = reinterpret_cast<const BYTE*>(header + 1);
        const auto alpha = [&](int x, int y) {  // y from the top; rows are stored bottom-up
            return bgra[(size_t(size - 1 - y) * size_t(size) + size_t(x)) * 4 + 3];
        };
        EXPECT_EQ(alpha(0, 0), 0);
        EXPECT_EQ(alpha(size - 1, 0), 0);
        EXPECT_EQ(alpha(0, size - 1), 0);
        EXPECT_EQ(alpha(size - 1, size - 1), 0);
        EXPECT_EQ(alpha(size / 2, size / 2), 255);
        // Edges are smoothed: some pixels are partly transparent.
        int partial = 0;
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x) partial += alpha(x, y) > 0 && alpha(x, y) < 255;
        EXPECT_GT(partial, size / 2);
    }
}

// ---------------------------------------------------------------------------------------------
// Dialog templates, created as the program creates them.

INT_PTR CALLBACK QuietDialogProc(HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_INITDIALOG ? TRUE : FALSE;
}

class Dialog {
public:
    explicit Dialog(int id)
        : window_(
              ::CreateDialogParamW(Module(), MAKEINTRESOURCEW(id), nullptr, QuietDialogProc, 0)) {}
    ~Dialog() {
        if (window_) ::DestroyWindow(window_);
    }
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;
    HWND Get() const { return window_; }

private:
    HWND window_;
};

std::wstring ClassOf(HWND window) {
    wchar_t name[64] = {};
    ::GetClassNameW(window, name, 64);
    return name;
}

std::wstring TextOf(HWND window) {
    wchar_t text[256] = {};
    ::GetWindowTextW(window, text, 256);
    return text;
}

bool SameClass(const std::wstring& actual, const wchar_t* expected) {
    return ::lstrcmpiW(actual.c_str(), expected) == 0;
}

LONG StyleOf(HWND window) {
    return ::GetWindowLongW(window, GWL_STYLE);
}

// The bytes of an extended dialog template (DLGTEMPLATEEX and its DLGITEMTEMPLATEEX entries),
// read with bounds checks: what the resource says, before window creation adjusts any style.
struct TemplateItem {
    DWORD style = 0;
    DWORD exStyle = 0;
    DWORD id = 0;
    WORD classAtom = 0;      // a predefined class stored as its atom ...
    std::wstring className;  // ... or by name
    std::wstring text;
};

struct DialogTemplate {
    bool valid = false;
    DWORD style = 0;
    DWORD exStyle = 0;
    std::wstring title;
    WORD pointSize = 0;
    std::wstring face;
    std::vector<TemplateItem> items;
};

class TemplateReader {
public:
    TemplateReader(const BYTE* data, size_t size) : data_(data), size_(size) {}
    bool Ok() const { return ok_; }
    template <class T>
    T Read() {
        T value{};
        if (!ok_ || pos_ + sizeof(T) > size_) {
            ok_ = false;
            return value;
        }
        memcpy(&value, data_ + pos_, sizeof(T));
        pos_ += sizeof(T);
        return value;
    }
    std::wstring String() {
        std::wstring text;
        for (WORD c = Read<WORD>(); ok_ && c; c = Read<WORD>()) text += wchar_t(c);
        return text;
    }
    // A string, or after 0xFFFF an ordinal, returned through `ordinal`.
    std::wstring StringOrOrdinal(WORD* ordinal) {
        const size_t start = pos_;
        if (Read<WORD>() == 0xFFFF) {
            const WORD value = Read<WORD>();
            if (ordinal) *ordinal = value;
            return {};
        }
        pos_ = start;
        return String();
    }
    void AlignTo4() { pos_ = (pos_ + 3) & ~size_t(3); }
    void Skip(size_t n) {
        if (pos_ + n > size_) ok_ = false;
        pos_ += n;
    }

private:
    const BYTE* data_;
    size_t size_;
    size_t pos_ = 0;
    bool ok_ = true;
};

DialogTemplate ReadDialogTemplate(int id) {
    DialogTemplate result;
    HRSRC found = ::FindResourceW(Module(), MAKEINTRESOURCEW(id), RT_DIALOG);
    if (!found) return result;
    const auto* data = static_cast<const BYTE*>(::LockResource(::LoadResource(Module(), found)));
    if (!data) return result;
    TemplateReader in(data, ::SizeofResource(Module(), found));
    if (in.Read<WORD>() != 1 || in.Read<WORD>() != 0xFFFF) return result;  // not DLGTEMPLATEEX
    in.Read<DWORD>();                                                      // help id
    result.exStyle = in.Read<DWORD>();
    result.style = in.Read<DWORD>();
    const WORD count = in.Read<WORD>();
    in.Skip(4 * sizeof(WORD));    // position and size
    in.StringOrOrdinal(nullptr);  // menu
    in.StringOrOrdinal(nullptr);  // window class
    result.title = in.String();
    if (result.style & DS_SETFONT) {
        result.pointSize = in.Read<WORD>();
        in.Skip(sizeof(WORD) + 2);  // weight, italic, charset
        result.face = in.String();
    }
    for (WORD i = 0; i < count && in.Ok(); ++i) {
        in.AlignTo4();
        TemplateItem item;
        in.Read<DWORD>();  // help id
        item.exStyle = in.Read<DWORD>();
        item.style = in.Read<DWORD>();
        in.Skip(4 * sizeof(WORD));
        item.id = in.Read<DWORD>();
        item.className = in.StringOrOrdinal(&item.classAtom);
        item.text = in.StringOrOrdinal(nullptr);
        in.Skip(in.Read<WORD>());  // creation data
        result.items.push_back(item);
    }
    result.valid = in.Ok() && result.items.size() == count;
    return result;
}

struct ControlCase {
    int id;
    WORD classAtom;
    const wchar_t* className;
    const wchar_t* text;
    DWORD style;  // exactly as the template gives it
};

constexpr WORD kButtonAtom = 0x80, kStaticAtom = 0x82, kListBoxAtom = 0x83, kComboBoxAtom = 0x85;
constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;

// In template order, which is z-order and tab order.
const ControlCase kInstallerControls[] = {
    {IDC_BUTTON_BAR, kStaticAtom, L"Static", L"", kChild | SS_BITMAP},
    {IDC_THUMB_STRIP, kStaticAtom, L"Static", L"", kChild | SS_BLACKFRAME},
    {IDC_PREVIEW, kStaticAtom, L"Static", L"", kChild | SS_BITMAP},
    {IDC_TEMPLATE_LIST, kListBoxAtom, L"ListBox", L"",
     kChild | LBS_SORT | LBS_NOTIFY | LBS_OWNERDRAWFIXED | LBS_HASSTRINGS | LBS_NOINTEGRALHEIGHT |
         LBS_DISABLENOSCROLL | WS_VSCROLL | WS_BORDER | WS_TABSTOP},
    {IDC_PREV, kButtonAtom, L"Button", L"Prev", kChild | BS_OWNERDRAW | WS_TABSTOP},
    {IDC_NEXT, kButtonAtom, L"Button", L"Next", kChild | BS_OWNERDRAW | WS_TABSTOP},
    {IDC_INSTALL, kButtonAtom, L"Button", L"Install", WS_CHILD | BS_OWNERDRAW | WS_TABSTOP},
    {IDC_EXIT, kButtonAtom, L"Button", L"Exit", WS_CHILD | BS_OWNERDRAW | WS_TABSTOP},
    {IDC_CATEGORY, kComboBoxAtom, L"ComboBox", L"",
     kChild | CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP},
};

TEST(InstallerDialogTemplate, ResourceHoldsTheWindowAndControlsExactly) {
    const DialogTemplate dialog = ReadDialogTemplate(IDD_GLIMMERLY_DIALOG);
    ASSERT_TRUE(dialog.valid);
    EXPECT_EQ(dialog.style, DWORD(DS_SETFONT | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU |
                                  WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME));
    EXPECT_EQ(dialog.exStyle, DWORD(WS_EX_APPWINDOW));
    EXPECT_EQ(dialog.title, L"Glimmerly");
    EXPECT_EQ(dialog.pointSize, 8);
    EXPECT_EQ(dialog.face, L"MS Sans Serif");
    ASSERT_EQ(dialog.items.size(), std::size(kInstallerControls));
    for (size_t i = 0; i < dialog.items.size(); ++i) {
        const TemplateItem& item = dialog.items[i];
        const ControlCase& c = kInstallerControls[i];
        SCOPED_TRACE(c.id);
        EXPECT_EQ(item.id, DWORD(c.id));
        EXPECT_TRUE(item.classAtom == c.classAtom ||
                    (item.classAtom == 0 && SameClass(item.className, c.className)))
            << item.classAtom << " " << std::string(item.className.begin(), item.className.end());
        EXPECT_EQ(item.text, c.text);
        EXPECT_EQ(item.style, c.style) << std::hex << (item.style ^ c.style);
        EXPECT_EQ(item.exStyle, 0u);
    }
}

TEST(InstallerDialogTemplate, WindowHasItsCaptionStylesAndFont) {
    Dialog dialog(IDD_GLIMMERLY_DIALOG);
    ASSERT_NE(dialog.Get(), nullptr);
    EXPECT_EQ(TextOf(dialog.Get()), L"Glimmerly");
    const LONG style = StyleOf(dialog.Get());
    for (LONG bit : {LONG(WS_POPUP), LONG(WS_CAPTION), LONG(WS_SYSMENU), LONG(WS_MINIMIZEBOX),
                     LONG(WS_MAXIMIZEBOX), LONG(WS_THICKFRAME)})
        EXPECT_EQ(style & bit, bit) << std::hex << bit;
    // The program shows the window itself, maximized.
    EXPECT_FALSE(style & WS_VISIBLE);
    EXPECT_FALSE(::IsWindowVisible(dialog.Get()));
    EXPECT_TRUE(::GetWindowLongW(dialog.Get(), GWL_EXSTYLE) & WS_EX_APPWINDOW);

    const auto font = reinterpret_cast<HFONT>(::SendMessageW(dialog.Get(), WM_GETFONT, 0, 0));
    ASSERT_NE(font, nullptr);
    LOGFONTW face{};
    ASSERT_TRUE(::GetObjectW(font, sizeof face, &face));
    EXPECT_STREQ(face.lfFaceName, L"MS Sans Serif");
    HDC screen = ::GetDC(nullptr);
    const int pointsToPixels = ::MulDiv(8, ::GetDeviceCaps(screen, LOGPIXELSY), 72);
    ::ReleaseDC(nullptr, screen);
    EXPECT_EQ(std::abs(face.lfHeight), pointsToPixels);
}

TEST(InstallerDialogTemplate, CreatedControlsHaveTheirClassesTextsAndStyles) {
    Dialog dialog(IDD_GLIMMERLY_DIALOG);
    ASSERT_NE(dialog.Get(), nullptr);
    // Creation moves a dialog control's border into WS_EX_CLIENTEDGE, and a combo box hands its
    // scroll bar to its drop-down list; those two are checked where they end up.
    const DWORD moved = WS_BORDER | WS_VSCROLL;
    for (const ControlCase& c : kInstallerControls) {
        SCOPED_TRACE(c.id);
        HWND control = ::GetDlgItem(dialog.Get(), c.id);
        ASSERT_NE(control, nullptr);
        EXPECT_PRED2(SameClass, ClassOf(control), c.className);
        EXPECT_EQ(TextOf(control), c.text);
        const DWORD style = DWORD(StyleOf(control));
        EXPECT_EQ(style & ~moved, c.style & ~moved) << std::hex << ((style ^ c.style) & ~moved);
    }
    HWND list = ::GetDlgItem(dialog.Get(), IDC_TEMPLATE_LIST);
    EXPECT_TRUE(StyleOf(list) & WS_VSCROLL);
    EXPECT_TRUE((StyleOf(list) & WS_BORDER) ||
                (::GetWindowLongW(list, GWL_EXSTYLE) & WS_EX_CLIENTEDGE));
    // A drop-down list longer than its box scrolls.
    HWND categories = ::GetDlgItem(dialog.Get(), IDC_CATEGORY);
    for (int i = 0; i < 40; ++i)
        ::SendMessageW(categories, CB_ADDSTRING, 0, LPARAM(std::to_wstring(i).c_str()));
    COMBOBOXINFO combo{};
    combo.cbSize = sizeof combo;
    ASSERT_TRUE(::GetComboBoxInfo(categories, &combo));
    ASSERT_NE(combo.hwndList, nullptr);
    EXPECT_TRUE(StyleOf(combo.hwndList) & WS_VSCROLL);
}

TEST(InstallerDialogTemplate, ControlsComeInTemplateOrderAndNothingElse) {
    Dialog dialog(IDD_GLIMMERLY_DIALOG);
    ASSERT_NE(dialog.Get(), nullptr);
    std::vector<int> ids;
    for (HWND child = ::GetWindow(dialog.Get(), GW_CHILD); child;
         child = ::GetWindow(child, GW_HWNDNEXT))
        ids.push_back(::GetDlgCtrlID(child));
    std::vector<int> expected;
    for (const ControlCase& c : kInstallerControls) expected.push_back(c.id);
    EXPECT_EQ(ids, expected);
}

TEST(InstallerDialogTemplate, FirstLayoutFitsInTheWindowWithButtonsOnTheBar) {
    Dialog dialog(IDD_GLIMMERLY_DIALOG);
    ASSERT_NE(dialog.Get(), nullptr);
    RECT client{};
    ::GetClientRect(dialog.Get(), &client);
    // About the program's minimum window size, 643 x 490, less the frame.
    EXPECT_GT(client.right, 560);
    EXPECT_LT(client.right, 700);
    EXPECT_GT(client.bottom, 400);
    EXPECT_LT(client.bottom, 520);
    const auto rectOf = [&](int id) {
        RECT r{};
        ::GetWindowRect(::GetDlgItem(dialog.Get(), id), &r);
        ::MapWindowPoints(nullptr, dialog.Get(), reinterpret_cast<POINT*>(&r), 2);
        return r;
    };
    const auto contains = [](const RECT& outer, const RECT& inner) {
        return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
               inner.bottom <= outer.bottom;
    };
    for (const ControlCase& c : kInstallerControls) {
        if (c.id == IDC_CATEGORY) continue;  // its height includes the closed drop-down
        EXPECT_TRUE(contains(client, rectOf(c.id))) << c.id;
    }
    const RECT bar = rectOf(IDC_BUTTON_BAR);
    for (int id : {IDC_PREV, IDC_NEXT, IDC_INSTALL, IDC_EXIT})
        EXPECT_TRUE(contains(bar, rectOf(id))) << id;
    RECT overlap{};
    const RECT preview = rectOf(IDC_PREVIEW);
    for (int id : {IDC_BUTTON_BAR, IDC_THUMB_STRIP, IDC_TEMPLATE_LIST}) {
        const RECT other = rectOf(id);
        EXPECT_FALSE(::IntersectRect(&overlap, &preview, &other)) << id;
    }
}

TEST(AboutDialogTemplate, ShowsTheIconTheVersionAndAnOkButton) {
    Dialog dialog(IDD_ABOUTBOX);
    ASSERT_NE(dialog.Get(), nullptr);
    EXPECT_EQ(TextOf(dialog.Get()), L"About Glimmerly");

    HWND icon = ::GetDlgItem(dialog.Get(), IDC_ABOUT_ICON);
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(StyleOf(icon) & SS_TYPEMASK, SS_ICON);
    EXPECT_NE(::SendMessageW(icon, STM_GETICON, 0, 0), 0);

    HWND version = ::GetDlgItem(dialog.Get(), IDC_ABOUT_VERSION);
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(TextOf(version), L"Glimmerly Version " + Wide(GLIMMERLY_VERSION));

    HWND ok = ::GetDlgItem(dialog.Get(), IDOK);
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(TextOf(ok), L"OK");
    EXPECT_EQ(StyleOf(ok) & BS_TYPEMASK, BS_DEFPUSHBUTTON);
    EXPECT_TRUE(StyleOf(ok) & WS_VISIBLE);

    int children = 0;
    for (HWND child = ::GetWindow(dialog.Get(), GW_CHILD); child;
         child = ::GetWindow(child, GW_HWNDNEXT))
        ++children;
    EXPECT_EQ(children, 3);
}

// ---------------------------------------------------------------------------------------------
// Version information and manifest

TEST(VersionResource, IsTheProjectVersionOfProductGlimmerly) {
    HRSRC found = ::FindResourceW(Module(), MAKEINTRESOURCEW(VS_VERSION_INFO), RT_VERSION);
    ASSERT_NE(found, nullptr);
    const DWORD size = ::SizeofResource(Module(), found);
    const auto* data = static_cast<const BYTE*>(::LockResource(::LoadResource(Module(), found)));
    ASSERT_NE(data, nullptr);
    // VerQueryValue may write into the block it reads, so it gets a copy.
    std::vector<BYTE> copy(data, data + size);

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueW(copy.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    ASSERT_GE(length, sizeof *fixed);
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    const DWORD high = GLIMMERLY_VERSION_MAJOR << 16 | GLIMMERLY_VERSION_MINOR;
    const DWORD low = GLIMMERLY_VERSION_PATCH << 16;
    EXPECT_EQ(fixed->dwFileVersionMS, high);
    EXPECT_EQ(fixed->dwFileVersionLS, low);
    EXPECT_EQ(fixed->dwProductVersionMS, high);
    EXPECT_EQ(fixed->dwProductVersionLS, low);
    EXPECT_EQ(fixed->dwFileType, DWORD(VFT_APP));

    const auto text = [&](const wchar_t* name) {
        wchar_t* value = nullptr;
        UINT chars = 0;
        const std::wstring path = std::wstring(L"\\StringFileInfo\\040904b0\\") + name;
        if (!::VerQueryValueW(copy.data(), path.c_str(), reinterpret_cast<void**>(&value),
                              &chars) ||
            !value)
            return std::wstring(L"<missing>");
        return std::wstring(value);
    };
    EXPECT_EQ(text(L"ProductName"), L"Glimmerly");
    EXPECT_EQ(text(L"ProductVersion"), Wide(GLIMMERLY_VERSION_QUAD));
    EXPECT_EQ(text(L"FileVersion"), Wide(GLIMMERLY_VERSION_QUAD));
    EXPECT_EQ(text(L"OriginalFilename"), L"Glimmerly.exe");
}

TEST(ManifestResource, AsksForCommonControlsSixAndGetsThem) {
    HRSRC found = ::FindResourceW(Module(), MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_NE(found, nullptr);
    const auto* data = static_cast<const char*>(::LockResource(::LoadResource(Module(), found)));
    ASSERT_NE(data, nullptr);
    const std::string manifest(data, ::SizeofResource(Module(), found));
    EXPECT_NE(manifest.find("Microsoft.Windows.Common-Controls"), std::string::npos);
    EXPECT_NE(manifest.find("version=\"6.0.0.0\""), std::string::npos);
    // Per-monitor aware (v2), system aware where that is unknown.
    EXPECT_NE(manifest.find(">PerMonitorV2, System</dpiAwareness>"), std::string::npos);
    EXPECT_NE(manifest.find(">true</dpiAware>"), std::string::npos);

    // The loader honoured it: comctl32 is redirected to the side-by-side assembly of version 6,
    // and that is the copy this process runs on. (Its DllGetVersion is no help: Wine's copy of
    // version 6 reports 5.81.)
    const INITCOMMONCONTROLSEX init{sizeof init, ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES};
    ASSERT_TRUE(::InitCommonControlsEx(&init));
    ACTCTX_SECTION_KEYED_DATA redirection{};
    redirection.cbSize = sizeof redirection;
    EXPECT_TRUE(::FindActCtxSectionStringW(0, nullptr, ACTIVATION_CONTEXT_SECTION_DLL_REDIRECTION,
                                           L"comctl32.dll", &redirection));
    HMODULE comctl = ::GetModuleHandleW(L"comctl32.dll");
    ASSERT_NE(comctl, nullptr);
    wchar_t path[MAX_PATH] = {};
    ASSERT_GT(::GetModuleFileNameW(comctl, path, MAX_PATH), 0u);
    std::wstring lower(path);
    std::transform(lower.begin(), lower.end(), lower.begin(), ::towlower);
    EXPECT_NE(lower.find(L"microsoft.windows.common-controls_6595b64144ccf1df_6.0."),
              std::wstring::npos)
        << std::string(lower.begin(), lower.end());
}

// ---------------------------------------------------------------------------------------------
// The help file beside the executable, read through the platform's own CHM protocol.

std::wstring HelpFile() {
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    ::PathRemoveFileSpecW(path);
    ::PathAppendW(path, L"Glimmerly.chm");
    return path;
}

// Through the "@MSITStore:" moniker of the HTML Help storage (itss), the same road the help
// viewer takes to a topic.
std::string ReadHelpTopic(const std::wstring& topic) {
    static const CLSID kMsItStore = {
        0x9d148290, 0xb9c8, 0x11d0, {0xa4, 0xcc, 0x00, 0x00, 0xf8, 0x01, 0x49, 0xf6}};
    std::string text;
    IParseDisplayName* parser = nullptr;
    if (FAILED(::CoCreateInstance(kMsItStore, nullptr, CLSCTX_INPROC_SERVER, IID_IParseDisplayName,
                                  reinterpret_cast<void**>(&parser))))
        return text;
    IBindCtx* context = nullptr;
    if (SUCCEEDED(::CreateBindCtx(0, &context))) {
        std::wstring name = L"@MSITStore:" + HelpFile() + L"::/" + topic;
        IMoniker* moniker = nullptr;
        ULONG eaten = 0;
        if (SUCCEEDED(parser->ParseDisplayName(context, name.data(), &eaten, &moniker))) {
            IStream* stream = nullptr;
            if (SUCCEEDED(moniker->BindToStorage(context, nullptr, IID_IStream,
                                                 reinterpret_cast<void**>(&stream)))) {
                char buffer[4096];
                ULONG read = 0;
                while (SUCCEEDED(stream->Read(buffer, sizeof buffer, &read)) && read > 0)
                    text.append(buffer, read);
                stream->Release();
            }
            moniker->Release();
        }
        context->Release();
    }
    parser->Release();
    return text;
}

TEST(HelpFile, OpensAndHoldsTheTopicsTheProgramPointsTo) {
    ASSERT_NE(::GetFileAttributesW(HelpFile().c_str()), INVALID_FILE_ATTRIBUTES);
    const win::ComScope com;
    ASSERT_TRUE(com.Ok());
    const struct {
        const wchar_t* topic;
        const char* phrase;
    } topics[] = {
        {L"html/overview.html", "Welcome to Glimmerly"},
        {L"html/browsing.html", "is the number of files in the"},
        {L"html/preview.html", "sample.jpg"},
        {L"html/installing.html", "qrt install"},
        {L"html/thumbnails.html", "_thumbs.ctl"},
        {L"html/library.html", "[CATEGORY]"},
        {L"toc.hhc", "html/library.html"},
    };
    for (const auto& t : topics) {
        const std::string text = ReadHelpTopic(t.topic);
        EXPECT_NE(text.find(t.phrase), std::string::npos)
            << "topic " << std::string(t.topic, t.topic + wcslen(t.topic));
    }
    EXPECT_TRUE(ReadHelpTopic(L"html/no-such-topic.html").empty());
}

}  // namespace
