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

std::string SizeCellText(int phase, const std::string& sizeText) {
    switch (phase) {
    case 0:
        return sizeText.empty() ? "等待下载.." : sizeText;
    case 1:
        return "正在安装..";
    case 2:
        return "安装完成";
    default:
        return sizeText;
    }
}

std::string PercentText(int percent) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%d %%", percent);
    return buffer;
}

int BarTileCount(int percent, int barWidth, int tileWidth) {
    if (tileWidth <= 0) return 0;
    const int covered = static_cast<int>((percent / 100.0) * barWidth);
    return covered / tileWidth - 2;
}

int CentredTop(int top, int bottom, int height) {
    return top + static_cast<int>((bottom - top - height) / 2.0);
}
