#pragma once
// File operations through the shell: silent, every confirmation answered yes, no error UI of
// the shell's own. Each acts on the resolved full paths and shows its own message, naming
// the paths as the list wrote them, on failure.
#include <string>

#include "update/update_paths.h"

bool ShellDeleteFile(const ListPath& path);
bool ShellMoveFile(const ListPath& source, const ListPath& target);
bool ShellCopyFile(const ListPath& source, const ListPath& target);

// Deletes a folder with its content (or a file), given in full; nothing when it doesn't
// exist. No message.
void ShellRemoveTree(const std::string& fullPath);
