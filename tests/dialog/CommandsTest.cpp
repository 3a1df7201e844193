// System commands, help, and the handlers behind the hidden Install and Exit buttons.

#include "DialogFixture.h"

#include "base/Utf.h"
#include "support/PackageBytes.h"

#include <algorithm>

namespace dialog_tests {
namespace {

using testing_support::PackageBytes;
using testing_support::ReadFile;
using testing_support::WriteFile;

const wchar_t* const kMaterialFolders[] = {L"Templates", L"Backgrounds", L"Borders",
                                           L"Masks",     L"Textures",    L"Brushes"};

class CommandsTest : public DialogTest {
protected:
    bool WaitUntilClosed() {
        return PumpUntil([this] { return !::IsWindow(window_); });
    }

    void StartRemembered() {
        Start();
        window_ = Window();
        ASSERT_TRUE(::IsWindow(window_));
    }

    // The install flag of the host's album product, or -1 when it is not there.
    static long UpdateFlag() {
        DWORD value = 0;
        DWORD size = sizeof value;
        if (::RegGetValueW(HKEY_CURRENT_USER, L"Software\\Velnor\\Tessaly\\Orvane",
                           L"ShouldUpdateCat", RRF_RT_REG_DWORD, nullptr, &value,
                           &size) != ERROR_SUCCESS) {
            return -1;
        }
        return static_cast<long>(value);
    }

