#include "http_server.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <atomic>
#include <list>
#include <memory>
#include <thread>

#include "connection.h"
#include "framework/scoped_handle.h"
#include "server_log.h"
#include "text_bytes.h"

namespace updsrv {

namespace {

// How often the accept loop looks at the stop event and the deadline.
constexpr long kPollMs = 200;

std::string WsaError(const char* what) {
    return std::string(what) + " failed (WSA error " + std::to_string(WSAGetLastError()) + ")";
}

struct ConnectionSlot {
    ScopedSocket socket;
    std::atomic<bool> bDone{false};
    std::thread thread;
};

// Full path of the root, without a trailing backslash; false if it is not a folder.
bool ResolveRoot(const std::wstring& given, std::wstring& root) {
    DWORD n = GetFullPathNameW(given.c_str(), 0, nullptr, nullptr);
    if (n == 0) {
        SayError("--root \"" + WideToUtf8(given) + "\" is not a valid path");
        return false;
    }
    std::wstring full(n, L'\0');
    n = GetFullPathNameW(given.c_str(), n, &full[0], nullptr);
    full.resize(n);
    while (full.size() > 3 && full.back() == L'\\') full.pop_back();
    DWORD nAttributes = GetFileAttributesW(full.c_str());
    if (nAttributes == INVALID_FILE_ATTRIBUTES || !(nAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        SayError("--root \"" + WideToUtf8(given) + "\" is not a folder");
        return false;
    }
    if (full.back() == L'\\') full.pop_back();  // a drive root: "C:" + "\\" + name
    root = full;
    return true;
}

void TuneClientSocket(SOCKET s) {
    // Most of a 4 MiB piece fits in one call: fewer partial sends, each a trip through the Wine server.
    int nSendBuffer = 4 * 1024 * 1024;
    setsockopt(s, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&nSendBuffer), sizeof nSendBuffer);
    // Head and body go out together; the small replies to the updater's many requests need no delay.
    BOOL bNoDelay = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&bNoDelay), sizeof bNoDelay);
}

void ServeConnection(ConnectionSlot* slot, const ServeSettings* settings) {
    try {
        CConnection(slot->socket.Get(), *settings).Run();
    } catch (const std::exception& e) {
        SayError(std::string("connection failed: ") + e.what());
    } catch (...) {
        SayError("connection failed");
    }
    slot->bDone = true;
}

void JoinFinished(std::list<std::unique_ptr<ConnectionSlot>>& slots) {
    for (auto it = slots.begin(); it != slots.end();) {
        if ((*it)->bDone) {
            (*it)->thread.join();
            it = slots.erase(it);
        } else {
            ++it;
        }
    }
}

}  // namespace

int RunServer(const ServerOptions& options, HANDLE stopEvent) {
    std::atomic<bool> bStopping{false};
    ServeSettings settings;
    settings.bQuiet = options.bQuiet;
    settings.nRateKiB = options.nRateKiB;
    settings.pbStopping = &bStopping;
    if (!ResolveRoot(options.strRoot, settings.strRoot)) return kExitError;

    ScopedSocket listener(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!listener.IsValid()) {
        SayError(WsaError("socket"));
        return kExitError;
    }
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<u_short>(options.nPort));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listener.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        SayError(WsaError(("bind to 127.0.0.1:" + std::to_string(options.nPort)).c_str()));
        return kExitError;
    }
    if (listen(listener.Get(), SOMAXCONN) != 0) {
        SayError(WsaError("listen"));
        return kExitError;
    }
    int nLength = sizeof addr;
    if (getsockname(listener.Get(), reinterpret_cast<sockaddr*>(&addr), &nLength) != 0) {
        SayError(WsaError("getsockname"));
        return kExitError;
    }
    SayLine("serving " + WideToUtf8(settings.strRoot) + " on http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) +
            "/");

    const ULONGLONG nDeadline = options.nExitAfterS > 0 ? GetTickCount64() + options.nExitAfterS * 1000ull : 0;
    std::list<std::unique_ptr<ConnectionSlot>> slots;
    for (;;) {
        JoinFinished(slots);
        if (WaitForSingleObject(stopEvent, 0) == WAIT_OBJECT_0) break;
        if (nDeadline && GetTickCount64() >= nDeadline) break;

        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(listener.Get(), &readable);
        timeval wait = {0, kPollMs * 1000};
        int nReady = select(0, &readable, nullptr, nullptr, &wait);
        if (nReady == SOCKET_ERROR) {
            SayError(WsaError("select"));
            Sleep(kPollMs);
            continue;
        }
        if (nReady == 0) continue;
        ScopedSocket client(accept(listener.Get(), nullptr, nullptr));
        if (!client.IsValid()) {
            // Out of sockets or memory, or the client gave up: keep serving the others.
            SayError(WsaError("accept"));
            Sleep(kPollMs);
            continue;
        }
        TuneClientSocket(client.Get());
        auto slot = std::make_unique<ConnectionSlot>();
        slot->socket = std::move(client);
        try {
            slot->thread = std::thread(ServeConnection, slot.get(), &settings);
        } catch (const std::exception& e) {
            SayError(std::string("can't start a connection thread: ") + e.what());
            continue;
        }
        slots.push_back(std::move(slot));
    }

    listener.Close();
    // Every connection waits in short slices and sees the flag within one.
    bStopping = true;
    for (auto& slot : slots) slot->thread.join();
    SayLine("stopped");
    return kExitOk;
}

}  // namespace updsrv
