#pragma once
// A URL split for WinINet's connect-then-request calls.
#include <windows.h>
#include <wininet.h>

#include <string>

struct UrlParts {
    std::string host;
    std::string path;  // the path with its query part, as the request names it
    INTERNET_PORT port = INTERNET_DEFAULT_HTTP_PORT;
    INTERNET_SCHEME scheme = INTERNET_SCHEME_UNKNOWN;
};

// False when WinINet can't read the URL. Buffers fit any URL, so a long path is never cut
// and fetched wrong.
bool CrackUrl(const std::string& url, UrlParts* parts);
