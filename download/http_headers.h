#pragma once
// Reading the few response headers the downloads rely on; 64-bit throughout, so packages
// over 4 GiB keep their true sizes.
#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <string>

struct ContentRange {
    bool valid = false;
    bool unsatisfied = false;  // "bytes */TOTAL" (the 416 form)
    uint64_t first = 0;
    uint64_t last = 0;
    uint64_t total = 0;        // 0 when the server wrote "*"
};

// Parses "bytes FIRST-LAST/TOTAL", "bytes FIRST-LAST/*" and "bytes */TOTAL".
ContentRange ParseContentRange(const std::string& value);

// A plain unsigned decimal that fits 64 bits, nothing else.
bool ParseDecimal64(const std::string& text, uint64_t* value);

// A header of a sent request as text; empty when it is missing.
std::string QueryHeader(HINTERNET request, DWORD query);

// Content-Length, or false when the server sent none (or an unreadable one).
bool QueryContentLength(HINTERNET request, uint64_t* length);

// The status code, or 0 when there is none.
int QueryStatusCode(HINTERNET request);

// ETag, else Last-Modified: what tells one version of the server's file from another.
std::string QueryValidator(HINTERNET request);
