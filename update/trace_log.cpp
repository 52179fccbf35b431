#include "update/trace_log.h"

std::ofstream g_ofsOutput;

void OpenTraceLog() {
    if (!g_ofsOutput.is_open()) g_ofsOutput.open("output.txt", std::ios::out | std::ios::trunc);
}
