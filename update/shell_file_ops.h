#pragma once
// File operations through the shell: silent, every confirmation answered yes, no error UI of
// the shell's own. Each shows its own message on failure.
#include <string>

bool ShellDeleteFile(const std::string& path);
bool ShellMoveFile(const std::string& source, const std::string& target);
bool ShellCopyFile(const std::string& source, const std::string& target);

// Deletes a folder with its content (or a file); nothing when it doesn't exist. No message.
void ShellRemoveTree(const std::string& path);
