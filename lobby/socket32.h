#pragma once
// The updater's only link to the lobby: a TCP client on 127.0.0.1 with one receive thread
// that hands whole request records to an ISimpleSocket.
#include <winsock2.h>

#include <atomic>

#include "framework/scoped_handle.h"
#include "lobby/lobby_port.h"
#include "lobby/record_stream.h"
#include "lobby/simple_socket.h"

class CSocket32 {
public:
    // Starts Winsock and reads the lobby port from "kvgame.kcf" through CfgEngine.dll.
    CSocket32();
    // The same with another configuration library (tests).
    explicit CSocket32(const CfgApi& cfg);
    virtual ~CSocket32();

    CSocket32(const CSocket32&) = delete;
    CSocket32& operator=(const CSocket32&) = delete;

    // True when the file was opened and the port read; the port stays 6123 otherwise.
    bool ReadPort();

    // Stores the callback, connects and starts the receive thread. Call once.
    bool SetClientSimpleSocket(ISimpleSocket* callback);

    // Creates the socket and connects once; a refused connection shows up as receive errors.
    int Connect();

    // Clears running, closes the socket and waits for the receive thread to end.
    void Shutdown();

    SOCKET GetSocket() const { return m_socket.Get(); }
    int GetPort() const { return m_nPort; }
    bool IsRunning() const { return m_bRunning; }

private:
    static DWORD WINAPI ReceiveThreadProc(void* param);
    int ReceiveThread();
    // Bytes received, 0 or less on a failed receive, or a stop mark when Shutdown woke it.
    int ReceiveOnce(char* buffer, int size);
    void PauseAfterError();

    ScopedSocket m_socket;
    ISimpleSocket* m_pCallback = nullptr;
    std::atomic<bool> m_bRunning{false};
    int m_nPort = kDefaultLobbyPort;

    CfgApi m_cfg;
    bool m_bWinsockStarted = false;
    ScopedKernelHandle m_hStopEvent;   // wakes the pause between failed receives at shutdown
    ScopedKernelHandle m_hReceiveEvent;
    ScopedKernelHandle m_hThread;
    RecordAssembler m_assembler;       // touched by the receive thread only
};

// Sends one whole record on the link, looping over partial sends. A failure is traced
// and returned; the caller carries on.
bool SendRecord(SOCKET socket, const sUpdateStruct& record);
