#include "skin/com_body.h"

#include <commctrl.h>

#include <string>

#include "framework/gbk_text.h"
#include "skin/offscreen.h"
#include "skin/skin_font.h"

namespace {
constexpr int kTitleBufferChars = 30;
constexpr size_t kTitleMaxBytes = 28;   // longer titles are cut before the ellipsis fitting
constexpr int kLastColumnOverhang = 10; // covers the strip the list leaves right of the last column
constexpr int kSeparatorWidth = 3;

std::wstring ColumnTitle(HWND header, int column) {
    wchar_t buffer[kTitleBufferChars] = {};
    HDITEMW item = {};
    item.mask = HDI_TEXT | HDI_FORMAT;
    item.pszText = buffer;
    item.cchTextMax = kTitleBufferChars - 1;
    ::SendMessageW(header, HDM_GETITEMW, column, reinterpret_cast<LPARAM>(&item));
    std::string gbk = WideToGbk(buffer);
    if (gbk.size() > kTitleMaxBytes) gbk.resize(kTitleMaxBytes);
    return GbkToWide(gbk);
}
}  // namespace

CComBodyClass::CComBodyClass() : m_font(CreateSkinFont()) {}

CComBodyClass::~CComBodyClass() = default;

void CComBodyClass::SetSkin(HINSTANCE instance, UINT backId, UINT backAltId, COLORREF clrBack, COLORREF clrText,
                            int mode, UINT dividerId) {
    m_imgBack.LoadFromId(instance, backId);
    m_imgBackAlt.LoadFromId(instance, backAltId);
    if (dividerId != 0) m_imgDivider.LoadFromId(instance, dividerId);
    m_clrBack = clrBack;
    m_clrText = clrText;
    m_nMode = mode;
}

LRESULT CComBodyClass::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT:
        OnPaint();
        return 0;
    case WM_ERASEBKGND:
        return 0;
    case HDM_LAYOUT:
        return OnLayout(wParam, lParam);
    default:
        return DefWindowProc(message, wParam, lParam);
    }
}

LRESULT CComBodyClass::OnLayout(WPARAM wParam, LPARAM lParam) {
    LRESULT result = DefWindowProc(HDM_LAYOUT, wParam, lParam);
    auto* layout = reinterpret_cast<HDLAYOUT*>(lParam);
    if (layout == nullptr || layout->pwpos == nullptr || layout->prc == nullptr) return result;
    int height = m_imgBack.IsEmpty() ? layout->pwpos->cy : m_imgBack.Height();
    layout->pwpos->cy = height;
    layout->prc->top = height;
    return result;
}

void CComBodyClass::OnPaint() {
    ScopedPaintDC paint(m_hWnd);
    RECT client{};
    ::GetClientRect(m_hWnd, &client);
    COffscreen surface(paint.Get(), client.right, client.bottom);
    if (!surface.IsValid()) return;
    {
        ScopedSelectObject font(surface.Dc(), m_font.Get());
        ::SetTextColor(surface.Dc(), m_clrText);
        surface.Fill(m_clrBack);
        PaintColumns(surface.Dc());
    }
    surface.CopyOpaque(paint.Get(), 0, 0);
}

void CComBodyClass::PaintColumns(HDC dc) {
    for (int i = 0; i < static_cast<int>(SendMessage(HDM_GETITEMCOUNT)); ++i) {
        RECT column{};
        SendMessage(HDM_GETITEMRECT, i, reinterpret_cast<LPARAM>(&column));
        std::wstring title = ColumnTitle(m_hWnd, i);
        const bool last = i + 1 == static_cast<int>(SendMessage(HDM_GETITEMCOUNT));
        if (m_nMode == kModeAlternate) {
            CImage& back = m_imgBack.IsEmpty() ? m_imgBackAlt : m_imgBack;
            if (i % 2 == 0) back.Draw(dc, column);
            ScopedPen pen(::CreatePen(PS_SOLID, kSeparatorWidth, m_clrBack));
            {
                ScopedSelectObject selected(dc, pen.Get());
                ::MoveToEx(dc, column.left, column.bottom, nullptr);
                ::LineTo(dc, column.right, column.bottom);
                if (!last) ::LineTo(dc, column.right, column.top);
            }
        } else if (m_nMode == kModeDivided) {
            if (!m_imgBack.IsEmpty()) {
                RECT dest = column;
                if (last) dest.right += kLastColumnOverhang;
                m_imgBack.Draw(dc, dest);
            }
            if (!m_imgDivider.IsEmpty()) {
                RECT divider = {column.right - 3, column.top + 1, column.right,
                                column.top + 1 + (column.bottom - column.top - 4)};
                m_imgDivider.Draw(dc, divider);
            }
        }
        RECT text = {column.left + 6, column.top + 2, column.right - 6, column.bottom - 2};
        ::SetTextColor(dc, m_clrText);
        ::DrawTextW(dc, title.c_str(), static_cast<int>(title.size()), &text,
                    DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS);
    }
}
