#pragma once
// The one place where the system's 8-bit GBK text meets the wide API, so Chinese shows
// correctly whatever the machine's ANSI code page is.
#include <string>

constexpr unsigned kGbkCodePage = 936;

std::wstring GbkToWide(const std::string& gbk);
std::string WideToGbk(const std::wstring& wide);
