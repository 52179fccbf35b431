#pragma once
// A modal dialog from a resource template, with a virtual dialog procedure. Its window is also
// subclassed: WindowProc sees each message first and passes what it leaves on to the dialog
// manager, which calls DialogProc.
#include "framework/wnd.h"

class CDialog : public CWnd {
public:
    explicit CDialog(UINT templateId, CWnd* parent = nullptr);
    ~CDialog() override;

    // Creates the dialog, runs its modal loop until EndDialog and destroys it; returns the
    // code given to EndDialog, or -1 if the dialog could not be created.
    INT_PTR DoModal();
    void EndDialog(INT_PTR result);

protected:
    // Return TRUE for "handled"; set the message result with SetMsgResult when it matters.
    virtual INT_PTR DialogProc(UINT message, WPARAM wParam, LPARAM lParam);
    virtual void DoDataExchange() {}
    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();
    void SetMsgResult(LRESULT result) const;

private:
    static INT_PTR CALLBACK StaticDialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    UINT m_templateId;
    CWnd* m_pParent;
    bool m_bEndModal = false;
    INT_PTR m_nModalResult = -1;
};
