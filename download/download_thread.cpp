#include <windows.h>

#include "download/internet_download.h"
#include "framework/trace.h"

bool UsesResumableDownload(const std::string& url) {
    std::string lower = url;
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');  // ASCII only: GBK bytes stay
    }
    return lower.find(".rar") != std::string::npos || lower.find(".zip") != std::string::npos ||
           lower.find(".exe") != std::string::npos;
}

DWORD WINAPI DownloadThread(LPVOID param) {
    DownloadJob* job = static_cast<DownloadJob*>(param);
    if (job == nullptr) return static_cast<DWORD>(-1);
    const char* name = job->localPath.empty() ? job->szfileName : job->localPath.c_str();
    try {
        int result = UsesResumableDownload(job->szurl)
                         ? InternetGetFileShowOnList(job->szurl, name, &job->filename, job->index,
                                                     job->pupdateStruct.get(), job->sha256)
                         : InternetGetFileOnly(job->szurl, name, &job->filename, job->index, job->pupdateStruct.get(),
                                               job->sha256);
        return result == -1 ? static_cast<DWORD>(-1) : 0;
    } catch (...) {
        TraceLine("qen: download of %s ended by an exception", job->szurl);
        return static_cast<DWORD>(-1);
    }
}
