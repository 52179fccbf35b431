#pragma once
// The main dialog: owns the task queue, the lobby link and the task list.
#include <windows.h>

#include "framework/controls.h"
#include "framework/critical_section.h"
#include "framework/dialog.h"
#include "lobby/simple_socket.h"
#include "lobby/socket32.h"
#include "lobby/task_queue.h"
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

    // Receive thread: hands the record to the UI thread.
    void OnReceive(const char* data, int length) override;
    void OnPipeData(const char*, int) override {}

    bool CheckAdded(const sUpdateStruct& request) const { return ::CheckAdded(m_vecTasks, request); }
    bool CheckDownloading(const sUpdateStruct& request) const { return ::CheckDownloading(m_vecTasks, request); }
    TaskPtr FindNextWaiting() const { return ::FindNextWaiting(m_vecTasks); }

    // Starts the next waiting task when none is running.
    void CtrlStartUpdate();

protected:
    INT_PTR DialogProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    void DoDataExchange() override;
    BOOL OnInitDialog() override;

private:
    void OnCancelCommand();
    void OnOkCommand();
    void OnTimer(UINT_PTR id);
    LRESULT OnMyMessage(WPARAM code, LPARAM lParam);
    void OnLobbyRecord(const sUpdateStruct& record);
    void StopEverything();
    void DropUndeliveredRecords();

    HICON m_hIcon = nullptr;
    RECT m_rcClient = {};
    CStatic m_staticStatus;
    CProgressCtrl m_progress;
    RECT m_rcBottom = {};
    RECT m_rcLeft = {};
    RECT m_rcRight = {};
    RECT m_rcList = {};
    bool m_bNarrowColumn = false;
    CMavrinDlg m_listTasks;
    CTransparentStatic m_text1004;
    KvButton m_btnClose;
    KvButton m_btnOk;
    KvButton m_btnMinimize;
    TaskQueue m_vecTasks;
    CSocket32 m_socket;
    CCriticalSection m_csIntake;
    CCriticalSection m_csList;
    CCriticalSection m_csStart;
};
