// The main dialog's construction, start-up, commands and shutdown.
#include "app/updater_dlg.h"

#include <commctrl.h>

#include <cstring>
#include <memory>

#include "app/dialog_layout.h"
#include "app/resource.h"
#include "framework/gbk_text.h"
#include "framework/message_box.h"
#include "framework/trace.h"
#include "process/dialog_messages.h"
#include "process/exit_flag.h"
#include "process/process_values.h"
#include "skin/skin_ids.h"
#include "update/worker_control.h"

const char kLobbyGameName[] = "游戏大厅";
const char kAppTitle[] = "updater";

namespace {
// A box that a worker or the intake shows, owned by the dialog, on a thread of its own.
BOOL CALLBACK DismissOwnedBox(HWND window, LPARAM owner) {
    DWORD process = 0;
    const DWORD thread = ::GetWindowThreadProcessId(window, &process);
    if (process == ::GetCurrentProcessId() && thread != ::GetCurrentThreadId() &&
        ::GetWindow(window, GW_OWNER) == reinterpret_cast<HWND>(owner)) {
        // Answered as Escape would: its thread goes on to its next stop check.
        ::PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
    }
    return TRUE;
}
}  // namespace

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
    // Nothing waits here: the UI thread never sleeps with the window on screen, and a worker
    // may be waiting for it. The application waits once the window is gone.
    if (m_hWnd != nullptr) ::EnumWindows(DismissOwnedBox, reinterpret_cast<LPARAM>(m_hWnd));
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
    // The template's status text and progress bar stay out of sight: nothing drives them.
    m_staticStatus.ShowWindow(SW_HIDE);
    m_progress.ShowWindow(SW_HIDE);
    LayOutSkin();
    ConfigureTaskList();
    m_fontDialog.Reset(::CreateFontA(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, GB2312_CHARSET, OUT_STROKE_PRECIS,
                                     CLIP_STROKE_PRECIS, DRAFT_QUALITY, VARIABLE_PITCH, "新宋体"));
    m_listTasks.SetTimer(kTimerRefreshRowsGuarded, 10);
    SetTimer(kTimerRefreshRowsGuarded, kRefreshMs);

    RECT list;
    ::GetClientRect(m_listTasks.GetSafeHwnd(), &list);
    m_rcList = list;
    const int titleHeight = m_imgTitle.Height();
    const int leftWidth = m_imgLeft.Width();
    m_rcLeft = {0, titleHeight, leftWidth, titleHeight + list.bottom};
    m_rcRight = {leftWidth + list.right, titleHeight, leftWidth + list.right + m_imgRight.Width(),
                 titleHeight + list.bottom};
    m_rcBottom = {0, titleHeight + list.bottom, m_imgBottom.Width(), titleHeight + list.bottom + m_imgBottom.Height()};

    // Through the wide call: an ANSI path of a folder with Chinese in its name is lossy
    // wherever the system's code page is not GBK.
    wchar_t modulePath[MAX_PATH] = {};
    DWORD length = ::GetModuleFileNameW(nullptr, modulePath, MAX_PATH);
    AppDirFromModulePath(WideToGbk(std::wstring(modulePath, length)).c_str(), g_szAppDir, sizeof g_szAppDir);

    SetTimer(kTimerStartLink, kRefreshMs);
    SetTimer(kTimerRefreshRows, kRefreshMs);
    TraceLine("qen: OnInitDialog done");
    return TRUE;
}

