// The operations an owner steers the list with: selection, deselection, cell borders, and
// emptying the control, also while it is still making thumbnails.
#include "thumblist/ThumbListCtrl.h"

#include "ControlFixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace {

using testing_support::ControlHost;
using testing_support::HostedControl;
using testing_support::ItemRect;
using testing_support::ItemState;
using testing_support::ParentMessage;
using testing_support::TempDir;

constexpr UINT kSelectedFocused = LVIS_SELECTED | LVIS_FOCUSED;

void WritePictures(const TempDir& temp, int count, int side) {
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "pic%03d.bmp", i);
        testing_support::WriteBmp(temp / name, side, side, [i](uint32_t x, uint32_t y) {
            return testing_support::Rgb{uint8_t(x + i), uint8_t(y * 3), uint8_t(i * 7)};
        });
    }
}

// Twelve pictures in a horizontal list one full column wide and two rows high: items 0 to
// 3 are in view (the second column partly), item 4 on is not. Multiple selection, so ranges
// can be selected.
struct SteeredControl {
    explicit SteeredControl(bool visible = false) : hosted(Params(), 210, 250, visible) {
        WritePictures(temp, 12, 16);
        count = hosted.control.SetFolder(temp.Wide().c_str(), false);
        ready = testing_support::WaitForThumbnails(hosted.control);
        hosted.host.Messages().clear();
    }
    static ThumbListParams Params() {
        ThumbListParams params = ControlHost::DialogParams();
        params.styleFlags = TLF_HORIZONTAL | TLF_BKCOLOR;
        return params;
    }
    ThumbListCtrl& Control() { return hosted.control; }
    HWND List() const { return hosted.List(); }
    std::vector<ParentMessage>& Messages() { return hosted.host.Messages(); }

    // Whether any part of item `index` lies in the list's client area.
    bool InView(int index) const {
        RECT client, bounds = ItemRect(List(), index, LVIR_BOUNDS), overlap;
        ::GetClientRect(List(), &client);
        return ::IntersectRect(&overlap, &client, &bounds) != FALSE;
    }
    // The (item, state) pairs of the selection messages received.
    std::vector<std::pair<int, UINT>> Selections() {
        std::vector<std::pair<int, UINT>> pairs;
        for (const ParentMessage& message : hosted.host.Of(TLM_SELCHANGED))
            pairs.emplace_back(message.item, message.state);
        return pairs;
    }

    TempDir temp;
    HostedControl hosted;
    int count = 0;
    bool ready = false;
};

using Pairs = std::vector<std::pair<int, UINT>>;

TEST(ThumbListOps, SelectingOneItemFocusesItAndScrollsItIntoView) {
    SteeredControl steered;
    ASSERT_EQ(steered.count, 12);
    ASSERT_TRUE(steered.ready);
    ASSERT_EQ(steered.Control().GetItemCount(), 12);
    ASSERT_FALSE(steered.InView(4));

    testing_support::MessageSpy scrolls(steered.List(), LVM_ENSUREVISIBLE);
    steered.Control().SelectItems(4, -1);
    EXPECT_EQ(steered.Selections(), (Pairs{{4, 1}}));
    // Scrolled so that the item shows, be it only in part.
    EXPECT_EQ(scrolls.seen, (std::vector<std::pair<WPARAM, LPARAM>>{{4, TRUE}}));
    EXPECT_EQ(ItemState(steered.List(), 4), kSelectedFocused);
    EXPECT_EQ(steered.Control().GetSelectedCount(), 1);
    EXPECT_TRUE(steered.InView(4));
    EXPECT_EQ(::GetFocus(), steered.List());
}

TEST(ThumbListOps, ALastIndexBelowTheFirstSelectsTheFirstOnly) {
    SteeredControl steered;
    ASSERT_TRUE(steered.ready);
    steered.Control().SelectItems(5, 3);
    EXPECT_EQ(steered.Selections(), (Pairs{{5, 1}}));
    EXPECT_EQ(steered.Control().GetSelectedCount(), 1);
    EXPECT_EQ(steered.Control().GetNextSelected(-1), 5);
    EXPECT_EQ(steered.Control().GetNextSelected(5), -1);
    EXPECT_EQ(ItemState(steered.List(), 3), 0u);
    EXPECT_TRUE(steered.InView(5));
}

