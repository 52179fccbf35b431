#pragma once
// Executing a checked update list: downloads, file commands, unpacking, and the launch of the
// lobby client at the end marker.
#include <string>

#include "lobby/update_task.h"

// 0 when the list reached its end marker (the lobby client was launched), -1 otherwise.
int ExecuteUpdateList(const TaskPtr& task, const std::string& listPath);
