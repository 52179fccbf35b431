#pragma once
// Fetches a small file whole into memory: the update files and their signatures, which are
// verified and read from the very bytes that came, with nothing left on disk for anyone to
// change in between.
#include <cstdint>
#include <string>

#include "lobby/update_task.h"

// One GET of `url` (redirects followed, time-limited); `bytes` receives the body, whatever the
// server's status (the caller tells a missing or broken file by its content). A body over
// `maxBytes` is refused with a message. Shows the plain download's messages; false on failure
// or stop. `status`, when given, receives the answer's status code.
bool FetchToMemory(const std::string& url, UpdateTask& task, uint64_t maxBytes, std::string* bytes,
                   int* status = nullptr);
