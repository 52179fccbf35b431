// Row drawing: each row is composed off-screen, on a surface kept between draws, and only the
// part it painted is copied to the list in one blit.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <string>

#include "framework/gbk_text.h"
#include "skin/offscreen.h"
#include "tasklist/mavrin_list.h"
#include "tasklist/row_format.h"

namespace {
constexpr size_t kCellTextMaxBytes = 29;
constexpr UINT kCentred = DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS;
constexpr UINT kRight = DT_RIGHT | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS;
// The last row also paints the empty part of the list below it, up to this many client heights.
constexpr int kLastRowReach = 5;
constexpr int kEnterButtonIndent = 20;

void DrawGbk(HDC dc, std::string text, const RECT& cell, UINT format) {
    if (text.size() > kCellTextMaxBytes) text.resize(kCellTextMaxBytes);
    std::wstring wide = GbkToWide(text);
    RECT rect = cell;
    ::DrawTextW(dc, wide.c_str(), static_cast<int>(wide.size()), &rect, format);
}

void FillSolid(HDC dc, const RECT& rect, COLORREF colour) {
    ScopedBrush brush(::CreateSolidBrush(colour));
    ::FillRect(dc, &rect, brush.Get());
}
}  // namespace

void CMavrinDlg::DrawCellText(HDC dc, int row, int column, const RECT& cell, UINT format) {
    DrawGbk(dc, GetItemText(row, column), cell, format);
}

void CMavrinDlg::DrawPhaseText(HDC dc, int row, int phase, const RECT& cell) {
    DrawGbk(dc, SizeCellText(phase, GetItemText(row, kColumnSize)), cell, kCentred);
}

void CMavrinDlg::DrawProgressCell(HDC dc, int row, int phase, const RECT& cell) {
    const int percent = m_mapPercent[row];
    if (phase == kRowPhaseFailed) {
        DrawGbk(dc, kFailedRowText, cell, kCentred);
        return;
    }
    CImage* fill = nullptr;
    if (phase == 0)
        fill = &m_imgFillDownload;
    else if (phase == 1 || phase == 2)
        fill = &m_imgFillInstall;
    if (fill == nullptr || fill->IsEmpty() || m_imgBar.IsEmpty()) return;
    const int y = CentredTop(cell.top, cell.bottom, fill->Height());
    m_imgBar.Draw(dc, cell.left, y);
    const int tiles = BarTileCount(percent, m_imgBar.Width(), fill->Width());
    for (int i = 0; i < tiles; ++i) fill->Draw(dc, cell.left + 1 + i * fill->Width(), y);
    DrawGbk(dc, PercentText(percent), cell, kRight);
}

void CMavrinDlg::PlaceButtons(int row, int offset, const RECT& item, int column) {
    KvButton* button = column == kColumnEnterGame ? GetEnterButton(row) : GetCancelButton(row);
    if (button == nullptr || button->GetSafeHwnd() == nullptr) return;
    RECT client{};
    ::GetClientRect(button->GetSafeHwnd(), &client);
    const int y = CentredTop(item.top, item.bottom, client.bottom);
    if (column == kColumnEnterGame) {
        button->SetPosition(item.left + offset + kEnterButtonIndent, y);
    } else {
        // Centred between the cell's left edge and the end of the row.
        const int x = item.left + offset + static_cast<int>((item.right - item.left - offset - client.right) / 2.0);
        button->SetPosition(x, y);
    }
    // A row being placed is in view: its cancel button shows, its enter-game button when its
    // task can be entered.
    const bool show = column != kColumnEnterGame || IsEnterShown(row);
    const bool shown = (::GetWindowLongPtrW(button->GetSafeHwnd(), GWL_STYLE) & WS_VISIBLE) != 0;
    if (show != shown) button->ShowWindow(show ? SW_SHOW : SW_HIDE);
}

void CMavrinDlg::HideSurplusButtons() {
    const int count = GetItemCount();
    for (auto* buttons : {&m_mapCancelButtons, &m_mapEnterButtons}) {
        if (static_cast<int>(buttons->size()) < count) continue;
        for (int i = count; i < static_cast<int>(buttons->size()); ++i) ShowButton(*buttons, i, SW_HIDE);
    }
}

void CMavrinDlg::CreateRowButtons(int row) {
    for (bool enter : {true, false}) {
        std::unique_ptr<KvButton>& button = (enter ? m_mapEnterButtons : m_mapCancelButtons)[row];
        if (button) continue;
        button = std::make_unique<KvButton>();
        RECT empty = {0, 0, 0, 0};
        // Hidden until the row places it.
        if (button->Create("Caption", WS_CHILD, empty, m_hWnd, static_cast<UINT>(row))) {
            if (enter)
                button->LoadSkin(m_hEnterSkinInst, m_nEnterSkinId);
            else
                button->LoadSkin(m_hCancelSkinInst, m_nCancelSkinId);
        }
    }
}

