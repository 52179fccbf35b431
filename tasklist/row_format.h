#pragma once
// How a row shows its numbers; no window needed.
#include <string>

// The bar's percent: truncated, and 99 or more shows as 100 so a finished task reads 100.
int ProgressPercent(float fraction);

// The speed cell: one decimal right-aligned in ten characters.
std::string SpeedText(float kbPerSecond);

// The size cell: KB in decimal.
std::string SizeText(int kb);
