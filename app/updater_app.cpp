#include "app/updater_app.h"

#include <windows.h>
#include <commctrl.h>

#include "app/debug_privilege.h"
#include "app/resource.h"
#include "app/single_instance.h"
#include "app/updater_dlg.h"
#include "framework/gbk_text.h"
#include "framework/message_box.h"
#include "framework/trace.h"
#include "update/publisher_key.h"
#include "update/trace_log.h"
#include "update/update_paths.h"
#include "update/worker_control.h"

CUpDateApp theApp;

namespace {
// From the close on, how long the workers get to see their stop flags and end; the process
// ends within 3 s of the close either way.
constexpr DWORD kCloseBudgetMs = 2300;

std::string LoadResourceText(UINT id) {
    const wchar_t* text = nullptr;
    int length = ::LoadStringW(::GetModuleHandleW(nullptr), id, reinterpret_cast<LPWSTR>(&text), 0);
    return length > 0 ? WideToGbk(std::wstring(text, static_cast<size_t>(length))) : std::string();
}
}  // namespace

BOOL CUpDateApp::InitInstance() {
    // Before the lobby link or any file: a second updater of this folder only shows the first.
    static SingleInstance instance;
    if (!instance.Claim(GetModuleDir())) {
        TraceLine("qen: an updater already runs in %s; it is brought to the front", GetModuleDir().c_str());
        SingleInstance::BringFirstToFront(GetModuleDir());
        return FALSE;
    }
    OpenTraceLog();

    INITCOMMONCONTROLSEX controls;
    controls.dwSize = 8;
    controls.dwICC = ICC_WIN95_CLASSES;
    ::InitCommonControlsEx(&controls);

    CWinApp::InitInstance();

    if (!AfxSocketInit()) {
        ShowMessageBox(nullptr, LoadResourceText(IDS_SOCKETS_INIT_FAILED), "updater", MB_OK);
        return FALSE;
    }
    AfxEnableControlContainer();
    EnableDebugPrivilege();
    // A malformed key has shown its box here; every task then refuses to run.
    SetUpPublisherKey(GetModuleDir());

    CUpDateDlg dlg;
    m_pMainWnd = &dlg;
    dlg.DoModal();
    m_pMainWnd = nullptr;
    const DWORD spent = dlg.ClosedAt() != 0 ? ::GetTickCount() - dlg.ClosedAt() : 0;
    if (!WaitForWorkers(spent < kCloseBudgetMs ? kCloseBudgetMs - spent : 0)) {
        // A worker still runs (a box, a transfer that does not return): it ends with the
        // process here, before the dialog and its task list are destroyed under it.
        TraceLine("qen: workers still running at exit, ending the process");
        ::ExitProcess(0);
    }
    return FALSE;
}
