#pragma once
// HTTP downloads of the update engine: the resumable download with progress for packages and
// programs, the plain one-pass download for everything else, and the thread that picks one.
#include <windows.h>

#include <string>

#include "lobby/update_task.h"

// Fetches `szurl` into g_szAppDir + `szfileName` (one leading backslash dropped), or into a
// new temporary file when `szfileName` is null, resuming a partial file with a Range
// request. Writes the task's dSpeed and fProgress and the row's size text. `filename`
// receives the local path. 0 when the local file is complete, -1 on failure or stop.
int InternetGetFileShowOnList(const char* szurl, const char* szfileName, std::string* filename, int index,
                              UpdateTask* pupdateStruct);

// Fetches `szurl` in one pass into the same kind of local path, replacing what was there.
// 0 when the whole body was written, -1 on failure or stop.
int InternetGetFileOnly(const char* szurl, const char* szfileName, std::string* filename, int index,
                        UpdateTask* pupdateStruct);

// What the worker hands to DownloadThread for one download entry; it waits for the thread,
// so the job outlives it. The task is shared: it lives while the download runs.
struct DownloadJob {
    TaskPtr pupdateStruct;
    std::string filename;
    char szurl[1002] = {};
    char szfileName[262] = {};
    int index = -1;
};

// Packages and programs (".rar", ".zip" or ".exe" anywhere in the lower-cased URL) go to the
// resumable download, everything else to the plain one.
bool UsesResumableDownload(const std::string& url);

// Thread procedure: runs the chosen download for a DownloadJob*; exit code 0 or -1.
DWORD WINAPI DownloadThread(LPVOID job);
