#pragma once
// Splits a multipart/byteranges body into its parts as the bytes arrive: each part's
// Content-Range, then its bytes, in the order the server sent them.
#include <cstddef>
#include <functional>
#include <string>

#include "download/http_headers.h"

// The boundary of a "multipart/byteranges; boundary=..." Content-Type; empty for any other type.
std::string ByterangesBoundary(const std::string& contentType);

class ByterangesBody {
public:
    enum class Result {
        More,       // all taken, the body goes on
        End,        // the closing delimiter came; what follows it is ignored
        Malformed,  // not a multipart body with this boundary, or a part without a usable Content-Range
        Refused,    // a callback said no
    };

    // `part` hears of each part's range before its bytes go to `data`; either may refuse.
    ByterangesBody(std::string boundary, std::function<bool(const ContentRange&)> part,
                   std::function<bool(const char*, size_t)> data);

    Result Feed(const char* bytes, size_t size);

private:
    enum class State { First, Delimiter, Data, End };
    enum class Step { NeedMore, Done, Malformed, Refused };

    Step ParseHead(size_t* used);

    const std::string m_delimiter;  // "--" + boundary
    const std::function<bool(const ContentRange&)> m_part;
    const std::function<bool(const char*, size_t)> m_data;
    State m_state = State::First;
    std::string m_text;             // delimiter and part headers gathered so far
    uint64_t m_left = 0;            // bytes of the part under way still to come
};
