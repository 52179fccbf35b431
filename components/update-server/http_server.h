#pragma once
// The listening socket on 127.0.0.1 and a thread per connection.
#include <windows.h>

#include "server_options.h"

namespace updsrv {

// Checks the root, listens, prints the "serving" line and serves until `stopEvent` is set or
// --exit-after-seconds passes; then ends every connection and joins its thread.
// Returns a ServerExit status. Winsock must be started.
int RunServer(const ServerOptions& options, HANDLE stopEvent);

}  // namespace updsrv
