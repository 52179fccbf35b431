#pragma once
// Reads a package as one stream, from the first byte an install needs to the package's end,
// and hands the bytes on in order as they arrive; nothing of it is written here. A lost
// connection resumes where the receiver asks, as long as the server's file is still the one
// the first answer came from.
#include <cstdint>
#include <functional>
#include <string>

#include "lobby/update_task.h"

enum class StreamOutcome {
    Complete,  // every byte up to the package's end was handed on
    Failed,    // a message was shown (or the sink refused, and its caller shows one)
    Stopped,   // the program is closing or the task was cancelled
    NotFound,  // the server answered 404; nothing was shown
};

// Reads `url` from byte `from` to `zipSize` (Range: bytes=<from>-, If-Range with the validator
// of the first answer), handing each block to `sink(offset, data, size)`; the sink never gets
// bytes before `from` or past `zipSize`. A false sink ends the stream (Failed). After a lost
// connection `restart()` tells where to go on; eight tries in a row that get no further than
// the best one before end it. A server whose file is no longer `zipSize` bytes long fails with
// the checksum message. Writes task.dSpeed and task.fProgress (bytes fetched / `neededBytes`)
// and the row's size text (zipSize in KiB). With more than 16 MiB to read and a first answer
// that carries a validator, several connections read ahead (package_read_ahead.h) while the
// bytes are still handed on in order; UPDATER_CONNECTIONS=1 keeps it to one.
StreamOutcome StreamPackage(const std::string& url, uint64_t from, uint64_t zipSize, uint64_t neededBytes,
                            UpdateTask& task, const std::function<bool(uint64_t, const char*, size_t)>& sink,
                            const std::function<uint64_t()>& restart);
