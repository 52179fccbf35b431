#include "download/download_messages.h"

#include <wininet.h>

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "framework/message_box.h"
#include "process/process_values.h"

std::string FormatText(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::vector<char> text(static_cast<size_t>(length > 0 ? length : 0) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, args);
    va_end(args);
    return std::string(text.data());
}

int ShowDownloadError(const std::string& text, UINT buttons) {
    return ShowMessageBox(g_hMainWnd, text, "错误", buttons | MB_ICONERROR);
}

void ShowNetworkUnstable(DWORD error) {
    char response[1000] = {};
    DWORD length = sizeof response;
    InternetGetLastResponseInfoA(&error, response, &length);
    ShowDownloadError("对不起，您的网络不稳定，请回复后请继续下载");
}

void ShowOpenUrlError(DWORD error, const char* url) {
    char response[1000] = {};
    DWORD length = 999;
    if (InternetGetLastResponseInfoA(&error, response, &length) && response[0] != '\0') {
        ShowDownloadError(FormatText("InternetOpenUrl 错误.\n网址:%s.\n错误信息:%s.", url, response));
    } else {
        ShowDownloadError(FormatText("InternetOpenUrl 错误.\n网址:%s.\n错误号:%d.", url, static_cast<int>(error)));
    }
}

void ShowInsecureRedirect(const char* url) {
    ShowDownloadError(FormatText("下载文件出错.\n网址:%s.\n重定向到不安全的网址.", url));
}

void ShowTooLarge(const char* url, uint64_t maxBytes) {
    ShowDownloadError(FormatText("下载文件出错.\n网址:%s.\n文件超过%llu字节.", url,
                                 static_cast<unsigned long long>(maxBytes)));
}

void ShowSendFailure(SendOutcome outcome, DWORD error, const char* url) {
    switch (outcome) {
    case SendOutcome::Sent:
    case SendOutcome::Stopped:
        return;
    case SendOutcome::TooManyRedirects:
        ShowDownloadError(FormatText("下载文件出错.\n网址:%s.\n重定向次数过多.", url));
        return;
    case SendOutcome::InsecureRedirect:
        ShowInsecureRedirect(url);
        return;
    case SendOutcome::BadUrl:
        ShowOpenUrlError(ERROR_INTERNET_INVALID_URL, url);
        return;
    case SendOutcome::Failed:
        if (IsCertificateError(error)) {
            ShowDownloadError(FormatText("下载文件出错.\n网址:%s.\n服务器证书不可信. 错误号:%d.", url,
                                         static_cast<int>(error)));
        } else {
            ShowOpenUrlError(error, url);
        }
        return;
    }
}
