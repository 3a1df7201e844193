#include "Qrt.h"

#include "package/PackageContents.h"
#include "support/PackageBytes.h"
#include "support/TempDir.h"
#include "support/ToolRun.h"

#include "glimmerly/Version.h"

#ifdef _WIN32
#include "base/Handles.h"
#include "support/RegistrySandbox.h"
#endif

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

namespace {

namespace stdfs = std::filesystem;
using testing_support::CopyWriteTime;
using testing_support::PackageBytes;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

using QrtRun = testing_support::ToolRun;

QrtRun Qrt(const std::vector<std::wstring>& args) {
    return testing_support::RunTool(RunQrt, args);
}

class QrtTest : public ::testing::Test {
protected:
    std::wstring Write(const std::string& name, const std::string& bytes) {
        WriteFile(temp_ / name, bytes);
        return TempDir::WideOf(temp_ / name);
    }
    std::wstring W(const stdfs::path& name) const { return TempDir::WideOf(temp_.Path() / name); }

    TempDir temp_;
};

TEST_F(QrtTest, ListPrintsTheDescriptionThenEveryRecordInFileOrder) {
    const std::wstring pkg = Write("a.qrt", PackageBytes(L"Caf\u00e9 frames")
                                                .Add(22, L"sample.jpg", "jpeg bytes")
                                                .Add(16, L"Sub\\frame.tpl", "12345")
                                                .Add(99, L"odd kind", "")
                                                .Bytes());
    const QrtRun run = Qrt({L"list", pkg});
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(run.out,
              "description: Caf\xC3\xA9 frames\n"
              "22\t10\tsample.jpg\n"
              "16\t5\tSub\\frame.tpl\n"
              "99\t0\todd kind\n");
    EXPECT_EQ(run.err, "");

    // A last record cut short: what can be read is listed, the cut is said, exit 4.
    const std::wstring cut = Write(
        "cut.qrt",
        PackageBytes(L"Cut").Add(16, L"whole.tpl", "whole").Add(17, L"half.jpg", "half").Bytes());
    WriteFile(temp_ / "cut.qrt",
              ReadFile(temp_ / "cut.qrt").substr(0, stdfs::file_size(temp_ / "cut.qrt") - 3));
    const QrtRun cutRun = Qrt({L"list", cut});
    EXPECT_EQ(cutRun.code, 4);
    EXPECT_EQ(cutRun.out, "description: Cut\n16\t5\twhole.tpl\n17\t4\thalf.jpg\n");
    EXPECT_NE(cutRun.err.find("cut short"), std::string::npos) << cutRun.err;

    EXPECT_EQ(Qrt({L"list", W("missing.qrt")}).code, 1);
    const QrtRun notPackage = Qrt({L"list", Write("text.qrt", "hello world")});
    EXPECT_EQ(notPackage.code, 1);
    EXPECT_NE(notPackage.err.find("not a template package"), std::string::npos);
}

TEST_F(QrtTest, ListKeepsOneLinePerRecordWhatever_TheNamesHold) {
    const std::wstring pkg = Write("a.qrt", PackageBytes().Add(16, L"line\nbreak", "x").Bytes());
    const QrtRun run = Qrt({L"list", pkg});
    EXPECT_EQ(run.out, "description: Test package\n16\t1\tline?break\n");
}

TEST_F(QrtTest, VerifyReportsEachProblemAndExitsFour) {
    const std::wstring sound = Write(
        "sound.qrt", PackageBytes().Add(16, L"a.tpl", "a").Add(22, L"sample.jpg", "s").Bytes());
    const QrtRun ok = Qrt({L"verify", sound});
    EXPECT_EQ(ok.code, 0);
    EXPECT_EQ(ok.out, "");

    const std::string mismatch =
        PackageBytes::Record(16, PackageBytes::NameField(L"short.tpl"),
                             PackageBytes::U32(50) + PackageBytes::Deflate("ten bytes!"));
    const std::wstring broken =
        Write("broken.qrt", PackageBytes()
                                .Add(16, L"..\\up.tpl", "x")
                                .Append(mismatch)
                                .Add(17, L"fine.jpg", "fine")
                                .Add(17, L"aux.png", "device")
                                .Add(17, L"what?.jpg", "reserved")
                                .Add(17, L"Set\\Fine.JPG", "not the same")
                                .Add(17, L"FINE.jpg", "same file as fine.jpg")
                                .Add(16, L"fine.jpg", "another kind")
                                .Append(PackageBytes::RecordWith(18, 4, 1000, "ab\0\0", "cut"))
                                .Bytes());
    const QrtRun bad = Qrt({L"verify", broken});
    EXPECT_EQ(bad.code, 4);
    const std::string& out = bad.out;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 6) << out;
    EXPECT_NE(out.find("up.tpl"), std::string::npos);
    EXPECT_NE(out.find("inflates to 10 bytes, 50 stated"), std::string::npos);
    EXPECT_NE(out.find("\"aux.png\" at offset"), std::string::npos) << out;
    EXPECT_NE(out.find("device name"), std::string::npos);
    EXPECT_NE(out.find("what?.jpg"), std::string::npos);
    EXPECT_NE(out.find("record 7 (kind 17, \"FINE.jpg\" at offset"), std::string::npos) << out;
    EXPECT_NE(out.find("same file as record 3"), std::string::npos);
    EXPECT_NE(out.find("past the end"), std::string::npos);
    EXPECT_EQ(Qrt({L"verify", W("missing.qrt")}).code, 1);
}

