#include "Thumbs.h"

#include "cache/ThumbCache.h"
#include "support/BmpFile.h"
#include "base/Handles.h"
#include "base/Utf.h"
#include "support/TempDir.h"
#include "support/ToolRun.h"

#include "glimmerly/Version.h"

#include <gtest/gtest.h>

#include <wincodec.h>
#include <wrl/client.h>

#include <cstring>
#include <filesystem>

namespace {

namespace stdfs = std::filesystem;
using testing_support::ReadFile;
using testing_support::Rgb;
using testing_support::TempDir;
using testing_support::WriteBmp;
using testing_support::WriteFile;

constexpr uint32_t kRecord = ThumbCache::kRecordBytes;

using testing_support::ToolRun;

ToolRun Thumbs(const std::vector<std::wstring>& args) {
    return testing_support::RunTool(RunThumbs, args);
}

std::string U32(uint32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(v >> (8 * i));
    return s;
}

class ThumbsToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Pictures of several shapes and colours, a hidden one, a sub-folder and a stranger.
        WriteBmp(temp_ / "wide.bmp", 320, 120, [](uint32_t x, uint32_t) {
            return Rgb{uint8_t(x), 40, 200};
        });
        WriteBmp(temp_ / "tall.bmp", 90, 300, [](uint32_t, uint32_t y) {
            return Rgb{10, uint8_t(y), 90};
        });
        WriteBmp(temp_ / "small.bmp", 24, 24, [](uint32_t x, uint32_t y) {
            return Rgb{uint8_t(x * 9), uint8_t(y * 9), 0};
        });
        WriteBmp(temp_ / "hidden.bmp", 10, 10, [](uint32_t, uint32_t) { return Rgb{1, 2, 3}; });
        ::SetFileAttributesW(TempDir::WideOf(temp_ / "hidden.bmp").c_str(), FILE_ATTRIBUTE_HIDDEN);
        WriteBmp(temp_ / "sub" / "inner.bmp", 10, 10, [](uint32_t, uint32_t) {
            return Rgb{1, 2, 3};
        });
        WriteFile(temp_ / "readme.txt", "not a picture");
    }
    std::wstring Dir() const { return temp_.Wide(); }
    stdfs::path Data() const { return temp_ / "_thumbs.ctl"; }

    static std::vector<std::string> Lines(const std::string& text) {
        std::vector<std::string> lines;
        size_t start = 0;
        for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
            lines.push_back(text.substr(start, end - start));
        }
        return lines;
    }

    TempDir temp_;
};

// A picture that cannot be decoded fails again on the second run: nothing of it is stored.
TEST_F(ThumbsToolTest, MakeTwiceReadsEverythingFromTheCacheTheSecondTime) {
    WriteFile(temp_ / "broken.bmp", "BM but not a bitmap");
    const ToolRun first = Thumbs({L"make", Dir()});
    ASSERT_EQ(first.code, 0) << first.err;
    auto lines = Lines(first.out);
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines, (std::vector<std::string>{"failed\tbroken.bmp", "made\tsmall.bmp",
                                               "made\ttall.bmp", "made\twide.bmp"}));
    const std::string data = ReadFile(Data());
    EXPECT_EQ(data.size(), 3u * kRecord);

    const ToolRun second = Thumbs({L"make", Dir()});
    lines = Lines(second.out);
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines, (std::vector<std::string>{"cached\tsmall.bmp", "cached\ttall.bmp",
                                               "cached\twide.bmp", "failed\tbroken.bmp"}));
    EXPECT_EQ(ReadFile(Data()), data);  // byte for byte

    const std::wstring missing = TempDir::WideOf(temp_ / "missing");
    const ToolRun noFolder = Thumbs({L"make", missing});
    EXPECT_EQ(noFolder.code, 1);
    EXPECT_EQ(noFolder.err, "thumbs: " + text::ToUtf8(missing) + ": no such folder\n");
    EXPECT_EQ(Thumbs({L"show", missing}).err, noFolder.err);
}

// The working folder for the life of the object, restored afterwards.
class CurrentFolder {
public:
    explicit CurrentFolder(const std::wstring& folder) {
        wchar_t previous[MAX_PATH];
        if (::GetCurrentDirectoryW(MAX_PATH, previous)) previous_ = previous;
        ::SetCurrentDirectoryW(folder.c_str());
    }
    ~CurrentFolder() { ::SetCurrentDirectoryW(previous_.c_str()); }
    CurrentFolder(const CurrentFolder&) = delete;
    CurrentFolder& operator=(const CurrentFolder&) = delete;

private:
    std::wstring previous_;
};

