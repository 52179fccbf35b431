// The hub: every thread's report (WM_MY_MESSAGE_1) and the dialog's timers.
#include <windows.h>

#include <algorithm>

#include "app/dialog_layout.h"
#include "app/updater_dlg.h"
#include "framework/message_box.h"
#include "framework/trace.h"
#include "process/dialog_messages.h"

namespace {
// What a row shows in its bar cell and size cell: a failed task says so instead of a bar.
int RowPhase(const UpdateTask& task) { return task.nState == kTaskFailed ? kRowPhaseFailed : task.cPhase.load(); }
}  // namespace

LRESULT CUpDateDlg::OnMyMessage(WPARAM code, LPARAM lParam) {
    CSingleLock lock(m_csList);
    switch (code) {
    case kCodeTaskEnded:
        OnTaskEnded(TakeTaskMessage(lParam));
        break;
    case kCodeFinalProgress:
        OnFinalProgress(TakeTaskMessage(lParam));
        break;
    case kCodeStartLobbyLink:
        m_socket.SetClientSimpleSocket(this);
        TraceLine("qen: lobby link started");
        break;
    case kCodeCancelRow:
        OnCancelRow(static_cast<int>(lParam));
        break;
    case kCodeStartWaiting:
        TraceLine("tor: start waiting tasks");
        CtrlStartUpdate();
        break;
    case kCodeEnterGame:
        OnEnterGame(static_cast<int>(lParam));
        break;
    case kCodeRemoveTask:
        OnRemoveTask(TakeTaskMessage(lParam));
        break;
    default:
        break;
    }
    return 1;
}

TaskPtr CUpDateDlg::TaskAtRow(int row) const {
    if (row < 0) return nullptr;
    for (const TaskPtr& task : m_vecTasks) {
        if (task && task->nIndex == row) return task;
    }
    return nullptr;
}

void CUpDateDlg::OnTaskEnded(const TaskPtr& task) {
    if (task) {
        // The lobby learns of every end, also of a task whose row is already gone.
        ReportTaskEnded(task);
        TraceLine("tor: task ended, game %d", task->nGameID);
        // Only a finished game can be entered; a failed row says why instead.
        if (task->nIndex >= 0 && task->nState == kTaskFinished) m_listTasks.ShowEnterButton(task->nIndex);
    }
    const size_t finished = CountFinished(m_vecTasks);
    for (size_t i = 0; i < finished; ++i) FlashCaption(FLASHW_ALL | FLASHW_TIMERNOFG, 30, 0);
    // A failed row keeps the dialog open: the user cancels it or closes the program.
    if (ScheduleAutomaticEntry()) return;
    ::UpdateWindow(m_hWnd);
    PostMessage(WM_MY_MESSAGE_1, kCodeStartWaiting, 0);
    TraceLine("tor: task end handled");
}

bool CUpDateDlg::ScheduleAutomaticEntry() {
    if (m_bAutoEntryDue || !AllFinished(m_vecTasks)) return false;
    m_bAutoEntryDue = true;
    if (m_vecTasks.size() == 1) {
        EnterGameAutomatically();
        SetTimer(kTimerAutoClose, kAutoCloseMs);
        return true;
    }
    SetTimer(kTimerEnterFirstGame, kEnterFirstGameMs);
    FlashCaption(FLASHW_ALL | FLASHW_TIMERNOFG, 30, 0);
    return false;
}

bool CUpDateDlg::EnterGameAutomatically() {
    // Decided when it happens, not when it was planned: a request may have come in between.
    if (!AllFinished(m_vecTasks)) {
        TraceLine("tor: automatic entry left out, not every task has finished");
        return false;
    }
    OnEnterGame(0);
    return true;
}

void CUpDateDlg::ReportTaskEnded(const TaskPtr& task) {
    if (!task->bReported) {
        task->bReported = true;
        // While the link is down it waits, and goes out in order once the lobby is back.
        m_socket.SendOrQueue(MakeTaskEndedReport(*task));
    }
    m_vecEnding.erase(std::remove(m_vecEnding.begin(), m_vecEnding.end(), task), m_vecEnding.end());
}

void CUpDateDlg::ReportUnendedTasks() {
    // Closing ends them all; the lobby must not wait for one it was never told about.
    TaskQueue unended = m_vecEnding;
    unended.insert(unended.end(), m_vecTasks.begin(), m_vecTasks.end());
    for (const TaskPtr& task : unended) {
        if (task) ReportTaskEnded(task);
    }
}

void CUpDateDlg::OnFinalProgress(const TaskPtr& task) {
    if (!task) return;
    if (task->fProgress >= 1.0f && task->dSpeed != 0.0) task->dSpeed = 0.0;
    int row = task->nIndex;
    if (row < 0) return;  // removed meanwhile: its row belongs to another task now
    m_listTasks.SetItemPhase(row, RowPhase(*task));
    m_listTasks.SetItemProgress(row, task->fProgress);
    m_listTasks.SetItemSpeed(row, static_cast<float>(task->dSpeed));
}

