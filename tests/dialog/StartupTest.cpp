// Start-up: the configuration file and the two modes, the lists filled from the folders, the
// shell registration written at every start.

#include "DialogFixture.h"

#include <algorithm>

namespace dialog_tests {
namespace {

class StartupTest : public DialogTest {
protected:
    // The default value of a key below the classes root, or "<missing>".
    static std::wstring ClassesDefault(const wchar_t* key, DWORD* type = nullptr) {
        wchar_t value[MAX_PATH] = {};
        DWORD size = sizeof value;
        DWORD kind = 0;
        if (::RegGetValueW(HKEY_CLASSES_ROOT, key, nullptr, RRF_RT_ANY, &kind, value, &size) !=
            ERROR_SUCCESS) {
            return L"<missing>";
        }
        if (type) *type = kind;
        return value;
    }

    static void SetClassesDefault(const wchar_t* key, const std::wstring& value) {
        ASSERT_EQ(::RegSetValueW(HKEY_CLASSES_ROOT, key, REG_SZ, value.c_str(),
                                 static_cast<DWORD>(value.size() * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }

    // A library of one category with one template of one picture, with `ini` beside it.
    stdfs::path LibraryWithIni(const std::string& name, const std::string& ini) {
        const stdfs::path library = root_ / name;
        Picture(library / "Nature" / "Trees" / "oak.bmp");
        if (!ini.empty()) WriteIni(ini, library);
        return library;
    }
};

TEST_F(StartupTest, WithoutConfigurationFolderModeShowsTheSubFoldersSorted) {
    Picture(Library() / "Zeta" / "z.bmp");
    Picture(Library() / "alpha" / "a.bmp");
    Picture(Library() / "Mid" / "m.bmp");
    Picture(Library() / "loose.bmp");  // a file, not a template
    Start();

    EXPECT_EQ(Dialog().categoryMode, 0);
    EXPECT_FALSE(::IsWindowVisible(Item(CInstallerDlg::kCategoryId)));
    EXPECT_EQ(Dialog().installProgram, L"");
    EXPECT_EQ(std::wstring(Dialog().moduleFolder), ModuleFolder());
    EXPECT_EQ(std::wstring(Dialog().currentFolder), ModuleFolder());
    EXPECT_EQ(std::wstring(Dialog().logoPath), ModuleFolder() + L"Logo.bmp");
    EXPECT_EQ(TemplateNames(), (std::vector<std::wstring>{L"alpha", L"Mid", L"Zeta"}));
    EXPECT_EQ(Dialog().templateList.GetCurSel(), 0);
    // The first template's first file is on show.
    EXPECT_EQ(std::wstring(Dialog().selectedPath), ModuleFolder() + L"alpha\\a.bmp");
    EXPECT_EQ(Dialog().selectedIndex, 0);
    EXPECT_TRUE(modal_.boxes.empty());
}

TEST_F(StartupTest, CategorySectionFirstLineMustBeExactlyOne) {
    struct Case {
        const char* ini;
        int mode;
    };
    const Case cases[] = {
        {"[CATEGORY]\r\n1\r\n", 1},
        {"[CATEGORY]\r\n1\r\nsecond line\r\n", 1},
        {"[INSTALL]\r\nsetup.exe\r\n[CATEGORY]\r\n1\r\n", 1},
        {"[CATEGORY]\r\n0\r\n", 0},
        {"[CATEGORY]\r\n2\r\n1\r\n", 0},
        {"[CATEGORY]\r\nyes\r\n", 0},
        {"[CATEGORY]\r\n1=on\r\n", 0},
        {"[CATEGORY]\r\n11\r\n", 0},
        {"[CATEGORY]\r\n", 0},
        {"[OTHER]\r\n1\r\n", 0},
        {"", 0},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ini);
        Start(LibraryWithIni("library" + std::to_string(n++), c.ini));
        EXPECT_EQ(Dialog().categoryMode, c.mode);
        EXPECT_EQ(::IsWindowVisible(Item(CInstallerDlg::kCategoryId)) != FALSE, c.mode == 1);
        // Either way the one picture is found: through the category or through the folder.
        if (c.mode == 1) {
            EXPECT_EQ(TemplateNames(), std::vector<std::wstring>{L"Trees"});
            EXPECT_EQ(Dialog().selectedIndex, 0);
        } else {
            EXPECT_EQ(TemplateNames(), std::vector<std::wstring>{L"Nature"});
            EXPECT_EQ(Dialog().selectedIndex, -1);  // "Nature" holds a folder, no files
        }
    }
}

TEST_F(StartupTest, InstallSectionFirstLineIsTakenWhole) {
    Start(LibraryWithIni("keyvalue", "[INSTALL]\r\nProgram=C:\\Setup\\install.exe\r\nnext=2\r\n"));
    EXPECT_EQ(Dialog().installProgram, L"Program=C:\\Setup\\install.exe");
    EXPECT_EQ(Dialog().categoryMode, 0);

    Start(LibraryWithIni("plain", "[INSTALL]\r\nC:\\Setup\\install.exe\r\n"));
    EXPECT_EQ(Dialog().installProgram, L"C:\\Setup\\install.exe");

    Start(LibraryWithIni("empty", "[INSTALL]\r\n[CATEGORY]\r\n0\r\n"));
    EXPECT_EQ(Dialog().installProgram, L"");

    Start(LibraryWithIni("none", "[CATEGORY]\r\n1\r\n"));
    EXPECT_EQ(Dialog().installProgram, L"");
}

TEST_F(StartupTest, ShellRegistrationIsRewrittenAtEveryStart) {
    SetClassesDefault(L"QRTInstaller", L"Someone else's installer");
    SetClassesDefault(L"QRTInstaller\\shell\\open\\command", L"C:\\Other\\other.exe \"%1\"");
    SetClassesDefault(L".qrt", L"OtherHandler");

    Start();
    DWORD type = 0;
    EXPECT_EQ(ClassesDefault(L"QRTInstaller", &type), L"QRV Template Installer");
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(ClassesDefault(L"QRTInstaller\\shell\\open\\command", &type),
              L"\"" + ModuleFolder() + L"Glimmerly.exe\"");
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(ClassesDefault(L".qrt", &type), L"QRTInstaller");
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));

