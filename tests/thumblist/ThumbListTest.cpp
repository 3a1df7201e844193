// The scan, the worker and the display loop of the thumbnail control, driven in a real host
// window: listing, production order, re-targeting, cancellation, insertion and teardown.
#include "thumblist/ThumbListCtrl.h"

#include "ControlFixture.h"
#include "ControlHost.h"
#include "base/Trace.h"
#include "imagelib/CxImage.h"
#include "imagelib/DecoderHost.h"
#include "support/SampleImages.h"
#include "support/BmpFile.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <set>

namespace {

namespace stdfs = std::filesystem;
using testing_support::ControlHost;
using testing_support::Rgb;
using testing_support::TempDir;
using testing_support::WriteBmp;

// The colour that names picture i, exact through decoding, fitting and the image list.
Rgb ColourOf(int i) {
    return Rgb{uint8_t(i & 0xFF), uint8_t(40 + (i >> 8) * 50), 200};
}

void WritePicture(const stdfs::path& path, int i, uint32_t side = 40) {
    WriteBmp(path, side, side, [i](uint32_t, uint32_t) { return ColourOf(i); });
}

// Pictures named p000.bmp, p001.bmp, ... each of its own colour.
std::vector<stdfs::path> WritePictures(const stdfs::path& folder, int count, uint32_t side = 40) {
    std::vector<stdfs::path> paths;
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "p%03d.bmp", i);
        paths.push_back(folder / name);
        WritePicture(paths.back(), i, side);
    }
    return paths;
}

// Collects the cache's "adding file" trace lines: the order in which thumbnails are made.
class ProductionLog {
public:
    ProductionLog() {
        SetTraceSink([this](const std::wstring& line) {
            static const std::wstring prefix = L"!!!!!!!!!!!!!!!!!! adding file |";
            if (line.rfind(prefix, 0) != 0) return;
            std::lock_guard<std::mutex> guard(mutex_);
            made_.push_back(line.substr(prefix.size(), line.size() - prefix.size() - 1));
        });
    }
    ~ProductionLog() { SetTraceSink(nullptr); }
    std::vector<std::wstring> Made() const {
        std::lock_guard<std::mutex> guard(mutex_);
        return made_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::wstring> made_;
};

class ThumbListTest : public ::testing::Test {
protected:
    void SetUp() override { Build(ControlHost::DialogParams()); }

    void Build(const ThumbListParams& params) {
        control_ = std::make_unique<ThumbListCtrl>();
        ASSERT_NE(control_->Create(host_.Window(), host_.Placeholder(), params, L"_thumbs", Folder),
                  nullptr);
    }

    bool AwaitThumbnails() {
        return ControlHost::PumpUntil(
            [&] { return control_->PendingCount() == 0 && !control_->WorkerRunning(); });
    }

