#include "download/package_fetch.h"

#include <algorithm>

#include "download/download_messages.h"
#include "download/http_headers.h"
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

}  // namespace

StreamOutcome PackageFetch::RunTries() {
    int nAttempts = 0;
    for (;;) {
        DWORD flags = 0;
        while (!AskConnectedState(&flags)) {
            if (!WaitUnlessStopped(m_task, m_pacer.NextDelayMs())) return StreamOutcome::Stopped;
        }
        ScopedInternetHandle session(
            InternetOpenA(UserAgent().c_str(), SessionAccessType(flags), nullptr, nullptr, 0));
        if (!session.IsValid()) {
            ShowDownloadError(FormatText("InternetOpen错误. %d.", static_cast<int>(GetLastError())));
            return StreamOutcome::Failed;
        }
        m_bWrote = false;
        m_thisTry = 0;
        DWORD readError = 0;
        switch (OneConnection(session.Get(), &readError)) {
            case Pass::Complete: ShowDone(); return StreamOutcome::Complete;
            case Pass::Failed: return StreamOutcome::Failed;
            case Pass::Stopped: return StreamOutcome::Stopped;
            case Pass::NotFound: return StreamOutcome::NotFound;
            case Pass::AskAgain: continue;
            case Pass::ReadFailed: break;
        }
        if (nAttempts == kFailuresBeforeUnstableBox) ShowNetworkUnstable(readError);
        ++nAttempts;
        // Also after the box: a stop asked for while it was open ends the fetch now.
        if (StopRequested(m_task)) return StreamOutcome::Stopped;
        if (!CountTry()) return StreamOutcome::Failed;
        // The entry under way is half written: the receiver takes up again at its start.
        TakeUpAt(m_restart());
        if (m_bWrote) m_pacer.Reset();
        if (!WaitUnlessStopped(m_task, m_pacer.NextDelayMs())) return StreamOutcome::Stopped;
    }
}

// Complete when the request has its answer. A server that can't be reached or stays silent is
// a failed read, tried again; a URL that can't be fetched at all, a redirect loop and an
// untrusted certificate end the fetch with a message.
PackageFetch::Pass PackageFetch::Send(HINTERNET session, const std::string& rangeHeader, HttpRequest* sent,
                                      DWORD* readError) {
    HttpRequestOptions options;
    options.headers = "Range: " + rangeHeader + "\r\n";
    // Only the file the earlier bytes came from may go on where they stopped.
    if (!m_validator.empty()) options.headers += "If-Range: " + m_validator + "\r\n";
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
PackageFetch::Pass PackageFetch::PackageChanged() {
    TraceLine("qen: %s is no longer the package its manifest describes", m_url.c_str());
    ShowDownloadError(FormatText("校验文件%s失败.", m_url.c_str()));
    return Pass::Failed;
}

PackageFetch::Pass PackageFetch::UnexpectedStatus(int status) {
    ShowDownloadError(FormatText("下载文件出错.\n网址:%s.\n服务器返回:%d.", m_url.c_str(), status));
    return Pass::Failed;
}

PackageFetch::Pass PackageFetch::WrongOffset() {
    ShowDownloadError(FormatText("下载文件出错.\n网址:%s.\n服务器返回的数据与请求的位置不符.", m_url.c_str()));
    return Pass::Failed;
}

bool PackageFetch::SameValidator(HINTERNET request) {
    const std::string validator = QueryValidator(request);
    const bool same = m_validator.empty() || validator == m_validator;
    if (!same) TraceLine("qen: %s changed on the server", m_url.c_str());
    m_validator = validator;
    return same;
}

bool PackageFetch::HandOn(uint64_t at, const char* data, size_t size) {
    if (!m_sink(at, data, size)) return false;
    m_fetched += size;
    m_thisTry += size;
    m_reached = std::max(m_reached, at + size);
    m_bWrote = true;
    return true;
}

void PackageFetch::ShowProgress(DWORD startTick) {
    const DWORD elapsed = GetTickCount() - startTick;
    ShowProgressAt(elapsed != 0 ? static_cast<double>(m_thisTry) / 1024.0 / (elapsed / 1000.0) : m_task.dSpeed.load());
}

void PackageFetch::ShowProgressAt(double speedKb) {
    m_task.dSpeed = speedKb;
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

void PackageFetch::ShowDone() {
    m_task.dSpeed = 0.0;
    m_task.fProgress = 1.0f;
}

// Counts a try that ended short of the package's end. False, after the message, once too many
// in a row got no further than the best one before.
bool PackageFetch::CountTry() {
    if (m_reached > m_best) {
        m_best = m_reached;
        m_fruitless = 0;
        return true;
    }
    if (++m_fruitless < kFruitlessTriesLimit) return true;
    ShowDownloadError(FormatText("下载文件%s失败,已重试%d次.", m_url.c_str(), m_fruitless));
    return false;
}

PackageFetch::Pass PackageFetch::NextPiece(HINTERNET request, DWORD* got, DWORD* readError) {
    if (StopRequested(m_task)) return Pass::Stopped;
    *got = 0;
    if (!m_reader.Read(request, got)) {
        *readError = GetLastError();
        return Pass::ReadFailed;
    }
    return Pass::Complete;
}
