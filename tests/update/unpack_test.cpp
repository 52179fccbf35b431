// "DEC": a package downloaded through the resumable download and unpacked by Unzip.dll beside
// itself; and the trace file that records the run.
#include <atomic>
#include <thread>

#include "components/unzip/Unzip.h"
#include "framework/gbk_text.h"
#include "framework/scoped_handle.h"
#include "process/exit_flag.h"
#include "process/process_values.h"
#include "tests/support/test_list_window.h"
#include "tests/update/engine_fixture.h"
#include "tests/update/zip_writer.h"
#include "update/unpack.h"

namespace {

const char kPackage[] = "/pkg/game.zip";

std::string Bytes(size_t size, int seed) {
    std::string bytes(size, '\0');
    uint32_t state = 2166136261u ^ static_cast<uint32_t>(seed);
    for (char& c : bytes) {
        state = state * 16777619u + 12345u;
        c = static_cast<char>(state >> 24);
    }
    return bytes;
}

class Unpack : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        m_level = Bytes(70000, 3);
        m_zip = MakeStoredZip({{"readme.txt", "hello"}, {"data/level1.bin", m_level}});
    }
    ListEntry Dec(const std::string& target, const std::string& archive) const {
        return {"3", m_server.Url(target), Rel(archive), "DEC"};
    }
    std::string m_level;
    std::string m_zip;
};

TEST_F(Unpack, APackageIsUnpackedBesideItselfThenDeleted) {
    m_server.Serve(kPackage, ServedFile{m_zip});
    ServeList({Dec(kPackage, "game.zip"), Reachable()});
    TaskPtr task = NewTask();
    task->nState = kTaskRunning;

    EXPECT_EQ(0, RunWorker(task));

    ExpectNoBox();
    EXPECT_EQ("hello", ReadWholeFile(Full("readme.txt")));
    EXPECT_EQ(m_level, ReadWholeFile(Full("data\\level1.bin")));
    EXPECT_FALSE(FileExists(Full("game.zip")));
    // Still running: only the supervisor, once the whole list ran, calls the task finished.
    EXPECT_EQ(kTaskRunning, task->nState.load());
    EXPECT_EQ(kPhaseUnpacked, task->cPhase.load());  // no row: straight from 0 to 2
    // Fetched by the resumable download: a size request, then a ranged GET from byte 0.
    std::vector<std::string> seen;
    for (const SeenRequest& request : m_server.Requests()) {
        if (request.target == kPackage) seen.push_back(request.method + " " + request.rangeValue);
    }
    EXPECT_EQ((std::vector<std::string>{"HEAD ", "GET bytes=0-"}), seen);
}

TEST_F(Unpack, EveryArchiveOfAListIsUnpacked) {
    m_server.Serve("/pkg/one.zip", ServedFile{MakeStoredZip({{"one.txt", "first"}})});
    m_server.Serve("/pkg/two.zip", ServedFile{MakeStoredZip({{"two/two.txt", "second"}})});
    ServeList({Dec("/pkg/one.zip", "one.zip"), Dec("/pkg/two.zip", "two.zip"), Reachable()});
    TaskPtr task = NewTask();
    task->nState = kTaskRunning;
    EXPECT_EQ(0, RunWorker(task));
    ExpectNoBox();
    EXPECT_EQ("first", ReadWholeFile(Full("one.txt")));
    EXPECT_EQ("second", ReadWholeFile(Full("two\\two.txt")));
    EXPECT_FALSE(FileExists(Full("one.zip")));
    EXPECT_FALSE(FileExists(Full("two.zip")));
    EXPECT_EQ(kTaskRunning, task->nState.load());
}