    // Every pixel of the image a list item shows, rows from the top.
    std::vector<COLORREF> ShownPixels(int index) {
        LVITEMW item = {};
        item.mask = LVIF_IMAGE;
        item.iItem = index;
        ::SendMessageW(control_->ListWindow(), LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
        // Drawn into a bitmap of our own: the image list's bitmap is selected into its own DC.
        win::MemoryDc dc(::CreateCompatibleDC(nullptr));
        BITMAPINFO bmi = {};
        bmi.bmiHeader.biSize = sizeof bmi.bmiHeader;
        bmi.bmiHeader.biWidth = 100;
        bmi.bmiHeader.biHeight = -100;
        bmi.bmiHeader.biPlanes = 1;
        bmi.bmiHeader.biBitCount = 32;
        void* bits = nullptr;
        win::UniqueBitmap canvas(
            ::CreateDIBSection(dc.Get(), &bmi, DIB_RGB_COLORS, &bits, nullptr, 0));
        win::SelectObjectScope select(dc.Get(), canvas.Get());
        if (!ImageList_Draw(control_->ThumbImages(), item.iImage, dc.Get(), 0, 0, ILD_NORMAL)) {
            return {};
        }
        ::GdiFlush();
        std::vector<COLORREF> pixels;
        const auto* p = static_cast<const uint8_t*>(bits);
        for (int i = 0; i < 100 * 100; ++i)
            pixels.push_back(RGB(p[4 * i + 2], p[4 * i + 1], p[4 * i]));
        return pixels;
    }

    // The centre pixel of the image a list item shows.
    COLORREF ShownColour(int index) {
        const std::vector<COLORREF> pixels = ShownPixels(index);
        return pixels.empty() ? CLR_INVALID : pixels[50 * 100 + 50];
    }

    static COLORREF Expected(int i) {
        const Rgb c = ColourOf(i);
        return RGB(c.r, c.g, c.b);
    }

    std::wstring PathOf(int index) {
        ThumbItem item;
        return control_->ItemSnapshot(index, item) ? std::wstring(item.path) : std::wstring();
    }

    TempDir temp_;
    ControlHost host_{900, 300, {10, 10, 810, 150}};
    std::unique_ptr<ThumbListCtrl> control_;
};

TEST_F(ThumbListTest, ListsSupportedFilesInFileSystemOrderAndMakesEveryThumbnail) {
    WritePictures(temp_.Path(), 12, 60);
    WritePicture(temp_ / "hidden.bmp", 99);
    ::SetFileAttributesW(TempDir::WideOf(temp_ / "hidden.bmp").c_str(), FILE_ATTRIBUTE_HIDDEN);
    WritePicture(temp_ / "sub" / "inner.bmp", 98);
    testing_support::WriteFile(temp_ / "notes.txt", "not a picture");

    EXPECT_EQ(control_->SetFolder(temp_.Wide().c_str(), false), 12);
    EXPECT_EQ(control_->GetItemCount(), 12);

    std::vector<std::wstring> order;
    WIN32_FIND_DATAW found;
    win::UniqueFindHandle search(::FindFirstFileW((temp_.Wide() + L"\\*.bmp").c_str(), &found));
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN))
            order.push_back(temp_.Wide() + L"\\" + found.cFileName);
    } while (::FindNextFileW(search.Get(), &found));
    for (int i = 0; i < 12; ++i) EXPECT_EQ(PathOf(i), order[i]) << i;

    ASSERT_TRUE(AwaitThumbnails());
    for (int i = 0; i < 12; ++i) {
        ThumbItem item;
        ASSERT_TRUE(control_->ItemSnapshot(i, item));
        EXPECT_EQ(item.hasThumbnail, 1) << i;
        EXPECT_EQ(item.width, 60u);
        const int n = std::stoi(stdfs::path(item.path).stem().string().substr(1));
        EXPECT_EQ(ShownColour(i), Expected(n)) << i;
    }
    EXPECT_EQ(ImageList_GetImageCount(control_->ThumbImages()), 12);
}

TEST_F(ThumbListTest, EmptyOrMissingFoldersListNothingAndRefusalsChangeNothing) {
    EXPECT_EQ(control_->SetFolder(temp_.Wide().c_str(), false), 0);
    EXPECT_EQ(control_->GetItemCount(), 0);
    EXPECT_EQ(control_->SetFolder(TempDir::WideOf(temp_ / "missing").c_str(), false), 0);
    // The worker of an empty list ends by itself, and a refused request starts no other.
    ASSERT_TRUE(ControlHost::PumpUntil([&] { return !control_->WorkerRunning(); }));
    EXPECT_EQ(control_->SetFolder(L"", false), -1);
    // A path the control cannot hold whole is refused, not cut into another folder's path.
    const std::wstring overlong = temp_.Wide() + L"\\" + std::wstring(300, L'x');
    EXPECT_EQ(control_->SetFolder(overlong.c_str(), false), -1);
    EXPECT_FALSE(control_->WorkerRunning());
    EXPECT_FALSE(stdfs::exists(temp_ / "_thumbs.ctl"));  // no cache is opened for an empty list
}

