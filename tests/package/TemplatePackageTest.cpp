#include "package/TemplatePackage.h"

#include "support/PackageBytes.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include "base/Handles.h"
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

#include <chrono>
#include <filesystem>
#include <set>

namespace {

namespace stdfs = std::filesystem;
using testing_support::CopyWriteTime;
using testing_support::PackageBytes;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

// File times as the package code sees them: whole 100-nanosecond counts.
auto Hundreds(stdfs::file_time_type t) {
    return std::chrono::floor<std::chrono::duration<int64_t, std::ratio<1, 10000000>>>(
        t.time_since_epoch());
}

class TemplatePackageTest : public ::testing::Test {
protected:
    // Writes the package and returns its path as program text.
    std::wstring Package(const PackageBytes& bytes) {
        WriteFile(packagePath_, bytes.Bytes());
        return TempDir::WideOf(packagePath_);
    }

    std::wstring Out() const { return TempDir::WideOf(out_); }

    // Opens, extracts one kind into the output folder, closes; returns ExtractKind's result.
    int Extract(const std::wstring& package, int kind) {
        TemplatePackage reader;
        reader.SetDiagnosticSink([this](const std::wstring& m) { diagnostics_.push_back(m); });
        EXPECT_EQ(reader.Open(package.c_str(), nullptr), 1);
        const int result = reader.ExtractKind(kind, Out().c_str());
        tally_ = reader.LastTally();
        EXPECT_EQ(reader.Close(), 1);
        return result;
    }

    std::set<std::string> FilesBelow(const stdfs::path& root) const {
        std::set<std::string> names;
        for (const auto& entry : stdfs::recursive_directory_iterator(root)) {
            if (entry.is_regular_file())
                names.insert(stdfs::relative(entry.path(), root).generic_string());
        }
        return names;
    }

    TempDir temp_;
    stdfs::path packagePath_ = temp_ / "material.qrt";
    stdfs::path out_ = temp_ / "out";
    std::vector<std::wstring> diagnostics_;
    TemplatePackage::Tally tally_;

