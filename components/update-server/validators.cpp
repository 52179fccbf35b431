#include "validators.h"

#include <cstdio>

#include "response_head.h"

namespace updsrv {

std::string EntityTag(uint64_t nSize, const FILETIME& written) {
    const unsigned long long nTime = (static_cast<unsigned long long>(written.dwHighDateTime) << 32) |
                                     written.dwLowDateTime;
    char text[48];
    snprintf(text, sizeof text, "\"%llx-%llx\"", nTime, static_cast<unsigned long long>(nSize));
    return text;
}

std::string LastModified(const FILETIME& written) {
    SYSTEMTIME utc = {};
    FileTimeToSystemTime(&written, &utc);
    return HttpDate(utc);
}

bool IfRangeHolds(const std::string* ifRange, const std::string& entityTag, const std::string& lastModified) {
    return ifRange == nullptr || *ifRange == entityTag || *ifRange == lastModified;
}

}  // namespace updsrv
