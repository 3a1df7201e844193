// Hover preview, drag and drop and column sorting, driven by real mouse input where the list
// turns it into its own notifications.
#include "ControlFixture.h"

#include "base/Trace.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>

namespace {

namespace stdfs = std::filesystem;
using testing_support::ControlHost;
using testing_support::HostedControl;
using testing_support::ItemRect;
using testing_support::PathOf;
using testing_support::Rgb;
using testing_support::TempDir;
using testing_support::WaitForThumbnails;
using testing_support::WriteBmp;

Rgb ColourOf(int i) {
    return Rgb{uint8_t(30 + i * 40), uint8_t(200 - i * 30), uint8_t(i * 50)};
}
COLORREF Expected(int i) {
    const Rgb c = ColourOf(i);
    return RGB(c.r, c.g, c.b);
}

// Real input: the pointer moves (absolute screen coordinates) and buttons go down and up.
void Mouse(POINT screen, DWORD buttons = 0) {
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dx = screen.x * 65535 / (::GetSystemMetrics(SM_CXSCREEN) - 1);
    input.mi.dy = screen.y * 65535 / (::GetSystemMetrics(SM_CYSCREEN) - 1);
    input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | buttons;
    ::SendInput(1, &input, sizeof input);
    ControlHost::Pump(std::chrono::milliseconds(30));
}

void SetControlKey(bool down) {
    BYTE keys[256];
    ::GetKeyboardState(keys);
    keys[VK_CONTROL] = down ? 0x80 : 0;
    ::SetKeyboardState(keys);
}

class MouseTest : public ::testing::Test {
protected:
    // Five pictures a.bmp ... e.bmp, each of its own colour and size, listed in a control
    // with the given flags.
    void Show(unsigned flags) {
        for (int i = 0; i < 5; ++i) {
            const std::string name(1, char('a' + i));
            WriteBmp(temp_ / (name + ".bmp"), 20 + i, 20,
                     [i](uint32_t, uint32_t) { return ColourOf(i); });
        }
        ThumbListParams params = ControlHost::DialogParams();
        params.styleFlags = TLF_HORIZONTAL | TLF_BKCOLOR | flags;
        hosted_ = std::make_unique<HostedControl>(params, 700, 140, true);
        ASSERT_EQ(hosted_->control.SetFolder(temp_.Wide().c_str(), false), 5);
        ASSERT_TRUE(WaitForThumbnails(hosted_->control));
        // The tests name items by letter; the listing order is the file system's.
        for (int i = 0; i < 5; ++i) ASSERT_EQ(Letter(i), wchar_t(L'a' + i));
    }

    ThumbListCtrl& Control() { return hosted_->control; }
    HWND List() { return hosted_->List(); }

    wchar_t Letter(int index) {
        const std::wstring path = PathOf(Control(), index);
        return path.empty() ? L'?' : path[path.size() - 5];
    }
    std::wstring Letters() {
        std::wstring letters;
        for (int i = 0; i < Control().GetItemCount(); ++i) letters += Letter(i);
        return letters;
    }