    void SetUp() override { stdfs::create_directory(out_); }
};

TEST_F(TemplatePackageTest, OpenDeliversTheDescriptionAndIgnoresItsDataLength) {
    // The description record's D is not interpreted: the next record follows the text.
    const std::wstring path =
        Package(PackageBytes(L"Autumn frames", 12345).Add(16, L"a.tpl", "alpha"));
    TemplatePackage reader;
    wchar_t description[128];
    std::fill(std::begin(description), std::end(description), L'#');
    ASSERT_EQ(reader.Open(path.c_str(), description), 1);
    EXPECT_EQ(std::wstring(description), L"Autumn frames");
    EXPECT_EQ(reader.ExtractKind(16, Out().c_str()), 1);
    EXPECT_EQ(reader.Close(), 1);
    EXPECT_EQ(ReadFile(out_ / "a.tpl"), "alpha");
}

TEST_F(TemplatePackageTest, OpenRefusesWhatIsNotAPackage) {
    const std::string good = PackageBytes().Bytes();
    for (size_t i = 0; i < 4; ++i) {
        std::string bad = good;
        bad[i] = static_cast<char>(bad[i] ^ 0x20);
        WriteFile(packagePath_, bad);
        TemplatePackage reader;
        wchar_t description[128] = L"unchanged";
        EXPECT_EQ(reader.Open(TempDir::WideOf(packagePath_).c_str(), description), 0)
            << "byte " << i;
        EXPECT_EQ(std::wstring(description), L"unchanged");
        EXPECT_EQ(reader.ExtractKind(16, Out().c_str()), -1);  // nothing to extract from
        EXPECT_EQ(reader.Close(), 1);
    }
    for (size_t length :
         {0u, 3u, 4u, 7u, 12u}) {  // short files, and files ending in the description
        WriteFile(packagePath_, good.substr(0, length));
        TemplatePackage reader;
        EXPECT_EQ(reader.Open(TempDir::WideOf(packagePath_).c_str(), nullptr), 0)
            << "length " << length;
    }
    TemplatePackage missing;
    EXPECT_EQ(missing.Open(TempDir::WideOf(temp_ / "absent.qrt").c_str(), nullptr), 0);
    EXPECT_EQ(missing.Close(), 1);
}

TEST_F(TemplatePackageTest, PackageWithoutMembersExtractsNothing) {
    const std::wstring path = Package(PackageBytes(L"Empty"));
    for (int kind = 16; kind <= 22; ++kind) EXPECT_EQ(Extract(path, kind), 1);
    EXPECT_TRUE(FilesBelow(out_).empty());
}

TEST_F(TemplatePackageTest, ExtractsOnlyTheRequestedKindWithSubFoldersAndThePackageTime) {
    const std::wstring path = Package(PackageBytes()
                                          .Add(17, L"bg.jpg", "background")
                                          .Add(16, L"Wedding\\Rings\\frame.tpl", "frame")
                                          .Add(99, L"unknown.bin", "skipped by seeking")
                                          .Add(16, L"top.tpl", std::string(100000, 'x'))
                                          .Add(22, L"sample.jpg", "preview"));
    EXPECT_EQ(Extract(path, 16), 1);
    EXPECT_EQ(FilesBelow(out_), (std::set<std::string>{"Wedding/Rings/frame.tpl", "top.tpl"}));
    EXPECT_EQ(ReadFile(out_ / "Wedding" / "Rings" / "frame.tpl"), "frame");
    EXPECT_EQ(ReadFile(out_ / "top.tpl"), std::string(100000, 'x'));
    EXPECT_EQ(Hundreds(stdfs::last_write_time(out_ / "top.tpl")),
              Hundreds(stdfs::last_write_time(packagePath_)));
    EXPECT_TRUE(diagnostics_.empty());

    // Each call starts over at the first member, whatever was extracted before.
    EXPECT_EQ(Extract(path, 17), 1);
    EXPECT_EQ(ReadFile(out_ / "bg.jpg"), "background");
    // The kind is compared as one byte.
    stdfs::remove(out_ / "bg.jpg");
    EXPECT_EQ(Extract(path, 17 + 256), 1);
    EXPECT_TRUE(stdfs::exists(out_ / "bg.jpg"));
}

TEST_F(TemplatePackageTest, MaterialIsReplacedOnlyWhenOlderThanThePackage) {
    const std::wstring path = Package(PackageBytes()
                                          .Add(16, L"older.tpl", "new")
                                          .Add(16, L"same.tpl", "new")
                                          .Add(16, L"newer.tpl", "new"));
    WriteFile(out_ / "older.tpl", "old");
    WriteFile(out_ / "same.tpl", "old");
    WriteFile(out_ / "newer.tpl", "old");
    CopyWriteTime(packagePath_, out_ / "older.tpl", -std::chrono::hours(1));
    CopyWriteTime(packagePath_, out_ / "same.tpl");
    CopyWriteTime(packagePath_, out_ / "newer.tpl", std::chrono::hours(1));

    EXPECT_EQ(Extract(path, 16), 1);
    EXPECT_EQ(ReadFile(out_ / "older.tpl"), "new");
    EXPECT_EQ(ReadFile(out_ / "same.tpl"), "old");
    EXPECT_EQ(ReadFile(out_ / "newer.tpl"), "old");
    EXPECT_EQ(tally_.written, 1);
    EXPECT_EQ(tally_.inPlace, 1);
    EXPECT_EQ(tally_.newer, 1);
    EXPECT_EQ(tally_.refused, 0);
    EXPECT_TRUE(diagnostics_.empty());  // kept members are not refusals

    // A second run finds everything in place with the package's own time and writes nothing.
    WriteFile(out_ / "older.tpl", "touched");
    CopyWriteTime(packagePath_, out_ / "older.tpl");
    EXPECT_EQ(Extract(path, 16), 1);
    EXPECT_EQ(ReadFile(out_ / "older.tpl"), "touched");
}

#ifndef _WIN32
TEST_F(TemplatePackageTest, TimesAreComparedInWhole100NanosecondUnits) {
    const std::wstring path = Package(PackageBytes().Add(16, L"a.tpl", "new"));
    // A package time on a 100-ns boundary and a destination 50 ns later: the same count.
    const auto boundary =
        std::chrono::floor<std::chrono::seconds>(stdfs::last_write_time(packagePath_));
    stdfs::last_write_time(packagePath_, boundary);
    WriteFile(out_ / "a.tpl", "old");
    stdfs::last_write_time(out_ / "a.tpl", boundary + std::chrono::nanoseconds(50));
    EXPECT_EQ(Extract(path, 16), 1);
    EXPECT_EQ(ReadFile(out_ / "a.tpl"), "old");
    stdfs::last_write_time(out_ / "a.tpl", boundary - std::chrono::nanoseconds(50));
    EXPECT_EQ(Extract(path, 16), 1);
    EXPECT_EQ(ReadFile(out_ / "a.tpl"), "new");
}
#endif

TEST_F(TemplatePackageTest, DuplicateNamesKeepTheFirstMaterialButTheLastSample) {
    const std::wstring path = Package(PackageBytes()
                                          .Add(16, L"dup.tpl", "first")
                                          .Add(16, L"dup.tpl", "second")
                                          .Add(22, L"sample.jpg", "first sample")
                                          .Add(22, L"sample.jpg", "second sample"));
    EXPECT_EQ(Extract(path, 16), 1);
    EXPECT_EQ(ReadFile(out_ / "dup.tpl"), "first");
    EXPECT_EQ(Extract(path, 22), 1);
    EXPECT_EQ(ReadFile(out_ / "sample.jpg"), "second sample");

    // The sample is always replaced, also when the file in place is newer.
    WriteFile(out_ / "sample.jpg", "stale");
    CopyWriteTime(packagePath_, out_ / "sample.jpg", std::chrono::hours(1));
    EXPECT_EQ(Extract(path, 22), 1);
    EXPECT_EQ(ReadFile(out_ / "sample.jpg"), "second sample");
}

// In memory, the sample that extraction leaves in place: the last that inflates whole.
TEST_F(TemplatePackageTest, ReadMemberGivesTheSampleExtractionWouldLeave) {
    const std::wstring path =
        Package(PackageBytes()
                    .Add(22, L"sample.jpg", "first sample")
                    .Add(16, L"a.tpl", "material")
                    .Add(22, L"sample.jpg", "second sample")
                    .Append(PackageBytes::Record(22, PackageBytes::NameField(L"sample.jpg"),
                                                 PackageBytes::U32(9) + "not zlib")));
    TemplatePackage package;
    package::Buffer out;
    EXPECT_FALSE(package.ReadMember(22, 100, out));  // not open
    ASSERT_EQ(package.Open(path.c_str(), nullptr), 1);
    ASSERT_TRUE(package.ReadMember(22, 100, out));
    EXPECT_EQ(std::string(out.Data(), out.Data() + out.Size()), "second sample");
    EXPECT_TRUE(package.ReadMember(16, 100, out));  // every call starts at the first member
    EXPECT_EQ(std::string(out.Data(), out.Data() + out.Size()), "material");
    EXPECT_FALSE(package.ReadMember(22, 11, out));  // both samples larger than allowed
    EXPECT_FALSE(package.ReadMember(17, 100, out));
    package.Close();
}

TEST_F(TemplatePackageTest, UnwritableDestinationStopsTheScanAndKeepsEarlierMembers) {
    const std::wstring path = Package(PackageBytes()
                                          .Add(16, L"first.tpl", "1")
                                          .Add(16, L"blocked\\x.tpl", "2")
                                          .Add(16, L"third.tpl", "3"));
    WriteFile(out_ / "blocked", "a file where a folder is needed");
    EXPECT_EQ(Extract(path, 16), -1);
    EXPECT_EQ(ReadFile(out_ / "first.tpl"), "1");
    EXPECT_FALSE(stdfs::exists(out_ / "third.tpl"));
    // The member that stopped the scan is named.
    ASSERT_EQ(diagnostics_.size(), 1u);
    EXPECT_NE(diagnostics_[0].find(L"blocked\\x.tpl"), std::wstring::npos);
    EXPECT_NE(diagnostics_[0].find(L"cannot be written"), std::wstring::npos);
    EXPECT_EQ(tally_.written, 1);
    EXPECT_EQ(tally_.refused, 1);

    // A destination folder that does not exist is not created.
    TemplatePackage reader;
    ASSERT_EQ(reader.Open(path.c_str(), nullptr), 1);
    EXPECT_EQ(reader.ExtractKind(16, TempDir::WideOf(temp_ / "missing").c_str()), -1);
    EXPECT_FALSE(stdfs::exists(temp_ / "missing"));
}

TEST_F(TemplatePackageTest, UnsafeNamesAreRefusedAndNothingLandsOutsideTheFolder) {
    const std::wstring unsafe[] = {
        L"..\\escape.tpl",
        L"a\\..\\..\\escape.tpl",
        L"../escape.tpl",
        L"\\rooted.tpl",
        L"/rooted.tpl",
        L"C:\\drive.tpl",
        L"c:drive.tpl",
        L"file.tpl:stream",
        L"a\\\\b.tpl",
        L"a\\.\\b.tpl",
        L"dir\\",
        L"trailing.",
        L"a\\.. \\b.tpl",
        L"tab\there",
        L"",
        std::wstring(L"nul\0inside", 10),
        // Names Windows refuses: reserved characters, device names as any level with or
        // without an extension and in any case, levels ending in a dot or a space.
        L"a<b.tpl",
        L"a>b.tpl",
        L"say\"hi\".tpl",
        L"pipe|d.tpl",
        L"what?.tpl",
        L"star*.tpl",
        L"aux.png",
        L"AUX",
        L"con\\x.tpl",
        L"Sub\\Nul.tpl",
        L"prn.tar.gz",
        L"com1.tpl",
        L"CoM9",
        L"lpt1.txt",
        L"LPT9\\x.tpl",
        L"nul .tpl",
        L"Com\u00B9.tpl",
        L"dir.\\x.tpl",
        L"space \\x.tpl",
        L"trailing ",
    };
    // Near misses that Windows accepts stay accepted.
    const std::wstring fine[] = {L"auxiliary.png", L"con2.tpl", L"COM10.tpl", L"com0.tpl",
                                 L"lpt.tpl",       L"xnul.tpl", L"a.con",     L"Sub\\prnt.tpl"};
    PackageBytes bytes;
    for (const std::wstring& name : unsafe) bytes.Add(16, name, "evil");
    for (const std::wstring& name : fine) bytes.Add(16, name, "fine");
    bytes.Add(16, L"good.tpl", "kept");
    const std::wstring path = Package(bytes);

    EXPECT_EQ(Extract(path, 16), 1);
    EXPECT_EQ(diagnostics_.size(), std::size(unsafe));
    EXPECT_EQ(tally_.refused, static_cast<int>(std::size(unsafe)));
    EXPECT_EQ(FilesBelow(temp_.Path()),
              (std::set<std::string>{"material.qrt", "out/good.tpl", "out/auxiliary.png",
                                     "out/con2.tpl", "out/COM10.tpl", "out/com0.tpl", "out/lpt.tpl",
                                     "out/xnul.tpl", "out/a.con", "out/Sub/prnt.tpl"}));
}

TEST(MemberNames, OneCheckAndOneNotionOfSameness) {
    using package::CheckMemberPath;
    using package::MemberNameKey;
    using package::Problem;
    EXPECT_EQ(CheckMemberPath(L"Set\\frame.tpl"), Problem::None);
    EXPECT_EQ(CheckMemberPath(L"x|y"), Problem::NameReservedChar);
    EXPECT_EQ(CheckMemberPath(L"Set\\lPt3.png"), Problem::NameDevice);
    EXPECT_EQ(CheckMemberPath(L"Set.\\a"), Problem::NameBadComponent);
    EXPECT_EQ(MemberNameKey(L"Set/Frame.TPL"), MemberNameKey(L"set\\frame.tpl"));
    EXPECT_NE(MemberNameKey(L"frame1.tpl"), MemberNameKey(L"frame2.tpl"));
}

// Names of the temporary files an interrupted extraction leaves, and near misses of them.
#ifdef _WIN32
const char* const kLeftovers[] = {"~qrt1a2-3.tmp", "~qrtffff-10.tmp"};
const char* const kNotOurs[] = {"~qrt12.tmp",    "~qrtxyz-1.tmp", "~qrt1-2.tmp.bak",
                                "my~qrt1-2.tmp", "~qrt1-2.tmpx",  "notes.tmp"};
const char kLive[] = "~qrtabc-1.tmp";
#else
const char* const kLeftovers[] = {".~qrt-a1B2c3", ".~qrt-ZZZZZZ"};
const char* const kNotOurs[] = {".~qrt-abc",     ".~qrt-abcdefg", "~qrt-abcdef",
                                "x.~qrt-abcdef", ".~qrt-abc.de",  ".~qrt-"};
const char kLive[] = ".~qrt-LIVE00";
#endif

// A temporary file as a writer in another process holds it while it writes.
class LiveTemporary {
public:
    explicit LiveTemporary(const stdfs::path& path) {
#ifdef _WIN32
        handle_.Reset(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                                    CREATE_NEW, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY,
                                    nullptr));
        ok_ = static_cast<bool>(handle_);
#else
        fd_ = ::open(path.c_str(), O_CREAT | O_EXCL | O_RDWR, 0600);
        ok_ = fd_ >= 0 && ::flock(fd_, LOCK_EX) == 0;
#endif
    }
    ~LiveTemporary() {
#ifndef _WIN32
        if (fd_ >= 0) ::close(fd_);
#endif
    }
    bool Ok() const {
        return ok_;
    }

private:
    bool ok_ = false;
#ifdef _WIN32
    win::UniqueHandle handle_;
#else
    int fd_ = -1;
#endif
};