TEST_F(ThumbListTest, ProductionStartsAtTheFirstVisibleItemAndFollowsALineScroll) {
    ProductionLog log;
    WritePictures(temp_.Path(), 40);
    control_->HoldProduction(1);
    ASSERT_EQ(control_->SetFolder(temp_.Wide().c_str(), false), 40);
    ASSERT_TRUE(ControlHost::PumpUntil([&] { return control_->ProductionHeld(); }));
    ASSERT_EQ(log.Made(), std::vector<std::wstring>{L"P000.BMP"});

    // Scroll twenty cells on while the worker is between items; it goes on from there.
    ::SendMessageW(control_->ListWindow(), LVM_SCROLL, 20 * (control_->CellSize() + 4), 0);
    ::SendMessageW(control_->ListWindow(), WM_HSCROLL, SB_ENDSCROLL, 0);
    control_->HoldProduction(-1);
    ASSERT_TRUE(AwaitThumbnails());
    const auto made = log.Made();
    ASSERT_EQ(made.size(), 40u);
    // Items are handed out in that order; decoded side by side, they may land a few places
    // apart (the loop keeps at most 2 x (threads + 1) in hand).
    const auto number = [&](size_t i) {
        return std::stoi(stdfs::path(made[i]).stem().string().substr(1));
    };
    for (size_t i = 1; i <= 16; ++i) EXPECT_GE(number(i), 20) << i;
    for (size_t i = 25; i < 40; ++i) EXPECT_LT(number(i), 20) << i;  // round to those before
    EXPECT_EQ(std::set<std::wstring>(made.begin(), made.end()).size(), 40u);  // each once
}

TEST_F(ThumbListTest, ANewFolderStopsTheOldWorkerAndShowsOnlyItsOwnThumbnails) {
    ProductionLog log;
    WritePictures(temp_ / "a", 30, 800);
    std::vector<stdfs::path> b;
    for (int i = 0; i < 8; ++i) {
        b.push_back(temp_ / "b" / ("b" + std::to_string(i) + ".bmp"));
        WritePicture(b.back(), 500 + i);
    }
    control_->HoldProduction(2);
    ASSERT_EQ(control_->SetFolder(TempDir::WideOf(temp_ / "a").c_str(), false), 30);
    ASSERT_TRUE(ControlHost::PumpUntil([&] { return control_->ProductionHeld(); }));
    // The new folder stops the held worker; the new one is let go once the list is there.
    ASSERT_EQ(control_->SetFolder(TempDir::WideOf(temp_ / "b").c_str(), false), 8);
    control_->HoldProduction(-1);
    ASSERT_TRUE(AwaitThumbnails());

    const auto made = log.Made();
    ASSERT_EQ(made.size(), 10u);
    EXPECT_EQ(
        std::count_if(made.begin(), made.end(), [](const std::wstring& n) { return n[0] == L'P'; }),
        2);
    for (int i = 0; i < 8; ++i) {
        const int n = std::stoi(stdfs::path(PathOf(i)).stem().string().substr(1));
        EXPECT_EQ(ShownColour(i), Expected(500 + n)) << i;
    }
}

TEST_F(ThumbListTest, ResetEmptiesTheControlWhileAScanRuns) {
    WritePictures(temp_.Path(), 30);
    control_->HoldProduction(3);
    ASSERT_EQ(control_->SetFolder(temp_.Wide().c_str(), false), 30);
    ASSERT_TRUE(ControlHost::PumpUntil([&] { return control_->ProductionHeld(); }));
    control_->Reset();
    EXPECT_EQ(control_->GetItemCount(), 0);
    EXPECT_EQ(ImageList_GetImageCount(control_->ThumbImages()), 0);
    EXPECT_FALSE(control_->WorkerRunning());
    ThumbItem item;
    EXPECT_FALSE(control_->ItemSnapshot(0, item));
    // The control works on afterwards.
    control_->HoldProduction(-1);
    EXPECT_EQ(control_->SetFolder(temp_.Wide().c_str(), false), 30);
    EXPECT_TRUE(AwaitThumbnails());
}

TEST_F(ThumbListTest, DestroyingTheHostMidProductionEndsCleanlyAndWritesTheCache) {
    ProductionLog log;
    WritePictures(temp_.Path(), 30);
    control_->HoldProduction(2);
    ASSERT_EQ(control_->SetFolder(temp_.Wide().c_str(), false), 30);
    ASSERT_TRUE(ControlHost::PumpUntil([&] { return control_->ProductionHeld(); }));
    ::DestroyWindow(host_.Window());
    control_.reset();                  // closes the cache: the index is written
    EXPECT_EQ(log.Made().size(), 2u);  // nothing is made once the windows are gone
    ASSERT_TRUE(stdfs::exists(temp_ / "_thumbs.idx"));
    EXPECT_EQ(stdfs::file_size(temp_ / "_thumbs.ctl"), 2 * ThumbCache::kRecordBytes);
}

