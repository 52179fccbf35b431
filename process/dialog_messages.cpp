#include "process/dialog_messages.h"

bool PostTaskMessage(HWND window, WPARAM code, const TaskPtr& task) {
    TaskPtr* owned = task ? new TaskPtr(task) : nullptr;
    if (::PostMessageW(window, WM_MY_MESSAGE_1, code, reinterpret_cast<LPARAM>(owned))) return true;
    delete owned;
    return false;
}

TaskPtr TakeTaskMessage(LPARAM lParam) {
    std::unique_ptr<TaskPtr> owned(reinterpret_cast<TaskPtr*>(lParam));
    return owned ? *owned : TaskPtr();
}
