#include "download/memory_fetch.h"

#include <windows.h>
#include <wininet.h>

#include "download/body_reader.h"
#include "download/download_messages.h"
#include "download/download_support.h"
#include "download/http_headers.h"
#include "framework/http_request.h"
#include "framework/internet_handle.h"
#include "framework/trace.h"

namespace {
const char kAcceptHeaders[] = "Accept: */*\r\n";

bool RefuseTooLarge(const std::string& url, uint64_t maxBytes) {
    ShowTooLarge(url.c_str(), maxBytes);
    return false;
}

}  // namespace

bool FetchToMemory(const std::string& url, UpdateTask& task, uint64_t maxBytes, std::string* bytes, int* status) {
    TraceLine("tor1:FetchToMemory   szurl =%s", url.c_str());
    bytes->clear();
    // A package's manifest comes from the server its stream will read over several connections.
    RaiseConnectionLimits();
    DWORD connection = 0;
    AskConnectedState(&connection);
    ScopedInternetHandle session(
        ::InternetOpenA(UserAgent().c_str(), SessionAccessType(connection), nullptr, nullptr, 0));
    if (!session.IsValid()) {
        ShowDownloadError(FormatText("InternetOpen错误. %d.", static_cast<int>(::GetLastError())));
        return false;
    }
    HttpRequestOptions options;
    options.headers = kAcceptHeaders;
    options.flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE;
    HttpRequest sent;
    DWORD openError = 0;
    SendOutcome outcome = SendHttpRequest(
        session.Get(), url, options, [&task] { return StopRequested(task); }, &sent, &openError);
    if (outcome != SendOutcome::Sent) {
        session.Close();
        ShowSendFailure(outcome, openError, url.c_str());
        return false;
    }
    HINTERNET request = sent.request.Get();
    if (status != nullptr) *status = sent.status;
    uint64_t announced = 0;
    const bool lengthKnown = QueryContentLength(request, &announced);
    if (lengthKnown && announced > maxBytes) return RefuseTooLarge(url, maxBytes);

    BodyReader reader;
    for (;;) {
        if (StopRequested(task)) return false;
        DWORD got = 0;
        if (!reader.Read(request, &got)) {
            ShowNetworkUnstable(::GetLastError());
            return false;
        }
        if (got == 0) break;
        if (bytes->size() + got > maxBytes) {
            bytes->clear();
            return RefuseTooLarge(url, maxBytes);
        }
        bytes->append(reader.Data(), got);
    }
    if (lengthKnown && bytes->size() < announced) {
        // The connection closed before the announced end: never a whole file.
        TraceLine("qen: body of %s ended at %llu of %llu bytes", url.c_str(),
                  static_cast<unsigned long long>(bytes->size()), static_cast<unsigned long long>(announced));
        bytes->clear();
        ShowNetworkUnstable(ERROR_INTERNET_CONNECTION_ABORTED);
        return false;
    }
    return true;
}
