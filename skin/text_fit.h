#pragma once
// Fitting 8-bit GBK text to a width counted in double-byte characters, without cutting a
// character in half. No window needed, so the rules can be tested on their own.
#include <string>

// Bytes with the high bit set, counted from index `last` back towards the start and
// stopping at the first byte below 0x80; 0 for an empty string or a negative `last`.
int CountTrailingHighBytes(const std::string& s, int last);

// The text a line of `fit` double-byte characters shows: the whole text when its byte
// length / 2 is below `fit`, else its first 2 * fit - 6 bytes (all of it when that is
// negative), less a lead byte left without its trail byte, followed by "...".
std::string FitText(const std::string& text, int fit);
