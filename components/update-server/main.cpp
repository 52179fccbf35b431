// update-server: serves the demo's game files to the updater over HTTP on loopback.
#include <winsock2.h>
#include <windows.h>
#include <shellapi.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>
#include <vector>

#include "framework/command_line.h"

#include "framework/scoped_handle.h"
#include "framework/winsock_session.h"
#include "http_server.h"
#include "server_log.h"
#include "server_options.h"

using namespace updsrv;

namespace {

HANDLE g_stopEvent = nullptr;

// Ctrl+C, Ctrl+Break and closing the console stop the server cleanly.
BOOL WINAPI OnConsoleEvent(DWORD) {
    if (g_stopEvent) SetEvent(g_stopEvent);
    return TRUE;
}

int Run() {
    std::vector<std::wstring> args;
    if (!ProgramArguments(&args)) {
        SayError("can't read the command line");
        return kExitError;
    }

    ServerOptions options;
    std::string error;
    if (!ParseServerArgs(args, options, error)) {
        SayError(error + " (see --help)");
        return kExitError;
    }
    if (options.bHelp) {
        fputs(kUsage, stdout);
        return kExitOk;
    }

    CWinsock winsock;
    if (!winsock.IsStarted()) {
        SayError("Winsock 2.2 can't be started");
        return kExitError;
    }
    ScopedKernelHandle stopEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!stopEvent.IsValid()) {
        SayError("can't create an event (error " + std::to_string(GetLastError()) + ")");
        return kExitError;
    }
    g_stopEvent = stopEvent.Get();
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
    int nExit = RunServer(options, stopEvent.Get());
    SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
    g_stopEvent = nullptr;
    return nExit;
}

}  // namespace

int main() {
    // Paths are printed as UTF-8 bytes; the C runtime must not touch line ends or bytes.
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
