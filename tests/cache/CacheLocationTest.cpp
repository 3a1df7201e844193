#include "cache/CacheFile.h"
#include "cache/CacheLocation.h"
#include "cache/ThumbCache.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <map>

namespace {

using testing_support::TempDir;

// Answers the drive-type and serial-number questions from tables the test fills.
class FakeVolumes : public VolumeQueries {
public:
    UINT DriveType(const wchar_t* root) override {
        roots.push_back(root);
        const auto found = types.find(root);
        return found == types.end() ? DRIVE_NO_ROOT_DIR : found->second;
    }
    bool Serial(const wchar_t* root, DWORD& serial) override {
        const auto found = serials.find(root);
        if (found == serials.end()) return false;
        serial = found->second;
        return true;
    }
    bool FolderWritable(const wchar_t* folder) override {
        writeTests.push_back(folder);
        return shareWritable;
    }

    std::map<std::wstring, UINT> types;
    std::map<std::wstring, DWORD> serials;
    bool shareWritable = false;
    std::vector<std::wstring> roots;
    std::vector<std::wstring> writeTests;
};

class CacheLocationTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetVolumeQueries(&volumes_);
        wchar_t previous[MAX_PATH] = {};
        hadTmp_ = ::GetEnvironmentVariableW(L"TMP", previous, MAX_PATH) > 0;
        previousTmp_ = previous;
        ::SetEnvironmentVariableW(L"TMP", L"C:\\Temp");
    }
    void TearDown() override {
        SetVolumeQueries(nullptr);
        ::SetEnvironmentVariableW(L"TMP", hadTmp_ ? previousTmp_.c_str() : nullptr);
    }

    // Opens a cache on the folder and reports the two paths it chose.
    std::pair<std::wstring, std::wstring> PathsFor(const wchar_t* folder) {
        cache_.Open(folder, L"_thumbs", Folder, L"");
        std::pair<std::wstring, std::wstring> paths{cache_.IndexPath(), cache_.DataPath()};
        cache_.Close();
        return paths;
    }

    FakeVolumes volumes_;
    ThumbCache cache_;
    bool hadTmp_ = false;
    std::wstring previousTmp_;
};

TEST_F(CacheLocationTest, FixedDisksAndMappedDrivesKeepTheCacheInTheFolder) {
    volumes_.types = {{L"C:\\", DRIVE_FIXED}, {L"N:\\", DRIVE_REMOTE}, {L"R:\\", DRIVE_RAMDISK}};
    EXPECT_EQ(PathsFor(L"C:\\Photos"), std::make_pair(std::wstring(L"C:\\Photos\\_thumbs.idx"),
                                                      std::wstring(L"C:\\Photos\\_thumbs.ctl")));
    EXPECT_EQ(volumes_.roots.back(), L"C:\\");
    EXPECT_EQ(PathsFor(L"N:\\Shared").first, L"N:\\Shared\\_thumbs.idx");
    EXPECT_TRUE(volumes_.writeTests.empty());  // a mapped drive gets no write test
    EXPECT_EQ(PathsFor(L"R:\\Scratch").first, L"R:\\Scratch\\_thumbs.idx");
}

TEST_F(CacheLocationTest, RemovableMediaKeepTheCacheInTheTemporaryFolderBySerialNumber) {
    volumes_.types = {
        {L"D:\\", DRIVE_CDROM}, {L"E:\\", DRIVE_REMOVABLE}, {L"F:\\", DRIVE_REMOVABLE}};
    volumes_.serials = {{L"D:\\", 1234}, {L"E:\\", 1234}};
    EXPECT_EQ(PathsFor(L"D:\\Pictures"),
              std::make_pair(std::wstring(L"C:\\Temp\\1234_Pictures_thumbs.idx"),
                             std::wstring(L"C:\\Temp\\1234_Pictures_thumbs.ctl")));
    EXPECT_EQ(PathsFor(L"E:\\Photos\\2004").first, L"C:\\Temp\\1234_Photos_2004_thumbs.idx");
    EXPECT_EQ(PathsFor(L"E:\\").first, L"C:\\Temp\\1234__thumbs.idx");
    // Another disc in the same drive has other files; an empty drive reads as serial 0.
    volumes_.serials[L"D:\\"] = 98765;
    EXPECT_EQ(PathsFor(L"D:\\Pictures").first, L"C:\\Temp\\98765_Pictures_thumbs.idx");
    EXPECT_EQ(PathsFor(L"F:\\Pictures").first, L"C:\\Temp\\0_Pictures_thumbs.idx");

    // Without a temporary folder such media get no cache, rather than files named relative to
    // whatever the current folder is; so do read-only shares.
    ::SetEnvironmentVariableW(L"TMP", (L"C:\\" + std::wstring(300, L't')).c_str());
    EXPECT_EQ(PathsFor(L"D:\\Pictures"), std::make_pair(std::wstring(), std::wstring()));
    volumes_.shareWritable = false;
    EXPECT_EQ(PathsFor(L"\\\\server\\share\\pics"), std::make_pair(std::wstring(), std::wstring()));
}

