#include "text_convert.h"

#include <windows.h>

namespace lobbysim {

bool WideToGbk(const std::wstring& wide, std::string& gbk) {
    gbk.clear();
    if (wide.empty()) return true;
    BOOL bUsedDefault = FALSE;
    int n = WideCharToMultiByte(936, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()),
                                nullptr, 0, nullptr, &bUsedDefault);
    if (n <= 0 || bUsedDefault) return false;
    gbk.resize(n);
    WideCharToMultiByte(936, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()), &gbk[0],
                        n, nullptr, nullptr);
    return true;
}

std::wstring GbkToWide(const std::string& gbk) {
    if (gbk.empty()) return std::wstring();
    int n = MultiByteToWideChar(936, 0, gbk.data(), static_cast<int>(gbk.size()), nullptr, 0);
    if (n <= 0) return std::wstring();
    std::wstring wide(n, L'\0');
    MultiByteToWideChar(936, 0, gbk.data(), static_cast<int>(gbk.size()), &wide[0], n);
    return wide;
}

std::string WideToUtf8(const std::wstring& wide) {
    if (wide.empty()) return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                nullptr, nullptr);
    if (n <= 0) return std::string();
    std::string utf8(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &utf8[0], n, nullptr,
                        nullptr);
    return utf8;
}

}  // namespace lobbysim
