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
