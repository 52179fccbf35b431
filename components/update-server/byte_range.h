#pragma once
// What part of a file a Range header asks for. No file access here.
#include <cstdint>
#include <string>

namespace updsrv {

struct RangePlan {
    enum Kind { Whole, Slice, Unsatisfiable };
    Kind kind = Whole;
    uint64_t nFirst = 0;   // Slice: first byte
    uint64_t nLength = 0;  // Whole and Slice: bytes to send
};

// `range` is the Range field's value, nullptr when there is none. A single range
// "bytes=N-", "bytes=N-M" or "bytes=-K" (the last K bytes) gives a Slice, clamped to the
// file; one starting at or past the end gives Unsatisfiable. Anything else - other units,
// several ranges, M < N, garbage - is ignored and gives Whole, as HTTP allows.
RangePlan PlanRange(const std::string* range, uint64_t nSize);

}  // namespace updsrv