    POINT CentreOf(int index) {
        const RECT r = ItemRect(List(), index, LVIR_SELECTBOUNDS);
        POINT p = {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
        ::ClientToScreen(List(), &p);
        return p;
    }

    COLORREF ShownColour(int index) {
        LVITEMW item = {};
        item.mask = LVIF_IMAGE;
        item.iItem = index;
        ::SendMessageW(List(), LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
        win::MemoryDc dc(::CreateCompatibleDC(nullptr));
        win::UniqueBitmap canvas(::CreateBitmap(100, 100, 1, 32, nullptr));
        win::SelectObjectScope select(dc.Get(), canvas.Get());
        ImageList_Draw(Control().ThumbImages(), item.iImage, dc.Get(), 0, 0, ILD_NORMAL);
        return ::GetPixel(dc.Get(), 50, 50);
    }

    // Every cell shows the picture of the record it holds.
    void ExpectThumbnailsFollowRecords() {
        for (int i = 0; i < Control().GetItemCount(); ++i) {
            EXPECT_EQ(ShownColour(i), Expected(Letter(i) - L'a')) << "item " << i;
        }
    }

    // Presses on item `from`, drags to item `to` and releases, as a user does.
    void Drag(int from, int to) {
        Mouse(CentreOf(from));
        Mouse(CentreOf(from), MOUSEEVENTF_LEFTDOWN);
        POINT p = CentreOf(from);
        for (int step = 0; step < 4; ++step) {
            p.x += (CentreOf(to).x - p.x) / 2 + (step == 3 ? CentreOf(to).x - p.x : 0);
            Mouse(p);
        }
        Mouse(CentreOf(to));
        Mouse(CentreOf(to), MOUSEEVENTF_LEFTUP);
    }

    void TearDown() override {
        SetControlKey(false);
        hosted_.reset();
    }

    TempDir temp_;
    std::unique_ptr<HostedControl> hosted_;
};

TEST_F(MouseTest, DraggingAnItemMovesItOrSwapsItUnderControl) {
    Show(TLF_DRAGDROP);
    Drag(1, 4);
    EXPECT_EQ(Letters(), L"acdeb");
    const auto moved = hosted_->host.Of(TLM_ITEMMOVED);
    ASSERT_EQ(moved.size(), 1u);
    EXPECT_EQ(moved[0].wParam, 1u);
    EXPECT_EQ(moved[0].lParam, 4);
    EXPECT_EQ(Control().GetNextSelected(-1), 4);
    EXPECT_FALSE(Control().Dragging());
    for (int i = 0; i < 5; ++i) EXPECT_NE(Control().GetItemBorderColor(i), 0xFF0000u) << i;
    ExpectThumbnailsFollowRecords();

    // Back to a b c d e, then the same drag with Ctrl held swaps the two.
    Drag(4, 1);
    ASSERT_EQ(Letters(), L"abcde");
    SetControlKey(true);
    Drag(1, 4);
    EXPECT_EQ(Letters(), L"aecdb");
    ExpectThumbnailsFollowRecords();

    // A position past the items refuses the whole move, records and pictures alike.
    EXPECT_FALSE(Control().MoveItem(1, 5, false));
    EXPECT_FALSE(Control().MoveItem(7, 0, true));
    EXPECT_EQ(Letters(), L"aecdb");
    ExpectThumbnailsFollowRecords();
}

TEST_F(MouseTest, DragMarksTheItemUnderThePointer) {
    Show(TLF_DRAGDROP);
    Mouse(CentreOf(0));
    Mouse(CentreOf(0), MOUSEEVENTF_LEFTDOWN);
    Mouse({CentreOf(0).x + 40, CentreOf(0).y});
    Mouse(CentreOf(2));
    Mouse(CentreOf(3));
    ASSERT_TRUE(Control().Dragging());
    EXPECT_EQ(Control().DropTargetIndex(), 3);
    EXPECT_EQ(Control().GetItemBorderColor(3), 0xFF0000u);
    EXPECT_EQ(Control().GetItemBorderColor(2), 0u);  // the earlier mark is cleared
    ThumbItem marked;
    ASSERT_TRUE(Control().ItemSnapshot(3, marked));
    EXPECT_EQ(marked.borderWidth, 3);
    EXPECT_FALSE(hosted_->host.Of(TLM_DRAGOVER).empty());

    // Released outside the list: refused, nothing moves, the marks go.
    Mouse({CentreOf(3).x, CentreOf(3).y + 200});
    Mouse({CentreOf(3).x, CentreOf(3).y + 200}, MOUSEEVENTF_LEFTUP);
    EXPECT_FALSE(Control().Dragging());
    EXPECT_EQ(Letters(), L"abcde");
    EXPECT_TRUE(hosted_->host.Of(TLM_ITEMMOVED).empty());
    for (int i = 0; i < 5; ++i) EXPECT_NE(Control().GetItemBorderColor(i), 0xFF0000u) << i;
}

TEST(DragBack, TheImageJumpsEveryFifteenStepsTowardsItsItem) {
    // Released 100 pixels right of the source's corner, at its height.
    const auto path = DragBackPath({1100, 300}, {1000, 300}, 15);
    std::vector<LONG> xs;
    for (const POINT& p : path) {
        EXPECT_EQ(p.y, 300);
        xs.push_back(p.x - 1000);
    }
    EXPECT_EQ(xs, (std::vector<LONG>{85, 70, 55, 40, 25, 10}));
    EXPECT_TRUE(DragBackPath({1010, 300}, {1000, 300}, 15).empty());  // 15 steps or less: no jump
    EXPECT_TRUE(DragBackPath({5, 5}, {5, 5}, 15).empty());
    EXPECT_EQ(DragBackPath({0, 0}, {-40, 160}, 15).size(), 10u);  // the longer axis counts
}

TEST_F(MouseTest, DropMessagesFromOutsideMarkAndInsert) {
    Show(TLF_DRAGDROP);
    // Messages without their pointers are refused.
    const std::wstring anyPath = TempDir::WideOf(temp_ / "a.bmp");
    POINT nowhere = {0, 0};
    EXPECT_EQ(::SendMessageW(Control().ContainerWindow(), TLM_DRAGOVER, 0, 0), 0);
    EXPECT_EQ(::SendMessageW(Control().ContainerWindow(), TLM_DROP, 0,
                             reinterpret_cast<LPARAM>(anyPath.c_str())),
              0);
    EXPECT_EQ(::SendMessageW(Control().ContainerWindow(), TLM_DROP,
                             reinterpret_cast<WPARAM>(&nowhere), 0),
              0);
    ASSERT_EQ(Control().GetItemCount(), 5);

    POINT onTwo = CentreOf(2);
    ::ScreenToClient(List(), &onTwo);
    EXPECT_EQ(::SendMessageW(Control().ContainerWindow(), TLM_DRAGOVER, 0,
                             reinterpret_cast<LPARAM>(&onTwo)),
              1);
    EXPECT_EQ(Control().GetItemBorderColor(2), 0xFF0000u);
    EXPECT_EQ(Control().GetItemBorderColor(0), 0u);

    const stdfs::path extra = temp_ / "other" / "z.bmp";
    WriteBmp(extra, 30, 30, [](uint32_t, uint32_t) { return ColourOf(7); });
    POINT between = {-50, -50};  // on no item: the file goes to the end
    const std::wstring path = TempDir::WideOf(extra);
    EXPECT_EQ(
        ::SendMessageW(Control().ContainerWindow(), TLM_DROP, reinterpret_cast<WPARAM>(&between),
                       reinterpret_cast<LPARAM>(path.c_str())),
        1);
    ASSERT_EQ(Control().GetItemCount(), 6);
    EXPECT_EQ(PathOf(Control(), 5), path);
    EXPECT_EQ(ShownColour(5), Expected(7));
    for (int i = 0; i < 6; ++i) EXPECT_EQ(Control().GetItemBorderColor(i), 0u) << i;
}

TEST_F(MouseTest, MovesDuringProductionKeepEveryThumbnailWithItsRecord) {
    // Many large pictures, so the display loop is still running while items move.
    for (int i = 0; i < 5; ++i) {
        const std::string name(1, char('a' + i));
        WriteBmp(temp_ / (name + ".bmp"), 900, 700,
                 [i](uint32_t, uint32_t) { return ColourOf(i); });
    }
    ThumbListParams params = ControlHost::DialogParams();
    params.styleFlags = TLF_HORIZONTAL | TLF_BKCOLOR | TLF_DRAGDROP;
    hosted_ = std::make_unique<HostedControl>(params, 700, 140, true);
    ASSERT_EQ(Control().SetFolder(temp_.Wide().c_str(), false), 5);
    for (int round = 0; round < 12; ++round) {
        Control().MoveItem(round % 5, (round * 3 + 1) % 5, round % 2 == 0);
        ControlHost::Pump(std::chrono::milliseconds(15));
    }
    ASSERT_TRUE(WaitForThumbnails(Control()));
    ExpectThumbnailsFollowRecords();
}

TEST_F(MouseTest, ResistingPointerShowsAPreviewBesideTheItem) {
    Show(TLF_HOVER);
    HWND preview = Control().PreviewWindow();
    ASSERT_NE(preview, nullptr);
    EXPECT_FALSE(::IsWindowVisible(preview));

    Mouse(CentreOf(2));
    ASSERT_TRUE(ControlHost::PumpUntil([&] { return Control().HoverIndex() == 2; }));
    EXPECT_TRUE(::IsWindowVisible(preview));
    RECT frame;
    ::GetWindowRect(preview, &frame);
    EXPECT_EQ(frame.right - frame.left, kHoverPreviewWidth + 2);
    EXPECT_EQ(frame.bottom - frame.top, kHoverPreviewHeight + 2);
    RECT cell = ItemRect(List(), 2, LVIR_SELECTBOUNDS);
    ::MapWindowPoints(List(), nullptr, reinterpret_cast<POINT*>(&cell), 2);
    EXPECT_TRUE(frame.left >= cell.right ||
                frame.right <= cell.left);  // beside the cell, not over it
    // The picture (22 x 20, nearly square) fills the preview's height, centred.
    win::WindowDc dc(preview);
    EXPECT_EQ(::GetPixel(dc.Get(), kHoverPreviewWidth / 2, kHoverPreviewHeight / 2), Expected(2));
    EXPECT_EQ(Control().GetSelectedCount(), 0);  // resting does not select

    // Leaving the item ends the preview.
    Mouse({CentreOf(2).x, CentreOf(2).y + 300});
    ::SendMessageW(Control().ContainerWindow(), WM_MOUSEMOVE, 0, 0);
    EXPECT_EQ(Control().HoverIndex(), -1);
    EXPECT_FALSE(::IsWindowVisible(preview));
}

class SortTest : public MouseTest {
protected:
    // Pictures of the given sides (file sizes grow with them) and ages that put the five
    // files into different orders.
    void Prepare(std::array<int, 5> sides = {30, 10, 50, 20, 40}, bool waitForThumbnails = true) {
        const int ages[5] = {2, 5, 1, 4, 3};  // days back
        for (int i = 0; i < 5; ++i) {
            const std::string name(1, char('a' + i));
            const stdfs::path file = temp_ / (name + ".bmp");
            WriteBmp(file, sides[i], sides[i], [i](uint32_t, uint32_t) { return ColourOf(i); });
            const auto when =
                stdfs::file_time_type::clock::now() - std::chrono::hours(24 * ages[i]);
            stdfs::last_write_time(file, when);
        }
        ThumbListParams params = ControlHost::DialogParams();
        params.styleFlags = TLF_HORIZONTAL | TLF_BKCOLOR | TLF_HEADER;
        hosted_ = std::make_unique<HostedControl>(params, 700, 160, true);
        ASSERT_EQ(Control().SetFolder(temp_.Wide().c_str(), false), 5);
        if (waitForThumbnails) {
            ASSERT_TRUE(WaitForThumbnails(Control()));
        }
    }

    // A real click on a header column; by default after the double-click time, so that two
    // clicks stay two clicks.
    void ClickColumn(int column, bool pauseFirst = true) {
        if (pauseFirst) ControlHost::Pump(std::chrono::milliseconds(::GetDoubleClickTime() + 50));
        HWND header = Control().HeaderWindow();
        RECT r = {};
        ::SendMessageW(header, HDM_GETITEMRECT, column, reinterpret_cast<LPARAM>(&r));
        POINT p = {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
        ::ClientToScreen(header, &p);
        Mouse(p);
        Mouse(p, MOUSEEVENTF_LEFTDOWN);
        Mouse(p, MOUSEEVENTF_LEFTUP);
    }
};

TEST_F(SortTest, EachColumnKeepsItsOwnDirection) {
    Prepare();
    ClickColumn(3);  // Size, ascending
    EXPECT_EQ(Letters(), L"bdaec");
    ExpectThumbnailsFollowRecords();
    ClickColumn(3);  // Size, descending
    EXPECT_EQ(Letters(), L"ceadb");
    ClickColumn(1);  // Date: its own first click, ascending (oldest first)
    EXPECT_EQ(Letters(), L"bdeac");
    ClickColumn(0);  // Name
    EXPECT_EQ(Letters(), L"abcde");
    ExpectThumbnailsFollowRecords();
    EXPECT_TRUE(hosted_->host.Messages().empty());  // the parent is not told
}

TEST_F(SortTest, EqualKeysFollowTheQuicksortSteps) {
    // Three files of one size and two of another: a stable sort would give b d a c e.
    Prepare({20, 10, 20, 10, 20});
    ASSERT_EQ(Control().SortItems(3, true), 0);
    EXPECT_EQ(Letters(), L"dbcae");
    ExpectThumbnailsFollowRecords();
    // Columns past the fourth compare every pair equal, which leaves the order alone.
    ASSERT_EQ(Control().SortItems(7, true), 0);
    EXPECT_EQ(Letters(), L"dbcae");
}

TEST_F(SortTest, ClicksWhileThumbnailsAreMadeSortNothing) {
    std::vector<std::wstring> errors;
    SetErrorSink([&](const std::wstring& text) { errors.push_back(text); });
    for (int i = 0; i < 20; ++i) {
        WriteBmp(temp_ / ("x" + std::to_string(1000 + i) + ".bmp"), 16, 16,
                 [i](uint32_t, uint32_t) { return ColourOf(i % 5); });
    }
    ThumbListParams params = ControlHost::DialogParams();
    params.styleFlags = TLF_HORIZONTAL | TLF_BKCOLOR | TLF_HEADER;
    hosted_ = std::make_unique<HostedControl>(params, 700, 160, true);
    Control().HoldProduction(0);  // the worker stays running until released below
    ASSERT_EQ(Control().SetFolder(temp_.Wide().c_str(), false), 20);
    const auto order = [this] {
        std::vector<std::wstring> paths;
        for (int i = 0; i < Control().GetItemCount(); ++i) paths.push_back(PathOf(Control(), i));
        return paths;
    };
    const auto before = order();
    EXPECT_EQ(Control().SortItems(3, false), 1);
    ClickColumn(3, false);
    ASSERT_TRUE(Control().WorkerRunning());  // the click, too, came while it ran
    SetErrorSink(nullptr);
    EXPECT_EQ(order(), before);
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0], L"Can't sort before displaying all Images.");
    Control().HoldProduction(-1);
    ASSERT_TRUE(WaitForThumbnails(Control()));
}

}  // namespace
