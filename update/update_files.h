#pragma once
// The two update files of a task: the update URL file the request names, and the update list
// it points to, with the check that the whole list passes before anything runs.
#include <string>

#include "lobby/update_task.h"

// One "list%d" section as read. srcfile is read with the given capacity (bytes, NUL included).
struct UpdateListEntry {
    int action = -1;  // 0 end marker, -1 missing; bit 1 command, bit 2 download
    std::string srcfile;
    std::string destfile;
    std::string cmd;
    std::string sha256;  // a download entry's expected SHA-256 (64 hex digits); empty: none given
};

constexpr int kActionCommand = 1;
constexpr int kActionDownload = 2;
constexpr size_t kSrcFileCapacity = 1000;  // the same in both passes: a long URL is never cut

int ReadListAction(const std::string& listPath, int index);
UpdateListEntry ReadListEntry(const std::string& listPath, int index);

// The URL can be opened and does not answer 404.
bool IsUrlReachable(const std::string& url);

// Fetches the update URL file and then the update list it names (both to temporary files;
// the URL file is deleted once read, the list is the caller's on success). With a publisher key installed each is used only when its signature verifies; with a
// malformed key nothing is fetched. Shows its own messages; false ends the task.
bool ReadUpdateURLFile(UpdateTask* task, std::string* listPath, std::string* listUrl);

// Fetches an update file (or its signature) to a new temporary file, refusing one over
// kUpdateFileMaxBytes; 0 or -1 as the plain download. A failed fetch leaves no file.
int FetchUpdateFile(const std::string& url, UpdateTask* task, std::string* path);
// Deletes a fetched update file once it is no longer needed.
void DeleteUpdateFile(const std::string& path);

// Checks every entry up to the end marker and that the last entry's source is reachable;
// with a publisher key installed every download entry must carry its sha256. Shows its own
// messages; false ends the task.
bool CheckUpdateList(UpdateTask& task, const std::string& listPath, const std::string& listUrl);
