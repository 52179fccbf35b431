#pragma once
// The task list's column header, painted entirely by us: per column a stretched background,
// an optional divider and a centred title, composed off-screen and copied in one opaque
// copy. Its height is the background bitmap's, and the list's rows start right below it.
#include <windows.h>

#include "framework/controls.h"
#include "framework/gdi_handles.h"
#include "skin/image.h"

class CComBodyClass : public CHeaderCtrl {
public:
    // Mode 0: background on even columns only, separator lines in the background colour.
    // Mode 1: background on every column, divider bitmap at each column's right edge.
    enum { kModeAlternate = 0, kModeDivided = 1 };

    CComBodyClass();
    ~CComBodyClass() override;

    // Called once, before the header is first shown; neither repaints nor lays out.
    // dividerId 0 means no divider.
    void SetSkin(HINSTANCE instance, UINT backId, UINT backAltId, COLORREF clrBack, COLORREF clrText, int mode,
                 UINT dividerId);

    int GetMode() const { return m_nMode; }
    const CImage& GetBack() const { return m_imgBack; }

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void OnPaint();
    void PaintColumns(HDC dc);
    LRESULT OnLayout(WPARAM wParam, LPARAM lParam);

    int m_nMode = kModeAlternate;
    CImage m_imgBack;
    CImage m_imgBackAlt;
    CImage m_imgDivider;
    COLORREF m_clrBack = RGB(255, 255, 255);
    COLORREF m_clrText = RGB(0, 0, 0);
    ScopedFont m_font;
};
