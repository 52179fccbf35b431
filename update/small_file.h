#pragma once
// Reading a small file (a key, a signature) whole.
#include <windows.h>

#include <string>

// The file's bytes when it exists and holds at most `limit` bytes. On false, `error` (when
// given) holds the system's error, ERROR_FILE_TOO_LARGE for a file over the limit.
bool ReadSmallFile(const std::string& path, size_t limit, std::string* bytes, DWORD* error = nullptr);
