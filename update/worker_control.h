#pragma once
// Running queued tasks: one at a time, each by a supervisor thread that starts the worker,
// waits for it and reports the task's end to the dialog.
#include <windows.h>

#include "lobby/task_queue.h"

// Starts the first waiting task when no task holds the running slot. The caller holds the
// dialog's start lock.
void StartWaitingTasks(const TaskQueue& queue);

// Waits until every supervisor (and so every worker) has ended, at most `timeoutMs`.
bool WaitForWorkers(DWORD timeoutMs);

// Thread procedures; `param` is a heap TaskPtr* whose ownership passes to the thread.
DWORD WINAPI UpdateSupervisor(LPVOID param);
DWORD WINAPI StartUpdateEx(LPVOID param);
