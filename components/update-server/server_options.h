#pragma once
// Command line of the update server. No sockets here.
#include <string>
#include <vector>

namespace updsrv {

enum ServerExit {
    kExitOk = 0,     // stopped by --exit-after-seconds or Ctrl+C
    kExitError = 1,  // usage error, bad root, or the port can't be bound
};

struct ServerOptions {
    bool bHelp = false;
    std::wstring strRoot;
    int nPort = 0;  // 0: any free port
    bool bQuiet = false;
    int nExitAfterS = 0;  // 0: run until stopped
    int nRateKiB = 0;     // 0: as fast as possible; else KiB per second per response
};

extern const char kUsage[];

// args without the program name. On failure `error` says what is wrong, in UTF-8.
bool ParseServerArgs(const std::vector<std::wstring>& args, ServerOptions& options, std::string& error);

}  // namespace updsrv
