// One ranged GET per connection, its body handed on as it comes. The receiver installs while
// it reads, so a resume goes back to where the receiver can take up again, not to where the
// bytes stopped.
#include "download/package_stream.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>

#include "download/body_reader.h"
#include "download/download_messages.h"
#include "download/download_support.h"
#include "download/http_headers.h"
#include "framework/http_request.h"
#include "framework/internet_handle.h"
#include "framework/trace.h"
#include "process/process_values.h"
#include "tasklist/mavrin_list.h"

namespace {

// The same patience as the resumable download: the unstable-network box after three failed
// tries, the end after eight in a row that got no further.
constexpr int kFailuresBeforeUnstableBox = 3;
constexpr int kFruitlessTriesLimit = 8;
// Progress stays short of whole until the last byte is in: whole means finished to the dialog.
constexpr float kMostBeforeEnd = 0.999f;

enum class Pass { Complete, Failed, ReadFailed, Stopped, NotFound };

// ETag, else Last-Modified: what tells one version of the server's file from another.
std::string QueryValidator(HINTERNET request) {
    std::string etag = QueryHeader(request, HTTP_QUERY_ETAG);
    return etag.empty() ? QueryHeader(request, HTTP_QUERY_LAST_MODIFIED) : etag;
}

class PackageStream {
public:
    PackageStream(const std::string& url, uint64_t zipSize, uint64_t neededBytes, UpdateTask& task,
                  const std::function<bool(uint64_t, const char*, size_t)>& sink,
                  const std::function<uint64_t()>& restart)
        : m_url(url), m_zipSize(zipSize), m_needed(neededBytes), m_task(task), m_sink(sink), m_restart(restart) {}

    StreamOutcome Run(uint64_t from);

private:
    Pass OneConnection(DWORD connectionFlags, DWORD* readError);
    Pass Send(HINTERNET session, const HttpRequestOptions& options, HttpRequest* sent, DWORD* readError);
    Pass CheckAnswer(HINTERNET request, uint64_t* bodyStart);
    Pass Receive(HINTERNET request, uint64_t bodyStart, DWORD* readError);
    void ShowProgress(uint64_t bytesThisTry, DWORD startTick);
    bool CountTry();
    Pass PackageChanged();

