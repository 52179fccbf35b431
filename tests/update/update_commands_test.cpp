// Executing update lists: every command word with its success and its failure, downloads,
// and a stop during a download. Each list ends with an entry that would create the folder
// "after", so a test sees whether the list went on past the entry under test.
#include "tests/update/engine_fixture.h"

#include <tlhelp32.h>

#include <set>
#include <thread>

#include "framework/gbk_text.h"
#include "process/exit_flag.h"
#include "process/process_values.h"
#include "tests/support/child_process.h"
#include "tests/update/zip_writer.h"
#include "update/update_paths.h"

namespace {

class UpdateCommands : public EngineTest {
protected:
    ListEntry After() const { return {"1", "", Rel("after"), "CRE"}; }
    bool WentOn() const { return FolderExists(Full("after")); }
    // Runs `entry` followed by After().
    int RunOne(const ListEntry& entry) { return RunList({entry, After()}); }
};

TEST_F(UpdateCommands, DelRemovesAFileAndAcceptsAMissingOne) {
    WriteWholeFile(Full("old.txt"), "old");
    EXPECT_EQ(0, RunList({{"1", "", Rel("old.txt"), "DEL"}, {"1", "", Rel("never.txt"), "DEL"}, After()}));
    ExpectNoBox();
    EXPECT_FALSE(FileExists(Full("old.txt")));
    EXPECT_TRUE(WentOn());
}

TEST_F(UpdateCommands, DelOfAFileInUseFailsAndEndsTheList) {
    WriteWholeFile(Full("locked.txt"), "in use");
    HANDLE locked = ::CreateFileA(Full("locked.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, locked);
    int result = RunOne({"1", "", Rel("locked.txt"), "DEL"});
    ::CloseHandle(locked);
    EXPECT_EQ(-1, result);
    ExpectOnlyBox("删除" + Rel("locked.txt") + "失败.", "错误", kErrorBox);
    EXPECT_TRUE(FileExists(Full("locked.txt")));
    EXPECT_FALSE(WentOn());
}

TEST_F(UpdateCommands, MoveAndCopyReplaceTheirTargets) {
    WriteWholeFile(Full("move-src.txt"), "moved");
    WriteWholeFile(Full("move-dst.txt"), "old target");
    WriteWholeFile(Full("copy-src.txt"), "copied");
    WriteWholeFile(Full("copy-dst.txt"), "old target");
    EXPECT_EQ(0, RunList({{"1", Rel("move-src.txt"), Rel("move-dst.txt"), "MOVE"},
                          {"1", Rel("copy-src.txt"), Rel("copy-dst.txt"), "COPY"},
                          After()}));
    ExpectNoBox();
    EXPECT_FALSE(FileExists(Full("move-src.txt")));
    EXPECT_EQ("moved", ReadWholeFile(Full("move-dst.txt")));
    EXPECT_EQ("copied", ReadWholeFile(Full("copy-src.txt")));
    EXPECT_EQ("copied", ReadWholeFile(Full("copy-dst.txt")));
    EXPECT_TRUE(WentOn());
}

TEST_F(UpdateCommands, MoveAndCopyOfAMissingSourceFail) {
    for (const char* word : {"MOVE", "COPY"}) {
        Fresh();
        std::string src = Rel("missing.txt");
        std::string dst = Rel("target.txt");
        EXPECT_EQ(-1, RunOne({"1", src, dst, word})) << word;
        std::string verb = std::string(word) == "MOVE" ? "移动 " : "复制 ";
        ExpectOnlyBox(verb + src + " 到 " + dst + " 失败.", "错误", kErrorBox);
        EXPECT_FALSE(FileExists(Full("target.txt")));
        EXPECT_FALSE(WentOn()) << word;
    }
}

TEST_F(UpdateCommands, RenRenamesAndReportsAFailureWithItsErrorNumber) {
    WriteWholeFile(Full("before.txt"), "renamed");
    EXPECT_EQ(0, RunOne({"1", Rel("before.txt"), Rel("renamed.txt"), "REN"}));
    ExpectNoBox();
    EXPECT_FALSE(FileExists(Full("before.txt")));
    EXPECT_EQ("renamed", ReadWholeFile(Full("renamed.txt")));
    EXPECT_TRUE(WentOn());

    Fresh();
    EXPECT_EQ(-1, RunOne({"1", Rel("missing.txt"), Rel("renamed.txt"), "REN"}));
    ExpectOnlyBox("rename执行失败,源文件:" + Rel("missing.txt") + ",目标文件:" + Rel("renamed.txt") + ".错误号:" +
                      std::to_string(ERROR_FILE_NOT_FOUND),
                  "错误", kErrorBox);
    EXPECT_FALSE(WentOn());
}

TEST_F(UpdateCommands, AnEmptySourceIsRefusedBeforeMoveCopyOrRen) {
    const struct {
        const char* word;
        const char* message;
    } cases[] = {
        {"MOVE", "执行更新列表文件错误,动作为移动文件但源文件路径为空."},
        {"COPY", "执行更新列表文件错误,动作为复制文件但源文件路径为空."},
        {"REN", "执行更新列表文件错误,动作为重命名但源文件路径为空."},
    };
    for (const auto& c : cases) {
        Fresh();
        WriteWholeFile(Full("target.txt"), "kept");
        EXPECT_EQ(-1, RunOne({"1", "", Rel("target.txt"), c.word})) << c.word;
        ExpectOnlyBox(c.message, "错误", kErrorBox);
        EXPECT_EQ("kept", ReadWholeFile(Full("target.txt")));
        EXPECT_FALSE(WentOn()) << c.word;
    }
}

TEST_F(UpdateCommands, CreMakesOneLevelAndAcceptsAnExistingFolder) {
    ASSERT_TRUE(::CreateDirectoryA(Full("existing").c_str(), nullptr));
    EXPECT_EQ(0, RunList({{"1", "", Rel("new"), "CRE"}, {"1", "", Rel("existing"), "CRE"}, After()}));
    ExpectNoBox();
    EXPECT_TRUE(FolderExists(Full("new")));
    EXPECT_TRUE(WentOn());
}

TEST_F(UpdateCommands, CreTwoLevelsBelowAMissingFolderFails) {
    EXPECT_EQ(-1, RunOne({"1", "", Rel("no\\such"), "CRE"}));
    ExpectOnlyBox("CreateDirectory执行失败,目录:" + Rel("no\\such") + ".错误号:" + std::to_string(ERROR_PATH_NOT_FOUND),
                  "错误", kErrorBox);
    EXPECT_FALSE(FolderExists(Full("no")));
    EXPECT_FALSE(WentOn());
}

TEST_F(UpdateCommands, ExecStartsAProgramAndGoesOn) {
    // A copy of the lobby client stand-in: it logs its start beside itself.
    ASSERT_TRUE(::CopyFileA((ProgramFolder() + "\\Mavrin.exe").c_str(), Full("X.EXE").c_str(), FALSE));
    EXPECT_EQ(0, RunOne({"1", "", Rel("X.EXE"), "EXEC"}));
    ExpectNoBox();
    EXPECT_TRUE(WentOn());
    DWORD start = ::GetTickCount();
    while (ReadWholeFile(Full("Mavrin.log")).find("Mavrin.exe started") == std::string::npos &&
           ::GetTickCount() - start < 10000) {
        ::Sleep(20);
    }
    EXPECT_NE(std::string::npos, ReadWholeFile(Full("Mavrin.log")).find("Mavrin.exe started"));
    // It works in the program's folder, not in the folder the test (the updater) started in.
    EXPECT_NE(std::string::npos, ReadWholeFile(Full("Mavrin.log")).find("cwd: " + GetModuleDir() + " args:"));
}

// Ends the processes that the shell started for this test program (and only those).
void EndChildProcesses() {
    ScopedKernelHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.IsValid()) return;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32First(snapshot.Get(), &entry); more; more = ::Process32Next(snapshot.Get(), &entry)) {
        if (entry.th32ParentProcessID != ::GetCurrentProcessId()) continue;
        if (lstrcmpiA(entry.szExeFile, "Mavrin.exe") == 0) continue;  // ends by itself
        ScopedKernelHandle child(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID));
        if (!child.IsValid()) continue;
        ::TerminateProcess(child.Get(), 0);
        ::WaitForSingleObject(child.Get(), 5000);
    }
}

