#include "process/exit_flag.h"

std::atomic<bool> g_bExit{false};