    const std::string& m_url;
    const uint64_t m_zipSize;
    const uint64_t m_needed;
    UpdateTask& m_task;
    const std::function<bool(uint64_t, const char*, size_t)>& m_sink;
    const std::function<uint64_t()>& m_restart;
    BodyReader m_reader;
    RetryPacer m_pacer;
    std::string m_validator;  // of the first answer; later answers must come from the same file
    uint64_t m_next = 0;      // the offset the sink expects next
    uint64_t m_fetched = 0;   // bytes handed on, for the progress
    uint64_t m_reached = 0;   // the furthest offset any try handed on
    uint64_t m_best = 0;      // m_reached when the last try that got further ended
    int m_fruitless = 0;
    bool m_bWrote = false;    // the last try handed bytes on
    int m_shownSize = -1;
};

StreamOutcome PackageStream::Run(uint64_t from) {
    m_next = from;
    if (m_next >= m_zipSize) return StreamOutcome::Complete;
    int nAttempts = 0;
    for (;;) {
        DWORD flags = 0;
        while (!InternetGetConnectedState(&flags, 0)) {
            if (!WaitUnlessStopped(m_task, m_pacer.NextDelayMs())) return StreamOutcome::Stopped;
        }
        DWORD readError = 0;
        switch (OneConnection(flags, &readError)) {
            case Pass::Complete: return StreamOutcome::Complete;
            case Pass::Failed: return StreamOutcome::Failed;
            case Pass::Stopped: return StreamOutcome::Stopped;
            case Pass::NotFound: return StreamOutcome::NotFound;
            case Pass::ReadFailed: break;
        }
        if (nAttempts == kFailuresBeforeUnstableBox) ShowNetworkUnstable(readError);
        ++nAttempts;
        // Also after the box: a stop asked for while it was open ends the stream now.
        if (StopRequested(m_task)) return StreamOutcome::Stopped;
        if (!CountTry()) return StreamOutcome::Failed;
        // The entry under way is half written: the receiver takes up again at its start.
        m_next = m_restart();
        if (m_bWrote) m_pacer.Reset();
        if (!WaitUnlessStopped(m_task, m_pacer.NextDelayMs())) return StreamOutcome::Stopped;
    }
}

Pass PackageStream::OneConnection(DWORD connectionFlags, DWORD* readError) {
    m_bWrote = false;
    ScopedInternetHandle session(
        InternetOpenA(UserAgent().c_str(), SessionAccessType(connectionFlags), nullptr, nullptr, 0));
    if (!session.IsValid()) {
        ShowDownloadError(FormatText("InternetOpen错误. %d.", static_cast<int>(GetLastError())));
        return Pass::Failed;
    }
    HttpRequestOptions options;
    options.headers = FormatText("Range: bytes=%llu-\r\n", static_cast<unsigned long long>(m_next));
    // Only the file the earlier bytes came from may go on where they stopped.
    if (!m_validator.empty()) options.headers += "If-Range: " + m_validator + "\r\n";
    HttpRequest sent;
    Pass refused = Send(session.Get(), options, &sent, readError);
    if (refused != Pass::Complete) return refused;
    uint64_t bodyStart = 0;
    Pass answer = CheckAnswer(sent.request.Get(), &bodyStart);
    if (answer != Pass::Complete) return answer;
    return Receive(sent.request.Get(), bodyStart, readError);
}

// Complete when the request has its answer. A server that can't be reached or stays silent is
// a failed read, tried again; a URL that can't be fetched at all, a redirect loop and an
// untrusted certificate end the stream with a message.
Pass PackageStream::Send(HINTERNET session, const HttpRequestOptions& options, HttpRequest* sent,
                         DWORD* readError) {
    DWORD error = 0;
    SendOutcome outcome = SendHttpRequest(session, m_url, options, [this] { return StopRequested(m_task); }, sent, &error);
    switch (outcome) {
        case SendOutcome::Sent: return Pass::Complete;
        case SendOutcome::Stopped: return Pass::Stopped;
        case SendOutcome::TooManyRedirects:
            ShowDownloadError(FormatText("下载文件出错.\n网址:%s.\n重定向次数过多.", m_url.c_str()));
            return Pass::Failed;
        case SendOutcome::InsecureRedirect: ShowInsecureRedirect(m_url.c_str()); return Pass::Failed;
        case SendOutcome::BadUrl: ShowDownloadError("InternetOpen错误"); return Pass::Failed;
        case SendOutcome::Failed: break;
    }
    if (IsCertificateError(error)) {
        ShowDownloadError(FormatText("下载文件出错.\n网址:%s.\n服务器证书不可信. 错误号:%d.", m_url.c_str(),
                                     static_cast<int>(error)));
        return Pass::Failed;
    }
    *readError = error;
    return Pass::ReadFailed;
}

// The manifest describes a file of exactly `m_zipSize` bytes; another one can't be installed by it.
Pass PackageStream::PackageChanged() {
    TraceLine("qen: %s is no longer the package its manifest describes", m_url.c_str());
    ShowDownloadError(FormatText("校验文件%s失败.", m_url.c_str()));
    return Pass::Failed;
}

// Complete when the body can be read: `bodyStart` is the package offset of its first byte.
Pass PackageStream::CheckAnswer(HINTERNET request, uint64_t* bodyStart) {
    const int status = QueryStatusCode(request);
    if (status == 404) return Pass::NotFound;
    if (status == 206) {
        ContentRange range = ParseContentRange(QueryHeader(request, HTTP_QUERY_CONTENT_RANGE));
        if (range.valid && !range.unsatisfied && range.total != 0 && range.total != m_zipSize) return PackageChanged();
        if (!range.valid || range.unsatisfied || range.first != m_next) {
            ShowDownloadError(FormatText("下载文件出错.\n网址:%s.\n服务器返回的数据与请求的位置不符.", m_url.c_str()));
            return Pass::Failed;
        }
        if (m_validator.empty()) m_validator = QueryValidator(request);
        *bodyStart = m_next;
        return Pass::Complete;
    }
    if (status == 200) {
        // The whole file: the server ignores ranges, or the file is not the one of the first
        // answer (If-Range). The bytes before the wanted offset are read and dropped; a changed
        // file shows itself in the entries' checksums, or here in its size.
        uint64_t length = 0;
        if (QueryContentLength(request, &length) && length != m_zipSize) return PackageChanged();
        std::string validator = QueryValidator(request);
        if (!m_validator.empty() && validator != m_validator) {
            TraceLine("qen: %s changed on the server, taken up again at %llu", m_url.c_str(),
                      static_cast<unsigned long long>(m_next));
        }
        m_validator = validator;
        *bodyStart = 0;
        return Pass::Complete;
    }
    ShowDownloadError(FormatText("下载文件出错.\n网址:%s.\n服务器返回:%d.", m_url.c_str(), status));
    return Pass::Failed;
}

Pass PackageStream::Receive(HINTERNET request, uint64_t bodyStart, DWORD* readError) {
    uint64_t at = bodyStart;  // the package offset of the next body byte
    uint64_t handedOn = 0;
    const DWORD startTick = GetTickCount();
    for (;;) {
        if (StopRequested(m_task)) return Pass::Stopped;
        DWORD got = 0;
        if (!m_reader.Read(request, &got)) {
            *readError = GetLastError();
            return Pass::ReadFailed;
        }
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
            if (!m_sink(at, data, static_cast<size_t>(size))) return Pass::Failed;
            at += size;
            m_next = at;
            handedOn += size;
            m_fetched += size;
            m_reached = std::max(m_reached, at);
            m_bWrote = true;
        }
        ShowProgress(handedOn, startTick);
        if (at >= m_zipSize) {
            m_task.dSpeed = 0.0;
            m_task.fProgress = 1.0f;
            return Pass::Complete;
        }
    }
}

