#pragma once
// The main dialog: owns the task queue, the lobby link and the task list, and is the hub
// every thread reports to.
#include <windows.h>

#include "framework/controls.h"
#include "framework/critical_section.h"
#include "framework/dialog.h"
#include "framework/gdi_handles.h"
#include "lobby/simple_socket.h"
#include "lobby/socket32.h"
#include "lobby/task_queue.h"
#include "skin/image.h"
#include "skin/kv_button.h"
#include "skin/transparent_static.h"
#include "tasklist/mavrin_list.h"

class CUpDateDlg : public CDialog, public IAnonymousPipe, public ISimpleSocket {
public:
    enum { IDD = 102 };

    explicit CUpDateDlg(CWnd* parent = nullptr);
    ~CUpDateDlg() override;

    // The one close-all path: stops every task and the lobby link, ends the modal loop.
    void OnOK() override;

    // When the close began (GetTickCount), 0 while the dialog runs.
    DWORD ClosedAt() const { return m_dwClosedAt; }

    // Receive thread: hands the record to the UI thread, where the intake runs.
    void OnReceive(const char* data, int length) override;
    void OnPipeData(const char*, int) override {}

    bool CheckAdded(const sUpdateStruct& request) const { return ::CheckAdded(m_vecTasks, request); }
    bool CheckDownloading(const sUpdateStruct& request) const { return ::CheckDownloading(m_vecTasks, request); }
    TaskPtr FindNextWaiting() const { return ::FindNextWaiting(m_vecTasks); }

    // Starts the next waiting task when none is running.
    void CtrlStartUpdate();
    // Asks the lobby to open the game's room.
    bool StartGameRoom(int32_t nGameID);

protected:
    INT_PTR DialogProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    void DoDataExchange() override;
    BOOL OnInitDialog() override;

private:
    // Start-up, commands and shutdown (updater_dlg.cpp).
    void ConfigureTaskList();
    void OnPaint();
    // The window's region: the corners cut off, 3 pixels at the top, 4 at the bottom.
    void SetWindowShape();
    void LayOutSkin();
    void OnCancelCommand();
    void OnOkCommand();
    void OnLButtonDown(LPARAM point);
    void StopEverything();
    // Sends the task-ended record of every task the lobby has not heard the end of.
    void ReportUnendedTasks();
    void ReportTaskEnded(const TaskPtr& task);
    void DropUndeliveredMessages();

    // The hub (dialog_controller.cpp).
    LRESULT OnMyMessage(WPARAM code, LPARAM lParam);
    void OnTaskEnded(const TaskPtr& task);
    void OnFinalProgress(const TaskPtr& task);
    void OnCancelRow(int row);
    void OnEnterGame(int row);
    void OnRemoveTask(const TaskPtr& task);
    // When every queued task has finished: one is entered at once (true), several after
    // a while. Once until a new request comes in.
    bool ScheduleAutomaticEntry();
    // Enters row 0's game if every task is finished now; false otherwise.
    bool EnterGameAutomatically();
    // False while task-ended records wait for the lobby link, up to the close's patience.
    bool LobbyHasHeardEveryEnd();
    void OnTimer(UINT_PTR id);
    void RefreshRows();
    void FlashCaption(DWORD flags, UINT count, DWORD timeout);
    TaskPtr TaskAtRow(int row) const;

    // The intake (request_intake.cpp).
    void OnLobbyRecord(const sUpdateStruct& record);
    void ShowMessageWithoutBlocking(const std::string& title, const std::string& text);
    void BringToFront();
    // The list stops redrawing while the rest of a burst of requests waits in the queue.
    void HoldListRedraw(bool hold);

    HICON m_hIcon = nullptr;
    ScopedFont m_fontDialog;  // the title's font
    RECT m_rcClient = {};
    CStatic m_staticStatus;
    CProgressCtrl m_progress;
    CImage m_imgTitle;
    CImage m_imgLeft;
    CImage m_imgRight;
    CImage m_imgBottom;
    RECT m_rcBottom = {};
    RECT m_rcLeft = {};
    RECT m_rcRight = {};
    RECT m_rcList = {};
    bool m_bNarrowColumn = false;
    DWORD m_dwClosedAt = 0;
    bool m_bListHeld = false;
    bool m_bAutoEntryDue = false;   // an automatic entry is planned or done since the last request
    DWORD m_dwCloseWaitSince = 0;   // when the automatic close began waiting for the link
    CMavrinDlg m_listTasks;
    CTransparentStatic m_text1004;
    KvButton m_btnClose;
    KvButton m_btnOk;
    KvButton m_btnMinimize;
    TaskQueue m_vecTasks;
    TaskQueue m_vecEnding;  // taken off the list while their worker still runs, not yet reported
    CSocket32 m_socket;
    CCriticalSection m_csIntake;
    CCriticalSection m_csList;
    CCriticalSection m_csStart;
};
