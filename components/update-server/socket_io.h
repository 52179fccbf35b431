#pragma once
// Sends and receives on a client socket that the server can interrupt when it stops.
// Under Wine neither shutdown nor closesocket from another thread wakes a blocked send or
// recv, so the socket is non-blocking and every wait polls the stop flag.
#include <winsock2.h>

#include <atomic>
#include <cstddef>

namespace updsrv {

class CSocketIo {
public:
    // Makes `s` non-blocking; `pbStopping` may be null (never stops).
    CSocketIo(SOCKET s, const std::atomic<bool>* pbStopping);

    // Sends all bytes; false when the client is gone, takes nothing for kStallMs, or the
    // server stops.
    bool SendAll(const char* bytes, size_t nSize);
    // Up to nSize bytes as soon as any arrive: >0 bytes, 0 when the client closed, -1 on an
    // error, a stop, or when nothing arrives for `nWaitMs`.
    int Receive(char* buffer, int nSize, unsigned long nWaitMs);
    SOCKET Get() const { return m_socket; }
    bool Stopping() const { return m_pbStopping != nullptr && *m_pbStopping; }

private:
    // Waits until the socket is readable or writable; false on a stop, an error or time-out.
    bool WaitFor(bool bWrite, unsigned long nWaitMs);

    SOCKET m_socket;
    const std::atomic<bool>* m_pbStopping;
};

}  // namespace updsrv
