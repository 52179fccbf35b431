#pragma once
// "output.txt": what the update engine fetched and executed, one line per step, in the
// start-up directory, emptied at every start. Only the running task's worker writes it.
#include <fstream>

extern std::ofstream g_ofsOutput;

// Opens (and empties) "output.txt" in the current directory. The program calls it once it
// knows it is the only updater of its folder, before anything changes the current directory;
// until then, and when the file can't be opened, lines are dropped.
void OpenTraceLog();
