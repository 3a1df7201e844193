// The operations an owner steers the list with: counts, selection, borders, emptying.
#include "thumblist/ThumbListCtrl.h"

int ThumbListCtrl::ListImage(int index) const {
    LVITEMW item = {};
    item.mask = LVIF_IMAGE;
    item.iItem = index;
    ::SendMessageW(hwndList, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    return item.iImage;
}

void ThumbListCtrl::SetListImage(int index, int image) const {
    LVITEMW item = {};
    item.mask = LVIF_IMAGE;
    item.iItem = index;
    item.iImage = image;
    ::SendMessageW(hwndList, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
}

int ThumbListCtrl::GetItemCount() const {
    return static_cast<int>(::SendMessageW(hwndList, LVM_GETITEMCOUNT, 0, 0));
}

int ThumbListCtrl::GetSelectedCount() const {
    return static_cast<int>(::SendMessageW(hwndList, LVM_GETSELECTEDCOUNT, 0, 0));
}

int ThumbListCtrl::GetNextSelected(int start) const {
    return static_cast<int>(::SendMessageW(hwndList, LVM_GETNEXTITEM, start, LVNI_SELECTED));
}

void ThumbListCtrl::SelectItems(int first, int last) {
    if (last == -1 || last < first) last = first;
    for (int i = first; i <= last; ++i) {
        LVITEMW state = {};
        state.state = LVIS_SELECTED | LVIS_FOCUSED;
        state.stateMask = 0xF;
        ::SendMessageW(hwndList, LVM_SETITEMSTATE, i, reinterpret_cast<LPARAM>(&state));
    }
    ::SetFocus(hwndList);
    ::SendMessageW(hwndList, LVM_ENSUREVISIBLE, last, TRUE);
}

void ThumbListCtrl::DeselectItems(int first, int last) {
    if (last == -1 || last < first) last = first;
    for (int i = first; i <= last; ++i) {
        LVITEMW state = {};
        state.stateMask = 0xF;
        ::SendMessageW(hwndList, LVM_SETITEMSTATE, i, reinterpret_cast<LPARAM>(&state));
    }
    ::SetFocus(hwndList);
}

void ThumbListCtrl::SetItemBorder(int index, COLORREF color, int width) {
    RECT bounds = {};
    bounds.left = LVIR_BOUNDS;
    ::SendMessageW(hwndList, LVM_GETITEMRECT, index, reinterpret_cast<LPARAM>(&bounds));
    {
        std::lock_guard<std::recursive_mutex> guard(lock_);
        if (index < 0 || static_cast<size_t>(index) >= items.size() || !items[index]) return;
        items[index]->borderColor = color;
        items[index]->borderWidth = width;
    }
    ::InvalidateRect(hwndList, &bounds, FALSE);
}

COLORREF ThumbListCtrl::GetItemBorderColor(int index) const {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (index < 0 || static_cast<size_t>(index) >= items.size() || !items[index])
        return static_cast<COLORREF>(-1);
    return items[index]->borderColor;
}

void ThumbListCtrl::Reset() {
    if (HANDLE worker = workerThread.load()) {
        // The monitor keeps the handle open until it has waited for this worker itself.
        StopWork();
        ::WaitForSingleObject(worker, INFINITE);
    }
    ::SendMessageW(hwndList, LVM_DELETEALLITEMS, 0, 0);
    ::SendMessageW(hwndList, LVM_SETITEMCOUNT, 0, 0);
    {
        std::lock_guard<std::recursive_mutex> guard(lock_);
        for (ThumbItem* record : items) delete record;
        items.clear();
        imageOf_.clear();
        pending.clear();
        ImageList_Remove(thumbImages, -1);
        imageSlots_ = 0;
    }
    ::InvalidateRect(hwndList, nullptr, TRUE);
}