TEST_F(TemplatePackageTest, LeftoversOfAnInterruptedExtractionGoWhenTheFolderIsWrittenAgain) {
    const std::wstring path =
        Package(PackageBytes().Add(16, L"top.tpl", "top").Add(16, L"Sub\\in.tpl", "in"));
    for (const stdfs::path& folder : {out_, out_ / "Sub", out_ / "Untouched"}) {
        stdfs::create_directories(folder);
        for (const char* name : kLeftovers) WriteFile(folder / name, "half written");
        for (const char* name : kNotOurs) WriteFile(folder / name, "someone else's");
    }
    LiveTemporary live(out_ / kLive);
    ASSERT_TRUE(live.Ok());

    EXPECT_EQ(Extract(path, 16), 1);
    EXPECT_EQ(ReadFile(out_ / "top.tpl"), "top");
    EXPECT_EQ(ReadFile(out_ / "Sub" / "in.tpl"), "in");
    for (const stdfs::path& folder : {out_, out_ / "Sub"}) {
        for (const char* name : kLeftovers) EXPECT_FALSE(stdfs::exists(folder / name)) << name;
    }
    // Nothing else goes: not other people's files, not a file a writer still holds, not the
    // leftovers of a folder this extraction did not write into.
    for (const stdfs::path& folder : {out_, out_ / "Sub", out_ / "Untouched"}) {
        for (const char* name : kNotOurs) EXPECT_EQ(ReadFile(folder / name), "someone else's");
    }
    EXPECT_TRUE(stdfs::exists(out_ / kLive));
    for (const char* name : kLeftovers) EXPECT_TRUE(stdfs::exists(out_ / "Untouched" / name));
#ifdef _WIN32
    // The material arrives without the marks its temporary file carried.
    for (const stdfs::path& file : {out_ / "top.tpl", out_ / "Sub" / "in.tpl"}) {
        const DWORD attributes = ::GetFileAttributesW(file.c_str());
        EXPECT_EQ(attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY), 0u);
    }
