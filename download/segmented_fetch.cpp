#include "download/segmented_fetch.h"

#include <wininet.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>

#include "download/body_reader.h"
#include "download/download_messages.h"
#include "download/download_support.h"
#include "download/http_headers.h"
#include "download/local_file.h"
#include "download/segment_plan.h"
#include "framework/trace.h"

namespace {

// No piece smaller than this is split off: its connection would spend more on setup than on bytes.
constexpr uint64_t kSmallestSplit = 1ull << 20;
constexpr DWORD kTickMs = 100;
constexpr DWORD kRampWindowMs = 750;
constexpr DWORD kFlushEveryMs = 1000;

// A piece of the file one connection fills from `first` on. `end` only comes down, when the
// piece is split; `asked` is where the request under way ends, never split off.
struct Segment {
    uint64_t first = 0;
    uint64_t next = 0;
    uint64_t end = 0;
    uint64_t asked = 0;
    bool owned = false;
};

class SegmentedFetch {
public:
    SegmentedFetch(const SegmentedSource& source, UpdateTask& task)
        : m_source(source), m_task(task), m_ramp(ConnectionLimit()) {}

    SegmentedOutcome Run(DWORD* readError, uint64_t* held);

private:
    enum class Answer { Done, Refused, Lost, Changed, Failed };

    void Work(Segment* segment, bool extra);
    void WorkOn(Segment* segment, bool extra);
    Answer FetchAsk(Segment* segment, uint64_t first, uint64_t end, bool extra, BodyReader& reader,
                    DWORD* readError);
    Segment* TakeWork();
    bool StartConnection(bool extra);
    void End(SegmentedOutcome outcome, DWORD error);
    uint64_t HeldBytes();
    void Secure();
    bool Stopping() const { return m_abort || StopRequested(m_task); }

    const SegmentedSource& m_source;
    UpdateTask& m_task;
    ConnectionRamp m_ramp;
    LocalFile m_file;
    std::mutex m_mutex;  // guards the segments, the outcome and the running count
    std::condition_variable m_ended;  // a connection ended
    std::vector<std::unique_ptr<Segment>> m_segments;
    std::vector<ByteSpan> m_secured;  // what the record last vouched for
    std::vector<std::thread> m_threads;
    std::atomic<bool> m_abort{false};
    std::atomic<bool> m_refused{false};  // the server turned one more connection away
    std::atomic<int> m_running{0};
    SegmentedOutcome m_outcome = SegmentedOutcome::Complete;
    DWORD m_readError = 0;
};

SegmentedOutcome SegmentedFetch::Run(DWORD* readError, uint64_t* held) {
    const uint64_t total = m_source.record.total;
    if (!m_file.OpenKeeping(SidePath(m_source.path))) return SegmentedOutcome::Failed;
    for (const ByteSpan& span : m_source.record.held) {
        m_segments.push_back(std::unique_ptr<Segment>(new Segment{span.first, span.end, span.end, span.end, false}));
    }
    m_secured = m_source.record.held;
    for (const ByteSpan& span : MissingSpans(m_source.record.held, total)) {
        m_segments.push_back(
            std::unique_ptr<Segment>(new Segment{span.first, span.first, span.end, span.first, false}));
    }
    TraceLine("qen: %s comes over several connections, %d pieces missing", m_source.shownUrl.c_str(),
              static_cast<int>(m_segments.size() - m_source.record.held.size()));
    const DWORD start = GetTickCount();
    DWORD windowStart = start;
    DWORD lastFlush = start;
    uint64_t windowBytes = HeldBytes();
    double rate = 0.0;
    // Again after the last connection ended: a piece a refused one gave back may be left.
    while (m_outcome == SegmentedOutcome::Complete && !Stopping() && StartConnection(false)) {
        while (m_running > 0) {
            {
                // A tick, or less when the last connection ends: the download is done then.
                std::unique_lock<std::mutex> lock(m_mutex);
                m_ended.wait_for(lock, std::chrono::milliseconds(kTickMs), [this] { return m_running == 0; });
            }
            if (StopRequested(m_task)) m_abort = true;
            if (m_refused) m_ramp.Stop();
            const DWORD now = GetTickCount();
            const uint64_t bytes = HeldBytes();
            if (now - windowStart >= kRampWindowMs) {
                rate = static_cast<double>(bytes - windowBytes) / ((now - windowStart) / 1000.0);
                if (!m_abort && m_ramp.AddAnother(m_running, rate)) StartConnection(true);
                windowStart = now;
                windowBytes = bytes;
            }
            m_source.progress(rate / 1024.0, bytes);
            if (now - lastFlush >= kFlushEveryMs) {
                Secure();
                lastFlush = now;
            }
        }
    }
    for (std::thread& thread : m_threads) thread.join();
    // The bytes of a file that changed belong to no version worth keeping.
    if (m_outcome != SegmentedOutcome::Changed) Secure();
    *held = HeldBytes();
    *readError = m_readError;
    if (m_outcome == SegmentedOutcome::Complete &&
        (Stopping() || !MissingSpans(m_secured, total).empty())) {
        // Whole means every byte flushed: a gap is never taken for the end.
        return Stopping() ? SegmentedOutcome::Failed : SegmentedOutcome::ReadFailed;
    }
    return m_outcome;
}

// Opens one more connection on work no other has; false when there is none.
bool SegmentedFetch::StartConnection(bool extra) {
    Segment* segment = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        segment = TakeWork();
        if (segment == nullptr) return false;
        ++m_running;
    }
    if (extra) TraceLine("qen: connection %d opened", static_cast<int>(m_running));
    m_threads.emplace_back(&SegmentedFetch::Work, this, segment, extra);
    return true;
}

