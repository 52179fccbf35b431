#pragma once
// What the engine tests share: a work folder under the test program's folder (the engine
// builds some of its paths from the program file's folder), a recorder in place of message
// boxes, a scripted server that serves the update files, and a way to run the worker to its
// end.
#include <gtest/gtest.h>

#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

#include "lobby/task_queue.h"
#include "tests/support/test_http_server.h"

class CWnd;

struct ShownBox {
    std::string text;
    std::string title;
    UINT type;
};

// One "list%d" section as written in an update list. An empty action leaves the key out.
struct ListEntry {
    std::string action;
    std::string srcfile;
    std::string destfile;
    std::string cmd;
};

// Sections list<first>, list<first+1>, ... for `entries`.
std::string MakeListText(const std::vector<ListEntry>& entries, int first = 0);

// The folder the process started in: where "output.txt" lies.
std::string StartupFolder();

std::string ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);
bool FolderExists(const std::string& path);
// Deletes a folder with everything in it; a missing folder is fine.
void RemoveTree(const std::string& path);

// Lines "Mavrin.exe started" in the Mavrin.log beside the test program.
int MavrinStarts();
// Waits until at least `count` starts are logged; false after `timeoutMs`.
bool WaitForMavrinStarts(int count, DWORD timeoutMs = 10000);

class EngineTest : public ::testing::Test {
protected:
    static constexpr const char* kUrlFile = "/game/update.ini";
    static constexpr const char* kListFile = "/game/list.ini";
    static constexpr const char* kReachable = "/game/reachable.txt";

    void SetUp() override;
    void TearDown() override;
    // Starts over within a test: no boxes, no requests, an empty work folder.
    void Fresh();

    // A path as an update list names it: relative to the program's folder, inside ours.
    std::string Rel(const std::string& name) const { return m_folder + "\\" + name; }
    // The same path in full.
    std::string Full(const std::string& name) const { return m_fullFolder + "\\" + name; }

    std::string UrlFileUrl() const { return m_server.Url(kUrlFile); }
    std::string ListUrl() const { return m_server.Url(kListFile); }

    // Serves the list text at kListFile and an update URL file whose key "main" names it.
    void ServeListText(const std::string& listText);
    // The same for `entries` followed by the end marker.
    void ServeList(const std::vector<ListEntry>& entries);
    // An entry that does nothing but whose source is reachable: lists end with one so that
    // their final reachability test passes.
    ListEntry Reachable() const;

    // A task for the served update URL file with config key "main"; `owner` gets its reports.
    TaskPtr NewTask(int row = -1, CWnd* owner = nullptr);

    // Runs StartUpdateEx for `task` on its own thread and returns its result.
    int RunWorker(const TaskPtr& task);
    // Serves `entries` (with Reachable() after them when `reachableLast`), runs a new task
    // and returns the worker's result.
    int RunList(std::vector<ListEntry> entries, bool reachableLast = true);

    std::vector<ShownBox> Boxes();
    // Expects exactly one box with this text, title and type.
    void ExpectOnlyBox(const std::string& text, const std::string& title, UINT type);
    void ExpectNoBox();

    TestHttpServer m_server;
    std::string m_folder;      // relative to the program's folder
    std::string m_fullFolder;  // the same in full

private:
    std::mutex m_boxMutex;
    std::vector<ShownBox> m_boxes;
};

// Error boxes of the engine and the "提示" notices.
constexpr UINT kErrorBox = MB_OK | MB_ICONERROR;
constexpr UINT kNoticeBox = MB_OK;