TEST_F(QrtTest, ExtractExitCodesFollowTheReader) {
    const std::string corrupt = PackageBytes::Record(18, PackageBytes::NameField(L"bad.brd"),
                                                     PackageBytes::U32(100) + std::string(20, 'x'));
    const std::wstring pkg = Write("a.qrt", PackageBytes()
                                                .Add(16, L"a.tpl", "a")
                                                .Add(16, L"..\\b.tpl", "b")
                                                .Add(17, L"aux.jpg", "device")
                                                .Add(17, L"c.jpg", "c")
                                                .Append(corrupt)
                                                .Add(18, L"d.brd", "d")
                                                .Add(19, L"e.msk", "e")
                                                .Bytes());
    stdfs::create_directory(temp_ / "out");
    // A refused, a device-named or a corrupt member: the others are written, exit 3.
    for (const auto& [kind, written] :
         {std::pair{L"16", "a.tpl"}, {L"17", "c.jpg"}, {L"18", "d.brd"}}) {
        const QrtRun run = Qrt({L"extract", pkg, kind, W("out")});
        EXPECT_EQ(run.code, 3) << run.err;
        EXPECT_NE(run.err.find("skipped member"), std::string::npos);
        EXPECT_TRUE(stdfs::exists(temp_ / "out" / written));
    }
    EXPECT_EQ(ReadFile(temp_ / "out" / "c.jpg"), "c");
    EXPECT_FALSE(stdfs::exists(temp_ / "out" / "bad.brd"));

    // Everything written: exit 0, a quiet stderr and one summary line. Kept because the file
    // in place is not older: still exit 0, and the summary says so. Kinds go by name too.
    const QrtRun first = Qrt({L"extract", pkg, L"19", W("out")});
    EXPECT_EQ(first.code, 0);
    EXPECT_EQ(first.err, "");
    const std::string summary = "extracted kind 19 (Masks) into " + text::ToUtf8(W("out")) + ": ";
    EXPECT_EQ(first.out,
              summary + "1 written, 0 already in place, 0 kept because newer, 0 skipped\n");
    const QrtRun again = Qrt({L"extract", pkg, L"masks", W("out")});
    EXPECT_EQ(again.code, 0);
    EXPECT_EQ(again.err, "");
    EXPECT_EQ(again.out,
              summary + "0 written, 1 already in place, 0 kept because newer, 0 skipped\n");
    EXPECT_EQ(Qrt({L"extract", L"-q", pkg, L"Masks", W("out")}).out, "");
    const QrtRun none = Qrt({L"extract", pkg, L"23", W("out")});
    EXPECT_EQ(none.code, 0);
    EXPECT_EQ(none.err, "qrt: the package has no member of kind 23\n");

    const QrtRun noFolder = Qrt({L"extract", pkg, L"16", W("no-such-folder")});
    EXPECT_EQ(noFolder.code, 3);
    EXPECT_EQ(noFolder.err, "qrt: cannot extract into " + text::ToUtf8(W("no-such-folder")) +
                                ": no such folder; make it first\n");
    // A member that cannot be written is named, with the reason; the scan stops there.
    const std::wstring nested =
        Write("nested.qrt",
              PackageBytes().Add(16, L"Sub\\a.tpl", "a").Add(16, L"later.tpl", "later").Bytes());
    WriteFile(temp_ / "blocked" / "Sub", "a file where a folder is needed");
    const QrtRun blocked = Qrt({L"extract", nested, L"16", W("blocked")});
    EXPECT_EQ(blocked.code, 3);
    EXPECT_EQ(blocked.err.rfind("qrt: skipped member \"Sub\\a.tpl\": destination file cannot be "
                                "written: ",
                                0),
              0u)
        << blocked.err;
    EXPECT_NE(blocked.err.find("extraction stopped at the member that could not be written"),
              std::string::npos);
    EXPECT_FALSE(stdfs::exists(temp_ / "blocked" / "later.tpl"));

    const QrtRun missing = Qrt({L"extract", W("missing.qrt"), L"16", W("out")});
    EXPECT_EQ(missing.code, 1);
    EXPECT_EQ(missing.err,
              "qrt: " + text::ToUtf8(W("missing.qrt")) + ": no such file; nothing was extracted\n");
    EXPECT_EQ(Qrt({L"extract", pkg, L"sixteen", W("out")}).code, 2);
}

