#pragma once
// The simulated lobby's one connection: listen, accept the updater, send, receive, decide.
#include <string>

#include "sim_options.h"

namespace lobbysim {

// Returns a SimExit status. Narrative lines go to stdout, errors to stderr.
int RunLobbySim(const SimOptions& options, int nPort);

// One line "lobby-sim: TEXT" on stdout, flushed at once so a reader sees it while we wait.
void SayLine(const std::string& utf8);
// One line "lobby-sim: error: TEXT" on stderr.
void SayError(const std::string& utf8);

}  // namespace lobbysim
