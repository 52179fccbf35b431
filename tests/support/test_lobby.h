#pragma once
// An in-process stand-in for the lobby: a listening socket on 127.0.0.1 that accepts the
// updater's connection and sends and receives raw bytes.
#include <winsock2.h>

#include <string>
#include <vector>

#include "framework/scoped_handle.h"

class TestLobby {
public:
    // Listens on `port`, or on a free port when it is 0. Starts Winsock for itself.
    explicit TestLobby(int port = 0);
    ~TestLobby();

    bool IsListening() const { return m_listener.IsValid(); }
    int Port() const { return m_port; }

    // Waits up to `timeoutMs` for the updater to connect.
    bool Accept(int timeoutMs);
    bool Send(const char* data, size_t length);
    // Receives exactly `length` bytes or fails after `timeoutMs`.
    bool ReceiveExact(char* data, size_t length, int timeoutMs);
    void CloseConnection() { m_peer.Close(); }
    // The lobby goes away: its connection is reset and nothing listens on its port until
    // Listen binds the same port again.
    void StopListening();
    bool Listen();

private:
    bool Listen(int port);

    ScopedSocket m_listener;
    ScopedSocket m_peer;
    int m_port = 0;
};

// Writes "kvgame.kcf" naming `port` into `directory` (empty: the current directory).
void WriteLobbyConfig(const std::string& directory, int port);
