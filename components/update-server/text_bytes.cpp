#include "text_bytes.h"

#include <windows.h>

namespace updsrv {

namespace {

std::wstring ToWide(UINT nCodePage, DWORD nFlags, const std::string& bytes, bool& bOk) {
    bOk = true;
    if (bytes.empty()) return std::wstring();
    int n = MultiByteToWideChar(nCodePage, nFlags, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    if (n <= 0) {
        bOk = false;
        return std::wstring();
    }
    std::wstring wide(n, L'\0');
    MultiByteToWideChar(nCodePage, nFlags, bytes.data(), static_cast<int>(bytes.size()), &wide[0], n);
    return wide;
}

}  // namespace

std::string WideToUtf8(const std::wstring& wide) {
    if (wide.empty()) return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr,
                                nullptr);
    std::string utf8(n > 0 ? n : 0, '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &utf8[0], n, nullptr,
                            nullptr);
    return utf8;
}

std::wstring UrlBytesToWide(const std::string& bytes) {
    bool bOk = false;
    std::wstring wide = ToWide(CP_UTF8, MB_ERR_INVALID_CHARS, bytes, bOk);
    if (bOk) return wide;
    return ToWide(936, 0, bytes, bOk);
}

std::string Printable(const std::string& bytes) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size());
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            text += static_cast<char>(c);
        } else {
            text += "\\x";
            text += kHex[c >> 4];
            text += kHex[c & 15];
        }
    }
    return text;
}

}  // namespace updsrv
