#include "update/worker_control.h"

#include <algorithm>
#include <atomic>
#include <memory>

#include "framework/scoped_handle.h"
#include "framework/trace.h"
#include "framework/wnd.h"
#include "process/dialog_messages.h"
#include "process/exit_flag.h"
#include "process/process_values.h"
#include "tasklist/mavrin_list.h"
#include "update/update_actions.h"
#include "update/update_files.h"

namespace {
constexpr int kRunningLimit = 1;
std::atomic<int> g_nSupervisors{0};
// Held from before a supervisor exists until its worker has ended: a task removed from the
// queue keeps the slot while its worker may still unpack or wait for a box.
std::atomic<int> g_nRunning{0};

// What a supervisor gets: its task and the window it reports to, read on the UI thread while
// the dialog surely exists, so the supervisor never touches the dialog object.
struct SupervisorJob {
    TaskPtr task;
    HWND notify = nullptr;
};

// Counted from before its thread is created until it ends, so a wait never misses one.
struct SupervisorEnd {
    ~SupervisorEnd() { --g_nSupervisors; }
};

// Gives the running slot back once, at the latest when the supervisor ends.
class RunningSlot {
public:
    ~RunningSlot() { Release(); }
    void Release() {
        if (m_bHeld) --g_nRunning;
        m_bHeld = false;
    }

private:
    bool m_bHeld = true;
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

HANDLE StartSupervisor(const TaskPtr& task) {
    auto job = std::make_unique<SupervisorJob>();
    job->task = task;
    job->notify = task && task->pdlg ? task->pdlg->GetSafeHwnd() : nullptr;
    ++g_nSupervisors;
    ++g_nRunning;
    HANDLE thread = ::CreateThread(nullptr, 0, UpdateSupervisor, job.get(), 0, nullptr);
    if (thread == nullptr) {
        --g_nRunning;
        --g_nSupervisors;
        return nullptr;
    }
    job.release();  // the supervisor owns it now
    return thread;
}

int RunningWorkers() { return g_nRunning; }

void StartWaitingTasks(const TaskQueue& queue) {
    int waiting = 0;
    for (const TaskPtr& task : queue) {
        if (task && task->nState == kTaskWaiting) ++waiting;
    }
    int starts = std::min(kRunningLimit - g_nRunning.load(), waiting);
    for (int i = 0; i < starts; ++i) {
        g_bExit = false;
        TaskPtr next = FindNextWaiting(queue);
        if (!next) break;
        next->nState = kTaskRunning;
        ScopedKernelHandle supervisor(StartSupervisor(next));
        if (!supervisor.IsValid()) {
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
    RunningSlot slot;
    std::unique_ptr<SupervisorJob> job(static_cast<SupervisorJob*>(param));
    if (!job || !job->task) return 0;
    const TaskPtr task = job->task;
    if (g_bExit) return static_cast<DWORD>(-1);
    task->bStop = false;
    DWORD result = static_cast<DWORD>(-1);
    {
        ScopedKernelHandle worker(StartTaskThread(StartUpdateEx, task));
        task->hThread = worker.Get();
        if (worker.IsValid()) {
            ::WaitForSingleObject(worker.Get(), INFINITE);
            ::GetExitCodeThread(worker.Get(), &result);
        }
        task->hThread = nullptr;
    }
    // The outcome: a stop stays a stop; otherwise the worker's result decides.
    if (!task->bStop && !g_bExit) task->nState = result == 0 ? kTaskFinished : kTaskFailed;
    // The worker has really ended: the next task may start once the dialog hears of this end.
    slot.Release();
    if (task->pdlg == nullptr) return 0;
    if (task->nIndex >= 0) {
        // A failed row keeps the progress it reached.
        if (task->nState == kTaskFinished) task->fProgress = 1.0f;
        task->dSpeed = 0.0;
        PostTaskMessage(job->notify, kCodeFinalProgress, task);
    }
    PostTaskMessage(job->notify, kCodeTaskEnded, task);
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
        // The list as fetched and verified: both passes read these entries, nothing else.
        UpdateList list;
        if (!ReadUpdateURLFile(task.get(), &list)) return static_cast<DWORD>(-1);
        if (g_bExit) return static_cast<DWORD>(-1);
        if (!CheckUpdateList(*task, list)) return static_cast<DWORD>(-1);
        if (g_bExit) return static_cast<DWORD>(-1);
        return static_cast<DWORD>(ExecuteUpdateList(task, list));
    } catch (...) {
        TraceLine("tor1: StartUpdateEx ended by an exception");
        return static_cast<DWORD>(-1);
    }
}
