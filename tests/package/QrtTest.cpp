#include "Qrt.h"

#include "package/PackageContents.h"
#include "support/PackageBytes.h"
#include "support/TempDir.h"
#include "support/ToolRun.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

namespace stdfs = std::filesystem;
using testing_support::PackageBytes;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

using QrtRun = testing_support::ToolRun;

QrtRun Qrt(const std::vector<std::wstring>& args) { return testing_support::RunTool(RunQrt, args); }

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
                                .Append(PackageBytes::RecordWith(18, 4, 1000, "ab\0\0", "cut"))
                                .Bytes());
    const QrtRun bad = Qrt({L"verify", broken});
    EXPECT_EQ(bad.code, 4);
    const std::string& out = bad.out;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 3) << out;
    EXPECT_NE(out.find("up.tpl"), std::string::npos);
    EXPECT_NE(out.find("inflates to 10 bytes, 50 stated"), std::string::npos);
    EXPECT_NE(out.find("past the end"), std::string::npos);
    EXPECT_EQ(Qrt({L"verify", W("missing.qrt")}).code, 1);
}

TEST_F(QrtTest, ExtractExitCodesFollowTheReader) {
    const std::wstring pkg =
        Write("a.qrt", PackageBytes().Add(16, L"a.tpl", "a").Add(16, L"..\\b.tpl", "b").Bytes());
    stdfs::create_directory(temp_ / "out");
    const QrtRun ok = Qrt({L"extract", pkg, L"16", W("out")});
    EXPECT_EQ(ok.code, 0);
    EXPECT_EQ(ReadFile(temp_ / "out" / "a.tpl"), "a");
    EXPECT_NE(ok.err.find("skipped member"), std::string::npos);  // refused, exit code unchanged

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
