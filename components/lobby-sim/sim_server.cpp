#include "sim_server.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "record_describe.h"
#include "framework/scoped_handle.h"
#include "lobby/record_stream.h"
#include "framework/winsock_session.h"
#include "send_plan.h"

namespace lobbysim {

void SayLine(const std::string& utf8) {
    std::string line = "lobby-sim: " + utf8 + "\n";
    fwrite(line.data(), 1, line.size(), stdout);
    fflush(stdout);
}

void SayError(const std::string& utf8) {
    std::string line = "lobby-sim: error: " + utf8 + "\n";
    fwrite(line.data(), 1, line.size(), stderr);
    fflush(stderr);
}

namespace {

std::string WsaError(const char* what) {
    return std::string(what) + " failed (WSA error " + std::to_string(WSAGetLastError()) + ")";
}

// True when the socket is readable before `nWaitMs` passes.
bool WaitReadable(SOCKET s, ULONGLONG nWaitMs, bool& bError) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval tv;
    tv.tv_sec = static_cast<long>(nWaitMs / 1000);
    tv.tv_usec = static_cast<long>(nWaitMs % 1000) * 1000;
    int n = select(0, &set, nullptr, nullptr, &tv);
    bError = n == SOCKET_ERROR;
    return n > 0;
}

bool SendAll(SOCKET s, const std::string& bytes) {
    size_t nDone = 0;
    while (nDone < bytes.size()) {
        int n = send(s, bytes.data() + nDone, static_cast<int>(bytes.size() - nDone), 0);
        if (n == SOCKET_ERROR) return false;
        nDone += n;
    }
    return true;
}

struct FileCloser {
    void operator()(HANDLE h) const { CloseHandle(h); }
};

bool DumpRecord(const std::wstring& dir, int nIndex, const sUpdateStruct& record) {
    wchar_t name[32];
    swprintf(name, 32, L"\\recv-%03d.bin", nIndex);
    std::wstring path = dir + name;
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    std::unique_ptr<void, FileCloser> owner(h);
    DWORD nWritten = 0;
    return WriteFile(h, &record, sizeof record, &nWritten, nullptr) && nWritten == sizeof record;
}

class CSimSession {
public:
    CSimSession(const SimOptions& options, SOCKET client)
        : m_options(options), m_client(client), m_vecPlan(BuildSendPlan(options)) {}

    int Run(ULONGLONG tDeadline);

private:
    bool SendNextPiece();
    // Returns kExitOk to go on, or the status to exit with.
    int HandleReceived(const char* data, size_t size);
    int OnDisconnect();
    // The condition is met: 0, unless the updater sent something it should not have.
    int SuccessStatus() const;
    int Exit(int nStatus);

