#pragma once
// The server's console output. Lines from connection threads never interleave.
#include <string>

namespace updsrv {

// One line "update-server: TEXT" on stdout, flushed at once so a reader sees it while we run.
void SayLine(const std::string& utf8);
// One line "update-server: error: TEXT" on stderr.
void SayError(const std::string& utf8);
// One request line on stdout as it is, flushed.
void SayRequest(const std::string& line);

}  // namespace updsrv