// A relative path, one without its drive (what a Linux path is under Wine) and one with ".."
// in it all name the folder itself: the records and the cache are those of the full path.
TEST_F(ThumbsToolTest, PathsAreMadeFullBeforeUse) {
    ASSERT_EQ(Dir().substr(1, 2), L":\\");
    const std::wstring withoutDrive = Dir().substr(2);
    const std::wstring withDots = Dir() + L"\\sub\\..";
    const CurrentFolder current(Dir());
    for (const std::wstring& path : {std::wstring(L"."), withoutDrive, withDots}) {
        SCOPED_TRACE(text::ToUtf8(path));
        stdfs::remove(Data());
        stdfs::remove(temp_ / "_thumbs.idx");
        const ToolRun made = Thumbs({L"make", path});
        ASSERT_EQ(made.code, 0) << made.err;
        auto lines = Lines(made.out);
        std::sort(lines.begin(), lines.end());
        EXPECT_EQ(lines, (std::vector<std::string>{"made\tsmall.bmp", "made\ttall.bmp",
                                                   "made\twide.bmp"}));
        EXPECT_EQ(stdfs::file_size(Data()), 3u * kRecord);
        const ToolRun shown = Thumbs({L"show", path});
        ASSERT_EQ(shown.code, 0) << shown.err;
        EXPECT_EQ(Lines(shown.out).at(1), "data: " + text::ToUtf8(TempDir::WideOf(Data())));
        EXPECT_EQ(Thumbs({L"export", path, L"wide.bmp", L"sub\\wide-export.bmp"}).code, 0);
        EXPECT_EQ(stdfs::file_size(temp_ / "sub" / "wide-export.bmp"), 54u + 30000u);
    }
}

// A folder whose cache files cannot be written stops the run with one message naming the
// folder and the reason, instead of a line per picture.
TEST_F(ThumbsToolTest, AFolderThatCannotBeCachedIsAnError) {
    stdfs::create_directory(Data());  // a folder where the data file belongs
    const ToolRun run = Thumbs({L"make", Dir()});
    EXPECT_EQ(run.code, 1);
    EXPECT_EQ(run.out, "");
    const std::string expected = "thumbs: cannot cache " + text::ToUtf8(Dir()) + ": cannot open " +
                                 text::ToUtf8(TempDir::WideOf(Data())) + ": ";
    EXPECT_EQ(run.err.substr(0, expected.size()), expected);
    EXPECT_GT(run.err.size(), expected.size() + 1) << "a reason";
    EXPECT_EQ(Lines(run.err).size(), 1u);
}

TEST_F(ThumbsToolTest, ChangedFilesAreRebuiltInPlaceAndDeletedSlotsReused) {
    ASSERT_EQ(Thumbs({L"make", Dir()}).code, 0);
    const std::string show = Thumbs({L"show", Dir()}).out;
    const auto offsetOf = [](const std::string& listing, const std::string& key) {
        const size_t at = listing.find(key + "\t");
        return at == std::string::npos
                   ? std::string("?")
                   : listing.substr(at + key.size() + 1,
                                    listing.find('\t', at + key.size() + 1) - at - key.size() - 1);
    };
    const std::string tallOffset = offsetOf(show, "|TALL.BMP");
    const std::string wideOffset = offsetOf(show, "|WIDE.BMP");

    // tall.bmp changes (a later write time), wide.bmp goes away, fresh.bmp arrives.
    WriteBmp(temp_ / "tall.bmp", 90, 300, [](uint32_t, uint32_t) { return Rgb{250, 250, 0}; });
    testing_support::CopyWriteTime(temp_ / "small.bmp", temp_ / "tall.bmp",
                                   std::chrono::seconds(30));
    stdfs::remove(temp_ / "wide.bmp");
    auto lines = Lines(Thumbs({L"make", Dir()}).out);
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines, (std::vector<std::string>{"cached\tsmall.bmp", "made\ttall.bmp"}));
    EXPECT_EQ(offsetOf(Thumbs({L"show", Dir()}).out, "|TALL.BMP"), tallOffset);

    WriteBmp(temp_ / "fresh.bmp", 50, 50, [](uint32_t, uint32_t) { return Rgb{0, 0, 0}; });
    Thumbs({L"make", Dir()});
    const std::string after = Thumbs({L"show", Dir()}).out;
    EXPECT_EQ(offsetOf(after, "|FRESH.BMP"), wideOffset);
    EXPECT_EQ(offsetOf(after, "|WIDE.BMP"), "?");
    EXPECT_EQ(stdfs::file_size(Data()), 3u * kRecord);
}

