#pragma once
// A visible top-level window at a known place on the screen, for skinned controls to live
// in, and a message pump with a deadline.
#include <windows.h>

class SkinTestWindow {
public:
    static constexpr int kLeft = 100;
    static constexpr int kTop = 100;

    SkinTestWindow() {
        m_hwnd = ::CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, L"STATIC", L"", WS_POPUP, kLeft,
                                   kTop, 300, 200, nullptr, nullptr, nullptr, nullptr);
        // Not activated: under Wine, destroying an active window waits two seconds for focus.
        ::ShowWindow(m_hwnd, SW_SHOWNOACTIVATE);
        Pump(20);
    }
    ~SkinTestWindow() {
        if (m_hwnd) ::DestroyWindow(m_hwnd);
    }
    SkinTestWindow(const SkinTestWindow&) = delete;
    SkinTestWindow& operator=(const SkinTestWindow&) = delete;

    HWND Get() const { return m_hwnd; }

    // Handles messages until `done` holds or `timeoutMs` have passed; returns `done()`.
    template <typename Done>
    static bool PumpUntil(Done done, DWORD timeoutMs = 1000) {
        const DWORD start = ::GetTickCount();
        for (;;) {
            MSG msg;
            while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                ::TranslateMessage(&msg);
                ::DispatchMessageW(&msg);
            }
            if (done()) return true;
            if (::GetTickCount() - start >= timeoutMs) return false;
            ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
        }
    }
    static void Pump(DWORD ms) {
        PumpUntil([] { return false; }, ms);
    }

private:
    HWND m_hwnd = nullptr;
};
