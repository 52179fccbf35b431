#pragma once
// "output.txt": what the update engine fetched and executed, one line per step, in the
// start-up directory, emptied at every start. Only the running task's worker writes it.
#include <fstream>

extern std::ofstream g_ofsOutput;
