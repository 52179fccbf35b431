#pragma once
// File operations of the update list: silent, every confirmation answered yes, no error UI of
// the shell's own. Each acts on the resolved full paths and shows its own message, naming
// the paths as the list wrote them, on failure. What a move, copy or rename wrote is on the
// disk when it returns true, so a journal that counts it next never counts a lost write.
#include <string>

#include "update/update_paths.h"

bool ShellDeleteFile(const ListPath& path);
// Replaces an existing target; a folder target receives the source inside it.
// `emptyMatchIsDone`: a wildcard source that matches nothing is what a completed move
// leaves, so it succeeds (a run of the same entry that an earlier run may have carried out).
bool ShellMoveFile(const ListPath& source, const ListPath& target, bool emptyMatchIsDone = false);
bool ShellCopyFile(const ListPath& source, const ListPath& target);
// The "REN" command: fails when the target exists, as the C runtime's rename does.
bool RenameListFile(const ListPath& source, const ListPath& target);

// Deletes a folder with its content (or a file), given in full; nothing when it doesn't
// exist. No message.
void ShellRemoveTree(const std::string& fullPath);

// The last part of the path holds '*' or '?'.
bool HasWildcard(const std::string& path);
