#include "app/updater_dlg.h"

#include <cstring>
#include <memory>

#include "app/dialog_messages.h"
#include "app/process_values.h"
#include "app/resource.h"
#include "framework/message_box.h"
#include "framework/trace.h"
#include "update/exit_flag.h"
#include "update/worker_control.h"

CUpDateDlg::CUpDateDlg(CWnd* parent) : CDialog(IDD, parent) {
    m_hIcon = ::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME));
}

CUpDateDlg::~CUpDateDlg() {
    StopEverything();
    // The icon comes from the program's resources: shared, never destroyed.
}

void CUpDateDlg::StopEverything() {
    g_bExit = true;
    m_socket.Shutdown();
    StopAndReleaseAll(m_vecTasks);
}

void CUpDateDlg::DoDataExchange() {
    m_staticStatus.SubclassDlgItem(IDC_STATUS_TEXT, m_hWnd);
    m_progress.SubclassDlgItem(IDC_PROGRESS, m_hWnd);
    m_btnClose.SubclassDlgItem(IDCANCEL, m_hWnd);
    m_btnMinimize.SubclassDlgItem(IDC_MINIMIZE, m_hWnd);
    m_btnOk.SubclassDlgItem(IDOK, m_hWnd);
    m_listTasks.SubclassDlgItem(IDC_TASK_LIST, m_hWnd);
    m_text1004.SubclassDlgItem(IDC_TEXT_1004, m_hWnd);
}

BOOL CUpDateDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    m_bNarrowColumn = false;
    SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
    g_hMainWnd = m_hWnd;
    g_pTaskList = &m_listTasks;

    char modulePath[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, modulePath, MAX_PATH);
    AppDirFromModulePath(modulePath, g_szAppDir, sizeof g_szAppDir);

    SetTimer(kTimerStartLink, 100);
    TraceLine("qen: OnInitDialog done");
    return TRUE;
}

INT_PTR CUpDateDlg::DialogProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDCANCEL:
            OnCancelCommand();
            return TRUE;
        case IDOK:
            OnOkCommand();
            return TRUE;
        default:
            return FALSE;
        }
    case WM_QUERYDRAGICON:
        SetMsgResult(reinterpret_cast<LRESULT>(m_hIcon));
        return TRUE;
    case WM_TIMER:
        OnTimer(wParam);
        return TRUE;
    case WM_MY_MESSAGE_1:
        SetMsgResult(OnMyMessage(wParam, lParam));
        return TRUE;
    case WM_LOBBY_RECORD: {
        std::unique_ptr<sUpdateStruct> record(reinterpret_cast<sUpdateStruct*>(lParam));
        if (record) OnLobbyRecord(*record);
        return TRUE;
    }
    case WM_DESTROY:
        // Nothing may post a record after this, and what was posted is freed here.
        m_socket.Shutdown();
        DropUndeliveredRecords();
        return FALSE;
    default:
        return CDialog::DialogProc(message, wParam, lParam);
    }
}

void CUpDateDlg::OnCancelCommand() {
    int answer = ShowMessageBox(m_hWnd, "你确定要取消所有下载吗?", "取消下载",
                                MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
    if (answer == IDYES) OnOK();
}

void CUpDateDlg::OnOkCommand() {
    int answer = ShowMessageBox(m_hWnd, "你确定要取消所有更新吗?", "取消更新",
                                MB_YESNOCANCEL | MB_ICONQUESTION | MB_DEFBUTTON2);
    if (answer == IDYES) {
        OnOK();
        g_bExit = true;
    }
}

void CUpDateDlg::OnOK() {
    StopEverything();
    CDialog::OnOK();
}

void CUpDateDlg::OnTimer(UINT_PTR id) {
    switch (id) {
    case kTimerStartLink:
        KillTimer(kTimerStartLink);
        TraceLine("qen:  OnTimer 1");
        PostMessage(WM_MY_MESSAGE_1, kCodeStartLobbyLink, 0);
        break;
    default:
        break;
    }
}

LRESULT CUpDateDlg::OnMyMessage(WPARAM code, LPARAM) {
    CSingleLock lock(m_csList);
    switch (code) {
    case kCodeStartLobbyLink:
        m_socket.SetClientSimpleSocket(this);
        TraceLine("qen: lobby link started");
        break;
    default:
        break;
    }
    return 1;
}

void CUpDateDlg::CtrlStartUpdate() {
    TraceLine("tor: CUpDateDlg::CtrlStartUpdate()");
    CSingleLock lock(m_csStart);
    StartWaitingTasks(m_vecTasks);
}

void CUpDateDlg::OnReceive(const char* data, int length) {
    CSingleLock lock(m_csIntake);
    if (length != kRecordSize) return;
    auto record = std::make_unique<sUpdateStruct>();
    std::memcpy(record.get(), data, kRecordSize);
    if (::PostMessageW(m_hWnd, WM_LOBBY_RECORD, 0, reinterpret_cast<LPARAM>(record.get()))) {
        record.release();  // the UI thread owns it now
    } else {
        TraceLine("qen: request for game %d lost, the dialog is gone", record->nGameID);
    }
}

void CUpDateDlg::OnLobbyRecord(const sUpdateStruct& record) {
    TraceLine("qen: request received, game %d \"%s\" url %s key %s", record.nGameID,
              FieldText(record.szGameName).c_str(), FieldText(record.szUrl).c_str(),
              FieldText(record.szConfigKey).c_str());
}

void CUpDateDlg::DropUndeliveredRecords() {
    MSG msg;
    while (::PeekMessageW(&msg, m_hWnd, WM_LOBBY_RECORD, WM_LOBBY_RECORD, PM_REMOVE)) {
        delete reinterpret_cast<sUpdateStruct*>(msg.lParam);
    }
}
