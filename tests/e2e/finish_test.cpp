// The real updater runs its tasks to the end: each end is reported to the lobby, the game of
// row 0 is entered once every task is done, and the program closes by itself.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>

#include "tests/e2e/updater_session.h"

namespace {

using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

std::string Describe(const sUpdateStruct& record) {
    return "cCmd " + std::to_string(record.cCmd) + ", game " + std::to_string(record.nGameID) + ", name \"" +
           FieldText(record.szGameName) + "\"";
}

class UpdaterRunsTasksToTheEnd : public ::testing::Test {
protected:
    void TearDown() override { m_session.Finish(HasFailure()); }

    // The lobby's next record must be the task-ended report of `request`.
    void ExpectReport(const sUpdateStruct& request, int timeoutMs) {
        sUpdateStruct report = {};
        ASSERT_TRUE(m_session.NextRecord(&report, timeoutMs))
            << "no task-ended report for game " << request.nGameID;
        EXPECT_TRUE(IsTaskEndedReport(report, request)) << "got " << Describe(report);
    }

    // The next record must ask for the game's room; then the dialog minimises.
    void ExpectGameEntered(int32_t gameId, int timeoutMs) {
        sUpdateStruct record = {};
        ASSERT_TRUE(m_session.NextRecord(&record, timeoutMs)) << "no start-game-room request";
        EXPECT_TRUE(IsStartGameRoom(record, gameId)) << "got " << Describe(record);
        EXPECT_TRUE(WaitUntil([this] { return ::IsIconic(m_session.Dialog()) != FALSE; }, 1000))
            << "the dialog did not minimise";
    }

    // The program ends by itself about a second after the game was entered.
    void ExpectEndAfterAboutOneSecond(Clock::time_point entered) {
        ASSERT_TRUE(m_session.Program().WaitForExit(10000)) << "the program did not end";
        long long ms = MsSince(entered);
        EXPECT_GE(ms, 700);
        EXPECT_LE(ms, 4000);
        EXPECT_EQ(0u, m_session.Program().ExitCode());
    }