#endif
}

TEST_F(TemplatePackageTest, ImpossibleLengthsAreRefusedBeforeAnythingIsAllocated) {
    const std::string name = PackageBytes::NameField(L"bad.tpl");
    const std::string good = PackageBytes::Member(16, L"good.tpl", "kept");
    const std::string records[] = {
        // D < 4: no room for the size field.
        PackageBytes::Record(16, name, "abc"),
        // An odd N, and an N whose last character is not the terminator.
        PackageBytes::RecordWith(16, static_cast<uint8_t>(name.size() - 1), 10,
                                 name.substr(0, name.size() - 1), std::string(10, '\0')),
        PackageBytes::Record(16, name.substr(0, name.size() - 2) + std::string("x\0", 2),
                             PackageBytes::U32(1) + PackageBytes::Deflate("y")),
        // A size no zlib stream of 8 bytes can reach.
        PackageBytes::Record(16, name, PackageBytes::U32(0xFFFFFFFFu) + std::string(8, 'z')),
    };
    PackageBytes bytes;
    for (const std::string& record : records) bytes.Append(record).Append(good);
    // Finally a record whose D runs far past the end of the file.
    bytes.Append(
        PackageBytes::RecordWith(16, static_cast<uint8_t>(name.size()), 0x7FFFFFFF, name, "short"));
    const std::wstring path = Package(bytes);

    EXPECT_EQ(Extract(path, 16), 1);
    EXPECT_EQ(diagnostics_.size(), std::size(records) + 1);
    EXPECT_EQ(FilesBelow(out_), std::set<std::string>{"good.tpl"});
}

