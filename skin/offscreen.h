#pragma once
// Off-screen composition: every skinned control paints into a memory DC of its client size
// and reaches the screen in one copy, keyed on the skin key colour or opaque.
#include <windows.h>

#include "framework/gdi_handles.h"
#include "skin/skin_ids.h"

class COffscreen {
public:
    // A memory DC and a bitmap of width x height, both compatible with `target`, the bitmap
    // selected and the background mode transparent.
    COffscreen(HDC target, int width, int height);
    // Deselects the bitmap, then deletes the memory DC, then the bitmap.
    ~COffscreen();
    COffscreen(const COffscreen&) = delete;
    COffscreen& operator=(const COffscreen&) = delete;

    bool IsValid() const { return m_dc.IsValid() && m_bitmap.IsValid(); }
    HDC Dc() const { return m_dc.Get(); }
    HBITMAP Bitmap() const { return m_bitmap.Get(); }
    int Width() const { return m_nWidth; }
    int Height() const { return m_nHeight; }

    void Fill(COLORREF colour);
    void FillKey() { Fill(kSkinKeyColour); }

    // The whole surface onto `target` at (x, y): key-coloured pixels leave the target as it was.
    BOOL CopyKeyed(HDC target, int x, int y) const;
    // The whole surface onto `target` at (x, y), every pixel.
    BOOL CopyOpaque(HDC target, int x, int y) const;

private:
    int m_nWidth;
    int m_nHeight;
    ScopedBitmap m_bitmap;  // declared first: outlives the DC it is selected into
    ScopedCreateDC m_dc;
    HGDIOBJ m_hOldBitmap = nullptr;
};
