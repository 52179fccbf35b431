// One ranged GET per connection, its body handed on as it comes. The receiver installs while
// it reads, so a resume goes back to where the receiver can take up again, not to where the
// bytes stopped.
#include "download/package_stream.h"

#include <algorithm>

#include "download/body_reader.h"
#include "download/download_messages.h"
#include "download/http_headers.h"
#include "download/package_fetch.h"
#include "download/package_read_ahead.h"
#include "download/segment_plan.h"
#include "download/segmented_fetch.h"
#include "framework/trace.h"

namespace {

class PackageStream : public PackageFetch {
public:
    using PackageFetch::PackageFetch;

    StreamOutcome Run(uint64_t from) {
        m_next = from;
        if (m_next >= m_zipSize) return StreamOutcome::Complete;
        return RunTries();
    }

private:
    Pass OneConnection(HINTERNET session, DWORD* readError) override;
    void TakeUpAt(uint64_t offset) override { m_next = offset; }
    Pass CheckAnswer(HINTERNET request, uint64_t* bodyStart);
    Pass Receive(HINTERNET request, uint64_t bodyStart, DWORD* readError);
    Pass ReadAheadFrom(HINTERNET session, DWORD* readError);

    uint64_t m_next = 0;  // the offset the sink expects next
    // Until a first answer showed whether the server can serve chunks over several connections.
    bool m_mayReadAhead = ConnectionLimit() > 1;
};

PackageFetch::Pass PackageStream::OneConnection(HINTERNET session, DWORD* readError) {
    if (m_mayReadAhead && m_next < m_zipSize && m_zipSize - m_next > kSegmentedAbove) {
        const Pass pass = ReadAheadFrom(session, readError);
        if (pass != Pass::AskAgain) return pass;
    }
    HttpRequest sent;
    Pass refused = Send(session, FormatText("bytes=%llu-", static_cast<unsigned long long>(m_next)), &sent, readError);
    if (refused != Pass::Complete) return refused;
    uint64_t bodyStart = 0;
    Pass answer = CheckAnswer(sent.request.Get(), &bodyStart);
    if (answer != Pass::Complete) return answer;
    return Receive(sent.request.Get(), bodyStart, readError);
}

// Complete when the body can be read: `bodyStart` is the package offset of its first byte.
PackageFetch::Pass PackageStream::CheckAnswer(HINTERNET request, uint64_t* bodyStart) {
    const int status = QueryStatusCode(request);
    if (status == 404) return Pass::NotFound;
    if (status == 206) {
        ContentRange range = ParseContentRange(QueryHeader(request, HTTP_QUERY_CONTENT_RANGE));
        if (range.valid && !range.unsatisfied && range.total != 0 && range.total != m_zipSize) return PackageChanged();
        if (!range.valid || range.unsatisfied || range.first != m_next) return WrongOffset();
        SameValidator(request);
        *bodyStart = m_next;
        return Pass::Complete;
    }
    if (status == 200) {
        // The whole file: the server ignores ranges, or the file is not the one of the first
        // answer (If-Range). The bytes before the wanted offset are read and dropped; a changed
        // file shows itself in the entries' checksums, or here in its size.
        uint64_t length = 0;
        if (QueryContentLength(request, &length) && length != m_zipSize) return PackageChanged();
        if (!SameValidator(request)) {
            TraceLine("qen: %s taken up again at %llu", m_url.c_str(), static_cast<unsigned long long>(m_next));
        }
        *bodyStart = 0;
        return Pass::Complete;
    }
    return UnexpectedStatus(status);
}

PackageFetch::Pass PackageStream::Receive(HINTERNET request, uint64_t bodyStart, DWORD* readError) {
    uint64_t at = bodyStart;  // the package offset of the next body byte
    const DWORD startTick = GetTickCount();
    for (;;) {
        DWORD got = 0;
        const Pass piece = NextPiece(request, &got, readError);
        if (piece != Pass::Complete) return piece;
        if (got == 0) {
            // The connection closed before the package's end: a failed read, never the end.
            TraceLine("qen: stream of %s ended at %llu of %llu bytes", m_url.c_str(),
                      static_cast<unsigned long long>(at), static_cast<unsigned long long>(m_zipSize));
            *readError = ERROR_INTERNET_CONNECTION_ABORTED;
            return Pass::ReadFailed;
        }
        const char* data = m_reader.Data();
        uint64_t size = got;
        if (at < m_next) {
            const uint64_t skip = std::min(size, m_next - at);
            data += skip;
            size -= skip;
            at += skip;
        }
        size = std::min(size, m_zipSize - at);
        if (size > 0) {
            if (!HandOn(at, data, static_cast<size_t>(size))) return Pass::Failed;
            at += size;
            m_next = at;
        }
        ShowProgress(startTick);
        if (at >= m_zipSize) return Pass::Complete;
    }
}

// Several connections read ahead while the sink takes the bytes in order. AskAgain: go on over
// one connection from m_next, which may have moved.
PackageFetch::Pass PackageStream::ReadAheadFrom(HINTERNET session, DWORD* readError) {
    ReadAheadSource source;
    source.url = m_url;
    source.session = session;
    source.from = m_next;
    source.zipSize = m_zipSize;
    source.handOn = [this](uint64_t at, const char* data, size_t size) {
        if (!HandOn(at, data, size)) return false;
        m_next = at + size;
        return true;
    };
    source.firstAnswer = [this](HINTERNET request) { SameValidator(request); };
    source.progress = [this](double speedKb) { ShowProgressAt(speedKb); };
    const ReadAheadOutcome outcome = ReadAhead(source, m_task, readError);
    // A lost first request is tried again as it is; any answer settles it.
    m_mayReadAhead = outcome == ReadAheadOutcome::Lost;
    switch (outcome) {
        case ReadAheadOutcome::Complete: return Pass::Complete;
        case ReadAheadOutcome::Lost: return Pass::ReadFailed;
        case ReadAheadOutcome::Refused: return Pass::Failed;
        case ReadAheadOutcome::Stopped: return Pass::Stopped;
        case ReadAheadOutcome::OneConnection: break;
    }
    TraceLine("qen: %s goes on over one connection from %llu", m_url.c_str(), static_cast<unsigned long long>(m_next));
    return Pass::AskAgain;
}

}  // namespace

StreamOutcome StreamPackage(const std::string& url, uint64_t from, uint64_t zipSize, uint64_t neededBytes,
                            UpdateTask& task, const std::function<bool(uint64_t, const char*, size_t)>& sink,
                            const std::function<uint64_t()>& restart) {
    TraceLine("qen: StreamPackage %s from %llu", url.c_str(), static_cast<unsigned long long>(from));
    return PackageStream(url, zipSize, neededBytes, task, sink, restart).Run(from);
}
