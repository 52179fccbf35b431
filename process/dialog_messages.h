#pragma once
// The main dialog's private messages.
#include <windows.h>

// Every thread reports to the dialog with this message: wParam a code, lParam a task or a row.
constexpr UINT WM_MY_MESSAGE_1 = WM_USER + 100;

// The lobby link hands each received request to the UI thread: lParam owns a heap copy of
// the record (sUpdateStruct*), which the handler frees.
constexpr UINT WM_LOBBY_RECORD = WM_USER + 101;

enum MyMessageCode : WPARAM {
    kCodeTaskEnded = 0,
    kCodeUnused = 1,
    kCodeFinalProgress = 2,
    kCodeStartLobbyLink = 3,
    kCodeCancelRow = 4,
    kCodeStartWaiting = 5,
    kCodeEnterGame = 6,
    kCodeRemoveTask = 7,
};

enum DialogTimer : UINT_PTR {
    kTimerRefreshRows = 0,
    kTimerStartLink = 1,
    kTimerAutoClose = 2,
    kTimerEnterFirstGame = 3,
    kTimerRefreshRowsGuarded = 100,
};

// Tasks travel in posted messages as owned references, so a task removed from the queue
// still lives when a late report about it arrives.
#include "lobby/update_task.h"

// Posts `code` with an owned reference to `task` (or 0 for no task); false when the window
// is gone (the reference is then released here).
bool PostTaskMessage(HWND window, WPARAM code, const TaskPtr& task);

// Takes back the reference a posted message carried; null for lParam 0.
TaskPtr TakeTaskMessage(LPARAM lParam);