TEST_F(QrtTest, UsageErrorsExitTwoAndShowTheCommandsOwnUsage) {
    EXPECT_EQ(Qrt({}).code, 2);
    const QrtRun unknown = Qrt({L"frobnicate", L"x"});
    EXPECT_EQ(unknown.code, 2);
    EXPECT_EQ(unknown.err.rfind("qrt: there is no command \"frobnicate\"\nusage: qrt COMMAND", 0),
              0u);
    const QrtRun pack = Qrt({L"pack", W("src")});
    EXPECT_EQ(pack.code, 2);
    EXPECT_EQ(pack.err,
              "qrt: pack takes 2 operands, 1 given\n"
              "usage: qrt pack [-q] SRCDIR OUT.qrt\n"
              "(qrt --help describes every command)\n");
    EXPECT_EQ(Qrt({L"list", L"--host", W("."), W("a.qrt")}).err.substr(0, 61),
              "qrt: --host goes with status, uninstall and install --dry-run");
    const QrtRun help = Qrt({L"--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_NE(help.out.find("qrt pack SRCDIR OUT.qrt"), std::string::npos);
    const QrtRun version = Qrt({L"--version"});
    EXPECT_EQ(version.code, 0);
    EXPECT_EQ(version.out, std::string("qrt ") + GLIMMERLY_VERSION + "\n");
}

class QrtPackTest : public QrtTest {
protected:
    void SetUp() override {
        WriteFile(temp_ / "src" / "description.txt", "\xEF\xBB\xBFSpring wedding\r\n");
        WriteFile(temp_ / "src" / "sample.jpg", "sample");
        WriteFile(temp_ / "src" / "Templates" / "b.tpl", "template b");
        WriteFile(temp_ / "src" / "Templates" / "Sub" / "a.tpl", "template a");
        WriteFile(temp_ / "src" / "Brushes" / "round.abr", std::string(3000, 'r'));
        WriteFile(temp_ / "src" / "Masks" / ".hidden", "left out");
        WriteFile(temp_ / "src" / "notes.txt", "not part of a package");
    }
};

TEST_F(QrtPackTest, PackMakesAPackageTheReaderAcceptsAndIsDeterministic) {
    const QrtRun run = Qrt({L"pack", W("src"), W("one.qrt")});
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(run.out, "packed " + text::ToUtf8(W("one.qrt")) + " (" +
                           std::to_string(stdfs::file_size(temp_ / "one.qrt")) +
                           " bytes): Templates 2, Brushes 1, and the sample\n");
    // Said, not silently dropped, with the names a package holds; hidden files go silently.
    EXPECT_EQ(run.err, "qrt: ignored " + text::ToUtf8(W(stdfs::path("src") / "notes.txt")) +
                           ": not part of a package, which holds description.txt, sample.jpg and "
                           "the folders Templates/ Backgrounds/ Borders/ Masks/ Textures/ "
                           "Brushes/\n");

    EXPECT_EQ(Qrt({L"list", W("one.qrt")}).out,
              "description: Spring wedding\n"
              "22\t6\tsample.jpg\n"
              "16\t10\tSub\\a.tpl\n"
              "16\t10\tb.tpl\n"
              "21\t3000\tround.abr\n");
    EXPECT_EQ(Qrt({L"verify", W("one.qrt")}).code, 0);

    const QrtRun again = Qrt({L"pack", L"-q", W("src"), W("one.qrt")});
    ASSERT_EQ(again.code, 0);
    EXPECT_EQ(again.out, "");
    EXPECT_NE(again.err.find("qrt: warning: replaced the existing " + text::ToUtf8(W("one.qrt"))),
              std::string::npos);
    ASSERT_EQ(Qrt({L"pack", W("src"), W("two.qrt")}).code, 0);
    EXPECT_EQ(ReadFile(temp_ / "one.qrt"), ReadFile(temp_ / "two.qrt"));

    stdfs::create_directory(temp_ / "out");
    ASSERT_EQ(Qrt({L"extract", W("one.qrt"), L"16", W("out")}).code, 0);
    EXPECT_EQ(ReadFile(temp_ / "out" / "Sub" / "a.tpl"), "template a");
}

// Names in another letter case are what they look like; what is missing or misnamed is said.
TEST_F(QrtPackTest, PackTakesNamesInAnyCaseAndSaysWhatItTookIgnoredOrMissed) {
    // Made afresh: a case-only rename is no change on Windows.
    const stdfs::path src = temp_ / "cased";
    WriteFile(src / "description.txt", "Spring wedding");
    WriteFile(src / "Sample.JPG", "sample");
    WriteFile(src / "templates" / "b.tpl", "template b");
    WriteFile(src / "templates" / "Sub" / "a.tpl", "template a");
    WriteFile(src / "Brush" / "round.abr", "not packed");
    WriteFile(src / ".DS_Store", "hidden");
    const QrtRun run = Qrt({L"pack", W("cased"), W("one.qrt")});
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(run.err, "qrt: ignored " + text::ToUtf8(W(stdfs::path("cased") / "Brush")) +
                           ": did you mean Brushes/?\n"
                           "qrt: took Sample.JPG as sample.jpg\n"
                           "qrt: took templates/ as Templates/\n");
    EXPECT_EQ(Qrt({L"list", W("one.qrt")}).out,
              "description: Spring wedding\n"
              "22\t6\tsample.jpg\n"
              "16\t10\tSub\\a.tpl\n"
              "16\t10\tb.tpl\n");

    // No material and no sample: packed all the same, with a warning for each.
    stdfs::remove_all(src / "templates");
    stdfs::remove(src / "Sample.JPG");
    const QrtRun bare = Qrt({L"pack", W("cased"), W("bare.qrt")});
    ASSERT_EQ(bare.code, 0) << bare.err;
    EXPECT_NE(bare.err.find("qrt: warning: no material"), std::string::npos) << bare.err;
    EXPECT_NE(bare.err.find("qrt: warning: no sample.jpg"), std::string::npos) << bare.err;
    EXPECT_NE(bare.out.find("bytes): no material, and no sample\n"), std::string::npos);
}

TEST_F(QrtPackTest, PackRefusesWhatTheFormatCannotHold) {
    WriteFile(temp_ / "src" / "Templates" / (std::string(127, 'n')), "too long a name");
    QrtRun run = Qrt({L"pack", W("src"), W("out.qrt")});
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find("127 UTF-16 units; a package holds at most 126"), std::string::npos);
    EXPECT_FALSE(stdfs::exists(temp_ / "out.qrt"));
    stdfs::remove(temp_ / "src" / "Templates" / (std::string(127, 'n')));

    // The description's limit counts UTF-16 units: 63 emoji fit, 64 do not.
    const std::string emoji = "\xF0\x9F\x8C\xB8";
    std::string fits;
    for (int i = 0; i < 63; ++i) fits += emoji;
    WriteFile(temp_ / "src" / "description.txt", fits + "\r\n");
    EXPECT_EQ(Qrt({L"pack", W("src"), W("out.qrt")}).code, 0);
    WriteFile(temp_ / "src" / "description.txt", fits + emoji);
    run = Qrt({L"pack", W("src"), W("out.qrt")});
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find("has 128 UTF-16 units; a package holds at most 126"), std::string::npos)
        << run.err;
    WriteFile(temp_ / "src" / "description.txt", "Caf\xC3\xA9\tframes\nsecond line\n");
    run = Qrt({L"pack", W("src"), W("out.qrt")});
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find("description.txt: a tab at character 5; the description is one line"),
              std::string::npos)
        << run.err;

    stdfs::remove(temp_ / "src" / "description.txt");
    stdfs::remove(temp_ / "out.qrt");
    EXPECT_EQ(Qrt({L"pack", W("src"), W("out.qrt")}).code, 1);
    EXPECT_FALSE(stdfs::exists(temp_ / "out.qrt"));
    WriteFile(temp_ / "src" / "description.txt", "Fine");

    // The folder and the package path: missing, unwritable, or the package inside the folder.
    run = Qrt({L"pack", W("nowhere"), W("out.qrt")});
    EXPECT_EQ(run.err,
              "qrt: " + text::ToUtf8(W("nowhere")) + ": no such folder; no package was written\n");
    run = Qrt({L"pack", W("src"), W(stdfs::path("nowhere") / "out.qrt")});
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find("cannot write " + text::ToUtf8(W(stdfs::path("nowhere") / "out.qrt")) +
                           ": the folder "),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find(" does not exist; no package was written\n"), std::string::npos);
    run = Qrt({L"pack", W("src"), W(stdfs::path("src") / "Templates" / "self.qrt")});
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find("the folder being packed"), std::string::npos) << run.err;
    EXPECT_FALSE(stdfs::exists(temp_ / "src" / "Templates" / "self.qrt"));
}

