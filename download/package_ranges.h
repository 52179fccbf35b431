#pragma once
// Fetches only some byte ranges of a package: neighbours are merged, several go in one
// request (multipart/byteranges), and servers that cannot do that are met with single ranges
// or one stream. Bytes are handed on in order, nothing is written here.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "download/package_stream.h"
#include "lobby/update_task.h"

struct ByteRange {
    uint64_t first;
    uint64_t end;  // one past the last byte
};

// Fetches the given ranges of `url` (sorted, disjoint) and hands their bytes in order to sink.
// Merges neighbours whose gap is under 64 KiB (the gap's bytes are read and dropped, not handed
// on), asks up to 20 ranges per request (multipart/byteranges), If-Range with the first answer's
// validator; when the merged ranges cover more than 80 % of zipSize it reads from the first range's
// start as one stream instead (StreamPackage). A multi-range request answered with 200, with a single
// part or with a malformed multipart body → single ranges from then on; a server that ignores Range
// (200 to a single range) → read as one stream, everything outside the ranges dropped. Lost
// connection: restart() says where to go on (an entry's start); ranges wholly before that are done.
// Progress: task.fProgress = fetched / neededBytes, dSpeed, row size zipSize >> 10. Same retry,
// pacing and messages as StreamPackage.
StreamOutcome FetchPackageRanges(const std::string& url, const std::vector<ByteRange>& ranges,
                                 uint64_t zipSize, uint64_t neededBytes, UpdateTask& task,
                                 const std::function<bool(uint64_t, const char*, size_t)>& sink,
                                 const std::function<uint64_t()>& restart);
