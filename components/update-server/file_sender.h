#pragma once
// Sends a response head followed by a slice of an open file.
#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <string>

#include "socket_io.h"

namespace updsrv {

// Sends `head`, then `nLength` bytes of `file` from `nFirst`. `nBodySent` counts the body
// bytes the socket accepted, also when the client leaves early (the result is then false).
// A file that ends before the slice does (truncated meanwhile) also gives false.
// With `nRateKiB` > 0 the body is paced to that many KiB per second.
bool SendHeadAndSlice(CSocketIo& s, const std::string& head, HANDLE file, uint64_t nFirst, uint64_t nLength,
                      uint64_t& nBodySent, int nRateKiB = 0);


}  // namespace updsrv
