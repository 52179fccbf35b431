#pragma once
// What both downloads share: where the file goes, the stop flags, paced waits, the agent.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "lobby/update_task.h"

// The local path: a full path (drive or UNC) as it stands, else g_szAppDir + the name without
// one leading backslash, or a new temporary file ("kvw" prefix) when the name is null. Shows
// its own error and returns false.
bool PrepareLocalPath(const char* szfileName, std::string* path);

// The program is closing or the task was cancelled.
bool StopRequested(const UpdateTask& task);

// Waits `ms`, ending early (and returning false) as soon as a stop is requested.
bool WaitUnlessStopped(const UpdateTask& task, unsigned ms);

// "Agent<milliseconds since start>"
std::string UserAgent();
// How a session reaches the server: through the system's proxy settings when the connection
// goes through a proxy (flags of InternetGetConnectedState), directly otherwise.
DWORD SessionAccessType(DWORD connectionFlags);

// InternetGetConnectedState, whose flags are also kept for LastConnectionFlags.
bool AskConnectedState(DWORD* flags);
// The flags of the last answer in this process that reported a connection; 0 before any.
DWORD LastConnectionFlags();
// For tests: what answers in place of InternetGetConnectedState; null for the system again.
void SetConnectedStateAnswer(std::function<bool(DWORD*)> answer);

// AskConnectedState on a thread of its own, so that a first request can go out while it
// answers: under Wine an answer takes as long as a request to a near server.
class ConnectionCheck {
public:
    ConnectionCheck();
    ~ConnectionCheck();
    ConnectionCheck(const ConnectionCheck&) = delete;
    ConnectionCheck& operator=(const ConnectionCheck&) = delete;

    // Waits for the answer: whether it reports a connection, and its flags.
    bool Connected(DWORD* flags);

private:
    BOOL m_connected = FALSE;
    DWORD m_flags = 0;
    std::thread m_thread;  // last: it starts once the answer's place is there
};

// WinINet opens only 2 connections to a server (4 to an HTTP/1.0 one) unless told before it
// first connects there: too few for a download over several. For the whole process.
void RaiseConnectionLimits();

// Creates every missing folder on the way to `filePath`'s folder.
bool CreateFolderFor(const std::string& filePath);

// The largest size a download believes: a server announcing more is broken, and sizes stay far
// from where 64-bit sums wrap.
constexpr uint64_t kLargestDownload = 1ull << 62;

// True when `bytes` more fit on the drive of `filePath`'s folder (the nearest folder that
// exists, as the download creates the rest). Otherwise shows "磁盘空间不足..." naming
// `shownName` and returns false. A drive that can't tell its free space lets the download try.
bool RoomToDownload(const std::string& filePath, uint64_t bytes, const std::string& shownName);

// A paced retry: 0.5 s, doubling up to 8 s.
class RetryPacer {
public:
    unsigned NextDelayMs();
    void Reset() { m_nextMs = kFirstMs; }

private:
    static constexpr unsigned kFirstMs = 500;
    static constexpr unsigned kLongestMs = 8000;
    unsigned m_nextMs = kFirstMs;
};
