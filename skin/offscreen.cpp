#include "skin/offscreen.h"

COffscreen::COffscreen(HDC target, int width, int height)
    : m_nWidth(width > 0 ? width : 0), m_nHeight(height > 0 ? height : 0) {
    if (!target || m_nWidth == 0 || m_nHeight == 0) return;
    m_bitmap.Reset(CreateCompatibleBitmap(target, m_nWidth, m_nHeight));
    m_dc.Reset(CreateCompatibleDC(target));
    if (!IsValid()) return;
    m_hOldBitmap = SelectObject(m_dc.Get(), m_bitmap.Get());
    SetBkMode(m_dc.Get(), TRANSPARENT);
}

COffscreen::~COffscreen() {
    if (m_dc.IsValid() && m_hOldBitmap) SelectObject(m_dc.Get(), m_hOldBitmap);
    m_dc.Close();
    m_bitmap.Close();
}

void COffscreen::Fill(COLORREF colour) {
    if (!IsValid()) return;
    RECT all = {0, 0, m_nWidth, m_nHeight};
    ScopedBrush brush(CreateSolidBrush(colour));
    FillRect(m_dc.Get(), &all, brush.Get());
}

BOOL COffscreen::CopyKeyed(HDC target, int x, int y) const {
    if (!IsValid() || !target) return FALSE;
    return TransparentBlt(target, x, y, m_nWidth, m_nHeight, m_dc.Get(), 0, 0, m_nWidth, m_nHeight,
                          kSkinKeyColour);
}

BOOL COffscreen::CopyOpaque(HDC target, int x, int y) const {
    if (!IsValid() || !target) return FALSE;
    return BitBlt(target, x, y, m_nWidth, m_nHeight, m_dc.Get(), 0, 0, SRCCOPY);
}
