#pragma once
// A URL split for WinINet's connect-then-request calls.
#include <windows.h>
#include <wininet.h>

#include <string>

struct UrlParts {
    std::string host;
    std::string path;  // the path with its query, as the request names it
    INTERNET_PORT port = INTERNET_DEFAULT_HTTP_PORT;
    INTERNET_SCHEME scheme = INTERNET_SCHEME_UNKNOWN;
};

// `url` with every byte above 0x7F written as %XX (upper-case hex) and all else as it was, so
// an already encoded URL stays the same. The system's URLs are GBK text: sent this way they
// are the same bytes on the wire whatever the machine's ANSI code page, which the A functions
// of WinINet would otherwise convert them through.
std::string PercentEncodeHighBytes(const std::string& url);

// False when WinINet can't read the URL. The URL is cracked in its PercentEncodeHighBytes
// form, so host, path and query are pure ASCII. Buffers fit any URL, so a long path is never cut
// and fetched wrong.
bool CrackUrl(const std::string& url, UrlParts* parts);
