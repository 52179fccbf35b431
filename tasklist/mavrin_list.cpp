#include "tasklist/mavrin_list.h"

#include <commctrl.h>

#include <algorithm>
#include <cwchar>
#include <iterator>
#include <vector>

#include "framework/gbk_text.h"
#include "skin/skin_font.h"
#include "tasklist/message_filter.h"
#include "tasklist/row_format.h"

namespace {
// A size from a download thread: wParam the row, lParam the size in KB.
constexpr UINT kSetSizeMessage = WM_APP + 1;
// Reflected owner-draw messages, as a parent that reflects them sends them back to the list.
constexpr UINT kReflectBase = WM_USER + 0x1C00;
// Clicks this close to an enter-game button count as clicks on it: the button is small.
constexpr int kEnterButtonSlack = 10;

KvButton* FindButton(const std::map<int, std::unique_ptr<KvButton>>& buttons, int row) {
    auto found = buttons.find(row);
    return found == buttons.end() ? nullptr : found->second.get();
}

// The first visible button, in row order, whose window rectangle grown by `slack` contains
// `point` (edges included).
bool HitsVisibleButton(const std::map<int, std::unique_ptr<KvButton>>& buttons, POINT point, int slack) {
    for (const auto& entry : buttons) {
        const KvButton* button = entry.second.get();
        if (!button || !button->GetSafeHwnd() || !::IsWindowVisible(button->GetSafeHwnd())) continue;
        RECT rect{};
        ::GetWindowRect(button->GetSafeHwnd(), &rect);
        ::InflateRect(&rect, slack, slack);
        if (point.x >= rect.left && point.x <= rect.right && point.y >= rect.top && point.y <= rect.bottom)
            return true;
    }
    return false;
}
}  // namespace

CMavrinDlg::CMavrinDlg() : m_font(CreateSkinFont()) {}

CMavrinDlg::~CMavrinDlg() {
    if (m_bFiltered) TaskListMessageFilter::Unregister(this);
    // Buttons first: they are child windows of the list and destroy their own windows.
    m_mapCancelButtons.clear();
    m_mapEnterButtons.clear();
}

void CMavrinDlg::SetColors(COLORREF clrRowOdd, COLORREF clrRowEven, COLORREF clrText, COLORREF clrSelBack,
                           COLORREF clrSelText, const char*) {
    m_clrRowOdd = clrRowOdd;
    m_clrRowEven = clrRowEven;
    m_clrText = clrText;
    m_clrSelBack = clrSelBack;
    m_clrSelText = clrSelText;
}

void CMavrinDlg::LoadBarImages(HINSTANCE instance, UINT barId, UINT fillDownloadId, UINT fillInstallId) {
    m_imgBar.LoadFromId(instance, barId);
    m_imgFillDownload.LoadFromId(instance, fillDownloadId);
    m_imgFillInstall.LoadFromId(instance, fillInstallId);
}

void CMavrinDlg::SetHeaderSkin(HINSTANCE instance, UINT backId, UINT backAltId, COLORREF clrBack,
                               COLORREF clrText, int mode, UINT dividerId) {
    m_header.SetSkin(instance, backId, backAltId, clrBack, clrText, mode, dividerId);
}

void CMavrinDlg::SetCancelButtonSkin(HINSTANCE instance, UINT id) {
    m_hCancelSkinInst = instance;
    m_nCancelSkinId = id;
}

void CMavrinDlg::SetEnterButtonSkin(HINSTANCE instance, UINT id) {
    m_hEnterSkinInst = instance;
    m_nEnterSkinId = id;
}

void CMavrinDlg::SetRowHeight(int height) {
    m_nRowHeight = height;
    if (m_hWnd == nullptr) return;
    RECT window{};
    ::GetWindowRect(m_hWnd, &window);
    WINDOWPOS pos = {};
    pos.hwnd = m_hWnd;
    pos.cx = window.right - window.left;
    pos.cy = window.bottom - window.top;
    pos.flags = SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOOWNERZORDER;
    // The list view measures owner-drawn rows again when its position changes.
    SendMessage(WM_WINDOWPOSCHANGED, 0, reinterpret_cast<LPARAM>(&pos));
}

void CMavrinDlg::SetItemSize(int row, int kb) {
    if (m_hWnd == nullptr) return;
    ::PostMessageW(m_hWnd, kSetSizeMessage, static_cast<WPARAM>(row), static_cast<LPARAM>(kb));
}