void CMavrinDlg::ComposeRowButton(HDC dc, int row, bool enter) {
    KvButton* button = enter ? GetEnterButton(row) : GetCancelButton(row);
    if (button == nullptr) return;
    HWND hwnd = button->GetSafeHwnd();
    if (hwnd == nullptr || !::IsWindowVisible(hwnd)) return;
    RECT rect{};
    ::GetWindowRect(hwnd, &rect);
    ::MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&rect), 2);
    button->DrawTo(dc, rect.left, rect.top);
}

void CMavrinDlg::DrawItem(const DRAWITEMSTRUCT& item) {
    if (item.CtlType != ODT_LISTVIEW) return;
    const int row = static_cast<int>(item.itemID);
    // A row scrolled up under the header is drawn when its old place is invalidated (a text
    // change does that); nothing of it shows, and placing its buttons would put them over the
    // header, where every repaint of the row repaints them and the header again.
    const RECT rowArea = RowArea();
    if (item.rcItem.bottom <= rowArea.top) return;
    const bool last = row == GetItemCount() - 1;
    RECT area{};
    ::GetClientRect(m_hWnd, &area);
    const int clientHeight = area.bottom - area.top;
    if (last) area.bottom = kLastRowReach * area.bottom - (kLastRowReach - 1) * area.top;

    // One size for every row (the last row's reach), so the surface is made once.
    const int width = area.right - area.left;
    const int height = kLastRowReach * clientHeight;
    if (!m_surface || m_surface->Width() != width || m_surface->Height() != height) {
        m_surface = std::make_unique<COffscreen>(item.hDC, width, height);
    }
    COffscreen& surface = *m_surface;
    if (!surface.IsValid()) return;
    HDC dc = surface.Dc();
    // Only the row (and, for the last row, the area below it) is painted and copied, across
    // the whole width: the list starts its items a little right of its edge, and nothing else
    // paints that strip. Nothing below the client area can show, so nothing there is painted.
    RECT painted = {area.left, item.rcItem.top, area.right, last ? area.bottom : item.rcItem.bottom};
    painted.bottom = std::min<LONG>(painted.bottom, area.top + clientHeight);
    {
        ScopedSelectObject font(dc, m_font.Get());

        COLORREF text = 0;
        COLORREF back = 0;
        GetItemColors(text, back, 0, (item.itemState & ODS_SELECTED) != 0);
        ::SetBkColor(dc, back);
        ::SetTextColor(dc, text);

        const RECT& r = item.rcItem;
        FillSolid(dc, RECT{painted.left, r.top, painted.right, r.bottom}, row % 2 ? m_clrRowOdd : m_clrRowEven);
        if (last && painted.bottom > r.bottom)
            FillSolid(dc, RECT{painted.left, r.bottom, painted.right, painted.bottom}, m_clrRowOdd);

        CreateRowButtons(row);
        const int phase = GetItemPhase(row);
        HWND header = reinterpret_cast<HWND>(::SendMessageW(m_hWnd, LVM_GETHEADER, 0, 0));
        const int columns = header ? static_cast<int>(::SendMessageW(header, HDM_GETITEMCOUNT, 0, 0)) : 0;
        int offset = 0;
        for (int k = 0; k < columns; ++k) {
            const int width = GetColumnWidth(k);
            const RECT cell = {r.left + offset, r.top, r.left + offset + width, r.bottom};
            if (k == m_nProgressColumn) {
                DrawProgressCell(dc, row, phase, cell);
            } else if (k == kColumnEnterGame || k == kColumnCancel) {
                const bool hasButton = k == kColumnEnterGame ? GetEnterButton(row) != nullptr
                                                             : GetCancelButton(row) != nullptr;
                if (hasButton)
                    PlaceButtons(row, offset, r, k);
                else
                    DrawCellText(dc, row, k, cell, kCentred);
            } else if (k == kColumnSize) {
                DrawPhaseText(dc, row, phase, cell);
            } else {
                DrawCellText(dc, row, k, cell, kCentred);
            }
            offset += width;
        }

        HideSurplusButtons();
        ComposeRowButton(dc, row, true);
        ComposeRowButton(dc, row, false);
    }
    // The row fills every pixel of its part (backgrounds first, buttons composed onto them),
    // so a plain copy is enough.
    if (painted.bottom > painted.top)
        ::BitBlt(item.hDC, painted.left, painted.top, painted.right - painted.left, painted.bottom - painted.top, dc,
                 painted.left, painted.top, SRCCOPY);
}
