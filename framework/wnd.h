#pragma once
// A window object: a non-owning HWND plus, once subclassed, a virtual window procedure.
#include <windows.h>

class CWnd {
public:
    CWnd() = default;
    virtual ~CWnd();
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND GetSafeHwnd() const { return m_hWnd; }
    operator HWND() const { return m_hWnd; }

    // Binds the child control `id` of `parent` to this object and routes its messages
    // through WindowProc.
    bool SubclassDlgItem(UINT id, HWND parent);
    bool SubclassWindow(HWND hwnd);
    void UnsubclassWindow();

    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
        return ::PostMessageW(m_hWnd, message, wParam, lParam);
    }
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
        return ::SendMessageW(m_hWnd, message, wParam, lParam);
    }
    UINT_PTR SetTimer(UINT_PTR id, UINT elapseMs) const { return ::SetTimer(m_hWnd, id, elapseMs, nullptr); }
    BOOL KillTimer(UINT_PTR id) const { return ::KillTimer(m_hWnd, id); }
    BOOL ShowWindow(int command) const { return ::ShowWindow(m_hWnd, command); }

protected:
    // Runs once the window is bound, before its first message reaches WindowProc: the place
    // for a control to adjust its style.
    virtual void PreSubclassWindow() {}
    // Subclassed windows: handle what is yours, pass the rest to DefWindowProc.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);

    HWND m_hWnd = nullptr;

private:
    static LRESULT CALLBACK BoundWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    bool m_bSubclassed = false;
    WNDPROC m_pfnSuper = nullptr;  // the procedure this object's window had before
};
