// The resumable download: a size request, then HTTP/1.0 ranged requests whose bodies fill a
// side file. A lost connection starts over from a new session and resumes where the side
// file ends, but only while the server's file is still the one the side file was fetched
// against (same URL, size and validator) and only as far as its record says it was flushed; the
// whole side file then replaces the destination. Whole means as long as a known size: a server
// that never tells one gets a single request without a Range, whose body to the close is the file.
// A large file from a server that names its version comes over several connections instead.
#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <memory>

#include "download/body_reader.h"
#include "download/download_messages.h"
#include "download/download_support.h"
#include "download/http_headers.h"
#include "download/internet_download.h"
#include "download/local_file.h"
#include "download/segment_plan.h"
#include "download/segmented_fetch.h"
#include "download/side_file.h"
#include "framework/http_request.h"
#include "framework/internet_handle.h"
#include "framework/trace.h"
#include "process/process_values.h"
#include "tasklist/mavrin_list.h"

namespace {

constexpr int kFailuresBeforeUnstableBox = 3;
// Failed tries in a row that got no further than the best one before: the server is not going
// to give the rest, and retrying for ever would only hammer it.
constexpr int kFruitlessTriesLimit = 8;
// How often the side file is put on the disk while bytes come: often enough that a kill loses
// little, rarely enough to cost nothing per read.
constexpr DWORD kFlushEveryMs = 1000;

// Again: the answer was good but did not reach the end (a short range, or a side file that
// has to start over): ask once more on the same connection. Unchecked: the first try went out
// before the connection check answered, and the answer wants a wait or another session.
enum class Pass { Complete, Failed, ReadFailed, Again, Unchecked };

class ResumableDownload {
public:
    // `shownName` names the file in messages.
    ResumableDownload(const char* url, std::string path, std::string shownName, UpdateTask& task)
        : m_url(url), m_path(std::move(path)), m_side(SidePath(m_path)), m_shownName(std::move(shownName)),
          m_task(task) {}

    int Run();

private:
    Pass OneConnection(DWORD connectionFlags, DWORD* readError);
    bool CheckAgrees();
    Pass Segmented(HINTERNET session, const std::string& url, DWORD* readError);
    std::vector<ByteSpan> HeldSpans();
    void ShowProgress(double speedKb, uint64_t received);
    bool Send(HINTERNET session, const std::string& url, const HttpRequestOptions& options, HttpRequest* sent,
              DWORD* readError, Pass* refused);
    uint64_t ResumeOffset(bool* fresh);
    void RecordSideFile();
    void SecureSideFile(LocalFile& file);
    bool CountTry(bool* further);
    Pass ReceiveBody(HINTERNET request, LocalFile& file, uint64_t offset, DWORD* readError);
    bool AcceptNewSize(LocalFile& file, uint64_t offset, DWORD* readError, Pass* refused);
    Pass FailWithStatus(int status);
    // A write to the side file failed; GetLastError tells why.
    Pass FailWrite();

