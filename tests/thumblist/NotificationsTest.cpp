// What the control tells its parent: selection changes, clicks, keys, and the info tips it
// fills for the list.
#include "thumblist/ThumbListCtrl.h"

#include "ControlFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cwchar>
#include <string>
#include <vector>

namespace {

using testing_support::ControlHost;
using testing_support::HostedControl;
using testing_support::ItemRect;
using testing_support::Notification;
using testing_support::NotifySpy;
using testing_support::ParentMessage;
using testing_support::PathOf;
using testing_support::SetState;
using testing_support::TempDir;

// Six pictures and a file that cannot be decoded, in a control with the dialog's flags (or
// others), all thumbnails made, the parent's record empty.
struct NotifyingControl {
    explicit NotifyingControl(unsigned flags = ControlHost::DialogParams().styleFlags)
        : hosted(Params(flags), 500, 250), spy(hosted.container) {
        for (int i = 0; i < 6; ++i) {
            testing_support::WriteSolidBmp(temp / ("p" + std::to_string(i) + ".bmp"), 30, 20,
                                           {uint8_t(40 * i), 90, 160});
        }
        testing_support::WriteFile(temp / "broken.bmp", "not a picture");
        count = hosted.control.SetFolder(temp.Wide().c_str(), false);
        ready = testing_support::WaitForThumbnails(hosted.control);
        Clear();
    }
    static ThumbListParams Params(unsigned flags) {
        ThumbListParams params = ControlHost::DialogParams();
        params.styleFlags = flags;
        return params;
    }
    void Clear() {
        hosted.host.Messages().clear();
        spy.Seen().clear();
    }
    std::vector<ParentMessage>& Messages() { return hosted.host.Messages(); }
    HWND List() const { return hosted.List(); }
    ThumbListCtrl& Control() { return hosted.control; }