TEST(ThumbListOps, ARangeIsSelectedInOrderAndItsLastItemShown) {
    SteeredControl steered;
    ASSERT_TRUE(steered.ready);
    ASSERT_FALSE(steered.InView(9));
    testing_support::MessageSpy scrolls(steered.List(), LVM_ENSUREVISIBLE);
    steered.Control().SelectItems(7, 9);
    EXPECT_EQ(scrolls.seen, (std::vector<std::pair<WPARAM, LPARAM>>{{9, TRUE}}));
    EXPECT_EQ(steered.Selections(), (Pairs{{7, 1}, {8, 1}, {9, 1}}));
    // The focus moves on with each item; the selection stays.
    EXPECT_EQ(ItemState(steered.List(), 7), UINT{LVIS_SELECTED});
    EXPECT_EQ(ItemState(steered.List(), 8), UINT{LVIS_SELECTED});
    EXPECT_EQ(ItemState(steered.List(), 9), kSelectedFocused);
    EXPECT_EQ(steered.Control().GetSelectedCount(), 3);
    EXPECT_EQ(steered.Control().GetNextSelected(-1), 7);
    EXPECT_EQ(steered.Control().GetNextSelected(7), 8);
    EXPECT_EQ(steered.Control().GetNextSelected(9), -1);
    EXPECT_TRUE(steered.InView(9));
}

TEST(ThumbListOps, SelectingClearsCutAndDropHighlight) {
    SteeredControl steered;
    ASSERT_TRUE(steered.ready);
    testing_support::SetState(steered.List(), 2, LVIS_CUT | LVIS_DROPHILITED);
    testing_support::SetState(steered.List(), 3, LVIS_CUT | LVIS_DROPHILITED);
    steered.Control().SelectItems(2, -1);
    EXPECT_EQ(ItemState(steered.List(), 2), kSelectedFocused);
    steered.Control().DeselectItems(3, -1);
    EXPECT_EQ(ItemState(steered.List(), 3), 0u);
}

TEST(ThumbListOps, DeselectingARangeReportsEachItemAndScrollsNothing) {
    SteeredControl steered;
    ASSERT_TRUE(steered.ready);
    steered.Control().SelectItems(0, 5);
    steered.Messages().clear();
    const RECT before = ItemRect(steered.List(), 0, LVIR_BOUNDS);
    const HWND other = ::CreateWindowExW(0, L"BUTTON", L"", WS_CHILD, 0, 0, 5, 5,
                                         steered.hosted.host.Window(), nullptr, nullptr, nullptr);
    ::SetFocus(other);

    testing_support::MessageSpy scrolls(steered.List(), LVM_ENSUREVISIBLE);
    steered.Control().DeselectItems(0, 2);
    EXPECT_TRUE(scrolls.seen.empty());
    EXPECT_EQ(steered.Selections(), (Pairs{{0, 0}, {1, 0}, {2, 0}}));
    for (int i = 0; i < 3; ++i) EXPECT_EQ(ItemState(steered.List(), i), 0u) << i;
    EXPECT_EQ(steered.Control().GetSelectedCount(), 3);
    EXPECT_EQ(::GetFocus(), steered.List());
    const RECT after = ItemRect(steered.List(), 0, LVIR_BOUNDS);
    EXPECT_EQ(after.left, before.left);
    EXPECT_EQ(after.top, before.top);

    steered.Messages().clear();
    steered.Control().DeselectItems(5, 3);  // the first only
    EXPECT_EQ(steered.Selections(), (Pairs{{5, 0}}));
    EXPECT_EQ(ItemState(steered.List(), 4), UINT{LVIS_SELECTED});
    EXPECT_EQ(ItemState(steered.List(), 3), UINT{LVIS_SELECTED});
}

TEST(ThumbListOps, BordersBelongToExistingRecordsOnly) {
    SteeredControl steered;
    ASSERT_TRUE(steered.ready);
    for (int i = 0; i < steered.count; ++i)
        EXPECT_EQ(steered.Control().GetItemBorderColor(i), COLORREF{0}) << i;
    EXPECT_EQ(steered.Control().GetItemBorderColor(steered.count), static_cast<COLORREF>(-1));
    EXPECT_EQ(steered.Control().GetItemBorderColor(-1), static_cast<COLORREF>(-1));

    steered.Control().SetItemBorder(2, RGB(0, 255, 0), 2);
    EXPECT_EQ(steered.Control().GetItemBorderColor(2), RGB(0, 255, 0));
    ThumbItem record;
    ASSERT_TRUE(steered.Control().ItemSnapshot(2, record));
    EXPECT_EQ(record.borderWidth, 2);

    steered.Control().SetItemBorder(steered.count, RGB(255, 0, 0), 5);
    steered.Control().SetItemBorder(-1, RGB(255, 0, 0), 5);
    for (int i = 0; i < steered.count; ++i) {
        ASSERT_TRUE(steered.Control().ItemSnapshot(i, record));
        EXPECT_EQ(record.borderColor, i == 2 ? RGB(0, 255, 0) : COLORREF{0}) << i;
        EXPECT_EQ(record.borderWidth, i == 2 ? 2 : -1) << i;
    }
    EXPECT_EQ(steered.Control().GetItemBorderColor(steered.count), static_cast<COLORREF>(-1));
}

