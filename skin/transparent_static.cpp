#include "skin/transparent_static.h"

#include "framework/gbk_text.h"
#include "skin/offscreen.h"
#include "skin/region.h"
#include "skin/skin_font.h"
#include "skin/skin_ids.h"
#include "skin/text_fit.h"

CTransparentStatic::CTransparentStatic() : m_font(CreateSkinFont()) {}

CTransparentStatic::~CTransparentStatic() {
    if (m_dcCanvas.IsValid() && m_hCanvasOldBitmap) ::SelectObject(m_dcCanvas.Get(), m_hCanvasOldBitmap);
    m_dcCanvas.Close();
    m_canvasBitmap.Close();
}

LRESULT CTransparentStatic::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_ERASEBKGND:
        OnEraseBkgnd(reinterpret_cast<HDC>(wParam));
        return 1;
    case WM_PAINT:
        OnPaint();
        return 0;
    default:
        return DefWindowProc(message, wParam, lParam);
    }
}

void CTransparentStatic::OnEraseBkgnd(HDC hdc) {
    if (m_bCanvasReady || !hdc) return;
    RECT client{};
    ::GetClientRect(m_hWnd, &client);
    m_dcCanvas.Reset(::CreateCompatibleDC(hdc));
    m_canvasBitmap.Reset(::CreateCompatibleBitmap(hdc, client.right, client.bottom));
    if (!m_dcCanvas.IsValid() || !m_canvasBitmap.IsValid()) return;
    m_hCanvasOldBitmap = ::SelectObject(m_dcCanvas.Get(), m_canvasBitmap.Get());
    ScopedBrush key(::CreateSolidBrush(kSkinKeyColour));
    ::FillRect(m_dcCanvas.Get(), &client, key.Get());
    m_bCanvasReady = true;
}

void CTransparentStatic::DrawTextLine(HDC hdc, const std::string& text, RECT rect, UINT format) {
    std::wstring wide = GbkToWide(text);
    ::DrawTextW(hdc, wide.c_str(), static_cast<int>(wide.size()), &rect, format);
}

void CTransparentStatic::OnPaint() {
    ScopedPaintDC paint(m_hWnd);
    RECT client{};
    ::GetClientRect(m_hWnd, &client);
    COffscreen surface(paint.Get(), client.right, client.bottom);
    if (!surface.IsValid()) return;
    HDC dc = surface.Dc();

    ScopedSelectObject font(dc, m_font.Get());
    if (m_font.IsValid()) {
        LOGFONTW logFont{};
        ::GetObjectW(m_font.Get(), sizeof(logFont), &logFont);
        m_nLineHeight = logFont.lfHeight < 0 ? -logFont.lfHeight : logFont.lfHeight;
    }
    ::SetTextColor(dc, m_clrText);
    // Without a canvas (no erase came first) the key colour stands in for it.
    if (m_bCanvasReady)
        ::BitBlt(dc, 0, 0, client.right, client.bottom, m_dcCanvas.Get(), 0, 0, SRCCOPY);
    else
        surface.FillKey();
    ::SetBkMode(dc, TRANSPARENT);

    if (!m_strText.empty() && m_nLineHeight > 0) {
        const int fit = client.right / m_nLineHeight;
        if (static_cast<int>(m_strText.size()) / 2 < fit) {
            DrawTextLine(dc, m_strText, client, m_nFormat);
        } else if (m_bMultiLine) {
            for (size_t i = 0; i < m_lines.size(); ++i) {
                const LONG top = client.top + static_cast<LONG>(i) * m_nLineHeight;
                DrawTextLine(dc, m_lines[i], RECT{client.left, top, client.right, top + m_nLineHeight}, 0);
            }
        } else {
            DrawTextLine(dc, FitText(m_strText, fit), client, m_nFormat);
        }
    }

    if (m_bRegionPending) {
        // Read the pixels with the bitmap out of the DC, as GetDIBits wants, then put it back.
        ScopedBitmap standIn(::CreateBitmap(1, 1, 1, 1, nullptr));
        ScopedRegion region;
        {
            ScopedSelectObject out(dc, standIn.Get());
            region.Reset(CreateRegionFromBitmap(surface.Bitmap(), kSkinKeyColour));
        }
        if (region.IsValid() && ::SetWindowRgn(m_hWnd, region.Get(), TRUE)) {
            HRGN owned = region.Take();  // the window owns it now
            (void)owned;
        }
        m_bRegionPending = false;
    }
    surface.CopyKeyed(paint.Get(), 0, 0);
}
