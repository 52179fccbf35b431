#pragma once
// Owners for GDI objects and device contexts, and scope classes for DC state.
// A GDI object is deleted only by its owner, and only after it has been deselected.
#include <windows.h>

#include "framework/scoped_handle.h"

template <typename T>
struct GdiObjectTraits {
    using Handle = T;
    static Handle Invalid() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
    static void Close(Handle h) { DeleteObject(h); }
};

using ScopedBitmap = ScopedHandle<GdiObjectTraits<HBITMAP>>;
using ScopedFont = ScopedHandle<GdiObjectTraits<HFONT>>;
using ScopedPen = ScopedHandle<GdiObjectTraits<HPEN>>;
using ScopedBrush = ScopedHandle<GdiObjectTraits<HBRUSH>>;
using ScopedRegion = ScopedHandle<GdiObjectTraits<HRGN>>;


// DCs made with CreateCompatibleDC or CreateDC/CreateIC: released with DeleteDC.
struct CreatedDcTraits {
    using Handle = HDC;
    static Handle Invalid() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
    static void Close(Handle h) { DeleteDC(h); }
};
using ScopedCreateDC = ScopedHandle<CreatedDcTraits>;

// A window's DC from GetDC: released with ReleaseDC to the same window, never deleted.
class ScopedGetDC {
public:
    explicit ScopedGetDC(HWND hwnd) : m_hwnd(hwnd), m_hdc(GetDC(hwnd)) {}
    ~ScopedGetDC() {
        if (m_hdc) ReleaseDC(m_hwnd, m_hdc);
    }
    ScopedGetDC(const ScopedGetDC&) = delete;
    ScopedGetDC& operator=(const ScopedGetDC&) = delete;

    HDC Get() const { return m_hdc; }

private:
    HWND m_hwnd;
    HDC m_hdc;
};

// BeginPaint/EndPaint for one WM_PAINT.
class ScopedPaintDC {
public:
    explicit ScopedPaintDC(HWND hwnd) : m_hwnd(hwnd), m_hdc(BeginPaint(hwnd, &m_ps)) {}
    ~ScopedPaintDC() { EndPaint(m_hwnd, &m_ps); }
    ScopedPaintDC(const ScopedPaintDC&) = delete;
    ScopedPaintDC& operator=(const ScopedPaintDC&) = delete;

    HDC Get() const { return m_hdc; }
    const PAINTSTRUCT& Paint() const { return m_ps; }

private:
    HWND m_hwnd;
    PAINTSTRUCT m_ps{};
    HDC m_hdc;
};

// Selects an object into a DC and selects the previous one back at the end of the scope,
// so the object can be deleted by its owner afterwards.
class ScopedSelectObject {
public:
    ScopedSelectObject(HDC hdc, HGDIOBJ object)
        : m_hdc(hdc), m_old(hdc && object ? SelectObject(hdc, object) : nullptr) {}
    ~ScopedSelectObject() {
        if (m_old) SelectObject(m_hdc, m_old);
    }
    ScopedSelectObject(const ScopedSelectObject&) = delete;
    ScopedSelectObject& operator=(const ScopedSelectObject&) = delete;

private:
    HDC m_hdc;
    HGDIOBJ m_old;
};