// Under the lock: a piece nobody fills, else the second half of the one with the most left.
Segment* SegmentedFetch::TakeWork() {
    Segment* longest = nullptr;
    for (auto& segment : m_segments) {
        if (segment->owned || segment->next >= segment->end) continue;
        segment->owned = true;
        return segment.get();
    }
    for (auto& segment : m_segments) {
        if (!segment->owned) continue;
        if (longest == nullptr || segment->end - std::max(segment->asked, segment->next) >
                                      longest->end - std::max(longest->asked, longest->next)) {
            longest = segment.get();
        }
    }
    uint64_t at = 0;
    if (longest == nullptr || !SplitPoint(std::max(longest->asked, longest->next), longest->end, kSmallestSplit, &at)) {
        return nullptr;
    }
    m_segments.push_back(std::unique_ptr<Segment>(new Segment{at, at, longest->end, at, true}));
    longest->end = at;
    return m_segments.back().get();
}

// A connection's thread.
void SegmentedFetch::Work(Segment* segment, bool extra) {
    try {
        WorkOn(segment, extra);
    } catch (...) {
        TraceLine("qen: a connection of %s ended by an exception", m_source.shownUrl.c_str());
        End(SegmentedOutcome::Failed, 0);
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        --m_running;
    }
    m_ended.notify_all();
}

void SegmentedFetch::WorkOn(Segment* segment, bool extra) {
    bool answered = false;  // this connection got at least one answer of the file
    double rate = 0.0;      // what its last request gave, in bytes a second
    // One per connection: its read size, grown to the link's speed, carries over to the next
    // request instead of starting small again every few megabytes.
    BodyReader reader;
    while (segment != nullptr && !Stopping()) {
        uint64_t first = 0;
        uint64_t end = 0;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (segment->next >= segment->end) {
                segment->owned = false;
                segment = TakeWork();
                continue;
            }
            first = segment->next;
            // Asking for a piece at a time: a split never waits for a long body to end, and a
            // request closed early never has much left to drain.
            end = std::min(segment->end, first + AskSize(rate));
            segment->asked = end;
        }
        const DWORD asked = GetTickCount();
        DWORD readError = 0;
        Answer answer = FetchAsk(segment, first, end, extra && !answered, reader, &readError);
        if (answer == Answer::Done) {
            answered = true;
            const DWORD took = std::max<DWORD>(GetTickCount() - asked, 1);
            rate = static_cast<double>(end - first) / (took / 1000.0);
            continue;
        }
        if (answer == Answer::Refused) {
            // The server takes no more connections: the others go on, and take this piece when free.
            TraceLine("qen: the server refused one more connection");
            m_refused = true;
            std::lock_guard<std::mutex> lock(m_mutex);
            segment->owned = false;
            break;
        }
        End(answer == Answer::Lost      ? SegmentedOutcome::ReadFailed
            : answer == Answer::Changed ? SegmentedOutcome::Changed
                                        : SegmentedOutcome::Failed,
            readError);
        break;
    }
}

