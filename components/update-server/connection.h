#pragma once
// One client connection: reads requests and answers them until either side closes.
#include <string>

#include "framework/scoped_handle.h"

namespace updsrv {

struct ServeSettings {
    std::wstring strRoot;  // full path of the served folder, without a trailing backslash
    bool bQuiet = false;
};

// Serves `client` until it closes, sends a bad request, asks to close, or `Run`'s socket is
// shut down from outside. Never throws socket failures: a client that leaves is normal.
class CConnection {
public:
    CConnection(SOCKET client, const ServeSettings& settings) : m_socket(client), m_settings(settings) {}
    void Run();

private:
    // Answers one request head; false when the connection must close afterwards.
    bool Answer(const std::string& head);
    bool AnswerError(int nStatus, const std::string& detail, bool bKeepAlive, bool bHead, bool bAllow = false);
    void Log(int nStatus, uint64_t nSent, uint64_t nPlanned, bool bComplete);
    void CloseGracefully();

    SOCKET m_socket;
    const ServeSettings& m_settings;
    std::string m_strLogMethod;
    std::string m_strLogTarget;
    std::string m_strLogRange;
};

}  // namespace updsrv
