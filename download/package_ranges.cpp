// Several ranges per request while the server answers them as multipart/byteranges; one range
// per request once it shows it can't; one stream once it shows it ignores ranges. Each step
// down holds for the rest of the fetch, so a poor server costs at most one wasted answer each.
#include "download/package_ranges.h"

#include <algorithm>

#include "download/body_reader.h"
#include "download/byteranges_body.h"
#include "download/download_messages.h"
#include "download/http_headers.h"
#include "download/package_fetch.h"
#include "framework/trace.h"

namespace {

// A gap this short costs less to read and drop than another range does in requests and part headers.
constexpr uint64_t kMergeGap = 64 * 1024;
constexpr size_t kRangesPerRequest = 20;
// Ranges covering more of the package than this are read as one stream from the first.
constexpr double kStreamShare = 0.8;

std::vector<ByteRange> MergeNeighbours(const std::vector<ByteRange>& ranges) {
    std::vector<ByteRange> merged;
    for (const ByteRange& range : ranges) {
        if (!merged.empty() && range.first - merged.back().end < kMergeGap) {
            merged.back().end = range.end;
        } else {
            merged.push_back(range);
        }
    }
    return merged;
}

std::string RangeHeader(const std::vector<ByteRange>& asks) {
    std::string header = "bytes=";
    for (const ByteRange& ask : asks) {
        if (header.size() > 6) header += ",";
        header += FormatText("%llu-%llu", static_cast<unsigned long long>(ask.first),
                             static_cast<unsigned long long>(ask.end - 1));
    }
    return header;
}

enum class Ask { Several, Single, Stream };

class RangeFetch : public PackageFetch {
public:
    RangeFetch(const std::string& url, std::vector<ByteRange> wanted, uint64_t zipSize, uint64_t neededBytes,
               UpdateTask& task, const std::function<bool(uint64_t, const char*, size_t)>& sink,
               const std::function<uint64_t()>& restart)
        : PackageFetch(url, zipSize, neededBytes, task, sink, restart), m_wanted(std::move(wanted)),
          m_merged(MergeNeighbours(m_wanted)) {
        TakeUpAt(0);
    }

    StreamOutcome Run() { return RunTries(); }

private:
    Pass OneConnection(HINTERNET session, DWORD* readError) override;
    void TakeUpAt(uint64_t offset) override;
    std::vector<ByteRange> NextAsks() const;
    Pass AnswerToWhole(HINTERNET request, size_t nAsks, DWORD* readError);
    Pass AnswerToRange(HINTERNET request, const std::vector<ByteRange>& asks, DWORD* readError);
    Pass ReceiveParts(HINTERNET request, const std::string& boundary, const std::vector<ByteRange>& asks,
                      DWORD* readError);
    Pass ReceiveSpan(HINTERNET request, uint64_t at, uint64_t end, DWORD* readError);
    Pass StepDown(Ask ask, const char* why);
    bool Take(uint64_t at, const char* data, size_t size);
    bool Finished() const { return m_index == m_wanted.size(); }

