#include "download/package_ranges.h"

StreamOutcome FetchPackageRanges(const std::string& url, const std::vector<ByteRange>& ranges,
                                 uint64_t zipSize, uint64_t neededBytes, UpdateTask& task,
                                 const std::function<bool(uint64_t, const char*, size_t)>& sink,
                                 const std::function<uint64_t()>& restart) {
    uint64_t from = ranges.empty() ? zipSize : ranges.front().first;
    return StreamPackage(url, from, zipSize, neededBytes, task, sink, restart);
}
