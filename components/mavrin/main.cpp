// Mavrin.exe: stands in for the lobby client. It only records that it was started (and in
// which current directory), in Mavrin.log beside itself, so tests can see that the updater
// launched it.
#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>

namespace {

struct FileCloser {
    void operator()(HANDLE h) const { CloseHandle(h); }
};

// The arguments: the command line without the program name, split the way the C runtime does.
const wchar_t* SkipProgramName(const wchar_t* cmd) {
    if (*cmd == L'"') {
        ++cmd;
        while (*cmd && *cmd != L'"') ++cmd;
        if (*cmd) ++cmd;
    } else {
        while (*cmd && *cmd != L' ' && *cmd != L'\t') ++cmd;
    }
    while (*cmd == L' ' || *cmd == L'\t') ++cmd;
    return cmd;
}

// GBK like every text of the system; characters GBK lacks become '?'.
std::string ToGbk(const std::wstring& wide) {
    if (wide.empty()) return std::string();
    int n = WideCharToMultiByte(936, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr,
                                nullptr);
    std::string gbk(n > 0 ? n : 0, '\0');
    if (n > 0)
        WideCharToMultiByte(936, 0, wide.data(), static_cast<int>(wide.size()), &gbk[0], n, nullptr,
                            nullptr);
    return gbk;
}

bool AppendLogLine() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (n == 0) return false;
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        path.resize(path.size() * 2);
    }
    path.resize(path.find_last_of(L"\\/") + 1);
    path += L"Mavrin.log";

    SYSTEMTIME st;
    GetLocalTime(&st);
    char stamp[64];
    snprintf(stamp, sizeof stamp, "%04u-%02u-%02uT%02u:%02u:%02u.%03u", st.wYear, st.wMonth, st.wDay, st.wHour,
             st.wMinute, st.wSecond, st.wMilliseconds);
    // The folder it was started in, so tests can see where its starter put it.
    std::wstring folder(GetCurrentDirectoryW(0, nullptr), L'\0');
    folder.resize(GetCurrentDirectoryW(static_cast<DWORD>(folder.size()), &folder[0]));
    std::string line = std::string("Mavrin.exe started ") + stamp + " pid " +
                       std::to_string(GetCurrentProcessId()) + " cwd: " + ToGbk(folder) +
                       " args: " + ToGbk(SkipProgramName(GetCommandLineW())) + "\r\n";

    // Append-only access makes each single write land whole at the end, even when several
    // copies start at once.
    HANDLE h = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    std::unique_ptr<void, FileCloser> owner(h);
    DWORD nWritten = 0;
    return WriteFile(h, line.data(), static_cast<DWORD>(line.size()), &nWritten, nullptr) &&
           nWritten == line.size();
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    return AppendLogLine() ? 0 : 1;
}
