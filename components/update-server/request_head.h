#pragma once
// The head of an HTTP/1.x request: request line and header fields. No sockets here.
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace updsrv {

// Longest request head accepted; a longer one gets 431 and the connection is closed.
constexpr size_t kMaxHeadBytes = 16 * 1024;

struct RequestHead {
    std::string strMethod;
    std::string strTarget;
    int nMinorVersion = 1;                                        // HTTP/1.x
    std::vector<std::pair<std::string, std::string>> vecFields;  // names lower-case, values trimmed

    // The value of the first field with this lower-case name, or nullptr.
    const std::string* Find(const char* lowerName) const;
    // How many fields have this lower-case name.
    int Count(const char* lowerName) const;
};

// Where the head in `buffer` ends (just after the empty line; lines may end in CRLF or LF),
// or npos while it is incomplete. Empty lines before the request line are part of the head.
size_t FindHeadEnd(const std::string& buffer);

// Parses a head found by FindHeadEnd. On failure returns the status to answer with
// (400, or 505 for a version other than 1.x) and sets `error`.
int ParseRequestHead(const std::string& head, RequestHead& request, std::string& error);

// Connection reuse: HTTP/1.1 unless "Connection: close"; HTTP/1.0 never.
bool WantsKeepAlive(const RequestHead& request);

// The request carries a body we would have to skip: Transfer-Encoding or Content-Length > 0.
// False with `error` set for an unreadable Content-Length.
bool ReadBodyLength(const RequestHead& request, bool& bHasBody, std::string& error);

}  // namespace updsrv
