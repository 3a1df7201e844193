#include "Qrt.h"

#include "package/PackageContents.h"
#include "support/PackageBytes.h"
#include "support/TempDir.h"
#include "support/ToolRun.h"

#include "glimmerly/Version.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

namespace stdfs = std::filesystem;
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
    std::wstring W(const std::string& name) const { return TempDir::WideOf(temp_ / name); }

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

    // Everything written: exit 0 and a quiet stderr. Kept because the file in place is not
    // older: still exit 0, said in one line.
    const QrtRun first = Qrt({L"extract", pkg, L"19", W("out")});
    EXPECT_EQ(first.code, 0);
    EXPECT_EQ(first.err, "");
    const QrtRun again = Qrt({L"extract", pkg, L"19", W("out")});
    EXPECT_EQ(again.code, 0);
    EXPECT_EQ(std::count(again.err.begin(), again.err.end(), '\n'), 1) << again.err;
    EXPECT_NE(again.err.find("kept 1 member"), std::string::npos) << again.err;

    EXPECT_EQ(Qrt({L"extract", pkg, L"16", W("no-such-folder")}).code, 3);
    EXPECT_EQ(Qrt({L"extract", W("missing.qrt"), L"16", W("out")}).code, 1);
    EXPECT_EQ(Qrt({L"extract", pkg, L"sixteen", W("out")}).code, 2);
}

TEST_F(QrtTest, UsageErrorsExitTwo) {
    EXPECT_EQ(Qrt({}).code, 2);
    EXPECT_EQ(Qrt({L"list"}).code, 2);
    EXPECT_EQ(Qrt({L"frobnicate", L"x"}).code, 2);
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
    EXPECT_NE(run.err.find("notes.txt"), std::string::npos);  // said, not silently dropped

    EXPECT_EQ(Qrt({L"list", W("one.qrt")}).out,
              "description: Spring wedding\n"
              "22\t6\tsample.jpg\n"
              "16\t10\tSub\\a.tpl\n"
              "16\t10\tb.tpl\n"
              "21\t3000\tround.abr\n");
    EXPECT_EQ(Qrt({L"verify", W("one.qrt")}).code, 0);

    ASSERT_EQ(Qrt({L"pack", W("src"), W("two.qrt")}).code, 0);
    EXPECT_EQ(ReadFile(temp_ / "one.qrt"), ReadFile(temp_ / "two.qrt"));

    stdfs::create_directory(temp_ / "out");
    ASSERT_EQ(Qrt({L"extract", W("one.qrt"), L"16", W("out")}).code, 0);
    EXPECT_EQ(ReadFile(temp_ / "out" / "Sub" / "a.tpl"), "template a");
}

TEST_F(QrtPackTest, PackRefusesWhatTheFormatCannotHold) {
    WriteFile(temp_ / "src" / "Templates" / (std::string(127, 'n')), "too long a name");
    QrtRun run = Qrt({L"pack", W("src"), W("out.qrt")});
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find("at most 126"), std::string::npos);
    EXPECT_FALSE(stdfs::exists(temp_ / "out.qrt"));

    stdfs::remove(temp_ / "src" / "Templates" / (std::string(127, 'n')));
    WriteFile(temp_ / "src" / "description.txt", std::string(127, 'd'));
    EXPECT_EQ(Qrt({L"pack", W("src"), W("out.qrt")}).code, 1);
    stdfs::remove(temp_ / "src" / "description.txt");
    EXPECT_EQ(Qrt({L"pack", W("src"), W("out.qrt")}).code, 1);
    EXPECT_FALSE(stdfs::exists(temp_ / "out.qrt"));
    EXPECT_EQ(Qrt({L"pack", W("nowhere"), W("out.qrt")}).code, 1);
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
