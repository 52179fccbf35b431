#pragma once
// Trace lines for the debugger: 8-bit text, no line break, each starting with a developer tag.
#include <functional>
#include <string>

void TraceLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Tests install a sink to see the lines; the debugger output still gets every line.
using TraceSink = std::function<void(const std::string& line)>;
void SetTraceSink(TraceSink sink);
