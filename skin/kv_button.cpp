#include "skin/kv_button.h"

#include "framework/gbk_text.h"
#include "framework/gdi_handles.h"
#include "skin/offscreen.h"

KvButton::~KvButton() {
    if (m_hWnd && ::IsWindow(m_hWnd)) {
        ::KillTimer(m_hWnd, kHoverTimer);
        if (m_bOwnsWindow) {
            HWND hwnd = m_hWnd;
            UnsubclassWindow();
            ::DestroyWindow(hwnd);
        }
    }
}

bool KvButton::Create(const char* caption, DWORD style, const RECT& rect, HWND parent, UINT id) {
    HWND hwnd = ::CreateWindowExW(0, L"BUTTON", GbkToWide(caption ? caption : "").c_str(), style,
                                  rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
                                  parent, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)),
                                  ::GetModuleHandleW(nullptr), nullptr);
    if (!hwnd) return false;
    if (!SubclassWindow(hwnd)) {
        ::DestroyWindow(hwnd);
        return false;
    }
    m_bOwnsWindow = true;
    return true;
}

void KvButton::PreSubclassWindow() {
    // Our own painting only: the system must never draw a push button here.
    LONG_PTR style = ::GetWindowLongPtrW(m_hWnd, GWL_STYLE);
    ::SetWindowLongPtrW(m_hWnd, GWL_STYLE, (style & ~static_cast<LONG_PTR>(BS_TYPEMASK)) | BS_OWNERDRAW);
    ::InvalidateRect(m_hWnd, nullptr, TRUE);
}

void KvButton::LoadSkin(HINSTANCE instance, UINT id) {
    if (m_hWnd) ::InvalidateRect(m_hWnd, nullptr, TRUE);
    m_composedCopy.reset();
    m_composed.reset();
    m_image.Clear();
    if (!m_image.LoadFromId(instance, id)) return;
    m_nFrameWidth = m_image.Width() / 4;
    m_nFrameHeight = m_image.Height();
    if (m_hWnd) ::MoveWindow(m_hWnd, 0, 0, m_nFrameWidth, m_nFrameHeight, TRUE);
}

void KvButton::SetPosition(int x, int y) {
    if (!m_hWnd) return;
    // Rows place their buttons at every draw: a move to where the button already is would
    // cost a window move (and a repaint) for nothing.
    RECT now;
    ::GetWindowRect(m_hWnd, &now);
    ::MapWindowPoints(nullptr, ::GetParent(m_hWnd), reinterpret_cast<POINT*>(&now), 2);
    if (now.left == x && now.top == y && now.right - now.left == m_nFrameWidth && now.bottom - now.top == m_nFrameHeight)
        return;
    ::MoveWindow(m_hWnd, x, y, m_nFrameWidth, m_nFrameHeight, TRUE);
}

void KvButton::SetCaption(const std::string& caption, COLORREF colour) {
    m_strCaption = caption;
    m_clrCaption = colour;
    m_composedCopy.reset();
    m_composed.reset();
    if (m_hWnd) ::InvalidateRect(m_hWnd, nullptr, FALSE);
}

bool KvButton::InStrip(POINT point) const {
    return !m_image.IsEmpty() && point.x >= 0 && point.y >= 0 && point.x < m_image.Width() &&
           point.y < m_image.Height();
}

bool KvButton::CursorOverWindow() const {
    RECT window{};
    POINT cursor{};
    ::GetWindowRect(m_hWnd, &window);
    ::GetCursorPos(&cursor);
    return ::PtInRect(&window, cursor) != FALSE;
}

void KvButton::DrawItem(const DRAWITEMSTRUCT& item) {
    m_nState = Normal;
    // The whole strip's rectangle, not one frame's: a press counts anywhere over it.
    if ((item.itemState & ODS_FOCUS) && InStrip(m_ptLast)) {
        if (item.itemState & ODS_SELECTED)
            m_nState = Pressed;
        else if (m_bHover)
            m_nState = Hover;
    }
    if (item.itemState & ODS_DISABLED) m_nState = Disabled;
    PaintState();
}

