#include "tests/support/test_lobby.h"

#include <cstdio>
#include <fstream>

TestLobby::TestLobby(int port) {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    Listen(port);
}

bool TestLobby::Listen() { return Listen(m_port); }

bool TestLobby::Listen(int port) {
    m_listener.Reset(socket(AF_INET, SOCK_STREAM, 0));
    BOOL exclusive = TRUE;
    setsockopt(m_listener.Get(), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
               sizeof exclusive);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(m_listener.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(m_listener.Get(), 4) != 0) {
        m_listener.Close();
        return false;
    }
    int length = sizeof address;
    getsockname(m_listener.Get(), reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
    return true;
}

void TestLobby::StopListening() {
    if (m_peer.IsValid()) {
        // Reset rather than closed: no lingering state keeps the port from being bound again.
        linger abort = {1, 0};
        setsockopt(m_peer.Get(), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort), sizeof abort);
    }
    m_peer.Close();
    m_listener.Close();
}

TestLobby::~TestLobby() {
    m_peer.Close();
    m_listener.Close();
    WSACleanup();
}

bool TestLobby::Accept(int timeoutMs) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(m_listener.Get(), &readable);
    timeval timeout = {timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    if (select(0, &readable, nullptr, nullptr, &timeout) != 1) return false;
    m_peer.Reset(accept(m_listener.Get(), nullptr, nullptr));
    if (!m_peer.IsValid()) return false;
    BOOL noDelay = TRUE;
    setsockopt(m_peer.Get(), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
    return true;
}

bool TestLobby::Send(const char* data, size_t length) {
    while (length > 0) {
        int sent = send(m_peer.Get(), data, static_cast<int>(length), 0);
        if (sent <= 0) return false;
        data += sent;
        length -= static_cast<size_t>(sent);
    }
    return true;
}

bool TestLobby::ReceiveExact(char* data, size_t length, int timeoutMs) {
    while (length > 0) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(m_peer.Get(), &readable);
        timeval timeout = {timeoutMs / 1000, (timeoutMs % 1000) * 1000};
        if (select(0, &readable, nullptr, nullptr, &timeout) != 1) return false;
        int received = recv(m_peer.Get(), data, static_cast<int>(length), 0);
        if (received <= 0) return false;
        data += received;
        length -= static_cast<size_t>(received);
    }
    return true;
}

void WriteLobbyConfig(const std::string& directory, int port) {
    std::string path = directory.empty() ? "kvgame.kcf" : directory + "\\kvgame.kcf";
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << "[GameSet]\r\nUpdateSetPort=" << port << "\r\n";
}
