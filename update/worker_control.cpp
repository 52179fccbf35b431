#include "update/worker_control.h"

#include <atomic>
#include <memory>

#include "app/dialog_messages.h"
#include "app/process_values.h"
#include "framework/scoped_handle.h"
#include "framework/trace.h"
#include "framework/wnd.h"
#include "tasklist/mavrin_list.h"
#include "update/exit_flag.h"
#include "update/update_actions.h"
#include "update/update_files.h"

namespace {
constexpr int kRunningLimit = 1;
std::atomic<int> g_nSupervisors{0};

// Counted from before its thread is created until it ends, so a wait never misses one.
struct SupervisorEnd {
    ~SupervisorEnd() { --g_nSupervisors; }
};

// Starts `procedure` with its own reference to the task.
HANDLE StartTaskThread(LPTHREAD_START_ROUTINE procedure, const TaskPtr& task) {
    TaskPtr* owned = new TaskPtr(task);
    HANDLE thread = ::CreateThread(nullptr, 0, procedure, owned, 0, nullptr);
    if (thread == nullptr) delete owned;
    return thread;
}

TaskPtr TakeTask(LPVOID param) {
    std::unique_ptr<TaskPtr> owned(static_cast<TaskPtr*>(param));
    return owned ? *owned : TaskPtr();
}
}  // namespace

void StartWaitingTasks(const TaskQueue& queue) {
    int waiting = 0;
    int running = 0;
    for (const TaskPtr& task : queue) {
        if (!task) continue;
        if (task->nState == kTaskWaiting) ++waiting;
        if (!task->bStop && task->nState == kTaskRunning) ++running;
    }
    int starts = std::min(kRunningLimit - running, waiting);
    for (int i = 0; i < starts; ++i) {
        g_bExit = false;
        TaskPtr next = FindNextWaiting(queue);
        if (!next) break;
        next->nState = kTaskRunning;
        ++g_nSupervisors;
        ScopedKernelHandle supervisor(StartTaskThread(UpdateSupervisor, next));
        if (!supervisor.IsValid()) {
            --g_nSupervisors;
            // Left waiting, so the next start request tries it again.
            TraceLine("tor: supervisor thread could not be created err = %lu", ::GetLastError());
            next->nState = kTaskWaiting;
        }
    }
}

bool WaitForWorkers(DWORD timeoutMs) {
    DWORD start = ::GetTickCount();
    while (g_nSupervisors > 0) {
        if (::GetTickCount() - start >= timeoutMs) return false;
        ::Sleep(20);
    }
    return true;
}

DWORD WINAPI UpdateSupervisor(LPVOID param) {
    SupervisorEnd counted;
    TaskPtr task = TakeTask(param);
    if (!task) return 0;
    if (g_bExit) return static_cast<DWORD>(-1);
    task->bStop = false;
    {
        ScopedKernelHandle worker(StartTaskThread(StartUpdateEx, task));
        task->hThread = worker.Get();
        if (worker.IsValid()) ::WaitForSingleObject(worker.Get(), INFINITE);
        task->hThread = nullptr;
    }
    if (task->pdlg == nullptr) return 0;
    HWND dialog = task->pdlg->GetSafeHwnd();
    if (task->nIndex >= 0) {
        if (!task->bStop) task->fProgress = 1.0f;
        task->dSpeed = 0.0;
        PostTaskMessage(dialog, kCodeFinalProgress, task);
    }
    PostTaskMessage(dialog, kCodeTaskEnded, task);
    TraceLine("tor:ptemp->pdlg->PostMessage(WM_MY_MESSAGE_1, (WPARAM)0,(LPARAM)ptemp);");
    return 0;
}

DWORD WINAPI StartUpdateEx(LPVOID param) {
    TraceLine("tor1: DWORD WINAPI StartUpdateEx(LPVOID lParam)");
    TaskPtr task = TakeTask(param);
    if (!task) return static_cast<DWORD>(-1);
    try {
        if (task->nIndex >= 0 && g_pTaskList != nullptr) {
            g_pTaskList->SetItemPhase(task->nIndex, 0);
            task->cPhase = kPhaseDownloading;
        }
        std::string listPath;
        std::string listUrl;
        if (!ReadUpdateURLFile(task.get(), &listPath, &listUrl)) return static_cast<DWORD>(-1);
        if (g_bExit) return static_cast<DWORD>(-1);
        if (!CheckUpdateList(*task, listPath, listUrl)) return static_cast<DWORD>(-1);
        if (g_bExit) return static_cast<DWORD>(-1);
        return static_cast<DWORD>(ExecuteUpdateList(task, listPath));
    } catch (...) {
        TraceLine("tor1: StartUpdateEx ended by an exception");
        return static_cast<DWORD>(-1);
    }
}
