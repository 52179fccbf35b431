#pragma once
// Winsock 2.2 for a program's lifetime (the stand-in tools start it for themselves).
#include <winsock2.h>

// Winsock 2.2 for the lifetime of the object.
class CWinsock {
public:
    CWinsock() {
        WSADATA data;
        m_bStarted = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    ~CWinsock() {
        if (m_bStarted) WSACleanup();
    }
    CWinsock(const CWinsock&) = delete;
    CWinsock& operator=(const CWinsock&) = delete;
    bool IsStarted() const { return m_bStarted; }

private:
    bool m_bStarted = false;
};
