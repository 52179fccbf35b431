#include "socket_io.h"

#include <windows.h>

#include <algorithm>

namespace updsrv {

namespace {

// A client that takes nothing for this long is taken to be gone.
constexpr unsigned long kStallMs = 120 * 1000;
// How often a wait looks whether the server stops.
constexpr unsigned long kStopPollMs = 200;
// Larger sends only return sooner with part of the bytes taken.
constexpr size_t kMaxSend = 1u << 30;

}  // namespace

CSocketIo::CSocketIo(SOCKET s, const std::atomic<bool>* pbStopping) : m_socket(s), m_pbStopping(pbStopping) {
    u_long nNonBlocking = 1;
    ioctlsocket(m_socket, FIONBIO, &nNonBlocking);
}

bool CSocketIo::SendAll(const char* bytes, size_t nSize) {
    while (nSize > 0) {
        int n = send(m_socket, bytes, static_cast<int>(std::min(nSize, kMaxSend)), 0);
        if (n == SOCKET_ERROR) {
            if (WSAGetLastError() != WSAEWOULDBLOCK || !WaitFor(true, kStallMs)) return false;
            continue;
        }
        bytes += n;
        nSize -= static_cast<size_t>(n);
    }
    return true;
}

int CSocketIo::Receive(char* buffer, int nSize, unsigned long nWaitMs) {
    const ULONGLONG nUntil = GetTickCount64() + nWaitMs;
    for (;;) {
        int n = recv(m_socket, buffer, nSize, 0);
        if (n != SOCKET_ERROR) return n;
        if (WSAGetLastError() != WSAEWOULDBLOCK) return -1;
        const ULONGLONG nNow = GetTickCount64();
        if (nNow >= nUntil || !WaitFor(false, static_cast<unsigned long>(nUntil - nNow))) return -1;
    }
}

bool CSocketIo::WaitFor(bool bWrite, unsigned long nWaitMs) {
    const ULONGLONG nUntil = GetTickCount64() + nWaitMs;
    for (;;) {
        if (m_pbStopping && *m_pbStopping) return false;
        const ULONGLONG nNow = GetTickCount64();
        if (nNow >= nUntil) return false;
        const unsigned long nSlice = static_cast<unsigned long>(std::min<ULONGLONG>(nUntil - nNow, kStopPollMs));
        fd_set set;
        FD_ZERO(&set);
        FD_SET(m_socket, &set);
        timeval wait = {0, static_cast<long>(nSlice) * 1000};
        int n = select(0, bWrite ? nullptr : &set, bWrite ? &set : nullptr, nullptr, &wait);
        if (n == SOCKET_ERROR) return false;
        if (n > 0) return true;
    }
}

}  // namespace updsrv
