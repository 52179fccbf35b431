#include "framework/internet_session.h"

#include <cstdlib>

#include "framework/internet_handle.h"
#include "framework/url_parts.h"

int CInternetSession::QueryStatusCode(const std::string& url) {
    UrlParts parts;
    if (!CrackUrl(url, &parts)) return -1;
    if (parts.scheme != INTERNET_SCHEME_HTTP && parts.scheme != INTERNET_SCHEME_HTTPS) return -1;
    std::string target = parts.path.empty() ? "/" : parts.path;

    ScopedInternetHandle session(InternetOpenA("updater", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!session.IsValid()) return -1;
    ScopedInternetHandle connection(
        InternetConnectA(session.Get(), parts.host.c_str(), parts.port, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 1));
    if (!connection.IsValid()) return -1;
    DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;
    if (parts.scheme == INTERNET_SCHEME_HTTPS) flags |= INTERNET_FLAG_SECURE;
    ScopedInternetHandle request(
        HttpOpenRequestA(connection.Get(), "HEAD", target.c_str(), nullptr, nullptr, nullptr, flags, 1));
    if (!request.IsValid() || !HttpSendRequestA(request.Get(), nullptr, 0, nullptr, 0)) return -1;
    char status[32] = {};
    DWORD length = sizeof status - 1;
    if (!HttpQueryInfoA(request.Get(), HTTP_QUERY_STATUS_CODE, status, &length, nullptr)) return -1;
    return std::atoi(status);
}
