// The plain download: a HEAD for the file's size, then one GET (redirects followed,
// time-limited) into a side file, which replaces the local file only when the server said 2xx
// and the whole body came: as long as the size either answer announced, and not a byte more.
#include <windows.h>
#include <wininet.h>

#include "download/body_reader.h"
#include "download/download_messages.h"
#include "download/download_support.h"
#include "download/http_headers.h"
#include "download/internet_download.h"
#include "download/local_file.h"
#include "download/side_file.h"
#include "framework/gbk_text.h"
#include "framework/http_request.h"
#include "framework/internet_handle.h"
#include "framework/trace.h"

namespace {
const char kAcceptHeaders[] = "Accept: */*\r\n";

// A partial body is worth nothing here: the side file goes.
int FailAndDelete(LocalFile& file, const std::string& path) {
    file.Close();
    RemoveSideFiles(path);
    return -1;
}

// A write failed (now or before, on the file's own thread): the message names its error.
int FailWrite(LocalFile& file, const std::string& path) {
    DWORD error = GetLastError();
    FailAndDelete(file, path);
    ShowDownloadError(FormatText("写入文件%s出错. 错误号:%d.", SidePath(path).c_str(), static_cast<int>(error)));
    return -1;
}

int FetchOnce(const char* szurl, const char* szfileName, const std::string& path, UpdateTask& task,
              const std::string& sha256, uint64_t maxBytes);

bool IsSuccess(int status) { return status >= 200 && status <= 299; }

int RefuseTooLarge(const char* url, uint64_t maxBytes) {
    ShowTooLarge(url, maxBytes);
    return -1;
}

// An answer that can't be the file's (a size beyond belief, a body past its announced end) is
// a failed read, as for a broken connection.
int FailedRead(const char* url, uint64_t size) {
    TraceLine("qen: %s does not keep to %llu bytes", url, static_cast<unsigned long long>(size));
    ShowNetworkUnstable(ERROR_HTTP_INVALID_SERVER_RESPONSE);
    return -1;
}
}  // namespace

int InternetGetFileOnly(const char* szurl, const char* szfileName, std::string* filename, int index,
                        UpdateTask* pupdateStruct, const std::string& sha256, uint64_t maxBytes) {
    TraceLine("tor1:InternetGetFileOnly   szurl =%s, szfileName=%s,filename =%s,index =%d", szurl,
              szfileName ? szfileName : "", filename ? filename->c_str() : "", index);
    if (pupdateStruct == nullptr) {
        ShowDownloadError("sUpdateStruct *pupdateStruct  为 NULL.");
        return -1;
    }
    std::string path;
    if (!PrepareLocalPath(szfileName, &path)) return -1;
    if (filename != nullptr) *filename = path;
    int result = FetchOnce(szurl, szfileName, path, *pupdateStruct, sha256, maxBytes);
    // The temporary file an update file was to land in is of no use after a failure.
    if (result != 0 && szfileName == nullptr) ::DeleteFileW(GbkToWide(path).c_str());
    return result;
}