// The part of the list waiting to be painted, or an empty rectangle.
RECT UpdateRect(HWND list) {
    RECT update = {};
    if (!::GetUpdateRect(list, &update, FALSE)) return RECT{};
    return update;
}

bool NothingToPaint(HWND list) {
    const RECT update = UpdateRect(list);
    return ::IsRectEmpty(&update) != FALSE;
}

TEST(ThumbListOps, ABorderChangeRepaintsItsCell) {
    // Update regions exist only for windows on screen.
    SteeredControl steered(true);
    ASSERT_TRUE(steered.ready);
    const HWND list = steered.List();
    ::UpdateWindow(steered.hosted.host.Window());
    ::ValidateRect(list, nullptr);
    ASSERT_TRUE(NothingToPaint(list));

    steered.Control().SetItemBorder(steered.count, RGB(0, 0, 255), 2);
    EXPECT_TRUE(NothingToPaint(list));

    steered.Control().SetItemBorder(1, RGB(0, 0, 255), 2);
    RECT client, expected;
    ::GetClientRect(list, &client);
    const RECT bounds = ItemRect(list, 1, LVIR_BOUNDS);
    ::IntersectRect(&expected, &client, &bounds);
    const RECT update = UpdateRect(list);
    EXPECT_TRUE(::EqualRect(&update, &expected))
        << update.left << "," << update.top << "," << update.right << "," << update.bottom;
}

TEST(ThumbListOps, ResetEmptiesTheControl) {
    SteeredControl steered;
    ASSERT_TRUE(steered.ready);
    steered.Control().SelectItems(1, -1);
    steered.Control().SetItemBorder(1, RGB(1, 1, 1), 1);
    steered.Control().Reset();
    EXPECT_EQ(steered.Control().GetItemCount(), 0);
    EXPECT_EQ(ImageList_GetImageCount(steered.Control().ThumbImages()), 0);
    ThumbItem record;
    EXPECT_FALSE(steered.Control().ItemSnapshot(0, record));
    EXPECT_EQ(steered.Control().GetItemBorderColor(1), static_cast<COLORREF>(-1));
    EXPECT_EQ(steered.Control().GetSelectedCount(), 0);

    // The control is ready for the next folder.
    EXPECT_EQ(steered.Control().SetFolder(steered.temp.Wide().c_str(), false), 12);
    ASSERT_TRUE(testing_support::WaitForThumbnails(steered.Control()));
    EXPECT_EQ(ImageList_GetImageCount(steered.Control().ThumbImages()), 12);
}

TEST(ThumbListOps, ResetStopsAScanThatIsStillMakingThumbnails) {
    TempDir many;
    WritePictures(many, 60, 160);
    SteeredControl steered;
    ASSERT_TRUE(steered.ready);

    steered.Control().HoldProduction(0);
    ASSERT_EQ(steered.Control().SetFolder(many.Wide().c_str(), false), 60);
    ASSERT_TRUE(steered.Control().WorkerRunning());
    steered.Control().Reset();
    EXPECT_FALSE(steered.Control().WorkerRunning());
    EXPECT_EQ(steered.Control().PendingCount(), 0u);
    EXPECT_EQ(steered.Control().GetItemCount(), 0);
    EXPECT_EQ(ImageList_GetImageCount(steered.Control().ThumbImages()), 0);

    // Nothing of the stopped scan arrives later.
    ControlHost::Pump(std::chrono::milliseconds(200));
    EXPECT_EQ(steered.Control().GetItemCount(), 0);
    EXPECT_EQ(ImageList_GetImageCount(steered.Control().ThumbImages()), 0);
    ThumbItem record;
    EXPECT_FALSE(steered.Control().ItemSnapshot(0, record));

    steered.Control().HoldProduction(-1);
    EXPECT_EQ(steered.Control().SetFolder(steered.temp.Wide().c_str(), false), 12);
    ASSERT_TRUE(testing_support::WaitForThumbnails(steered.Control()));
    for (int i = 0; i < 12; ++i) {
        ASSERT_TRUE(steered.Control().ItemSnapshot(i, record));
        EXPECT_EQ(record.hasThumbnail, 1) << i;
    }
}

}  // namespace