void CMavrinDlg::SetItemSpeed(int row, float kbPerSecond) {
    if (kbPerSecond != m_fLastSpeed) {
        m_fLastSpeed = kbPerSecond;
        // A 0 would be written and emptied at once: each text change repaints the row (and the
        // buttons and header over it), ten times a second for every waiting row.
        if (kbPerSecond != 0.0f) SetItemText(row, kColumnSpeed, SpeedText(kbPerSecond));
    }
    if (kbPerSecond == 0.0f) SetItemText(row, kColumnSpeed, "");
}

void CMavrinDlg::SetItemProgress(int row, float fraction) {
    if (row != m_nCurRow) {
        SetCurrentRow(row);
        // A refresh sets every row in turn and only the last one's selection is ever seen: it
        // is made once, before the list handles anything that could show or read it.
        m_nSelectionDue = row;
    }
    m_mapPercent[row] = ProgressPercent(fraction);
    WakeRedrawTimer();
}

void CMavrinDlg::SetItemPhase(int row, int phase) {
    {
        std::lock_guard<std::mutex> lock(m_phaseMutex);
        if (phase != 0) {
            m_mapPhase[row] = phase;
        } else {
            m_mapPhase.erase(row);
        }
    }
    WakeRedrawTimer();
}

int CMavrinDlg::GetItemPhase(int row) const {
    std::lock_guard<std::mutex> lock(m_phaseMutex);
    auto found = m_mapPhase.find(row);
    return found == m_mapPhase.end() ? 0 : found->second;
}

int CMavrinDlg::GetItemPercent(int row) const {
    auto found = m_mapPercent.find(row);
    return found == m_mapPercent.end() ? -1 : found->second;
}

void CMavrinDlg::ShowEnterButton(int row) {
    if (row < 0) return;
    WakeRedrawTimer();
    m_setEnterRows.insert(row);
    PlaceAllButtons();
}

void CMavrinDlg::HideEnterButton(int row) {
    WakeRedrawTimer();
    m_setEnterRows.erase(row);
    PlaceAllButtons();
}

void CMavrinDlg::HideCancelButton(int row) {
    WakeRedrawTimer();
    ShowButton(m_mapCancelButtons, row, SW_HIDE);
}

void CMavrinDlg::OnRowDeleted(int row) {
    // The rows below move up, each with its own task's state.
    std::set<int> moved;
    for (int entry : m_setEnterRows) {
        if (entry < row) moved.insert(entry);
        if (entry > row) moved.insert(entry - 1);
    }
    m_setEnterRows.swap(moved);
    WakeRedrawTimer();
    PlaceAllButtons();
}

void CMavrinDlg::OnRowInserted(int row) {
    std::set<int> moved;
    for (int entry : m_setEnterRows) moved.insert(entry < row ? entry : entry + 1);
    m_setEnterRows.swap(moved);
}

RECT CMavrinDlg::RowArea() const {
    RECT area{};
    ::GetClientRect(m_hWnd, &area);
    HWND header = reinterpret_cast<HWND>(::SendMessageW(m_hWnd, LVM_GETHEADER, 0, 0));
    RECT headerRect{};
    if (header != nullptr && ::IsWindowVisible(header) && ::GetWindowRect(header, &headerRect)) {
        ::MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&headerRect), 2);
        area.top = std::max(area.top, headerRect.bottom);
    }
    return area;
}

void CMavrinDlg::PlaceAllButtons() {
    if (m_hWnd == nullptr) return;
    const int count = GetItemCount();
    const RECT area = RowArea();
    for (const auto& entry : m_mapCancelButtons) PlaceButton(entry.first, entry.second.get(), kColumnCancel, count, area);
    for (const auto& entry : m_mapEnterButtons)
        PlaceButton(entry.first, entry.second.get(), kColumnEnterGame, count, area);
}

