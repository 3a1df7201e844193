#include "app/InstallCommand.h"

#include "app/RegistryPath.h"
#include "support/PackageBytes.h"
#include "support/RegistrySandbox.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

namespace {

namespace stdfs = std::filesystem;
using testing_support::PackageBytes;
using testing_support::ReadFile;
using testing_support::RegistrySandbox;
using testing_support::TempDir;
using testing_support::WriteFile;

struct Shown {
    std::wstring text;
    bool hasTitle;
    std::wstring title;
    UINT style;
};

class RecordingPrompt : public InstallPrompt {
public:
    void Show(const wchar_t* text, const wchar_t* title, UINT style) override {
        shown.push_back({text, title != nullptr, title ? title : L"", style});
    }
    std::vector<Shown> shown;
};

const wchar_t* const kFolders[] = {L"Templates", L"Backgrounds", L"Borders",
                                   L"Masks",     L"Textures",    L"Brushes"};

class InstallCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sandbox_.Ok());
        host_ = temp_ / "Host";
        for (const wchar_t* folder : kFolders) stdfs::create_directories(host_ / folder);
    }

    static void SetAppPath(const std::wstring& value) {
        ASSERT_TRUE(testing_support::SetHostAppPath(value));
    }
    // The flag's value, or -1 when it is not there.
    static long Flag() { return testing_support::HostRefreshFlag(); }

    std::wstring MakePackage(const PackageBytes& bytes) {
        WriteFile(temp_ / "material.qrt", bytes.Bytes());
        return TempDir::WideOf(temp_ / "material.qrt");
    }

    // Path below the host folder -> (content, write time) of every file.
    std::map<std::string, std::pair<std::string, stdfs::file_time_type>> Snapshot() const {
        std::map<std::string, std::pair<std::string, stdfs::file_time_type>> files;
        for (const auto& entry : stdfs::recursive_directory_iterator(host_)) {
            if (entry.is_regular_file()) {
                files[stdfs::relative(entry.path(), host_).generic_string()] = {
                    ReadFile(entry.path()), entry.last_write_time()};
            }
        }
        return files;
    }

    RegistrySandbox sandbox_;
    TempDir temp_;
    stdfs::path host_;
    RecordingPrompt prompt_;
};

TEST_F(InstallCommandTest, InstallsEachKindIntoItsFolderShowsTheDescriptionAndSetsTheFlag) {
    SetAppPath(TempDir::WideOf(host_));
    PackageBytes bytes(L"Six kinds");
    for (int kind = 16; kind <= 21; ++kind)
        bytes.Add(static_cast<uint8_t>(kind), L"Set\\item" + std::to_wstring(kind) + L".dat",
                  "kind " + std::to_string(kind));
    bytes.Add(22, L"sample.jpg", "not installed");
    const std::wstring package = MakePackage(bytes);

    InstallCommand command(prompt_);
    EXPECT_EQ(command.InstallPackage(package.c_str()), InstallCommand::Outcome::Installed);
    ASSERT_EQ(prompt_.shown.size(), 1u);
    EXPECT_EQ(prompt_.shown[0].text, L"Six kinds");
    EXPECT_FALSE(prompt_.shown[0].hasTitle);  // the application's name
    EXPECT_EQ(prompt_.shown[0].style, static_cast<UINT>(MB_OK));
    for (int kind = 16; kind <= 21; ++kind) {
        EXPECT_EQ(ReadFile(host_ / kFolders[kind - 16] / "Set" /
                           ("item" + std::to_string(kind) + ".dat")),
                  "kind " + std::to_string(kind));
    }
    EXPECT_EQ(Snapshot().size(), 6u);
    EXPECT_EQ(Flag(), 1);

    // Installing again changes no file but raises the flag again.
    const auto before = Snapshot();
    ASSERT_EQ(RegistryPath::WriteDword(
                  L"HKEY_CURRENT_USER\\Software\\Velnor\\Tessaly\\Orvane\\ShouldUpdateCat", 0),
              1);
    EXPECT_EQ(command.InstallPackage(package.c_str()), InstallCommand::Outcome::Installed);
    EXPECT_EQ(Snapshot(), before);
    EXPECT_EQ(Flag(), 1);
}

