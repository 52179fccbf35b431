#include "framework/trace.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace {
std::mutex g_sinkMutex;
TraceSink g_sink;
}  // namespace

void SetTraceSink(TraceSink sink) {
    std::lock_guard<std::mutex> lock(g_sinkMutex);
    g_sink = std::move(sink);
}

void TraceLine(const char* format, ...) {
    char line[2048];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    OutputDebugStringA(line);

    std::lock_guard<std::mutex> lock(g_sinkMutex);
    if (g_sink) g_sink(line);
}
