#pragma once
// A keyed copy made cheap for a surface drawn once and copied many times: the mask of its key
// pixels is made once, and each copy is then two plain blits instead of a transparent blit
// (which builds its own mask, with temporary bitmaps, at every call).
#include <windows.h>

#include "framework/gdi_handles.h"
#include "skin/offscreen.h"

class CKeyedCopy {
public:
    // Takes the surface's contents as they are now. The surface's key pixels turn black (the
    // copy ORs them onto the cleared parts of the target), so draw nothing more on it after.
    explicit CKeyedCopy(COffscreen& surface);
    ~CKeyedCopy();
    CKeyedCopy(const CKeyedCopy&) = delete;
    CKeyedCopy& operator=(const CKeyedCopy&) = delete;

    bool IsValid() const { return m_bValid; }
    // The surface onto `target` at (x, y): where it was key-coloured the target stays as it was.
    BOOL CopyTo(HDC target, int x, int y) const;

private:
    const COffscreen& m_surface;
    ScopedBitmap m_mask;  // declared first: outlives the DC it is selected into
    ScopedCreateDC m_maskDc;
    HGDIOBJ m_hOldMask = nullptr;
    bool m_bValid = false;
};
