#include "tests/update/engine_fixture.h"

#include <fstream>
#include <sstream>

#include "framework/gbk_text.h"
#include "framework/message_box.h"
#include "framework/scoped_handle.h"
#include "process/exit_flag.h"
#include "process/process_values.h"
#include "tests/support/child_process.h"
#include "update/task_journal.h"
#include "update/trace_log.h"
#include "update/update_paths.h"
#include "update/worker_control.h"

namespace {

std::string CurrentFolder() {
    char folder[MAX_PATH] = {};
    ::GetCurrentDirectoryA(MAX_PATH, folder);
    return folder;
}

// Taken before main: the engine moves the current directory later.
const std::string g_startupFolder = CurrentFolder();
// The trace file lands there, as the program's does in its start-up folder.
const bool g_traceOpened = (OpenTraceLog(), true);

// The worker launches "Mavrin.exe" from the program file's folder, which for these tests is
// the test program's folder: put a copy there for the whole run.
class MavrinEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        m_copy = GetModuleDir() + "\\Mavrin.exe";
        ASSERT_TRUE(::CopyFileA((ProgramFolder() + "\\Mavrin.exe").c_str(), m_copy.c_str(), FALSE))
            << "Mavrin.exe missing in " << ProgramFolder();
        ::DeleteFileA(LogPath().c_str());
    }
    void TearDown() override {
        // The last launched copy may still be running for a moment.
        for (int attempt = 0; attempt < 50 && !::DeleteFileA(m_copy.c_str()); ++attempt) ::Sleep(100);
        ::DeleteFileA(LogPath().c_str());
    }
    static std::string LogPath() { return GetModuleDir() + "\\Mavrin.log"; }

private:
    std::string m_copy;
};

::testing::Environment* const g_mavrinEnvironment = ::testing::AddGlobalTestEnvironment(new MavrinEnvironment);

int g_folderCount = 0;

}  // namespace

std::string StartupFolder() { return g_startupFolder; }

