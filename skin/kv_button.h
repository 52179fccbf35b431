#pragma once
// A push button drawn from a bitmap strip of four equal frames (normal, hover, pressed,
// disabled). It tracks the cursor itself to show the hover frame, and composes each frame
// off-screen and copies it keyed on the skin key colour, so key pixels show what lies beneath.
#include <windows.h>

#include <memory>
#include <string>

#include "framework/controls.h"
#include "skin/image.h"
#include "skin/keyed_copy.h"
#include "skin/offscreen.h"

class KvButton : public CButton {
public:
    enum State { Normal = 0, Hover = 1, Pressed = 2, Disabled = 3 };
    static constexpr UINT_PTR kHoverTimer = 1;
    static constexpr UINT kHoverPollMs = 10;

    KvButton() = default;
    ~KvButton() override;

    // Makes the button's window as a child of `parent` and binds it; the button then owns
    // that window and destroys it with itself.
    bool Create(const char* caption, DWORD style, const RECT& rect, HWND parent, UINT id);

    // Loads the strip (any earlier one is dropped); when it loads, the window takes the size
    // of one frame at (0, 0) of its parent.
    void LoadSkin(HINSTANCE instance, UINT id);
    // Moves the window to (x, y) of its parent with the size of one frame.
    void SetPosition(int x, int y);
    // Composes the current frame as the button paints itself, but onto `hdc` at (x, y).
    void DrawTo(HDC hdc, int x, int y);
    // Optional text drawn centred over the frame (8-bit GBK); the window text is never drawn.
    void SetCaption(const std::string& caption, COLORREF colour);

    // Chooses the state from the item state flags and paints.
    virtual void DrawItem(const DRAWITEMSTRUCT& item);

    int GetState() const { return m_nState; }
    bool IsHovering() const { return m_bHover; }
    int FrameWidth() const { return m_nFrameWidth; }
    int FrameHeight() const { return m_nFrameHeight; }

protected:
    void PreSubclassWindow() override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    // Returns false when the message must not reach default processing.
    bool OnMouseMove(POINT point);
    void OnTimer();
    void PaintState();
    void Compose(HDC target, int x, int y);
    // What the owner would be told in WM_DRAWITEM, read from the window itself.
    DRAWITEMSTRUCT CurrentItemState() const;
    bool InStrip(POINT point) const;
    bool CursorOverWindow() const;

    CImage m_image;
    int m_nState = Normal;
    bool m_bHover = false;
    POINT m_ptLast = {0, 0};
    int m_nFrameWidth = 0;
    int m_nFrameHeight = 0;
    std::string m_strCaption;
    COLORREF m_clrCaption = 0;
    bool m_bOwnsWindow = false;
    // The last composed frame, kept until the state, the strip, the caption or the size
    // changes: rows compose their buttons at every draw, many times a second.
    std::unique_ptr<COffscreen> m_composed;
    std::unique_ptr<CKeyedCopy> m_composedCopy;  // declared after: made from m_composed
    int m_nComposedState = -1;
};
