#include "framework/url_parts.h"

#include <algorithm>
#include <vector>

std::string PercentEncodeHighBytes(const std::string& url) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(url.size());
    for (unsigned char c : url) {
        if (c < 0x80) {
            encoded += static_cast<char>(c);
        } else {
            encoded += '%';
            encoded += kHex[c >> 4];
            encoded += kHex[c & 15];
        }
    }
    return encoded;
}

bool CrackUrl(const std::string& url, UrlParts* parts) {
    if (url.empty()) return false;
    const std::string ascii = PercentEncodeHighBytes(url);
    std::vector<char> host(INTERNET_MAX_HOST_NAME_LENGTH + 1, '\0');
    // Encoding makes a URL up to three times longer than written.
    std::vector<char> path(std::max<size_t>(INTERNET_MAX_URL_LENGTH, ascii.size()) + 1, '\0');
    URL_COMPONENTSA components = {};
    components.dwStructSize = sizeof components;
    components.lpszHostName = host.data();
    components.dwHostNameLength = static_cast<DWORD>(host.size());
    components.lpszUrlPath = path.data();
    components.dwUrlPathLength = static_cast<DWORD>(path.size());
    components.dwExtraInfoLength = 1;  // the query piece follows the path in the same text
    if (!InternetCrackUrlA(ascii.c_str(), 0, 0, &components)) return false;
    parts->host = host.data();
    parts->path = path.data();
    if (components.lpszExtraInfo != nullptr) parts->path.append(components.lpszExtraInfo, components.dwExtraInfoLength);
    parts->port = components.nPort;
    parts->scheme = components.nScheme;
    return true;
}