    const std::vector<ByteRange> m_wanted;  // what the sink gets
    const std::vector<ByteRange> m_merged;  // what is asked for
    size_t m_index = 0;                     // the first wanted range not wholly handed on
    uint64_t m_next = 0;                    // the next wanted byte
    Ask m_ask = Ask::Several;
    bool m_sinkRefused = false;
};

void RangeFetch::TakeUpAt(uint64_t offset) {
    m_index = 0;
    while (m_index < m_wanted.size() && m_wanted[m_index].end <= offset) ++m_index;
    if (!Finished()) m_next = std::max(offset, m_wanted[m_index].first);
}

std::vector<ByteRange> RangeFetch::NextAsks() const {
    std::vector<ByteRange> asks;
    if (m_ask == Ask::Stream) {
        asks.push_back({m_next, m_merged.back().end});
        return asks;
    }
    const size_t most = m_ask == Ask::Several ? kRangesPerRequest : 1;
    for (const ByteRange& range : m_merged) {
        if (range.end <= m_next) continue;
        asks.push_back({std::max(range.first, m_next), range.end});
        if (asks.size() == most) break;
    }
    return asks;
}

PackageFetch::Pass RangeFetch::StepDown(Ask ask, const char* why) {
    TraceLine("qen: %s %s, asked for %s from now on", m_url.c_str(), why,
              ask == Ask::Single ? "one range at a time" : "as one stream");
    m_ask = ask;
    return Pass::AskAgain;
}

PackageFetch::Pass RangeFetch::OneConnection(HINTERNET session, DWORD* readError) {
    if (Finished()) return Pass::Complete;
    const std::vector<ByteRange> asks = NextAsks();
    HttpRequest sent;
    Pass refused = Send(session, RangeHeader(asks), &sent, readError);
    if (refused != Pass::Complete) return refused;
    HINTERNET request = sent.request.Get();
    const int status = QueryStatusCode(request);
    if (status == 404) return Pass::NotFound;
    if (status == 200) return AnswerToWhole(request, asks.size(), readError);
    if (status == 206) return AnswerToRange(request, asks, readError);
    return UnexpectedStatus(status);
}

// The whole file: another file than the first answer's (If-Range), a server that answers
// several ranges with everything, or one that ignores ranges altogether.
PackageFetch::Pass RangeFetch::AnswerToWhole(HINTERNET request, size_t nAsks, DWORD* readError) {
    uint64_t length = 0;
    if (QueryContentLength(request, &length) && length != m_zipSize) return PackageChanged();
    if (!SameValidator(request)) return PackageChanged();
    if (nAsks > 1) return StepDown(Ask::Single, "answers several ranges with the whole file");
    if (m_ask != Ask::Stream) StepDown(Ask::Stream, "ignores ranges");
    return ReceiveSpan(request, 0, m_zipSize, readError);
}

PackageFetch::Pass RangeFetch::AnswerToRange(HINTERNET request, const std::vector<ByteRange>& asks,
                                             DWORD* readError) {
    if (!SameValidator(request)) return PackageChanged();
    const std::string boundary = ByterangesBoundary(QueryHeader(request, HTTP_QUERY_CONTENT_TYPE));
    if (!boundary.empty()) return ReceiveParts(request, boundary, asks, readError);
    const ContentRange range = ParseContentRange(QueryHeader(request, HTTP_QUERY_CONTENT_RANGE));
    if (range.valid && !range.unsatisfied && range.total != 0 && range.total != m_zipSize) return PackageChanged();
    const bool usable = range.valid && !range.unsatisfied && range.first <= m_next && range.last >= m_next;
    if (asks.size() > 1) {
        // One part for several ranges: its bytes serve as far as they go.
        StepDown(Ask::Single, "answers several ranges with a single part");
        if (!usable) return Pass::AskAgain;
    } else if (!usable) {
        return WrongOffset();
    }
    return ReceiveSpan(request, range.first, range.last + 1, readError);
}

// A multipart answer: its parts must be the asked ranges, in the asked order.
PackageFetch::Pass RangeFetch::ReceiveParts(HINTERNET request, const std::string& boundary,
                                            const std::vector<ByteRange>& asks, DWORD* readError) {
    size_t nParts = 0;
    uint64_t at = 0;
    bool changed = false;
    ByterangesBody body(
        boundary,
        [&](const ContentRange& range) {
            if (range.total != 0 && range.total != m_zipSize) changed = true;
            if (changed || nParts == asks.size() || range.first != asks[nParts].first ||
                range.last + 1 != asks[nParts].end) {
                return false;
            }
            ++nParts;
            at = range.first;
            return true;
        },
        [&](const char* data, size_t size) {
            if (!Take(at, data, size)) return false;
            at += size;
            return true;
        });
    const DWORD startTick = GetTickCount();
    for (;;) {
        DWORD got = 0;
        const Pass piece = NextPiece(request, &got, readError);
        if (piece != Pass::Complete) return piece;
        if (got == 0) {
            TraceLine("qen: ranges of %s ended at %llu", m_url.c_str(), static_cast<unsigned long long>(at));
            *readError = ERROR_INTERNET_CONNECTION_ABORTED;
            return Pass::ReadFailed;
        }
        const ByterangesBody::Result result = body.Feed(m_reader.Data(), got);
        ShowProgress(startTick);
        if (m_sinkRefused) return Pass::Failed;
        if (changed) return PackageChanged();
        if (result == ByterangesBody::Result::More) continue;
        if (result == ByterangesBody::Result::End && nParts == asks.size()) {
            return Finished() ? Pass::Complete : Pass::AskAgain;
        }
        // A body that is no multipart, or parts that were not asked for.
        if (m_ask == Ask::Several) return StepDown(Ask::Single, "sends a malformed multipart body");
        return WrongOffset();
    }
}

// A body holding the package's bytes [at, end): what the sink wants of it is handed on.
PackageFetch::Pass RangeFetch::ReceiveSpan(HINTERNET request, uint64_t at, uint64_t end, DWORD* readError) {
    const DWORD startTick = GetTickCount();
    for (;;) {
        DWORD got = 0;
        const Pass piece = NextPiece(request, &got, readError);
        if (piece != Pass::Complete) return piece;
        if (got == 0) {
            if (at >= end) return Pass::AskAgain;  // a shorter answer than asked for: the rest next
            TraceLine("qen: range of %s ended at %llu of %llu", m_url.c_str(), static_cast<unsigned long long>(at),
                      static_cast<unsigned long long>(end));
            *readError = ERROR_INTERNET_CONNECTION_ABORTED;
            return Pass::ReadFailed;
        }
        const size_t size = static_cast<size_t>(std::min<uint64_t>(got, end - at));
        if (!Take(at, m_reader.Data(), size)) return Pass::Failed;
        at += size;
        ShowProgress(startTick);
        if (Finished()) return Pass::Complete;
    }
}

// Hands on the wanted bytes of [at, at + size), which must not start past the next wanted byte.
bool RangeFetch::Take(uint64_t at, const char* data, size_t size) {
    while (size > 0 && !Finished()) {
        const ByteRange& range = m_wanted[m_index];
        if (at < m_next) {
            const size_t skip = static_cast<size_t>(std::min<uint64_t>(size, m_next - at));
            data += skip;
            size -= skip;
            at += skip;
            continue;
        }
        const size_t n = static_cast<size_t>(std::min<uint64_t>(size, range.end - at));
        if (!HandOn(at, data, n)) {
            m_sinkRefused = true;
            return false;
        }
        data += n;
        size -= n;
        at += n;
        m_next = at;
        if (m_next == range.end && ++m_index < m_wanted.size()) m_next = m_wanted[m_index].first;
    }
    return true;
}

}  // namespace

StreamOutcome FetchPackageRanges(const std::string& url, const std::vector<ByteRange>& ranges,
                                 uint64_t zipSize, uint64_t neededBytes, UpdateTask& task,
                                 const std::function<bool(uint64_t, const char*, size_t)>& sink,
                                 const std::function<uint64_t()>& restart) {
    std::vector<ByteRange> wanted;
    for (const ByteRange& range : ranges) {
        if (range.end > range.first) wanted.push_back(range);
    }
    if (wanted.empty()) return StreamOutcome::Complete;
    uint64_t covered = 0;
    for (const ByteRange& range : MergeNeighbours(wanted)) covered += range.end - range.first;
    if (static_cast<double>(covered) > kStreamShare * static_cast<double>(zipSize)) {
        return StreamPackage(url, wanted.front().first, zipSize, neededBytes, task, sink, restart);
    }
    TraceLine("qen: FetchPackageRanges %s, %d ranges, %llu bytes", url.c_str(), static_cast<int>(wanted.size()),
              static_cast<unsigned long long>(covered));
    return RangeFetch(url, std::move(wanted), zipSize, neededBytes, task, sink, restart).Run();
}