TEST_F(CacheLocationTest, SharePathsFollowTheWriteTest) {
    volumes_.shareWritable = true;
    EXPECT_EQ(PathsFor(L"\\\\server\\share\\pics").first, L"\\\\server\\share\\pics\\_thumbs.idx");
    ASSERT_EQ(volumes_.writeTests.size(), 1u);
    EXPECT_EQ(volumes_.writeTests[0], L"\\\\server\\share\\pics");
    volumes_.shareWritable = false;
    EXPECT_EQ(PathsFor(L"\\\\server\\share\\pics"),
              std::make_pair(std::wstring(L"C:\\Temp\\server_share_pics_thumbs.idx"),
                             std::wstring(L"C:\\Temp\\server_share_pics_thumbs.ctl")));
    EXPECT_TRUE(volumes_.roots.empty());  // share paths are never asked for a drive type
}

TEST_F(CacheLocationTest, UnknownOrMissingVolumesKeepNoCacheAndForgetThePreviousFolder) {
    volumes_.types = {{L"C:\\", DRIVE_FIXED}, {L"U:\\", DRIVE_UNKNOWN}};
    ASSERT_EQ(PathsFor(L"C:\\Photos").first, L"C:\\Photos\\_thumbs.idx");
    EXPECT_EQ(PathsFor(L"U:\\Odd").first, L"");
    ASSERT_EQ(PathsFor(L"C:\\Photos").first, L"C:\\Photos\\_thumbs.idx");
    EXPECT_EQ(PathsFor(L"Q:\\Missing"), std::make_pair(std::wstring(), std::wstring()));
}

TEST_F(CacheLocationTest, NamesThatDoNotFitAreRefused) {
    volumes_.types = {{L"C:\\", DRIVE_FIXED}};
    const std::wstring deep = L"C:\\" + std::wstring(248, L'x');
    EXPECT_EQ(PathsFor(deep.c_str()).first, L"");
    const std::wstring fits = L"C:\\" + std::wstring(240, L'x');
    EXPECT_EQ(PathsFor(fits.c_str()).first, fits + L"\\_thumbs.idx");
}

TEST(FlattenPath, DropsTheFirstTwoCharactersAndTurnsBackslashesIntoUnderscores) {
    EXPECT_EQ(FlattenPath(L"E:\\Photos\\2004"), L"_Photos_2004");
    EXPECT_EQ(FlattenPath(L"\\\\server\\share\\pics"), L"server_share_pics");
    EXPECT_EQ(FlattenPath(L"E:\\"), L"_");
    EXPECT_EQ(FlattenPath(L"E:"), L"");
}

TEST(CacheFiles, AreCreatedHiddenReadThroughReadBytesAndDiscardedInTwoSteps) {
    TempDir temp;
    const std::wstring path = TempDir::WideOf(temp / "_thumbs.idx");
    {
        win::UniqueHandle file(OpenCacheFile(path.c_str(), true));
        ASSERT_TRUE(file);
        EXPECT_TRUE(WriteBytes(file.Get(), "TU04", 4));
        DWORD read = 12345;
        char buffer[8];
        EXPECT_EQ(ReadBytes(file.Get(), buffer, 0, &read), 0u);
        EXPECT_EQ(read, 12345u);  // a count of 0 leaves the caller's count alone
        SeekCacheFile(file.Get(), 0);
        ReadBytes(file.Get(), buffer, 8, &read);
        EXPECT_EQ(read, 4u);
        ReadBytes(file.Get(), buffer, 8, &read);
        EXPECT_EQ(read, 0u);
    }
    EXPECT_TRUE(::GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_HIDDEN);
    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY);
    DiscardCacheFile(path.c_str());
    EXPECT_EQ(::GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(OpenCacheFile(L"", true), INVALID_HANDLE_VALUE);
}

TEST(CacheFiles, TheRealWriteTestLeavesNothingBehind) {
    TempDir temp;
    EXPECT_TRUE(CurrentVolumeQueries().FolderWritable(temp.Wide().c_str()));
    EXPECT_TRUE(std::filesystem::is_empty(temp.Path()));
    EXPECT_FALSE(CurrentVolumeQueries().FolderWritable(TempDir::WideOf(temp / "missing").c_str()));
}

}  // namespace