    // The next start, from another folder, writes its own path, quoted since it has a space.
    const stdfs::path other = root_ / "Program Files" / "elsewhere";
    stdfs::create_directories(other);
    Start(other);
    EXPECT_EQ(ClassesDefault(L"QRTInstaller\\shell\\open\\command"),
              L"\"" + Wide(other) + L"\\Glimmerly.exe\"");
    EXPECT_EQ(ClassesDefault(L"QRTInstaller"), L"QRV Template Installer");
    EXPECT_EQ(ClassesDefault(L".qrt"), L"QRTInstaller");
}

TEST_F(StartupTest, CategoryModeListsCategoriesAndTheFirstOnesTemplates) {
    WriteIni("[CATEGORY]\r\n1\r\n");
    Picture(Library() / "Beta" / "Leaves" / "l.bmp");
    Picture(Library() / "Beta" / "Bark" / "b.bmp");
    Picture(Library() / "alpha" / "Sky" / "s.bmp");
    Picture(Library() / "Gamma" / "Sea" / "w.bmp");
    Picture(Library() / "notes.bmp");
    Start();

    ASSERT_EQ(Dialog().categoryMode, 1);
    std::vector<std::wstring> categories;
    for (int i = 0; i < Dialog().categoryCombo.GetCount(); ++i) {
        categories.push_back(Dialog().categoryCombo.GetLBText(i));
    }
    // In the order the file system lists them: compare as sets.
    std::sort(categories.begin(), categories.end());
    EXPECT_EQ(categories, (std::vector<std::wstring>{L"Beta", L"Gamma", L"alpha"}));

    // The first entry is the category on show.
    ASSERT_EQ(Dialog().categoryCombo.GetCurSel(), 0);
    const std::wstring first = Dialog().categoryCombo.GetLBText(0);
    EXPECT_EQ(std::wstring(Dialog().currentFolder), ModuleFolder() + first + L"\\");
    EXPECT_EQ(Dialog().templateList.GetCurSel(), 0);
    ASSERT_GE(Dialog().templateList.GetCount(), 1);
    EXPECT_EQ(
        std::wstring(Dialog().selectedPath)
            .rfind(ModuleFolder() + first + L"\\" + Dialog().templateList.GetText(0) + L"\\", 0),
        0u);
    EXPECT_EQ(Dialog().selectedIndex, 0);
}

// Names as long as Windows allows: whatever the program cannot hand to Windows whole (a folder
// path past 259 characters, a file path past the 255 of a record) is not listed; nothing is
// cut into another name or written past a buffer.
TEST_F(StartupTest, LongNamesListWhatFitsAndSkipWhatDoesNot) {
    const std::wstring parent = Wide(root_.Path()) + L"\\";
    ASSERT_LT(parent.size(), 150u);
    // A program folder of 192 characters, ending with its backslash.
    const stdfs::path library = root_.Path() / std::wstring(191 - parent.size(), L'P');
    const std::wstring module = Wide(library) + L"\\";
    ASSERT_EQ(module.size(), 192u);
    WriteIni("[CATEGORY]\r\n1\r\n", library);
    const std::wstring huge(250, L'H');
    Picture(library / huge / "T" / "a.bmp");                   // category path past 259
    const size_t fitting = 259 - module.size() - 1;            // category + backslash fills 259
    Picture(library / std::wstring(fitting, L'C') / "x.bmp");  // a category with no templates
    Picture(library / std::wstring(fitting + 1, L'D') / "T" / "y.bmp");
    const stdfs::path shortCategory = library / "Short";
    Picture(shortCategory / huge / "a.bmp");                      // template path past 259
    const size_t room = 259 - (module.size() + 6);                // after "Short\"
    Picture(shortCategory / std::wstring(room, L'M') / "m.bmp");  // listed; its file is not
    Picture(shortCategory / std::wstring(room + 1, L'N') / "n.bmp");
    const size_t fileRoom = 255 - (module.size() + 8);  // after "Short\T\"
    const std::wstring fits = std::wstring(fileRoom - 4, L'f') + L".bmp";
    const std::wstring tooLong = std::wstring(fileRoom - 3, L'g') + L".bmp";
    Picture(shortCategory / "T" / "a.bmp");
    Picture(shortCategory / "T" / fits);
    Picture(shortCategory / "T" / tooLong);

    Start(library);
    ASSERT_EQ(Dialog().moduleFolder, module);
    std::vector<std::wstring> categories;
    for (int i = 0; i < Dialog().categoryCombo.GetCount(); ++i)
        categories.push_back(Dialog().categoryCombo.GetLBText(i));
    std::sort(categories.begin(), categories.end());
    EXPECT_EQ(categories, (std::vector<std::wstring>{std::wstring(fitting, L'C'), L"Short"}));

    const int shortIndex = static_cast<int>(
        ::SendMessageW(Item(CInstallerDlg::kCategoryId), CB_FINDSTRINGEXACT,
                       static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(L"Short")));
    ASSERT_GE(shortIndex, 0);
    ::SendMessageW(Item(CInstallerDlg::kCategoryId), CB_SETCURSEL, shortIndex, 0);
    Notify(CInstallerDlg::kCategoryId, CBN_SELCHANGE);
    EXPECT_EQ(TemplateNames(), (std::vector<std::wstring>{std::wstring(room, L'M'), L"T"}));
    // The first template's one file does not fit a record: nothing is listed or selected.
    EXPECT_EQ(Dialog().thumbs.GetItemCount(), 0);
    EXPECT_EQ(Dialog().CounterText(), L"0/0");

    Dialog().templateList.SetCurSel(1);
    Notify(CInstallerDlg::kTemplateListId, LBN_SELCHANGE);
    ASSERT_EQ(Dialog().thumbs.GetItemCount(), 2);
    std::vector<std::wstring> files = {PathOfItem(0), PathOfItem(1)};
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::wstring>{module + L"Short\\T\\a.bmp",
                                                module + L"Short\\T\\" + fits}));
    Dialog().PaintPreview();
    EXPECT_TRUE(modal_.boxes.empty());
}

