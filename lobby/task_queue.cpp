#include "lobby/task_queue.h"

TaskPtr CreateTask(const sUpdateStruct& request, CWnd* owner, int32_t nIndex) {
    TaskPtr task = std::make_shared<UpdateTask>(request);
    task->pdlg = owner;
    task->nIndex = nIndex;
    return task;
}

namespace {
bool HasGameInState(const TaskQueue& queue, const sUpdateStruct& request, int32_t state) {
    for (const TaskPtr& task : queue) {
        if (task && task->nGameID == request.nGameID && task->nState == state) return true;
    }
    return false;
}
}  // namespace

bool CheckAdded(const TaskQueue& queue, const sUpdateStruct& request) {
    return HasGameInState(queue, request, kTaskWaiting);
}

bool CheckDownloading(const TaskQueue& queue, const sUpdateStruct& request) {
    return HasGameInState(queue, request, kTaskRunning);
}

TaskPtr FindNextWaiting(const TaskQueue& queue) {
    for (const TaskPtr& task : queue) {
        if (task && !task->bStop && task->nState == kTaskWaiting) return task;
    }
    return nullptr;
}

size_t CountFinished(const TaskQueue& queue) {
    size_t finished = 0;
    for (const TaskPtr& task : queue) {
        if (task && task->nIndex >= 0 && task->nState == kTaskFinished) ++finished;
    }
    return finished;
}

bool AllFinished(const TaskQueue& queue) {
    return !queue.empty() && CountFinished(queue) == queue.size();
}

TaskPtr RemoveTaskAtRow(TaskQueue& queue, int32_t nIndex) {
    for (auto it = queue.begin(); it != queue.end(); ++it) {
        if (!*it || (*it)->nIndex != nIndex) continue;
        TaskPtr removed = *it;
        removed->bStop = true;
        it = queue.erase(it);
        for (; it != queue.end(); ++it) {
            if (*it) --(*it)->nIndex;
        }
        return removed;
    }
    return nullptr;
}

void StopAndReleaseAll(TaskQueue& queue) {
    for (TaskPtr& task : queue) {
        if (!task) continue;
        task->bStop = true;
        task.reset();
    }
}