#ifndef _WIN32
// Names that only a POSIX folder can hold: Windows would refuse to create them.
TEST_F(QrtPackTest, PackRefusesNamesWindowsCannotHoldOrWouldTakeForOneFile) {
    for (const char* name : {"aux.png", "Other/CON.tpl", "what?.tpl", "pipe|.tpl", "dot./x.tpl",
                             "space /x.tpl", "lpt3"}) {
        WriteFile(temp_ / "src" / "Templates" / name, "refused");
        const QrtRun run = Qrt({L"pack", W("src"), W("out.qrt")});
        EXPECT_EQ(run.code, 1) << name;
        const std::string base = stdfs::path(name).filename().string();
        EXPECT_NE(run.err.find(base), std::string::npos) << run.err;
        EXPECT_FALSE(stdfs::exists(temp_ / "out.qrt"));
        stdfs::remove_all(temp_ / "src" / "Templates" / stdfs::path(name).begin()->string());
    }
    // Two names of one kind that are one file on Windows.
    WriteFile(temp_ / "src" / "Templates" / "B.TPL", "case twin");
    const QrtRun twins = Qrt({L"pack", W("src"), W("out.qrt")});
    EXPECT_EQ(twins.code, 1);
    EXPECT_NE(twins.err.find("B.TPL"), std::string::npos) << twins.err;
    EXPECT_NE(twins.err.find("b.tpl"), std::string::npos) << twins.err;
    EXPECT_FALSE(stdfs::exists(temp_ / "out.qrt"));
    stdfs::remove(temp_ / "src" / "Templates" / "B.TPL");
    // The same name in two kinds is two files.
    WriteFile(temp_ / "src" / "Brushes" / "b.tpl", "a brush");
    EXPECT_EQ(Qrt({L"pack", W("src"), W("out.qrt")}).code, 0);
}

