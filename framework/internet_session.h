#pragma once
// The framework's internet session, as far as the program uses it: the status of a URL.
#include <string>

class CInternetSession {
public:
    // The status code of `url` as the server gives it; -1 when the URL can't be opened at all,
    // the server stays silent past the stall limit, or redirects go round. Asks with HEAD: a
    // GET would make WinINet drain the whole body when the handle closes, just to learn a status.
    int QueryStatusCode(const std::string& url);
};