TEST_F(ThumbListTest, InsertFileAppendsReplacesAndInserts) {
    WritePictures(temp_ / "list", 3);
    const stdfs::path extra = temp_ / "other" / "x.bmp";
    WritePicture(extra, 700);
    const stdfs::path second = temp_ / "other" / "y.bmp";
    WritePicture(second, 701);
    ASSERT_EQ(control_->SetFolder(TempDir::WideOf(temp_ / "list").c_str(), false), 3);
    ASSERT_TRUE(AwaitThumbnails());

    EXPECT_EQ(control_->InsertFile(TempDir::WideOf(extra).c_str(), -1, true, false), 3);
    EXPECT_EQ(control_->GetItemCount(), 4);
    EXPECT_EQ(ShownColour(3), Expected(700));
    EXPECT_EQ(control_->InsertFile(TempDir::WideOf(second).c_str(), 0, true, false), 0);
    EXPECT_EQ(control_->GetItemCount(), 5);
    EXPECT_EQ(ShownColour(0), Expected(701));
    EXPECT_EQ(PathOf(0), TempDir::WideOf(second));
    for (int i = 1; i < 4; ++i) EXPECT_EQ(ShownColour(i), Expected(i - 1)) << i;
    EXPECT_EQ(ShownColour(4), Expected(700));

    // Replacing item 2 changes its record and its picture, nothing else.
    EXPECT_EQ(control_->InsertFile(TempDir::WideOf(extra).c_str(), 2, false, false), 2);
    EXPECT_EQ(control_->GetItemCount(), 5);
    EXPECT_EQ(ShownColour(2), Expected(700));
    EXPECT_EQ(PathOf(2), TempDir::WideOf(extra));
    EXPECT_EQ(ShownColour(1), Expected(0));

    // A file that yields no thumbnail still gets its own item, with the placeholder; the
    // items after it keep their own records and pictures.
    testing_support::WriteFile(temp_ / "other" / "broken.bmp", "BM not really a bitmap");
    const std::wstring broken = TempDir::WideOf(temp_ / "other" / "broken.bmp");
    EXPECT_EQ(control_->InsertFile(broken.c_str(), 1, true, false), 1);
    ASSERT_EQ(control_->GetItemCount(), 6);
    ASSERT_EQ(::SendMessageW(control_->ListWindow(), LVM_GETITEMCOUNT, 0, 0), 6);
    EXPECT_EQ(PathOf(1), broken);
    ThumbItem placeholder;
    ASSERT_TRUE(control_->ItemSnapshot(1, placeholder));
    EXPECT_EQ(placeholder.hasThumbnail, 0);
    EXPECT_EQ(ShownColour(0), Expected(701));
    EXPECT_EQ(ShownColour(2), Expected(0));
    EXPECT_EQ(PathOf(3), TempDir::WideOf(extra));
    EXPECT_EQ(ShownColour(3), Expected(700));

    EXPECT_EQ(control_->InsertFile(TempDir::WideOf(temp_ / "none.bmp").c_str(), -1, true, false),
              -1);
    testing_support::WriteFile(temp_ / "other" / "t.txt", "text");
    EXPECT_EQ(
        control_->InsertFile(TempDir::WideOf(temp_ / "other" / "t.txt").c_str(), -1, true, false),
        -1);
    EXPECT_EQ(control_->GetItemCount(), 6);
}