    TempDir temp;
    HostedControl hosted;
    NotifySpy spy;
    int count = 0;
    bool ready = false;
};

// Checks one message about an item: the control's id, the item, the state, and an item
// record that carries nothing but the index, the state and the full path.
void ExpectItemMessage(const ParentMessage& message, UINT kind, int item, UINT state,
                       const std::wstring& path) {
    EXPECT_EQ(message.message, kind);
    EXPECT_EQ(message.wParam, WPARAM{1000});
    EXPECT_EQ(message.item, item);
    EXPECT_EQ(message.state, state);
    EXPECT_EQ(message.path, path);
    EXPECT_EQ(message.textMax, static_cast<int>(path.size()));
    EXPECT_EQ(message.mask, 0u);
    EXPECT_EQ(message.subItem, 0);
    EXPECT_EQ(message.stateMask, 0u);
    EXPECT_EQ(message.image, 0);
    EXPECT_EQ(message.param, LPARAM{0});
    EXPECT_EQ(message.indent, 0);
}

// Sends the container a list notification of a state change, as the list would.
void ReportChange(NotifyingControl& listed, int item, UINT from, UINT to) {
    NMLISTVIEW change = {};
    change.hdr.hwndFrom = listed.List();
    change.hdr.idFrom = 1257;
    change.hdr.code = LVN_ITEMCHANGED;
    change.iItem = item;
    change.uOldState = from;
    change.uNewState = to;
    change.uChanged = LVIF_STATE;
    EXPECT_EQ(
        ::SendMessageW(listed.hosted.container, WM_NOTIFY, 1257, reinterpret_cast<LPARAM>(&change)),
        0);
}

TEST(ThumbListNotifications, OnlyGainingOrLosingTheSelectionIsReported) {
    NotifyingControl listed;
    ASSERT_TRUE(listed.ready);
    constexpr UINT F = LVIS_FOCUSED, S = LVIS_SELECTED;
    constexpr int kNone = -1;
    struct Change {
        UINT from, to;
        int reported;  // the state of TLM_SELCHANGED, or kNone
    };
    const Change changes[] = {
        {0, S | F, 1},     {S, S | F, 1},     {0, S, 1},     {F, S | F, kNone},
        {S | F, S, kNone}, {S | F, F, kNone}, {S | F, 0, 0}, {S, 0, 0},
        {0, F, kNone},     {F, 0, kNone},     {F, S, kNone}, {S, F, kNone},
    };
    const int item = 2;
    const std::wstring path = PathOf(listed.Control(), item);
    for (const Change& change : changes) {
        SCOPED_TRACE(std::to_string(change.from) + " -> " + std::to_string(change.to));
        listed.Clear();
        ReportChange(listed, item, change.from, change.to);
        if (change.reported == kNone) {
            EXPECT_TRUE(listed.Messages().empty());
        } else {
            ASSERT_EQ(listed.Messages().size(), 1u);
            ExpectItemMessage(listed.Messages()[0], TLM_SELCHANGED, item,
                              static_cast<UINT>(change.reported), path);
        }
    }
    // Changes of items the control has no record of are dropped.
    listed.Clear();
    ReportChange(listed, -1, 0, S | F);
    ReportChange(listed, listed.count, 0, S | F);
    EXPECT_TRUE(listed.Messages().empty());
}

TEST(ThumbListNotifications, StatesSetOnTheListAreReportedAsTheTableSays) {
    // Without single selection, so that every state can be set on its own.
    NotifyingControl listed(TLF_HORIZONTAL | TLF_BKCOLOR);
    ASSERT_TRUE(listed.ready);
    const HWND list = listed.List();
    const std::wstring path = PathOf(listed.Control(), 3);

    SetState(list, 3, LVIS_FOCUSED);
    EXPECT_TRUE(listed.Messages().empty());
    SetState(list, 3, 0);
    EXPECT_TRUE(listed.Messages().empty());

    SetState(list, 3, LVIS_SELECTED);
    ASSERT_EQ(listed.Messages().size(), 1u);
    ExpectItemMessage(listed.Messages()[0], TLM_SELCHANGED, 3, 1, path);

    listed.Clear();
    SetState(list, 3, 0);
    ASSERT_EQ(listed.Messages().size(), 1u);
    ExpectItemMessage(listed.Messages()[0], TLM_SELCHANGED, 3, 0, path);
}

TEST(ThumbListNotifications, SelectingAnotherItemReportsTheChangesInTheListsOrder) {
    NotifyingControl listed;
    ASSERT_EQ(listed.count, 7);
    ASSERT_TRUE(listed.ready);
    const std::wstring first = PathOf(listed.Control(), 1), second = PathOf(listed.Control(), 4);
    ASSERT_EQ(first.rfind(listed.temp.Wide() + L"\\", 0), 0u);

    listed.Control().SelectItems(1, -1);
    ASSERT_EQ(listed.Messages().size(), 1u);
    ExpectItemMessage(listed.Messages()[0], TLM_SELCHANGED, 1, 1, first);

    listed.Clear();
    listed.Control().SelectItems(4, -1);
    EXPECT_EQ(testing_support::ItemState(listed.List(), 1), 0u);
    EXPECT_EQ(testing_support::ItemState(listed.List(), 4), UINT{LVIS_SELECTED | LVIS_FOCUSED});
    // The old item is reported as deselected only when the list reports it losing selection
    // and focus in one change (Wine takes the selection first, then the focus, and neither
    // of those is a deselection); the new item's selection always comes last.
    bool oldItemDeselectedAtOnce = false;
    for (const Notification& change : listed.spy.Of(LVN_ITEMCHANGED)) {
        oldItemDeselectedAtOnce |=
            change.item == 1 && change.newState == 0 && change.oldState >= LVIS_SELECTED;
    }
    ASSERT_EQ(listed.Messages().size(), oldItemDeselectedAtOnce ? 2u : 1u);
    if (oldItemDeselectedAtOnce)
        ExpectItemMessage(listed.Messages()[0], TLM_SELCHANGED, 1, 0, first);
    ExpectItemMessage(listed.Messages().back(), TLM_SELCHANGED, 4, 1, second);
}

TEST(ThumbListNotifications, FilesNoLongerAcceptedAreNotReported) {
    NotifyingControl listed;
    ASSERT_TRUE(listed.ready);
    listed.Control().SetFileTypes(L"png", false);
    listed.Control().SelectItems(3, -1);
    ASSERT_EQ(listed.spy.Of(LVN_ITEMCHANGED).size(), 1u);
    EXPECT_TRUE(listed.Messages().empty());
}

TEST(ThumbListNotifications, KeysAreReportedWithTheirVirtualKey) {
    HostedControl empty(ControlHost::DialogParams(), 300, 200);
    ::SendMessageW(empty.List(), WM_KEYDOWN, VK_F5, 0);
    ASSERT_EQ(empty.host.Messages().size(), 1u);
    EXPECT_EQ(empty.host.Messages()[0].message, TLM_KEYDOWN);
    EXPECT_EQ(empty.host.Messages()[0].wParam, WPARAM{1000});
    EXPECT_EQ(empty.host.Messages()[0].key, WORD{VK_F5});

    NotifyingControl listed;
    ASSERT_TRUE(listed.ready);
    ::SendMessageW(listed.List(), WM_KEYDOWN, 'Q', 0);
    ::SendMessageW(listed.List(), WM_KEYDOWN, VK_NEXT, 0);
    const std::vector<ParentMessage> keys = listed.hosted.host.Of(TLM_KEYDOWN);
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_EQ(keys[0].key, WORD{'Q'});
    EXPECT_EQ(keys[1].key, WORD{VK_NEXT});
}

// Mouse input as the list receives it. The list tracks a right button press until the
// button goes up, so the release is queued first.
void Click(HWND list, POINT at) {
    const LPARAM where = MAKELPARAM(at.x, at.y);
    ::SendMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, where);
    ::SendMessageW(list, WM_LBUTTONUP, 0, where);
}

