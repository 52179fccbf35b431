#include "download/http_headers.h"

#include "framework/http_request.h"

bool ParseDecimal64(const std::string& text, uint64_t* value) {
    size_t begin = text.find_first_not_of(" \t");
    size_t end = text.find_last_not_of(" \t");
    if (begin == std::string::npos) return false;
    uint64_t result = 0;
    for (size_t i = begin; i <= end; ++i) {
        char c = text[i];
        if (c < '0' || c > '9') return false;
        uint64_t digit = static_cast<uint64_t>(c - '0');
        if (result > (UINT64_MAX - digit) / 10) return false;
        result = result * 10 + digit;
    }
    *value = result;
    return true;
}

ContentRange ParseContentRange(const std::string& value) {
    ContentRange range;
    const std::string unit = "bytes ";
    if (value.compare(0, unit.size(), unit) != 0) return range;
    std::string rest = value.substr(unit.size());
    size_t slash = rest.find('/');
    if (slash == std::string::npos) return range;
    std::string span = rest.substr(0, slash);
    std::string total = rest.substr(slash + 1);
    if (total != "*" && !ParseDecimal64(total, &range.total)) return range;
    if (span == "*") {
        range.unsatisfied = true;
        range.valid = total != "*";
        return range;
    }
    size_t dash = span.find('-');
    if (dash == std::string::npos) return range;
    if (!ParseDecimal64(span.substr(0, dash), &range.first) || !ParseDecimal64(span.substr(dash + 1), &range.last)) {
        return range;
    }
    range.valid = range.first <= range.last && (range.total == 0 || range.last < range.total);
    return range;
}

std::string QueryHeader(HINTERNET request, DWORD query) { return ResponseHeader(request, query); }

bool QueryContentLength(HINTERNET request, uint64_t* length) {
    return ParseDecimal64(QueryHeader(request, HTTP_QUERY_CONTENT_LENGTH), length);
}

int QueryStatusCode(HINTERNET request) {
    uint64_t status = 0;
    if (!ParseDecimal64(QueryHeader(request, HTTP_QUERY_STATUS_CODE), &status) || status > 999) return 0;
    return static_cast<int>(status);
}

std::string QueryValidator(HINTERNET request) {
    std::string etag = QueryHeader(request, HTTP_QUERY_ETAG);
    return etag.empty() ? QueryHeader(request, HTTP_QUERY_LAST_MODIFIED) : etag;
}
