#pragma once
// The names of the files an unpack writes before they pass their checks, "~unzip-<process
// id>-<n>.part" beside their final place, and the sweep of those an earlier unpack left
// behind: a process ended between the commit's two steps, or a power loss, leaves one for good.
#include <string>

namespace unzip {

// A new temporary name (no folder) for this process; never the same twice in one process.
std::wstring NewTemporaryName();

// The process is writing or committing the file `name`: a sweep must leave it alone.
void NoteTemporaryInUse(const std::wstring& name);
void NoteTemporaryDone(const std::wstring& name);

// Deletes the temporary files in `folder` (ending in '\') that no running unpack owns: those of
// processes that have ended, and this process's own that it is not writing. Failures are ignored:
// a file that stays is only a stray file.
void RemoveLeftoverTemporaries(const std::wstring& folder);

}  // namespace unzip
