// Custom drawing of the cells, and the list notifications the control turns into messages
// to its parent.
#include "thumblist/ThumbListCtrl.h"

#include "base/Dpi.h"

#include <algorithm>
#include <cwchar>
#include <string>

namespace {

// The text of a path after its last backslash.
std::wstring FileNameOf(const wchar_t* path) {
    const wchar_t* slash = std::wcsrchr(path, L'\\');
    return slash ? std::wstring(slash + 1) : std::wstring();
}

// The caption cut into two lines for a cell that holds `n` average characters per line
// (n >= 4): the first n - 4 characters, then at most n - 3 more, the last three of those
// replaced by "..." when the caption goes on beyond them.
std::wstring TwoLineCaption(const std::wstring& caption, size_t n) {
    const size_t first = std::min(n - 4, caption.size());
    const size_t keep = n - 3;
    std::wstring rest = caption.substr(first);
    if (rest.size() > keep) {
        rest.resize(keep);
        if (keep >= 3) rest.replace(keep - 3, 3, L"...");
    }
    return caption.substr(0, first) + L"\n" + rest;
}

}  // namespace

LRESULT ThumbListCtrl::OnNotify(NMHDR* header) {
    if (!header) return 0;
    switch (header->code) {
        case HDN_BEGINTRACKW:
            return 1;  // column widths cannot be dragged
        case HDN_ITEMCLICKW:
            return OnHeaderClick(reinterpret_cast<NMHEADERW*>(header));
        case LVN_GETINFOTIPW:
            return OnGetInfoTip(reinterpret_cast<NMLVGETINFOTIPW*>(header));
        case LVN_KEYDOWN: {
            auto* key = reinterpret_cast<NMLVKEYDOWN*>(header);
            ::SendMessageW(::GetParent(hwndContainer), TLM_KEYDOWN, ctrlId,
                           reinterpret_cast<LPARAM>(&key->wVKey));
            return 0;
        }
        case LVN_BEGINDRAG:
            return OnBeginDrag(reinterpret_cast<NMLISTVIEW*>(header));
        case LVN_ITEMCHANGED:
            return OnItemChanged(reinterpret_cast<NMLISTVIEW*>(header));
        case NM_HOVER:
            return OnHover();
        case NM_CUSTOMDRAW:
            return OnCustomDraw(reinterpret_cast<NMLVCUSTOMDRAW*>(header));
        case NM_RCLICK:
            SendItemMessage(TLM_ITEMRCLICK, reinterpret_cast<NMITEMACTIVATE*>(header)->iItem, 0);
            return 0;
        case NM_DBLCLK:
            SendItemMessage(TLM_ITEMDBLCLK, reinterpret_cast<NMITEMACTIVATE*>(header)->iItem, 0);
            return 0;
        case NM_CLICK: {
            auto* click = reinterpret_cast<NMITEMACTIVATE*>(header);
            SendItemMessage(TLM_ITEMCLICK, click->iItem, click->uNewState);
            return 0;
        }
        default:
            return 0;
    }
}

LRESULT ThumbListCtrl::OnCustomDraw(NMLVCUSTOMDRAW* draw) {
    if (static_cast<int>(draw->nmcd.hdr.idFrom) == ctrlId + 256) return CDRF_DODEFAULT;
    switch (draw->nmcd.dwDrawStage) {
        case CDDS_PREPAINT:
            return CDRF_NOTIFYITEMDRAW;
        case CDDS_ITEMPREPAINT: {
            const int index = static_cast<int>(draw->nmcd.dwItemSpec);
            RECT bounds = {};
            bounds.left = LVIR_SELECTBOUNDS;
            ::SendMessageW(hwndList, LVM_GETITEMRECT, index, reinterpret_cast<LPARAM>(&bounds));
            if (bounds.left >= bounds.right || bounds.top >= bounds.bottom) return CDRF_SKIPDEFAULT;
            const RECT cell = {bounds.left, bounds.top, bounds.left + cellWidth,
                               bounds.top + cellHeight};
            DrawCell(draw->nmcd.hdc, index, cell, draw->nmcd.uItemState);
            return CDRF_SKIPDEFAULT;
        }
        default:
            return 0;
    }
}