    HWND window_ = nullptr;
};

TEST_F(CommandsTest, AboutCommandRunsTheAboutBoxThroughTheSeam) {
    StartRemembered();
    Dialog().OnSysCommand(0x10, 0);
    EXPECT_EQ(modal_.modalTemplates, std::vector<UINT>{100});
    // The low four bits are the system's own.
    Dialog().OnSysCommand(0x13, 0);
    // And as the system delivers it.
    ::SendMessageW(Window(), WM_SYSCOMMAND, 0x10, 0);
    EXPECT_EQ(modal_.modalTemplates, (std::vector<UINT>{100, 100, 100}));
    EXPECT_TRUE(modal_.helpFiles.empty());
    EXPECT_TRUE(modal_.boxes.empty());
}

TEST_F(CommandsTest, HelpCommandAndF1OpenTheHelpFile) {
    StartRemembered();
    Dialog().OnSysCommand(fw::kHelpCommand, 0);
    EXPECT_EQ(modal_.helpFiles, std::vector<std::wstring>{L"Glimmerly.chm"});

    // F1 in any of the dialog's windows, on its way through the modal loop.
    for (HWND target :
         {Window(), Item(CInstallerDlg::kTemplateListId), Dialog().thumbs.ListWindow()}) {
        MSG msg = {target, WM_KEYDOWN, VK_F1, 0x003B0001, 0, {0, 0}};
        EXPECT_TRUE(fw::Dialog::RouteMessage(Window(), &msg));
    }
    EXPECT_EQ(modal_.helpFiles.size(), 4u);
    EXPECT_TRUE(std::all_of(modal_.helpFiles.begin(), modal_.helpFiles.end(),
                            [](const std::wstring& file) { return file == L"Glimmerly.chm"; }));

    // Other keys are not help.
    MSG other = {Window(), WM_KEYDOWN, VK_F2, 0x003C0001, 0, {0, 0}};
    fw::Dialog::RouteMessage(Window(), &other);
    EXPECT_EQ(modal_.helpFiles.size(), 4u);
    EXPECT_TRUE(modal_.modalTemplates.empty());
}

TEST_F(CommandsTest, OtherSystemCommandsGetTheDefaultHandling) {
    StartRemembered();
    ::ShowWindow(Window(), SW_RESTORE);
    PumpPending();
    ASSERT_FALSE(::IsIconic(Window()));
    Dialog().OnSysCommand(SC_MINIMIZE, 0);
    PumpPending();
    EXPECT_TRUE(::IsIconic(Window()));
    ::SendMessageW(Window(), WM_SYSCOMMAND, SC_RESTORE, 0);
    PumpPending();
    EXPECT_FALSE(::IsIconic(Window()));

    ::SendMessageW(Window(), WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_TRUE(WaitUntilClosed());
    EXPECT_TRUE(modal_.modalTemplates.empty());
    EXPECT_TRUE(modal_.helpFiles.empty());
}

TEST_F(CommandsTest, SystemMenuHasNoAboutEntry) {
    StartRemembered();
    HMENU menu = ::GetSystemMenu(Window(), FALSE);
    ASSERT_NE(menu, nullptr);
    const int count = ::GetMenuItemCount(menu);
    EXPECT_GT(count, 0);
    for (int i = 0; i < count; ++i) {
        EXPECT_NE(::GetMenuItemID(menu, i) & 0xFFF0, 0x10u) << "item " << i;
    }
}

TEST_F(CommandsTest, InstallProgramThatCannotStartShowsTheErrorBoxAndCloses) {
    Picture(Library() / "Alpha" / "a.bmp");
    const std::wstring missing = Wide(Library() / "missing-setup.exe");
    WriteIni("[INSTALL]\r\n" + text::ToUtf8(missing) + "\r\n");
    StartRemembered();
    ASSERT_EQ(std::wstring(Dialog().installProgram), missing);

    Notify(CInstallerDlg::kInstallId, BN_CLICKED);
    ASSERT_EQ(modal_.boxes.size(), 1u);
    EXPECT_EQ(modal_.boxes[0].owner, nullptr);
    EXPECT_EQ(modal_.boxes[0].text, L"Error");
    EXPECT_EQ(modal_.boxes[0].title, L"Cannot start application ! ! !");
    EXPECT_EQ(modal_.boxes[0].style, static_cast<UINT>(MB_ICONERROR));
    EXPECT_TRUE(WaitUntilClosed());
    EXPECT_EQ(UpdateFlag(), -1);
}

TEST_F(CommandsTest, InstallProgramIsStartedAndTheDialogCloses) {
    Picture(Library() / "Alpha" / "a.bmp");
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    const stdfs::path program = Library() / "Setup" / "setup.exe";
    stdfs::create_directories(program.parent_path());
    stdfs::copy_file(stdfs::path(self).parent_path() / "install_sleeper.exe", program);
    // Released at the end, so the program does not outlive the test.
    win::UniqueHandle release(::CreateEventW(nullptr, TRUE, FALSE, L"GlimmerlyTestSleeperRelease"));
    WriteIni("[INSTALL]\r\n" + text::ToUtf8(Wide(program)) + "\r\n");
    StartRemembered();

    Notify(CInstallerDlg::kInstallId, BN_CLICKED);
    EXPECT_TRUE(WaitUntilClosed());
    EXPECT_TRUE(PumpUntil([&] { return !ReadFile(program.parent_path() / "starts.txt").empty(); }));
    EXPECT_EQ(ReadFile(program.parent_path() / "starts.txt"), "start\n");
    ::SetEvent(release.Get());
    EXPECT_TRUE(modal_.boxes.empty());
    EXPECT_EQ(UpdateFlag(), -1);  // program mode touches no registry value
}

TEST_F(CommandsTest, PackageModeInstallsTheSelectedPackage) {
    const stdfs::path host = root_ / "Host";
    for (const wchar_t* folder : kMaterialFolders) stdfs::create_directories(host / folder);
    {
        win::UniqueKey key;
        ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Brannic\\Lumora\\Orvane", 0,
                                    nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Put(), nullptr),
                  ERROR_SUCCESS);
        const std::wstring value = Wide(host) + L"\\";
        ASSERT_EQ(::RegSetValueExW(key.Get(), L"AppPath", 0, REG_SZ,
                                   reinterpret_cast<const BYTE*>(value.c_str()),
                                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }
    Picture(Library() / "Packs" / "a_picture.bmp");
    WriteFile(Library() / "Packs" / "b_Autumn.qrt", PackageBytes(L"Autumn frames, 2 pieces")
                                                        .Add(16, L"frame.qtp", "the frame")
                                                        .Add(21, L"leaf.brs", "the brush")
                                                        .Add(18, L"edge.brd", "the border")
                                                        .Add(19, L"aux.msk", "a device name")
                                                        .Add(20, L"what?.tex", "reserved")
                                                        .Bytes());
    StartRemembered();

    // Select the package first.
    const int package = IndexOfFile(L"b_Autumn.qrt");
    ASSERT_GE(package, 0);
    Dialog().thumbs.SelectItems(package, -1);
    ASSERT_EQ(std::wstring(Dialog().selectedPath), ModuleFolder() + L"Packs\\b_Autumn.qrt");
    modal_.boxes.clear();  // the package's preview has no sample: the library's error

    Notify(CInstallerDlg::kInstallId, BN_CLICKED);
    // The description, then one box that lists the members that could not be installed.
    ASSERT_EQ(modal_.boxes.size(), 2u);
    EXPECT_EQ(modal_.boxes[0].text, L"Autumn frames, 2 pieces");
    EXPECT_EQ(modal_.boxes[0].title, application_.Name());
    EXPECT_EQ(modal_.boxes[0].style & 0xF, static_cast<UINT>(MB_OK));
    EXPECT_EQ(modal_.boxes[1].title, application_.Name());
    EXPECT_TRUE(modal_.boxes[1].style & MB_ICONWARNING);
    EXPECT_NE(modal_.boxes[1].text.find(L"Masks: skipped member \"aux.msk\""), std::wstring::npos);
    EXPECT_NE(modal_.boxes[1].text.find(L"Textures: skipped member \"what?.tex\""),
              std::wstring::npos);
    EXPECT_EQ(ReadFile(host / "Templates" / "frame.qtp"), "the frame");
    EXPECT_EQ(ReadFile(host / "Brushes" / "leaf.brs"), "the brush");
    EXPECT_EQ(ReadFile(host / "Borders" / "edge.brd"), "the border");
    for (const wchar_t* folder : {L"Backgrounds", L"Masks", L"Textures"}) {
        EXPECT_TRUE(stdfs::is_empty(host / folder));
    }
    EXPECT_EQ(UpdateFlag(), 1);
    // The dialog stays open.
    PumpPending();
    EXPECT_TRUE(::IsWindow(window_));
}

TEST_F(CommandsTest, EnterAndEscapeLeaveItOpenExitClosesIt) {
    Picture(Library() / "Alpha" / "a.bmp");
    Picture(Library() / "Beta" / "b.bmp");
    StartRemembered();
    // Keys as the dialog manager sees them in the modal loop, with the focus in the template
    // list and in the strip.
    for (HWND focus : {Item(CInstallerDlg::kTemplateListId), Dialog().thumbs.ListWindow()}) {
        ::SetFocus(focus);
        for (WPARAM key : {VK_RETURN, VK_ESCAPE}) {
            ::PostMessageW(focus, WM_KEYDOWN, key, 1);
            ::PostMessageW(focus, WM_KEYUP, key, 0xC0000001);
            MSG msg;
            while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (!::IsDialogMessageW(window_, &msg)) {
                    ::TranslateMessage(&msg);
                    ::DispatchMessageW(&msg);
                }
            }
            PumpPending();
            ASSERT_TRUE(::IsWindow(window_)) << "key " << key;
        }
    }
    // The commands those keys stand for, sent directly, do nothing either.
    Notify(IDOK, BN_CLICKED);
    Notify(IDCANCEL, BN_CLICKED);
    PumpPending();
    ASSERT_TRUE(::IsWindow(window_));

    Dialog().OnExit();
    EXPECT_TRUE(WaitUntilClosed());

    // The hidden Exit button's click does the same.
    StartRemembered();
    Notify(CInstallerDlg::kExitId, BN_CLICKED);
    EXPECT_TRUE(WaitUntilClosed());
    EXPECT_TRUE(modal_.boxes.empty());
}

}  // namespace
}  // namespace dialog_tests
