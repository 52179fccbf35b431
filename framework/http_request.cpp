#include "framework/http_request.h"

#include <algorithm>
#include <atomic>
#include <vector>

#include "framework/trace.h"
#include "framework/url_parts.h"

namespace {
constexpr DWORD kDefaultStallLimitMs = 30000;
std::atomic<DWORD> g_stallLimitMs{kDefaultStallLimitMs};

bool IsRedirect(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// A Location may be relative to the URL that answered. Both are combined in their ASCII form,
// so neither goes through the ANSI code page.
std::string ResolveLocation(const std::string& base, const std::string& location) {
    const std::string asciiBase = PercentEncodeHighBytes(base);
    const std::string asciiLocation = PercentEncodeHighBytes(location);
    std::vector<char> combined(std::max<size_t>(INTERNET_MAX_URL_LENGTH, asciiBase.size() + asciiLocation.size()) + 1,
                               '\0');
    DWORD length = static_cast<DWORD>(combined.size());
    if (!InternetCombineUrlA(asciiBase.c_str(), asciiLocation.c_str(), combined.data(), &length, ICU_NO_ENCODE)) {
        return std::string();
    }
    return std::string(combined.data(), length);
}

// The limits go on the request handle: Wine reads them there when it connects, and ignores
// the session's.
void ApplyStallLimit(HINTERNET request) {
    DWORD ms = HttpStallLimitMs();
    InternetSetOptionA(request, INTERNET_OPTION_CONNECT_TIMEOUT, &ms, sizeof ms);
    InternetSetOptionA(request, INTERNET_OPTION_SEND_TIMEOUT, &ms, sizeof ms);
    InternetSetOptionA(request, INTERNET_OPTION_RECEIVE_TIMEOUT, &ms, sizeof ms);
}

SendOutcome SendOnce(HINTERNET session, const UrlParts& parts, const HttpRequestOptions& options, HttpRequest* out,
                     DWORD* error) {
    out->request.Close();
    out->connection.Close();
    out->connection.Reset(InternetConnectA(session, parts.host.c_str(), parts.port, nullptr, nullptr,
                                           INTERNET_SERVICE_HTTP, 0, 1));
    if (!out->connection.IsValid()) {
        *error = GetLastError();
        return SendOutcome::Failed;
    }
    DWORD flags = options.flags | INTERNET_FLAG_NO_AUTO_REDIRECT;
    if (parts.scheme == INTERNET_SCHEME_HTTPS) flags |= INTERNET_FLAG_SECURE;
    std::string target = parts.path.empty() ? "/" : parts.path;
    out->request.Reset(HttpOpenRequestA(out->connection.Get(), options.verb, target.c_str(), options.version, nullptr,
                                        nullptr, flags, 1));
    if (!out->request.IsValid()) {
        *error = GetLastError();
        return SendOutcome::Failed;
    }
    ApplyStallLimit(out->request.Get());
    const char* headers = options.headers.empty() ? nullptr : options.headers.c_str();
    DWORD headersLength = static_cast<DWORD>(options.headers.size());
    if (!HttpSendRequestA(out->request.Get(), headers, headersLength, nullptr, 0)) {
        *error = GetLastError();
        return SendOutcome::Failed;
    }
    out->status = RequestStatusCode(out->request.Get());
    return SendOutcome::Sent;
}
}  // namespace

std::string ResponseHeader(HINTERNET request, DWORD query) {
    std::vector<char> buffer(512, '\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        DWORD length = static_cast<DWORD>(buffer.size());
        DWORD index = 0;
        if (HttpQueryInfoA(request, query, buffer.data(), &length, &index)) return std::string(buffer.data(), length);
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return std::string();
        buffer.assign(length + 1, '\0');
    }
    return std::string();
}

DWORD HttpStallLimitMs() { return g_stallLimitMs; }

void SetHttpStallLimitMs(DWORD ms) { g_stallLimitMs = ms == 0 ? kDefaultStallLimitMs : ms; }

bool IsCertificateError(DWORD error) {
    switch (error) {
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
    case ERROR_INTERNET_SEC_CERT_CN_INVALID:
    case ERROR_INTERNET_INVALID_CA:
    case ERROR_INTERNET_SEC_CERT_ERRORS:
    case ERROR_INTERNET_SEC_CERT_NO_REV:
    case ERROR_INTERNET_SEC_CERT_REV_FAILED:
    case ERROR_INTERNET_SEC_CERT_REVOKED:
    case ERROR_INTERNET_SEC_INVALID_CERT:
    case ERROR_INTERNET_SECURITY_CHANNEL_ERROR:
        return true;
    default:
        return false;
    }
}

int RequestStatusCode(HINTERNET request) {
    std::string text = ResponseHeader(request, HTTP_QUERY_STATUS_CODE);
    if (text.empty() || text.size() > 3) return 0;
    int status = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return 0;
        status = status * 10 + (c - '0');
    }
    return status;
}

SendOutcome SendHttpRequest(HINTERNET session, const std::string& url, const HttpRequestOptions& options,
                            const std::function<bool()>& stop, HttpRequest* out, DWORD* error) {
    DWORD ignored = 0;
    if (error == nullptr) error = &ignored;
    *error = 0;
    std::string current = url;
    for (int redirects = 0;; ++redirects) {
        if (stop && stop()) return SendOutcome::Stopped;
        UrlParts parts;
        if (!CrackUrl(current, &parts) ||
            (parts.scheme != INTERNET_SCHEME_HTTP && parts.scheme != INTERNET_SCHEME_HTTPS)) {
            return SendOutcome::BadUrl;
        }
        SendOutcome sent = SendOnce(session, parts, options, out, error);
        if (sent != SendOutcome::Sent) return sent;
        out->url = current;
        if (!IsRedirect(out->status)) return SendOutcome::Sent;
        std::string next = ResolveLocation(current, ResponseHeader(out->request.Get(), HTTP_QUERY_LOCATION));
        if (next.empty()) return SendOutcome::Sent;  // a redirect without a place to go is the answer
        if (redirects == kMaxRedirects) {
            TraceLine("qen: more than %d redirects from %s", kMaxRedirects, url.c_str());
            return SendOutcome::TooManyRedirects;
        }
        // What came over https must not be swapped for bytes anyone on the way can write.
        UrlParts target;
        bool staysSecure = CrackUrl(next, &target) && target.scheme == INTERNET_SCHEME_HTTPS;
        if (parts.scheme == INTERNET_SCHEME_HTTPS && !staysSecure) {
            TraceLine("qen: %s redirected to %s, not https", current.c_str(), next.c_str());
            return SendOutcome::InsecureRedirect;
        }
        current = next;
    }
}