TEST_F(ThumbListTest, LineScrollsSnapToHalfALine) {
    WritePictures(temp_.Path(), 30);
    ASSERT_EQ(control_->SetFolder(temp_.Wide().c_str(), false), 30);
    ASSERT_TRUE(AwaitThumbnails());
    HWND list = control_->ListWindow();
    HWND container = control_->ContainerWindow();
    const auto position = [&] {
        SCROLLINFO info = {};
        info.cbSize = sizeof info;
        info.fMask = SIF_ALL;
        ::GetScrollInfo(list, SB_HORZ, &info);
        return info.nPos;
    };
    const auto scrollTo = [&](int x) { ::SendMessageW(list, LVM_SCROLL, x - position(), 0); };
    ASSERT_EQ(control_->CellSize() + 4, 112);

    // The container's own handling, without the list view's line step after it.
    scrollTo(10);
    ASSERT_EQ(position(), 10);
    ::SendMessageW(container, WM_HSCROLL, SB_LINEDOWN, 0);
    EXPECT_EQ(position(), 56);
    scrollTo(10);
    ::SendMessageW(container, WM_HSCROLL, SB_LINEUP, 0);
    EXPECT_EQ(position(), 56);
    scrollTo(0);
    ::SendMessageW(container, WM_HSCROLL, SB_LINEDOWN, 0);
    EXPECT_EQ(position(), 56);
    scrollTo(0);
    ::SendMessageW(container, WM_HSCROLL, SB_LINEUP, 0);
    EXPECT_EQ(position(), 0);
    ::SendMessageW(container, WM_HSCROLL, SB_ENDSCROLL, 0);
    EXPECT_EQ(position(), 0);
}

// A picture that crashes its decoder (an icon named like a JPEG, which only WIC reads, given
// to a decoder that crashes on it) costs only that picture: the others are made, and on the
// next visit the control neither tries it again nor stops.
TEST_F(ThumbListTest, APictureThatStopsItsDecoderCostsOnlyThatPicture) {
    wchar_t exe[MAX_PATH];
    ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
    const stdfs::path trouble = stdfs::path(exe).parent_path() / L"trouble_decoder.exe";
    imagelib::ConfigureDecoder(trouble.wstring(), 0);
    struct Restore {
        ~Restore() { imagelib::ConfigureDecoder(L"", 0); }
    } restore;

    WritePictures(temp_.Path(), 5);
    ASSERT_TRUE(sample::Write(sample::Format::Ico, sample::QuadrantPicture(20, 20),
                              temp_ / "p002-crash.jpg"));
    for (int visit = 0; visit < 2; ++visit) {
        const imagelib::DecoderStats before = imagelib::GetDecoderStats();
        ASSERT_EQ(control_->SetFolder(temp_.Wide().c_str(), false), 6);
        ASSERT_TRUE(AwaitThumbnails()) << visit;
        for (int i = 0; i < 6; ++i) {
            ThumbItem item;
            ASSERT_TRUE(control_->ItemSnapshot(i, item));
            const bool crashes = std::wstring(item.path).find(L"crash") != std::wstring::npos;
            EXPECT_EQ(item.hasThumbnail, crashes ? 0 : 1) << visit << " " << i;
            if (!crashes) {
                const int n = std::stoi(stdfs::path(item.path).stem().string().substr(1, 3));
                EXPECT_EQ(ShownColour(i), Expected(n)) << visit << " " << i;
            }
        }
        const imagelib::DecoderStats after = imagelib::GetDecoderStats();
        EXPECT_EQ(after.lost - before.lost, visit == 0 ? 1u : 0u);
        EXPECT_EQ(after.spared - before.spared, visit == 0 ? 0u : 1u);
    }
}

// A control for videos over the test videos (ffmpeg's colour bars, made in the build): each
// shows a frame that matches ffmpeg's decode of it, and its info tip names the container, the
// compressor and the bit rate the container gives.
class VideoThumbListTest : public ThumbListTest {
protected:
    void SetUp() override {
        ThumbListParams params = ControlHost::DialogParams();
        params.mediaKind = 1;
        Build(params);
    }
};

