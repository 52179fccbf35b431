#pragma once
// Owner of one Winsock socket: closes it once, never copies it.
#include <winsock2.h>

namespace lobbysim {

class CScopedSocket {
public:
    CScopedSocket() = default;
    explicit CScopedSocket(SOCKET s) : m_socket(s) {}
    CScopedSocket(CScopedSocket&& other) noexcept : m_socket(other.Take()) {}
    CScopedSocket& operator=(CScopedSocket&& other) noexcept {
        if (this != &other) Reset(other.Take());
        return *this;
    }
    CScopedSocket(const CScopedSocket&) = delete;
    CScopedSocket& operator=(const CScopedSocket&) = delete;
    ~CScopedSocket() { Reset(); }

    SOCKET Get() const { return m_socket; }
    bool IsValid() const { return m_socket != INVALID_SOCKET; }
    [[nodiscard]] SOCKET Take() {
        SOCKET s = m_socket;
        m_socket = INVALID_SOCKET;
        return s;
    }
    // Closing keeps the caller's WSAGetLastError, so errors can be read after cleanup.
    void Reset(SOCKET s = INVALID_SOCKET) {
        if (m_socket != INVALID_SOCKET) {
            int nError = WSAGetLastError();
            closesocket(m_socket);
            WSASetLastError(nError);
        }
        m_socket = s;
    }

private:
    SOCKET m_socket = INVALID_SOCKET;
};

// Winsock 2.2 for the lifetime of the object.
class CWinsock {
public:
    CWinsock() {
        WSADATA data;
        m_bStarted = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    ~CWinsock() {
        if (m_bStarted) WSACleanup();
    }
    CWinsock(const CWinsock&) = delete;
    CWinsock& operator=(const CWinsock&) = delete;
    bool IsStarted() const { return m_bStarted; }

private:
    bool m_bStarted = false;
};

}  // namespace lobbysim
