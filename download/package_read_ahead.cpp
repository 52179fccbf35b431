#include "download/package_read_ahead.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "download/body_reader.h"
#include "download/download_messages.h"
#include "download/download_support.h"
#include "download/http_headers.h"
#include "download/package_fetch.h"
#include "download/segment_plan.h"
#include "download/segmented_fetch.h"
#include "framework/http_request.h"
#include "framework/trace.h"

namespace {

// The memory the chunks may hold ahead of what was handed on.
constexpr uint64_t kMostAhead = 64ull << 20;
// The largest chunk lets the most connections each hold one within that memory.
constexpr uint64_t kLargestChunk = kMostAhead / kMostConnections;
constexpr uint64_t kSmallestChunk = 4ull << 20;
constexpr auto kTick = std::chrono::milliseconds(100);
constexpr DWORD kRampWindowMs = 750;

// A segmented download's request size, kept between 4 MiB and the largest chunk: a capped
// connection ends its chunk within seconds, so the last ones don't trail, but not so often that
// requests starting and ending make the rate the ramp measures jump; a fast one asks seldom.
uint64_t ChunkSize(double bytesPerSecond) {
    return std::min(std::max(AskSize(bytesPerSecond), kSmallestChunk), kLargestChunk);
}

// [first, end) of the package, filled from its start by one connection at a time.
struct Chunk {
    Chunk(uint64_t from, uint64_t to) : first(from), end(to), bytes(static_cast<size_t>(to - from)) {}
    const uint64_t first;
    const uint64_t end;
    std::vector<char> bytes;  // sized once, so a block handed on never moves under a writer
    uint64_t got = 0;         // bytes in, from the start
    bool owned = false;       // a connection is filling it
    bool Whole() const { return first + got == end; }
};

class ReadAheadFetch {
public:
    ReadAheadFetch(const ReadAheadSource& source, UpdateTask& task)
        : m_source(source), m_task(task), m_ramp(ConnectionLimit()), m_handed(source.from), m_planned(source.from) {}

    ReadAheadOutcome Run(DWORD* readError);

private:
    enum class Answer { Done, Refused, Lost, Unusable, Stopped };

    Answer Probe(const Chunk& first, HttpRequest* sent, DWORD* readError);
    ReadAheadOutcome HandOnAll();
    ReadAheadOutcome HandOnNext();
    void Measure(DWORD* windowStart, uint64_t* windowBytes, double* rate);
    void StartConnection(Chunk* chunk, HttpRequest sent, bool extra);
    void Work(Chunk* chunk, HttpRequest sent, bool extra);
    void WorkOn(Chunk* chunk, HttpRequest sent, bool extra);
    Chunk* TakeChunk(std::unique_lock<std::mutex>& lock, bool waitForRoom, double rate);
    Chunk* PlanChunk(uint64_t size);
    Answer Ask(uint64_t first, uint64_t end, bool mayRefuse, HttpRequest* sent, DWORD* readError);
    Answer CheckAnswer(HINTERNET request, uint64_t first, uint64_t end, bool mayRefuse);
    Answer Receive(Chunk* chunk, HINTERNET request, BodyReader& reader);
    void Abort();
    bool Stopping() const { return m_abort || StopRequested(m_task); }

