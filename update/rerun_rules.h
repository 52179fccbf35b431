#pragma once
// What a run of an update list may leave out because an earlier run already did it.
#include "lobby/update_task.h"
#include "update/update_files.h"

// The command of the entry an earlier run was cut short in has visibly taken effect, so
// running it again would fail instead of redoing it: "REN" and "MOVE" whose source is gone
// and whose target is there; "DEC" whose archive is gone (it is deleted only after a whole
// unpack). Every other command is safe to run again.
bool CommandTookEffect(const UpdateListEntry& entry);

// A download entry with a sha256 whose destination already holds exactly that content: true,
// and the row is left as a finished download leaves it, a side file of an interrupted fetch
// of it is removed, and nothing is fetched. `destination` is the resolved full path.
bool SkipInstalledDownload(UpdateTask& task, const UpdateListEntry& entry, const std::string& destination,
                           int row);
