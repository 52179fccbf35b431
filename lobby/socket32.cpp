#include "lobby/socket32.h"

#include <cstring>

#include "framework/trace.h"

namespace {
constexpr int kReceiveBufferSize = 10240;
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

SOCKET CSocket32::GetSocket() const {
    std::lock_guard<std::mutex> lock(m_sendMutex);
    return m_socket.Get();
}

bool CSocket32::Connect() {
    ScopedSocket candidate(socket(AF_INET, SOCK_STREAM, 0));
    if (!candidate.IsValid()) return false;
    sockaddr_in address;
    std::memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(m_nPort));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // Not blocking while it connects: a refused connection can take Windows a second or two
    // to report, and the next attempt should not wait for that.
    u_long nonBlocking = 1;
    ioctlsocket(candidate.Get(), FIONBIO, &nonBlocking);
    if (connect(candidate.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        if (WSAGetLastError() != WSAEWOULDBLOCK) return false;
        fd_set writable;
        fd_set failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(candidate.Get(), &writable);
        FD_SET(candidate.Get(), &failed);
        timeval wait = {0, static_cast<long>(kConnectWaitMs * 1000)};
        if (select(0, nullptr, &writable, &failed, &wait) != 1 || !FD_ISSET(candidate.Get(), &writable)) {
            int error = WSAETIMEDOUT;
            int size = sizeof error;
            if (FD_ISSET(candidate.Get(), &failed))
                getsockopt(candidate.Get(), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size);
            WSASetLastError(error);
            return false;
        }
    }
    u_long blocking = 0;
    ioctlsocket(candidate.Get(), FIONBIO, &blocking);
    std::lock_guard<std::mutex> lock(m_sendMutex);
    m_socket = std::move(candidate);
    m_bConnected = true;
    FlushQueueLocked();
    return true;
}

void CSocket32::Disconnect() {
    std::lock_guard<std::mutex> lock(m_sendMutex);
    m_bConnected = false;
    m_socket.Close();
}

bool CSocket32::SetClientSimpleSocket(ISimpleSocket* callback) {
    if (m_hThread.IsValid()) return true;  // the link is started once
    m_pCallback = callback;
    TraceLine("lumo456: update SetClientSimpleSocket port no  %d", m_nPort);
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
        // The stop event ends a pending receive or pause at once; the socket outlives the thread.
        ::WaitForSingleObject(m_hThread.Get(), INFINITE);
        m_hThread.Close();
    }
    std::lock_guard<std::mutex> lock(m_sendMutex);
    m_bConnected = false;
    m_socket.Close();
    if (!m_queue.empty()) {
        TraceLine("qen: %u records for the lobby never sent, the link stayed down",
                  static_cast<unsigned>(m_queue.size()));
        m_queue.clear();
    }
}

bool CSocket32::Send(const sUpdateStruct& record) {
    std::lock_guard<std::mutex> lock(m_sendMutex);
    FlushQueueLocked();
    if (!m_bConnected || !m_queue.empty()) return false;
    return SendRecord(m_socket.Get(), record);
}

void CSocket32::SendOrQueue(const sUpdateStruct& record) {
    std::lock_guard<std::mutex> lock(m_sendMutex);
    m_queue.push_back(record);
    FlushQueueLocked();
    if (!m_queue.empty()) {
        TraceLine("qen: record for game %d kept until the lobby link is back, %u waiting", record.nGameID,
                  static_cast<unsigned>(m_queue.size()));
    }
}

size_t CSocket32::QueuedRecords() const {
    std::lock_guard<std::mutex> lock(m_sendMutex);
    return m_queue.size();
}

void CSocket32::FlushQueueLocked() {
    // A failed send leaves the record first in line; the receive thread sees the broken link
    // and the next connection takes it.
    while (m_bConnected && !m_queue.empty() && SendRecord(m_socket.Get(), m_queue.front())) m_queue.pop_front();
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

bool CSocket32::Pause(DWORD ms) {
    if (!m_hStopEvent.IsValid()) {
        ::Sleep(ms);
        return m_bRunning;
    }
    return ::WaitForSingleObject(m_hStopEvent.Get(), ms) == WAIT_TIMEOUT && m_bRunning;
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
    bool down = false;  // a line said the link is lost, none yet that it is back
    while (m_bRunning) {
        if (!m_bConnected) {
            if (!Connect()) {
                if (!down) {
                    TraceLine("qen: lobby not reachable at port %d, err = %d; trying again", m_nPort,
                              WSAGetLastError());
                    down = true;
                }
                if (!Pause(kReconnectPauseMs)) break;
                continue;
            }
            if (down) TraceLine("qen: lobby link back");
            down = false;
        }
        std::memset(buffer, 0, sizeof buffer);
        int received = ReceiveOnce(buffer, sizeof buffer);
        if (received == kStopped) break;
        if (received <= 0) {
            // Closed or reset by the lobby: one line, then attempts until it is back.
            TraceLine("qen: SimpleSocket->Receive(..) 错误，可能断线.0 err = %d", WSAGetLastError());
            down = true;
            Disconnect();
            if (m_assembler.Pending() > 0) {
                TraceLine("qen: link ended inside a record, %u bytes dropped",
                          static_cast<unsigned>(m_assembler.Pending()));
                m_assembler.Reset();
            }
            if (!Pause(kReconnectPauseMs)) break;
            continue;
        }
        m_assembler.Feed(buffer, static_cast<size_t>(received), ::GetTickCount(),
                         [this](const char* record, int length) {
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