void CMavrinDlg::PlaceButton(int row, KvButton* button, int column, int count, const RECT& rowArea) {
    if (button == nullptr || button->GetSafeHwnd() == nullptr) return;
    bool show = row < count && (column != kColumnEnterGame || IsEnterShown(row));
    RECT item = {LVIR_BOUNDS, 0, 0, 0};
    if (show) {
        SendMessage(LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
        // A row scrolled out of view keeps its buttons out of sight, not where it used to be.
        show = item.bottom > rowArea.top && item.top < rowArea.bottom;
    }
    if (show) {
        int offset = 0;
        for (int k = 0; k < column; ++k) offset += GetColumnWidth(k);
        PlaceButtons(row, offset, item, column);
    }
    // The window's own flag: IsWindowVisible would also ask the (maybe hidden) parents.
    const bool shown = (::GetWindowLongPtrW(button->GetSafeHwnd(), GWL_STYLE) & WS_VISIBLE) != 0;
    if (shown != show) button->ShowWindow(show ? SW_SHOW : SW_HIDE);
}

void CMavrinDlg::ShowButton(const std::map<int, std::unique_ptr<KvButton>>& buttons, int row, int command) {
    auto found = buttons.find(row);
    if (found != buttons.end() && found->second) found->second->ShowWindow(command);
}

KvButton* CMavrinDlg::GetEnterButton(int row) const { return FindButton(m_mapEnterButtons, row); }

KvButton* CMavrinDlg::GetCancelButton(int row) const { return FindButton(m_mapCancelButtons, row); }

bool CMavrinDlg::GetItemColors(COLORREF& text, COLORREF& back, int, bool selected) const {
    text = selected ? m_clrSelText : m_clrText;
    back = selected ? m_clrSelBack : m_clrRowOdd;
    return true;
}

BOOL CMavrinDlg::OnDrawItem(const DRAWITEMSTRUCT* item) {
    if (item == nullptr) return FALSE;
    if (item->CtlType == ODT_LISTVIEW) {
        // Taken before the draw: a phase the worker changes meanwhile is then drawn again.
        const int row = static_cast<int>(item->itemID);
        m_mapDrawnLook[row] = CurrentLook(row, (item->itemState & ODS_SELECTED) != 0, row == GetItemCount() - 1);
    }
    DrawItem(*item);
    return TRUE;
}

bool CMavrinDlg::RowLook::operator==(const RowLook& other) const {
    return phase == other.phase && percent == other.percent && text == other.text &&
           enterState == other.enterState && cancelState == other.cancelState && last == other.last;
}

bool CMavrinDlg::ListLayout::operator==(const ListLayout& other) const {
    return count == other.count && top == other.top && ::EqualRect(&client, &other.client);
}

CMavrinDlg::RowLook CMavrinDlg::CurrentLook(int row, bool selected, bool last) const {
    RowLook look;
    look.phase = GetItemPhase(row);
    look.percent = std::max(0, GetItemPercent(row));  // a row without a percent draws 0
    COLORREF back = 0;
    GetItemColors(look.text, back, 0, selected);  // the background colour is never painted
    auto buttonState = [](const KvButton* button) {
        return button && ::IsWindowVisible(button->GetSafeHwnd()) ? button->GetState() : -1;
    };
    look.enterState = buttonState(GetEnterButton(row));
    look.cancelState = buttonState(GetCancelButton(row));
    look.last = last;
    return look;
}

CMavrinDlg::ListLayout CMavrinDlg::CurrentLayout() const {
    ListLayout layout;
    layout.count = GetItemCount();
    layout.top = static_cast<int>(::SendMessageW(m_hWnd, LVM_GETTOPINDEX, 0, 0));
    ::GetClientRect(m_hWnd, &layout.client);
    return layout;
}

void CMavrinDlg::OnMeasureItem(MEASUREITEMSTRUCT* item) {
    if (item != nullptr && m_nRowHeight != 0) item->itemHeight = static_cast<UINT>(m_nRowHeight);
}

void CMavrinDlg::PreSubclassWindow() {
    AttachHeader();
    if (!m_bFiltered) {
        TaskListMessageFilter::Register(this);
        m_bFiltered = true;
    }
    CListCtrl::PreSubclassWindow();
}

void CMavrinDlg::AttachHeader() {
    HWND header = reinterpret_cast<HWND>(::SendMessageW(m_hWnd, LVM_GETHEADER, 0, 0));
    if (header != nullptr && m_header.GetSafeHwnd() == nullptr) m_header.SubclassWindow(header);
}

bool CMavrinDlg::OwnsWindow(HWND hwnd) const { return hwnd == m_hWnd || ::IsChild(m_hWnd, hwnd); }

void CMavrinDlg::SelectDueRow() {
    const int row = m_nSelectionDue;
    m_nSelectionDue = -1;  // first: SelectOnly's own messages come back here
    if (row >= GetItemCount()) return;
    if (GetItemState(row, LVIS_SELECTED) == 0 || SendMessage(LVM_GETSELECTEDCOUNT) != 1) SelectOnly(row);
}

LRESULT CMavrinDlg::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    // Setting a row's texts neither shows nor reads the selection; anything else may.
    if (m_nSelectionDue >= 0 && message != LVM_SETITEMTEXTW && message != LVM_GETITEMTEXTW &&
        message != LVM_GETITEMCOUNT)
        SelectDueRow();
    switch (message) {
    case WM_ERASEBKGND:
        return 1;  // rows and the area below them are painted by DrawItem
    case WM_SHOWWINDOW: {
        LRESULT result = DefWindowProc(message, wParam, lParam);
        AttachHeader();
        return result;
    }
    case kSetSizeMessage:
        SetItemText(static_cast<int>(wParam), kColumnSize, SizeText(static_cast<int>(lParam)));
        return 0;
    case WM_TIMER:
        if (wParam == kTaskListRedrawTimer) {
            OnRedrawTimer();
            return 0;
        }
        break;
    case WM_MOUSEMOVE:
        OnMouseMove(lParam);
        break;
    case WM_MOUSELEAVE:
        return 0;
    case LVM_SETITEMTEXTW:
        if (HasItemText(static_cast<int>(wParam), reinterpret_cast<const LVITEMW*>(lParam))) return TRUE;
        break;
    case LVM_DELETEITEM: {
        const LRESULT deleted = DefWindowProc(message, wParam, lParam);
        if (deleted) OnRowDeleted(static_cast<int>(wParam));
        return deleted;
    }
    case LVM_DELETEALLITEMS: {
        const LRESULT deleted = DefWindowProc(message, wParam, lParam);
        if (deleted) {
            m_setEnterRows.clear();
            PlaceAllButtons();
        }
        return deleted;
    }
    case LVM_INSERTITEMA:
    case LVM_INSERTITEMW: {
        const LRESULT row = DefWindowProc(message, wParam, lParam);
        if (row >= 0) OnRowInserted(static_cast<int>(row));
        return row;
    }
    case WM_VSCROLL:
    case WM_MOUSEWHEEL:
    case WM_KEYDOWN:
    case WM_SIZE:
    case LVM_ENSUREVISIBLE:
    case LVM_SCROLL: {
        // The list view scrolls its rows but leaves child windows where they are.
        const LRESULT top = ::SendMessageW(m_hWnd, LVM_GETTOPINDEX, 0, 0);
        const LRESULT result = DefWindowProc(message, wParam, lParam);
        if (::SendMessageW(m_hWnd, LVM_GETTOPINDEX, 0, 0) != top || message == WM_SIZE) PlaceAllButtons();
        return result;
    }
    case WM_NOTIFY: {
        // Swallowing the header's drag moves is not enough where the header applies the
        // width at button-up: refuse the tracking itself, so no column is ever resized.
        const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header && header->hwndFrom == m_header.GetSafeHwnd() && header->hwndFrom != nullptr &&
            (header->code == HDN_BEGINTRACKW || header->code == HDN_BEGINTRACKA))
            return TRUE;
        break;
    }
    case kReflectBase + WM_MEASUREITEM:
        OnMeasureItem(reinterpret_cast<MEASUREITEMSTRUCT*>(lParam));
        return TRUE;
    case kReflectBase + WM_DRAWITEM:
        return OnDrawItem(reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
    case WM_NCDESTROY:
        if (m_bFiltered) {
            TaskListMessageFilter::Unregister(this);
            m_bFiltered = false;
        }
        break;
    default:
        break;
    }
    return DefWindowProc(message, wParam, lParam);
}

