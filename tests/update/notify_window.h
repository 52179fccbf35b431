#pragma once
// Stands in for the main dialog as the receiver of the supervisors' reports: a message-only
// window that records every WM_MY_MESSAGE_1 with the task reference it carried.
#include <windows.h>

#include <vector>

#include "framework/wnd.h"
#include "lobby/update_task.h"

struct TaskReport {
    WPARAM code;
    TaskPtr task;
};

class NotifyWindow : public CWnd {
public:
    NotifyWindow();
    ~NotifyWindow() override;

    // Handles posted messages until `done` returns true or `timeoutMs` has passed.
    template <typename Done>
    bool PumpUntil(Done done, DWORD timeoutMs = 30000) {
        DWORD start = ::GetTickCount();
        for (;;) {
            Pump();
            if (done()) return true;
            if (::GetTickCount() - start > timeoutMs) return false;
            ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        }
    }
    void Pump();

    // The codes reported for `task`, in order.
    std::vector<WPARAM> Codes(const TaskPtr& task) const;
    bool Ended(const TaskPtr& task) const;
    size_t ReportCount() const { return m_reports.size(); }

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    std::vector<TaskReport> m_reports;
};
