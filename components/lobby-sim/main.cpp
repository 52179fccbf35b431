// lobby-sim: stands in for the lobby so the updater can be run and tested without it.
#include <windows.h>
#include <shellapi.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>
#include <vector>

#include "framework/command_line.h"

#include "CfgEngine.h"
#include "sim_options.h"
#include "sim_server.h"

using namespace lobbysim;

namespace {

constexpr int kDefaultPort = 6123;

// The lobby's own port setting, read the way the updater reads it.
bool ReadLobbyPort(int& nPort) {
    unsigned long handle = cfgOpenFile("kvgame.kcf", "");
    if (handle < CFG_FIRST_HANDLE) {
        SayLine("kvgame.kcf can't be read in the current directory, using port " +
                std::to_string(kDefaultPort));
        nPort = kDefaultPort;
        return true;
    }
    nPort = cfgGetValue(handle, "GameSet", "UpdateSetPort", kDefaultPort);
    cfgClose(handle);
    if (nPort < 1 || nPort > 65535) {
        SayError("UpdateSetPort " + std::to_string(nPort) + " in kvgame.kcf is not a TCP port");
        return false;
    }
    return true;
}

int Run() {
    std::vector<std::wstring> args;
    if (!ProgramArguments(&args)) {
        SayError("can't read the command line");
        return kExitError;
    }

    SimOptions options;
    std::string error;
    if (!ParseSimArgs(args, options, error)) {
        SayError(error + " (see --help)");
        return kExitError;
    }
    if (options.bHelp) {
        fputs(kUsage, stdout);
        return kExitOk;
    }
    int nPort = options.nPort;
    if (nPort == 0 && !ReadLobbyPort(nPort)) return kExitError;
    return RunLobbySim(options, nPort);
}

}  // namespace

int main() {
    // Names are printed as UTF-8 bytes; the C runtime must not touch line ends or bytes.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    try {
        return Run();
    } catch (const std::exception& e) {
        SayError(std::string("unexpected failure: ") + e.what());
    } catch (...) {
        SayError("unexpected failure");
    }
    return kExitError;
}
