#pragma once
// Runs a built program of the project as a child process and finds its windows.
#include <windows.h>

#include <string>

#include "framework/scoped_handle.h"

// The folder that holds the built program (bin/, beside the test programs' folder).
std::string ProgramFolder();

// A fresh empty folder under the temporary folder.
std::string MakeTempFolder(const std::string& prefix);

class ChildProcess {
public:
    // Starts `program` (a path) with `arguments` in `workingDir`.
    bool Start(const std::string& program, const std::string& arguments, const std::string& workingDir);
    // Waits for the process to end; false on time-out.
    bool WaitForExit(DWORD timeoutMs);
    bool IsRunning() const;
    DWORD ExitCode() const;
    DWORD Id() const { return m_id; }
    void Kill();
    ~ChildProcess();

private:
    ScopedKernelHandle m_process;
    DWORD m_id = 0;
};

// A visible top-level window of process `processId` with the given title (empty: any title)
// and class (empty: any class); null when there is none.
HWND FindProcessWindow(DWORD processId, const std::wstring& title, const std::wstring& className = L"");

// Polls for such a window until `timeoutMs` has passed.
HWND WaitForProcessWindow(DWORD processId, const std::wstring& title, DWORD timeoutMs,
                          const std::wstring& className = L"");
