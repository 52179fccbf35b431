// The resumable download: a size request, then an HTTP/1.0 ranged request whose body is
// appended to what is already on disk. A lost connection starts over from a new session,
// and the new range starts where the file now ends.
#include <windows.h>
#include <wininet.h>

#include <vector>

#include "app/process_values.h"
#include "download/download_messages.h"
#include "download/download_support.h"
#include "download/http_headers.h"
#include "download/internet_download.h"
#include "download/local_file.h"
#include "framework/internet_handle.h"
#include "framework/trace.h"
#include "framework/url_parts.h"
#include "tasklist/mavrin_list.h"

namespace {

constexpr DWORD kReadChunk = 65536;
constexpr int kFailuresBeforeUnstableBox = 3;

enum class Pass { Complete, Failed, ReadFailed };

class ResumableDownload {
public:
    ResumableDownload(const char* url, std::string path, UpdateTask& task)
        : m_url(url), m_path(std::move(path)), m_task(task), m_buffer(kReadChunk) {}

    int Run();

private:
    Pass OneConnection(DWORD connectionFlags, DWORD* readError);
    Pass ReceiveBody(HINTERNET request, LocalFile& file, uint64_t offset, DWORD* readError);
    Pass FailWithStatus(int status);

    const char* m_url;
    std::string m_path;
    UpdateTask& m_task;
    std::vector<char> m_buffer;
    uint64_t m_total = 0;
    bool m_bWrote = false;  // this connection added bytes to the file
};

int ResumableDownload::Run() {
    RetryPacer pacer;
    for (;;) {
        int nAttempts = 0;
        DWORD flags = 0;
        while (!InternetGetConnectedState(&flags, 0)) {
            if (!WaitUnlessStopped(m_task, pacer.NextDelayMs())) return -1;
        }
        pacer.Reset();
        for (;;) {
            DWORD readError = 0;
            Pass pass = OneConnection(flags, &readError);
            if (pass == Pass::Complete) return 0;
            if (pass == Pass::Failed) return -1;
            if (nAttempts == kFailuresBeforeUnstableBox) ShowNetworkUnstable(readError);
            ++nAttempts;
            // Also after the box: a stop asked for while it was open ends the download now.
            if (StopRequested(m_task)) return -1;
            if (!InternetGetConnectedState(&flags, 0)) break;
            if (m_bWrote) pacer.Reset();
            if (!WaitUnlessStopped(m_task, pacer.NextDelayMs())) return -1;
        }
    }
}

Pass ResumableDownload::OneConnection(DWORD connectionFlags, DWORD* readError) {
    m_bWrote = false;
    DWORD access = (connectionFlags & INTERNET_CONNECTION_PROXY) ? INTERNET_OPEN_TYPE_PRECONFIG
                                                                  : INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY;
    ScopedInternetHandle session(InternetOpenA(UserAgent().c_str(), access, nullptr, nullptr, 0));
    if (!session.IsValid()) {
        ShowDownloadError(FormatText("InternetOpen错误. %d.", static_cast<int>(GetLastError())));
        return Pass::Failed;
    }
    UrlParts parts;
    ScopedInternetHandle connection;
    if (CrackUrl(m_url, &parts)) {
        connection.Reset(InternetConnectA(session.Get(), parts.host.c_str(), parts.port, "", "",
                                          INTERNET_SERVICE_HTTP, 0, 1));
    }
    if (!connection.IsValid()) {
        ShowDownloadError("InternetOpen错误");
        return Pass::Failed;
    }

    LocalFile file;
    uint64_t offset = 0;
    {
        // HEAD, not GET: WinINet drains an unread body when the handle closes, so a GET
        // would fetch the whole package once more just to learn its size.
        ScopedInternetHandle sizeRequest(
            HttpOpenRequestA(connection.Get(), "HEAD", parts.path.c_str(), nullptr, "", nullptr, 0, 0));
        if (!sizeRequest.IsValid()) return Pass::Failed;
        HttpSendRequestA(sizeRequest.Get(), nullptr, 0, nullptr, 0);
        // An error page's length is not the package's size.
        int sizeStatus = QueryStatusCode(sizeRequest.Get());
        m_total = 0;
        if (sizeStatus >= 200 && sizeStatus < 300) QueryContentLength(sizeRequest.Get(), &m_total);
        if (!file.OpenForResume(m_path, &offset)) return Pass::Failed;
    }

    ScopedInternetHandle dataRequest(HttpOpenRequestA(connection.Get(), "GET", parts.path.c_str(), "HTTP/1.0",
                                                      nullptr, nullptr, INTERNET_FLAG_NO_CACHE_WRITE, 2));
    if (!dataRequest.IsValid()) return Pass::Failed;
    std::string range = FormatText("Range:bytes=%llu-\r\n", static_cast<unsigned long long>(offset));
    HttpAddRequestHeadersA(dataRequest.Get(), range.c_str(), static_cast<DWORD>(-1),
                           HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE);
    if (!HttpSendRequestA(dataRequest.Get(), nullptr, 0, nullptr, 0)) {
        *readError = GetLastError();
        return Pass::ReadFailed;
    }
    return ReceiveBody(dataRequest.Get(), file, offset, readError);
}

Pass ResumableDownload::FailWithStatus(int status) {
    ShowDownloadError(FormatText("下载文件出错.\n网址:%s.\n服务器返回:%d.", m_url, status));
    return Pass::Failed;
}

Pass ResumableDownload::ReceiveBody(HINTERNET request, LocalFile& file, uint64_t offset, DWORD* readError) {
    int status = QueryStatusCode(request);
    uint64_t expectedEnd = 0;  // where the body must end; 0 when the server doesn't say
    if (status == 206) {
        ContentRange range = ParseContentRange(QueryHeader(request, HTTP_QUERY_CONTENT_RANGE));
        if (!range.valid || range.unsatisfied || range.first != offset ||
            (m_total != 0 && range.total != 0 && range.total != m_total)) {
            // Bytes from anywhere else would corrupt the package: write nothing.
            ShowDownloadError(FormatText("下载文件出错.\n网址:%s.\n服务器返回的数据与请求的位置不符.", m_url));
            return Pass::Failed;
        }
        if (m_total == 0) m_total = range.total;
        expectedEnd = range.last + 1;
    } else if (status == 200) {
        if (offset > 0) {
            // The server ignored the range and sends the whole file: write it from the start.
            TraceLine("qen: range ignored by the server, %s is written again from the start", m_path.c_str());
            if (!file.Truncate()) {
                ShowDownloadError(FormatText("写入文件%s出错. 错误号:%d.", m_path.c_str(), static_cast<int>(GetLastError())));
                return Pass::Failed;
            }
            offset = 0;
        }
        uint64_t length = 0;
        if (QueryContentLength(request, &length)) {
            expectedEnd = length;
            if (m_total == 0) m_total = length;
        }
    } else if (status == 416) {
        ContentRange range = ParseContentRange(QueryHeader(request, HTTP_QUERY_CONTENT_RANGE));
        uint64_t serverSize = m_total != 0 ? m_total : (range.valid ? range.total : 0);
        bool sizeKnown = m_total != 0 || range.valid;
        if (!sizeKnown || offset < serverSize) return FailWithStatus(status);
        m_task.fProgress = serverSize == 0 ? 1.0f : static_cast<float>(static_cast<double>(offset) / serverSize);
        return Pass::Complete;
    } else {
        return FailWithStatus(status);
    }

    uint64_t received = offset;
    const uint64_t base = offset;
    const DWORD startTick = GetTickCount();
    if (offset > 0 && m_total > 0) m_task.fProgress = static_cast<float>(static_cast<double>(received) / m_total);
    for (;;) {
        DWORD got = 0;
        if (!InternetReadFile(request, m_buffer.data(), kReadChunk, &got)) {
            *readError = GetLastError();
            return Pass::ReadFailed;
        }
        received += got;
        DWORD elapsed = GetTickCount() - startTick;
        if (elapsed != 0) {
            m_task.dSpeed = static_cast<double>(received - base) / 1024.0 / (elapsed / 1000.0);
            int row = m_task.nIndex;
            if (row >= 0 && g_pTaskList != nullptr) {
                g_pTaskList->SetItemSize(row, static_cast<int>(m_total >> 10));
                if (m_total > 0) m_task.fProgress = static_cast<float>(static_cast<double>(received) / m_total);
            }
        }
        if (got == 0) {
            if (expectedEnd != 0 && received < expectedEnd) {
                // The connection closed early: a failed read, never the end of the file.
                TraceLine("qen: body ended at %llu of %llu bytes", static_cast<unsigned long long>(received),
                          static_cast<unsigned long long>(expectedEnd));
                *readError = ERROR_INTERNET_CONNECTION_ABORTED;
                return Pass::ReadFailed;
            }
            m_task.dSpeed = 0.0;
            m_task.fProgress = 1.0f;
            TraceLine("tor2:下载完毕");
            return Pass::Complete;
        }
        if (!file.Append(m_buffer.data(), got)) {
            ShowDownloadError(FormatText("写入文件%s出错. 错误号:%d.", m_path.c_str(), static_cast<int>(GetLastError())));
            return Pass::Failed;
        }
        m_bWrote = true;
        if (StopRequested(m_task)) return Pass::Failed;
    }
}

}  // namespace

int InternetGetFileShowOnList(const char* szurl, const char* szfileName, std::string* filename, int,
                              UpdateTask* pupdateStruct) {
    TraceLine("qen: int InternetGetFileShowOnList(...)");
    if (pupdateStruct == nullptr) {
        ShowDownloadError("sUpdateStruct *pupdateStruct  为 NULL.");
        return -1;
    }
    std::string path;
    if (!PrepareLocalPath(szfileName, &path)) return -1;
    if (filename != nullptr) *filename = path;
    return ResumableDownload(szurl, path, *pupdateStruct).Run();
}
