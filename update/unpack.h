#pragma once
// Unpacking a downloaded archive through "Unzip.dll", with its progress polled into the task.
#include <windows.h>

#include <atomic>
#include <functional>
#include <string>

#include "lobby/update_task.h"
#include "update/update_paths.h"

// What both unpack threads get; lives on the worker's stack until both have ended.
struct ZipRate {
    UpdateTask* pTask = nullptr;
    const char* szFile = nullptr;   // the archive in full, as resolved from the list (GBK)
    FARPROC pfnUnzip = nullptr;     // "UnzipComplete" for the poller, "OnUpdateFile" for the unpacker
    std::atomic<bool> g_bExit{false};  // the unpack has ended: the poller stops
    int nResult = 0;                // what "OnUpdateFile" returned: 0 unpacked, else a failure code
};

DWORD WINAPI UnzipThread(LPVOID param);
DWORD WINAPI UnzipRateThread(LPVOID param);

enum class UnpackResult {
    Unpacked,  // and the archive deleted
    Failed,    // the library reported a failure: the archive itself may be bad
    NotRun,    // stopped on request, or no library to run
};

// The "DEC" command: unpacks `archive` next to itself (the library gets its resolved full
// path), calls `unpacked` (if any), then deletes the archive. On any failure the archive
// stays, the task is not finished, and an error is shown; a stop or a close during the unpack
// stops it without a message.
UnpackResult UnpackArchive(const TaskPtr& task, const ListPath& archive,
                           const std::function<void()>& unpacked = nullptr);
