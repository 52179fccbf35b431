#include "connection.h"

#include <winsock2.h>
#include <windows.h>

#include "byte_range.h"
#include "framework/scoped_handle.h"
#include "file_sender.h"
#include "request_head.h"
#include "response_head.h"
#include "server_log.h"
#include "target_path.h"
#include "text_bytes.h"
#include "validators.h"

namespace updsrv {

namespace {

constexpr int kReceiveChunk = 4096;
// A keep-alive connection that stays silent this long is closed.
constexpr DWORD kIdleTimeoutMs = 60 * 1000;

// After our last response, how long we read and drop what the client still sends, so
// unread bytes don't turn our close into a reset that destroys the response in flight.
constexpr DWORD kLingerMs = 2000;

std::string NowHttpDate() {
    SYSTEMTIME utc;
    GetSystemTime(&utc);
    return HttpDate(utc);
}

bool IsKnownMethod(const std::string& method) {
    for (const char* known : {"POST", "PUT", "DELETE", "OPTIONS", "TRACE", "CONNECT", "PATCH"}) {
        if (method == known) return true;
    }
    return false;
}

// Opens a regular file under the root for reading; a folder, a device or a missing file
// gives false with the status and detail to answer with.
bool OpenServedFile(const std::wstring& fullPath, ScopedKernelHandle& file, int& nStatus, std::string& detail) {
    DWORD nAttributes = GetFileAttributesW(fullPath.c_str());
    if (nAttributes == INVALID_FILE_ATTRIBUTES || (nAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        nStatus = 404;
        detail = "No such file.";
        return false;
    }
    file.Reset(CreateFileW(fullPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.IsValid()) {
        DWORD nError = GetLastError();
        nStatus = nError == ERROR_FILE_NOT_FOUND || nError == ERROR_PATH_NOT_FOUND ? 404 : 500;
        detail = nStatus == 404 ? "No such file." : "The file can't be opened (error " + std::to_string(nError) + ").";
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(file.Get()) != FILE_TYPE_DISK || !GetFileInformationByHandle(file.Get(), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        file.Close();
        nStatus = 404;
        detail = "No such file.";
        return false;
    }
    return true;
}

}  // namespace

void CConnection::Run() {
    std::string buffer;
    for (;;) {
        size_t nEnd;
        while ((nEnd = FindHeadEnd(buffer)) == std::string::npos && buffer.size() <= kMaxHeadBytes) {
            char chunk[kReceiveChunk];
            int n = m_io.Receive(chunk, sizeof chunk, kIdleTimeoutMs);
            if (n <= 0) return;  // the client closed or went idle, or we stop
            buffer.append(chunk, n);
        }
        if (nEnd == std::string::npos || nEnd > kMaxHeadBytes) {
            m_strLogMethod = "-";
            m_strLogTarget = "-";
            m_strLogRange.clear();
            AnswerError(431, "The request head is longer than " + std::to_string(kMaxHeadBytes) + " bytes.", false,
                        false);
            CloseGracefully();
            return;
        }
        const std::string head = buffer.substr(0, nEnd);
        buffer.erase(0, nEnd);
        if (!Answer(head)) {
            CloseGracefully();
            return;
        }
    }
}

bool CConnection::Answer(const std::string& headText) {
    m_strLogMethod = "-";
    m_strLogTarget = "-";
    m_strLogRange.clear();

    RequestHead request;
    std::string error;
    int nParseStatus = ParseRequestHead(headText, request, error);
    if (nParseStatus != 0) return AnswerError(nParseStatus, error, false, false);
    m_strLogMethod = Printable(request.strMethod);
    m_strLogTarget = Printable(request.strTarget);

    bool bHasBody = false;
    if (!ReadBodyLength(request, bHasBody, error)) return AnswerError(400, error, false, false);
    const bool bHead = request.strMethod == "HEAD";
    if (request.strMethod != "GET" && !bHead) {
        // The connection closes: we don't read request bodies, so we'd lose our place.
        if (IsKnownMethod(request.strMethod))
            return AnswerError(405, "Only GET and HEAD are served.", false, false, true);
        return AnswerError(501, "Only GET and HEAD are served.", false, false);
    }
    const bool bKeepAlive = WantsKeepAlive(request) && !bHasBody;

    std::wstring relative;
    if (!TargetToRelativePath(request.strTarget, relative, error)) return AnswerError(400, error, bKeepAlive, bHead);
    if (relative.empty()) return AnswerError(404, "Folders are not listed.", bKeepAlive, bHead);

    ScopedKernelHandle file;
    int nStatus = 0;
    std::string detail;
    if (!OpenServedFile(m_settings.strRoot + L"\\" + relative, file, nStatus, detail))
        return AnswerError(nStatus, detail, bKeepAlive, bHead);
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.Get(), &size))
        return AnswerError(500, "The file size can't be read (error " + std::to_string(GetLastError()) + ").",
                           bKeepAlive, bHead);
    const uint64_t nSize = static_cast<uint64_t>(size.QuadPart);
    FILETIME written = {};
    GetFileTime(file.Get(), nullptr, nullptr, &written);
    const std::string strETag = EntityTag(nSize, written);
    const std::string strLastModified = LastModified(written);

    // A repeated Range, or an If-Range naming another version of the file, means: whole file.
    const std::string* range = request.Count("range") == 1 ? request.Find("range") : nullptr;
    if (range) m_strLogRange = Printable(*range);
    if (!IfRangeHolds(request.Find("if-range"), strETag, strLastModified)) range = nullptr;
    const RangePlan plan = PlanRange(range, nSize);

    ResponseHead response;
    response.bKeepAlive = bKeepAlive;
    response.strETag = strETag;
    response.strLastModified = strLastModified;
    if (plan.kind == RangePlan::Unsatisfiable) {
        response.nStatus = 416;
        response.strContentRange = UnsatisfiedRange(nSize);
        std::string text = FormatResponseHead(response, NowHttpDate());
        bool bSent = m_io.SendAll(text.data(), text.size());
        Log(416, 0, 0, bSent);
        return bSent && bKeepAlive;
    }
    response.nStatus = plan.kind == RangePlan::Slice ? 206 : 200;
    response.nContentLength = plan.nLength;
    response.strContentType = ContentTypeFor(relative);
    if (plan.kind == RangePlan::Slice) response.strContentRange = ContentRange(plan.nFirst, plan.nLength, nSize);
    const std::string text = FormatResponseHead(response, NowHttpDate());

    uint64_t nSent = 0;
    bool bComplete;
    if (bHead) {
        bComplete = m_io.SendAll(text.data(), text.size());
        Log(response.nStatus, 0, 0, bComplete);
    } else {
        bComplete = SendHeadAndSlice(m_io, text, file.Get(), plan.nFirst, plan.nLength, nSent, m_settings.nRateKiB);
        Log(response.nStatus, nSent, plan.nLength, bComplete);
    }
    return bComplete && bKeepAlive;
}

bool CConnection::AnswerError(int nStatus, const std::string& detail, bool bKeepAlive, bool bHead, bool bAllow) {
    const std::string page = ErrorPage(nStatus, detail);
    ResponseHead response;
    response.nStatus = nStatus;
    response.nContentLength = page.size();
    response.strContentType = "text/html";
    response.bKeepAlive = bKeepAlive;
    response.bAllowGetHead = bAllow;
    std::string text = FormatResponseHead(response, NowHttpDate());
    if (!bHead) text += page;
    bool bSent = m_io.SendAll(text.data(), text.size());
    uint64_t nBody = bHead ? 0 : page.size();
    Log(nStatus, bSent ? nBody : 0, nBody, bSent);
    return bSent && bKeepAlive;
}

void CConnection::Log(int nStatus, uint64_t nSent, uint64_t nPlanned, bool bComplete) {
    if (m_settings.bQuiet) return;
    std::string line = m_strLogMethod + " " + m_strLogTarget + " " + std::to_string(nStatus);
    if (!m_strLogRange.empty()) line += " " + m_strLogRange;
    line += " -> " + std::to_string(nSent) + " bytes";
    if (!bComplete) line += " of " + std::to_string(nPlanned) + " (connection ended early)";
    SayRequest(line);
}

void CConnection::CloseGracefully() {
    shutdown(m_io.Get(), SD_SEND);
    const ULONGLONG nUntil = GetTickCount64() + kLingerMs;
    char chunk[kReceiveChunk];
    for (ULONGLONG nNow = GetTickCount64(); nNow < nUntil; nNow = GetTickCount64()) {
        if (m_io.Receive(chunk, sizeof chunk, static_cast<DWORD>(nUntil - nNow)) <= 0) return;
    }
}

}  // namespace updsrv
