#pragma once
// The application object: one per program, constructed as a global, run by WinMain.
#include <windows.h>

class CWnd;

class CWinApp {
public:
    CWinApp();
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // Prepares the process and runs the program; false ends it at once.
    virtual BOOL InitInstance() { return TRUE; }
    // Runs the message loop of a program whose InitInstance returned true.
    virtual int Run();
    virtual int ExitInstance() { return m_nExitCode; }

    CWnd* m_pMainWnd = nullptr;
    HINSTANCE m_hInstance = nullptr;

protected:
    int m_nExitCode = 0;
};

CWinApp* AfxGetApp();

// Starts Winsock 2.2 for the whole process (cleaned up at exit); false when it can't.
bool AfxSocketInit();

// Hosting of ActiveX controls is not part of this layer; kept so start-up reads as designed.
inline void AfxEnableControlContainer() {}
