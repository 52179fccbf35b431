#include "framework/win_app.h"

#include <winsock2.h>

namespace {
CWinApp* g_pApp = nullptr;

struct WinsockSession {
    bool started = false;
    ~WinsockSession() {
        if (started) WSACleanup();
    }
};
}  // namespace

CWinApp::CWinApp() { g_pApp = this; }

CWinApp::~CWinApp() {
    if (g_pApp == this) g_pApp = nullptr;
}

int CWinApp::Run() {
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    return ExitInstance();
}

CWinApp* AfxGetApp() { return g_pApp; }

bool AfxSocketInit() {
    static WinsockSession session;
    if (session.started) return true;
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
    if (LOBYTE(data.wVersion) != 2 || HIBYTE(data.wVersion) != 2) {
        WSACleanup();
        return false;
    }
    session.started = true;
    return true;
}
