#pragma once
// One way to send an HTTP request for every fetch of the updater: https when the URL says so
// (certificate checks left on), a time limit on the request itself, and redirects followed by
// hand so a loop ends. WinINet under Wine honours no time limit set on a session, and follows
// a redirect loop for ever.
#include <windows.h>
#include <wininet.h>

#include <functional>
#include <string>

#include "framework/internet_handle.h"

constexpr int kMaxRedirects = 10;

// How long a request may go without a byte from the server (connect, headers, body).
DWORD HttpStallLimitMs();
// Tests shorten it; 0 restores the default.
void SetHttpStallLimitMs(DWORD ms);

enum class SendOutcome {
    Sent,              // a final answer (not a redirect) is there; its status is in `status`
    BadUrl,            // not an http or https URL WinINet can read
    TooManyRedirects,  // more than kMaxRedirects
    InsecureRedirect,  // an https URL sent us to plain http: the fetch ends there
    Stopped,           // `stop` said so between two requests
    Failed,            // no answer: `error` holds GetLastError
};

struct HttpRequest {
    ScopedInternetHandle connection;
    ScopedInternetHandle request;
    std::string url;  // the URL that gave the final answer
    int status = 0;
};

struct HttpRequestOptions {
    const char* verb = "GET";
    const char* version = nullptr;  // nullptr: WinINet's default
    std::string headers;            // extra request headers, each line ending in "\r\n"
    DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;
};

// Sends a request shaped by `options` to `url` on `session` and follows at most
// kMaxRedirects redirects (301, 302, 303, 307, 308 with a Location); once on https, never to
// anything else. `stop` may be empty.
SendOutcome SendHttpRequest(HINTERNET session, const std::string& url, const HttpRequestOptions& options,
                            const std::function<bool()>& stop, HttpRequest* out, DWORD* error);

// The server's certificate was refused (untrusted, expired, for another name, ...).
bool IsCertificateError(DWORD error);

// A response header as text; empty when it is missing.
std::string ResponseHeader(HINTERNET request, DWORD query);

// The status code of a sent request, 0 when there is none.
int RequestStatusCode(HINTERNET request);
