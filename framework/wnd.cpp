#include "framework/wnd.h"

#include <commctrl.h>

#include "framework/trace.h"

namespace {
constexpr UINT_PTR kSubclassId = 0x4B56;  // one subclass of ours per window
}

CWnd::~CWnd() { UnsubclassWindow(); }

bool CWnd::SubclassDlgItem(UINT id, HWND parent) { return SubclassWindow(::GetDlgItem(parent, static_cast<int>(id))); }

bool CWnd::SubclassWindow(HWND hwnd) {
    if (hwnd == nullptr || m_bSubclassed) return false;
    m_hWnd = hwnd;
    PreSubclassWindow();
    if (!::SetWindowSubclass(hwnd, SubclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this))) {
        m_hWnd = nullptr;
        return false;
    }
    m_bSubclassed = true;
    return true;
}

void CWnd::UnsubclassWindow() {
    if (m_bSubclassed && ::IsWindow(m_hWnd)) ::RemoveWindowSubclass(m_hWnd, SubclassProc, kSubclassId);
    m_bSubclassed = false;
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProc(message, wParam, lParam);
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (m_bSubclassed) return ::DefSubclassProc(m_hWnd, message, wParam, lParam);
    return ::DefWindowProcW(m_hWnd, message, wParam, lParam);
}

LRESULT CALLBACK CWnd::SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                    DWORD_PTR refData) {
    CWnd* self = reinterpret_cast<CWnd*>(refData);
    if (message == WM_NCDESTROY) {
        // Detach first: no virtual call may reach an object whose window is gone.
        ::RemoveWindowSubclass(hwnd, SubclassProc, kSubclassId);
        self->m_bSubclassed = false;
        self->m_hWnd = nullptr;
        return ::DefSubclassProc(hwnd, message, wParam, lParam);
    }
    try {
        return self->WindowProc(message, wParam, lParam);
    } catch (...) {
        TraceLine("qen: exception in window procedure, message %u", message);
        return ::DefSubclassProc(hwnd, message, wParam, lParam);
    }
}
