#include "tests/update/notify_window.h"

#include "process/dialog_messages.h"

NotifyWindow::NotifyWindow() {
    HWND window = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    SubclassWindow(window);
}

NotifyWindow::~NotifyWindow() {
    HWND window = m_hWnd;
    if (window == nullptr) return;
    // Reports still queued own task references: take them before the window goes.
    MSG msg;
    while (::PeekMessageW(&msg, window, WM_MY_MESSAGE_1, WM_MY_MESSAGE_1, PM_REMOVE)) TakeTaskMessage(msg.lParam);
    ::DestroyWindow(window);
}

void NotifyWindow::Pump() {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

std::vector<WPARAM> NotifyWindow::Codes(const TaskPtr& task) const {
    std::vector<WPARAM> codes;
    for (const TaskReport& report : m_reports) {
        if (report.task == task) codes.push_back(report.code);
    }
    return codes;
}

bool NotifyWindow::Ended(const TaskPtr& task) const {
    for (const TaskReport& report : m_reports) {
        if (report.task == task && report.code == kCodeTaskEnded) return true;
    }
    return false;
}

LRESULT NotifyWindow::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_MY_MESSAGE_1) {
        m_reports.push_back({wParam, TakeTaskMessage(lParam)});
        return 0;
    }
    return CWnd::WindowProc(message, wParam, lParam);
}
