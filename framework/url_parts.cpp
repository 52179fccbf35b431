#include "framework/url_parts.h"

#include <vector>

bool CrackUrl(const std::string& url, UrlParts* parts) {
    if (url.empty()) return false;
    std::vector<char> host(INTERNET_MAX_HOST_NAME_LENGTH + 1, '\0');
    std::vector<char> path(INTERNET_MAX_URL_LENGTH + 1, '\0');
    URL_COMPONENTSA components = {};
    components.dwStructSize = sizeof components;
    components.lpszHostName = host.data();
    components.dwHostNameLength = static_cast<DWORD>(host.size());
    components.lpszUrlPath = path.data();
    components.dwUrlPathLength = static_cast<DWORD>(path.size());
    components.dwExtraInfoLength = 1;  // the query part follows the path in the same text
    if (!InternetCrackUrlA(url.c_str(), 0, 0, &components)) return false;
    parts->host = host.data();
    parts->path = path.data();
    if (components.lpszExtraInfo != nullptr) parts->path.append(components.lpszExtraInfo, components.dwExtraInfoLength);
    parts->port = components.nPort;
    parts->scheme = components.nScheme;
    return true;
}
