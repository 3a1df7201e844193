#include "cache/CacheFile.h"
#include "cache/ItemRecords.h"
#include "cache/ThumbCache.h"

#include "base/Trace.h"
#include "support/BmpFile.h"
#include "support/PackageBytes.h"
#include "support/SampleImages.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <thread>

namespace {

namespace stdfs = std::filesystem;
using testing_support::ReadFile;
using testing_support::Rgb;
using testing_support::TempDir;
using testing_support::WriteFile;
using testing_support::WriteSolidBmp;

constexpr uint32_t kRecord = ThumbCache::kRecordBytes;
const int kThumbSize[2] = {100, 100};

// Little-endian index bytes, written the way the format lays them out.
std::string U32(uint32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(v >> (8 * i));
    return s;
}
std::string Field(const std::wstring& text) {
    std::string s = U32(static_cast<uint32_t>(2 * text.size() + 1));
    for (wchar_t c : text) s += static_cast<char>(c & 0xFF), s += static_cast<char>(c >> 8);
    return s + '\0';
}

class ThumbCacheTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(com_.Ok()); }

    std::wstring FolderPath() const { return temp_.Wide(); }
    stdfs::path Index() const { return temp_ / "_thumbs.idx"; }
    stdfs::path Data() const { return temp_ / "_thumbs.ctl"; }

    ThumbItem Item(const std::string& name) const {
        ThumbItem item;
        MakeItemRecord(item, TempDir::WideOf(temp_ / name).c_str());
        return item;
    }

    // The display loop's way: cached, else made and stored, else a stored copy.
    ObtainedThumbnail::Origin Show(ThumbCache& cache, const std::string& name) {
        ThumbItem item = Item(name);
        ObtainedThumbnail got = ObtainThumbnail(cache, item, 100, 100, false);
        if (got.store) cache.AddThumbnail(item, false);
        return got.origin;
    }

    void OpenCache(ThumbCache& cache) {
        ASSERT_TRUE(cache.Open(FolderPath().c_str(), L"_thumbs", Folder, L""));
    }

    int32_t OffsetOf(const ThumbCache& cache, const std::wstring& key) const {
        const auto found = cache.Entries().find(key);
        return found == cache.Entries().end() ? -2 : found->second;
    }

    win::ComScope com_;
    TempDir temp_;
};