TEST_F(InstallCommandTest, TrailingBackslashMissingFoldersAndPartialPackages) {
    SetAppPath(TempDir::WideOf(host_) + L"\\");
    stdfs::remove(host_ / "Masks");
    const std::wstring package = MakePackage(
        PackageBytes().Add(16, L"t.tpl", "t").Add(19, L"m.msk", "m").Add(21, L"b.abr", "b"));

    // A missing material folder is part of the host's layout: it is made.
    InstallCommand command(prompt_);
    EXPECT_EQ(command.InstallPackage(package.c_str()), InstallCommand::Outcome::Installed);
    EXPECT_EQ(ReadFile(host_ / "Templates" / "t.tpl"), "t");
    EXPECT_EQ(ReadFile(host_ / "Masks" / "m.msk"), "m");
    EXPECT_EQ(ReadFile(host_ / "Brushes" / "b.abr"), "b");
    EXPECT_EQ(Snapshot().size(), 3u);
    EXPECT_EQ(Flag(), 1);
    ASSERT_EQ(prompt_.shown.size(), 1u);  // the description only

    // A host folder with none of them gets all six.
    for (const wchar_t* folder : kFolders) stdfs::remove_all(host_ / folder);
    EXPECT_EQ(command.InstallPackage(package.c_str()), InstallCommand::Outcome::Installed);
    for (const wchar_t* folder : kFolders) EXPECT_TRUE(stdfs::is_directory(host_ / folder));
    EXPECT_EQ(Snapshot().size(), 3u);
}

