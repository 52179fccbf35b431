#pragma once
// Running queued tasks: one at a time, each by a supervisor thread that starts the worker,
// waits for it, records its outcome on the task and reports the task's end to the dialog.
#include <windows.h>

#include "lobby/task_queue.h"

// Starts the first waiting task when no worker is running. The caller holds the dialog's
// start lock and runs on the UI thread (the dialog's window is read here, never later).
void StartWaitingTasks(const TaskQueue& queue);

// Starts the supervisor of `task`, which holds the running slot until its worker has ended.
// Returns the supervisor's thread handle (the caller closes it), or null.
HANDLE StartSupervisor(const TaskPtr& task);

// Workers that have not ended yet, removed tasks' included.
int RunningWorkers();

// Waits until every supervisor (and so every worker) has ended, at most `timeoutMs`.
bool WaitForWorkers(DWORD timeoutMs);

// Thread procedures. UpdateSupervisor's `param` comes from StartSupervisor; StartUpdateEx's
// is a heap TaskPtr* whose ownership passes to the thread.
DWORD WINAPI UpdateSupervisor(LPVOID param);
DWORD WINAPI StartUpdateEx(LPVOID param);