TEST_F(VideoThumbListTest, AVideoControlShowsAFrameAndTheFactsOfEachVideo) {
    wchar_t exe[MAX_PATH];
    ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
    const stdfs::path videos = stdfs::path(exe).parent_path() / L"video-fixtures";
    struct Expected {
        const char* name;
        const wchar_t* type;     // the type line's text after the label
        const wchar_t* bitRate;  // the fourth line from its label on; null: a number of kbps
    };
    const Expected expected[] = {
        {"mjpeg.avi", L"AVI File (Motion JPEG DIB Format )", nullptr},
        {"xvid.avi", L"AVI File XVID", nullptr},
        {"fmp4.avi", L"AVI File FMP4", nullptr},
        {"mpeg1-cbr.mpg", L"MPG File (MPEG - 1)", L"BitRate: 1000 kbps "},
        {"mpeg1-vbr.mpv", L"MPV File (MPEG - 1)", L"BitRate: VBR "},
        {"mpeg2.mpg", L"MPG File (MPEG - 2)", L"BitRate: 2000 kbps "},
        {"mpeg2.vob", L"VOB File (MPEG - 2)", L"BitRate: VBR "},
        {"wmv2.wmv", L"WMV File WMV2", nullptr},
    };
    for (const Expected& e : expected) stdfs::copy_file(videos / e.name, temp_ / e.name);
    ASSERT_EQ(control_->SetFolder(temp_.Wide().c_str(), false), int(std::size(expected)));
    ASSERT_TRUE(AwaitThumbnails());

    for (const Expected& e : expected) {
        SCOPED_TRACE(e.name);
        const int index = testing_support::IndexOfFile(*control_, stdfs::path(e.name).wstring());
        ThumbItem item;
        ASSERT_TRUE(control_->ItemSnapshot(index, item));
        ASSERT_EQ(item.hasThumbnail, 1);
        const std::wstring text = item.description;
        const std::wstring head = std::wstring(L" Type   : ") + e.type + L"\r\n Size    : " + [&] {
            wchar_t size[32];
            FormatFileSize(item.size, size, std::size(size));
            return std::wstring(size);
        }() + L"\r\n Width  : 320 px\r\n Height : 240 px\r ";
        ASSERT_EQ(text.substr(0, head.size()), head) << stdfs::path(text).string();
        const std::wstring fourth = text.substr(head.size());
        if (e.bitRate) {
            EXPECT_EQ(fourth, e.bitRate);
        } else {
            // AVI's rate is the video chunks' sum over the duration, said to be approximate.
            unsigned kbps = 0;
            wchar_t rest[32] = {};
            ASSERT_EQ(swscanf(fourth.c_str(), L"BitRate: %u kbps %31ls", &kbps, rest),
                      std::string(e.name).find(".avi") != std::string::npos ? 2 : 1)
                << stdfs::path(fourth).string();
            EXPECT_GT(kbps, 0u);
            if (rest[0]) {
                EXPECT_STREQ(rest, L"(Approx)");
            }
        }

        // The thumbnail against ffmpeg's frame fitted the same way.
        CxImage reference((videos / (std::string(e.name) + ".bmp")).c_str(), 1);
        ASSERT_TRUE(reference.IsValid());
        RGBQUAD magenta = {255, 0, 255, 0};
        ASSERT_TRUE(reference.Thumbnail(100, 100, magenta));
        const std::vector<COLORREF> shown = ShownPixels(index);
        ASSERT_EQ(shown.size(), 100u * 100u);
        // The picture's rows only: the canvas above and below it is masked out of the image
        // list's drawing.
        double difference = 0;
        std::set<COLORREF> colours;
        for (int y = 14; y < 86; ++y) {
            const uint8_t* row = reference.GetBits(99 - y);
            for (int x = 0; x < 100; ++x) {
                const COLORREF c = shown[y * 100 + x];
                colours.insert(c);
                difference += std::abs(GetBValue(c) - row[3 * x]) +
                              std::abs(GetGValue(c) - row[3 * x + 1]) +
                              std::abs(GetRValue(c) - row[3 * x + 2]);
            }
        }
        EXPECT_GT(colours.size(), 6u);  // the bars, not one colour
        EXPECT_LT(difference / (72 * 100 * 3), 4.0);
    }
}