TEST_F(QrtPackTest, PackStoresALinkUnderItsOwnNameAndRefusesOneLeavingTheFolder) {
    stdfs::create_symlink("b.tpl", temp_ / "src" / "Templates" / "alias.tpl");
    stdfs::create_directory_symlink("Sub", temp_ / "src" / "Templates" / "SubLink");
    ASSERT_EQ(Qrt({L"pack", W("src"), W("one.qrt")}).code, 0);
    EXPECT_EQ(Qrt({L"list", W("one.qrt")}).out,
              "description: Spring wedding\n"
              "22\t6\tsample.jpg\n"
              "16\t10\tSub\\a.tpl\n"
              "16\t10\talias.tpl\n"
              "16\t10\tb.tpl\n"
              "21\t3000\tround.abr\n");
    stdfs::create_directory(temp_ / "out");
    ASSERT_EQ(Qrt({L"extract", W("one.qrt"), L"16", W("out")}).code, 0);
    EXPECT_EQ(ReadFile(temp_ / "out" / "alias.tpl"), "template b");

    // A link out of the material folder: refused, and the message names the link.
    WriteFile(temp_ / "secret.txt", "not material");
    stdfs::create_symlink("../../secret.txt", temp_ / "src" / "Templates" / "leak.tpl");
    const QrtRun run = Qrt({L"pack", W("src"), W("two.qrt")});
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find("leak.tpl"), std::string::npos) << run.err;
    EXPECT_FALSE(stdfs::exists(temp_ / "two.qrt"));
}
#endif

// A package against a host folder named with --host (the registry is Windows' own, below).
class QrtHostTest : public QrtTest {
protected:
    void SetUp() override {
        for (const auto& folder : package::kMaterialFolders)
            stdfs::create_directories(host_ / folder.name);
    }
    std::wstring Host() const { return TempDir::WideOf(host_); }

    // Every file (with its content) and folder below the host folder.
    std::map<std::string, std::string> Snapshot() const {
        std::map<std::string, std::string> entries;
        for (const auto& entry : stdfs::recursive_directory_iterator(host_)) {
            const std::string name = stdfs::relative(entry.path(), host_).generic_string();
            entries[name] = entry.is_directory() ? "<folder>" : ReadFile(entry.path());
        }
        return entries;
    }

    stdfs::path host_ = temp_ / "Host";
};

