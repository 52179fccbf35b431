#pragma once
// One queued task: the request as received plus the fields that the engine, the downloads,
// the task list and the main dialog share. Shared between the queue and every thread that
// runs it, so a task removed from the queue lives until its last thread lets go.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>

#include "lobby/update_record.h"

class CWnd;

enum TaskState : int32_t {
    kTaskWaiting = 0,
    kTaskRunning = 1,
    kTaskFinished = 2,
    kTaskFailed = 3,  // the worker ended on a failure (not a stop)
};

enum TaskPhase : uint8_t {
    kPhaseDownloading = 0,
    kPhaseUnpacking = 1,
    kPhaseUnpacked = 2,
};

struct UpdateTask : sUpdateStruct {
    // The received 1228 bytes; never changed after intake.
    explicit UpdateTask(const sUpdateStruct& request) : sUpdateStruct(request) {}
    ~UpdateTask() { bStop = true; }

    UpdateTask(const UpdateTask&) = delete;
    UpdateTask& operator=(const UpdateTask&) = delete;

    const sUpdateStruct& Record() const { return *this; }

    std::atomic<int32_t> nIndex{0};         // row in the task list; negative: no row
    std::atomic<double> dSpeed{0.0};        // KB/s
    std::atomic<float> fProgress{0.0f};     // 0.0 .. 1.0; 1.0 or more counts as finished
    std::atomic<HANDLE> hThread{nullptr};   // the worker thread, set by its supervisor
    CWnd* pdlg = nullptr;                   // the main dialog; its supervisor reports to its window
    std::atomic<uint8_t> cPhase{kPhaseDownloading};
    std::atomic<bool> bStop{false};
    std::atomic<int32_t> nState{kTaskWaiting};
    bool bReported = false;  // the lobby has had its task-ended record (UI thread only)
};

using TaskPtr = std::shared_ptr<UpdateTask>;
