#include "byte_range.h"

#include <cctype>
#include <limits>

namespace updsrv {

namespace {

// Decimal digits; a value too large for 64 bits saturates, since it is past any file's end.
bool ParseOffset(const std::string& text, uint64_t& value) {
    if (text.empty()) return false;
    const uint64_t kMax = std::numeric_limits<uint64_t>::max();
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        unsigned digit = static_cast<unsigned>(c - '0');
        value = value > (kMax - digit) / 10 ? kMax : value * 10 + digit;
    }
    return true;
}

std::string Trim(const std::string& text) {
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

RangePlan PlanRange(const std::string* range, uint64_t nSize) {
    RangePlan whole;
    whole.nLength = nSize;
    if (!range) return whole;

    size_t eq = range->find('=');
    if (eq == std::string::npos) return whole;
    std::string unit = Trim(range->substr(0, eq));
    for (char& c : unit) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::string rangeSet = Trim(range->substr(eq + 1));
    if (unit != "bytes" || rangeSet.find(',') != std::string::npos) return whole;
    size_t dash = rangeSet.find('-');
    if (dash == std::string::npos) return whole;
    const std::string firstText = Trim(rangeSet.substr(0, dash));
    const std::string lastText = Trim(rangeSet.substr(dash + 1));

    RangePlan plan;
    uint64_t nFirst = 0;
    uint64_t nLast = 0;
    if (firstText.empty()) {
        uint64_t nSuffix = 0;
        if (!ParseOffset(lastText, nSuffix)) return whole;
        if (nSuffix == 0 || nSize == 0) {
            plan.kind = RangePlan::Unsatisfiable;
            return plan;
        }
        nFirst = nSuffix >= nSize ? 0 : nSize - nSuffix;
        nLast = nSize - 1;
    } else {
        if (!ParseOffset(firstText, nFirst)) return whole;
        if (lastText.empty()) {
            nLast = std::numeric_limits<uint64_t>::max();
        } else if (!ParseOffset(lastText, nLast) || nLast < nFirst) {
            return whole;
        }
        if (nFirst >= nSize) {
            plan.kind = RangePlan::Unsatisfiable;
            return plan;
        }
        if (nLast >= nSize) nLast = nSize - 1;
    }
    plan.kind = RangePlan::Slice;
    plan.nFirst = nFirst;
    plan.nLength = nLast - nFirst + 1;
    return plan;
}

}  // namespace updsrv