TEST_F(StartupTest, LogoImageComesFromTheLibraryFolder) {
    Picture(Library() / "Alpha" / "a.bmp");
    Start();
    ASSERT_TRUE(Dialog().logoImage);
    EXPECT_FALSE(Dialog().logoImage->IsValid());  // no Logo.bmp: an empty image

    Picture(Library() / "Logo.bmp", 33, 21, {1, 2, 3});
    Start();
    ASSERT_TRUE(Dialog().logoImage);
    ASSERT_TRUE(Dialog().logoImage->IsValid()) << Dialog().logoImage->GetLastError();
    EXPECT_EQ(Dialog().logoImage->GetWidth(), 33u);
    EXPECT_EQ(Dialog().logoImage->GetHeight(), 21u);
    EXPECT_TRUE(Dialog().logoBitmap);
}

TEST_F(StartupTest, EmptyLibraryShowsNothingSelected) {
    Picture(Library() / "loose.bmp");
    Start();
    EXPECT_EQ(Dialog().templateList.GetCount(), 0);
    EXPECT_EQ(Dialog().thumbs.GetItemCount(), 0);
    EXPECT_EQ(Dialog().selectedIndex, -1);
    EXPECT_EQ(Dialog().previewTitle, L"");
    EXPECT_FALSE(Dialog().PreviewPicture());
    EXPECT_TRUE(modal_.boxes.empty());
}

TEST_F(StartupTest, IconIsTheWindowsLargeAndSmallIcon) {
    Start();
    ASSERT_NE(Dialog().icon, nullptr);
    EXPECT_EQ(::SendMessageW(Window(), WM_GETICON, ICON_BIG, 0),
              reinterpret_cast<LRESULT>(Dialog().icon));
    EXPECT_EQ(::SendMessageW(Window(), WM_GETICON, ICON_SMALL, 0),
              reinterpret_cast<LRESULT>(Dialog().icon));
    wchar_t title[64] = {};
    ::GetWindowTextW(Window(), title, 64);
    EXPECT_STREQ(title, L"Glimmerly");
}

}  // namespace
}  // namespace dialog_tests
