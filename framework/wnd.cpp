#include "framework/wnd.h"

#include <mutex>
#include <unordered_map>

#include "framework/trace.h"

namespace {
// Which object a subclassed window belongs to, and the procedure it had before. Kept here
// rather than in window properties: every property read is a round trip to the window
// server under Wine, and these lookups happen on every message.
struct Binding {
    CWnd* self;
    WNDPROC super;
};

std::mutex& BindingsLock() {
    static std::mutex lock;
    return lock;
}

std::unordered_map<HWND, Binding>& Bindings() {
    static std::unordered_map<HWND, Binding> bindings;
    return bindings;
}

Binding FindBinding(HWND hwnd) {
    std::lock_guard<std::mutex> guard(BindingsLock());
    auto found = Bindings().find(hwnd);
    return found == Bindings().end() ? Binding{nullptr, nullptr} : found->second;
}
}  // namespace

CWnd::~CWnd() { UnsubclassWindow(); }

bool CWnd::SubclassDlgItem(UINT id, HWND parent) { return SubclassWindow(::GetDlgItem(parent, static_cast<int>(id))); }

bool CWnd::SubclassWindow(HWND hwnd) {
    if (hwnd == nullptr || m_bSubclassed || !::IsWindow(hwnd)) return false;
    m_hWnd = hwnd;
    PreSubclassWindow();
    std::lock_guard<std::mutex> guard(BindingsLock());
    auto found = Bindings().find(hwnd);
    if (found != Bindings().end()) {
        // Our procedure is still in the window's chain: bind this object to it.
        found->second.self = this;
        m_pfnSuper = found->second.super;
    } else {
        m_pfnSuper = reinterpret_cast<WNDPROC>(
            ::SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CWnd::BoundWindowProc)));
        if (m_pfnSuper == nullptr) {
            m_hWnd = nullptr;
            return false;
        }
        Bindings()[hwnd] = Binding{this, m_pfnSuper};
    }
    m_bSubclassed = true;
    return true;
}

void CWnd::UnsubclassWindow() {
    if (!m_bSubclassed) return;
    m_bSubclassed = false;
    std::lock_guard<std::mutex> guard(BindingsLock());
    auto found = Bindings().find(m_hWnd);
    if (found == Bindings().end() || found->second.self != this) return;
    const auto current = reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(m_hWnd, GWLP_WNDPROC));
    if (current == &CWnd::BoundWindowProc) {
        ::SetWindowLongPtrW(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuper));
        Bindings().erase(found);
    } else {
        // Another procedure sits above ours and calls it: ours stays, passing messages on.
        found->second.self = nullptr;
    }
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProc(message, wParam, lParam);
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (m_bSubclassed) return ::CallWindowProcW(m_pfnSuper, m_hWnd, message, wParam, lParam);
    return ::DefWindowProcW(m_hWnd, message, wParam, lParam);
}

LRESULT CALLBACK CWnd::BoundWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    const Binding binding = FindBinding(hwnd);
    if (binding.super == nullptr) return ::DefWindowProcW(hwnd, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        // Detach first: no virtual call may reach an object whose window is gone.
        {
            std::lock_guard<std::mutex> guard(BindingsLock());
            Bindings().erase(hwnd);
        }
        if (reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(hwnd, GWLP_WNDPROC)) == &CWnd::BoundWindowProc)
            ::SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(binding.super));
        if (binding.self != nullptr) {
            binding.self->m_bSubclassed = false;
            binding.self->m_hWnd = nullptr;
        }
        return ::CallWindowProcW(binding.super, hwnd, message, wParam, lParam);
    }
    if (binding.self == nullptr) return ::CallWindowProcW(binding.super, hwnd, message, wParam, lParam);
    try {
        return binding.self->WindowProc(message, wParam, lParam);
    } catch (...) {
        TraceLine("qen: exception in window procedure, message %u", message);
        return ::CallWindowProcW(binding.super, hwnd, message, wParam, lParam);
    }
}
