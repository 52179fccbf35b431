#pragma once
// Static text that shows only its glyphs over whatever lies beneath: it paints on a canvas of
// the skin key colour, copies keyed on that colour, and at its first paint shapes its window
// to the pixels it drew.
#include <windows.h>

#include <string>
#include <vector>

#include "framework/controls.h"
#include "framework/gdi_handles.h"

class CTransparentStatic : public CStatic {
public:
    CTransparentStatic();
    ~CTransparentStatic() override;

    // Text is 8-bit GBK. The canvas and the window region are made once, so set these
    // before the control first paints.
    void SetText(const std::string& text) { m_strText = text; }
    void SetTextColor(COLORREF colour) { m_clrText = colour; }
    void SetFormat(UINT format) { m_nFormat = format; }
    void SetLines(const std::vector<std::string>& lines) { m_lines = lines; }
    void SetMultiLine(bool multiLine) { m_bMultiLine = multiLine; }

    bool IsRegionPending() const { return m_bRegionPending; }
    int LineHeight() const { return m_nLineHeight; }

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void OnEraseBkgnd(HDC hdc);
    void OnPaint();
    void DrawTextLine(HDC hdc, const std::string& text, RECT rect, UINT format);

    ScopedFont m_font;
    COLORREF m_clrText = RGB(0, 0, 0);
    std::string m_strText;
    std::vector<std::string> m_lines;
    int m_nLineHeight = 0;
    // The key-coloured canvas: its bitmap outlives the DC it is selected into.
    ScopedBitmap m_canvasBitmap;
    ScopedCreateDC m_dcCanvas;
    HGDIOBJ m_hCanvasOldBitmap = nullptr;
    bool m_bCanvasReady = false;
    bool m_bRegionPending = true;
    UINT m_nFormat = DT_CENTER;
    bool m_bMultiLine = false;
};