void DoubleClick(HWND list, POINT at) {
    Click(list, at);
    const LPARAM where = MAKELPARAM(at.x, at.y);
    ::SendMessageW(list, WM_LBUTTONDBLCLK, MK_LBUTTON, where);
    ::SendMessageW(list, WM_LBUTTONUP, 0, where);
}

void RightClick(HWND list, POINT at) {
    const LPARAM where = MAKELPARAM(at.x, at.y);
    ::PostMessageW(list, WM_RBUTTONUP, 0, where);
    ::SendMessageW(list, WM_RBUTTONDOWN, MK_RBUTTON, where);
    ControlHost::PumpUntil([] { return false; }, std::chrono::milliseconds(20));
}

POINT CentreOf(HWND list, int index) {
    const RECT bounds = ItemRect(list, index, LVIR_BOUNDS);
    return {(bounds.left + bounds.right) / 2, (bounds.top + bounds.bottom) / 2};
}

TEST(ThumbListNotifications, ClicksOnItemsAreReported) {
    NotifyingControl listed;
    ASSERT_TRUE(listed.ready);
    const HWND list = listed.List();
    const int item = 5;
    const std::wstring path = PathOf(listed.Control(), item);

    Click(list, CentreOf(list, item));
    std::vector<Notification> clicks = listed.spy.Of(NM_CLICK);
    ASSERT_EQ(clicks.size(), 1u);
    ASSERT_EQ(clicks[0].item, item);
    std::vector<ParentMessage> reported = listed.hosted.host.Of(TLM_ITEMCLICK);
    ASSERT_EQ(reported.size(), 1u);
    ExpectItemMessage(reported[0], TLM_ITEMCLICK, item, clicks[0].newState, path);

    listed.Clear();
    DoubleClick(list, CentreOf(list, item));
    ASSERT_EQ(listed.spy.Of(NM_DBLCLK).size(), 1u);
    reported = listed.hosted.host.Of(TLM_ITEMDBLCLK);
    ASSERT_EQ(reported.size(), 1u);
    ExpectItemMessage(reported[0], TLM_ITEMDBLCLK, item, 0, path);

    listed.Clear();
    RightClick(list, CentreOf(list, item));
    ASSERT_EQ(listed.spy.Of(NM_RCLICK).size(), 1u);
    reported = listed.hosted.host.Of(TLM_ITEMRCLICK);
    ASSERT_EQ(reported.size(), 1u);
    ExpectItemMessage(reported[0], TLM_ITEMRCLICK, item, 0, path);
}

TEST(ThumbListNotifications, ClicksBesideTheItemsAreNotReported) {
    NotifyingControl listed;
    ASSERT_TRUE(listed.ready);
    const HWND list = listed.List();
    // Right of the last column of cells.
    LONG right = 0;
    for (int i = 0; i < listed.count; ++i)
        right = std::max(right, ItemRect(list, i, LVIR_BOUNDS).right);
    RECT client;
    ::GetClientRect(list, &client);
    ASSERT_LT(right + 10, client.right);
    const POINT beside = {right + 10, 20};

    Click(list, beside);
    DoubleClick(list, beside);
    RightClick(list, beside);
    // The list did report the clicks, on no item.
    ASSERT_FALSE(listed.spy.Of(NM_CLICK).empty());
    ASSERT_FALSE(listed.spy.Of(NM_DBLCLK).empty());
    ASSERT_FALSE(listed.spy.Of(NM_RCLICK).empty());
    for (const UINT code : {UINT(NM_CLICK), UINT(NM_DBLCLK), UINT(NM_RCLICK)}) {
        for (const Notification& click : listed.spy.Of(code)) EXPECT_EQ(click.item, -1);
    }
    EXPECT_TRUE(listed.Messages().empty());
}

// Asks the container for an item's tip, as the list does; `text` receives it.
LRESULT AskForTip(NotifyingControl& listed, int item, wchar_t* text, int capacity) {
    NMLVGETINFOTIPW tip = {};
    tip.hdr.hwndFrom = listed.List();
    tip.hdr.idFrom = 1257;
    tip.hdr.code = LVN_GETINFOTIPW;
    tip.pszText = text;
    tip.cchTextMax = capacity;
    tip.iItem = item;
    return ::SendMessageW(listed.hosted.container, WM_NOTIFY, 1257, reinterpret_cast<LPARAM>(&tip));
}