// Entries as stored, with the state of their file: current, stale (changed since it was
// stored) or missing.
TEST_F(ThumbsToolTest, ShowListsEntriesWithFactsDescriptionsAndWhetherTheyAreStale) {
    Thumbs({L"make", Dir()});
    const ToolRun run = Thumbs({L"show", Dir()});
    ASSERT_EQ(run.code, 0);
    auto lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 2u + 3 * 2);
    EXPECT_EQ(lines[0], "index: " + text::ToUtf8(TempDir::WideOf(temp_ / "_thumbs.idx")));
    EXPECT_EQ(lines[1], "data: " + text::ToUtf8(TempDir::WideOf(Data())));
    EXPECT_EQ(lines[2].substr(0, 11), "|SMALL.BMP\t");
    // Type, width, height, bits per pixel and the state close the line.
    EXPECT_EQ(lines[2].substr(lines[2].size() - 19), "\t1\t24\t24\t24\tcurrent");
    EXPECT_EQ(lines[3].substr(0, 37), "\t Type   : Microsoft Windows Bitmap. ");
    EXPECT_EQ(lines[4].substr(0, 10), "|TALL.BMP\t");
    EXPECT_EQ(lines[6].substr(0, 10), "|WIDE.BMP\t");

    testing_support::CopyWriteTime(temp_ / "tall.bmp", temp_ / "tall.bmp", std::chrono::seconds(5));
    stdfs::remove(temp_ / "wide.bmp");
    lines = Lines(Thumbs({L"show", Dir()}).out);
    ASSERT_EQ(lines.size(), 2u + 3 * 2);
    EXPECT_EQ(lines[2].substr(lines[2].size() - 8), "\tcurrent");
    EXPECT_EQ(lines[4].substr(lines[4].size() - 6), "\tstale");
    EXPECT_EQ(lines[6].substr(lines[6].size() - 8), "\tmissing");
}

// The rows of a picture file as 24-bit BGR, top row first, read through WIC.
std::vector<uint8_t> DecodeRows(const stdfs::path& file, UINT& width, UINT& height) {
    using Microsoft::WRL::ComPtr;
    win::ComScope com;
    ComPtr<IWICImagingFactory> factory;
    ComPtr<IWICBitmapDecoder> decoder;
    ComPtr<IWICBitmapFrameDecode> frame;
    ComPtr<IWICFormatConverter> converter;
    std::vector<uint8_t> rows;
    width = height = 0;
    if (FAILED(::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_PPV_ARGS(&factory))) ||
        FAILED(factory->CreateDecoderFromFilename(file.c_str(), nullptr, GENERIC_READ,
                                                  WICDecodeMetadataCacheOnDemand, &decoder)) ||
        FAILED(decoder->GetFrame(0, &frame)) ||
        FAILED(factory->CreateFormatConverter(&converter)) ||
        FAILED(converter->Initialize(frame.Get(), GUID_WICPixelFormat24bppBGR,
                                     WICBitmapDitherTypeNone, nullptr, 0,
                                     WICBitmapPaletteTypeCustom)) ||
        FAILED(converter->GetSize(&width, &height))) {
        return rows;
    }
    rows.resize(static_cast<size_t>(width) * height * 3);
    if (FAILED(converter->CopyPixels(nullptr, width * 3, static_cast<UINT>(rows.size()),
                                     rows.data()))) {
        rows.clear();
    }
    return rows;
}