TEST_F(QrtHostTest, StatusAndUninstallCompareContentAndKeepWhatDiffers) {
    // Larger than the comparison's pieces, so the content is compared across several of them.
    std::string big(300000, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 7919) >> 5);
    const std::wstring pkg = Write("a.qrt", PackageBytes()
                                                .Add(16, L"Set\\Deep\\frame.tpl", "frame")
                                                .Add(16, L"same-size.tpl", "original")
                                                .Add(17, L"big.jpg", big)
                                                .Add(18, L"..\\up.brd", "refused")
                                                .Bytes());
    // What an install writes: each kind extracted into its folder.
    for (const auto& [kind, folder] : {std::pair{L"16", "Templates"}, {L"17", "Backgrounds"}})
        ASSERT_EQ(Qrt({L"extract", pkg, kind, TempDir::WideOf(host_ / folder)}).code, 0);

    const QrtRun installed = Qrt({L"status", pkg, L"--host", Host()});
    EXPECT_EQ(
        installed.out,
        "installed\tTemplates\\Set\\Deep\\frame.tpl\n"
        "installed\tTemplates\\same-size.tpl\n"
        "installed\tBackgrounds\\big.jpg\n"
        "refused\tBorders\\..\\up.brd\tname has an empty, '.', '..' or dot/space-ended level\n"
        "status: 3 of 4 members installed (1 refused) in " +
            text::ToUtf8(Host()) + "\n");
    EXPECT_EQ(installed.code, 5);

    // Same sizes, other bytes: an edit in the last piece of the big file, and a user's edit.
    big[big.size() - 1] ^= 1;
    WriteFile(host_ / "Backgrounds" / "big.jpg", big);
    WriteFile(host_ / "Templates" / "same-size.tpl", "ORIGINAL");
    CopyWriteTime(temp_ / "a.qrt", host_ / "Templates" / "same-size.tpl", std::chrono::hours(1));
    CopyWriteTime(temp_ / "a.qrt", host_ / "Backgrounds" / "big.jpg", -std::chrono::hours(1));
    stdfs::remove(host_ / "Templates" / "Set" / "Deep" / "frame.tpl");
    const QrtRun edited = Qrt({L"status", pkg, L"--host", Host()});
    EXPECT_EQ(edited.code, 5);
    EXPECT_NE(edited.out.find("missing\tTemplates\\Set\\Deep\\frame.tpl\n"
                              "differs\tTemplates\\same-size.tpl\tnewer than the package\n"
                              "differs\tBackgrounds\\big.jpg\tolder than the package\n"),
              std::string::npos)
        << edited.out;

    // Uninstall removes only identical files and the sub-folders it empties.
    ASSERT_EQ(Qrt({L"extract", pkg, L"16", TempDir::WideOf(host_ / "Templates")}).code, 0);
    WriteFile(host_ / "Templates" / "Set" / "mine.tpl", "a user's own");
    const QrtRun removed = Qrt({L"uninstall", pkg, L"--host", Host()});
    EXPECT_EQ(removed.code, 0) << removed.err;
    EXPECT_NE(removed.out.find("removed\tTemplates\\Set\\Deep\\frame.tpl\n"
                               "kept\tTemplates\\same-size.tpl\tdiffers from the package, newer "
                               "than the package\n"
                               "kept\tBackgrounds\\big.jpg\tdiffers from the package, older than "
                               "the package\n"),
              std::string::npos)
        << removed.out;
    EXPECT_NE(removed.out.find("removed\tTemplates\\Set\\Deep\\\n"), std::string::npos);
    EXPECT_EQ(Snapshot(), (std::map<std::string, std::string>{
                              {"Backgrounds", "<folder>"},
                              {"Backgrounds/big.jpg", big},
                              {"Borders", "<folder>"},
                              {"Brushes", "<folder>"},
                              {"Masks", "<folder>"},
                              {"Templates", "<folder>"},
                              {"Templates/Set", "<folder>"},  // not empty: the user's file
                              {"Templates/Set/mine.tpl", "a user's own"},
                              {"Templates/same-size.tpl", "ORIGINAL"},
                              {"Textures", "<folder>"},
                          }));

    // A read-only identical file is not removed: said on stderr, exit 3.
    ASSERT_EQ(Qrt({L"extract", pkg, L"16", TempDir::WideOf(host_ / "Templates")}).code, 0);
    const stdfs::path frame = host_ / "Templates" / "Set" / "Deep" / "frame.tpl";
    stdfs::permissions(
        frame, stdfs::perms::owner_write | stdfs::perms::group_write | stdfs::perms::others_write,
        stdfs::perm_options::remove);
    const QrtRun readOnly = Qrt({L"uninstall", pkg, L"--host", Host()});
    EXPECT_EQ(readOnly.code, 3);
    EXPECT_EQ(readOnly.err, "qrt: cannot remove Templates\\Set\\Deep\\frame.tpl: read-only\n");
    EXPECT_TRUE(stdfs::exists(frame));
    stdfs::permissions(frame, stdfs::perms::owner_write, stdfs::perm_options::add);

    EXPECT_EQ(Qrt({L"status", pkg, L"--host", TempDir::WideOf(temp_ / "nowhere")}).code, 1);
    EXPECT_EQ(Qrt({L"status", W("missing.qrt"), L"--host", Host()}).code, 1);
    EXPECT_EQ(Qrt({L"verify", pkg, L"--host", Host()}).code, 2);
}

#ifdef _WIN32
// The host folder registered as "AppPath" in a sandboxed registry, as an administrator has it.
class QrtRegisteredHostTest : public QrtHostTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(sandbox_.Ok());
        QrtHostTest::SetUp();
        ASSERT_TRUE(testing_support::SetHostAppPath(Host()));
    }

    // The refresh flag, or -1 when it is not set.
    static long Flag() { return testing_support::HostRefreshFlag(); }
    static void ClearFlag() { ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Velnor"); }

    testing_support::RegistrySandbox sandbox_;
};

