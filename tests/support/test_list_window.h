#pragma once
// A real report list view in a hidden window, for tests of the task list.
#include <windows.h>

#include "tasklist/mavrin_list.h"

class TestListWindow {
public:
    TestListWindow();   // six columns, like the dialog's
    ~TestListWindow();
    CMavrinDlg& List() { return m_list; }
    // Handles the messages other threads sent to the list until `done` returns true.
    template <typename Done>
    void PumpUntil(Done done, DWORD timeoutMs = 10000) {
        DWORD start = ::GetTickCount();
        while (!done() && ::GetTickCount() - start < timeoutMs) {
            MSG msg;
            while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                ::TranslateMessage(&msg);
                ::DispatchMessageW(&msg);
            }
            ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        }
    }

private:
    HWND m_frame = nullptr;
    CMavrinDlg m_list;
};
