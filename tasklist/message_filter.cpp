#include "tasklist/message_filter.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "framework/message_filters.h"
#include "tasklist/mavrin_list.h"

namespace {
// The lists of one thread, offered the messages of their own windows.
class ThreadLists : public CMessageFilter {
public:
    std::vector<CMavrinDlg*> lists;

    bool FilterMessage(MSG* msg) override {
        const std::vector<CMavrinDlg*> current = lists;  // a list may unregister
        for (CMavrinDlg* list : current) {
            if (list->GetSafeHwnd() == nullptr) continue;
            if (!list->OwnsWindow(msg->hwnd)) continue;
            if (list->PreTranslateMessage(msg)) return true;
        }
        return false;
    }
};
thread_local ThreadLists t_lists;
}  // namespace

void TaskListMessageFilter::Register(CMavrinDlg* list) {
    auto& lists = t_lists.lists;
    if (std::find(lists.begin(), lists.end(), list) != lists.end()) return;
    lists.push_back(list);
    AddMessageFilter(&t_lists);
}

void TaskListMessageFilter::Unregister(CMavrinDlg* list) {
    auto& lists = t_lists.lists;
    lists.erase(std::remove(lists.begin(), lists.end(), list), lists.end());
    if (lists.empty()) RemoveMessageFilter(&t_lists);
}