TEST_F(QrtRegisteredHostTest, CheckedBeforeAndAfterAnInstallAndTakenBackExactly) {
    WriteFile(host_ / "Templates" / "user.tpl", "the user's own");
    WriteFile(host_ / "Backgrounds" / "Old" / "user.jpg", "kept folder");
    const auto before = Snapshot();
    const std::wstring pkg = Write("a.qrt", PackageBytes(L"Gold frames")
                                                .Add(16, L"Gold\\frame.tpl", "frame")
                                                .Add(16, L"Gold\\Deep\\inner.tpl", "inner")
                                                .Add(17, L"Old\\paper.jpg", "paper")
                                                .Add(21, L"round.abr", "brush")
                                                .Add(22, L"sample.jpg", "not installed")
                                                .Bytes());
    const QrtRun missing = Qrt({L"status", pkg});
    EXPECT_EQ(missing.code, 5);
    EXPECT_EQ(missing.out,
              "missing\tTemplates\\Gold\\frame.tpl\n"
              "missing\tTemplates\\Gold\\Deep\\inner.tpl\n"
              "missing\tBackgrounds\\Old\\paper.jpg\n"
              "missing\tBrushes\\round.abr\n"
              "status: 0 of 4 members installed (4 missing) in " +
                  text::ToUtf8(Host()) + "\n");

    const QrtRun dry = Qrt({L"install", L"--dry-run", pkg});
    EXPECT_EQ(dry.code, 0) << dry.err;
    EXPECT_EQ(dry.out.substr(0, dry.out.find("dry run:")),
              "write\tTemplates\\Gold\\frame.tpl\n"
              "write\tTemplates\\Gold\\Deep\\inner.tpl\n"
              "write\tBackgrounds\\Old\\paper.jpg\n"
              "write\tBrushes\\round.abr\n");
    EXPECT_EQ(Snapshot(), before);
    EXPECT_EQ(Flag(), -1);

    const QrtRun install = Qrt({L"install", pkg});
    ASSERT_EQ(install.code, 0);
    EXPECT_EQ(install.out,
              "Gold frames\ninstalled into " + text::ToUtf8(Host()) +
                  ": 4 written, 0 already in place, 0 kept because newer, 0 skipped\n");
    ClearFlag();
    const QrtRun after = Qrt({L"status", pkg});
    EXPECT_EQ(after.code, 0);
    EXPECT_NE(after.out.find("status: 4 of 4 members installed in "), std::string::npos);
    const QrtRun again = Qrt({L"install", L"--dry-run", pkg});
    EXPECT_EQ(std::count(again.out.begin(), again.out.end(), '\n'), 5);
    EXPECT_NE(again.out.find("skip\tBrushes\\round.abr\talready in place\n"), std::string::npos);

    // Taken back: exactly the folders as they were, the flag raised.
    const QrtRun removed = Qrt({L"uninstall", pkg});
    EXPECT_EQ(removed.code, 0) << removed.err;
    EXPECT_NE(removed.out.find("uninstall: 4 removed, 0 kept because they differ, 0 not there; 2 "
                               "folders removed from "),
              std::string::npos)
        << removed.out;
    EXPECT_EQ(Snapshot(), before);
    EXPECT_EQ(Flag(), 1);

    // Nothing left to remove: no flag.
    ClearFlag();
    EXPECT_EQ(Qrt({L"uninstall", pkg}).code, 0);
    EXPECT_EQ(Flag(), -1);
}

TEST_F(QrtRegisteredHostTest, UninstallingOneOfTwoPackagesKeepsTheOthersFileAndFilesInUse) {
    const std::wstring first =
        Write("first.qrt", PackageBytes().Add(16, L"frame.tpl", "first's").Bytes());
    const std::wstring second =
        Write("second.qrt",
              PackageBytes().Add(16, L"frame.tpl", "second's").Add(16, L"own.tpl", "own").Bytes());
    CopyWriteTime(temp_ / "first.qrt", temp_ / "second.qrt", std::chrono::hours(1));
    ASSERT_EQ(Qrt({L"install", first}).code, 0);
    ASSERT_EQ(Qrt({L"install", second}).code, 0);  // newer: replaces frame.tpl

    const QrtRun one = Qrt({L"uninstall", first});
    EXPECT_EQ(one.code, 0);
    EXPECT_EQ(one.out.substr(0, one.out.find("uninstall:")),
              "kept\tTemplates\\frame.tpl\tdiffers from the package, newer than the package\n");
    EXPECT_EQ(ReadFile(host_ / "Templates" / "frame.tpl"), "second's");
    EXPECT_EQ(Qrt({L"status", second}).code, 0);

    // A file another program holds open is not removed; it is named and the rest goes.
    win::UniqueHandle held(::CreateFileW(TempDir::WideOf(host_ / "Templates" / "own.tpl").c_str(),
                                         GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                         nullptr));
    ASSERT_TRUE(held);
    ClearFlag();
    const QrtRun inUse = Qrt({L"uninstall", second});
    EXPECT_EQ(inUse.code, 3);
    EXPECT_EQ(inUse.err, "qrt: cannot remove Templates\\own.tpl: in use by another program\n");
    EXPECT_FALSE(stdfs::exists(host_ / "Templates" / "frame.tpl"));
    EXPECT_EQ(Flag(), 1);
    held.Reset();
    EXPECT_EQ(Qrt({L"uninstall", second}).code, 0);
    EXPECT_FALSE(stdfs::exists(host_ / "Templates" / "own.tpl"));
}

