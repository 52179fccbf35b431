#include "framework/internet_session.h"

StatusQuery CInternetSession::QueryStatus(const std::string& url) {
    StatusQuery query;
    ScopedInternetHandle session(InternetOpenA("updater", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!session.IsValid()) {
        query.error = GetLastError();
        return query;
    }
    HttpRequestOptions options;
    options.verb = "HEAD";
    HttpRequest request;
    query.outcome = SendHttpRequest(session.Get(), url, options, nullptr, &request, &query.error);
    query.status = request.status;
    return query;
}