void CUpDateDlg::ConfigureTaskList() {
    HINSTANCE instance = ::GetModuleHandleW(nullptr);
    m_listTasks.SetColors(RGB(242, 243, 246), RGB(220, 235, 246), RGB(0, 0, 0), RGB(163, 240, 233), RGB(0, 0, 0), "");
    m_listTasks.m_nProgressColumn = kColumnProgress;
    m_listTasks.LoadBarImages(instance, IDB_BAR, IDB_FILL_DOWNLOAD, IDB_FILL_INSTALL);
    struct Column {
        const char* title;
        int width;
    };
    const Column columns[] = {{"任务名", 85}, {"大小(KB)", 60}, {"进度", 170},
                              {"速度(KB/S)", 80}, {"进入游戏", 60}, {"取消", 76}};
    for (int i = 0; i < 6; ++i) m_listTasks.InsertColumn(i, columns[i].title, LVCFMT_CENTER, columns[i].width);
    m_listTasks.GetHeader().SetSkin(instance, IDB_HEADER_BACK, IDB_HEADER_BACK, RGB(218, 221, 228), RGB(4, 73, 142), 1,
                                    IDB_HEADER_DIVIDER);
    m_listTasks.SetCancelButtonSkin(instance, IDB_ROW_CANCEL);
    m_listTasks.SetEnterButtonSkin(instance, IDB_ROW_ENTER);
    m_listTasks.m_pNotifyWnd = this;
    m_listTasks.SetRowHeight(23);
    // An image list of one 1 x 26 image: the list draws none of it; it only bears on the row
    // height. The list view (not sharing its image lists) destroys it with itself.
    ::SendMessageW(m_listTasks.GetSafeHwnd(), LVM_SETIMAGELIST, LVSIL_SMALL,
                   reinterpret_cast<LPARAM>(::ImageList_Create(1, 26, ILC_COLOR32 | ILC_MASK, 1, 0)));
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
        case IDC_MINIMIZE:
            SendMessage(WM_SYSCOMMAND, SC_MINIMIZE);
            return TRUE;
        default:
            return FALSE;
        }
    case WM_PAINT:
        OnPaint();
        return TRUE;
    case WM_MEASUREITEM:
        if (wParam != IDC_TASK_LIST) return FALSE;
        m_listTasks.OnMeasureItem(reinterpret_cast<MEASUREITEMSTRUCT*>(lParam));
        SetMsgResult(TRUE);
        return TRUE;
    case WM_QUERYDRAGICON:
        SetMsgResult(reinterpret_cast<LRESULT>(m_hIcon));
        return TRUE;
    case WM_TIMER:
        OnTimer(wParam);
        return TRUE;
    case WM_LBUTTONDOWN:
        OnLButtonDown(lParam);
        return FALSE;
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
        g_pTaskList = nullptr;
        DropUndeliveredMessages();
        return FALSE;
    default:
        return CDialog::DialogProc(message, wParam, lParam);
    }
}

LRESULT CUpDateDlg::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    // The task list draws every row every 10 ms: its draws are answered here, ahead of the
    // dialog manager, whose handling of each message costs a round trip to the window server.
    if (message == WM_DRAWITEM && wParam == IDC_TASK_LIST)
        return m_listTasks.OnDrawItem(reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
    return CDialog::WindowProc(message, wParam, lParam);
}

void CUpDateDlg::OnLButtonDown(LPARAM point) {
    RECT client;
    ::GetClientRect(m_hWnd, &client);
    int x = static_cast<short>(LOWORD(point));
    int y = static_cast<short>(HIWORD(point));
    if (y >= 0 && y < kDragBandHeight && x >= 0 && x < client.right) {
        PostMessage(WM_NCLBUTTONDOWN, HTCAPTION, MAKELPARAM(x, y));
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
    m_dwClosedAt = ::GetTickCount();
    // Out of sight first; what follows may take a moment.
    ShowWindow(SW_HIDE);
    {
        CSingleLock lock(m_csList);
        ReportUnendedTasks();
    }
    StopEverything();
    KillTimer(kTimerAutoClose);
    KillTimer(kTimerEnterFirstGame);
    CDialog::OnOK();  // ends the modal loop
}

void CUpDateDlg::CtrlStartUpdate() {
    TraceLine("tor: CUpDateDlg::CtrlStartUpdate()");
    CSingleLock lock(m_csStart);
    StartWaitingTasks(m_vecTasks);
}

void CUpDateDlg::OnReceive(const char* data, int length) {
    if (length != kRecordSize) return;
    auto record = std::make_unique<sUpdateStruct>();
    std::memcpy(record.get(), data, kRecordSize);
    if (!IsAcceptableRequest(*record)) return;  // the link drops these before they get here
    if (::PostMessageW(m_hWnd, WM_LOBBY_RECORD, 0, reinterpret_cast<LPARAM>(record.get()))) {
        record.release();  // the UI thread owns it now
    } else {
        TraceLine("qen: request for game %d lost, the dialog is gone", record->nGameID);
    }
}

void CUpDateDlg::DropUndeliveredMessages() {
    MSG msg;
    while (::PeekMessageW(&msg, m_hWnd, WM_LOBBY_RECORD, WM_LOBBY_RECORD, PM_REMOVE)) {
        delete reinterpret_cast<sUpdateStruct*>(msg.lParam);
    }
    while (::PeekMessageW(&msg, m_hWnd, WM_MY_MESSAGE_1, WM_MY_MESSAGE_1, PM_REMOVE)) {
        if (msg.wParam == kCodeTaskEnded || msg.wParam == kCodeFinalProgress || msg.wParam == kCodeRemoveTask) {
            TakeTaskMessage(msg.lParam);
        }
    }
}
