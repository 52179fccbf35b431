#pragma once
// One client connection: reads requests and answers them until either side closes.
#include <atomic>
#include <cstdint>
#include <string>

#include "socket_io.h"

namespace updsrv {

struct ServeSettings {
    std::wstring strRoot;  // full path of the served folder, without a trailing backslash
    bool bQuiet = false;
    int nRateKiB = 0;  // 0: unlimited
    const std::atomic<bool>* pbStopping = nullptr;  // set when the server stops
};

// Serves `client` until it closes, stays idle too long, sends a bad request, asks to close,
// or the server stops. A client that leaves is normal, not an error.
class CConnection {
public:
    CConnection(SOCKET client, const ServeSettings& settings)
        : m_io(client, settings.pbStopping), m_settings(settings) {}
    void Run();

private:
    // Answers one request head; false when the connection must close afterwards.
    bool Answer(const std::string& head);
    bool AnswerError(int nStatus, const std::string& detail, bool bKeepAlive, bool bHead, bool bAllow = false);
    void Log(int nStatus, uint64_t nSent, uint64_t nPlanned, bool bComplete);
    void CloseGracefully();

    CSocketIo m_io;
    const ServeSettings& m_settings;
    std::string m_strLogMethod;
    std::string m_strLogTarget;
    std::string m_strLogRange;
};

}  // namespace updsrv
