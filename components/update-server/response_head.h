#pragma once
// The status line and header fields the server answers with, and its small error pages.
#include <windows.h>

#include <cstdint>
#include <string>

namespace updsrv {

struct ResponseHead {
    int nStatus = 200;
    uint64_t nContentLength = 0;
    std::string strContentType;   // empty: no Content-Type
    std::string strContentRange;  // empty: no Content-Range
    std::string strETag;          // empty: no ETag
    std::string strLastModified;  // empty: no Last-Modified
    bool bKeepAlive = true;
    bool bAllowGetHead = false;   // 405: say which methods are allowed
};

const char* ReasonPhrase(int nStatus);

// The head with its closing empty line. `date` is an HTTP date (HttpDate).
std::string FormatResponseHead(const ResponseHead& head, const std::string& date);

// "Sun, 06 Nov 1994 08:49:37 GMT" from a UTC time.
std::string HttpDate(const SYSTEMTIME& utc);

// A short HTML page naming the status; `detail` is HTML-escaped.
std::string ErrorPage(int nStatus, const std::string& detail);

// text/plain for the update lists and settings (.txt, .ini), application/octet-stream else.
std::string ContentTypeFor(const std::wstring& path);

// "bytes 300-999/1000" and "bytes */1000".
std::string ContentRange(uint64_t nFirst, uint64_t nLength, uint64_t nSize);
std::string UnsatisfiedRange(uint64_t nSize);

}  // namespace updsrv
