#pragma once
// How a row shows its numbers; no window needed.
#include <string>

// The bar's percent: truncated, and 99 or more shows as 100 so a finished task reads 100.
int ProgressPercent(float fraction);

// The speed cell: one decimal right-aligned in ten characters.
std::string SpeedText(float kbPerSecond);

// The size cell: KB in decimal.
std::string SizeText(int kb);

// What the size cell shows: the size text while downloading ("等待下载.." before the size is
// known), the phase's own text once unpacking has begun.
std::string SizeCellText(int phase, const std::string& sizeText);

// What a failed row shows in place of its bar and percent.
constexpr char kFailedRowText[] = "更新失败";

// The bar's percent text: "50 %".
std::string PercentText(int percent);

// Fill tiles drawn over a bar `barWidth` wide; the bar's two end pixels are never covered, so
// the count is two short and may be negative (no tiles).
int BarTileCount(int percent, int barWidth, int tileWidth);

// Top of something `height` high centred between `top` and `bottom` (truncated toward zero).
int CentredTop(int top, int bottom, int height);
