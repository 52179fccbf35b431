#include "response_head.h"

#include <cstdio>
#include <cwctype>

namespace updsrv {

const char* ReasonPhrase(int nStatus) {
    switch (nStatus) {
        case 200: return "OK";
        case 206: return "Partial Content";
        case 400: return "Bad Request";
        case 404: return "Not Found";
        case 405: return "Method Not Allowed";
        case 416: return "Range Not Satisfiable";
        case 431: return "Request Header Fields Too Large";
        case 500: return "Internal Server Error";
        case 501: return "Not Implemented";
        case 505: return "HTTP Version Not Supported";
        default: return "Unknown";
    }
}

std::string FormatResponseHead(const ResponseHead& head, const std::string& date) {
    std::string text = "HTTP/1.1 " + std::to_string(head.nStatus) + " " + ReasonPhrase(head.nStatus) + "\r\n";
    text += "Date: " + date + "\r\n";
    text += "Server: update-server\r\n";
    if (!head.strContentType.empty()) text += "Content-Type: " + head.strContentType + "\r\n";
    text += "Content-Length: " + std::to_string(head.nContentLength) + "\r\n";
    text += "Accept-Ranges: bytes\r\n";
    if (!head.strContentRange.empty()) text += "Content-Range: " + head.strContentRange + "\r\n";
    if (!head.strETag.empty()) text += "ETag: " + head.strETag + "\r\n";
    if (!head.strLastModified.empty()) text += "Last-Modified: " + head.strLastModified + "\r\n";
    if (head.bAllowGetHead) text += "Allow: GET, HEAD\r\n";
    text += head.bKeepAlive ? "Connection: keep-alive\r\n" : "Connection: close\r\n";
    text += "\r\n";
    return text;
}

std::string HttpDate(const SYSTEMTIME& utc) {
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char text[40];
    snprintf(text, sizeof text, "%s, %02u %s %04u %02u:%02u:%02u GMT", kDays[utc.wDayOfWeek % 7], utc.wDay,
             kMonths[(utc.wMonth + 11) % 12], utc.wYear, utc.wHour, utc.wMinute, utc.wSecond);
    return text;
}

std::string ErrorPage(int nStatus, const std::string& detail) {
    std::string escaped;
    for (char c : detail) {
        switch (c) {
            case '&': escaped += "&amp;"; break;
            case '<': escaped += "&lt;"; break;
            case '>': escaped += "&gt;"; break;
            case '"': escaped += "&quot;"; break;
            default: escaped += c;
        }
    }
    const std::string title = std::to_string(nStatus) + " " + ReasonPhrase(nStatus);
    return "<!DOCTYPE html>\n<html><head><title>" + title + "</title></head>\n<body><h1>" + title +
           "</h1>\n<p>" + escaped + "</p></body></html>\n";
}

std::string ContentTypeFor(const std::wstring& path) {
    size_t dot = path.find_last_of(L".\\");
    if (dot != std::wstring::npos && path[dot] == L'.') {
        std::wstring ext = path.substr(dot + 1);
        for (wchar_t& c : ext) c = static_cast<wchar_t>(std::towlower(c));
        if (ext == L"txt" || ext == L"ini") return "text/plain";
    }
    return "application/octet-stream";
}

std::string ContentRange(uint64_t nFirst, uint64_t nLength, uint64_t nSize) {
    return "bytes " + std::to_string(nFirst) + "-" + std::to_string(nFirst + nLength - 1) + "/" +
           std::to_string(nSize);
}

std::string UnsatisfiedRange(uint64_t nSize) {
    return "bytes */" + std::to_string(nSize);
}

}  // namespace updsrv
