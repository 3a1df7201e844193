// Choosing categories, templates and files: what gets selected and previewed, Prev and Next at
// both ends, empty templates, package previews and files that cannot be loaded.

#include "DialogFixture.h"

#include "base/Utf.h"
#include "support/PackageBytes.h"
#include "support/SampleImages.h"

#include <array>
#include <map>

namespace dialog_tests {
namespace {

using testing_support::PackageBytes;
using testing_support::ReadFile;
using testing_support::WriteFile;

class NavigationTest : public DialogTest {
protected:
    // Three pictures of different sizes, so the preview tells which one it shows.
    void ThreePictures(const stdfs::path& folder) {
        for (const auto& [name, size] : kSizes) Picture(folder / name, size.cx, size.cy);
        WriteFile(folder / "notes.txt", "not a picture");
    }

    // The preview shows the item at `index`: selection, path, title and picture agree.
    void ExpectShowing(int index) {
        SCOPED_TRACE(::testing::Message() << "item " << index);
        EXPECT_EQ(Dialog().selectedIndex, index);
        EXPECT_EQ(ListSelection(), index);
        const std::wstring path = PathOfItem(index);
        EXPECT_EQ(std::wstring(Dialog().selectedPath), path);
        const std::wstring file = path.substr(path.rfind(L'\\') + 1);
        EXPECT_EQ(std::wstring(Dialog().previewTitle), file.substr(0, file.rfind(L'.')));
        ASSERT_TRUE(Dialog().PreviewPicture());
        const SIZE size = kSizes.at(text::ToUtf8(file));
        EXPECT_EQ(Dialog().PreviewPicture()->GetImageWidth(), static_cast<uint32_t>(size.cx));
        EXPECT_EQ(Dialog().PreviewPicture()->GetImageHeight(), static_cast<uint32_t>(size.cy));
    }

    // A JPEG file's bytes.
    std::string Jpeg(uint32_t width, uint32_t height) {
        const stdfs::path path = root_ / "made.jpg";
        EXPECT_TRUE(
            sample::Write(sample::Format::Jpeg, sample::QuadrantPicture(width, height), path));
        return ReadFile(path);
    }

    // A package whose preview member is a JPEG of the given size.
    std::string PackageWithSample(uint32_t width, uint32_t height,
                                  const std::wstring& description = L"Autumn frames") {
        return PackageBytes(description)
            .Add(16, L"frame.txt", "a frame")
            .Add(22, L"sample.jpg", Jpeg(width, height))
            .Bytes();
    }

    void SelectTemplate(const std::wstring& name) {
        const int index = static_cast<int>(
            ::SendMessageW(Item(CInstallerDlg::kTemplateListId), LB_FINDSTRINGEXACT,
                           static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(name.c_str())));
        ASSERT_GE(index, 0);
        Dialog().templateList.SetCurSel(index);
        Notify(CInstallerDlg::kTemplateListId, LBN_SELCHANGE);
    }

    // The image library's own text for a file it cannot load.
    static std::wstring LoadError(const stdfs::path& path, uint32_t type) {
        CxImage image(Wide(path).c_str(), type, false, false);
        EXPECT_FALSE(image.IsValid());
        return text::FromUtf8(image.GetLastError());
    }

