#pragma once
// The updater's only link to the lobby: a TCP client on 127.0.0.1 with one receive thread
// that hands whole request records to an ISimpleSocket. The lobby may be absent, restart or
// drop the connection: the thread connects again until it is back, and records meant for the
// lobby meanwhile wait in order (task-ended reports) or are not sent at all (see Send).
#include <winsock2.h>

#include <atomic>
#include <deque>
#include <mutex>

#include "framework/scoped_handle.h"
#include "lobby/lobby_port.h"
#include "lobby/record_stream.h"
#include "lobby/simple_socket.h"

class CSocket32 {
public:
    // Between two attempts to reach an absent lobby; an attempt itself waits at most
    // kConnectWaitMs, so the lobby is tried again well within a second.
    static constexpr DWORD kReconnectPauseMs = 250;
    static constexpr DWORD kConnectWaitMs = 500;

    // Starts Winsock and reads the lobby port from "kvgame.kcf" through CfgEngine.dll.
    CSocket32();
    // The same with another configuration library (tests).
    explicit CSocket32(const CfgApi& cfg);
    virtual ~CSocket32();

    CSocket32(const CSocket32&) = delete;
    CSocket32& operator=(const CSocket32&) = delete;

    // True when the file was opened and the port read; the port stays 6123 otherwise.
    bool ReadPort();

    // Stores the callback and starts the receive thread, which connects. Call once.
    bool SetClientSimpleSocket(ISimpleSocket* callback);

    // One attempt to connect, on a new socket; true when the lobby accepted it.
    bool Connect();

    // Clears running, wakes and waits for the receive thread, closes the socket. Records
    // still waiting for the link are given up (traced).
    void Shutdown();

    // Sends the record now; false, sending nothing, while the link is down. For what must
    // never reach the lobby late.
    bool Send(const sUpdateStruct& record);
    // Sends the record now, or keeps it until the link is back; kept records go out in order,
    // before anything sent later.
    void SendOrQueue(const sUpdateStruct& record);
    size_t QueuedRecords() const;
    bool IsConnected() const { return m_bConnected; }

    SOCKET GetSocket() const;
    int GetPort() const { return m_nPort; }
    bool IsRunning() const { return m_bRunning; }

private:
    static DWORD WINAPI ReceiveThreadProc(void* param);
    int ReceiveThread();
    // Bytes received, 0 or less on a failed receive, or a stop mark when Shutdown woke it.
    int ReceiveOnce(char* buffer, int size);
    // False when Shutdown woke it.
    bool Pause(DWORD ms);
    void Disconnect();
    // Sends the kept records in order while the link takes them. m_sendMutex held.
    void FlushQueueLocked();

    mutable std::mutex m_sendMutex;  // the socket and the kept records, between the UI and receive threads
    ScopedSocket m_socket;
    std::deque<sUpdateStruct> m_queue;
    std::atomic<bool> m_bConnected{false};

    ISimpleSocket* m_pCallback = nullptr;
    std::atomic<bool> m_bRunning{false};
    int m_nPort = kDefaultLobbyPort;

    CfgApi m_cfg;
    bool m_bWinsockStarted = false;
    ScopedKernelHandle m_hStopEvent;   // wakes the pause between attempts at shutdown
    ScopedKernelHandle m_hReceiveEvent;
    ScopedKernelHandle m_hThread;
    RecordAssembler m_assembler{IsAcceptableRequest};  // touched by the receive thread only
};

// Sends one whole record on the socket, looping over partial sends. A failure is traced
// and returned; the caller carries on.
bool SendRecord(SOCKET socket, const sUpdateStruct& record);
