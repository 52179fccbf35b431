#pragma once
// The downloads' message boxes, all owned by the main window.
#include <windows.h>

#include <cstdint>
#include <string>

#include "framework/http_request.h"

std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

// An error box: title "错误", error icon. Returns the button pressed.
int ShowDownloadError(const std::string& text, UINT buttons = MB_OK);

// The box for a lost connection; the server's last response text is asked for but not shown.
void ShowNetworkUnstable(DWORD error);

// The box for a URL that can't be opened, with the server's text when there is one.
void ShowOpenUrlError(DWORD error, const char* url);

// The box for a file over its size cap.
void ShowTooLarge(const char* url, uint64_t maxBytes);

// The box for an https URL that was redirected to something that is not https.
void ShowInsecureRedirect(const char* url);

// Tells why a request got no final answer, the way a failed InternetOpenUrl is told; a stop
// tells nothing.
void ShowSendFailure(SendOutcome outcome, DWORD error, const char* url);