void CMavrinDlg::OnMouseMove(LPARAM lParam) {
    if (m_bTrackMouse) {
        TRACKMOUSEEVENT track = {sizeof track, TME_HOVER | TME_LEAVE, m_hWnd, HOVER_DEFAULT};
        ::_TrackMouseEvent(&track);
        m_bTrackMouse = false;
    }
    LVHITTESTINFO hit = {};
    hit.pt.x = static_cast<short>(LOWORD(lParam));
    hit.pt.y = static_cast<short>(HIWORD(lParam));
    ::SendMessageW(m_hWnd, LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit));
    m_nHotRow = hit.iItem;
    if (!m_mapCancelButtons.empty() || !m_mapEnterButtons.empty()) SetCurrentRow(m_nHotRow);
}

bool CMavrinDlg::HasItemText(int row, const LVITEMW* item) const {
    if (item == nullptr || item->pszText == nullptr || item->pszText == LPSTR_TEXTCALLBACKW) return false;
    if (row < 0 || row >= GetItemCount()) return false;
    wchar_t current[512] = {};
    LVITEMW query = {};
    query.iSubItem = item->iSubItem;
    query.pszText = current;
    query.cchTextMax = static_cast<int>(std::size(current));
    const LRESULT length = ::SendMessageW(m_hWnd, LVM_GETITEMTEXTW, static_cast<WPARAM>(row),
                                          reinterpret_cast<LPARAM>(&query));
    // A text that filled the buffer may go on beyond it: treat it as different.
    return length < static_cast<LRESULT>(std::size(current)) - 1 && std::wcscmp(current, item->pszText) == 0;
}