TEST_F(ThumbCacheTest, FirstVisitLeavesAHiddenEmptyDataFileAndNoIndex) {
    ThumbCache cache;
    OpenCache(cache);
    EXPECT_TRUE(stdfs::exists(Data()));
    EXPECT_EQ(stdfs::file_size(Data()), 0u);
    EXPECT_TRUE(::GetFileAttributesW(TempDir::WideOf(Data()).c_str()) & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_FALSE(stdfs::exists(Index()));
    cache.Close();
    EXPECT_FALSE(stdfs::exists(Data()));
    EXPECT_FALSE(stdfs::exists(Index()));
}

TEST_F(ThumbCacheTest, ThreeImagesMakeThreeRecordsAndAnIndexInKeyOrder) {
    WriteSolidBmp(temp_ / "zebra.bmp", 40, 20, {255, 0, 0});
    WriteSolidBmp(temp_ / "Beach.bmp", 30, 60, {0, 255, 0});
    WriteSolidBmp(temp_ / "apple_pie.bmp", 10, 10, {0, 0, 255});
    {
        ThumbCache cache;
        OpenCache(cache);
        for (const char* name : {"zebra.bmp", "Beach.bmp", "apple_pie.bmp"}) {
            EXPECT_EQ(Show(cache, name), ObtainedThumbnail::Made) << name;
        }
    }  // the destructor closes
    EXPECT_EQ(stdfs::file_size(Data()), 3u * kRecord);
    const std::string expected = U32(ThumbCache::kMagic) + Field(L"APPLE_PIE.BMP") +
                                 U32(2 * kRecord) + Field(L"BEACH.BMP") + U32(kRecord) +
                                 Field(L"ZEBRA.BMP") + U32(0);
    EXPECT_EQ(ReadFile(Index()), expected);
    // A nine-character name: length 19, nine UTF-16 units, one zero byte, the offset.
    EXPECT_EQ(Field(L"BEACH.BMP").size() + 4, 4u + 19u + 4u);

    // The second visit finds all three current.
    ThumbCache again;
    OpenCache(again);
    for (const char* name : {"zebra.bmp", "Beach.bmp", "apple_pie.bmp"}) {
        EXPECT_EQ(Show(again, name), ObtainedThumbnail::Cached) << name;
    }
}

TEST_F(ThumbCacheTest, StoredThumbnailIsFittedOnMagentaAndComesBackAtTheDisplaySize) {
    WriteSolidBmp(temp_ / "wide.bmp", 400, 200, {10, 200, 30});
    ThumbCache cache;
    OpenCache(cache);
    ThumbItem item = Item("wide.bmp");
    win::UniqueBitmap made(cache.MakeThumbnail(item, 100, 100));
    ASSERT_TRUE(made);
    EXPECT_EQ(item.typeCode, 1u);
    EXPECT_EQ(item.width, 400u);
    EXPECT_EQ(item.height, 200u);
    EXPECT_EQ(item.bitsPerPixel, 24u);
    cache.AddThumbnail(item, false);
    EXPECT_NE(std::wstring(item.description).find(L"Microsoft Windows Bitmap."),
              std::wstring::npos);

    // The record's pixels: rows bottom first, blue-green-red; the picture fills rows 25-74.
    const std::string data = ReadFile(Data());
    ASSERT_EQ(data.size(), kRecord);
    const auto pixel = [&](int x, int yFromTop) {
        const size_t at = ThumbCache::kHeaderBytes + size_t(99 - yFromTop) * 300 + size_t(x) * 3;
        return std::make_tuple(uint8_t(data[at + 2]), uint8_t(data[at + 1]), uint8_t(data[at]));
    };
    EXPECT_EQ(pixel(50, 10), std::make_tuple(uint8_t(255), uint8_t(0), uint8_t(255)));
    EXPECT_EQ(pixel(50, 50), std::make_tuple(uint8_t(10), uint8_t(200), uint8_t(30)));
    EXPECT_EQ(pixel(50, 90), std::make_tuple(uint8_t(255), uint8_t(0), uint8_t(255)));

    const int size[2] = {120, 90};
    win::UniqueBitmap shown(cache.GetThumbnail(item, size, true));
    ASSERT_TRUE(shown);
    BITMAP info;
    ASSERT_TRUE(::GetObjectW(shown.Get(), sizeof info, &info));
    EXPECT_EQ(info.bmWidth, 120);
    EXPECT_EQ(info.bmHeight, 120);
}

// A template package's thumbnail is its sample, read in memory: a large one from its block
// averages, a small one through the decoder process; a package without one has none.
TEST_F(ThumbCacheTest, APackageShowsItsSample) {
    ThumbCache cache;
    OpenCache(cache);
    for (const uint32_t width : {1600u, 320u}) {
        const uint32_t height = width * 3 / 4;
        ASSERT_TRUE(sample::Write(sample::Format::Jpeg, sample::QuadrantPicture(width, height),
                                  temp_ / "sample.jpg"));
        WriteFile(temp_ / "Pack.QRT", testing_support::PackageBytes()
                                          .Add(16, L"a.tpl", "material")
                                          .Add(22, L"sample.jpg", ReadFile(temp_ / "sample.jpg"))
                                          .Bytes());
        ThumbItem item = Item("Pack.QRT");
        win::UniqueBitmap made(cache.MakeThumbnail(item, 100, 100));
        ASSERT_TRUE(made) << width;
        EXPECT_EQ(item.typeCode, 0u);  // the tip names the package, not its sample's format
        EXPECT_EQ(item.width, width);
        EXPECT_EQ(item.height, height);
        // The thumbnail's top-left and bottom-right quadrants (the picture fills rows 13-87).
        cache.AddThumbnail(item, false);
        EXPECT_EQ(std::wstring(item.description).rfind(L" Type   : QRT File \r\n", 0), 0u)
            << width;
        const std::string data = ReadFile(Data());
        ASSERT_GE(data.size(), kRecord);
        const size_t record = data.size() - kRecord;  // replaced in place: the one record
        for (const auto& [x, y] : {std::pair{20, 25}, std::pair{80, 75}}) {
            const size_t at = record + ThumbCache::kHeaderBytes + size_t(99 - y) * 300 + x * 3;
            const sample::Color want = sample::Quadrant(x, y - 13, 100, 75);
            EXPECT_NEAR(uint8_t(data[at + 2]), want.r, 24) << width << " " << x;
            EXPECT_NEAR(uint8_t(data[at + 1]), want.g, 24) << width << " " << x;
            EXPECT_NEAR(uint8_t(data[at]), want.b, 24) << width << " " << x;
        }
    }
    WriteFile(temp_ / "bare.qrt",
              testing_support::PackageBytes().Add(16, L"a.tpl", "material").Bytes());
    ThumbItem bare = Item("bare.qrt");
    EXPECT_FALSE(win::UniqueBitmap(cache.MakeThumbnail(bare, 100, 100)));
}

TEST_F(ThumbCacheTest, NamesDifferingInCaseShareOneRecord) {
    WriteSolidBmp(temp_ / "Beach.bmp", 8, 8, {1, 2, 3});
    ThumbCache cache;
    OpenCache(cache);
    ThumbItem lower = Item("Beach.bmp");
    win::UniqueBitmap bitmap(cache.MakeThumbnail(lower, 100, 100));
    cache.AddThumbnail(lower, false);
    ThumbItem upper = lower;
    std::wstring path = upper.path;
    path.replace(path.size() - 9, 9, L"BEACH.BMP");
    std::wcscpy(upper.path, path.c_str());
    win::UniqueBitmap found(cache.GetThumbnail(upper, kThumbSize, true));
    EXPECT_TRUE(found);
    EXPECT_EQ(cache.Entries().size(), 1u);
    EXPECT_EQ(OffsetOf(cache, L"|BEACH.BMP"), 0);
}

TEST_F(ThumbCacheTest, AChangedFileIsRebuiltInPlace) {
    WriteSolidBmp(temp_ / "a.bmp", 8, 8, {1, 1, 1});
    WriteSolidBmp(temp_ / "b.bmp", 8, 8, {2, 2, 2});
    {
        ThumbCache cache;
        OpenCache(cache);
        Show(cache, "a.bmp");
        Show(cache, "b.bmp");
    }
    // A new write time (a whole second later) makes the stored record stale.
    WriteSolidBmp(temp_ / "a.bmp", 8, 8, {9, 9, 9});
    testing_support::CopyWriteTime(temp_ / "b.bmp", temp_ / "a.bmp", std::chrono::seconds(5));
    ThumbCache cache;
    OpenCache(cache);
    ThumbItem item = Item("a.bmp");
    const uint64_t current = item.modified;
    EXPECT_FALSE(win::UniqueBitmap(cache.GetThumbnail(item, kThumbSize, true)));
    EXPECT_EQ(item.modified, current);  // the remembered time is put back
    EXPECT_EQ(Show(cache, "a.bmp"), ObtainedThumbnail::Made);
    EXPECT_EQ(OffsetOf(cache, L"|A.BMP"), 0);
    cache.Close();
    EXPECT_EQ(stdfs::file_size(Data()), 2u * kRecord);
    EXPECT_EQ(uint8_t(ReadFile(Data())[ThumbCache::kHeaderBytes + 49 * 300 + 50 * 3]),
              9);  // the centre, new colour
}

TEST_F(ThumbCacheTest, FilesThatAreNotImagesFallBackToTheirStoredCopy) {
    // A stored record for a package whose picture cannot be decoded.
    WriteSolidBmp(temp_ / "pic.bmp", 8, 8, {5, 5, 5});
    WriteFile(temp_ / "frames.qrt", " qrv not a picture");
    {
        ThumbCache cache;
        OpenCache(cache);
        ThumbItem item = Item("pic.bmp");
        win::UniqueBitmap made(cache.MakeThumbnail(item, 100, 100));
        ThumbItem package = Item("frames.qrt");
        package.modified -= 100;  // stored with another time
        cache.AddThumbnail(package, false);
    }
    ThumbCache cache;
    OpenCache(cache);
    ThumbItem package = Item("frames.qrt");
    EXPECT_FALSE(win::UniqueBitmap(cache.GetThumbnail(package, kThumbSize, true)));
    EXPECT_TRUE(win::UniqueBitmap(cache.GetThumbnail(package, kThumbSize, false)));
    const std::string before = ReadFile(Data());
    EXPECT_EQ(Show(cache, "frames.qrt"), ObtainedThumbnail::StaleCopy);
    // The failed decode stores nothing: the old record stays as it was.
    EXPECT_EQ(ReadFile(Data()), before);
}

TEST_F(ThumbCacheTest, DeletedFilesFreeTheirSlotForTheNextNewFile) {
    WriteSolidBmp(temp_ / "gone.bmp", 8, 8, {1, 1, 1});
    WriteSolidBmp(temp_ / "kept.bmp", 8, 8, {2, 2, 2});
    {
        ThumbCache cache;
        OpenCache(cache);
        Show(cache, "gone.bmp");
        Show(cache, "kept.bmp");
    }
    stdfs::remove(temp_ / "gone.bmp");
    {
        // With no new file the old record stays listed from one run to the next.
        ThumbCache cache;
        OpenCache(cache);
        EXPECT_EQ(cache.Entries().size(), 1u);
    }
    EXPECT_NE(ReadFile(Index()).find(Field(L"GONE.BMP")), std::string::npos);

    WriteSolidBmp(temp_ / "new.bmp", 8, 8, {3, 3, 3});
    {
        ThumbCache cache;
        OpenCache(cache);
        Show(cache, "new.bmp");
        EXPECT_EQ(OffsetOf(cache, L"|NEW.BMP"), 0);  // gone.bmp's slot
    }
    EXPECT_EQ(stdfs::file_size(Data()), 2u * kRecord);
    const std::string index = ReadFile(Index());
    EXPECT_EQ(index, U32(ThumbCache::kMagic) + Field(L"KEPT.BMP") + U32(kRecord) +
                         Field(L"NEW.BMP") + U32(0));
}

// Whatever the index held, no two names end up sharing a record, so no file ever shows another
// file's thumbnail: files installed from one package all have the same time, so the time check
// cannot tell them apart.
TEST_F(ThumbCacheTest, NoTwoNamesEverShareARecord) {
    for (const char* name : {"a.bmp", "b.bmp", "c.bmp", "d.bmp"})
        WriteSolidBmp(temp_ / name, 8, 8, {uint8_t(name[0]), 0, 0});
    for (const char* name : {"b.bmp", "c.bmp", "d.bmp"})
        testing_support::CopyWriteTime(temp_ / "a.bmp", temp_ / name);
    const auto expectDistinctOffsets = [&] {
        std::set<int32_t> offsets;
        std::set<std::wstring> names;
        const std::string bytes = ReadFile(Index());
        for (const IndexRecord& record :
             ThumbCache::ParseIndex(std::vector<uint8_t>(bytes.begin(), bytes.end()), Folder)) {
            EXPECT_TRUE(names.insert(record.name).second) << "listed twice";
            if (record.offset != -1) {
                EXPECT_TRUE(offsets.insert(record.offset).second) << "offset " << record.offset;
            }
        }
        for (auto it = offsets.begin(); it != offsets.end() && std::next(it) != offsets.end(); ++it)
            EXPECT_GE(*std::next(it) - *it, int32_t(kRecord)) << "records overlap at " << *it;
    };

    // Offsets beyond the (empty) data file are dropped at Open and stay dropped at Close,
    // although the data file has grown to cover them meanwhile.
    WriteFile(Data(), "");
    WriteFile(Index(),
              U32(ThumbCache::kMagic) + Field(L"A.BMP") + U32(kRecord) + Field(L"B.BMP") + U32(0));
    {
        ThumbCache cache;
        OpenCache(cache);
        EXPECT_TRUE(cache.Entries().empty());
        EXPECT_EQ(Show(cache, "a.bmp"), ObtainedThumbnail::Made);
        EXPECT_EQ(Show(cache, "c.bmp"), ObtainedThumbnail::Made);
    }
    expectDistinctOffsets();
    {
        ThumbCache cache;
        OpenCache(cache);
        EXPECT_EQ(Show(cache, "b.bmp"), ObtainedThumbnail::Made);
        EXPECT_EQ(Show(cache, "a.bmp"), ObtainedThumbnail::Cached);
    }
    expectDistinctOffsets();

    // Two names planted on one record, or on overlapping ones: none is trusted, all are made
    // anew.
    const std::string index = ReadFile(Index());
    WriteFile(Index(), index + Field(L"D.BMP") + U32(0) + Field(L"C.BMP") + U32(kRecord / 2));
    {
        ThumbCache cache;
        OpenCache(cache);
        EXPECT_EQ(Show(cache, "d.bmp"), ObtainedThumbnail::Made);
        EXPECT_NE(OffsetOf(cache, L"|D.BMP"), 0);
    }
    expectDistinctOffsets();
    ThumbCache last;
    OpenCache(last);
    for (const char* name : {"a.bmp", "b.bmp", "c.bmp", "d.bmp"}) {
        ThumbItem item = Item(name);
        win::UniqueBitmap shown(last.GetThumbnail(item, kThumbSize, true));
        if (!shown) {
            EXPECT_EQ(Show(last, name), ObtainedThumbnail::Made) << name;
            continue;
        }
        // The stored pixels are this file's own colour.
        win::MemoryDc dc(::CreateCompatibleDC(nullptr));
        win::SelectObjectScope select(dc.Get(), shown.Get());
        EXPECT_EQ(GetRValue(::GetPixel(dc.Get(), 50, 50)), uint8_t(name[0])) << name;
    }
}

// A file that goes and comes back within one visit takes its own slot again and is no longer
// offered to another file.
TEST_F(ThumbCacheTest, AFileThatReturnsTakesItsOwnSlotBack) {
    for (const char* name : {"agone.bmp", "zgone.bmp", "kept.bmp"})
        WriteSolidBmp(temp_ / name, 8, 8, {1, 1, 1});
    {
        ThumbCache cache;
        OpenCache(cache);
        for (const char* name : {"agone.bmp", "zgone.bmp", "kept.bmp"}) Show(cache, name);
    }
    stdfs::rename(temp_ / "agone.bmp", temp_ / "agone.away");
    stdfs::rename(temp_ / "zgone.bmp", temp_ / "zgone.away");
    WriteSolidBmp(temp_ / "new.bmp", 8, 8, {3, 3, 3});
    {
        ThumbCache cache;
        OpenCache(cache);
        stdfs::rename(temp_ / "zgone.away", temp_ / "zgone.bmp");
        Show(cache, "zgone.bmp");
        EXPECT_EQ(OffsetOf(cache, L"|ZGONE.BMP"), int32_t(kRecord));
        Show(cache, "new.bmp");
        EXPECT_EQ(OffsetOf(cache, L"|NEW.BMP"), 0);  // agone.bmp's slot, not zgone.bmp's
    }
    EXPECT_EQ(ReadFile(Index()), U32(ThumbCache::kMagic) + Field(L"KEPT.BMP") + U32(2 * kRecord) +
                                     Field(L"NEW.BMP") + U32(0) + Field(L"ZGONE.BMP") +
                                     U32(kRecord));
}

// A record that could not be written whole is indexed under no name.
TEST_F(ThumbCacheTest, UnwrittenRecordsAreNotIndexed) {
    for (const char* name : {"a.bmp", "b.bmp"}) WriteSolidBmp(temp_ / name, 8, 8, {1, 1, 1});
    ThumbCache cache;
    OpenCache(cache);
    // A full disk, or a share gone read-only since Open: no write lands.
    FailCacheWrites(true);
    Show(cache, "a.bmp");
    Show(cache, "b.bmp");
    FailCacheWrites(false);
    EXPECT_TRUE(cache.Entries().empty());
    EXPECT_EQ(Show(cache, "b.bmp"), ObtainedThumbnail::Made);
    cache.Close();
    const std::string index = ReadFile(Index());
    EXPECT_EQ(index.find(Field(L"A.BMP")), std::string::npos);
    EXPECT_NE(index.find(Field(L"B.BMP")), std::string::npos);
}

// A failed make leaves nothing for the next store: the previous file's picture is never kept
// under this file's name.
TEST_F(ThumbCacheTest, AFailedMakeStoresNothing) {
    WriteSolidBmp(temp_ / "a.bmp", 8, 8, {1, 1, 1});
    ThumbCache cache;
    OpenCache(cache);
    ThumbItem a = Item("a.bmp");
    ASSERT_TRUE(win::UniqueBitmap(cache.MakeThumbnail(a, 100, 100)));
    ThumbItem distant = {};
    const std::wstring relative = L"sub\\" + std::wstring(250, L'x') + L".bmp";  // too long to join
    std::wcscpy(distant.path, relative.c_str());
    EXPECT_FALSE(win::UniqueBitmap(cache.MakeThumbnail(distant, 100, 100)));
    cache.AddThumbnail(distant, false);
    EXPECT_TRUE(cache.Entries().empty());
}

TEST_F(ThumbCacheTest, InvalidHeadersDiscardBothFiles) {
    for (const std::string& header :
         {std::string("TU"), std::string("TU0"), std::string("XU04"), std::string("TU05")}) {
        WriteFile(Index(), header + Field(L"A.BMP") + U32(0));
        WriteFile(Data(), std::string(kRecord, 'x'));
        ThumbCache cache;
        OpenCache(cache);
        EXPECT_FALSE(stdfs::exists(Index())) << header;
        EXPECT_EQ(stdfs::file_size(Data()), 0u) << header;
        cache.Close();
    }
}

TEST_F(ThumbCacheTest, AnsiIndexIsReadAndRewrittenAsUnicode) {
    WriteSolidBmp(temp_ / "cafe.bmp", 8, 8, {1, 1, 1});
    WriteFile(Data(), std::string(kRecord, '\0'));
    WriteFile(Index(), std::string("TX04") + U32(8) + "cafe.bmp" + U32(0));
    {
        ThumbCache cache;
        OpenCache(cache);
        EXPECT_EQ(OffsetOf(cache, L"|CAFE.BMP"), 0);
    }
    EXPECT_EQ(ReadFile(Index()), U32(ThumbCache::kMagic) + Field(L"CAFE.BMP") + U32(0));
}

TEST_F(ThumbCacheTest, LaterDuplicatesWinAndHandedOutSlotsAreKept) {
    for (const char* name : {"a.bmp", "b.bmp"}) WriteSolidBmp(temp_ / name, 8, 8, {1, 1, 1});
    WriteFile(Data(), std::string(3 * kRecord, '\0'));
    WriteFile(Index(), U32(ThumbCache::kMagic) + Field(L"A.BMP") + U32(0) + Field(L"A.BMP") +
                           U32(2 * kRecord) + Field(L"B.BMP") + U32(0xFFFFFFFF));
    ThumbCache cache;
    OpenCache(cache);
    EXPECT_EQ(OffsetOf(cache, L"|A.BMP"), int32_t(2 * kRecord));
    EXPECT_EQ(OffsetOf(cache, L"|B.BMP"), -1);
    ThumbItem b = Item("b.bmp");
    EXPECT_FALSE(win::UniqueBitmap(cache.GetThumbnail(b, kThumbSize, true)));
    cache.Close();
    EXPECT_NE(ReadFile(Index()).find(Field(L"B.BMP") + U32(0xFFFFFFFF)), std::string::npos);
}

TEST_F(ThumbCacheTest, HostileIndexLengthsAndOffsetsNeitherCrashNorGrowTheData) {
    for (const char* name : {"a.bmp", "b.bmp", "c.bmp", "d.bmp", "e.bmp"})
        WriteSolidBmp(temp_ / name, 8, 8, {1, 1, 1});
    WriteFile(Data(), std::string(2 * kRecord, '\0'));
    // Good, negative offset, offset past the end, a record cut short by the end, then a
    // length no buffer holds (reading stops there: e.bmp is never reached).
    WriteFile(Index(), U32(ThumbCache::kMagic) + Field(L"A.BMP") + U32(kRecord) + Field(L"B.BMP") +
                           U32(0x80000000) + Field(L"C.BMP") + U32(0x7FFFFFF0) + Field(L"D.BMP") +
                           U32(2 * kRecord - 10) + U32(0xFFFFFFF0) + "junk" + Field(L"E.BMP") +
                           U32(0));
    {
        ThumbCache cache;
        OpenCache(cache);
        EXPECT_EQ(cache.Entries().size(), 1u);
        EXPECT_EQ(OffsetOf(cache, L"|A.BMP"), int32_t(kRecord));
        FreeSlotsLock lock;
        EXPECT_EQ(FreeSlots().count(FolderPath()), 0u);
    }
    EXPECT_EQ(stdfs::file_size(Data()), 2u * kRecord);
    {
        // New thumbnails for the refused keys are appended, never written far away.
        ThumbCache cache;
        OpenCache(cache);
        for (const char* name : {"b.bmp", "c.bmp", "d.bmp", "e.bmp"}) Show(cache, name);
    }
    EXPECT_EQ(stdfs::file_size(Data()), 6u * kRecord);
}

TEST_F(ThumbCacheTest, ShortRecordIsAMissAndIsRemadeOverIt) {
    WriteSolidBmp(temp_ / "a.bmp", 8, 8, {4, 4, 4});
    {
        ThumbCache cache;
        OpenCache(cache);
        Show(cache, "a.bmp");
    }
    ThumbCache cache;
    OpenCache(cache);
    stdfs::resize_file(Data(), kRecord - 1000);  // cut while open
    EXPECT_EQ(Show(cache, "a.bmp"), ObtainedThumbnail::Made);
    EXPECT_EQ(OffsetOf(cache, L"|A.BMP"), 0);
    cache.Close();
    EXPECT_EQ(stdfs::file_size(Data()), kRecord);
}

TEST_F(ThumbCacheTest, AppendToIndexRewritesAnAnsiIndexFirst) {
    WriteSolidBmp(temp_ / "old.bmp", 8, 8, {1, 1, 1});
    WriteSolidBmp(temp_ / "new.bmp", 8, 8, {2, 2, 2});
    WriteFile(Data(), std::string(kRecord, '\0'));
    WriteFile(Index(), std::string("TX04") + U32(7) + "old.bmp" + U32(0));
    ThumbCache cache;
    OpenCache(cache);
    ThumbItem item = Item("new.bmp");
    win::UniqueBitmap made(cache.MakeThumbnail(item, 100, 100));
    cache.AddThumbnail(item, true);
    EXPECT_EQ(ReadFile(Index()), U32(ThumbCache::kMagic) + Field(L"OLD.BMP") + U32(0) +
                                     Field(L"NEW.BMP") + U32(kRecord));
}

TEST_F(ThumbCacheTest, DatabaseModeLoadsOneCategoryAndKeepsTheOthers) {
    WriteSolidBmp(temp_ / "pics" / "cake.bmp", 8, 8, {1, 1, 1});
    WriteSolidBmp(temp_ / "pics" / "tree.bmp", 8, 8, {2, 2, 2});
    const std::wstring cake = ThumbCache::UpperAscii(TempDir::WideOf(temp_ / "pics" / "cake.bmp"));
    const std::wstring tree = ThumbCache::UpperAscii(TempDir::WideOf(temp_ / "pics" / "tree.bmp"));
    WriteFile(Data(), std::string(2 * kRecord, '\0'));
    WriteFile(Index(), U32(ThumbCache::kMagic) + Field(L"BIRTHDAY") + Field(cake) + U32(0) +
                           Field(L"XMAS") + Field(tree) + U32(kRecord));
    ThumbCache cache;
    EXPECT_FALSE(cache.Open(FolderPath().c_str(), L"_thumbs", Database, L""));
    EXPECT_EQ(ReadFile(Index()).size(),
              4u + 4 + 17 + 4 + 2 * cake.size() + 1 + 4 + 4 + 9 + 4 + 2 * tree.size() + 1 + 4);
    ASSERT_TRUE(cache.Open(FolderPath().c_str(), L"_thumbs", Database, L"Birthday"));
    ASSERT_EQ(cache.Entries().size(), 1u);
    EXPECT_EQ(cache.Entries().begin()->first, L"BIRTHDAY|" + cake);
    cache.Close();
    const std::string index = ReadFile(Index());
    EXPECT_NE(index.find(Field(L"XMAS") + Field(tree)), std::string::npos);
    EXPECT_NE(index.find(Field(L"BIRTHDAY") + Field(cake)), std::string::npos);
}

TEST_F(ThumbCacheTest, TwoObjectsOnOneFolderKeepEachOthersRecords) {
    WriteSolidBmp(temp_ / "a.bmp", 8, 8, {1, 1, 1});
    WriteSolidBmp(temp_ / "b.bmp", 8, 8, {2, 2, 2});
    ThumbCache control;
    OpenCache(control);
    {
        ThumbCache insert;  // a short-lived second object, as single-file insertion uses
        OpenCache(insert);
        Show(insert, "b.bmp");
    }
    Show(control, "a.bmp");
    control.Close();
    ThumbCache again;
    OpenCache(again);
    EXPECT_EQ(again.Entries().size(), 2u);
    EXPECT_NE(OffsetOf(again, L"|A.BMP"), OffsetOf(again, L"|B.BMP"));
    EXPECT_EQ(Show(again, "a.bmp"), ObtainedThumbnail::Cached);
    EXPECT_EQ(Show(again, "b.bmp"), ObtainedThumbnail::Cached);
    EXPECT_EQ(stdfs::file_size(Data()), 2u * kRecord);
}

TEST_F(ThumbCacheTest, TwoObjectsWritingAtOnceNeverShareARecord) {
    constexpr int kPerObject = 12;
    for (int i = 0; i < 2 * kPerObject; ++i) {
        WriteSolidBmp(temp_ / ("p" + std::to_string(i) + ".bmp"), 16, 16, {uint8_t(i * 10), 0, 0});
    }
    const auto worker = [this](int first) {
        win::ComScope com;
        ThumbCache cache;
        cache.Open(FolderPath().c_str(), L"_thumbs", Folder, L"");
        for (int i = first; i < first + kPerObject; ++i)
            Show(cache, "p" + std::to_string(i) + ".bmp");
    };
    std::thread a(worker, 0), b(worker, kPerObject);
    a.join();
    b.join();

    ThumbCache cache;
    OpenCache(cache);
    ASSERT_EQ(cache.Entries().size(), 2u * kPerObject);
    std::set<int32_t> offsets;
    for (const auto& [key, offset] : cache.Entries()) offsets.insert(offset);
    EXPECT_EQ(offsets.size(), 2u * kPerObject);
    EXPECT_EQ(stdfs::file_size(Data()), 2u * kPerObject * kRecord);
    // Each record holds its own picture: the centre pixel's red channel names the file.
    const std::string data = ReadFile(Data());
    for (int i = 0; i < 2 * kPerObject; ++i) {
        const int32_t offset = OffsetOf(cache, L"|P" + std::to_wstring(i) + L".BMP");
        ASSERT_GE(offset, 0);
        EXPECT_EQ(uint8_t(data[offset + ThumbCache::kHeaderBytes + 49 * 300 + 50 * 3 + 2]),
                  uint8_t(i * 10))
            << i;
    }
}

TEST(ThumbCacheKeys, SplitAtTheLastBar) {
    std::wstring category, name;
    ThumbCache::SplitKey(L"BIRTHDAY|C:\\PICS|1.JPG", category, name);
    EXPECT_EQ(category, L"BIRTHDAY|C:\\PICS");
    EXPECT_EQ(name, L"1.JPG");
    ThumbCache::SplitKey(L"|BEACH.JPG", category, name);
    EXPECT_EQ(category, L"");
    EXPECT_EQ(name, L"BEACH.JPG");
    EXPECT_EQ(ThumbCache::UpperAscii(L"abc\u00e9z"), L"ABC\u00e9Z");  // only a to z change
}

TEST_F(ThumbCacheTest, TraceLinesReachTheHook) {
    std::vector<std::wstring> lines;
    SetTraceSink([&](const std::wstring& line) { lines.push_back(line); });
    WriteSolidBmp(temp_ / "a.bmp", 8, 8, {1, 1, 1});
    {
        ThumbCache cache;
        OpenCache(cache);
        Show(cache, "a.bmp");
    }
    SetTraceSink(nullptr);
    const std::wstring data = TempDir::WideOf(Data());
    const std::wstring index = TempDir::WideOf(Index());
    EXPECT_NE(
        std::find(lines.begin(), lines.end(), L"Open CTL file location =====>" + data + L"\n"),
        lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), L"!!!!!!!!!!!!!!!!!! adding file |A.BMP\n"),
              lines.end());
    EXPECT_NE(
        std::find(lines.begin(), lines.end(), L"******Written to IDX file => " + index + L"\n"),
        lines.end());
}

}  // namespace
