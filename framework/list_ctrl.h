#pragma once
// The common controls' report list view. Texts are GBK; they reach the control through the
// wide messages so Chinese shows whatever the ANSI code page is.
#include <string>

#include "framework/wnd.h"

class CListCtrl : public CWnd {
public:
    int InsertColumn(int column, const std::string& heading, int format, int width);
    int InsertItem(int row, const std::string& text);
    bool DeleteItem(int row);
    int GetItemCount() const;
    bool SetItemText(int row, int column, const std::string& text);
    std::string GetItemText(int row, int column) const;
    bool SetItemState(int row, UINT state, UINT mask);
    UINT GetItemState(int row, UINT mask) const;
    bool EnsureVisible(int row, bool partialOk);
    bool SetColumnWidth(int column, int width);
    int GetColumnWidth(int column) const;
};
