#include "skin/image.h"

#include "skin/dc_pool.h"

bool CImage::LoadFromId(HINSTANCE instance, UINT id) {
    Clear();
    if (!instance) instance = GetModuleHandleW(nullptr);
    m_bitmap.Reset(static_cast<HBITMAP>(
        LoadImageW(instance, MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
    BITMAP bm{};
    if (!m_bitmap.IsValid() || !GetObjectW(m_bitmap.Get(), sizeof(bm), &bm)) {
        m_bitmap.Close();
        return false;
    }
    m_nWidth = bm.bmWidth;
    m_nHeight = bm.bmHeight < 0 ? -bm.bmHeight : bm.bmHeight;
    return true;
}

void CImage::Clear() {
    // Never delete a bitmap that is still selected into the draw DC.
    while (m_nDrawUses > 0) EndDraw();
    m_bitmap.Close();
    m_nWidth = 0;
    m_nHeight = 0;
}

HDC CImage::BeginDraw() {
    if (m_nDrawUses++ == 0) {
        m_hDrawDc = skin::BorrowDrawDc();
        m_hOldBitmap = m_hDrawDc ? SelectObject(m_hDrawDc, m_bitmap.Get()) : nullptr;
    }
    return m_hDrawDc;
}

void CImage::EndDraw() {
    if (m_nDrawUses == 0 || --m_nDrawUses > 0) return;
    if (m_hDrawDc) {
        SelectObject(m_hDrawDc, m_hOldBitmap);
        skin::ReturnDrawDc(m_hDrawDc);
    }
    m_hDrawDc = nullptr;
    m_hOldBitmap = nullptr;
}

BOOL CImage::Draw(HDC hdc, int xDest, int yDest, int wDest, int hDest, int xSrc, int ySrc,
                  int wSrc, int hSrc) {
    if (!hdc || IsEmpty()) return FALSE;
    HDC source = BeginDraw();
    BOOL ok = source && StretchBlt(hdc, xDest, yDest, wDest, hDest, source, xSrc, ySrc, wSrc, hSrc,
                                   SRCCOPY);
    EndDraw();
    return ok;
}

BOOL CImage::Draw(HDC hdc, const RECT& dest) {
    return Draw(hdc, dest.left, dest.top, dest.right - dest.left, dest.bottom - dest.top, 0, 0,
                m_nWidth, m_nHeight);
}

BOOL CImage::Draw(HDC hdc, int x, int y) {
    return Draw(hdc, x, y, m_nWidth, m_nHeight, 0, 0, m_nWidth, m_nHeight);
}

BOOL CImage::Draw(HDC hdc, const RECT& dest, const RECT& src) {
    return Draw(hdc, dest.left, dest.top, dest.right - dest.left, dest.bottom - dest.top, src.left,
                src.top, src.right - src.left, src.bottom - src.top);
}
