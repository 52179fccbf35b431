#include "app/updater_app.h"

#include <windows.h>
#include <commctrl.h>

#include "app/debug_privilege.h"
#include "app/resource.h"
#include "app/updater_dlg.h"
#include "framework/gbk_text.h"
#include "framework/message_box.h"
#include "update/publisher_key.h"
#include "update/update_paths.h"

CUpDateApp theApp;

namespace {
std::string LoadResourceText(UINT id) {
    const wchar_t* text = nullptr;
    int length = ::LoadStringW(::GetModuleHandleW(nullptr), id, reinterpret_cast<LPWSTR>(&text), 0);
    return length > 0 ? WideToGbk(std::wstring(text, static_cast<size_t>(length))) : std::string();
}
}  // namespace

BOOL CUpDateApp::InitInstance() {
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
    return FALSE;
}