TEST_F(QrtRegisteredHostTest, WithoutAPackageOrAHostTheMessageSaysWhyAndWhatToDo) {
    const QrtRun nosuch = Qrt({L"install", W("nosuch.qrt")});
    EXPECT_EQ(nosuch.code, 1);
    EXPECT_EQ(nosuch.err,
              "qrt: " + text::ToUtf8(W("nosuch.qrt")) + ": no such file; nothing was installed\n");
    const QrtRun folder = Qrt({L"install", Host()});
    EXPECT_EQ(folder.err,
              "qrt: " + text::ToUtf8(Host()) + ": a folder, not a file; nothing was installed\n");

    ASSERT_EQ(::RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Brannic"), ERROR_SUCCESS);
    const std::wstring pkg = Write("a.qrt", PackageBytes().Add(16, L"a.tpl", "a").Bytes());
    const std::string notSet =
        "qrt: no host folder: the registry value "
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\Brannic\\Lumora\\Orvane\\AppPath is not set";
    const std::string registerIt =
        "register the host's folder with: reg add \"HKLM\\SOFTWARE\\Brannic\\Lumora\\Orvane\" /v "
        "AppPath /t REG_SZ /d \"FOLDER\" /f\n";
    const QrtRun install = Qrt({L"install", pkg});
    EXPECT_EQ(install.code, 1);
    EXPECT_EQ(install.err, notSet + "; nothing was installed\nqrt: " + registerIt);
    const QrtRun status = Qrt({L"status", pkg});
    EXPECT_EQ(status.code, 1);
    EXPECT_EQ(status.err, notSet + "; give --host FOLDER, or " + registerIt);
    EXPECT_TRUE(Snapshot().size() == 6u);
}

// The dry run foretells the install: what it would write is installed afterwards, what it
// refuses or does not reach is not, and its exit code is the install's.
TEST_F(QrtRegisteredHostTest, DryRunForetellsWhatTheInstallDoes) {
    WriteFile(host_ / "Borders" / "blocked", "a file where a folder is needed");
    WriteFile(host_ / "Masks" / "newer.msk", "the user's newer mask");
    const std::string corrupt = PackageBytes::Record(17, PackageBytes::NameField(L"broken.jpg"),
                                                     PackageBytes::U32(100) + std::string(20, 'x'));
    const std::wstring pkg = Write("mixed.qrt", PackageBytes()
                                                    .Add(16, L"aux.png", "device")
                                                    .Add(16, L"t.tpl", "t")
                                                    .Append(corrupt)
                                                    .Add(17, L"bg.jpg", "bg")
                                                    .Add(18, L"blocked\\x.brd", "x")
                                                    .Add(18, L"after.brd", "not reached")
                                                    .Add(19, L"newer.msk", "the package's")
                                                    .Bytes());
    CopyWriteTime(temp_ / "mixed.qrt", host_ / "Masks" / "newer.msk", std::chrono::hours(1));
    const auto before = Snapshot();
    const QrtRun dry = Qrt({L"install", L"--dry-run", pkg});
    EXPECT_EQ(dry.code, 3);
    EXPECT_EQ(
        dry.out.substr(0, dry.out.find("dry run:")),
        "refuse\tTemplates\\aux.png\tname has a level that is a device name (CON, PRN, AUX, "
        "NUL, COM1-9, LPT1-9)\n"
        "write\tTemplates\\t.tpl\n"
        "refuse\tBackgrounds\\broken.jpg\tdata does not inflate completely\n"
        "write\tBackgrounds\\bg.jpg\n"
        "refuse\tBorders\\blocked\\x.brd\tcannot be written: Borders\\blocked is a file, not a "
        "folder\n"
        "not-reached\tBorders\\after.brd\tnot reached: install stops this kind at the member "
        "that cannot be written\n"
        "skip\tMasks\\newer.msk\tkept: the file in place is newer than the package\n");
    EXPECT_EQ(Snapshot(), before);

    EXPECT_EQ(Qrt({L"install", pkg}).code, 3);
    const QrtRun status = Qrt({L"status", pkg});
    EXPECT_NE(status.out.find("installed\tTemplates\\t.tpl\n"), std::string::npos);
    EXPECT_NE(status.out.find("installed\tBackgrounds\\bg.jpg\n"), std::string::npos);
    EXPECT_NE(status.out.find("missing\tBorders\\blocked\\x.brd\n"), std::string::npos);
    EXPECT_NE(status.out.find("missing\tBorders\\after.brd\n"), std::string::npos);
    EXPECT_NE(status.out.find("differs\tMasks\\newer.msk\tnewer than the package\n"),
              std::string::npos);
}
#endif

TEST(PackageListing, RecordsCutByTheEndOfTheFileEndTheListing) {
    TempDir temp;
    WriteFile(temp / "p.qrt", PackageBytes()
                                  .Add(16, L"a.tpl", "a")
                                  .Append(PackageBytes::RecordWith(16, 20, 5, "ab", ""))
                                  .Bytes());
    package::Listing listing;
    std::string error;
    ASSERT_TRUE(package::ReadListing(TempDir::WideOf(temp / "p.qrt"), listing, error));
    ASSERT_EQ(listing.members.size(), 2u);
    EXPECT_EQ(listing.members[0].problem, package::Problem::None);
    EXPECT_EQ(listing.members[1].problem, package::Problem::Truncated);
    EXPECT_FALSE(listing.members[1].sizeKnown);
}

}  // namespace