std::vector<int> CMavrinDlg::SelectedRows() const {
    // Usually the one row selected last; otherwise (a click selected another) ask the list.
    const int count = static_cast<int>(::SendMessageW(m_hWnd, LVM_GETSELECTEDCOUNT, 0, 0));
    if (count == 0) return {};
    if (count == 1 && m_nSelectedRow >= 0 && GetItemState(m_nSelectedRow, LVIS_SELECTED) != 0) return {m_nSelectedRow};
    std::vector<int> rows;
    for (int row = -1; (row = static_cast<int>(::SendMessageW(m_hWnd, LVM_GETNEXTITEM, static_cast<WPARAM>(row),
                                                              LVNI_SELECTED))) >= 0;)
        rows.push_back(row);
    return rows;
}

bool CMavrinDlg::IsRowShown(int row) const {
    const int top = static_cast<int>(::SendMessageW(m_hWnd, LVM_GETTOPINDEX, 0, 0));
    const int page = static_cast<int>(::SendMessageW(m_hWnd, LVM_GETCOUNTPERPAGE, 0, 0));
    return row >= top && row <= top + page;  // the last one may show in part
}

void CMavrinDlg::SelectOnly(int row) {
    // Clearing only the rows that are selected ends as clearing them all does, without a call
    // for every row of a long list.
    const std::vector<int> selected = SelectedRows();
    bool shown = IsRowShown(row);
    for (int other : selected) shown = shown || IsRowShown(other);
    ScopedRegion pending(::CreateRectRgn(0, 0, 0, 0));
    const int before = shown ? ::GetUpdateRgn(m_hWnd, pending.Get(), FALSE) : NULLREGION;
    for (int other : selected)
        if (other != row) SetItemState(other, 0, LVIS_SELECTED);
    SetItemState(row, LVIS_SELECTED, LVIS_SELECTED);
    m_nSelectedRow = row;
    if (!shown) return;  // the list's repaint of rows out of sight paints nothing
    // Put back what was waiting to be painted before, and only that.
    ::ValidateRect(m_hWnd, nullptr);
    if (before != NULLREGION && before != ERROR) ::InvalidateRgn(m_hWnd, pending.Get(), FALSE);
}

void CMavrinDlg::SetCurrentRow(int row) {
    m_nCurRow = row;
    if (row >= 0) WakeRedrawTimer();
}

void CMavrinDlg::WakeRedrawTimer() {
    if (!m_bTimerResting || m_hWnd == nullptr || m_nCurRow < 0) return;
    // A timer belongs to its window's thread; other threads' changes reach the rows through
    // the dialog's refresh, which runs here.
    if (::GetWindowThreadProcessId(m_hWnd, nullptr) != ::GetCurrentThreadId()) return;
    SetTimer(kTaskListRedrawTimer, kTaskListRedrawPeriodMs);
    m_bTimerResting = false;
}

void CMavrinDlg::RestRedrawTimer() {
    KillTimer(kTaskListRedrawTimer);
    m_bTimerResting = true;
}

