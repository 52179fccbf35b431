#include "tasklist/row_format.h"

#include <cstdio>

int ProgressPercent(float fraction) {
    float scaled = fraction * 100.0f;
    if (!(scaled > 0.0f)) return 0;  // also NaN
    if (scaled >= 99.0f) return 100;
    return static_cast<int>(scaled);
}

std::string SpeedText(float kbPerSecond) {
    char text[64];
    std::snprintf(text, sizeof text, "%10.1f", static_cast<double>(kbPerSecond));
    return text;
}

std::string SizeText(int kb) {
    char text[256];
    std::snprintf(text, sizeof text, "%d", kb);
    return text;
}