    const SimOptions& m_options;
    SOCKET m_client;
    std::vector<SendPiece> m_vecPlan;
    size_t m_nNextPiece = 0;
    ULONGLONG m_tConnected = 0;
    ULONGLONG m_tAllSent = 0;
    RecordAssembler m_assembler;
    int m_nReceived = 0;
    int m_nReports = 0;
    int m_nFaulty = 0;
    bool m_bConditionMet = false;
};

int CSimSession::Run(ULONGLONG tDeadline) {
    m_tConnected = GetTickCount64();
    if (m_vecPlan.empty()) m_tAllSent = m_tConnected;
    for (;;) {
        ULONGLONG now = GetTickCount64();
        if (m_bConditionMet) {
            SayLine("got " + DescribeExitCondition(m_options) + ", exiting");
            return Exit(SuccessStatus());
        }
        const bool bAllSent = m_nNextPiece == m_vecPlan.size();
        if (m_options.exitOn == ExitOn::Sent && bAllSent &&
            now >= m_tAllSent + static_cast<ULONGLONG>(m_options.nLingerMs)) {
            SayLine("everything sent and " + std::to_string(m_options.nLingerMs) + " ms passed, exiting");
            return Exit(SuccessStatus());
        }
        if (now >= tDeadline) {
            SayLine("timed out after " + std::to_string(m_options.nTimeoutS) + " s waiting for " +
                    DescribeExitCondition(m_options));
            return Exit(kExitTimeout);
        }
        ULONGLONG tWake = tDeadline;
        if (!bAllSent) {
            ULONGLONG tDue = m_tConnected + m_vecPlan[m_nNextPiece].nAtMs;
            if (now >= tDue) {
                if (!SendNextPiece()) return OnDisconnect();
                continue;
            }
            tWake = std::min(tWake, tDue);
        } else if (m_options.exitOn == ExitOn::Sent) {
            tWake = std::min(tWake, m_tAllSent + m_options.nLingerMs);
        }

        bool bError = false;
        if (!WaitReadable(m_client, tWake - now, bError)) {
            if (bError) {
                SayError(WsaError("select"));
                return Exit(kExitError);
            }
            continue;
        }
        char buffer[16384];
        int n = recv(m_client, buffer, sizeof buffer, 0);
        if (n <= 0) {
            if (n == SOCKET_ERROR) SayLine(WsaError("recv"));
            return OnDisconnect();
        }
        int nStatus = HandleReceived(buffer, static_cast<size_t>(n));
        if (nStatus != kExitOk) return Exit(nStatus);
    }
}

bool CSimSession::SendNextPiece() {
    const SendPiece& piece = m_vecPlan[m_nNextPiece++];
    if (!SendAll(m_client, piece.bytes)) {
        SayLine(WsaError("send"));
        return false;
    }
    for (int32_t nGameID : piece.vecCompleted)
        SayLine("sent request for game " + std::to_string(nGameID) + " (" + std::to_string(kRecordSize) +
                " bytes)");
    if (m_nNextPiece == m_vecPlan.size()) m_tAllSent = GetTickCount64();
    return true;
}

int CSimSession::HandleReceived(const char* data, size_t size) {
    std::vector<sUpdateStruct> records;
    m_assembler.Feed(data, size, [&](const char* bytes, int) {
        sUpdateStruct record;
        std::memcpy(&record, bytes, kRecordSize);
        records.push_back(record);
    });
    for (const sUpdateStruct& record : records) {
        ++m_nReceived;
        RecordVerdict verdict = DescribeRecord(record, m_options.vecRequests);
        SayLine(verdict.strLine);
        if (verdict.bFaulty) ++m_nFaulty;
        if (!m_options.strDumpDir.empty() && !DumpRecord(m_options.strDumpDir, m_nReceived, record)) {
            SayError("can't write record " + std::to_string(m_nReceived) + " to the dump directory (error " +
                     std::to_string(GetLastError()) + ")");
            return kExitError;
        }
        if (record.cCmd == kCmdTaskEnded) ++m_nReports;
        if ((m_options.exitOn == ExitOn::StartGameRoom && record.cCmd == kCmdStartGameRoom) ||
            (m_options.exitOn == ExitOn::Reports && m_nReports >= m_options.nReports))
            m_bConditionMet = true;
    }
    return kExitOk;
}

int CSimSession::OnDisconnect() {
    if (m_assembler.Pending() > 0)
        SayLine("partial record of " + std::to_string(m_assembler.Pending()) +
                " bytes at disconnect, dropped");
    SayLine("updater disconnected after " + std::to_string(m_nReceived) + " records");
    if (m_options.exitOn == ExitOn::Disconnect) return SuccessStatus();
    SayLine("exiting before " + DescribeExitCondition(m_options));
    return kExitDisconnected;
}

int CSimSession::SuccessStatus() const {
    if (m_nFaulty == 0) return kExitOk;
    SayLine(std::to_string(m_nFaulty) + " of " + std::to_string(m_nReceived) + " received records were faulty");
    return kExitFaultyRecord;
}

int CSimSession::Exit(int nStatus) {
    // Tell the updater we are done; its bytes still in flight are not ours to wait for.
    shutdown(m_client, SD_BOTH);
    return nStatus;
}

}  // namespace

int RunLobbySim(const SimOptions& options, int nPort) {
    const ULONGLONG tDeadline = GetTickCount64() + static_cast<ULONGLONG>(options.nTimeoutS) * 1000;
    CWinsock winsock;
    if (!winsock.IsStarted()) {
        SayError("Winsock 2.2 is not available");
        return kExitError;
    }
    if (!options.strDumpDir.empty() && !CreateDirectoryW(options.strDumpDir.c_str(), nullptr) &&
        GetLastError() != ERROR_ALREADY_EXISTS) {
        SayError("can't create the dump directory (error " + std::to_string(GetLastError()) + ")");
        return kExitError;
    }

    ScopedSocket listener(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!listener.IsValid()) {
        SayError(WsaError("socket"));
        return kExitError;
    }
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<u_short>(nPort));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listener.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == SOCKET_ERROR) {
        SayError(WsaError(("bind to 127.0.0.1:" + std::to_string(nPort)).c_str()));
        return kExitError;
    }
    if (listen(listener.Get(), 1) == SOCKET_ERROR) {
        SayError(WsaError("listen"));
        return kExitError;
    }
    SayLine("listening on 127.0.0.1:" + std::to_string(nPort));

    ULONGLONG now = GetTickCount64();
    bool bError = false;
    if (now >= tDeadline || !WaitReadable(listener.Get(), tDeadline - now, bError)) {
        if (bError) {
            SayError(WsaError("select"));
            return kExitError;
        }
        SayLine("timed out after " + std::to_string(options.nTimeoutS) + " s: no updater connected");
        return kExitTimeout;
    }
    ScopedSocket client(accept(listener.Get(), nullptr, nullptr));
    if (!client.IsValid()) {
        SayError(WsaError("accept"));
        return kExitError;
    }
    listener.Close();  // one updater only
    // Without this, Nagle would glue the pieces of a --chunk delivery back together.
    BOOL bNoDelay = TRUE;
    setsockopt(client.Get(), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&bNoDelay),
               sizeof bNoDelay);
    SayLine("updater connected");
    return CSimSession(options, client.Get()).Run(tDeadline);
}

}  // namespace lobbysim
