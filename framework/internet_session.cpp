#include "framework/internet_session.h"

#include "framework/http_request.h"

int CInternetSession::QueryStatusCode(const std::string& url) {
    ScopedInternetHandle session(InternetOpenA("updater", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!session.IsValid()) return -1;
    HttpRequestOptions options;
    options.verb = "HEAD";
    HttpRequest request;
    if (SendHttpRequest(session.Get(), url, options, nullptr, &request, nullptr) != SendOutcome::Sent) return -1;
    return request.status;
}