TEST_F(Unpack, ACorruptPackageIsKeptAndEndsTheTask) {
    std::string corrupt = m_zip;
    corrupt[30 + 10 + 2] ^= 0x55;  // a byte of readme.txt's data: its CRC no longer matches
    m_server.Serve(kPackage, ServedFile{corrupt});
    ServeList({Dec(kPackage, "game.zip"), {"1", "", Rel("after"), "CRE"}, Reachable()});
    TaskPtr task = NewTask();
    task->nState = kTaskRunning;

    EXPECT_EQ(-1, RunWorker(task));

    ExpectOnlyBox("解压文件" + Rel("game.zip") + "失败. 错误号:" + std::to_string(UNZIP_E_CRC) + ".", "错误",
                  kErrorBox);
    EXPECT_EQ(corrupt, ReadWholeFile(Full("game.zip")));
    EXPECT_EQ(kTaskRunning, task->nState.load());
    EXPECT_NE(kPhaseUnpacked, task->cPhase.load());
    EXPECT_FALSE(FolderExists(Full("after")));
}

TEST_F(Unpack, AChineseArchiveNameIsUnpackedAndDeleted) {
    const std::wstring archive = GbkToWide(Full("游戏包.zip"));
    ScopedKernelHandle file(::CreateFileW(archive.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    DWORD written = 0;
    ASSERT_TRUE(::WriteFile(file.Get(), m_zip.data(), static_cast<DWORD>(m_zip.size()), &written, nullptr));
    file.Close();
    EXPECT_EQ(0, RunList({{"1", "", Rel("游戏包.zip"), "DEC"}}));
    ExpectNoBox();
    EXPECT_EQ(m_level, ReadWholeFile(Full("data\\level1.bin")));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(archive.c_str()));
}

// A stop or a close while a large entry is written: the unpack ends without its temporary
// file and without the entry, the archive stays and the task is not finished.
TEST_F(Unpack, AStopDuringAnUnpackEndsItWithoutAPartialFile) {
    const std::string big = MakeStoredZip({{"big.bin", Bytes(64 * 1024 * 1024, 5)}});
    auto partialFileExists = [this] {
        WIN32_FIND_DATAA found;
        HANDLE search = ::FindFirstFileA(Full("~unzip-*").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) return false;
        ::FindClose(search);
        return true;
    };
    for (bool byExitFlag : {false, true}) {
        SCOPED_TRACE(byExitFlag ? "exit flag" : "stop flag");
        Fresh();
        WriteWholeFile(Full("big.zip"), big);
        ServeList({{"1", "", Rel("big.zip"), "DEC"}, Reachable()});
        TaskPtr task = NewTask();
        task->nState = kTaskRunning;
        std::thread stopper([&] {
            for (DWORD start = ::GetTickCount(); !partialFileExists() && ::GetTickCount() - start < 20000;) ::Sleep(2);
            (byExitFlag ? g_bExit : task->bStop) = true;
        });
        EXPECT_EQ(-1, RunWorker(task));
        stopper.join();
        ExpectNoBox();
        EXPECT_FALSE(partialFileExists());
        EXPECT_FALSE(FileExists(Full("big.bin")));
        EXPECT_EQ(big.size(), ReadWholeFile(Full("big.zip")).size());
        EXPECT_EQ(kTaskRunning, task->nState.load());
    }
}

TEST_F(Unpack, ARetryAfterAFailedUnpackDownloadsAfresh) {
    std::string corrupt = m_zip;
    corrupt[30 + 10 + 2] ^= 0x55;
    m_server.Serve(kPackage, ServedFile{corrupt});
    ServeList({Dec(kPackage, "game.zip"), Reachable()});
    TaskPtr task = NewTask();
    task->nState = kTaskRunning;
    EXPECT_EQ(-1, RunWorker(task));

    // Fixed on the server, asked for again: the broken copy on disk is not reused.
    m_server.Serve(kPackage, ServedFile{m_zip});
    TaskPtr retry = NewTask();
    retry->nState = kTaskRunning;
    EXPECT_EQ(0, RunWorker(retry));
    EXPECT_EQ(m_level, ReadWholeFile(Full("data\\level1.bin")));
    EXPECT_EQ(kTaskRunning, retry->nState.load());
}

TEST_F(Unpack, TheTraceFileHoldsExactlyTheLinesOfTheRun) {
    const std::string trace = StartupFolder() + "\\output.txt";
    m_server.Serve(kPackage, ServedFile{m_zip});
    ServeList({Dec(kPackage, "game.zip"), Reachable()});
    size_t before = ReadWholeFile(trace).size();

    EXPECT_EQ(0, RunWorker(NewTask()));

    std::string expected = UrlFileUrl() + "\r\n" +
                           "执行命令:" + m_server.Url(kPackage) + "-----" + Rel("game.zip") + "-----3-----DEC\r\n" +
                           "下载完毕开始解压\r\n"
                           "解压完毕，开始删除文件\r\n"
                           "删除完毕\r\n"
                           "执行命令:" + m_server.Url(kReachable) + "----------4-----\r\n";
    std::string after = ReadWholeFile(trace);
    ASSERT_GE(after.size(), before) << "the trace file was emptied";
    EXPECT_EQ(expected, after.substr(before));
}

// The progress poller on its own, with a stand-in for the library's progress function.
std::atomic<int> g_progressCalls{0};
float CountedProgress(const char* archive) {
    ++g_progressCalls;
    return std::string(archive) == "poll.zip" ? 0.5f : -1.0f;
}

class ProgressPoller : public ::testing::Test {
protected:
    void SetUp() override {
        g_bExit = false;
        g_progressCalls = 0;
        m_rate.szFile = "poll.zip";
        m_rate.pfnUnzip = reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&CountedProgress));
    }
    void TearDown() override {
        g_bExit = false;
        g_pTaskList = nullptr;
    }
    // Polls for `ms`, then ends the poller through `flag`.
    void PollFor(DWORD ms, std::atomic<bool>& flag) {
        ScopedKernelHandle poller(::CreateThread(nullptr, 0, UnzipRateThread, &m_rate, 0, nullptr));
        ASSERT_TRUE(poller.IsValid());
        ::Sleep(ms);
        m_phaseWhilePolling = m_task->cPhase;
        flag = true;
        ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(poller.Get(), 5000));
        DWORD result = 1;
        ::GetExitCodeThread(poller.Get(), &result);
        EXPECT_EQ(0u, result);
    }
    TaskPtr NewTask(int row) {
        sUpdateStruct request = {};
        m_task = CreateTask(request, nullptr, row);
        m_rate.pTask = m_task.get();
        return m_task;
    }
    ZipRate m_rate;
    TaskPtr m_task;
    uint8_t m_phaseWhilePolling = 99;
};

