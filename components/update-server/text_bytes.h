#pragma once
// Byte strings from the wire and the command line, turned into what Windows and the log need.
#include <string>

namespace updsrv {

std::string WideToUtf8(const std::wstring& wide);

// Decoded URL bytes as a file name: UTF-8 when they are valid UTF-8 (what browsers and curl
// send), otherwise GBK, the system's own code page, since the updater passes URLs through as
// the lobby gave them.
std::wstring UrlBytesToWide(const std::string& bytes);

// For the request log: control and non-ASCII bytes become \xHH, so a request can't forge lines
// or send escape sequences to the terminal.
std::string Printable(const std::string& bytes);

}  // namespace updsrv
