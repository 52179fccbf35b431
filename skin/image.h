#pragma once
// The image object of the skin: one bitmap loaded from a module's resources as a DIB
// section, drawn with a plain (stretching) copy. Images carry no transparency of their own;
// the controls make key-coloured pixels transparent when they compose.
#include <windows.h>

#include "framework/gdi_handles.h"

class CImage {
public:
    CImage() = default;
    ~CImage() { Clear(); }
    CImage(const CImage&) = delete;
    CImage& operator=(const CImage&) = delete;

    // Loads bitmap resource `id` of `instance` (the program itself when null). On failure
    // the image is left empty. A loaded image is emptied first.
    bool LoadFromId(HINSTANCE instance, UINT id);
    bool LoadFromId(UINT id) { return LoadFromId(nullptr, id); }

    bool IsEmpty() const { return !m_bitmap.IsValid(); }
    int Width() const { return m_nWidth; }
    int Height() const { return m_nHeight; }
    HBITMAP GetHandle() const { return m_bitmap.Get(); }

    // Source rectangle onto destination rectangle, stretching when the sizes differ.
    // Returns nonzero on success; a null DC or an empty image draws nothing and returns 0.
    BOOL Draw(HDC hdc, int xDest, int yDest, int wDest, int hDest, int xSrc, int ySrc, int wSrc,
              int hSrc);
    // The whole image stretched onto `dest`.
    BOOL Draw(HDC hdc, const RECT& dest);
    // The whole image at its own size with its top-left corner at (x, y).
    BOOL Draw(HDC hdc, int x, int y);
    // Rectangle `src` of the image stretched onto `dest`.
    BOOL Draw(HDC hdc, const RECT& dest, const RECT& src);

    void Clear();

private:
    // While a draw is in progress the bitmap sits in a DC borrowed from the pool.
    HDC BeginDraw();
    void EndDraw();

    ScopedBitmap m_bitmap;
    int m_nWidth = 0;
    int m_nHeight = 0;
    HDC m_hDrawDc = nullptr;
    int m_nDrawUses = 0;
    HGDIOBJ m_hOldBitmap = nullptr;
};