TEST_F(TemplatePackageTest, CorruptDataWritesNothingAndDestroysNothing) {
    std::string stream = PackageBytes::Deflate(std::string(5000, 'q'));
    std::string flipped = stream;
    flipped[flipped.size() / 2] = static_cast<char>(flipped[flipped.size() / 2] ^ 0x55);
    const std::string cut = stream.substr(0, stream.size() / 2);
    const std::wstring path =
        Package(PackageBytes()
                    .Append(PackageBytes::Record(16, PackageBytes::NameField(L"a.tpl"),
                                                 PackageBytes::U32(5000) + flipped))
                    .Append(PackageBytes::Record(16, PackageBytes::NameField(L"b.tpl"),
                                                 PackageBytes::U32(5000) + cut))
                    .Append(PackageBytes::Record(16, PackageBytes::NameField(L"c.tpl"),
                                                 PackageBytes::U32(10) + stream))
                    .Add(16, L"d.tpl", "fine"));
    // Existing, older files must survive a corrupt member untouched.
    WriteFile(out_ / "a.tpl", "precious a");
    WriteFile(out_ / "b.tpl", "precious b");
    CopyWriteTime(packagePath_, out_ / "a.tpl", -std::chrono::hours(2));
    CopyWriteTime(packagePath_, out_ / "b.tpl", -std::chrono::hours(2));
    const auto old = stdfs::last_write_time(out_ / "a.tpl");

    EXPECT_EQ(Extract(path, 16), 1);
    EXPECT_EQ(ReadFile(out_ / "a.tpl"), "precious a");
    EXPECT_EQ(ReadFile(out_ / "b.tpl"), "precious b");
    EXPECT_EQ(stdfs::last_write_time(out_ / "a.tpl"), old);
    EXPECT_FALSE(stdfs::exists(out_ / "c.tpl"));  // inflates past its stated size
    EXPECT_EQ(ReadFile(out_ / "d.tpl"), "fine");
    EXPECT_EQ(diagnostics_.size(), 3u);
    // No temporary file is left behind.
    EXPECT_EQ(FilesBelow(out_), (std::set<std::string>{"a.tpl", "b.tpl", "d.tpl"}));
}