    const std::map<std::string, SIZE> kSizes = {
        {"a.bmp", {40, 30}}, {"b.bmp", {50, 20}}, {"c.bmp", {30, 60}}};
};

TEST_F(NavigationTest, StartShowsTheFirstTemplatesFirstFile) {
    ThreePictures(Library() / "Alpha");
    Picture(Library() / "Beta" / "x.bmp");
    Start();
    EXPECT_EQ(Dialog().templateList.GetCurSel(), 0);
    EXPECT_EQ(Dialog().thumbs.GetItemCount(), 3);  // the text file is not listed
    ExpectShowing(0);
    EXPECT_EQ(Dialog().CounterText(), L"1/3");
    EXPECT_TRUE(modal_.boxes.empty());
}

TEST_F(NavigationTest, NextStopsAtTheLastItemAndPrevAtTheFirst) {
    ThreePictures(Library() / "Alpha");
    Start();
    ExpectShowing(0);

    Dialog().OnPrev();  // already at the first
    ExpectShowing(0);
    Notify(CInstallerDlg::kNextId, BN_CLICKED);
    ExpectShowing(1);
    EXPECT_EQ(Dialog().CounterText(), L"2/3");
    for (int i = 0; i < 4; ++i) Dialog().OnNext();
    ExpectShowing(2);
    EXPECT_EQ(Dialog().CounterText(), L"3/3");

    Notify(CInstallerDlg::kPrevId, BN_CLICKED);
    ExpectShowing(1);
    for (int i = 0; i < 4; ++i) Dialog().OnPrev();
    ExpectShowing(0);
    EXPECT_TRUE(modal_.boxes.empty());
}

// The files beside the selection are prepared on another thread while the user steps on: each
// step still shows the selected file's own picture, also once a prepared file was rewritten.
TEST_F(NavigationTest, SteppingQuicklyShowsEachFilesOwnPicture) {
    constexpr int kFiles = 12;
    const auto colorOf = [](int i) {
        return testing_support::Rgb{static_cast<uint8_t>(20 * i),
                                    static_cast<uint8_t>(250 - 20 * i),
                                    static_cast<uint8_t>(i % 2 ? 200 : 40)};
    };
    for (int i = 0; i < kFiles; ++i) {
        wchar_t name[16];
        ::wsprintfW(name, L"p%02d.bmp", i);
        Picture(Library() / "Many" / name, 40 + i, 30, colorOf(i));
    }
    Start();
    ASSERT_EQ(Dialog().thumbs.GetItemCount(), kFiles);

    // The middle pixel of the picture shown, and the file whose name the title gives.
    const auto expectShowing = [&](int index, testing_support::Rgb color, uint32_t width) {
        SCOPED_TRACE(::testing::Message() << "item " << index);
        EXPECT_EQ(Dialog().selectedIndex, index);
        const std::wstring path = PathOfItem(index);
        const std::wstring file = path.substr(path.rfind(L'\\') + 1);
        EXPECT_EQ(Dialog().previewTitle, file.substr(0, file.rfind(L'.')));
        const CxImage* shown = Dialog().PreviewPicture();
        ASSERT_TRUE(shown);
        EXPECT_EQ(shown->GetImageWidth(), width);
        const uint8_t* middle =
            shown->GetBits(shown->GetHeight() / 2) + shown->GetWidth() / 2 * (shown->GetBpp() / 8);
        EXPECT_EQ((std::array{middle[2], middle[1], middle[0]}),
                  (std::array{color.r, color.g, color.b}));
    };
    const auto original = [&](int index) {
        const std::wstring path = PathOfItem(index);
        const int i = std::stoi(path.substr(path.rfind(L'\\') + 2, 2));
        return std::pair{colorOf(i), static_cast<uint32_t>(40 + i)};
    };

    // Next and Prev held down: no step waits for the neighbours to be ready.
    for (int index = 1; index < kFiles; ++index) {
        Dialog().OnNext();
        expectShowing(index, original(index).first, original(index).second);
    }
    for (int index = kFiles - 2; index >= 0; --index) {
        Dialog().OnPrev();
        expectShowing(index, original(index).first, original(index).second);
    }

    // The next file is prepared, then rewritten in place: same size, other colour.
    Dialog().WaitForNeighbours();
    const std::wstring next = PathOfItem(1);
    ASSERT_EQ(original(1).second, 41u);
    Picture(stdfs::path(next), 41, 30, {1, 2, 3});
    HANDLE file = ::CreateFileW(next.c_str(), FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    // A rewrite within the file system's time resolution must still count: the stamp is set
    // two seconds on.
    FILETIME written;
    ASSERT_TRUE(::GetFileTime(file, nullptr, nullptr, &written));
    const uint64_t later =
        ((uint64_t{written.dwHighDateTime} << 32) | written.dwLowDateTime) + 20'000'000;
    const FILETIME stamp{static_cast<DWORD>(later), static_cast<DWORD>(later >> 32)};
    ::SetFileTime(file, nullptr, nullptr, &stamp);
    ::CloseHandle(file);
    Dialog().OnNext();
    expectShowing(1, {1, 2, 3}, 41);
    EXPECT_TRUE(modal_.boxes.empty());
}

TEST_F(NavigationTest, ArrowKeysInTheStripChooseTheNeighbour) {
    ThreePictures(Library() / "Alpha");
    Start();
    HWND list = Dialog().thumbs.ListWindow();
    ::SendMessageW(list, WM_KEYDOWN, VK_RIGHT, 0);
    ::SendMessageW(list, WM_KEYUP, VK_RIGHT, 0);
    ExpectShowing(1);
    ::SendMessageW(list, WM_KEYDOWN, VK_END, 0);
    ::SendMessageW(list, WM_KEYUP, VK_END, 0);
    ExpectShowing(2);
    ::SendMessageW(list, WM_KEYDOWN, VK_LEFT, 0);
    ::SendMessageW(list, WM_KEYUP, VK_LEFT, 0);
    ExpectShowing(1);
    // Prev and Next go on from where the keyboard left the selection.
    Dialog().OnNext();
    ExpectShowing(2);
    EXPECT_TRUE(modal_.boxes.empty());
}

// Real input, as a user works: after a click on a thumbnail the arrow keys walk the strip, not
// the template list that had the keyboard before.
TEST_F(NavigationTest, AClickInTheStripGivesItTheKeyboard) {
    ThreePictures(Library() / "Alpha");
    Picture(Library() / "Beta" / "x.bmp");
    Start();
    ASSERT_TRUE(::SetForegroundWindow(Window()));
    ::SetFocus(Item(CInstallerDlg::kTemplateListId));
    PumpPending();
    ASSERT_EQ(::GetFocus(), Item(CInstallerDlg::kTemplateListId));

    HWND list = Dialog().thumbs.ListWindow();
    RECT cell = {LVIR_BOUNDS, 0, 0, 0};
    ASSERT_TRUE(::SendMessageW(list, LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&cell)));
    POINT centre = {(cell.left + cell.right) / 2, (cell.top + cell.bottom) / 2};
    ::ClientToScreen(list, &centre);
    ::SetCursorPos(centre.x, centre.y);
    INPUT click[2] = {};
    click[0].type = click[1].type = INPUT_MOUSE;
    click[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    click[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    ::SendInput(2, click, sizeof(INPUT));
    ASSERT_TRUE(PumpUntil([&] { return ::GetFocus() == list; }))
        << "the strip did not take the keyboard";
    ExpectShowing(0);

    for (int step = 1; step <= 2; ++step) {
        INPUT key[2] = {};
        key[0].type = key[1].type = INPUT_KEYBOARD;
        key[0].ki.wVk = key[1].ki.wVk = VK_RIGHT;
        key[1].ki.dwFlags = KEYEVENTF_KEYUP;
        ::SendInput(2, key, sizeof(INPUT));
        ASSERT_TRUE(PumpUntil([&] { return Dialog().selectedIndex == step; }));
        ExpectShowing(step);
    }
    EXPECT_EQ(Dialog().templateList.GetCurSel(), 0);  // the template list did not move
    EXPECT_TRUE(modal_.boxes.empty());
}

TEST_F(NavigationTest, WithItemsButNoneSelectedNextSelectsTheFirst) {
    ThreePictures(Library() / "Alpha");
    Start();
    Dialog().thumbs.DeselectItems(0, -1);
    Dialog().selectedIndex = -1;
    EXPECT_EQ(Dialog().CounterText(), L"0/3");
    Dialog().OnPrev();
    EXPECT_EQ(Dialog().selectedIndex, -1);
    Dialog().OnNext();
    ExpectShowing(0);
}

TEST_F(NavigationTest, TemplateWithoutSupportedFilesSelectsNothing) {
    ThreePictures(Library() / "Alpha");
    WriteFile(Library() / "Empty" / "readme.txt", "nothing to see");
    Picture(Library() / "Empty" / "Inner" / "deeper.bmp");  // files of sub-folders are not listed
    Start();
    ExpectShowing(0);
    const std::wstring shownBefore = Dialog().selectedPath;

    SelectTemplate(L"Empty");
    EXPECT_EQ(Dialog().thumbs.GetItemCount(), 0);
    EXPECT_EQ(Dialog().selectedIndex, -1);
    EXPECT_EQ(Dialog().previewTitle, L"");
    EXPECT_FALSE(Dialog().PreviewPicture());
    EXPECT_EQ(Dialog().CounterText(), L"0/0");
    // The install command still knows the last file chosen.
    EXPECT_EQ(std::wstring(Dialog().selectedPath), shownBefore);

    Dialog().OnNext();
    EXPECT_EQ(Dialog().selectedIndex, -1);
    Dialog().OnPrev();
    EXPECT_EQ(Dialog().selectedIndex, -1);
    EXPECT_EQ(ListSelection(), -1);

    SelectTemplate(L"Alpha");
    ExpectShowing(0);
    EXPECT_TRUE(modal_.boxes.empty());
}

TEST_F(NavigationTest, ChangingTheCategoryShowsItsFirstTemplate) {
    WriteIni("[CATEGORY]\r\n1\r\n");
    ThreePictures(Library() / "Plants" / "Trees");
    Picture(Library() / "Plants" / "Flowers" / "rose.bmp", 22, 11);
    Picture(Library() / "Water" / "Sea" / "wave.bmp", 17, 13);
    Picture(Library() / "Water" / "Lakes" / "calm.bmp", 19, 23);
    Start();

    const std::wstring first = Dialog().categoryCombo.GetLBText(0);
    const std::wstring other = first == L"Plants" ? L"Water" : L"Plants";
    for (const std::wstring& category : {other, first}) {
        SCOPED_TRACE(text::ToUtf8(category));
        const int index = static_cast<int>(
            ::SendMessageW(Item(CInstallerDlg::kCategoryId), CB_FINDSTRINGEXACT,
                           static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(category.c_str())));
        ASSERT_GE(index, 0);
        ::SendMessageW(Item(CInstallerDlg::kCategoryId), CB_SETCURSEL, index, 0);
        Dialog().OnSelchangeCategory();

        EXPECT_EQ(std::wstring(Dialog().currentFolder), ModuleFolder() + category + L"\\");
        const std::vector<std::wstring> expected =
            category == L"Water" ? std::vector<std::wstring>{L"Lakes", L"Sea"}
                                 : std::vector<std::wstring>{L"Flowers", L"Trees"};
        EXPECT_EQ(TemplateNames(), expected);
        EXPECT_EQ(Dialog().templateList.GetCurSel(), 0);
        EXPECT_EQ(Dialog().selectedIndex, 0);
        EXPECT_EQ(Dialog().thumbs.GetItemCount(), 1);
        const std::wstring firstFile = category == L"Water" ? L"calm" : L"rose";
        EXPECT_EQ(std::wstring(Dialog().previewTitle), firstFile);
        EXPECT_EQ(std::wstring(Dialog().selectedPath),
                  ModuleFolder() + category + L"\\" + expected[0] + L"\\" + firstFile + L".bmp");
    }

    // The category's second template, through the list's own notification.
    SelectTemplate(L"Trees");
    EXPECT_EQ(Dialog().thumbs.GetItemCount(), 3);
    ExpectShowing(0);
}

TEST_F(NavigationTest, EmptyCategoryLeavesTheListAndTheStripEmpty) {
    WriteIni("[CATEGORY]\r\n1\r\n");
    ThreePictures(Library() / "Plants" / "Trees");
    stdfs::create_directories(Library() / "Waiting");
    Start();
    const int index = static_cast<int>(::SendMessageW(Item(CInstallerDlg::kCategoryId),
                                                      CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                                      reinterpret_cast<LPARAM>(L"Waiting")));
    ASSERT_GE(index, 0);
    ::SendMessageW(Item(CInstallerDlg::kCategoryId), CB_SETCURSEL, index, 0);
    Notify(CInstallerDlg::kCategoryId, CBN_SELCHANGE);

    EXPECT_EQ(std::wstring(Dialog().currentFolder), ModuleFolder() + L"Waiting\\");
    EXPECT_EQ(Dialog().templateList.GetCount(), 0);
    EXPECT_EQ(Dialog().thumbs.GetItemCount(), 0);
    EXPECT_EQ(ListSelection(), -1);
    EXPECT_FALSE(Dialog().PreviewPicture());
    // Nothing is selected, and nothing of the previous template's file is left on show.
    EXPECT_EQ(Dialog().CounterText(), L"0/0");
    EXPECT_EQ(Dialog().previewTitle, L"");
    Dialog().PaintPreview();
    EXPECT_EQ(Dialog().caption, L"Glimmerly");
    EXPECT_TRUE(modal_.boxes.empty());
}

TEST_F(NavigationTest, PackagePreviewShowsItsSamplePicture) {
    WriteFile(Library() / "Packs" / "Autumn.qrt", PackageWithSample(64, 48));
    WriteFile(Library() / "Packs" / "WINTER.QRT", PackageWithSample(36, 52));
    WriteFile(Library() / "Spare" / "Spring.qrtx", PackageWithSample(20, 44));
    Start();
    ASSERT_EQ(Dialog().thumbs.GetItemCount(), 2);  // the extension in capitals is listed too

    for (const auto& [file, size] :
         {std::pair{L"Autumn.qrt", SIZE{64, 48}}, std::pair{L"WINTER.QRT", SIZE{36, 52}}}) {
        SCOPED_TRACE(text::ToUtf8(file));
        const int index = IndexOfFile(file);
        ASSERT_GE(index, 0);
        Dialog().thumbs.SelectItems(index, -1);
        EXPECT_EQ(Dialog().selectedIndex, index);
        EXPECT_EQ(std::wstring(Dialog().selectedPath), ModuleFolder() + L"Packs\\" + file);
        const std::wstring name = file;
        EXPECT_EQ(std::wstring(Dialog().previewTitle), name.substr(0, name.find(L'.')));
        ASSERT_TRUE(Dialog().PreviewPicture());
        EXPECT_EQ(Dialog().PreviewPicture()->GetImageWidth(), static_cast<uint32_t>(size.cx));
        EXPECT_EQ(Dialog().PreviewPicture()->GetImageHeight(), static_cast<uint32_t>(size.cy));
        EXPECT_TRUE(stdfs::exists(TempFolder() / "sample.jpg"));
    }

    // Only the first four letters of the extension are compared.
    const std::wstring spring = ModuleFolder() + L"Spare\\Spring.qrtx";
    SendSelected(5, spring);
    EXPECT_EQ(Dialog().selectedIndex, 5);
    EXPECT_EQ(std::wstring(Dialog().selectedPath), spring);
    EXPECT_EQ(Dialog().previewTitle, L"Spring");
    ASSERT_TRUE(Dialog().PreviewPicture());
    EXPECT_EQ(Dialog().PreviewPicture()->GetImageWidth(), 20u);
    EXPECT_EQ(Dialog().PreviewPicture()->GetImageHeight(), 44u);
    EXPECT_TRUE(modal_.boxes.empty());
}

TEST_F(NavigationTest, PackageSelectedAgainExtractsItsSampleAgain) {
    WriteFile(Library() / "Packs" / "Autumn.qrt", PackageWithSample(64, 48));
    Start();
    ASSERT_TRUE(Dialog().PreviewPicture());
    const std::string extracted = ReadFile(TempFolder() / "sample.jpg");
    ASSERT_FALSE(extracted.empty());

    // Something else takes the temporary sample's place in between.
    WriteFile(TempFolder() / "sample.jpg", Jpeg(8, 8));
    SendSelected(0, ModuleFolder() + L"Packs\\Autumn.qrt");
    EXPECT_EQ(ReadFile(TempFolder() / "sample.jpg"), extracted);
    ASSERT_TRUE(Dialog().PreviewPicture());
    EXPECT_EQ(Dialog().PreviewPicture()->GetImageWidth(), 64u);
    EXPECT_TRUE(modal_.boxes.empty());
}

TEST_F(NavigationTest, PackageWithoutSampleShowsNoPictureNotAnEarlierSample) {
    WriteFile(Library() / "Packs" / "Bare.qrt",
              PackageBytes(L"No picture").Add(16, L"frame.txt", "a frame").Bytes());
    const stdfs::path sample = TempFolder() / "sample.jpg";
    const std::wstring expectedText = LoadError(sample, 3);
    Start();

    // No sample anywhere: the library's error, through the seam, titled with the program's name.
    ASSERT_EQ(modal_.boxes.size(), 1u);
    EXPECT_EQ(modal_.boxes[0].text, expectedText);
    EXPECT_EQ(modal_.boxes[0].title, application_.Name());
    EXPECT_FALSE(Dialog().PreviewPicture());
    EXPECT_EQ(Dialog().previewTitle, L"Bare");
    EXPECT_FALSE(stdfs::exists(sample));

    // One left behind by an earlier package is not shown in its place.
    WriteFile(sample, Jpeg(30, 20));
    SendSelected(0, ModuleFolder() + L"Packs\\Bare.qrt");
    ASSERT_EQ(modal_.boxes.size(), 2u);
    EXPECT_EQ(modal_.boxes[1].text, expectedText);
    EXPECT_FALSE(Dialog().PreviewPicture());
    EXPECT_FALSE(stdfs::exists(sample));
}

TEST_F(NavigationTest, FileThatIsNotAPackageIsLoadedAsItIs) {
    const stdfs::path fake = Library() / "Packs" / "fake.qrt";
    WriteFile(fake, "this is no package at all");
    const std::wstring expectedText = LoadError(fake, 0);
    Start();
    ASSERT_EQ(modal_.boxes.size(), 1u);
    EXPECT_EQ(modal_.boxes[0].text, expectedText);
    EXPECT_FALSE(Dialog().PreviewPicture());
    EXPECT_FALSE(stdfs::exists(TempFolder() / "sample.jpg"));

    // A real picture that merely carries the package extension shows as itself.
    const stdfs::path disguised = Library() / "Packs" / "picture.qrt";
    ASSERT_TRUE(sample::Write(sample::Format::Png, sample::QuadrantPicture(26, 14), disguised));
    SendSelected(1, Wide(disguised));
    EXPECT_EQ(modal_.boxes.size(), 1u);
    ASSERT_TRUE(Dialog().PreviewPicture());
    EXPECT_EQ(Dialog().PreviewPicture()->GetImageWidth(), 26u);
}

TEST_F(NavigationTest, UnloadableFileShowsOneBoxWithTheLibrarysText) {
    const stdfs::path broken = Library() / "Broken" / "broken.bmp";
    WriteFile(broken, "BM but nothing a decoder could use");
    Picture(Library() / "Broken" / "fine.bmp", 12, 10);
    const std::wstring expectedText = LoadError(broken, 1);
    ASSERT_FALSE(expectedText.empty());
    Start();

    const int brokenIndex = IndexOfFile(L"broken.bmp");
    ASSERT_GE(brokenIndex, 0);
    modal_.boxes.clear();
    Dialog().thumbs.SelectItems(1 - brokenIndex, -1);
    ASSERT_TRUE(modal_.boxes.empty());
    ASSERT_TRUE(Dialog().PreviewPicture());

    Dialog().thumbs.SelectItems(brokenIndex, -1);
    ASSERT_EQ(modal_.boxes.size(), 1u);
    EXPECT_EQ(modal_.boxes[0].text, expectedText);
    EXPECT_EQ(modal_.boxes[0].title, application_.Name());
    EXPECT_EQ(modal_.boxes[0].title, L"dialog_tests");
    EXPECT_EQ(modal_.boxes[0].style, static_cast<UINT>(MB_OK));
    EXPECT_EQ(modal_.boxes[0].owner, Window());
    EXPECT_FALSE(Dialog().PreviewPicture());
    EXPECT_EQ(Dialog().selectedIndex, brokenIndex);
    EXPECT_EQ(Dialog().previewTitle, L"broken");
    EXPECT_EQ(std::wstring(Dialog().selectedPath), Wide(broken));

    // Painting with nothing to show draws the logo and asks nothing more.
    Dialog().PaintPreview();
    PumpPending();
    EXPECT_EQ(modal_.boxes.size(), 1u);
}

TEST_F(NavigationTest, UpperCaseExtensionsAreLowerCasedBeforeTheLookUp) {
    const stdfs::path photo = Library() / "Photos" / "Harbour.JPEG";
    stdfs::create_directories(photo.parent_path());
    ASSERT_TRUE(sample::Write(sample::Format::Jpeg, sample::QuadrantPicture(48, 32), photo));
    Start();
    SendSelected(0, Wide(photo));
    ASSERT_TRUE(Dialog().PreviewPicture());
    EXPECT_EQ(Dialog().PreviewPicture()->GetImageWidth(), 48u);
    EXPECT_EQ(Dialog().PreviewPicture()->GetType(), 3u);
    EXPECT_EQ(Dialog().previewTitle, L"Harbour");
    EXPECT_TRUE(modal_.boxes.empty());
}

TEST(ImageTypeFromExtension, TableOfTheDialog) {
    const std::pair<const wchar_t*, int> rows[] = {
        {L".bmp", 1},  {L".gif", 2},  {L".jpg", 3},  {L".jpeg", 3}, {L".png", 4},  {L".ico", 5},
        {L".tiff", 6}, {L".tif", 6},  {L".tga", 7},  {L".ogf", 8},  {L".pcx", 9},  {L".wbmp", 10},
        {L".wmf", 11}, {L".emf", 11}, {L".jp2", 12}, {L".j2k", 12}, {L".jpc", 13}, {L".j2c", 13},
        {L".pgx", 14}, {L".pnm", 15}, {L".pgm", 15}, {L".ppm", 15}, {L".ras", 16},
    };
    for (const auto& [extension, code] : rows) {
        EXPECT_EQ(CInstallerDlg::ImageTypeFromExtension(extension), code)
            << text::ToUtf8(extension);
    }
    // Compared exactly: the caller lower-cases, and nothing else matches.
    for (const wchar_t* other :
         {L".JPG", L".Bmp", L"jpg", L".qrt", L".qrv", L".jpg ", L"", L".", L".jpgx", L".tgax"}) {
        EXPECT_EQ(CInstallerDlg::ImageTypeFromExtension(other), 0) << text::ToUtf8(other);
    }
}

}  // namespace
}  // namespace dialog_tests