// Records the titles the list's tooltip is given (Wine's tooltip does not hand them back).
class TitleSpy {
public:
    explicit TitleSpy(HWND tooltip) : tooltip_(tooltip) {
        ::SetWindowSubclass(tooltip_, &Proc, 1, reinterpret_cast<DWORD_PTR>(this));
    }
    ~TitleSpy() { ::RemoveWindowSubclass(tooltip_, &Proc, 1); }
    TitleSpy(const TitleSpy&) = delete;
    TitleSpy& operator=(const TitleSpy&) = delete;

    struct Title {
        WPARAM icon;
        std::wstring text;
    };
    std::vector<Title> titles;

private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                 DWORD_PTR self) {
        if (message == TTM_SETTITLEW) {
            reinterpret_cast<TitleSpy*>(self)->titles.push_back(
                {wParam, lParam ? reinterpret_cast<const wchar_t*>(lParam) : L""});
        }
        return ::DefSubclassProc(window, message, wParam, lParam);
    }
    HWND tooltip_;
};

TEST(ThumbListNotifications, InfoTipsDescribeItemsThatHaveAThumbnail) {
    NotifyingControl listed;
    ASSERT_TRUE(listed.ready);
    const HWND tooltip =
        reinterpret_cast<HWND>(::SendMessageW(listed.List(), LVM_GETTOOLTIPS, 0, 0));
    ASSERT_NE(tooltip, nullptr);
    TitleSpy spy(tooltip);
    wchar_t text[INFOTIPSIZE];

    // No thumbnail, or no such item: the tip is left as it is.
    const int broken = testing_support::IndexOfFile(listed.Control(), L"broken.bmp");
    ThumbItem record;
    ASSERT_TRUE(listed.Control().ItemSnapshot(broken, record));
    ASSERT_EQ(record.hasThumbnail, 0);
    for (const int item : {broken, -1, listed.count}) {
        SCOPED_TRACE(item);
        std::wcscpy(text, L"untouched");
        EXPECT_EQ(AskForTip(listed, item, text, INFOTIPSIZE), 0);
        EXPECT_STREQ(text, L"untouched");
    }
    EXPECT_TRUE(spy.titles.empty());

    // The file name as the tip's title with the information icon, the description as its text.
    const int item = testing_support::IndexOfFile(listed.Control(), L"p3.bmp");
    ASSERT_TRUE(listed.Control().ItemSnapshot(item, record));
    ASSERT_EQ(record.hasThumbnail, 1);
    ASSERT_NE(record.description[0], L'\0');
    std::wcscpy(text, L"untouched");
    EXPECT_EQ(AskForTip(listed, item, text, INFOTIPSIZE), 0);
    EXPECT_STREQ(text, record.description);
    ASSERT_EQ(spy.titles.size(), 1u);
    EXPECT_EQ(spy.titles[0].icon, WPARAM{TTI_INFO});
    EXPECT_EQ(spy.titles[0].text, L"p3.bmp");
    EXPECT_TRUE(listed.Messages().empty());
}

TEST(ThumbListNotifications, HeaderColumnsCannotBeResized) {
    HostedControl hosted(NotifyingControl::Params(TLF_HEADER | TLF_BKCOLOR), 400, 200);
    const HWND header = hosted.control.HeaderWindow();
    ASSERT_NE(header, nullptr);
    NMHEADERW track = {};
    track.hdr.hwndFrom = header;
    track.hdr.idFrom = 1256;
    track.hdr.code = HDN_BEGINTRACKW;
    track.iItem = 1;
    EXPECT_EQ(::SendMessageW(hosted.container, WM_NOTIFY, 1256, reinterpret_cast<LPARAM>(&track)),
              1);
    // Through the header itself: a press on a divider starts no tracking.
    HDITEMW column = {};
    column.mask = HDI_WIDTH;
    ::SendMessageW(header, HDM_GETITEMW, 0, reinterpret_cast<LPARAM>(&column));
    const int before = column.cxy;
    RECT first = {};
    ::SendMessageW(header, HDM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&first));
    ::SendMessageW(header, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(first.right - 1, 5));
    ::SendMessageW(header, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(first.right + 40, 5));
    ::SendMessageW(header, WM_LBUTTONUP, 0, MAKELPARAM(first.right + 40, 5));
    ::SendMessageW(header, HDM_GETITEMW, 0, reinterpret_cast<LPARAM>(&column));
    EXPECT_EQ(column.cxy, before);
    EXPECT_TRUE(hosted.host.Messages().empty());
}

}  // namespace
