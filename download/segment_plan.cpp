#include "download/segment_plan.h"

#include <algorithm>

std::vector<ByteSpan> MissingSpans(std::vector<ByteSpan> held, uint64_t total) {
    std::sort(held.begin(), held.end(), [](const ByteSpan& a, const ByteSpan& b) { return a.first < b.first; });
    std::vector<ByteSpan> missing;
    uint64_t at = 0;
    for (const ByteSpan& span : held) {
        if (at >= total) break;
        if (span.first > at) missing.push_back(ByteSpan{at, std::min(span.first, total)});
        at = std::max(at, span.end);
    }
    if (at < total) missing.push_back(ByteSpan{at, total});
    return missing;
}

std::vector<ByteSpan> MergedSpans(std::vector<ByteSpan> spans) {
    std::sort(spans.begin(), spans.end(), [](const ByteSpan& a, const ByteSpan& b) { return a.first < b.first; });
    std::vector<ByteSpan> merged;
    for (const ByteSpan& span : spans) {
        if (span.end <= span.first) continue;
        if (!merged.empty() && span.first <= merged.back().end) {
            merged.back().end = std::max(merged.back().end, span.end);
        } else {
            merged.push_back(span);
        }
    }
    return merged;
}

bool SplitPoint(uint64_t next, uint64_t end, uint64_t smallest, uint64_t* at) {
    if (end <= next || end - next < 2 * smallest) return false;
    *at = next + (end - next) / 2;
    return true;
}

uint64_t AskSize(double bytesPerSecond) {
    constexpr uint64_t kFirst = 4ull << 20;
    constexpr uint64_t kLeast = 2ull << 20;
    constexpr uint64_t kMost = 256ull << 20;
    if (bytesPerSecond <= 0.0) return kFirst;
    const double twoSeconds = bytesPerSecond * 2.0;
    if (twoSeconds >= static_cast<double>(kMost)) return kMost;
    return std::max(kLeast, static_cast<uint64_t>(twoSeconds));
}

bool ConnectionRamp::AddAnother(int open, double rate) {
    if (m_stopped) return false;
    if (m_lastOpen != 0 && open > m_lastOpen && rate < m_lastRate * 1.1) {
        // The last one added gave less than a tenth more: the link, not the server, is the limit.
        m_stopped = true;
        return false;
    }
    if (open >= m_limit) {
        m_stopped = true;
        return false;
    }
    m_lastOpen = open;
    m_lastRate = rate;
    return true;
}