std::string MakeListText(const std::vector<ListEntry>& entries, int first) {
    std::string text;
    int index = first;
    for (const ListEntry& entry : entries) {
        text += "[list" + std::to_string(index++) + "]\r\n";
        if (!entry.action.empty()) text += "action=" + entry.action + "\r\n";
        text += "srcfile=" + entry.srcfile + "\r\n";
        text += "destfile=" + entry.destfile + "\r\n";
        text += "cmd=" + entry.cmd + "\r\n";
    }
    return text;
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

void WriteWholeFile(const std::string& path, const std::string& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool FileExists(const std::string& path) { return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool FolderExists(const std::string& path) {
    DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void RemoveTree(const std::string& path) {
    // Wide calls: the lists write Chinese names, which the ANSI calls cannot name here.
    const std::wstring folder = GbkToWide(path);
    WIN32_FIND_DATAW found;
    HANDLE search = ::FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring child = folder + L"\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(WideToGbk(child));
            } else {
                ::SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                ::DeleteFileW(child.c_str());
            }
        } while (::FindNextFileW(search, &found));
        ::FindClose(search);
    }
    ::RemoveDirectoryW(folder.c_str());
}

int MavrinStarts() {
    std::istringstream log(ReadWholeFile(MavrinEnvironment::LogPath()));
    int count = 0;
    for (std::string line; std::getline(log, line);) count += line.rfind("Mavrin.exe started", 0) == 0;
    return count;
}

bool WaitForMavrinStarts(int count, DWORD timeoutMs) {
    DWORD start = ::GetTickCount();
    while (MavrinStarts() < count) {
        if (::GetTickCount() - start > timeoutMs) return false;
        ::Sleep(20);
    }
    return true;
}

void EngineTest::SetUp() {
    ASSERT_TRUE(m_server.IsListening());
    m_folder = "engine-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(++g_folderCount);
    m_fullFolder = GetModuleDir() + "\\" + m_folder;
    RemoveTree(m_fullFolder);
    ASSERT_TRUE(::CreateDirectoryA(m_fullFolder.c_str(), nullptr));
    // Each test's lists start from their top, whatever an earlier test left unfinished.
    ::DeleteFileW(GbkToWide(TaskJournalPath(ListUrl())).c_str());
    std::snprintf(g_szAppDir, sizeof g_szAppDir, "%s\\", GetModuleDir().c_str());
    g_hMainWnd = nullptr;
    g_pTaskList = nullptr;
    g_bExit = false;
    m_server.Serve(kReachable, ServedFile{"reachable"});
    SetMessageBoxFunction([this](HWND, const std::string& text, const std::string& title, UINT type) {
        std::lock_guard<std::mutex> lock(m_boxMutex);
        m_boxes.push_back({text, title, type});
        return IDOK;
    });
}

void EngineTest::TearDown() {
    SetMessageBoxFunction(nullptr);
    g_bExit = false;
    ::SetCurrentDirectoryA(g_startupFolder.c_str());
    // A program the list started from the folder may still be ending.
    for (int attempt = 0; attempt < 30; ++attempt) {
        RemoveTree(m_fullFolder);
        if (!FolderExists(m_fullFolder)) break;
        ::Sleep(100);
    }
}

void EngineTest::Fresh() {
    {
        std::lock_guard<std::mutex> lock(m_boxMutex);
        m_boxes.clear();
    }
    m_server.ClearRequests();
    g_bExit = false;
    RemoveTree(m_fullFolder);
    ASSERT_TRUE(::CreateDirectoryA(m_fullFolder.c_str(), nullptr));
    ::DeleteFileW(GbkToWide(TaskJournalPath(ListUrl())).c_str());
}

void EngineTest::ServeListText(const std::string& listText) {
    m_server.Serve(kListFile, ServedFile{listText});
    m_server.Serve(kUrlFile, ServedFile{"[config]\r\nmain=" + ListUrl() + "\r\n"});
}

void EngineTest::ServeList(const std::vector<ListEntry>& entries) {
    ServeListText(MakeListText(entries) + "[list" + std::to_string(entries.size()) + "]\r\naction=0\r\n");
}

ListEntry EngineTest::Reachable() const { return {"4", m_server.Url(kReachable), "", ""}; }

TaskPtr EngineTest::NewTask(int row, CWnd* owner) {
    sUpdateStruct request = {};
    request.cCmd = kCmdStartGameRoom;
    request.nGameID = 31;
    SetFieldText(request.szGameName, "demo");
    SetFieldText(request.szUrl, UrlFileUrl());
    SetFieldText(request.szConfigKey, "main");
    return CreateTask(request, owner, row);
}

int EngineTest::RunWorker(const TaskPtr& task) {
    ScopedKernelHandle worker(::CreateThread(nullptr, 0, StartUpdateEx, new TaskPtr(task), 0, nullptr));
    if (!worker.IsValid()) {
        ADD_FAILURE() << "worker thread not started";
        return 1;
    }
    if (::WaitForSingleObject(worker.Get(), 60000) != WAIT_OBJECT_0) {
        ADD_FAILURE() << "worker still running after 60 s";
        g_bExit = true;
        ::WaitForSingleObject(worker.Get(), INFINITE);
    }
    DWORD result = 1;
    ::GetExitCodeThread(worker.Get(), &result);
    return static_cast<int>(result);
}

int EngineTest::RunList(std::vector<ListEntry> entries, bool reachableLast) {
    if (reachableLast) entries.push_back(Reachable());
    ServeList(entries);
    TaskPtr task = NewTask();
    task->nState = kTaskRunning;
    return RunWorker(task);
}

std::vector<ShownBox> EngineTest::Boxes() {
    std::lock_guard<std::mutex> lock(m_boxMutex);
    return m_boxes;
}

void EngineTest::ExpectOnlyBox(const std::string& text, const std::string& title, UINT type) {
    std::vector<ShownBox> boxes = Boxes();
    ASSERT_EQ(1u, boxes.size()) << (boxes.empty() ? "no box" : "first box: " + boxes[0].text);
    EXPECT_EQ(text, boxes[0].text);
    EXPECT_EQ(title, boxes[0].title);
    EXPECT_EQ(type, boxes[0].type);
}

void EngineTest::ExpectNoBox() {
    std::vector<ShownBox> boxes = Boxes();
    EXPECT_TRUE(boxes.empty()) << boxes.size() << " boxes, first: " << boxes[0].title << " / " << boxes[0].text;
}
