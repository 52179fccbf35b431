// The intake: each request from the lobby becomes a queued task with a row, or is refused as
// a duplicate. Runs on the UI thread, which owns the queue and the list.
#include <windows.h>

#include <memory>

#include "app/dialog_layout.h"
#include "app/updater_dlg.h"
#include "download/download_messages.h"
#include "framework/message_box.h"
#include "framework/trace.h"
#include "process/dialog_messages.h"

namespace {
// What a message-box thread shows; it owns its texts and frees itself.
struct MessageJob {
    std::string title;
    std::string text;
    HWND owner;
};

DWORD WINAPI ShowMessageThread(LPVOID param) {
    std::unique_ptr<MessageJob> job(static_cast<MessageJob*>(param));
    if (!job || job->owner == nullptr) return static_cast<DWORD>(-1);
    ShowMessageBox(job->owner, job->text, job->title, MB_OK);
    return 0;
}
}  // namespace

void CUpDateDlg::ShowMessageWithoutBlocking(const std::string& title, const std::string& text) {
    MessageJob* job = new MessageJob{title, text, m_hWnd};
    HANDLE thread = ::CreateThread(nullptr, 0, ShowMessageThread, job, 0, nullptr);
    if (thread == nullptr) {
        delete job;
        return;
    }
    ::CloseHandle(thread);  // the box's thread ends when the box is closed
}

void CUpDateDlg::OnLobbyRecord(const sUpdateStruct& record) {
    CSingleLock lock(m_csIntake);
    // Within a burst, the dialog comes forward once, after the burst's last request: each time
    // costs a scroll, a repaint and two trips to the window system.
    MSG next;
    const bool lastOfBurst = !::PeekMessageW(&next, m_hWnd, WM_LOBBY_RECORD, WM_LOBBY_RECORD, PM_NOREMOVE);
    HoldListRedraw(!lastOfBurst);
    std::string name = FieldText(record.szGameName);
    if (CheckAdded(record)) {
        ShowMessageWithoutBlocking("提示", FormatText("抱歉,您已经添加'%s'游戏,不能重复添加", name.c_str()));
        CtrlStartUpdate();
        if (lastOfBurst) BringToFront();
        return;
    }
    if (CheckDownloading(record)) {
        ShowMessageWithoutBlocking("提示", FormatText("抱歉,您已经在下载'%s'游戏,不能重复下载", name.c_str()));
        CtrlStartUpdate();
        if (lastOfBurst) BringToFront();
        return;
    }
    // Not everything is done any more: a pending automatic entry and close wait for this task.
    KillTimer(kTimerAutoClose);
    KillTimer(kTimerEnterFirstGame);
    m_bAutoEntryDue = false;
    m_dwCloseWaitSince = 0;
    TaskPtr task = CreateTask(record, this, static_cast<int32_t>(m_vecTasks.size()));
    m_vecTasks.push_back(task);
    m_listTasks.InsertItem(task->nIndex, name);
    TraceLine("qen: request queued, game %d \"%s\" row %d", record.nGameID, name.c_str(), task->nIndex.load());
    if (lastOfBurst) BringToFront();
    CtrlStartUpdate();
    if (lastOfBurst) ShowWindow(SW_SHOWNORMAL);
}

void CUpDateDlg::HoldListRedraw(bool hold) {
    // Each row the list takes in while it redraws resizes its scroll bar and lays its header
    // out again: within a burst it does that once, when it redraws again.
    if (hold == m_bListHeld) return;
    m_listTasks.SendMessage(WM_SETREDRAW, hold ? FALSE : TRUE);
    m_bListHeld = hold;
}

void CUpDateDlg::BringToFront() {
    int rows = m_listTasks.GetItemCount();
    if (rows > kRowsWithoutScrollBar && !m_bNarrowColumn) {
        m_listTasks.SetColumnWidth(kColumnCancel, kCancelColumnNarrow);
        ::InvalidateRect(m_listTasks.GetSafeHwnd(), nullptr, TRUE);
        m_bNarrowColumn = true;
    }
    // Making the last row entirely visible leaves the list scrolled to it, as walking every row
    // down to it would, without a scroll and a repaint for each row on the way.
    if (rows > 0) m_listTasks.EnsureVisible(rows - 1, false);
    ::SetWindowPos(m_hWnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    ::SetWindowPos(m_hWnd, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}
