#pragma once
// The one process-wide stop flag of every update, download and unpack thread: cleared
// before each task starts, set when the program closes.
#include <atomic>

extern std::atomic<bool> g_bExit;