    const ReadAheadSource& m_source;
    UpdateTask& m_task;
    ConnectionRamp m_ramp;
    std::string m_validator;  // of the first answer
    std::mutex m_mutex;       // guards the chunks, m_handed, m_planned and the chunks' got and owned
    std::condition_variable m_arrived;  // bytes came in, or a connection ended
    std::condition_variable m_room;     // a chunk was handed on whole
    std::deque<std::unique_ptr<Chunk>> m_chunks;  // in order; the front holds m_handed
    uint64_t m_handed;   // the next byte to hand on
    uint64_t m_planned;  // the end of the last chunk made
    std::vector<std::thread> m_threads;
    std::atomic<uint64_t> m_arrivedBytes{0};
    std::atomic<int> m_running{0};
    std::atomic<bool> m_abort{false};
    std::atomic<bool> m_refused{false};   // the server turned one more connection away
    std::atomic<bool> m_unusable{false};  // an answer was not the asked chunk of the first file
};

ReadAheadOutcome ReadAheadFetch::Run(DWORD* readError) {
    Chunk* first = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        first = PlanChunk(ChunkSize(0.0));
    }
    HttpRequest sent;
    switch (Probe(*first, &sent, readError)) {
        case Answer::Done: break;
        case Answer::Lost: return ReadAheadOutcome::Lost;
        case Answer::Stopped: return ReadAheadOutcome::Stopped;
        default: return ReadAheadOutcome::OneConnection;
    }
    TraceLine("qen: %s read ahead over several connections from %llu", m_source.url.c_str(),
              static_cast<unsigned long long>(m_source.from));
    StartConnection(first, std::move(sent), false);
    const ReadAheadOutcome outcome = HandOnAll();
    Abort();
    for (std::thread& thread : m_threads) thread.join();
    return outcome;
}

// The first chunk's request, sent here: only its answer tells whether reading ahead can work.
ReadAheadFetch::Answer ReadAheadFetch::Probe(const Chunk& first, HttpRequest* sent, DWORD* readError) {
    const Answer answer = Ask(first.first, first.end, false, sent, readError);
    if (answer != Answer::Done) return answer;
    m_validator = QueryValidator(sent->request.Get());
    if (m_validator.empty()) return Answer::Unusable;
    m_source.firstAnswer(sent->request.Get());
    return Answer::Done;
}

ReadAheadOutcome ReadAheadFetch::HandOnAll() {
    DWORD windowStart = GetTickCount();
    uint64_t windowBytes = 0;
    double rate = 0.0;
    while (m_handed < m_source.zipSize) {
        if (StopRequested(m_task)) return ReadAheadOutcome::Stopped;
        const ReadAheadOutcome outcome = HandOnNext();
        if (outcome != ReadAheadOutcome::Complete) return outcome;
        Measure(&windowStart, &windowBytes, &rate);
    }
    return ReadAheadOutcome::Complete;
}

// Waits a tick at most for the next bytes in line and hands on what is there. Complete: go on.
ReadAheadOutcome ReadAheadFetch::HandOnNext() {
    const char* data = nullptr;
    size_t size = 0;
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        auto ready = [this]() -> uint64_t {
            if (m_chunks.empty()) return 0;  // the next one is not made yet
            const Chunk& head = *m_chunks.front();
            return head.first + head.got - m_handed;
        };
        m_arrived.wait_for(lock, kTick, [&] { return ready() > 0 || m_running == 0 || m_unusable; });
        if (m_unusable) return ReadAheadOutcome::OneConnection;
        size = static_cast<size_t>(ready());
        if (size == 0) return m_running == 0 ? ReadAheadOutcome::OneConnection : ReadAheadOutcome::Complete;
        // Bytes below `got` are never written again: they can be read without the lock.
        data = m_chunks.front()->bytes.data() + (m_handed - m_chunks.front()->first);
    }
    if (!m_source.handOn(m_handed, data, size)) return ReadAheadOutcome::Refused;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_handed += size;
    // A whole chunk is no connection's any more: its memory goes back for the chunks ahead.
    if (m_handed == m_chunks.front()->end && m_handed < m_source.zipSize) {
        m_chunks.pop_front();
        m_room.notify_all();
    }
    return ReadAheadOutcome::Complete;
}

