#include "download/download_support.h"

#include <windows.h>
#include <mmsystem.h>
#include <wininet.h>

#include <atomic>

#include "download/download_messages.h"
#include "framework/gbk_text.h"
#include "process/exit_flag.h"
#include "process/process_values.h"

namespace {
// "C:\..." or "\\host\...": a path the caller has already resolved.
bool IsFullPath(const char* name) {
    bool drive = ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z')) && name[1] == ':' &&
                 name[2] == '\\';
    return drive || (name[0] == '\\' && name[1] == '\\');
}
}  // namespace

bool PrepareLocalPath(const char* szfileName, std::string* path) {
    if (szfileName != nullptr && IsFullPath(szfileName)) {
        *path = szfileName;
        return true;
    }
    if (szfileName != nullptr) {
        const char* name = szfileName[0] == '\\' ? szfileName + 1 : szfileName;
        *path = std::string(g_szAppDir) + name;
        return true;
    }
    wchar_t tempDir[MAX_PATH + 1] = {};
    DWORD length = ::GetTempPathW(MAX_PATH, tempDir);
    if (length == 0 || length > MAX_PATH) {
        ShowDownloadError("获取临时文件路径出错.");
        return false;
    }
    wchar_t tempFile[MAX_PATH + 1] = {};
    if (::GetTempFileNameW(tempDir, L"kvw", 0, tempFile) == 0) {
        ShowDownloadError("获取临时文件名出错.");
        return false;
    }
    *path = WideToGbk(tempFile);
    return true;
}

bool StopRequested(const UpdateTask& task) { return g_bExit || task.bStop; }

bool WaitUnlessStopped(const UpdateTask& task, unsigned ms) {
    const unsigned kSliceMs = 50;
    for (unsigned waited = 0; waited < ms; waited += kSliceMs) {
        if (StopRequested(task)) return false;
        ::Sleep(ms - waited < kSliceMs ? ms - waited : kSliceMs);
    }
    return !StopRequested(task);
}

std::string UserAgent() { return FormatText("Agent%ld", static_cast<long>(::timeGetTime())); }

DWORD SessionAccessType(DWORD connectionFlags) {
    return (connectionFlags & INTERNET_CONNECTION_PROXY) ? INTERNET_OPEN_TYPE_PRECONFIG
                                                         : INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY;
}

namespace {
bool CreateFolderForWide(const std::wstring& filePath) {
    size_t slash = filePath.find_last_of(L'\\');
    if (slash == std::wstring::npos || slash == 0) return false;
    std::wstring folder = filePath.substr(0, slash);
    if (::CreateDirectoryW(folder.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS) return true;
    if (::GetLastError() != ERROR_PATH_NOT_FOUND) return false;
    return CreateFolderForWide(folder) && ::CreateDirectoryW(folder.c_str(), nullptr);
}
}  // namespace

// Wide text: a GBK character's second byte can be a backslash.
bool CreateFolderFor(const std::string& filePath) { return CreateFolderForWide(GbkToWide(filePath)); }

bool RoomToDownload(const std::string& filePath, uint64_t bytes, const std::string& shownName) {
    ULARGE_INTEGER available = {};
    // Wide text: a GBK character's second byte can be a backslash.
    std::wstring folder = GbkToWide(filePath);
    for (;;) {
        size_t slash = folder.find_last_of(L'\\');
        if (slash == std::wstring::npos) return true;
        folder.erase(slash);
        if (::GetDiskFreeSpaceExW((folder + L"\\").c_str(), &available, nullptr, nullptr)) break;
    }
    if (bytes <= available.QuadPart) return true;
    // Rounded up without adding first: (bytes + 1023) wraps near 2^64.
    ShowDownloadError(FormatText("磁盘空间不足,无法下载%s.\n需要%lluKB,可用%lluKB.", shownName.c_str(),
                                 static_cast<unsigned long long>(bytes / 1024 + (bytes % 1024 != 0)),
                                 static_cast<unsigned long long>(available.QuadPart / 1024)));
    return false;
}

unsigned RetryPacer::NextDelayMs() {
    unsigned delay = m_nextMs;
    m_nextMs = m_nextMs * 2 > kLongestMs ? kLongestMs : m_nextMs * 2;
    return delay;
}

namespace {
std::atomic<DWORD> g_lastConnectionFlags{0};
std::function<bool(DWORD*)> g_connectedStateAnswer;
}  // namespace

void SetConnectedStateAnswer(std::function<bool(DWORD*)> answer) { g_connectedStateAnswer = std::move(answer); }

bool AskConnectedState(DWORD* flags) {
    *flags = 0;
    const bool connected = g_connectedStateAnswer ? g_connectedStateAnswer(flags) : InternetGetConnectedState(flags, 0);
    if (!connected) return false;
    g_lastConnectionFlags = *flags;
    return true;
}

DWORD LastConnectionFlags() { return g_lastConnectionFlags; }

ConnectionCheck::ConnectionCheck() : m_thread([this] { m_connected = AskConnectedState(&m_flags); }) {}

ConnectionCheck::~ConnectionCheck() {
    if (m_thread.joinable()) m_thread.join();
}

bool ConnectionCheck::Connected(DWORD* flags) {
    if (m_thread.joinable()) m_thread.join();
    *flags = m_flags;
    return m_connected != FALSE;
}

void RaiseConnectionLimits() {
    DWORD most = 16;
    InternetSetOptionA(nullptr, INTERNET_OPTION_MAX_CONNS_PER_SERVER, &most, sizeof most);
    InternetSetOptionA(nullptr, INTERNET_OPTION_MAX_CONNS_PER_1_0_SERVER, &most, sizeof most);
}