void ThumbListCtrl::DrawCell(HDC target, int index, const RECT& cell, UINT itemState) {
    // The record is read, and its thumbnail drawn, under the lock the worker writes them with.
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (items.empty() || index < 0 || static_cast<size_t>(index) >= items.size() || !items[index])
        return;
    const ThumbItem& record = *items[index];

    // Composed off screen at the cell's own list coordinates, then copied in one block.
    win::MemoryDc memory(::CreateCompatibleDC(target));
    win::UniqueBitmap canvas(::CreateCompatibleBitmap(target, cell.right, cell.bottom));
    win::SelectObjectScope selectCanvas(memory.Get(), canvas.Get());
    HDC dc = memory.Get();

    const COLORREF fill = (itemState & CDIS_SELECTED) ? selectedColor : cellColor;
    const COLORREF oldBack = ::SetBkColor(dc, fill);
    ::ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &cell, L"", 0, nullptr);
    ::SetBkColor(dc, oldBack);

    const unsigned dpi = dpi_.load();
    const int penWidth = ui::Scale(record.borderWidth < 0 ? 1 : record.borderWidth, dpi);
    {
        win::UniquePen pen(::CreatePen(PS_SOLID, penWidth, record.borderColor));
        win::SelectObjectScope selectPen(dc, pen.Get());
        ::MoveToEx(dc, cell.left, cell.bottom, nullptr);
        ::LineTo(dc, cell.left, cell.top);
        ::LineTo(dc, cell.right - 1, cell.top);
    }
    {
        win::UniquePen pen(::CreatePen(PS_SOLID, penWidth, record.borderColor));
        win::SelectObjectScope selectPen(dc, pen.Get());
        ::LineTo(dc, cell.right - 1, cell.bottom - 1);
        ::LineTo(dc, cell.left, cell.bottom - 1);
    }

    int boxWidth = ui::Scale(32, dpi);
    int boxHeight = boxWidth;
    if (record.hasThumbnail) ImageList_GetIconSize(thumbImages, &boxWidth, &boxHeight);
    const int boxLeft = cell.left + ((cellWidth - boxWidth) >> 1);
    const int boxTop = cell.top + ((cellHeight - boxHeight) >> 1);
    if (record.hasThumbnail) {
        ImageList_Draw(thumbImages, ListImage(index), dc, boxLeft, boxTop, ILD_TRANSPARENT);
    } else if (placeholderIcon) {
        ::DrawIconEx(dc, boxLeft, boxTop, placeholderIcon, boxWidth, boxHeight, 0, nullptr,
                     DI_NORMAL);
    }

    win::SelectObjectScope selectFont(dc, captionFont);
    const COLORREF previousBack = ::SetBkColor(dc, cellColor);
    const COLORREF previousText = ::SetTextColor(dc, captionColor);

    if (styleFlags & TLF_NUMBERS) {
        wchar_t number[16];
        const int length = ::wsprintfW(number, L"%d", index + 1);
        RECT box = {cell.right - length - ui::Scale(15, dpi), cell.top + ui::Scale(3, dpi),
                    cell.right, cell.bottom};
        ::DrawTextW(dc, number, length, &box, DT_NOCLIP);
    }
    if (!(styleFlags & TLF_NOCAPTION)) {
        std::wstring caption = FileNameOf(record.path);
        if (styleFlags & TLF_HIDEEXT) {
            const size_t dot = caption.rfind(L'.');
            if (dot != std::wstring::npos) caption.resize(dot);
        }
        RECT band = {cell.left + ui::Scale(7, dpi), cell.bottom - ui::Scale(25, dpi),
                     cell.right - ui::Scale(7, dpi), cell.bottom - ui::Scale(1, dpi)};
        if (!(styleFlags & TLF_TWOLINES)) {
            ::DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &band,
                        DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_NOCLIP |
                            DT_WORD_ELLIPSIS);
        } else {
            TEXTMETRICW metrics = {};
            ::GetTextMetricsW(dc, &metrics);
            const int n = metrics.tmAveCharWidth > 0 ? cellWidth / metrics.tmAveCharWidth : 0;
            // Compared as unsigned numbers, so a cell narrower than three characters keeps
            // the caption on one line; so does one of three, too narrow to split.
            if (n < 4 || caption.size() <= static_cast<size_t>(static_cast<unsigned>(n - 3))) {
                ::DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &band,
                            DT_CENTER | DT_VCENTER | DT_NOPREFIX | DT_NOCLIP);
            } else {
                const std::wstring lines = TwoLineCaption(caption, static_cast<size_t>(n));
                ::OffsetRect(&band, 0, -ui::Scale(1, dpi));
                ::DrawTextW(dc, lines.c_str(), static_cast<int>(lines.size()), &band,
                            DT_CENTER | DT_VCENTER | DT_NOPREFIX | DT_NOCLIP);
            }
        }
    }

    ::SetBkColor(dc, previousBack);
    ::SetTextColor(dc, previousText);
    ::BitBlt(target, cell.left, cell.top, cell.right - cell.left, cell.bottom - cell.top, dc,
             cell.left, cell.top, SRCCOPY);
}

void ThumbListCtrl::SendItemMessage(UINT message, int index, UINT state) {
    wchar_t path[260];
    {
        std::lock_guard<std::recursive_mutex> guard(lock_);
        if (static_cast<unsigned>(index) >= items.size() || !items[index]) return;
        std::wcsncpy(path, items[index]->path, std::size(path) - 1);
        path[std::size(path) - 1] = L'\0';
    }
    if (!IsSupportedFile(path)) return;
    LVITEMW item = {};
    item.iItem = index;
    item.state = state;
    item.pszText = path;
    item.cchTextMax = static_cast<int>(std::wcslen(path));
    ::SendMessageW(::GetParent(hwndContainer), message, ctrlId, reinterpret_cast<LPARAM>(&item));
}

LRESULT ThumbListCtrl::OnItemChanged(NMLISTVIEW* change) {
    const unsigned now = change->uNewState;
    const unsigned before = change->uOldState;
    if (now > 1 && (before == 0 || before == 2)) {
        SendItemMessage(TLM_SELCHANGED, change->iItem, 1);
    } else if (now == 0 && before >= 2) {
        SendItemMessage(TLM_SELCHANGED, change->iItem, 0);
    }
    return 0;
}

LRESULT ThumbListCtrl::OnGetInfoTip(NMLVGETINFOTIPW* tip) {
    std::wstring title;
    std::wstring description;
    {
        std::lock_guard<std::recursive_mutex> guard(lock_);
        const unsigned index = static_cast<unsigned>(tip->iItem);
        if (index >= items.size() || !items[index] || !items[index]->hasThumbnail) return 0;
        title = FileNameOf(items[index]->path);
        description = items[index]->description;
    }
    if (hwndToolTip)
        ::SendMessageW(hwndToolTip, TTM_SETTITLEW, 1, reinterpret_cast<LPARAM>(title.c_str()));
    if (tip->pszText && tip->cchTextMax > 0) {
        std::wcsncpy(tip->pszText, description.c_str(), static_cast<size_t>(tip->cchTextMax) - 1);
        tip->pszText[tip->cchTextMax - 1] = L'\0';
    }
    return 0;
}
