#pragma once
// Conversions between the system's GBK text, the UTF-16 of the Windows command line and the
// UTF-8 that the simulator prints.
#include <string>

namespace lobbysim {

// False when the text holds a character that GBK (code page 936) can't represent.
bool WideToGbk(const std::wstring& wide, std::string& gbk);

// Bytes that are not valid GBK become U+FFFD.
std::wstring GbkToWide(const std::string& gbk);

std::string WideToUtf8(const std::wstring& wide);

}  // namespace lobbysim
