#include "tests/support/child_process.h"

#include <vector>

std::string ProgramFolder() {
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path);
    folder.erase(folder.find_last_of('\\'));           // tests-bin
    folder.erase(folder.find_last_of('\\') + 1);        // build folder
    return folder + "bin";
}

std::string MakeTempFolder(const std::string& prefix) {
    char temp[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, temp);
    for (unsigned attempt = 0;; ++attempt) {
        std::string folder = std::string(temp) + prefix + std::to_string(::GetCurrentProcessId()) + "-" +
                             std::to_string(::GetTickCount()) + "-" + std::to_string(attempt);
        if (::CreateDirectoryA(folder.c_str(), nullptr)) return folder;
    }
}

bool ChildProcess::Start(const std::string& program, const std::string& arguments, const std::string& workingDir) {
    std::string commandLine = "\"" + program + "\" " + arguments;
    std::vector<char> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!::CreateProcessA(program.c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          workingDir.empty() ? nullptr : workingDir.c_str(), &startup, &info)) {
        return false;
    }
    ::CloseHandle(info.hThread);
    m_process.Reset(info.hProcess);
    m_id = info.dwProcessId;
    return true;
}

bool ChildProcess::WaitForExit(DWORD timeoutMs) {
    return m_process.IsValid() && ::WaitForSingleObject(m_process.Get(), timeoutMs) == WAIT_OBJECT_0;
}

bool ChildProcess::IsRunning() const {
    return m_process.IsValid() && ::WaitForSingleObject(m_process.Get(), 0) == WAIT_TIMEOUT;
}

DWORD ChildProcess::ExitCode() const {
    DWORD code = STILL_ACTIVE;
    if (m_process.IsValid()) ::GetExitCodeProcess(m_process.Get(), &code);
    return code;
}

void ChildProcess::Kill() {
    if (IsRunning()) {
        ::TerminateProcess(m_process.Get(), 99);
        ::WaitForSingleObject(m_process.Get(), 5000);
    }
}

ChildProcess::~ChildProcess() { Kill(); }

namespace {
struct WindowQuery {
    DWORD processId;
    const std::wstring* title;
    const std::wstring* className;
    HWND found;
};

BOOL CALLBACK MatchWindow(HWND hwnd, LPARAM param) {
    WindowQuery* query = reinterpret_cast<WindowQuery*>(param);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(hwnd, &owner);
    if (owner != query->processId || !::IsWindowVisible(hwnd)) return TRUE;
    wchar_t text[256] = {};
    ::GetWindowTextW(hwnd, text, 256);
    if (!query->title->empty() && *query->title != text) return TRUE;
    wchar_t windowClass[256] = {};
    ::GetClassNameW(hwnd, windowClass, 256);
    if (!query->className->empty() && *query->className != windowClass) return TRUE;
    query->found = hwnd;
    return FALSE;
}
}  // namespace

HWND FindProcessWindow(DWORD processId, const std::wstring& title, const std::wstring& className) {
    WindowQuery query = {processId, &title, &className, nullptr};
    ::EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&query));
    return query.found;
}

HWND WaitForProcessWindow(DWORD processId, const std::wstring& title, DWORD timeoutMs, const std::wstring& className) {
    DWORD start = ::GetTickCount();
    for (;;) {
        HWND found = FindProcessWindow(processId, title, className);
        if (found != nullptr || ::GetTickCount() - start > timeoutMs) return found;
        ::Sleep(20);
    }
}