// Fetches [first, end) into the side file. `mayRefuse`: a refusal or a busy answer to this
// request is the server's limit, not a failure.
SegmentedFetch::Answer SegmentedFetch::FetchAsk(Segment* segment, uint64_t first, uint64_t end, bool mayRefuse,
                                                 BodyReader& reader, DWORD* readError) {
    HttpRequestOptions options;
    options.version = "HTTP/1.0";
    options.flags = INTERNET_FLAG_NO_CACHE_WRITE;
    options.headers = FormatText("Range:bytes=%llu-%llu\r\n", static_cast<unsigned long long>(first),
                                 static_cast<unsigned long long>(end - 1));
    options.headers += "If-Range: " + m_source.record.validator + "\r\n";
    HttpRequest sent;
    DWORD error = 0;
    SendResult result = m_source.send(options, &sent, &error);
    if (result == SendResult::Failed) return Answer::Failed;
    if (result == SendResult::ReadFailed) {
        if (mayRefuse) return Answer::Refused;
        *readError = error;
        return Answer::Lost;
    }
    HINTERNET request = sent.request.Get();
    const int status = QueryStatusCode(request);
    if (mayRefuse && (status == 503 || status == 429)) return Answer::Refused;
    if (status == 200) {
        TraceLine("qen: the server's file changed under a ranged request, %s starts over", m_source.path.c_str());
        return Answer::Changed;
    }
    if (status != 206) {
        ShowDownloadError(FormatText("下载文件出错.\n网址:%s.\n服务器返回:%d.", m_source.shownUrl.c_str(), status));
        return Answer::Failed;
    }
    if (QueryValidator(request) != m_source.record.validator) {
        TraceLine("qen: an answer came from another version, %s starts over", m_source.path.c_str());
        return Answer::Changed;
    }
    ContentRange range = ParseContentRange(QueryHeader(request, HTTP_QUERY_CONTENT_RANGE));
    if (!range.valid || range.unsatisfied || range.first != first || range.last >= end ||
        range.total != m_source.record.total) {
        // Bytes from anywhere else would corrupt the package: write nothing.
        ShowDownloadError(
            FormatText("下载文件出错.\n网址:%s.\n服务器返回的数据与请求的位置不符.", m_source.shownUrl.c_str()));
        return Answer::Failed;
    }
    const uint64_t bodyEnd = range.last + 1;
    uint64_t position = first;
    while (position < bodyEnd) {
        if (Stopping()) return Answer::Failed;
        DWORD got = 0;
        if (!reader.Read(request, &got)) {
            *readError = GetLastError();
            return Answer::Lost;
        }
        if (got == 0) {
            TraceLine("qen: a range ended at %llu of %llu", static_cast<unsigned long long>(position),
                      static_cast<unsigned long long>(bodyEnd));
            *readError = ERROR_INTERNET_CONNECTION_ABORTED;
            return Answer::Lost;
        }
        // Nothing past the asked end is written.
        const DWORD useful = static_cast<DWORD>(std::min<uint64_t>(got, bodyEnd - position));
        if (!m_file.WriteAt(position, reader, useful)) {
            ShowDownloadError(FormatText("写入文件%s出错. 错误号:%d.", SidePath(m_source.path).c_str(),
                                         static_cast<int>(GetLastError())));
            return Answer::Failed;
        }
        position += useful;
        std::lock_guard<std::mutex> lock(m_mutex);
        segment->next = position;
    }
    return Answer::Done;
}

// The first ending decides: a lost connection, a changed file or a failure stops every other.
void SegmentedFetch::End(SegmentedOutcome outcome, DWORD error) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_outcome == SegmentedOutcome::Complete) {
        m_outcome = outcome;
        m_readError = error;
    }
    m_abort = true;
}

uint64_t SegmentedFetch::HeldBytes() {
    std::lock_guard<std::mutex> lock(m_mutex);
    uint64_t bytes = 0;
    for (auto& segment : m_segments) bytes += segment->next - segment->first;
    return bytes;
}

// Puts the written bytes on the disk, then lets the record vouch for them: every piece as far
// as it had been written before the flush.
void SegmentedFetch::Secure() {
    std::vector<ByteSpan> written;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto& segment : m_segments) {
            if (segment->next > segment->first) written.push_back(ByteSpan{segment->first, segment->next});
        }
    }
    // Merged, the record stays short however often pieces were split.
    written = MergedSpans(written);
    if (written.size() == m_secured.size() &&
        std::equal(written.begin(), written.end(), m_secured.begin(),
                   [](const ByteSpan& a, const ByteSpan& b) { return a.first == b.first && a.end == b.end; })) {
        return;
    }
    if (!m_file.Flush()) return;
    SideFileInfo info = m_source.record;
    info.held = written;
    info.flushed = !written.empty() && written.front().first == 0 ? written.front().end : 0;
    if (!WriteSideInfo(m_source.path, info)) {
        TraceLine("qen: the record of %s can't be written", SidePath(m_source.path).c_str());
        return;
    }
    m_secured = written;
}

}  // namespace

int ConnectionLimit() {
    const char* value = std::getenv("UPDATER_CONNECTIONS");
    int limit = value != nullptr ? std::atoi(value) : 0;
    return limit >= 1 && limit <= kMostConnections ? limit : kDefaultConnections;
}

SegmentedOutcome FetchSegmented(const SegmentedSource& source, UpdateTask& task, DWORD* readError, uint64_t* held) {
    return SegmentedFetch(source, task).Run(readError, held);
}