void PackageStream::ShowProgress(uint64_t bytesThisTry, DWORD startTick) {
    const DWORD elapsed = GetTickCount() - startTick;
    if (elapsed != 0) m_task.dSpeed = static_cast<double>(bytesThisTry) / 1024.0 / (elapsed / 1000.0);
    if (m_needed > 0) {
        m_task.fProgress = std::min(kMostBeforeEnd, static_cast<float>(static_cast<double>(m_fetched) / m_needed));
    }
    const int row = m_task.nIndex;
    // The text goes through the list window: set it only when it changes.
    const int sizeKb = static_cast<int>(m_zipSize >> 10);
    if (row >= 0 && g_pTaskList != nullptr && sizeKb != m_shownSize) {
        g_pTaskList->SetItemSize(row, sizeKb);
        m_shownSize = sizeKb;
    }
}

// Counts a try that ended short of the package's end. False, after the message, once too many
// in a row got no further than the best one before.
bool PackageStream::CountTry() {
    if (m_reached > m_best) {
        m_best = m_reached;
        m_fruitless = 0;
        return true;
    }
    if (++m_fruitless < kFruitlessTriesLimit) return true;
    ShowDownloadError(FormatText("下载文件%s失败,已重试%d次.", m_url.c_str(), m_fruitless));
    return false;
}

}  // namespace

StreamOutcome StreamPackage(const std::string& url, uint64_t from, uint64_t zipSize, uint64_t neededBytes,
                            UpdateTask& task, const std::function<bool(uint64_t, const char*, size_t)>& sink,
                            const std::function<uint64_t()>& restart) {
    TraceLine("qen: StreamPackage %s from %llu", url.c_str(), static_cast<unsigned long long>(from));
    return PackageStream(url, zipSize, neededBytes, task, sink, restart).Run(from);
}
