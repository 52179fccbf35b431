#include "framework/list_ctrl.h"

#include <commctrl.h>

#include <vector>

#include "framework/gbk_text.h"

int CListCtrl::InsertColumn(int column, const std::string& heading, int format, int width) {
    std::wstring text = GbkToWide(heading);
    LVCOLUMNW lvc = {};
    lvc.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    lvc.fmt = format;
    lvc.cx = width;
    lvc.pszText = &text[0];
    lvc.iSubItem = column;
    return static_cast<int>(SendMessage(LVM_INSERTCOLUMNW, column, reinterpret_cast<LPARAM>(&lvc)));
}

int CListCtrl::InsertItem(int row, const std::string& text) {
    std::wstring wide = GbkToWide(text);
    LVITEMW item = {};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.pszText = &wide[0];
    return static_cast<int>(SendMessage(LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
}

bool CListCtrl::DeleteItem(int row) { return SendMessage(LVM_DELETEITEM, row) != 0; }

int CListCtrl::GetItemCount() const { return static_cast<int>(SendMessage(LVM_GETITEMCOUNT)); }

bool CListCtrl::SetItemText(int row, int column, const std::string& text) {
    std::wstring wide = GbkToWide(text);
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = &wide[0];
    return SendMessage(LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item)) != 0;
}

std::string CListCtrl::GetItemText(int row, int column) const {
    std::vector<wchar_t> buffer(512, L'\0');
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = buffer.data();
    item.cchTextMax = static_cast<int>(buffer.size());
    int length = static_cast<int>(SendMessage(LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item)));
    return WideToGbk(std::wstring(buffer.data(), static_cast<size_t>(length)));
}

bool CListCtrl::SetItemState(int row, UINT state, UINT mask) {
    LVITEMW item = {};
    item.state = state;
    item.stateMask = mask;
    return SendMessage(LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item)) != 0;
}

UINT CListCtrl::GetItemState(int row, UINT mask) const {
    return static_cast<UINT>(SendMessage(LVM_GETITEMSTATE, row, mask));
}

bool CListCtrl::EnsureVisible(int row, bool partialOk) { return SendMessage(LVM_ENSUREVISIBLE, row, partialOk) != 0; }

bool CListCtrl::SetColumnWidth(int column, int width) { return SendMessage(LVM_SETCOLUMNWIDTH, column, width) != 0; }

int CListCtrl::GetColumnWidth(int column) const { return static_cast<int>(SendMessage(LVM_GETCOLUMNWIDTH, column)); }