TEST_F(UpdateCommands, ExecOfADocumentOrAMissingFileGoesOn) {
    WriteWholeFile(Full("notes.txt"), "read me");
    // Only a result of 0 ends the list: a missing file gets a shell error code, not 0.
    EXPECT_EQ(0, RunList({{"1", "", Rel("notes.txt"), "EXEC"}, {"1", "", Rel("missing.txt"), "EXEC"}, After()}));
    ExpectNoBox();
    EXPECT_TRUE(WentOn());
    // The document's viewer was started hidden; nobody would close it.
    ::Sleep(500);
    EndChildProcesses();
}

TEST_F(UpdateCommands, RedcRemovesAFolderWithItsContentAndIgnoresAMissingOne) {
    ASSERT_TRUE(::CreateDirectoryA(Full("tree").c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryA(Full("tree\\sub").c_str(), nullptr));
    WriteWholeFile(Full("tree\\top.txt"), "top");
    WriteWholeFile(Full("tree\\sub\\deep.txt"), "deep");
    EXPECT_EQ(0, RunList({{"1", "", Rel("tree"), "REDC"}, {"1", "", Rel("never"), "REDC"}, After()}));
    ExpectNoBox();
    EXPECT_FALSE(FolderExists(Full("tree")));
    EXPECT_TRUE(WentOn());
}

std::string FullPathOf(const std::string& path) {
    char full[MAX_PATH] = {};
    ::GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
    return full;
}

// A folder beside the program's folder, with a file and an archive in it, that no list may
// reach through a path of the program's folder.
class UpdatePathRules : public UpdateCommands {
protected:
    void SetUp() override {
        UpdateCommands::SetUp();
        m_outside = FullPathOf(GetModuleDir() + "\\..\\" + m_folder + "-outside");
        // The same folder as a list names it relative to the program's folder.
        m_up = Rel("..\\..\\" + m_folder + "-outside");
        RemoveTree(m_outside);
        ASSERT_TRUE(::CreateDirectoryA(m_outside.c_str(), nullptr));
        WriteWholeFile(m_outside + "\\victim.txt", "kept");
        m_zip = MakeStoredZip({{"escaped.txt", "escaped"}});
        WriteWholeFile(m_outside + "\\x.zip", m_zip);
    }
    void TearDown() override {
        RemoveTree(m_outside);
        UpdateCommands::TearDown();
    }
    // Nothing outside was deleted, unpacked, moved or made.
    void ExpectOutsideUntouched(const std::string& what) {
        EXPECT_EQ("kept", ReadWholeFile(m_outside + "\\victim.txt")) << what;
        EXPECT_EQ(m_zip, ReadWholeFile(m_outside + "\\x.zip")) << what;
        for (const char* name : {"escaped.txt", "moved.txt", "made"}) {
            EXPECT_FALSE(FileExists(m_outside + "\\" + name)) << what << ": " << name;
        }
    }
    void ExpectRefused(const ListEntry& entry, const std::string& shown) {
        Fresh();
        ASSERT_TRUE(::CreateDirectoryA(Full("rooted").c_str(), nullptr));
        WriteWholeFile(Full("a.txt"), "a");
        const std::string what = entry.cmd + " " + entry.srcfile + " " + entry.destfile;
        EXPECT_EQ(-1, RunOne(entry)) << what;
        ExpectOnlyBox("执行更新列表文件错误,路径不在程序目录之内:" + shown + ".", "错误", kErrorBox);
        EXPECT_FALSE(WentOn()) << what;
        EXPECT_TRUE(FolderExists(Full("rooted"))) << what;
        EXPECT_EQ("a", ReadWholeFile(Full("a.txt"))) << what;
        ExpectOutsideUntouched(what);
    }
    std::string m_outside;  // in full
    std::string m_up;
    std::string m_zip;
};

// What a list downloads, unpacks or removes as a whole lies in the program's folder: only a
// plain relative path below it is taken, and the path checked is the path used.
TEST_F(UpdatePathRules, DownloadsDecAndRedcTakeOnlyRelativePathsInsideTheProgramFolder) {
    const std::string drive = m_outside.substr(0, 2);
    const std::string fromRoot = m_outside.substr(2);
    m_server.Serve("/files/escaped.txt", ServedFile{"escaped"});
    const std::string url = m_server.Url("/files/escaped.txt");
    const std::string archives[] = {
        m_up + "\\x.zip",                                      // above the folder
        m_outside + "\\x.zip",                                 // absolute
        fromRoot + "\\x.zip",                                  // from the root
        drive + "..\\" + m_folder + "-outside\\x.zip",         // relative to the drive's directory
        "\\\\host\\share\\x.zip",                              // UNC
        "\\\\?\\" + m_outside + "\\x.zip",                     // device forms
        "\\\\.\\" + m_outside + "\\x.zip",
        Rel("x.zip:stream"),                                   // alternate stream
    };
    for (const std::string& archive : archives) ExpectRefused({"1", "", archive, "DEC"}, archive);
    for (const std::string& folder : {m_up, m_outside, "\\" + Rel("rooted"), drive + Rel("rooted")}) {
        ExpectRefused({"1", "", folder, "REDC"}, folder);
    }
    for (const std::string& dest : {m_up + "\\escaped.txt", m_outside + "\\escaped.txt", "\\" + Rel("escaped.txt"),
                                    Rel("a.txt:escaped")}) {
        ExpectRefused({"2", url, dest, ""}, dest);
        EXPECT_FALSE(FileExists(Full("escaped.txt"))) << dest;
    }
}

TEST_F(UpdatePathRules, CommandsRefuseRelativePathsAboveTheProgramFolderAndKeepAbsoluteOnes) {
    const std::string victim = m_up + "\\victim.txt";
    const std::string moved = m_up + "\\moved.txt";
    const struct {
        ListEntry entry;
        std::string shown;
    } refused[] = {
        {{"1", "", victim, "DEL"}, victim},
        {{"1", victim, Rel("moved.txt"), "MOVE"}, victim},
        {{"1", Rel("a.txt"), moved, "MOVE"}, moved},
        {{"1", victim, Rel("copy.txt"), "COPY"}, victim},
        {{"1", Rel("a.txt"), moved, "COPY"}, moved},
        {{"1", victim, Rel("renamed.txt"), "REN"}, victim},
        {{"1", Rel("a.txt"), moved, "REN"}, moved},
        {{"1", "", m_up + "\\made", "CRE"}, m_up + "\\made"},
        {{"1", "", m_up + "\\missing.exe", "EXEC"}, m_up + "\\missing.exe"},
    };
    for (const auto& c : refused) ExpectRefused(c.entry, c.shown);

    // Absolute paths, and paths from the root of the program's drive, act where they point.
    Fresh();
    EXPECT_EQ(0, RunList({{"1", m_outside + "\\victim.txt", Rel("copy.txt"), "COPY"},
                          {"1", "", m_outside.substr(2) + "\\made", "CRE"},
                          {"1", "", Full("copy.txt"), "DEL"},
                          After()}));
    ExpectNoBox();
    EXPECT_EQ("kept", ReadWholeFile(m_outside + "\\victim.txt"));
    EXPECT_TRUE(FolderExists(m_outside + "\\made"));
    EXPECT_FALSE(FileExists(Full("copy.txt")));
    EXPECT_TRUE(WentOn());
}

// The program's folder comes from the program file, not from the current directory, which a
// Chinese folder name under another code page could not set.
TEST_F(UpdateCommands, RelativePathsResolveInTheProgramFolderWhateverTheCurrentDirectory) {
    std::snprintf(g_szAppDir, sizeof g_szAppDir, "%s", "C:\\游戏大厅\\不存在\\");
    ASSERT_TRUE(::SetCurrentDirectoryA(StartupFolder().c_str()));
    m_server.Serve("/files/notes.txt", ServedFile{"notes"});
    m_server.Serve("/pkg/game.zip", ServedFile{MakeStoredZip({{"level.txt", "level"}})});
    EXPECT_EQ(0, RunList({{"2", m_server.Url("/files/notes.txt"), Rel("notes.txt"), ""},
                          {"3", m_server.Url("/pkg/game.zip"), Rel("game.zip"), "DEC"},
                          {"1", "", Rel("dir"), "CRE"},
                          {"1", Rel("notes.txt"), Rel("dir\\copy.txt"), "COPY"},
                          {"1", Rel("level.txt"), Rel("dir\\level.txt"), "MOVE"},
                          {"1", "", Rel("notes.txt"), "DEL"},
                          After()}));
    ExpectNoBox();
    EXPECT_EQ("notes", ReadWholeFile(Full("dir\\copy.txt")));
    EXPECT_EQ("level", ReadWholeFile(Full("dir\\level.txt")));
    EXPECT_FALSE(FileExists(Full("notes.txt")));
    EXPECT_FALSE(FileExists(Full("game.zip")));
    EXPECT_TRUE(WentOn());
    EXPECT_FALSE(FolderExists(StartupFolder() + "\\" + m_folder));
}

TEST(UpdatePaths, OnlyPathsBelowTheFolderAreInside) {
    EXPECT_TRUE(IsInsideFolder("C:\\game\\", "c:\\GAME\\a\\..\\sub/"));
    EXPECT_FALSE(IsInsideFolder("C:\\game", "C:\\game\\."));
    EXPECT_FALSE(IsInsideFolder("C:\\game", "C:\\gamer\\x"));
}

// Under a system code page other than 936 the names must still come out as the list wrote them.
TEST_F(UpdateCommands, ChineseNamesComeOutAsWrittenWhateverTheCodePage) {
    WriteWholeFile(Full("a.txt"), "moved");
    // Both downloads, each to a Chinese name: the plain one, and the resumable one unpacked.
    m_server.Serve("/files/notes.txt", ServedFile{"notes"});
    m_server.Serve("/pkg/game.zip", ServedFile{MakeStoredZip({{"关卡.txt", "level"}})});
    EXPECT_EQ(0, RunList({{"2", m_server.Url("/files/notes.txt"), Rel("笔记.txt"), ""},
                          {"3", m_server.Url("/pkg/game.zip"), Rel("游戏包.zip"), "DEC"},
                          {"1", Rel("a.txt"), Rel("说明.txt"), "MOVE"},
                          {"1", Rel("说明.txt"), Rel("副本.txt"), "COPY"},
                          {"1", Rel("副本.txt"), Rel("改名.txt"), "REN"},
                          {"1", "", Rel("目录"), "CRE"},
                          {"1", "", Rel("目录\\子目录"), "CRE"},
                          {"1", "", Rel("说明.txt"), "DEL"},
                          {"1", "", Rel("目录"), "REDC"},
                          After()}));
    ExpectNoBox();
    std::set<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = ::FindFirstFileW(GbkToWide(Full("*")).c_str(), &found);
    ASSERT_NE(INVALID_HANDLE_VALUE, search);
    do {
        names.insert(found.cFileName);
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    EXPECT_EQ((std::set<std::wstring>{L".", L"..", L"改名.txt", L"笔记.txt", L"关卡.txt", L"after"}), names);
}

TEST_F(UpdateCommands, AWordThatIsNoCommandEndsTheList) {
    const std::string longWord = "DELETEEVERYTHINGNOWPLEASE";
    const std::string words[] = {"del", "Del", "DELE", longWord};
    for (const std::string& word : words) {
        Fresh();
        WriteWholeFile(Full("target.txt"), "kept");
        EXPECT_EQ(-1, RunOne({"1", "", Rel("target.txt"), word})) << word;
        // The word is read into 20 bytes: a longer one is shown cut.
        ExpectOnlyBox("未知的更新命令. " + word.substr(0, 19), "错误", kErrorBox);
        EXPECT_EQ("kept", ReadWholeFile(Full("target.txt")));
        EXPECT_FALSE(WentOn()) << word;
    }
}

class UpdateDownloads : public UpdateCommands {};

TEST_F(UpdateDownloads, ADownloadThenItsCommand) {
    m_server.Serve("/files/tool.txt", ServedFile{"tool body"});
    EXPECT_EQ(0, RunOne({"3", m_server.Url("/files/tool.txt"), Rel("tool.txt"), "DEL"}));
    ExpectNoBox();
    EXPECT_TRUE(WentOn());
    EXPECT_FALSE(FileExists(Full("tool.txt")));
    int gets = 0;
    for (const SeenRequest& request : m_server.Requests()) gets += request.target == "/files/tool.txt" && request.method == "GET";
    EXPECT_EQ(1, gets);
}

TEST_F(UpdateDownloads, AFailedDownloadFailsTheTask) {
    std::string missing = m_server.Url("/files/missing.zip");
    EXPECT_EQ(-1, RunOne({"2", missing, Rel("missing.zip"), ""}));
    // The downloader's own box, and nothing from the engine.
    ASSERT_EQ(1u, Boxes().size());
    EXPECT_EQ("错误", Boxes()[0].title);
    EXPECT_NE(std::string::npos, Boxes()[0].text.find(missing)) << Boxes()[0].text;
    EXPECT_FALSE(WentOn());
}

TEST_F(UpdateDownloads, TheListsChecksumIsCheckedBeforeTheFileIsReplaced) {
    const std::string digest = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";  // of "abc"
    m_server.Serve("/files/tool.txt", ServedFile{"abc"});
    auto listWith = [&](const std::string& sha256) {
        return MakeListText({{"2", m_server.Url("/files/tool.txt"), Rel("tool.txt"), ""}}) + "sha256=" + sha256 +
               "\r\n" + MakeListText({After(), Reachable()}, 1) + "[list3]\r\naction=0\r\n";
    };
    struct Case {
        std::string sha256;
        int result;
        std::string box;
    } cases[] = {
        {digest.substr(1), -1, "解析更新列表文件错误,sha256应为64位十六进制数字.\n目标文件:" + Rel("tool.txt") +
                                   "\nsha256:" + digest.substr(1)},
        {std::string(64, '0'), -1, "校验文件" + Full("tool.txt") + "失败."},
        {digest, 0, ""},
    };
    for (const Case& c : cases) {
        Fresh();
        WriteWholeFile(Full("tool.txt"), "installed");
        ServeListText(listWith(c.sha256));
        TaskPtr task = NewTask();
        task->nState = kTaskRunning;
        EXPECT_EQ(c.result, RunWorker(task)) << c.sha256;
        if (c.box.empty()) {
            ExpectNoBox();
        } else {
            ExpectOnlyBox(c.box, "错误", kErrorBox);
        }
        EXPECT_EQ(c.result == 0 ? "abc" : "installed", ReadWholeFile(Full("tool.txt"))) << c.sha256;
        EXPECT_EQ(c.result == 0, WentOn()) << c.sha256;
    }
}

TEST_F(UpdateDownloads, AStopDuringADownloadLeavesTheInstalledFileAndEndsTheTask) {
    for (bool byExitFlag : {false, true}) {
        Fresh();
        ServedFile slow{std::string(2 * 1024 * 1024, 'z')};
        slow.delayMsPerChunk = 10;
        m_server.Serve("/files/big.zip", slow);
        ServeList({{"2", m_server.Url("/files/big.zip"), Rel("big.zip"), ""}, After(), Reachable()});
        WriteWholeFile(Full("big.zip"), "installed");
        TaskPtr task = NewTask();
        task->nState = kTaskRunning;
        std::thread stopper([&] {
            DWORD start = ::GetTickCount();
            WIN32_FILE_ATTRIBUTE_DATA data = {};
            while (::GetTickCount() - start < 20000) {
                if (::GetFileAttributesExA(Full("big.zip.part").c_str(), GetFileExInfoStandard, &data) &&
                    data.nFileSizeLow > 0) {
                    break;
                }
                ::Sleep(5);
            }
            if (byExitFlag) {
                g_bExit = true;
            } else {
                task->bStop = true;
            }
        });
        EXPECT_EQ(-1, RunWorker(task)) << (byExitFlag ? "exit flag" : "stop flag");
        stopper.join();
        ExpectNoBox();
        EXPECT_EQ("installed", ReadWholeFile(Full("big.zip")));
        EXPECT_FALSE(FileExists(Full("big.zip.part")));
        EXPECT_FALSE(WentOn());
    }
}

}  // namespace