namespace {
int FetchOnce(const char* szurl, const char* szfileName, const std::string& path, UpdateTask& task,
              const std::string& sha256, uint64_t maxBytes) {
    DWORD flags = 0;
    AskConnectedState(&flags);
    TraceLine("qen: int InternetGetFileOnly(...)---InternetGetConnectedState(..)");
    DWORD access = INTERNET_OPEN_TYPE_PRECONFIG;
    if (flags & INTERNET_CONNECTION_PROXY) {
        TraceLine("qen: int InternetGetFileOnly(...)---INTERNET_CONNECTION_PROXY");
    } else {
        TraceLine("qen: int InternetGetFileOnly(...)---!(dwFlags & INTERNET_CONNECTION_PROXY)");
        access = INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY;
    }
    ScopedInternetHandle session(InternetOpenA(UserAgent().c_str(), access, nullptr, nullptr, 0));
    if (!session.IsValid()) {
        ShowDownloadError(FormatText("InternetOpen错误. %d.", static_cast<int>(GetLastError())));
        return -1;
    }
    TraceLine("qen: int InternetGetFileOnly(...)---InternetOpen(..)");
    TraceLine("qen: szurl = %s", szurl);

    HttpRequestOptions options;
    options.headers = kAcceptHeaders;
    options.flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE;
    const auto stop = [&task] { return StopRequested(task); };
    DWORD openError = 0;
    // The size first: the body's own headers may not tell it (no Content-Length), and a file
    // that can't fit is refused before a byte of it comes. A server that refuses HEAD (404,
    // 405, ...) tells no size; its body is taken to the close.
    uint64_t announced = 0;
    {
        HttpRequestOptions sizeOptions = options;
        sizeOptions.verb = "HEAD";
        HttpRequest sizeRequest;
        SendOutcome outcome = SendHttpRequest(session.Get(), szurl, sizeOptions, stop, &sizeRequest, &openError);
        if (outcome != SendOutcome::Sent) {
            session.Close();
            ShowSendFailure(outcome, openError, szurl);
            return -1;
        }
        if (!IsSuccess(sizeRequest.status) || !QueryContentLength(sizeRequest.request.Get(), &announced)) {
            announced = 0;
        }
    }
    if (announced > kLargestDownload) return FailedRead(szurl, announced);
    const std::string shownName = szfileName != nullptr ? path : std::string(szurl);
    if (announced > 0 && !RoomToDownload(path, announced, shownName)) {
        RemoveSideFiles(path);  // nothing of a download that can't fit stays behind
        return -1;
    }

    HttpRequest sent;
    SendOutcome outcome = SendHttpRequest(session.Get(), szurl, options, stop, &sent, &openError);
    if (outcome != SendOutcome::Sent) {
        session.Close();
        ShowSendFailure(outcome, openError, szurl);
        return -1;
    }
    HINTERNET url = sent.request.Get();
    TraceLine("qen: int InternetGetFileOnly(...)---InternetOpenUrl(..)");
    int status = QueryStatusCode(url);
    if (szfileName != nullptr && (status < 200 || status > 299)) {
        // An error page never replaces an installed file. The update files (temporary files)
        // take any body: their reader tells a missing or broken list with its own messages.
        ShowDownloadError(FormatText("下载文件出错.\n网址:%s.\n服务器返回:%d.", szurl, status));
        return -1;
    }
    uint64_t length = 0;
    bool lengthKnown = QueryContentLength(url, &length);
    if (maxBytes != 0 && lengthKnown && length > maxBytes) return RefuseTooLarge(szurl, maxBytes);
    // The size request's answer counts for a body of the file only, never for an error page.
    if (IsSuccess(status) && announced > length) {
        length = announced;
        lengthKnown = true;
    }
    if (lengthKnown && length > kLargestDownload) return FailedRead(szurl, length);
    // Only the body told the size: the room for it is checked now, before a byte is written.
    if (lengthKnown && length > announced && !RoomToDownload(path, length, shownName)) {
        RemoveSideFiles(path);
        return -1;
    }

    LocalFile file;
    if (!file.OpenAt(SidePath(path), 0)) return -1;
    TraceLine("qen: int InternetGetFileOnly(...)---file.Open(..)");

    BodyReader reader;
    uint64_t written = 0;
    for (;;) {
        if (StopRequested(task)) return FailAndDelete(file, path);
        DWORD got = 0;
        if (!reader.Read(url, &got)) {
            DWORD error = GetLastError();
            FailAndDelete(file, path);
            ShowNetworkUnstable(error);
            return -1;
        }
        if (got == 0) {
            if (lengthKnown && written < length) {
                // The connection closed before the announced end: never a complete file.
                TraceLine("qen: body of %s ended at %llu of %llu bytes", szurl, static_cast<unsigned long long>(written),
                          static_cast<unsigned long long>(length));
                FailAndDelete(file, path);
                ShowNetworkUnstable(ERROR_INTERNET_CONNECTION_ABORTED);
                return -1;
            }
            if (!file.Close()) return FailWrite(file, path);
            return ReplaceWithSideFile(path, sha256) ? 0 : -1;
        }
        if (lengthKnown && got > length - written) {
            FailAndDelete(file, path);
            return FailedRead(szurl, length);
        }
        if (!file.Append(reader, got)) return FailWrite(file, path);
        written += got;
        if (maxBytes != 0 && written > maxBytes) {
            FailAndDelete(file, path);
            return RefuseTooLarge(szurl, maxBytes);
        }
    }
}
}  // namespace
