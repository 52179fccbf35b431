#pragma once
// HTTP downloads of the update engine: the resumable download with progress for packages and
// programs, the plain one-pass download for everything else, and the thread that picks one.
#include <windows.h>

#include <cstdint>
#include <string>

#include "lobby/update_task.h"

// Fetches `szurl` for `szfileName` when it is a full path, else for g_szAppDir + `szfileName`
// (one leading backslash dropped), or for a new temporary file when `szfileName` is null.
// The bytes go to a side file (side_file.h),
// resumed with Range and If-Range only while it belongs to the server's current file; the
// whole side file replaces the local path once it matches `sha256` (when given). A body is
// whole only at the size the size request or the body announced. Writes the task's dSpeed and
// fProgress and the row's size text. `filename` receives the local path. 0 when the local
// path holds the complete file, -1 on failure or stop (a stop deletes the side file; the
// local path is untouched either way). Ends with a message after eight failed tries in a row
// that got no further, and before any byte when the rest of the file can't fit on the drive.
int InternetGetFileShowOnList(const char* szurl, const char* szfileName, std::string* filename, int index,
                              UpdateTask* pupdateStruct, const std::string& sha256 = std::string());

// Fetches `szurl` in one pass to a side file that replaces the same kind of local path when
// the server answered 2xx and the whole body came (and matches `sha256` when given): as long
// as a HEAD before it or the body itself announced. A body over `maxBytes` (when not 0) is
// refused with a message, so is a file the drive has no room for. 0 when the local path holds
// the new body, -1 on failure or stop.
int InternetGetFileOnly(const char* szurl, const char* szfileName, std::string* filename, int index,
                        UpdateTask* pupdateStruct, const std::string& sha256 = std::string(),
                        uint64_t maxBytes = 0);

// The update URL file, the update list and their signatures are small; an endless one must
// not fill the disk.
constexpr uint64_t kUpdateFileMaxBytes = 1024 * 1024;

// What the worker hands to DownloadThread for one download entry; it waits for the thread,
// so the job outlives it. The task is shared: it lives while the download runs.
struct DownloadJob {
    TaskPtr pupdateStruct;
    std::string filename;
    char szurl[1002] = {};
    char szfileName[262] = {};
    std::string localPath;  // the destination in full, as the worker checked it; empty: szfileName
    int index = -1;
    std::string sha256;  // expected SHA-256 of the file, 64 hex digits; empty: not checked
};

// Packages and programs (".rar", ".zip" or ".exe" anywhere in the lower-cased URL) go to the
// resumable download, everything else to the plain one.
bool UsesResumableDownload(const std::string& url);

// Thread procedure: runs the chosen download for a DownloadJob*; exit code 0 or -1.
DWORD WINAPI DownloadThread(LPVOID job);