TEST_F(InstallCommandTest, MembersThatCannotBeInstalledAreListedInOneBox) {
    SetAppPath(TempDir::WideOf(host_));
    WriteFile(host_ / "Borders" / "blocked", "a file where a folder is needed");
    const std::string corrupt = PackageBytes::Record(17, PackageBytes::NameField(L"broken.jpg"),
                                                     PackageBytes::U32(100) + std::string(20, 'x'));
    const std::wstring package = MakePackage(PackageBytes(L"Mixed")
                                                 .Add(16, L"aux.png", "device")
                                                 .Add(16, L"t.tpl", "t")
                                                 .Append(corrupt)
                                                 .Add(17, L"bg.jpg", "bg")
                                                 .Add(18, L"blocked\\x.brd", "x")
                                                 .Add(18, L"after.brd", "not reached")
                                                 .Add(21, L"b.abr", "b"));
    InstallCommand command(prompt_);
    EXPECT_EQ(command.InstallPackage(package.c_str()), InstallCommand::Outcome::Incomplete);
    EXPECT_EQ(ReadFile(host_ / "Templates" / "t.tpl"), "t");
    EXPECT_EQ(ReadFile(host_ / "Backgrounds" / "bg.jpg"), "bg");
    EXPECT_EQ(ReadFile(host_ / "Brushes" / "b.abr"), "b");
    EXPECT_EQ(Flag(), 1);  // something was installed

    ASSERT_EQ(prompt_.shown.size(), 2u);  // the description, then one box for the problems
    const Shown& box = prompt_.shown[1];
    EXPECT_TRUE(box.style & MB_ICONWARNING);
    for (const wchar_t* expected : {L"Templates: skipped member \"aux.png\": name has a level "
                                    L"that is a device name",
                                    L"Backgrounds: skipped member \"broken.jpg\"",
                                    L"Borders: skipped member \"blocked\\x.brd\": destination "
                                    L"file cannot be written",
                                    L"Borders: installation stopped there"}) {
        EXPECT_NE(box.text.find(expected), std::wstring::npos) << expected;
    }
    EXPECT_EQ(box.text.find(L"t.tpl"), std::wstring::npos);  // installed members are not listed

    // Kept members are not problems: again, only the same problems are listed.
    prompt_.shown.clear();
    EXPECT_EQ(command.InstallPackage(package.c_str()), InstallCommand::Outcome::Incomplete);
    ASSERT_EQ(prompt_.shown.size(), 2u);
    EXPECT_EQ(prompt_.shown[1].text, box.text);

    // Nothing installable at all: told, and no flag.
    ASSERT_EQ(::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Velnor"), ERROR_SUCCESS);
    const std::wstring refused = MakePackage(PackageBytes().Add(16, L"con\\x.tpl", "x"));
    prompt_.shown.clear();
    EXPECT_EQ(command.InstallPackage(refused.c_str()), InstallCommand::Outcome::Incomplete);
    ASSERT_EQ(prompt_.shown.size(), 2u);
    EXPECT_NE(prompt_.shown[1].text.find(L"con\\x.tpl"), std::wstring::npos);
    EXPECT_EQ(Flag(), -1);
}

TEST_F(InstallCommandTest, NothingHappensWithoutAHostFolderOrAPackage) {
    const std::wstring package = MakePackage(PackageBytes().Add(16, L"t.tpl", "t"));
    InstallCommand command(prompt_);

    // No "AppPath" at all, then an empty one.
    EXPECT_EQ(command.InstallPackage(package.c_str()), InstallCommand::Outcome::HostFolderUnknown);
    SetAppPath(L"");
    EXPECT_EQ(command.InstallPackage(package.c_str()), InstallCommand::Outcome::HostFolderUnknown);
    ASSERT_EQ(prompt_.shown.size(), 2u);
    EXPECT_NE(prompt_.shown[0].text.find(L"AppPath"), std::wstring::npos);
    EXPECT_TRUE(prompt_.shown[0].style & MB_ICONERROR);
    // "AppPath" naming no folder (gone, or a file): the same, and nothing is made there.
    const stdfs::path gone = temp_ / "Gone";
    WriteFile(temp_ / "file", "not a folder");
    for (const stdfs::path& notFolder : {gone, temp_ / "file"}) {
        SetAppPath(TempDir::WideOf(notFolder));
        const size_t before = prompt_.shown.size();
        EXPECT_EQ(command.InstallPackage(package.c_str()),
                  InstallCommand::Outcome::HostFolderUnknown);
        ASSERT_EQ(prompt_.shown.size(), before + 1);
        EXPECT_NE(prompt_.shown.back().text.find(TempDir::WideOf(notFolder)), std::wstring::npos);
        EXPECT_TRUE(prompt_.shown.back().style & MB_ICONERROR);
    }
    EXPECT_FALSE(stdfs::exists(gone));

    SetAppPath(TempDir::WideOf(host_));
    const std::wstring notPackage = TempDir::WideOf(temp_ / "photo.jpg");
    WriteFile(temp_ / "photo.jpg", "\xFF\xD8 not a package");
    EXPECT_EQ(command.InstallPackage(notPackage.c_str()), InstallCommand::Outcome::NotAPackage);
    EXPECT_EQ(command.InstallPackage(L""), InstallCommand::Outcome::NotAPackage);
    ASSERT_EQ(prompt_.shown.size(), 6u);
    EXPECT_NE(prompt_.shown[4].text.find(notPackage), std::wstring::npos);

    EXPECT_TRUE(Snapshot().empty());
    EXPECT_EQ(Flag(), -1);
}

class InstallProgramTest : public InstallCommandTest {
protected:
    void SetUp() override {
        InstallCommandTest::SetUp();
        wchar_t self[MAX_PATH];
        ::GetModuleFileNameW(nullptr, self, MAX_PATH);
        const stdfs::path sleeper = stdfs::path(self).parent_path() / "install_sleeper.exe";
        program_ = temp_ / "setup.exe";
        stdfs::copy_file(sleeper, program_);
        release_.Reset(::CreateEventW(nullptr, TRUE, FALSE, L"GlimmerlyTestSleeperRelease"));
    }

    int Starts() const {
        const std::string log = ReadFile(temp_ / "starts.txt");
        return static_cast<int>(std::count(log.begin(), log.end(), '\n'));
    }

    // Waits until the program has written its `count`th start line, failing after 20 s.
    void AwaitStarts(int count) const {
        for (int i = 0; i < 800 && Starts() < count; ++i) ::Sleep(25);
        ASSERT_GE(Starts(), count) << "the install program did not record its start";
    }

    stdfs::path program_;
    win::UniqueHandle release_;
};

TEST_F(InstallProgramTest, ProgramModeStartsTheProgramOnceWhileItRunsAndClosesTheDialog) {
    SetAppPath(TempDir::WideOf(host_));
    InstallCommand command(prompt_);
    const std::wstring program = TempDir::WideOf(program_);
    EXPECT_TRUE(command.Run(program.c_str(), L"ignored.qrt"));
    const HANDLE first = command.LastProgram();
    ASSERT_NE(first, nullptr);
    const DWORD firstId = ::GetProcessId(first);
    AwaitStarts(1);

    // Still running (it waits for the release event): a second Install starts nothing.
    EXPECT_TRUE(command.Run(program.c_str(), L"ignored.qrt"));
    EXPECT_EQ(::GetProcessId(command.LastProgram()), firstId);
    EXPECT_EQ(::WaitForSingleObject(command.LastProgram(), 0), static_cast<DWORD>(WAIT_TIMEOUT));

    // Once it has ended, the next Install starts it again.
    ::SetEvent(release_.Get());
    ASSERT_EQ(::WaitForSingleObject(command.LastProgram(), 20000), WAIT_OBJECT_0);
    ::ResetEvent(release_.Get());
    EXPECT_TRUE(command.Run(program.c_str(), nullptr));
    AwaitStarts(2);
    EXPECT_EQ(Starts(), 2);
    ::SetEvent(release_.Get());
    EXPECT_EQ(::WaitForSingleObject(command.LastProgram(), 20000), WAIT_OBJECT_0);

    EXPECT_TRUE(prompt_.shown.empty());
    EXPECT_EQ(Flag(), -1);  // program mode touches no registry value
}

TEST_F(InstallProgramTest, ProgramThatCannotStartShowsTheErrorBoxAndStillCloses) {
    InstallCommand command(prompt_);
    EXPECT_TRUE(command.Run(TempDir::WideOf(temp_ / "missing.exe").c_str(), nullptr));
    ASSERT_EQ(prompt_.shown.size(), 1u);
    EXPECT_EQ(prompt_.shown[0].text, L"Error");
    EXPECT_EQ(prompt_.shown[0].title, L"Cannot start application ! ! !");
    EXPECT_EQ(prompt_.shown[0].style, static_cast<UINT>(MB_ICONERROR));
}

}  // namespace