TEST_F(TemplatePackageTest, StreamEndingBeforeTheStatedSizeWritesWhatItProduced) {
    const std::wstring path = Package(PackageBytes().Append(
        PackageBytes::Record(16, PackageBytes::NameField(L"short.tpl"),
                             PackageBytes::U32(100) + PackageBytes::Deflate("only this"))));
    EXPECT_EQ(Extract(path, 16), 1);
    EXPECT_EQ(ReadFile(out_ / "short.tpl"), "only this");
}

TEST_F(TemplatePackageTest, TrailingPartialHeaderEndsTheScanNormally) {
    const std::wstring path =
        Package(PackageBytes().Add(16, L"a.tpl", "a").Append(std::string("\x10\x0c\x00", 3)));
    EXPECT_EQ(Extract(path, 16), 1);
    EXPECT_EQ(ReadFile(out_ / "a.tpl"), "a");
    EXPECT_TRUE(diagnostics_.empty());
}

TEST_F(TemplatePackageTest, OverlongDestinationPathsAreRefused) {
    const std::wstring longName = std::wstring(120, L'n') + L".tpl";
    // Below a deep folder the joined path passes 259 characters.
    stdfs::path deep = out_;
    while (TempDir::WideOf(deep).size() + 1 + longName.size() <= 259) deep /= std::string(40, 'd');
    stdfs::create_directories(deep);
    const std::wstring path =
        Package(PackageBytes().Add(16, longName, "long").Add(16, L"ok.tpl", "ok"));
    TemplatePackage reader;
    std::vector<std::wstring> messages;
    reader.SetDiagnosticSink([&](const std::wstring& m) { messages.push_back(m); });
    ASSERT_EQ(reader.Open(path.c_str(), nullptr), 1);
    EXPECT_EQ(reader.ExtractKind(16, TempDir::WideOf(deep).c_str()), 1);
    EXPECT_EQ(messages.size(), 1u);
    EXPECT_TRUE(stdfs::exists(deep / "ok.tpl"));
}

#ifdef _WIN32
TEST_F(TemplatePackageTest, FolderEndingInABackslashStillWorks) {
    const std::wstring path = Package(PackageBytes().Add(22, L"sample.jpg", "sample"));
    TemplatePackage reader;
    ASSERT_EQ(reader.Open(path.c_str(), nullptr), 1);
    EXPECT_EQ(reader.ExtractKind(22, (Out() + L"\\").c_str()), 1);
    EXPECT_EQ(ReadFile(out_ / "sample.jpg"), "sample");
}
#endif

}  // namespace
