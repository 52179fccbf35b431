// The dialog's skinned form: title bar, borders, bottom bar, its two buttons, the cut
// corners, and the off-screen composed paint.
#include <windows.h>

#include "app/dialog_layout.h"
#include "app/updater_dlg.h"
#include "framework/gbk_text.h"
#include "skin/offscreen.h"
#include "skin/skin_ids.h"

namespace {
constexpr int kListHeight = 104;
constexpr int kCloseX = 500;
constexpr int kMinimiseX = 471;
constexpr int kButtonY = 1;
}  // namespace

void CUpDateDlg::LayOutSkin() {
    m_imgTitle.LoadFromId(IDB_TITLE_BAR);
    m_imgLeft.LoadFromId(IDB_BORDER_LEFT);
    m_imgRight.LoadFromId(IDB_BORDER_RIGHT);
    m_imgBottom.LoadFromId(IDB_BOTTOM_BAR);
    bool skinned = !m_imgTitle.IsEmpty() && !m_imgLeft.IsEmpty() && !m_imgRight.IsEmpty() && !m_imgBottom.IsEmpty();
    if (skinned) {
        ::SetWindowPos(m_hWnd, nullptr, 0, 0, m_imgTitle.Width(), m_imgTitle.Height() + kListHeight + m_imgBottom.Height(),
                       SWP_NOMOVE | SWP_NOZORDER);
        // Centred on the work area, as the template's centring would have placed it.
        RECT work;
        ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
        RECT window;
        ::GetWindowRect(m_hWnd, &window);
        int width = window.right - window.left;
        int height = window.bottom - window.top;
        ::SetWindowPos(m_hWnd, nullptr, work.left + (work.right - work.left - width) / 2,
                       work.top + (work.bottom - work.top - height) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    }
    m_btnClose.LoadSkin(nullptr, IDB_CLOSE);
    m_btnClose.SetPosition(kCloseX, kButtonY);
    m_btnMinimize.LoadSkin(nullptr, IDB_MINIMISE);
    m_btnMinimize.SetPosition(kMinimiseX, kButtonY);
    SetWindowShape();
    if (skinned) {
        int width = m_imgTitle.Width() - m_imgLeft.Width() - m_imgRight.Width();
        ::MoveWindow(m_listTasks.GetSafeHwnd(), m_imgLeft.Width(), m_imgTitle.Height(), width, kListHeight, TRUE);
    }
}

void CUpDateDlg::SetWindowShape() {
    RECT window;
    ::GetWindowRect(m_hWnd, &window);
    POINT corners[2] = {{window.left, window.top}, {window.right, window.bottom}};
    ::ScreenToClient(m_hWnd, &corners[0]);
    ::ScreenToClient(m_hWnd, &corners[1]);
    const LONG l = corners[0].x, t = corners[0].y, r = corners[1].x, b = corners[1].y;
    POINT outline[8] = {{l, t + 3}, {l + 3, t}, {r - 3, t}, {r, t + 3}, {r, b - 4}, {r - 4, b}, {l + 4, b}, {l, b - 4}};
    HRGN region = ::CreatePolygonRgn(outline, 8, WINDING);
    // The window owns the region from here on; it is never deleted by the dialog.
    if (region != nullptr && !::SetWindowRgn(m_hWnd, region, TRUE)) ::DeleteObject(region);
}

void CUpDateDlg::OnPaint() {
    ScopedPaintDC paint(m_hWnd);
    if (::IsIconic(m_hWnd)) {
        RECT client;
        ::GetClientRect(m_hWnd, &client);
        int x = (client.right - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
        int y = (client.bottom - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
        ::DrawIcon(paint.Get(), x, y, m_hIcon);
        return;
    }
    ::GetClientRect(m_hWnd, &m_rcClient);
    COffscreen surface(paint.Get(), m_rcClient.right, m_rcClient.bottom);
    if (!surface.IsValid()) return;
    ScopedSelectObject font(surface.Dc(), m_fontDialog.Get());
    surface.Fill(RGB(255, 255, 255));
    ::SetBkMode(surface.Dc(), TRANSPARENT);
    ::SetTextColor(surface.Dc(), RGB(255, 255, 255));
    if (m_imgTitle.IsEmpty() || m_imgLeft.IsEmpty() || m_imgRight.IsEmpty() || m_imgBottom.IsEmpty()) return;
    m_imgTitle.Draw(surface.Dc(), 0, 0);
    m_imgLeft.Draw(surface.Dc(), m_rcLeft);
    m_imgRight.Draw(surface.Dc(), m_rcRight);
    m_imgBottom.Draw(surface.Dc(), m_rcBottom);
    RECT title = {2, 2, 60, m_imgTitle.Height() - 6};
    ::DrawTextW(surface.Dc(), GbkToWide("游戏下载").c_str(), -1, &title,
                DT_RIGHT | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS);
    surface.CopyOpaque(paint.Get(), 0, 0);
}