TEST_F(ProgressPoller, PollsEveryTenthOfASecondUntilTheUnpackEnds) {
    TaskPtr task = NewTask(-1);
    task->fProgress = 0.9f;
    PollFor(1000, m_rate.g_bExit);
    EXPECT_GE(g_progressCalls.load(), 7);
    EXPECT_LE(g_progressCalls.load(), 12);
    EXPECT_EQ(0.5f, task->fProgress.load());
    // Without a row the phase goes from 0 straight to 2.
    EXPECT_EQ(kPhaseDownloading, m_phaseWhilePolling);
    EXPECT_EQ(kPhaseUnpacked, task->cPhase.load());
}

TEST_F(ProgressPoller, ARowShowsUnpackingUntilTheEndAndAnExitLeavesIt) {
    TestListWindow window;
    g_pTaskList = &window.List();
    TaskPtr task = NewTask(0);
    PollFor(300, m_rate.g_bExit);
    EXPECT_EQ(kPhaseUnpacking, m_phaseWhilePolling);
    EXPECT_EQ(kPhaseUnpacked, task->cPhase.load());

    task = NewTask(0);
    m_rate.g_bExit = false;
    PollFor(300, g_bExit);
    EXPECT_EQ(kPhaseUnpacking, task->cPhase.load());
}

TEST_F(ProgressPoller, ARecordWithoutTaskIsRefused) {
    EXPECT_EQ(static_cast<DWORD>(-1), UnzipRateThread(nullptr));
    EXPECT_EQ(static_cast<DWORD>(-1), UnzipRateThread(&m_rate));
    EXPECT_EQ(0, g_progressCalls.load());
}

}  // namespace