bool KvButton::OnMouseMove(POINT point) {
    if (!m_bHover && InStrip(point)) {
        m_bHover = true;
        m_nState = Hover;
        if (!CursorOverWindow()) {
            // A late move after the cursor already left: let the timer set things right.
            ::SetTimer(m_hWnd, kHoverTimer, kHoverPollMs, nullptr);
            return false;
        }
        PaintState();
        ::SetTimer(m_hWnd, kHoverTimer, kHoverPollMs, nullptr);
    }
    m_ptLast = point;
    return true;
}

void KvButton::OnTimer() {
    if (!CursorOverWindow() && m_bHover) {
        ::KillTimer(m_hWnd, kHoverTimer);
        m_bHover = false;
        if (m_nState != Disabled) m_nState = Normal;
        PaintState();
    }
}

void KvButton::PaintState() {
    if (!m_hWnd) return;
    ScopedGetDC dc(m_hWnd);
    Compose(dc.Get(), 0, 0);
}

void KvButton::DrawTo(HDC hdc, int x, int y) { Compose(hdc, x, y); }

void KvButton::Compose(HDC target, int x, int y) {
    if (!target || !m_hWnd) return;
    RECT client{};
    ::GetClientRect(m_hWnd, &client);
    if (!m_composed || m_nComposedState != m_nState || m_composed->Width() != client.right ||
        m_composed->Height() != client.bottom) {
        m_composedCopy.reset();
        m_composed = std::make_unique<COffscreen>(target, client.right, client.bottom);
        m_nComposedState = m_nState;
        if (!m_composed->IsValid()) return;
        HDC dc = m_composed->Dc();
        m_composed->FillKey();
        if (!m_image.IsEmpty() && m_nState >= Normal && m_nState <= Disabled) {
            m_image.Draw(dc, 0, 0, client.right, client.bottom, m_nState * m_nFrameWidth, 0, m_nFrameWidth,
                         m_nFrameHeight);
        }
        if (!m_strCaption.empty()) {
            ::SetTextColor(dc, m_clrCaption);
            std::wstring text = GbkToWide(m_strCaption);
            ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &client,
                        DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS);
        }
        m_composedCopy = std::make_unique<CKeyedCopy>(*m_composed);
    }
    if (m_composedCopy && m_composedCopy->IsValid()) m_composedCopy->CopyTo(target, x, y);
}

DRAWITEMSTRUCT KvButton::CurrentItemState() const {
    DRAWITEMSTRUCT item{};
    item.CtlType = ODT_BUTTON;
    item.CtlID = static_cast<UINT>(::GetDlgCtrlID(m_hWnd));
    item.itemAction = ODA_DRAWENTIRE;
    if (::GetFocus() == m_hWnd) item.itemState |= ODS_FOCUS;
    if (::SendMessageW(m_hWnd, BM_GETSTATE, 0, 0) & BST_PUSHED) item.itemState |= ODS_SELECTED;
    if (!::IsWindowEnabled(m_hWnd)) item.itemState |= ODS_DISABLED;
    item.hwndItem = m_hWnd;
    ::GetClientRect(m_hWnd, &item.rcItem);
    return item;
}

LRESULT KvButton::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_MOUSEMOVE: {
        POINT point = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        if (!OnMouseMove(point)) return 0;
        return DefWindowProc(message, wParam, lParam);
    }
    case WM_TIMER:
        OnTimer();
        return DefWindowProc(message, wParam, lParam);
    case WM_ERASEBKGND:
        return 1;
    case WM_PAINT: {
        // The button paints itself: the owner's WM_DRAWITEM would not come back to us.
        { ScopedPaintDC paint(m_hWnd); }
        DrawItem(CurrentItemState());
        return 0;
    }
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
    case WM_ENABLE:
    case BM_SETSTATE:
    case WM_LBUTTONUP: {
        // The system draws these changes through the owner; have them repainted here.
        LRESULT result = DefWindowProc(message, wParam, lParam);
        if (m_hWnd) ::InvalidateRect(m_hWnd, nullptr, FALSE);
        return result;
    }
    default:
        return DefWindowProc(message, wParam, lParam);
    }
}