    UpdaterSession m_session;
};

TEST_F(UpdaterRunsTasksToTheEnd, OneTaskIsReportedItsGameEnteredAndTheProgramEnds) {
    ASSERT_NO_FATAL_FAILURE(m_session.Start());
    E2eGame game = MakeGame(101, "Gobang", L"Gobang", "gobang");
    m_session.ServeGame(game);
    sUpdateStruct request = m_session.Request(game);
    ASSERT_NO_FATAL_FAILURE(m_session.SendRecords({request}));

    EXPECT_TRUE(WaitUntil([this] { return m_session.RowCount() == 1; }, 5000));
    EXPECT_EQ(L"Gobang", m_session.RowText(0));

    ASSERT_NO_FATAL_FAILURE(ExpectReport(request, 60000));
    // With only one task, its end is everything: the game is entered at once.
    ASSERT_NO_FATAL_FAILURE(ExpectGameEntered(game.id, 2000));
    Clock::time_point entered = Clock::now();
    ASSERT_NO_FATAL_FAILURE(ExpectEndAfterAboutOneSecond(entered));

    ExpectGameInstalled(m_session, game);
    EXPECT_TRUE(WaitUntil([this] { return MavrinLaunches(m_session) == 1; }, 5000))
        << "the lobby client was not launched once";
    // The program closed its end of the link on the way out.
    sUpdateStruct stray = {};
    EXPECT_FALSE(m_session.NextRecord(&stray, 2000));
}

// The lobby's stream is cut anywhere: the first record arrives in two pieces, the second
// piece also carries the head of the next record. Each record still makes exactly one task.
// A third request arrives while the automatic entry is pending.
TEST_F(UpdaterRunsTasksToTheEnd, TasksFromSplitRecordsEndWithRowZeroEnteredTenSecondsAfterTheLastEnd) {
    ASSERT_NO_FATAL_FAILURE(m_session.Start());
    E2eGame first = MakeGame(201, "Chess", L"Chess", "chess");
    E2eGame second = MakeGame(202, "象棋", L"象棋", "xiangqi");
    second.keyInUrlFile = false;  // found through the URL file's "other" entry
    // Held back a little, so the first task still runs when the second request is complete.
    ServedFile firstPackage{MakeStoredZip(first.files)};
    firstPackage.delayMsBeforeBody = 1500;
    m_session.ServeGame(first, &firstPackage);
    m_session.ServeGame(second);
    sUpdateStruct firstRequest = m_session.Request(first);
    sUpdateStruct secondRequest = m_session.Request(second);
    ASSERT_NO_FATAL_FAILURE(m_session.SendRecords({firstRequest, secondRequest}, {700, 1500, 2000}));

    EXPECT_TRUE(WaitUntil([this] { return m_session.RowCount() == 2; }, 5000));
    EXPECT_EQ(L"Chess", m_session.RowText(0));
    EXPECT_EQ(L"象棋", m_session.RowText(1));

    // One task at a time, in queue order.
    ASSERT_NO_FATAL_FAILURE(ExpectReport(firstRequest, 60000));
    ASSERT_NO_FATAL_FAILURE(ExpectReport(secondRequest, 60000));

    // A request while the entry is pending puts it off: the new task runs first (its package
    // takes longer than the 10 s), and the count starts again at its end.
    E2eGame third = MakeGame(203, "Bridge", L"Bridge", "bridge");
    ServedFile thirdPackage{MakeStoredZip(third.files)};
    thirdPackage.delayMsPerChunk = 4000;
    m_session.ServeGame(third, &thirdPackage);
    sUpdateStruct thirdRequest = m_session.Request(third);
    ASSERT_NO_FATAL_FAILURE(m_session.SendRecords({thirdRequest}));
    ASSERT_NO_FATAL_FAILURE(ExpectReport(thirdRequest, 60000));
    Clock::time_point allDone = Clock::now();
    EXPECT_FALSE(::IsIconic(m_session.Dialog()));
    EXPECT_EQ(3, m_session.RowCount());

    ASSERT_NO_FATAL_FAILURE(ExpectGameEntered(first.id, 15000));
    Clock::time_point entered = Clock::now();
    long long waited = std::chrono::duration_cast<std::chrono::milliseconds>(entered - allDone).count();
    EXPECT_GE(waited, 9000);
    EXPECT_LE(waited, 12500);
    ASSERT_NO_FATAL_FAILURE(ExpectEndAfterAboutOneSecond(entered));

    ExpectGameInstalled(m_session, first);
    ExpectGameInstalled(m_session, second);
    ExpectGameInstalled(m_session, third);
    EXPECT_TRUE(WaitUntil([this] { return MavrinLaunches(m_session) == 3; }, 5000))
        << "each list's end launches the lobby client";
}

// A list that only downloads, with no archive to unpack, still runs to its end: finished.
TEST_F(UpdaterRunsTasksToTheEnd, AListWithoutAnArchiveFinishesItsTaskAndItsGameIsEntered) {
    ASSERT_NO_FATAL_FAILURE(m_session.Start());
    E2eGame game = MakeGame(102, "Mahjong", L"Mahjong", "mahjong");
    game.unpack = false;
    m_session.ServeGame(game);
    sUpdateStruct request = m_session.Request(game);
    ASSERT_NO_FATAL_FAILURE(m_session.SendRecords({request}));

    ASSERT_NO_FATAL_FAILURE(ExpectReport(request, 60000));
    ASSERT_NO_FATAL_FAILURE(ExpectGameEntered(game.id, 2000));
    ASSERT_NO_FATAL_FAILURE(ExpectEndAfterAboutOneSecond(Clock::now()));
    EXPECT_EQ(nullptr, m_session.WaitForBox(L"updater", 0)) << "the updating notice showed";

    // The package was downloaded and left packed.
    EXPECT_EQ(MakeStoredZip(game.files), UpdaterSession::ReadWholeFile(m_session.Local(m_session.PackageDest(game))));
    EXPECT_FALSE(UpdaterSession::Exists(m_session.Local(game.folder + "\\readme.txt")));
    EXPECT_TRUE(WaitUntil([this] { return MavrinLaunches(m_session) == 1; }, 5000));
}

// The first game fails (its update list is missing), the queue moves on to the second; the
// failed game is never entered and the program stays open. Asked again, the failed game is a
// new task; closing during its slowed-down download is immediate.
TEST_F(UpdaterRunsTasksToTheEnd, AFailedTaskNeitherStopsTheQueueNorEntersItsGameAndClosingIsImmediate) {
    ASSERT_NO_FATAL_FAILURE(m_session.Start());
    E2eGame failing = MakeGame(401, "Poker", L"Poker", "poker");
    E2eGame second = MakeGame(402, "Go", L"Go", "go");
    m_session.ServeGameWithoutList(failing);
    m_session.ServeGame(second);
    sUpdateStruct failingRequest = m_session.Request(failing);
    sUpdateStruct secondRequest = m_session.Request(second);
    ASSERT_NO_FATAL_FAILURE(m_session.SendRecords({failingRequest, secondRequest}));

    HWND box = m_session.WaitForBox(L"提示", 30000);
    ASSERT_NE(nullptr, box) << "the missing list was not reported";
    EXPECT_TRUE(UpdaterSession::CloseBox(box));
    ASSERT_NO_FATAL_FAILURE(ExpectReport(failingRequest, 30000));
    ASSERT_NO_FATAL_FAILURE(ExpectReport(secondRequest, 60000));
    ExpectGameInstalled(m_session, second);

    // Several tasks would be entered 10 s after the last end; a failed one never is.
    sUpdateStruct record = {};
    EXPECT_FALSE(m_session.NextRecord(&record, 15000)) << "got " << Describe(record);
    ASSERT_TRUE(m_session.Program().IsRunning());
    EXPECT_EQ(2, m_session.RowCount());

    // Asked again: a new task, with a package slow enough to close the program while it comes.
    failing.files = {{"big.dat", PatternBytes(5, 1536 * 1024)}};
    ServedFile slowPackage{MakeStoredZip(failing.files)};
    slowPackage.delayMsPerChunk = 150;
    m_session.ServeGame(failing, &slowPackage);
    ASSERT_NO_FATAL_FAILURE(m_session.SendRecords({failingRequest}));
    EXPECT_TRUE(WaitUntil([this] { return m_session.RowCount() == 3; }, 5000)) << "the retry was refused";
    ASSERT_TRUE(WaitUntil(
        [&] {
            for (const SeenRequest& seen : m_session.Server().Requests())
                if (seen.method == "GET" && seen.target == m_session.PackageTarget(failing)) return true;
            return false;
        },
        30000))
        << "the retry never started its download";
    ::Sleep(500);  // the body is on its way

    ::PostMessageW(m_session.Dialog(), WM_COMMAND, IDCANCEL, 0);
    HWND confirm = m_session.WaitForBox(L"取消下载", 5000);
    ASSERT_NE(nullptr, confirm);
    Clock::time_point yes = Clock::now();
    ::PostMessageW(confirm, WM_COMMAND, IDYES, 0);
    HWND dialog = m_session.Dialog();
    ASSERT_TRUE(WaitUntil([dialog] { return !::IsWindow(dialog) || !::IsWindowVisible(dialog); }, 10000));
    long long hidden = MsSince(yes);
    ASSERT_TRUE(m_session.Program().WaitForExit(10000));
    long long ended = MsSince(yes);
    std::printf("close during a download: window gone after %lld ms, process ended after %lld ms\n", hidden, ended);
    EXPECT_LE(hidden, 1000);
    EXPECT_LE(ended, 3000);
    EXPECT_EQ(0u, m_session.Program().ExitCode());
}

}  // namespace
