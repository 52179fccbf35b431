#pragma once
// What a run of an update list may leave out because an earlier run already did it.
#include "lobby/update_task.h"
#include "update/update_files.h"

// The command of an entry an earlier run may have carried out has visibly taken effect, so
// running it again would fail instead of redoing it: "REN" and "MOVE" whose source is gone
// and whose target is there; "DEC" whose archive is gone (it is deleted only after a whole
// unpack). A wildcard source is never taken as gone: the command runs again, and what it
// left behind (a locked file) is moved then. Every other command is safe to run again.
bool CommandTookEffect(const UpdateListEntry& entry);

// A download entry with a sha256 whose destination already holds exactly that content: true,
// and the row is left as a finished download leaves it, a side file of an interrupted fetch
// of it is removed, and nothing is fetched. `destination` is the resolved full path.
bool SkipInstalledDownload(UpdateTask& task, const UpdateListEntry& entry, const std::string& destination,
                           int row);