TEST_F(ThumbListTest, DatabaseModeListsTheRecordsOfOneCategory) {
    const stdfs::path db = temp_ / "db";
    stdfs::create_directories(db);
    const auto pictures = WritePictures(temp_ / "pics", 4);
    // An index in the database layout: two records of BIRTHDAY (one whose file has gone), one
    // of XMAS.
    const auto field = [](const std::wstring& text) {
        std::string s(4, '\0');
        const uint32_t length = static_cast<uint32_t>(2 * text.size() + 1);
        for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(length >> (8 * i));
        for (wchar_t c : text) s += static_cast<char>(c & 0xFF), s += static_cast<char>(c >> 8);
        return s + '\0';
    };
    const auto upper = [](const stdfs::path& p) {
        return ThumbCache::UpperAscii(TempDir::WideOf(p));
    };
    const std::string minusOne(4, '\xFF');
    testing_support::WriteFile(
        db / "_thumbs.idx", std::string("TU04") + field(L"BIRTHDAY") + field(upper(pictures[2])) +
                                minusOne + field(L"XMAS") + field(upper(pictures[1])) + minusOne +
                                field(L"BIRTHDAY") + field(upper(temp_ / "pics" / "gone.bmp")) +
                                minusOne + field(L"birthday") + field(upper(pictures[0])) +
                                minusOne);
    testing_support::WriteFile(db / "_thumbs.ctl", "");

    ControlHost databaseHost(900, 300, {10, 10, 810, 150});
    control_ = std::make_unique<ThumbListCtrl>();
    ASSERT_NE(control_->Create(databaseHost.Window(), databaseHost.Placeholder(),
                               ControlHost::DialogParams(),
                               (TempDir::WideOf(db) + L"\\_thumbs").c_str(), Database),
              nullptr);
    EXPECT_EQ(control_->SetFolder(temp_.Wide().c_str(), false),
              -1);  // folders are not scanned here
    EXPECT_EQ(control_->SetCategory(L"", false), -1);
    ASSERT_EQ(control_->SetCategory(L"Birthday", false), 2);
    EXPECT_EQ(PathOf(0), upper(pictures[2]));
    EXPECT_EQ(PathOf(1), upper(pictures[0]));
    ASSERT_TRUE(AwaitThumbnails());
    EXPECT_EQ(ShownColour(0), Expected(2));
    EXPECT_EQ(ShownColour(1), Expected(0));
}

// Many files, the folder set again and again while the list scrolls and files are inserted:
// no crash, no hang, and every item ends with its own picture.
TEST_F(ThumbListTest, StressSetFolderScrollAndInsertKeepEveryThumbnailWithItsItem) {
    WritePictures(temp_ / "many", 1000);
    std::vector<stdfs::path> extras;
    for (int i = 0; i < 6; ++i) {
        extras.push_back(temp_ / "extra" / ("e" + std::to_string(i) + ".bmp"));
        WritePicture(extras.back(), 1000 + i);
    }
    const std::wstring many = TempDir::WideOf(temp_ / "many");
    // With one decoding thread beside the loop and with four.
    for (const int threads : {1, 4}) {
        SCOPED_TRACE(threads);
        control_->SetDecodeThreads(threads);
        for (int round = 0; round < 4; ++round) {
            ASSERT_EQ(control_->SetFolder(many.c_str(), round % 2 == 1), 1000);
            ControlHost::Pump(std::chrono::milliseconds(30 * round));
            for (int step = 0; step < 10; ++step) {
                ::SendMessageW(control_->ListWindow(), WM_HSCROLL,
                               step % 3 ? SB_LINEDOWN : SB_LINEUP, 0);
                ControlHost::Pump(std::chrono::milliseconds(5));
            }
        }
        for (int i = 0; i < 6; ++i) {
            ASSERT_GE(control_->InsertFile(TempDir::WideOf(extras[i]).c_str(), i * 97, true, false),
                      0);
            ::SendMessageW(control_->ListWindow(), WM_HSCROLL, SB_LINEDOWN, 0);
            ControlHost::Pump(std::chrono::milliseconds(10));
        }
        ASSERT_TRUE(AwaitThumbnails());
        ASSERT_EQ(control_->GetItemCount(), 1006);
        for (int i = 0; i < 1006; ++i) {
            const std::wstring path = PathOf(i);
            const std::string stem = stdfs::path(path).stem().string();
            const int n =
                stem[0] == 'e' ? 1000 + std::stoi(stem.substr(1)) : std::stoi(stem.substr(1));
            ASSERT_EQ(ShownColour(i), Expected(n)) << "item " << i;
            ThumbItem item;
            ASSERT_TRUE(control_->ItemSnapshot(i, item));
            ASSERT_EQ(item.hasThumbnail, 1) << "item " << i;
        }
    }
}

}  // namespace
