#include "framework/gbk_text.h"

#include <windows.h>

std::wstring GbkToWide(const std::string& gbk) {
    if (gbk.empty()) return std::wstring();
    int len = MultiByteToWideChar(kGbkCodePage, 0, gbk.data(), static_cast<int>(gbk.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(len), L'\0');
    MultiByteToWideChar(kGbkCodePage, 0, gbk.data(), static_cast<int>(gbk.size()), &wide[0], len);
    return wide;
}

std::string WideToGbk(const std::wstring& wide) {
    if (wide.empty()) return std::string();
    int len = WideCharToMultiByte(kGbkCodePage, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                  nullptr, nullptr);
    std::string gbk(static_cast<size_t>(len), '\0');
    WideCharToMultiByte(kGbkCodePage, 0, wide.data(), static_cast<int>(wide.size()), &gbk[0], len, nullptr,
                        nullptr);
    return gbk;
}
