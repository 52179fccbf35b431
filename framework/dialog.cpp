#include "framework/dialog.h"

#include "framework/message_filters.h"
#include "framework/trace.h"

CDialog::CDialog(UINT templateId, CWnd* parent) : m_templateId(templateId), m_pParent(parent) {}

CDialog::~CDialog() = default;

INT_PTR CDialog::DoModal() {
    HWND parent = m_pParent ? m_pParent->GetSafeHwnd() : nullptr;
    m_bEndModal = false;
    m_nModalResult = -1;
    // A modeless dialog with a modal loop of our own, so every message passes the thread's
    // message filters before it is dispatched.
    HWND hwnd = ::CreateDialogParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(m_templateId), parent,
                                     StaticDialogProc, reinterpret_cast<LPARAM>(this));
    if (hwnd == nullptr) return -1;
    const bool disableParent = parent != nullptr && ::IsWindowEnabled(parent);
    if (disableParent) ::EnableWindow(parent, FALSE);
    if (!m_bEndModal && !::IsWindowVisible(hwnd)) ::ShowWindow(hwnd, SW_SHOWNORMAL);
    MSG msg;
    while (!m_bEndModal && ::IsWindow(hwnd)) {
        const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
        if (got == -1) break;
        if (got == 0) {
            // WM_QUIT ends the dialog and stays for the loop outside it.
            ::PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        if (RunMessageFilters(&msg)) continue;
        if (::IsDialogMessageW(hwnd, &msg)) continue;
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    if (disableParent) ::EnableWindow(parent, TRUE);
    if (::IsWindow(hwnd)) ::DestroyWindow(hwnd);
    return m_nModalResult;
}

void CDialog::EndDialog(INT_PTR result) {
    m_nModalResult = result;
    m_bEndModal = true;
    if (m_hWnd == nullptr) return;
    // As the system's EndDialog: out of sight at once, and the loop woken to end.
    ::ShowWindow(m_hWnd, SW_HIDE);
    ::PostMessageW(m_hWnd, WM_NULL, 0, 0);
}

BOOL CDialog::OnInitDialog() { return TRUE; }

void CDialog::OnOK() { EndDialog(IDOK); }

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

void CDialog::SetMsgResult(LRESULT result) const { ::SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, result); }

INT_PTR CDialog::DialogProc(UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        DoDataExchange();
        return OnInitDialog();
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            OnOK();
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            OnCancel();
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

INT_PTR CALLBACK CDialog::StaticDialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CDialog* self = nullptr;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<CDialog*>(lParam);
        self->m_hWnd = hwnd;
        ::SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        // Messages then reach WindowProc before the dialog manager, which answers every
        // message it handles with a write of the message result.
        self->SubclassWindow(hwnd);
    } else {
        self = reinterpret_cast<CDialog*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
    }
    // Messages before WM_INITDIALOG (WM_SETFONT, WM_MEASUREITEM, ...) find no object yet.
    if (self == nullptr) return FALSE;
    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrW(hwnd, DWLP_USER, 0);
        self->m_hWnd = nullptr;
        return FALSE;
    }
    try {
        return self->DialogProc(message, wParam, lParam);
    } catch (...) {
        TraceLine("qen: exception in dialog procedure, message %u", message);
        return FALSE;
    }
}
