#pragma once
// Executing a checked update list: downloads, file commands, unpacking, and the launch of the
// lobby client at the end marker.
#include "lobby/update_task.h"
#include "update/update_files.h"

// Runs the entries of a checked list in order. 0 when the list reached its end marker (the
// lobby client was launched), -1 otherwise.
int ExecuteUpdateList(const TaskPtr& task, const UpdateList& list);