// Once a window: the total rate for the row, and one more connection while each added pays.
void ReadAheadFetch::Measure(DWORD* windowStart, uint64_t* windowBytes, double* rate) {
    if (m_refused) m_ramp.Stop();
    m_source.progress(*rate / 1024.0);
    const DWORD now = GetTickCount();
    if (now - *windowStart < kRampWindowMs) return;
    const uint64_t bytes = m_arrivedBytes;
    *rate = static_cast<double>(bytes - *windowBytes) / ((now - *windowStart) / 1000.0);
    *windowStart = now;
    *windowBytes = bytes;
    if (!m_ramp.AddAnother(m_running, *rate)) return;
    Chunk* chunk = nullptr;
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        chunk = TakeChunk(lock, false, *rate / std::max(1, m_running.load()));
    }
    if (chunk != nullptr) StartConnection(chunk, HttpRequest(), true);
}

void ReadAheadFetch::StartConnection(Chunk* chunk, HttpRequest sent, bool extra) {
    ++m_running;
    if (extra) TraceLine("qen: connection %d opened", static_cast<int>(m_running));
    m_threads.emplace_back(&ReadAheadFetch::Work, this, chunk, std::move(sent), extra);
}

// A connection's thread.
void ReadAheadFetch::Work(Chunk* chunk, HttpRequest sent, bool extra) {
    try {
        WorkOn(chunk, std::move(sent), extra);
    } catch (...) {
        TraceLine("qen: a connection of %s ended by an exception", m_source.url.c_str());
        m_unusable = true;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    --m_running;
    m_arrived.notify_all();
}

// Fills chunk after chunk; `sent`, when valid, is the answer for the first one already.
void ReadAheadFetch::WorkOn(Chunk* chunk, HttpRequest sent, bool extra) {
    BodyReader reader;  // its read size, grown to the link, carries over from chunk to chunk
    bool answered = false;
    double rate = 0.0;  // what its last chunk gave, in bytes a second
    while (chunk != nullptr) {
        DWORD readError = 0;
        const DWORD asked = GetTickCount();
        // Only this connection writes `got` while it owns the chunk.
        const uint64_t asking = chunk->end - chunk->first - chunk->got;
        Answer answer = sent.request.IsValid()
                            ? Answer::Done
                            : Ask(chunk->first + chunk->got, chunk->end, extra && !answered, &sent, &readError);
        if (answer == Answer::Done) answer = Receive(chunk, sent.request.Get(), reader);
        sent = HttpRequest();
        std::unique_lock<std::mutex> lock(m_mutex);
        if (answer == Answer::Done) {
            answered = true;
            rate = static_cast<double>(asking) / (std::max<DWORD>(GetTickCount() - asked, 1) / 1000.0);
            chunk = TakeChunk(lock, true, rate);
            continue;
        }
        // What the chunk still lacks goes to another connection.
        chunk->owned = false;
        if (answer == Answer::Refused) TraceLine("qen: the server refused one more connection");
        if (answer == Answer::Lost) TraceLine("qen: a connection of %s was lost", m_source.url.c_str());
        m_refused = m_refused || answer == Answer::Refused;
        m_unusable = m_unusable || answer == Answer::Unusable;
        return;
    }
}

// Under the lock: a chunk given back, else a new one sized for a connection of `rate` bytes a
// second once there is room for it (or null at once, unless `waitForRoom`); null when no work
// is left or the read ends.
Chunk* ReadAheadFetch::TakeChunk(std::unique_lock<std::mutex>& lock, bool waitForRoom, double rate) {
    for (;;) {
        if (Stopping() || m_unusable) return nullptr;
        for (auto& chunk : m_chunks) {
            if (chunk->owned || chunk->Whole()) continue;
            chunk->owned = true;
            return chunk.get();
        }
        if (m_planned >= m_source.zipSize) return nullptr;
        const uint64_t size = ChunkSize(rate);
        if (std::min(m_planned + size, m_source.zipSize) - m_handed <= kMostAhead) return PlanChunk(size);
        if (!waitForRoom) return nullptr;
        m_room.wait_for(lock, kTick);
    }
}

// Under the lock: the next chunk, owned.
Chunk* ReadAheadFetch::PlanChunk(uint64_t size) {
    const uint64_t end = std::min(m_planned + size, m_source.zipSize);
    m_chunks.push_back(std::unique_ptr<Chunk>(new Chunk(m_planned, end)));
    m_planned = end;
    m_chunks.back()->owned = true;
    return m_chunks.back().get();
}

// Asks for the bytes [first, end). `mayRefuse`: a busy answer or none is the server's limit.
ReadAheadFetch::Answer ReadAheadFetch::Ask(uint64_t first, uint64_t end, bool mayRefuse, HttpRequest* sent,
                                           DWORD* readError) {
    // HTTP/1.0: an answer closed early (a stop, or a whole file where a chunk was asked for)
    // closes its connection instead of reading off the rest.
    HttpRequestOptions options;
    options.version = "HTTP/1.0";
    options.flags = INTERNET_FLAG_NO_CACHE_WRITE;
    options.headers = FormatText("Range: bytes=%llu-%llu\r\n", static_cast<unsigned long long>(first),
                                 static_cast<unsigned long long>(end - 1));
    if (!m_validator.empty()) options.headers += "If-Range: " + m_validator + "\r\n";
    DWORD error = 0;
    switch (SendHttpRequest(m_source.session, m_source.url, options, [this] { return Stopping(); }, sent, &error)) {
        case SendOutcome::Sent: return CheckAnswer(sent->request.Get(), first, end, mayRefuse);
        case SendOutcome::Stopped: return Answer::Stopped;
        case SendOutcome::Failed:
            if (IsCertificateError(error)) return Answer::Unusable;
            *readError = error;
            return mayRefuse ? Answer::Refused : Answer::Lost;
        default: return Answer::Unusable;  // one connection meets it again and says why
    }
}

ReadAheadFetch::Answer ReadAheadFetch::CheckAnswer(HINTERNET request, uint64_t first, uint64_t end, bool mayRefuse) {
    const int status = QueryStatusCode(request);
    if (mayRefuse && (status == 503 || status == 429)) return Answer::Refused;
    const ContentRange range = ParseContentRange(QueryHeader(request, HTTP_QUERY_CONTENT_RANGE));
    if (status == 206 && range.valid && !range.unsatisfied && range.first == first && range.last + 1 == end &&
        range.total == m_source.zipSize && (m_validator.empty() || QueryValidator(request) == m_validator)) {
        return Answer::Done;
    }
    TraceLine("qen: %s answered %d to bytes %llu-%llu, read on over one connection", m_source.url.c_str(), status,
              static_cast<unsigned long long>(first), static_cast<unsigned long long>(end - 1));
    return Answer::Unusable;
}

// Reads the asked rest of `chunk` into it. The chunk is not touched once whole: it may be
// handed on and gone.
ReadAheadFetch::Answer ReadAheadFetch::Receive(Chunk* chunk, HINTERNET request, BodyReader& reader) {
    const uint64_t first = chunk->first;
    const uint64_t end = chunk->end;
    char* const bytes = chunk->bytes.data();
    uint64_t at = first + chunk->got;
    while (at < end) {
        if (Stopping()) return Answer::Stopped;
        DWORD got = 0;
        if (!reader.Read(request, &got) || got == 0) return Answer::Lost;
        const size_t size = static_cast<size_t>(std::min<uint64_t>(got, end - at));
        std::memcpy(bytes + (at - first), reader.Data(), size);
        at += size;
        m_arrivedBytes += size;
        std::lock_guard<std::mutex> lock(m_mutex);
        chunk->got = at - first;
        if (at == end) chunk->owned = false;
        m_arrived.notify_all();
    }
    return Answer::Done;
}

void ReadAheadFetch::Abort() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_abort = true;
    m_room.notify_all();
}

}  // namespace

ReadAheadOutcome ReadAhead(const ReadAheadSource& source, UpdateTask& task, DWORD* readError) {
    RaiseConnectionLimits();
    return ReadAheadFetch(source, task).Run(readError);
}
