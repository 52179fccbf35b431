#pragma once
// The two update files of a task: the update URL file the request names, and the update list
// it points to. Both are fetched into memory, verified there when a publisher key is
// installed, and read from those same bytes; the check pass looks at the whole list before
// anything of it runs, and the execution pass runs the entries read here.
#include <cstddef>
#include <string>
#include <vector>

#include "lobby/update_task.h"
#include "update/profile_text.h"
#include "update/publisher_key.h"

// One "list%d" section as read.
struct UpdateListEntry {
    int action = -1;  // 0 end marker, -1 missing; bit 1 command, bit 2 download
    std::string srcfile;
    std::string destfile;
    std::string cmd;
    std::string sha256;  // a download entry's expected SHA-256 (64 hex digits); empty: none given
    std::string manifest;  // the SHA-256 of the package's manifest; empty: the package has none
};

constexpr int kActionCommand = 1;
constexpr int kActionDownload = 2;
constexpr size_t kSrcFileCapacity = 1000;  // the same in both passes: a long URL is never cut

// An update file as fetched: where from, its exact bytes (the ones verified), and their reading.
struct UpdateFile {
    std::string url;
    std::string bytes;
    ProfileText text;
};

// The update list: its entries "list0", "list1", ... in order, read once, up to the first
// section whose "action" is 0 (the end marker) or -1 (missing or unreadable).
struct UpdateList {
    UpdateFile file;
    std::vector<UpdateListEntry> entries;
    bool endMarkerFound = false;  // false: the section after the last entry has no usable action

    // The "action" of section "list<index>": the entry's own, then 0 at the end marker or
    // -1 where the reading stopped.
    int ActionAt(size_t index) const;
};

// Reads the entries of a fetched list.
UpdateList ParseUpdateList(UpdateFile file);

// The URL can be opened and does not answer 404.
bool IsUrlReachable(const std::string& url);

// The same test, telling the user why it failed: a 404 with the notice
// "更新URL(%s)文件不存在.", anything else (a refused redirect, a bad URL, a refused
// certificate, no connection) with the message a fetch of the URL would show.
bool ConfirmUrlReachable(const std::string& url);

// Fetches `url` into memory (refusing one over kUpdateFileMaxBytes) and reads it. Shows the
// download's messages; false ends the task.
bool FetchUpdateFile(UpdateTask* task, const std::string& url, UpdateFile* file);

// With a publisher key loaded, `file` counts only when the signature fetched from its URL +
// ".sig" verifies over its bytes: else "更新文件%s的签名无效." with the URL. Without a key every
// file counts. False ends the task.
bool CheckUpdateFileSignature(UpdateTask* task, const PublisherKey& key, const UpdateFile& file);

// Fetches the update URL file and then the update list it names. With a publisher key
// installed each is used only when its signature verifies; with a malformed key nothing is
// fetched. Shows its own messages; false ends the task.
bool ReadUpdateURLFile(UpdateTask* task, UpdateList* list);

// Checks every entry up to the end marker and that the last entry's source is reachable;
// with a publisher key installed every download entry must carry its sha256. Shows its own
// messages; false ends the task.
bool CheckUpdateList(UpdateTask& task, const UpdateList& list);
