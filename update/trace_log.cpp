#include "update/trace_log.h"

// Opened during static initialisation, so it lands in the start-up directory whatever the
// program later makes its current directory. A file that can't be opened just drops lines.
std::ofstream g_ofsOutput("output.txt", std::ios::out | std::ios::trunc);