    const char* m_url;
    std::string m_path;
    std::string m_side;
    std::string m_shownName;
    UpdateTask& m_task;
    BodyReader m_reader;
    RetryPacer m_pacer;
    std::unique_ptr<ConnectionCheck> m_check;  // the first try's, until its size request is answered
    DWORD m_guessedFlags = 0;                  // what the first try's session was opened for
    int m_shownSize = -1;  // the size text last set on the row
    uint64_t m_total = 0;
    std::string m_validator;
    bool m_bStartOver = false;  // the side file's bytes can't be trusted: next request from 0
    bool m_bContinue = false;   // a short range just ended: the next request takes the rest
    bool m_bWrote = false;      // the last request added bytes to the file
    bool m_bWholeBody = false;  // no answer tells the size: one request without a Range, to the close
    uint64_t m_reached = 0;     // the furthest end of the side file any try of this call wrote
    uint64_t m_best = 0;        // m_reached when the last try that got further ended
    int m_fruitless = 0;        // tries in a row since then
    uint64_t m_sideEnd = 0;     // where the side file ends now
    uint64_t m_flushed = 0;     // what its record vouches for: bytes known to be on the disk
    DWORD m_lastFlush = 0;
};

// A size no real file has: the answer is broken, a failed read like a cut one.
bool Believable(uint64_t size, DWORD* readError) {
    if (size <= kLargestDownload) return true;
    TraceLine("qen: announced size %llu is beyond belief", static_cast<unsigned long long>(size));
    *readError = ERROR_HTTP_INVALID_SERVER_RESPONSE;
    return false;
}

int ResumableDownload::Run() {
    RaiseConnectionLimits();
    // The first try does not wait for the connection check: it goes out on the session the last
    // answer in this process wanted (the task's update list has just been fetched), and its size
    // request waits for the new answer.
    m_check.reset(new ConnectionCheck);
    for (;;) {
        int nAttempts = 0;
        DWORD flags = 0;
        if (m_check) m_guessedFlags = flags = LastConnectionFlags();
        while (!m_check && !AskConnectedState(&flags)) {
            if (!WaitUnlessStopped(m_task, m_pacer.NextDelayMs())) return -1;
        }
        m_pacer.Reset();
        for (;;) {
            DWORD readError = 0;
            Pass pass = OneConnection(flags, &readError);
            if (pass == Pass::Unchecked) break;
            if (pass == Pass::Complete) return 0;
            if (pass == Pass::Failed) return -1;
            if (nAttempts == kFailuresBeforeUnstableBox) ShowNetworkUnstable(readError);
            ++nAttempts;
            // Also after the box: a stop asked for while it was open ends the download now.
            if (StopRequested(m_task)) return -1;
            bool further = false;
            if (!CountTry(&further)) return -1;
            if (!AskConnectedState(&flags)) break;
            if (m_bWrote) m_pacer.Reset();
            if (!WaitUnlessStopped(m_task, m_pacer.NextDelayMs())) return -1;
        }
    }
}

Pass ResumableDownload::OneConnection(DWORD connectionFlags, DWORD* readError) {
    m_bWrote = false;
    ScopedInternetHandle session(
        InternetOpenA(UserAgent().c_str(), SessionAccessType(connectionFlags), nullptr, nullptr, 0));
    if (!session.IsValid()) {
        ShowDownloadError(FormatText("InternetOpen错误. %d.", static_cast<int>(GetLastError())));
        return Pass::Failed;
    }
    HttpRequest sizeRequest;
    {
        // HEAD, not GET: WinINet drains an unread body when the handle closes, so a GET
        // would fetch the whole package once more just to learn its size.
        HttpRequestOptions options;
        options.verb = "HEAD";
        options.flags = 0;
        Pass refused = Pass::Complete;
        if (!Send(session.Get(), m_url, options, &sizeRequest, readError, &refused)) return refused;
        // An error page's length is not the package's size.
        int sizeStatus = sizeRequest.status;
        m_total = 0;
        m_validator.clear();
        if (sizeStatus >= 200 && sizeStatus < 300) {
            QueryContentLength(sizeRequest.request.Get(), &m_total);
            m_validator = QueryValidator(sizeRequest.request.Get());
        }
        sizeRequest.request.Close();
        sizeRequest.connection.Close();
        if (!Believable(m_total, readError)) return Pass::ReadFailed;
    }
    if (!m_bWholeBody && m_total > kSegmentedAbove && !m_validator.empty()) {
        Pass pass = Segmented(session.Get(), sizeRequest.url, readError);
        if (pass != Pass::Again) return pass;
    }

    for (;;) {
        LocalFile file;
        bool fresh = false;
        const uint64_t offset = ResumeOffset(&fresh);
        if (m_total > offset && !RoomToDownload(m_path, m_total - offset, m_shownName)) {
            // Nothing of a download that can't fit may stay behind.
            RemoveSideFiles(m_path);
            return Pass::Failed;
        }
        if (!file.OpenAt(m_side, offset)) return Pass::Failed;
        // Only now that the old bytes are cut off: a record written before would, after a
        // kill in between, vouch for them.
        if (fresh) RecordSideFile();
        HttpRequestOptions options;
        options.version = "HTTP/1.0";
        options.flags = INTERNET_FLAG_NO_CACHE_WRITE;
        if (!m_bWholeBody) {
            options.headers = FormatText("Range:bytes=%llu-\r\n", static_cast<unsigned long long>(offset));
        }
        // Only the same version of the file may continue the side file; any other comes whole.
        if (offset > 0 && !m_validator.empty()) options.headers += "If-Range: " + m_validator + "\r\n";
        // The size request found where redirects lead: ask there.
        HttpRequest dataRequest;
        Pass refused = Pass::Complete;
        if (!Send(session.Get(), sizeRequest.url, options, &dataRequest, readError, &refused)) return refused;
        const bool wholeBefore = m_bWholeBody;
        Pass pass = ReceiveBody(dataRequest.request.Get(), file, offset, readError);
        if (pass == Pass::ReadFailed || pass == Pass::Again) SecureSideFile(file);
        if (pass != Pass::Again) return pass;
        // Asking for the file without a Range instead is not a try of its own.
        if (m_bWholeBody != wholeBefore) continue;
        // A short answer that got further asks again at once; one that did not counts and waits
        // like a failed read, so a server answering 206 and 416 by turns can't go on for ever.
        bool further = false;
        if (!CountTry(&further)) return Pass::Failed;
        if (further) continue;
        if (m_bWrote) m_pacer.Reset();
        if (!WaitUnlessStopped(m_task, m_pacer.NextDelayMs())) return Pass::Failed;
    }
}

// True unless the try went out before the connection check answered and the answer is no
// connection, or one that wants another kind of session.
bool ResumableDownload::CheckAgrees() {
    if (!m_check) return true;
    DWORD flags = 0;
    const bool connected = m_check->Connected(&flags);
    m_check.reset();
    return connected && SessionAccessType(flags) == SessionAccessType(m_guessedFlags);
}

// The side file over several connections. Again: the server's file changed, and the side file
// starts over on one connection.
Pass ResumableDownload::Segmented(HINTERNET session, const std::string& url, DWORD* readError) {
    SegmentedSource source;
    source.url = url;
    source.shownUrl = m_url;
    source.path = m_path;
    source.record = SideFileInfo{m_url, m_total, m_validator, 0, HeldSpans()};
    uint64_t missing = 0;
    for (const ByteSpan& span : MissingSpans(source.record.held, m_total)) missing += span.end - span.first;
    if (!RoomToDownload(m_path, missing, m_shownName)) {
        // Nothing of a download that can't fit may stay behind.
        RemoveSideFiles(m_path);
        return Pass::Failed;
    }
    if (source.record.held.empty()) {
        // Cut off what an older side file held before a new record can be taken to vouch for it.
        LocalFile file;
        if (!file.OpenAt(m_side, 0)) return Pass::Failed;
        m_flushed = 0;
        RecordSideFile();
    }
    source.send = [this, session, &url](const HttpRequestOptions& options, HttpRequest* sent, DWORD* error) {
        Pass refused = Pass::Complete;
        if (Send(session, url, options, sent, error, &refused)) return SendResult::Sent;
        return refused == Pass::ReadFailed ? SendResult::ReadFailed : SendResult::Failed;
    };
    source.progress = [this](double speedKb, uint64_t received) { ShowProgress(speedKb, received); };
    uint64_t heldBefore = 0;
    for (const ByteSpan& span : source.record.held) heldBefore += span.end - span.first;
    uint64_t held = 0;
    SegmentedOutcome outcome = FetchSegmented(source, m_task, readError, &held);
    m_bWrote = held > heldBefore;
    m_reached = std::max(m_reached, held);
    switch (outcome) {
    case SegmentedOutcome::Complete:
        m_task.dSpeed = 0.0;
        m_task.fProgress = 1.0f;
        TraceLine("tor2:下载完毕");
        return Pass::Complete;
    case SegmentedOutcome::ReadFailed:
        return Pass::ReadFailed;
    case SegmentedOutcome::Changed:
        // The new version's size and validator come with its first answer.
        m_bStartOver = true;
        m_total = 0;
        m_validator.clear();
        return Pass::Again;
    case SegmentedOutcome::Failed:
        break;
    }
    return Pass::Failed;
}

// What the side file holds of the server's current file, by its record: nothing unless it was
// fetched against this very file, and never past the side file's end.
std::vector<ByteSpan> ResumableDownload::HeldSpans() {
    const bool startOver = m_bStartOver;
    m_bStartOver = false;
    m_bContinue = false;
    SideFileInfo info;
    uint64_t size = 0;
    if (startOver || !LocalFileSize(m_side, &size) || size > m_total || !ReadSideInfo(m_path, &info) ||
        info.url != m_url || info.total != m_total || info.validator != m_validator) {
        return {};
    }
    // A record of one connection vouches for the first bytes alone.
    std::vector<ByteSpan> held = info.held.empty() ? std::vector<ByteSpan>{ByteSpan{0, info.flushed}} : info.held;
    for (ByteSpan& span : held) span.end = std::min(span.end, size);
    return MergedSpans(held);
}

void ResumableDownload::ShowProgress(double speedKb, uint64_t received) {
    m_task.dSpeed = speedKb;
    int row = m_task.nIndex;
    if (row >= 0 && g_pTaskList != nullptr) {
        // The text goes through the list window: set it only when it changes.
        const int sizeKb = static_cast<int>(m_total >> 10);
        if (sizeKb != m_shownSize) g_pTaskList->SetItemSize(row, sizeKb);
        m_shownSize = sizeKb;
        if (m_total > 0) m_task.fProgress = static_cast<float>(static_cast<double>(received) / m_total);
    }
}

// Sends one request (redirects followed). A server that can't be reached or stays silent is
// a failed read, tried again; a URL that can't be fetched at all, a redirect loop and an
// untrusted certificate end the download with a message.
bool ResumableDownload::Send(HINTERNET session, const std::string& url, const HttpRequestOptions& options,
                             HttpRequest* sent, DWORD* readError, Pass* refused) {
    DWORD error = 0;
    SendOutcome outcome = SendHttpRequest(session, url, options, [this] { return StopRequested(m_task); }, sent, &error);
    // An answer to a try the connection check does not agree with counts for nothing, failures
    // included: the try starts again once there is a connection, on the session it wants.
    if (!CheckAgrees()) {
        *refused = Pass::Unchecked;
        return false;
    }
    if (outcome == SendOutcome::Sent) return true;
    *refused = Pass::Failed;
    if (outcome == SendOutcome::Stopped) return false;
    if (outcome == SendOutcome::TooManyRedirects) {
        ShowDownloadError(FormatText("下载文件出错.\n网址:%s.\n重定向次数过多.", m_url));
    } else if (outcome == SendOutcome::InsecureRedirect) {
        ShowInsecureRedirect(m_url);
    } else if (outcome == SendOutcome::BadUrl) {
        ShowDownloadError("InternetOpen错误");
    } else if (IsCertificateError(error)) {
        ShowDownloadError(FormatText("下载文件出错.\n网址:%s.\n服务器证书不可信. 错误号:%d.", m_url,
                                     static_cast<int>(error)));
    } else {
        *readError = error;
        *refused = Pass::ReadFailed;
    }
    return false;
}

// Where the side file continues: its end when it is the first piece of a range just answered;
// else, when it was fetched against this very file (URL, size and validator all the same), as
// far as its record says it was flushed (the rest is cut off); else 0 and `fresh`: the side
// file starts over and needs a new record.
uint64_t ResumableDownload::ResumeOffset(bool* fresh) {
    uint64_t size = 0;
    uint64_t offset = 0;
    if (!m_bStartOver && m_total > 0 && LocalFileSize(m_side, &size) && size <= m_total) {
        SideFileInfo info;
        if (m_bContinue) {
            offset = size;
        } else if (!m_validator.empty() && ReadSideInfo(m_path, &info) && info.url == m_url &&
                   info.total == m_total && info.validator == m_validator) {
            offset = std::min(size, info.flushed);
            m_flushed = offset;
        }
    }
    m_bStartOver = false;
    m_bContinue = false;
    *fresh = offset == 0;
    if (*fresh) m_flushed = 0;
    m_sideEnd = offset;
    return offset;
}

void ResumableDownload::RecordSideFile() {
    if (!WriteSideInfo(m_path, SideFileInfo{m_url, m_total, m_validator, m_flushed, {}})) {
        TraceLine("qen: the record of %s can't be written; it will not be resumed", m_side.c_str());
    }
}

// Puts the side file's bytes on the disk first, and only then lets the record vouch for them.
void ResumableDownload::SecureSideFile(LocalFile& file) {
    m_lastFlush = GetTickCount();
    if (m_sideEnd == m_flushed || !file.Flush()) return;
    m_flushed = m_sideEnd;
    RecordSideFile();
}

// Counts a try that ended short of the whole file: `further` when it got further than every
// one before. False, after the message, once too many in a row got no further.
bool ResumableDownload::CountTry(bool* further) {
    *further = m_reached > m_best;
    if (*further) {
        m_best = m_reached;
        m_fruitless = 0;
        return true;
    }
    if (++m_fruitless < kFruitlessTriesLimit) return true;
    ShowDownloadError(FormatText("下载文件%s失败,已重试%d次.", m_shownName.c_str(), m_fruitless));
    return false;
}

// The data answer told a size the size request did not: a size beyond belief is a failed read,
// and one the drive has no room for ends the download before a byte is written.
bool ResumableDownload::AcceptNewSize(LocalFile& file, uint64_t offset, DWORD* readError, Pass* refused) {
    *refused = Pass::ReadFailed;
    if (!Believable(m_total, readError)) return false;
    if (m_total <= offset || RoomToDownload(m_path, m_total - offset, m_shownName)) return true;
    // Nothing of a download that can't fit may stay behind.
    file.Close();
    RemoveSideFiles(m_path);
    *refused = Pass::Failed;
    return false;
}

Pass ResumableDownload::FailWrite() {
    ShowDownloadError(FormatText("写入文件%s出错. 错误号:%d.", m_side.c_str(), static_cast<int>(GetLastError())));
    return Pass::Failed;
}

Pass ResumableDownload::FailWithStatus(int status) {
    ShowDownloadError(FormatText("下载文件出错.\n网址:%s.\n服务器返回:%d.", m_url, status));
    return Pass::Failed;
}

Pass ResumableDownload::ReceiveBody(HINTERNET request, LocalFile& file, uint64_t offset, DWORD* readError) {
    m_bWrote = false;
    const uint64_t knownTotal = m_total;
    int status = QueryStatusCode(request);
    uint64_t expectedEnd = 0;  // where the body must end; 0 when the server doesn't say
    if (status == 206) {
        ContentRange range = ParseContentRange(QueryHeader(request, HTTP_QUERY_CONTENT_RANGE));
        if (!range.valid || range.unsatisfied || range.first != offset ||
            (m_total != 0 && (range.last >= m_total || (range.total != 0 && range.total != m_total)))) {
            // Bytes from anywhere else would corrupt the package: write nothing.
            ShowDownloadError(FormatText("下载文件出错.\n网址:%s.\n服务器返回的数据与请求的位置不符.", m_url));
            return Pass::Failed;
        }
        if (m_total == 0 && range.total == 0) {
            // No answer tells the size ("…/*"), so no range can be known to be the last one.
            TraceLine("qen: no size of %s is told, it is asked for whole", m_url);
            m_bWholeBody = true;
            m_bStartOver = true;
            return Pass::Again;
        }
        if (m_total == 0) m_total = range.total;
        expectedEnd = range.last + 1;
        // A file asked for from its start names the version the side file now holds.
        if (offset == 0) {
            std::string validator = QueryValidator(request);
            if (!validator.empty()) m_validator = validator;
        }
    } else if (status == 200) {
        if (offset > 0) {
            // The server ignored the range or the file changed (If-Range): write it from the start.
            TraceLine("qen: range ignored by the server, %s is written again from the start", m_side.c_str());
            if (!file.Truncate()) {
                ShowDownloadError(FormatText("写入文件%s出错. 错误号:%d.", m_side.c_str(), static_cast<int>(GetLastError())));
                return Pass::Failed;
            }
            offset = 0;
            m_sideEnd = 0;
            m_flushed = 0;
        }
        // The size request's answer holds as much as the body's own: a body that stops short of
        // either was cut, with or without a Content-Length.
        uint64_t length = 0;
        if (!QueryContentLength(request, &length)) length = 0;
        expectedEnd = std::max(length, m_total);
        m_total = expectedEnd;
        std::string validator = QueryValidator(request);
        if (!validator.empty()) m_validator = validator;
        RecordSideFile();
    } else if (status == 416) {
        // Nothing left to send: complete only when the side file already is the whole file.
        ContentRange range = ParseContentRange(QueryHeader(request, HTTP_QUERY_CONTENT_RANGE));
        bool sameTotal = !range.valid || range.total == m_total;
        if ((offset > 0 && offset == m_total && sameTotal) || (offset == 0 && range.valid && range.total == 0)) {
            m_task.fProgress = 1.0f;
            return Pass::Complete;
        }
        if (offset == 0) return FailWithStatus(status);
        TraceLine("qen: %s does not fit the server's file, it starts over", m_side.c_str());
        m_bStartOver = true;
        return Pass::Again;
    } else {
        return FailWithStatus(status);
    }
    Pass refused = Pass::Complete;
    if (m_total != knownTotal && !AcceptNewSize(file, offset, readError, &refused)) return refused;

    uint64_t received = offset;
    const uint64_t base = offset;
    const DWORD startTick = GetTickCount();
    m_lastFlush = startTick;
    if (offset > 0 && m_total > 0) m_task.fProgress = static_cast<float>(static_cast<double>(received) / m_total);
    for (;;) {
        DWORD got = 0;
        if (!m_reader.Read(request, &got)) {
            *readError = GetLastError();
            return Pass::ReadFailed;
        }
        received += got;
        // More than announced: nothing past the announced end is written.
        const bool overLong = expectedEnd != 0 && received > expectedEnd;
        if (overLong) {
            got -= static_cast<DWORD>(received - expectedEnd);
            received = expectedEnd;
        }
        const DWORD now = GetTickCount();
        DWORD elapsed = now - startTick;
        if (elapsed != 0) ShowProgress(static_cast<double>(received - base) / 1024.0 / (elapsed / 1000.0), received);
        if (got == 0 && !overLong) {
            if (expectedEnd != 0 && received < expectedEnd) {
                // The connection closed early: a failed read, never the end of the file.
                TraceLine("qen: body ended at %llu of %llu bytes", static_cast<unsigned long long>(received),
                          static_cast<unsigned long long>(expectedEnd));
                *readError = ERROR_INTERNET_CONNECTION_ABORTED;
                return Pass::ReadFailed;
            }
            if (status == 206 && m_total != 0 && received < m_total) {
                // An honest but short range: the rest comes with the next request.
                TraceLine("qen: range ended at %llu of %llu bytes, asking for the rest",
                          static_cast<unsigned long long>(received), static_cast<unsigned long long>(m_total));
                m_bContinue = true;
                return Pass::Again;
            }
            // The last writes may still be on their way: the file is whole only once they are.
            if (!file.Close()) return FailWrite();
            m_task.dSpeed = 0.0;
            m_task.fProgress = 1.0f;
            TraceLine("tor2:下载完毕");
            return Pass::Complete;
        }
        if (!file.Append(m_reader, got)) return FailWrite();
        m_bWrote = true;
        m_reached = std::max(m_reached, received);
        m_sideEnd = received;
        if (overLong) {
            // A server that says one size and sends another can't be trusted for the bytes
            // before the end either: the side file starts over, and the try is a failed read.
            TraceLine("qen: body of %s goes on past %llu bytes", m_url, static_cast<unsigned long long>(expectedEnd));
            if (file.Truncate()) m_sideEnd = 0;
            m_bStartOver = true;
            *readError = ERROR_HTTP_INVALID_SERVER_RESPONSE;
            return Pass::ReadFailed;
        }
        if (now - m_lastFlush >= kFlushEveryMs) SecureSideFile(file);
        if (StopRequested(m_task)) return Pass::Failed;
    }
}

}  // namespace

int InternetGetFileShowOnList(const char* szurl, const char* szfileName, std::string* filename, int,
                              UpdateTask* pupdateStruct, const std::string& sha256) {
    TraceLine("qen: int InternetGetFileShowOnList(...)");
    if (pupdateStruct == nullptr) {
        ShowDownloadError("sUpdateStruct *pupdateStruct  为 NULL.");
        return -1;
    }
    std::string path;
    if (!PrepareLocalPath(szfileName, &path)) return -1;
    if (filename != nullptr) *filename = path;
    // The user knows the file by its place; a temporary file only by its URL.
    std::string shownName = szfileName != nullptr ? path : std::string(szurl);
    if (ResumableDownload(szurl, path, shownName, *pupdateStruct).Run() != 0) {
        // A stop leaves nothing behind; after a failure the side file may still be resumed.
        if (StopRequested(*pupdateStruct)) RemoveSideFiles(path);
        return -1;
    }
    return ReplaceWithSideFile(path, sha256) ? 0 : -1;
}