void CMavrinDlg::OnRedrawTimer() {
    if (m_nCurRow < 0) {
        // Each tick wakes the program; an idle list would pay for a hundred a second.
        RestRedrawTimer();
        return;
    }
    const int count = GetItemCount();
    if (count <= 0) return;
    // Selecting every row in turn ends with the last row selected, and only that end state is
    // ever painted: go there directly, without a round of state changes at every tick.
    const int last = count - 1;
    if (GetItemState(last, LVIS_SELECTED) == 0 || SendMessage(LVM_GETSELECTEDCOUNT) != 1) SelectOnly(last);

    // Rows moved (inserted, deleted, scrolled) or the list changed size: repaint them all, which
    // also places every row's buttons again.
    const ListLayout layout = CurrentLayout();
    if (!(layout == m_drawnLayout)) {
        m_drawnLayout = layout;
        PlaceAllButtons();
        InvalidateRows(0, last, count);
        return;
    }
    // Otherwise only the visible rows whose look changed since they were drawn. The row buttons
    // are composed into the rows as they draw, so their own windows need no repaint.
    const int top = std::max(0, layout.top);
    const int visible = static_cast<int>(SendMessage(LVM_GETCOUNTPERPAGE)) + 1;  // and a partial one
    bool changed = false;
    for (int row = top; row <= std::min(last, top + visible); ++row) {
        const RowLook look = CurrentLook(row, row == last, row == last);
        auto drawn = m_mapDrawnLook.find(row);
        if (drawn != m_mapDrawnLook.end() && drawn->second == look) continue;
        InvalidateRows(row, row, count);
        // The paint it asked for shows this look at the latest (a hidden list paints once shown).
        m_mapDrawnLook[row] = look;
        changed = true;
    }
    // Nothing changed since the last tick: rest until a row is set or the pointer moves, so a
    // list whose rows change ten times a second wakes about that often, not a hundred times.
    if (!changed) RestRedrawTimer();
}

void CMavrinDlg::InvalidateRows(int first, int last, int count) {
    RECT top = {LVIR_BOUNDS, 0, 0, 0};
    RECT bottom = {LVIR_BOUNDS, 0, 0, 0};
    SendMessage(LVM_GETITEMRECT, static_cast<WPARAM>(first), reinterpret_cast<LPARAM>(&top));
    SendMessage(LVM_GETITEMRECT, static_cast<WPARAM>(last), reinterpret_cast<LPARAM>(&bottom));
    // The row colour runs across the whole width, and the last row also paints the empty part
    // of the list below it.
    RECT client{};
    ::GetClientRect(m_hWnd, &client);
    RECT rows = {client.left, top.top, client.right, last == count - 1 ? std::max(bottom.bottom, client.bottom)
                                                                         : bottom.bottom};
    ::RedrawWindow(m_hWnd, &rows, nullptr, RDW_INVALIDATE | RDW_NOCHILDREN);
}

bool CMavrinDlg::PreTranslateMessage(MSG* msg) {
    if (msg == nullptr) return true;
    // The pointer, a key or a button's own timer may change a row's hover or button frame.
    if ((msg->message >= WM_MOUSEFIRST && msg->message <= WM_MOUSELAST) ||
        (msg->message >= WM_NCMOUSEMOVE && msg->message <= WM_NCMBUTTONDBLCLK) ||
        (msg->message >= WM_KEYFIRST && msg->message <= WM_KEYLAST) || msg->message == WM_MOUSELEAVE ||
        msg->message == WM_NCMOUSELEAVE || msg->message == WM_MOUSEHOVER ||
        (msg->message == WM_TIMER && !(msg->hwnd == m_hWnd && msg->wParam == kTaskListRedrawTimer))) {
        WakeRedrawTimer();
    }
    if (msg->message == WM_LBUTTONDOWN) {
        POINT point = {static_cast<short>(LOWORD(msg->lParam)), static_cast<short>(HIWORD(msg->lParam))};
        ::ClientToScreen(msg->hwnd, &point);
        const HWND notify = m_pNotifyWnd ? m_pNotifyWnd->GetSafeHwnd() : nullptr;
        if (notify && HitsVisibleButton(m_mapCancelButtons, point, 0))
            ::PostMessageW(notify, kTaskListNotifyMessage, kTaskListCancelRow, m_nHotRow);
        if (notify && HitsVisibleButton(m_mapEnterButtons, point, kEnterButtonSlack))
            ::PostMessageW(notify, kTaskListNotifyMessage, kTaskListEnterGame, m_nHotRow);
        return false;  // the button still shows its pressed state
    }
    // Dragging in the header would resize columns; the layout is fixed.
    if (msg->message == WM_MOUSEMOVE && msg->hwnd == m_header.GetSafeHwnd() && msg->hwnd != nullptr &&
        msg->wParam == MK_LBUTTON)
        return true;
    return false;
}