void CUpDateDlg::OnCancelRow(int row) {
    TaskPtr task = TaskAtRow(row);
    if (!task) return;
    task->bStop = true;
    // Not started yet: no supervisor will report its end, so report it here.
    if (CheckAdded(*task)) PostTaskMessage(m_hWnd, kCodeTaskEnded, task);
    PostTaskMessage(m_hWnd, kCodeRemoveTask, task);
}

void CUpDateDlg::OnEnterGame(int row) {
    TaskPtr task = TaskAtRow(row);
    if (!task) return;
    if (FieldText(task->szGameName) == kLobbyGameName) return;
    if (task->nState == kTaskFinished) {
        TraceLine("tor1:%s", FieldText(task->szGameName).c_str());
        ::SetFocus(m_hWnd);
        StartGameRoom(task->nGameID);
        ShowWindow(SW_MINIMIZE);
    } else {
        ShowMessageBox(m_hWnd, "此游戏正在更新, 请您在更新完后再进入游戏", kAppTitle, MB_OK);
    }
}

void CUpDateDlg::OnRemoveTask(const TaskPtr& task) {
    if (task && task->nIndex >= 0) {
        int row = task->nIndex;
        // The list moves the rows below up with their own button states.
        m_listTasks.DeleteItem(row);
        ::InvalidateRect(m_listTasks.GetSafeHwnd(), nullptr, TRUE);
        TaskPtr removed = RemoveTaskAtRow(m_vecTasks, row);
        // It may live on with its supervisor; it names no row any more.
        if (removed) removed->nIndex = -1;
        if (removed && !removed->bReported) m_vecEnding.push_back(removed);
    }
    if (m_listTasks.GetItemCount() <= kRowsWithoutScrollBar) {
        m_listTasks.SetColumnWidth(kColumnCancel, kCancelColumnWide);
        m_bNarrowColumn = false;
    }
    if (m_vecTasks.empty()) {
        OnOK();
    } else {
        // Cancelling a failed or waiting row may leave only finished ones.
        ScheduleAutomaticEntry();
    }
    PostMessage(WM_MY_MESSAGE_1, kCodeStartWaiting, 0);
}

bool CUpDateDlg::StartGameRoom(int32_t nGameID) {
    // Never sent late: once the link is back the user may be somewhere else entirely.
    if (!m_socket.Send(MakeStartGameRoomRequest(nGameID))) {
        TraceLine("tor:----StartGameRoom--- Rommid =%d dropped, the lobby link is down", nGameID);
        return true;
    }
    TraceLine("tor:----StartGameRoom--- Rommid =%d send=%d", nGameID, kRecordSize);
    return true;
}

void CUpDateDlg::RefreshRows() {
    CSingleLock lock(m_csList);
    for (const TaskPtr& task : m_vecTasks) {
        if (!task || task->nIndex < 0) continue;
        try {
            int row = task->nIndex;
            m_listTasks.SetItemPhase(row, RowPhase(*task));
            m_listTasks.SetItemProgress(row, task->fProgress);
            m_listTasks.SetItemSpeed(row, static_cast<float>(task->dSpeed));
        } catch (...) {
            TraceLine("qen: row %d could not be refreshed", task->nIndex.load());
        }
    }
}

void CUpDateDlg::OnTimer(UINT_PTR id) {
    switch (id) {
    case kTimerRefreshRows:
        RefreshRows();
        break;
    case kTimerRefreshRowsGuarded:
        try {
            RefreshRows();
        } catch (...) {
        }
        break;
    case kTimerStartLink:
        KillTimer(kTimerStartLink);
        TraceLine("qen:  OnTimer 1");
        PostMessage(WM_MY_MESSAGE_1, kCodeStartLobbyLink, 0);
        break;
    case kTimerAutoClose:
        if (!LobbyHasHeardEveryEnd()) break;
        KillTimer(kTimerAutoClose);
        OnOK();
        break;
    case kTimerEnterFirstGame: {
        KillTimer(kTimerEnterFirstGame);
        CSingleLock lock(m_csList);
        if (EnterGameAutomatically()) SetTimer(kTimerAutoClose, kAutoCloseMs);
        break;
    }
    default:
        break;
    }
}

bool CUpDateDlg::LobbyHasHeardEveryEnd() {
    const size_t waiting = m_socket.QueuedRecords();
    if (waiting == 0) return true;
    const DWORD now = ::GetTickCount();
    if (m_dwCloseWaitSince == 0) {
        m_dwCloseWaitSince = now;
        TraceLine("tor: closing waits for the lobby link, %u task-ended records to send", static_cast<unsigned>(waiting));
        SetTimer(kTimerAutoClose, kCloseWaitTickMs);
        return false;
    }
    if (now - m_dwCloseWaitSince < kCloseWaitMs) return false;
    TraceLine("tor: closing after %u ms without the lobby link, %u task-ended records unsent", kCloseWaitMs,
              static_cast<unsigned>(waiting));
    return true;
}

void CUpDateDlg::FlashCaption(DWORD flags, UINT count, DWORD timeout) {
    FLASHWINFO info = {};
    info.cbSize = sizeof info;
    info.hwnd = m_hWnd;
    info.dwFlags = flags;
    info.uCount = count;
    info.dwTimeout = timeout;
    ::FlashWindowEx(&info);
}
