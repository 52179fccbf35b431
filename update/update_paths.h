#pragma once
#include <string>

// The program file's folder, without a trailing backslash.
std::string GetModuleDir();

// head without its trailing backslashes + one backslash + tail without its leading ones.
std::string JoinPath(const std::string& head, const std::string& tail);
