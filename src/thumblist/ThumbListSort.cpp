// Sorting the records by a header column; each thumbnail travels with its record.
#include "thumblist/ThumbListCtrl.h"

#include "base/Trace.h"

#include <cwchar>
#include <map>

namespace {

// Without regard to case, as the columns compare names and types.
int CompareNoCase(const wchar_t* a, const wchar_t* b) {
    return ::_wcsicmp(a, b);
}

std::wstring FileNameOf(const wchar_t* path) {
    const wchar_t* slash = std::wcsrchr(path, L'\\');
    return slash ? std::wstring(slash + 1) : std::wstring(path);
}

const wchar_t* ExtensionOf(const wchar_t* path) {
    const wchar_t* dot = std::wcsrchr(path, L'.');
    return dot ? dot + 1 : L"";
}

}  // namespace

int ThumbListCtrl::CompareRecords(const ThumbItem* a, const ThumbItem* b, int column,
                                  bool ascending) const {
    int result = 0;
    switch (column) {
        case 0:
            result = CompareNoCase(a->path, b->path);
            break;
        case 1:
            // A 32-bit difference, as the column has always compared.
            result = static_cast<int32_t>(static_cast<uint32_t>(a->modified) -
                                          static_cast<uint32_t>(b->modified));
            break;
        case 2:
            result = CompareNoCase(ExtensionOf(a->path), ExtensionOf(b->path));
            break;
        case 3:
            result = static_cast<int32_t>(static_cast<uint32_t>(a->size) -
                                          static_cast<uint32_t>(b->size));
            break;
        default:
            return 0;
    }
    return ascending ? result : -result;
}

// The quicksort whose handling of equal records is part of the control's behaviour.
void ThumbListCtrl::Quicksort(int lo, int hi, int column, bool ascending) {
    for (;;) {
        ThumbItem* pivot = items[lo];
        int i = lo;
        int j = hi;
        while (i < j) {
            while (i < j && CompareRecords(items[j], pivot, column, ascending) >= 0) --j;
            if (i != j) items[i++] = items[j];
            while (i < j && CompareRecords(items[i], pivot, column, ascending) <= 0) ++i;
            if (i != j) items[j--] = items[i];
        }
        items[i] = pivot;
        if (lo < i) Quicksort(lo, i - 1, column, ascending);
        if (i < hi) {
            lo = i + 1;
        } else {
            return;
        }
    }
}

int ThumbListCtrl::SortItems(int column, bool ascending) {
    if (workerThread.load()) {
        ReportError(L"Can't sort before displaying all Images.");
        return 1;
    }

    // File name to image: the thumbnails cross the reordering by name.
    std::map<std::wstring, int> images;
    std::vector<ThumbItem*> snapshot;
    {
        std::lock_guard<std::recursive_mutex> guard(lock_);
        snapshot = items;
    }
    for (size_t i = 0; i < snapshot.size(); ++i) {
        if (snapshot[i]) images[FileNameOf(snapshot[i]->path)] = ListImage(static_cast<int>(i));
    }
    {
        std::lock_guard<std::recursive_mutex> guard(lock_);
        if (items.size() > 1) Quicksort(0, static_cast<int>(items.size()) - 1, column, ascending);
        snapshot = items;
    }
    for (size_t i = 0; i < snapshot.size(); ++i) {
        const auto found = images.find(FileNameOf(snapshot[i]->path));
        if (found == images.end()) continue;
        SetListImage(static_cast<int>(i), found->second);
        std::lock_guard<std::recursive_mutex> guard(lock_);
        imageOf_[snapshot[i]] = found->second;
    }
    ::SendMessageW(hwndList, LVM_REDRAWITEMS, 0, static_cast<int>(snapshot.size()) - 1);
    return 0;
}

LRESULT ThumbListCtrl::OnHeaderClick(NMHEADERW* click) {
    if (click->iButton != 0) return 0;
    wchar_t text[5] = {};
    HDITEMW column = {};
    column.mask = HDI_TEXT | HDI_LPARAM;
    column.pszText = text;
    column.cchTextMax = 5;
    ::SendMessageW(hwndHeader, HDM_GETITEMW, click->iItem, reinterpret_cast<LPARAM>(&column));
    column.lParam = column.lParam == 0 ? 1 : 0;
    column.mask = HDI_LPARAM;
    ::SendMessageW(hwndHeader, HDM_SETITEMW, click->iItem, reinterpret_cast<LPARAM>(&column));
    sortColumn = click->iItem;
    sortAscending = static_cast<int>(column.lParam);
    if (GetItemCount() > 1) SortItems(click->iItem, column.lParam != 0);
    return 0;
}
