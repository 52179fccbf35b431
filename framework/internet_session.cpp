#include "framework/internet_session.h"

#include <cstdlib>
#include <vector>

#include "framework/internet_handle.h"

int CInternetSession::QueryStatusCode(const std::string& url) {
    std::vector<char> host(INTERNET_MAX_HOST_NAME_LENGTH + 1, '\0');
    std::vector<char> path(INTERNET_MAX_URL_LENGTH + 1, '\0');
    URL_COMPONENTSA parts = {};
    parts.dwStructSize = sizeof parts;
    parts.lpszHostName = host.data();
    parts.dwHostNameLength = static_cast<DWORD>(host.size());
    parts.lpszUrlPath = path.data();
    parts.dwUrlPathLength = static_cast<DWORD>(path.size());
    parts.dwExtraInfoLength = 1;
    if (url.empty() || !InternetCrackUrlA(url.c_str(), 0, 0, &parts)) return -1;
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) return -1;
    std::string target(path.data());
    if (parts.lpszExtraInfo != nullptr) target.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (target.empty()) target = "/";

    ScopedInternetHandle session(InternetOpenA("updater", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!session.IsValid()) return -1;
    ScopedInternetHandle connection(
        InternetConnectA(session.Get(), host.data(), parts.nPort, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 1));
    if (!connection.IsValid()) return -1;
    DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;
    if (parts.nScheme == INTERNET_SCHEME_HTTPS) flags |= INTERNET_FLAG_SECURE;
    ScopedInternetHandle request(
        HttpOpenRequestA(connection.Get(), "HEAD", target.c_str(), nullptr, nullptr, nullptr, flags, 1));
    if (!request.IsValid() || !HttpSendRequestA(request.Get(), nullptr, 0, nullptr, 0)) return -1;
    char status[32] = {};
    DWORD length = sizeof status - 1;
    if (!HttpQueryInfoA(request.Get(), HTTP_QUERY_STATUS_CODE, status, &length, nullptr)) return -1;
    return std::atoi(status);
}
