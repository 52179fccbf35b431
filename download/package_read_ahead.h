#pragma once
// Reads the rest of a package over several connections at once and still hands its bytes on
// in order: a server that caps each connection gives more to several. The rest is cut into
// chunks; each connection fetches the next chunk nobody holds into memory, no further than a
// bounded window ahead of what was handed on, and the caller's thread hands on whatever is next
// in line as soon as it is there. Connections are added as a segmented download adds them.
#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <functional>
#include <string>

#include "lobby/update_task.h"

struct ReadAheadSource {
    std::string url;
    HINTERNET session = nullptr;
    uint64_t from = 0;     // the first byte to hand on
    uint64_t zipSize = 0;  // the package's size: nothing at or past it is handed on
    // Each block in order, on the caller's thread; false ends the read.
    std::function<bool(uint64_t, const char*, size_t)> handOn;
    // The first answer, whose validator every later one carries; on the caller's thread.
    std::function<void(HINTERNET)> firstAnswer;
    // The total rate of the connections in KB/s, a few times a second, on the caller's thread.
    std::function<void(double)> progress;
};

enum class ReadAheadOutcome {
    Complete,       // everything up to zipSize was handed on
    OneConnection,  // go on over one connection from the byte after the last one handed on
    Lost,           // the first request got no answer: `readError` tells why; nothing was handed on
    Refused,        // handOn said no
    Stopped,        // the program is closing or the task was cancelled
};

// Reads [from, zipSize) of `url`. Only a first answer that is a 206 for the asked chunk of a
// file of zipSize bytes with a validator (ETag or Last-Modified) is read ahead; any other ends
// at once with OneConnection, as does a later answer that is not the asked chunk of that very
// file (another validator, a 200, a wrong Content-Range). A connection that is lost gives its
// chunk back to the others; when none is left, OneConnection.
ReadAheadOutcome ReadAhead(const ReadAheadSource& source, UpdateTask& task, DWORD* readError);
