#include "download/download_support.h"

#include <windows.h>
#include <mmsystem.h>

#include "app/process_values.h"
#include "download/download_messages.h"
#include "framework/gbk_text.h"
#include "update/exit_flag.h"

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

bool CreateFolderFor(const std::string& filePath) {
    size_t slash = filePath.find_last_of('\\');
    if (slash == std::string::npos || slash == 0) return false;
    std::string folder = filePath.substr(0, slash);
    std::wstring wideFolder = GbkToWide(folder);
    if (::CreateDirectoryW(wideFolder.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS) return true;
    if (::GetLastError() != ERROR_PATH_NOT_FOUND) return false;
    return CreateFolderFor(folder) && ::CreateDirectoryW(wideFolder.c_str(), nullptr);
}

unsigned RetryPacer::NextDelayMs() {
    unsigned delay = m_nextMs;
    m_nextMs = m_nextMs * 2 > kLongestMs ? kLongestMs : m_nextMs * 2;
    return delay;
}
