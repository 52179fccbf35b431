#include "tasklist/message_filter.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "framework/trace.h"
#include "tasklist/mavrin_list.h"

namespace {
struct ThreadFilters {
    HHOOK hook = nullptr;
    std::vector<CMavrinDlg*> lists;
};
thread_local ThreadFilters t_filters;

LRESULT CALLBACK GetMessageHook(int code, WPARAM wParam, LPARAM lParam) {
    // Only a message that is being removed is about to be dispatched; peeks leave it queued.
    if (code == HC_ACTION && wParam == PM_REMOVE) {
        MSG* msg = reinterpret_cast<MSG*>(lParam);
        try {
            const std::vector<CMavrinDlg*> lists = t_filters.lists;  // a filter may unregister
            for (CMavrinDlg* list : lists) {
                if (list->GetSafeHwnd() == nullptr) continue;
                if (!list->OwnsWindow(msg->hwnd)) continue;
                if (list->PreTranslateMessage(msg)) {
                    msg->message = WM_NULL;
                    break;
                }
            }
        } catch (...) {
            TraceLine("qen: exception in the task list's message filter");
        }
    }
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}
}  // namespace

void TaskListMessageFilter::Register(CMavrinDlg* list) {
    auto& lists = t_filters.lists;
    if (std::find(lists.begin(), lists.end(), list) != lists.end()) return;
    lists.push_back(list);
    if (t_filters.hook == nullptr)
        t_filters.hook = ::SetWindowsHookExW(WH_GETMESSAGE, GetMessageHook, nullptr, ::GetCurrentThreadId());
}

void TaskListMessageFilter::Unregister(CMavrinDlg* list) {
    auto& lists = t_filters.lists;
    lists.erase(std::remove(lists.begin(), lists.end(), list), lists.end());
    if (lists.empty() && t_filters.hook != nullptr) {
        ::UnhookWindowsHookEx(t_filters.hook);
        t_filters.hook = nullptr;
    }
}
