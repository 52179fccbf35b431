#pragma once
// The task queue in row order and the queries several parts of the program ask of it.
// A slot may be empty: closing the program frees the tasks but keeps their slots.
#include <vector>

#include "lobby/update_task.h"

using TaskQueue = std::vector<TaskPtr>;

// A new task: the record copied, every run-time field zero, its row at the end of the queue.
TaskPtr CreateTask(const sUpdateStruct& request, CWnd* owner, int32_t nIndex);

// Some task for the same game is still waiting (state 0).
bool CheckAdded(const TaskQueue& queue, const sUpdateStruct& request);

// Some task for the same game is running (state 1).
bool CheckDownloading(const TaskQueue& queue, const sUpdateStruct& request);

// The first present task, not asked to stop, still waiting; null when there is none.
TaskPtr FindNextWaiting(const TaskQueue& queue);

// Tasks with a row whose worker ran its list to the end; a failed or stopped task never counts.
size_t CountFinished(const TaskQueue& queue);

// The queue holds tasks and every one of them has finished: only then is a game entered by
// itself.
bool AllFinished(const TaskQueue& queue);

// Takes the first present task whose row is `nIndex` out of the queue: sets its stop flag,
// closes the gap and moves every later task up one row. Returns the task, or null.
TaskPtr RemoveTaskAtRow(TaskQueue& queue, int32_t nIndex);

// Asks every queued task to stop and empties its slot; the slots stay in place.
void StopAndReleaseAll(TaskQueue& queue);
