#pragma once
// The framework's internet session, as far as the program uses it: the status of a URL.
#include <windows.h>

#include <string>

#include "framework/http_request.h"

// What a status query learnt: the final answer's status code, or why there was none.
struct StatusQuery {
    SendOutcome outcome = SendOutcome::Failed;
    DWORD error = 0;  // GetLastError of a failed request
    int status = 0;   // with SendOutcome::Sent
};

class CInternetSession {
public:
    // Asks for `url` the way every fetch does (same redirect and https rules, same stall
    // limit). Asks with HEAD: a GET would make WinINet drain the whole body when the handle
    // closes, just to learn a status.
    StatusQuery QueryStatus(const std::string& url);
};