TEST_F(ThumbsToolTest, ExportWritesTheFormatItsNameAsksFor) {
    WriteBmp(temp_ / "later.bmp", 10, 10, [](uint32_t, uint32_t) { return Rgb{1, 2, 3}; });
    Thumbs({L"make", Dir()});
    WriteBmp(temp_ / "unstored.bmp", 10, 10, [](uint32_t, uint32_t) { return Rgb{1, 2, 3}; });
    const stdfs::path out = temp_ / "export";
    stdfs::create_directory(out);
    ASSERT_EQ(Thumbs({L"export", Dir(), L"WIDE.bmp", TempDir::WideOf(out / "wide.bmp")}).code, 0);
    const std::string bmp = ReadFile(out / "wide.bmp");
    ASSERT_EQ(bmp.size(), 54u + 30000u);
    EXPECT_EQ(bmp.substr(0, 2), "BM");
    // Row 50 from the top holds the picture (blue 200); row 5 from the top is magenta canvas.
    const auto at = [&](int x, int yFromTop) { return 54 + (99 - yFromTop) * 300 + x * 3; };
    EXPECT_EQ(uint8_t(bmp[at(50, 50)]), 200);
    EXPECT_EQ(uint8_t(bmp[at(50, 50) + 1]), 40);
    EXPECT_EQ(uint8_t(bmp[at(50, 5)]), 255);
    EXPECT_EQ(uint8_t(bmp[at(50, 5) + 1]), 0);
    EXPECT_EQ(uint8_t(bmp[at(50, 5) + 2]), 255);

    // The same pixels as a PNG.
    const ToolRun png = Thumbs({L"export", Dir(), L"wide.bmp", TempDir::WideOf(out / "wide.PNG")});
    ASSERT_EQ(png.code, 0) << png.err;
    EXPECT_EQ(ReadFile(out / "wide.PNG").substr(0, 8), "\x89PNG\r\n\x1A\n");
    UINT width, height;
    const std::vector<uint8_t> rows = DecodeRows(out / "wide.PNG", width, height);
    ASSERT_EQ(width, 100u);
    ASSERT_EQ(height, 100u);
    for (int y = 0; y < 100; ++y) {
        ASSERT_EQ(std::memcmp(&rows[y * 300], &bmp[at(0, y)], 300), 0) << "row " << y;
    }

    const auto exportError = [&](const wchar_t* file, const char* name) {
        const ToolRun run = Thumbs({L"export", Dir(), file, TempDir::WideOf(out / name)});
        EXPECT_FALSE(stdfs::exists(out / name)) << name;
        return std::to_string(run.code) + " " + run.err;
    };
    EXPECT_EQ(exportError(L"wide.bmp", "wide.jpg").substr(0, 17), "2 thumbs: cannot ");
    EXPECT_NE(exportError(L"wide.bmp", "wide.jpg")
                  .find("wide.jpg: a thumbnail is written as "
                        ".bmp or .png"),
              std::string::npos);
    EXPECT_EQ(
        exportError(L"nothing.bmp", "x.bmp"),
        "1 thumbs: no such file: " + text::ToUtf8(TempDir::WideOf(temp_ / "nothing.bmp")) + "\n");
    EXPECT_EQ(exportError(L"unstored.bmp", "x.bmp"),
              "1 thumbs: no stored thumbnail for " +
                  text::ToUtf8(TempDir::WideOf(temp_ / "unstored.bmp")) +
                  "; store it with: thumbs make " + text::ToUtf8(Dir()) + "\n");
    EXPECT_NE(exportError(L"readme.txt", "x.bmp").find("; only pictures are stored"),
              std::string::npos);
    EXPECT_NE(exportError(L"wide.bmp", "no-such-folder\\x.png").find("1 thumbs: cannot write "),
              std::string::npos);
}

TEST_F(ThumbsToolTest, PlantedIndexNeitherCrashesNorGrowsTheData) {
    Thumbs({L"make", Dir()});
    const uint64_t size = stdfs::file_size(Data());
    // Hostile lengths and offsets aimed far past the end and before the start.
    std::string planted = U32(ThumbCache::kMagic);
    const auto field = [](const std::string& ascii) {
        std::string s = U32(uint32_t(2 * ascii.size() + 1));
        for (char c : ascii) s += c, s += '\0';
        return s + '\0';
    };
    planted += field("SMALL.BMP") + U32(0x7FFF0000) + field("TALL.BMP") + U32(0xFFFFFF00) +
               field("WIDE.BMP") + U32(kRecord + 7) + U32(0x10000) + "garbage";
    WriteFile(temp_ / "_thumbs.idx", planted);
    ::SetFileAttributesW(TempDir::WideOf(temp_ / "_thumbs.idx").c_str(), FILE_ATTRIBUTE_HIDDEN);
    const ToolRun run = Thumbs({L"make", Dir()});
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(Lines(run.out).size(), 3u);
    EXPECT_LE(stdfs::file_size(Data()), size + 3 * kRecord);
    EXPECT_EQ(Thumbs({L"show", Dir()}).code, 0);
}

TEST(ThumbsTool, UsageErrorsExitTwo) {
    EXPECT_EQ(Thumbs({}).code, 2);
    EXPECT_EQ(Thumbs({L"make"}).err,
              "thumbs: make takes 1 operand, 0 given\nusage: thumbs make FOLDER\n"
              "(thumbs --help describes every command)\n");
    EXPECT_EQ(Thumbs({L"export", L"a", L"b"}).code, 2);
    EXPECT_EQ(Thumbs({L"--help"}).code, 0);
    EXPECT_EQ(Thumbs({L"--version"}).out, std::string("thumbs ") + GLIMMERLY_VERSION + "\n");
}

}  // namespace
