#include "connector/devtree/tree_control_win.h"

#include <commctrl.h>

#include <vector>

namespace kx7 {
namespace {

HTREEITEM AsItem(TreeItem item) {
    return reinterpret_cast<HTREEITEM>(item);
}
TreeItem FromItem(HTREEITEM item) {
    return reinterpret_cast<TreeItem>(item);
}

}  // namespace

TreeItem Win32TreeControl::InsertItem(TreeItem parent, const std::wstring& text, int image,
                                      uintptr_t data) {
    // The control copies the text; it only needs a writable pointer by its record's type.
    std::vector<wchar_t> buffer(text.begin(), text.end());
    buffer.push_back(L'\0');
    TVINSERTSTRUCTW insert = {};
    insert.hParent = parent == 0 ? TVI_ROOT : AsItem(parent);
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_PARAM;
    insert.item.pszText = buffer.data();
    insert.item.iImage = image;
    insert.item.iSelectedImage = image;
    insert.item.lParam = static_cast<LPARAM>(data);
    return FromItem(reinterpret_cast<HTREEITEM>(
        SendMessageW(tree_, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert))));
}

bool Win32TreeControl::DeleteItem(TreeItem item) {
    return SendMessageW(tree_, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(AsItem(item))) != 0;
}

uintptr_t Win32TreeControl::GetItemData(TreeItem item) {
    TVITEMW record = {};
    record.mask = TVIF_PARAM | TVIF_HANDLE;
    record.hItem = AsItem(item);
    if (SendMessageW(tree_, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&record)) == 0) {
        return 0;
    }
    return static_cast<uintptr_t>(record.lParam);
}

TreeItem Win32TreeControl::GetChildItem(TreeItem item) {
    return FromItem(reinterpret_cast<HTREEITEM>(
        SendMessageW(tree_, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(AsItem(item)))));
}

TreeItem Win32TreeControl::GetNextSiblingItem(TreeItem item) {
    return FromItem(reinterpret_cast<HTREEITEM>(
        SendMessageW(tree_, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(AsItem(item)))));
}

bool Win32TreeControl::ItemHasChildren(TreeItem item) {
    // Asked of the control's own list, not of the item's "has children" flag, which only the
    // insertion of a child sets.
    return GetChildItem(item) != 0;
}

void Win32TreeControl::Expand(TreeItem item) {
    SendMessageW(tree_, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(AsItem(item)));
}

std::wstring TreeItemText(HWND tree, TreeItem item) {
    wchar_t buffer[520] = {};
    TVITEMW record = {};
    record.mask = TVIF_TEXT | TVIF_HANDLE;
    record.hItem = AsItem(item);
    record.pszText = buffer;
    record.cchTextMax = static_cast<int>(sizeof(buffer) / sizeof(buffer[0]));
    if (SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&record)) == 0) {
        return std::wstring();
    }
    buffer[sizeof(buffer) / sizeof(buffer[0]) - 1] = L'\0';
    return buffer;
}

}  // namespace kx7
