// Mavrin.exe records every start in Mavrin.log beside itself.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

std::wstring BinDir() {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path, n);
    return dir.substr(0, dir.find_last_of(L'\\') + 1) + L"..\\bin\\";
}

// A copy of the program in a folder of this run, so the ready-to-copy folder gets no log.
const std::wstring& RunDir() {
    static const std::wstring dir = [] {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        std::wstring made = std::wstring(temp) + L"mavrin-test-" + std::to_wstring(GetCurrentProcessId()) + L"\\";
        CreateDirectoryW(made.c_str(), nullptr);
        DeleteFileW((made + L"Mavrin.log").c_str());
        CopyFileW((BinDir() + L"Mavrin.exe").c_str(), (made + L"Mavrin.exe").c_str(), FALSE);
        return made;
    }();
    return dir;
}

std::string ReadLog() {
    HANDLE h = CreateFileW((RunDir() + L"Mavrin.log").c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return std::string();
    std::string text;
    char buf[4096];
    DWORD n = 0;
    while (ReadFile(h, buf, sizeof buf, &n, nullptr) && n > 0) text.append(buf, n);
    CloseHandle(h);
    return text;
}

// Started from another directory, as the updater starts it, so the log must follow the exe.
DWORD RunMavrin(const std::wstring& args) {
    std::wstring cmd = L"\"" + RunDir() + L"Mavrin.exe\" " + args;
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, temp, &si, &pi)) return 1000;
    DWORD nCode = 1001;
    if (WaitForSingleObject(pi.hProcess, 30000) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &nCode);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return nCode;
}

size_t CountLinesWith(const std::string& text, const std::string& part) {
    size_t nCount = 0;
    for (size_t pos = 0; (pos = text.find(part, pos)) != std::string::npos; pos += part.size()) ++nCount;
    return nCount;
}

TEST(Mavrin, EachStartAppendsOneLineBesideTheProgram) {
    // A token of this run: other tests may start Mavrin.exe at the same time.
    const std::string token = "mavrin-test-" + std::to_string(GetCurrentProcessId()) + "-" +
                              std::to_string(GetTickCount64());
    const std::string before = ReadLog();
    ASSERT_EQ(RunMavrin(std::wstring(token.begin(), token.end()) + L" first"), 0u);
    std::string after = ReadLog();
    EXPECT_EQ(after.compare(0, before.size(), before), 0) << "earlier lines must stay";
    EXPECT_EQ(CountLinesWith(after, "args: " + token + " first\r\n"), 1u) << after;
    EXPECT_EQ(CountLinesWith(after, "Mavrin.exe started "), CountLinesWith(before, "Mavrin.exe started ") + 1);

    ASSERT_EQ(RunMavrin(std::wstring(token.begin(), token.end()) + L" second"), 0u);
    after = ReadLog();
    EXPECT_EQ(CountLinesWith(after, "args: " + token + " first\r\n"), 1u);
    EXPECT_EQ(CountLinesWith(after, "args: " + token + " second\r\n"), 1u);
    const size_t nLine = after.rfind("Mavrin.exe started ", after.find(token + " second"));
    ASSERT_NE(nLine, std::string::npos);
    // "Mavrin.exe started 2024-05-01T12:00:00.123 pid ..."
    const std::string stamp = after.substr(nLine + 19, 23);
    EXPECT_EQ(stamp[4], '-');
    EXPECT_EQ(stamp[10], 'T');
    EXPECT_EQ(stamp[19], '.');
}

}  // namespace
