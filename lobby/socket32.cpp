#include "lobby/socket32.h"


#include <cstring>

#include "framework/trace.h"

namespace {
constexpr int kReceiveBufferSize = 10240;
constexpr DWORD kRetryPauseMs = 500;
constexpr int kStopped = -2;
}  // namespace

CSocket32::CSocket32() : CSocket32(LobbyCfgEngine()) {}

CSocket32::CSocket32(const CfgApi& cfg) : m_cfg(cfg), m_hStopEvent(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      m_hReceiveEvent(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return;
    m_bWinsockStarted = true;
    if (LOBYTE(data.wVersion) != 2 || HIBYTE(data.wVersion) != 2) {
        // The application has started the sockets layer itself; carry on with that.
        WSACleanup();
        m_bWinsockStarted = false;
        return;
    }
    ReadPort();
}

CSocket32::~CSocket32() {
    Shutdown();
    if (m_bWinsockStarted) WSACleanup();
}

bool CSocket32::ReadPort() { return ReadLobbyPort(m_cfg, &m_nPort); }

int CSocket32::Connect() {
    m_socket.Reset(socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address;
    std::memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(m_nPort));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    TraceLine("lumo456: update SetClientSimpleSocket port no  %d", m_nPort);
    // A refused connection is not an error here: it shows up as failed receives.
    connect(m_socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
    return 0;
}

bool CSocket32::SetClientSimpleSocket(ISimpleSocket* callback) {
    if (m_hThread.IsValid()) return true;  // the link is started once
    m_pCallback = callback;
    Connect();
    m_bRunning = true;
    m_hThread.Reset(::CreateThread(nullptr, 0, ReceiveThreadProc, this, 0, nullptr));
    if (!m_hThread.IsValid()) {
        TraceLine("qen: CSocket32 receive thread could not be created err = %lu", ::GetLastError());
    }
    return true;
}

void CSocket32::Shutdown() {
    m_bRunning = false;
    if (m_hStopEvent.IsValid()) ::SetEvent(m_hStopEvent.Get());
    if (m_hThread.IsValid()) {
        // The stop event ends a pending receive at once; the socket outlives the thread.
        ::WaitForSingleObject(m_hThread.Get(), INFINITE);
        m_hThread.Close();
    }
    m_socket.Close();
}

DWORD WINAPI CSocket32::ReceiveThreadProc(void* param) {
    if (param == nullptr) return 0;
    try {
        return static_cast<DWORD>(static_cast<CSocket32*>(param)->ReceiveThread());
    } catch (...) {
        TraceLine("qen: CSocket32 receive thread ended by an exception");
        return static_cast<DWORD>(-1);
    }
}

void CSocket32::PauseAfterError() {
    if (m_hStopEvent.IsValid()) {
        ::WaitForSingleObject(m_hStopEvent.Get(), kRetryPauseMs);
    } else {
        ::Sleep(kRetryPauseMs);
    }
}

int CSocket32::ReceiveOnce(char* buffer, int size) {
    // An overlapped receive, so that shutdown can end the wait without closing the socket
    // under the thread's feet.
    ::ResetEvent(m_hReceiveEvent.Get());
    WSAOVERLAPPED overlapped;
    std::memset(&overlapped, 0, sizeof overlapped);
    overlapped.hEvent = m_hReceiveEvent.Get();
    WSABUF slice = {static_cast<ULONG>(size), buffer};
    DWORD received = 0;
    DWORD flags = 0;
    if (WSARecv(m_socket.Get(), &slice, 1, &received, &flags, &overlapped, nullptr) == 0) {
        return static_cast<int>(received);
    }
    if (WSAGetLastError() != WSA_IO_PENDING) return SOCKET_ERROR;

    HANDLE waits[2] = {m_hReceiveEvent.Get(), m_hStopEvent.Get()};
    if (::WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
        ::CancelIoEx(reinterpret_cast<HANDLE>(m_socket.Get()), &overlapped);
        WSAGetOverlappedResult(m_socket.Get(), &overlapped, &received, TRUE, &flags);
        return kStopped;
    }
    if (!WSAGetOverlappedResult(m_socket.Get(), &overlapped, &received, FALSE, &flags)) return SOCKET_ERROR;
    return static_cast<int>(received);
}

int CSocket32::ReceiveThread() {
    char buffer[kReceiveBufferSize];
    while (m_bRunning) {
        std::memset(buffer, 0, sizeof buffer);
        int received = ReceiveOnce(buffer, sizeof buffer);
        if (received == kStopped) break;
        if (received <= 0) {
            TraceLine("qen: SimpleSocket->Receive(..) 错误，可能断线.0 err = %d", WSAGetLastError());
            if (m_assembler.Pending() > 0) {
                TraceLine("qen: link ended inside a record, %u bytes dropped",
                          static_cast<unsigned>(m_assembler.Pending()));
                m_assembler.Reset();
            }
            PauseAfterError();
            continue;
        }
        m_assembler.Feed(buffer, static_cast<size_t>(received), [this](const char* record, int length) {
            if (m_pCallback != nullptr && m_bRunning) m_pCallback->OnReceive(record, length);
        });
    }
    return 0;
}

bool SendRecord(SOCKET socket, const sUpdateStruct& record) {
    const char* data = reinterpret_cast<const char*>(&record);
    int left = kRecordSize;
    while (left > 0) {
        int sent = send(socket, data, left, 0);
        if (sent == SOCKET_ERROR || sent == 0) {
            TraceLine("qen: send to lobby failed, cmd %d game %d, %d of %d bytes unsent, err = %d", record.cCmd,
                      record.nGameID, left, kRecordSize, WSAGetLastError());
            return false;
        }
        data += sent;
        left -= sent;
    }
    return true;
}
