#pragma once
// Window regions from bitmaps: every pixel that is not the key colour belongs to the region.
#include <windows.h>

#include <vector>

// The rectangles of a region as collected: a RGNDATA buffer (header, then the rectangles in
// the order they were found), one rectangle per horizontal run of solid pixels.
struct RegionRects {
    std::vector<BYTE> buffer;
    DWORD capacity = 0;  // rectangles the buffer has room for

    DWORD Count() const;
    const RECT* Rects() const;
};

// The key colour as it appears in pixels of the given depth: a 5-6-5 word at 16 bits per
// pixel, else red in bits 16-23, green in 8-15 and blue in 0-7.
DWORD KeyInPixelFormat(COLORREF key, int bitsPerPixel);

// Scans `bitmap` (8, 16, 24 or 32 bits per pixel) top row first, left to right. The buffer
// starts with room for one rectangle per row and grows by 40 rectangles at a time. A bitmap
// that cannot be read, or of another depth, gives no rectangles.
RegionRects CollectSolidRuns(HBITMAP bitmap, COLORREF key);

// A new region of the non-key pixels of `bitmap`, in the bitmap's own coordinates; empty
// when the bitmap cannot be read. The caller owns it (SetWindowRgn takes it over).
HRGN CreateRegionFromBitmap(HBITMAP bitmap, COLORREF key);
