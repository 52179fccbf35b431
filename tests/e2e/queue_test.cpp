// The real updater's queue seen from outside: duplicates refused with the right notice, a
// finished game queued again, rows cancelled (waiting, running, finished, the last one), the
// rows that stay renumbered, and the cancel column narrowed while a scroll bar is needed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/updater_session.h"

namespace {

// Codes of the dialog's report message that the task list posts for a click on a row.
const WPARAM kCancelRow = 4;
const WPARAM kEnterGame = 6;

const int kSizeColumn = 1;
const int kCancelColumnFirst = 76;
const int kCancelColumnNarrow = 59;
const int kCancelColumnWide = 75;

class UpdaterQueue : public ::testing::Test {
protected:
    void TearDown() override { m_session.Finish(HasFailure()); }

    void Send(const E2eGame& game) { ASSERT_NO_FATAL_FAILURE(m_session.SendRecords({m_session.Request(game)})); }

    void WaitForRows(int rows) {
        ASSERT_TRUE(WaitUntil([&] { return m_session.RowCount() == rows; }, 5000))
            << "rows: " << m_session.RowCount() << ", expected " << rows;
    }

    // A box with this title and text appears; it is closed again.
    void ExpectBox(const std::wstring& title, const std::wstring& text) {
        HWND box = m_session.WaitForBox(title, 5000);
        ASSERT_NE(nullptr, box) << "no box titled " << ::testing::PrintToString(title);
        EXPECT_EQ(text, UpdaterSession::BoxText(box));
        EXPECT_TRUE(UpdaterSession::CloseBox(box));
    }

    void ExpectReport(const E2eGame& game, int timeoutMs) {
        sUpdateStruct report = {};
        ASSERT_TRUE(m_session.NextRecord(&report, timeoutMs)) << "no task-ended report for game " << game.id;
        EXPECT_TRUE(IsTaskEndedReport(report, m_session.Request(game)))
            << "got cCmd " << int(report.cCmd) << " for game " << report.nGameID;
    }

    void ExpectNoRecord(int timeoutMs) {
        sUpdateStruct record = {};
        EXPECT_FALSE(m_session.NextRecord(&record, timeoutMs))
            << "unexpected cCmd " << int(record.cCmd) << " for game " << record.nGameID;
    }

    void ExpectRows(const std::vector<std::wstring>& names) {
        ASSERT_EQ(static_cast<int>(names.size()), m_session.RowCount());
        for (size_t row = 0; row < names.size(); ++row) {
            EXPECT_EQ(names[row], m_session.RowText(static_cast<int>(row))) << "row " << row;
        }
    }

    int RequestsFor(const std::string& target) {
        int seen = 0;
        for (const SeenRequest& request : m_session.Server().Requests()) {
            if (request.target == target) ++seen;
        }
        return seen;
    }

    UpdaterSession m_session;
};

// One long run, since every start of the program costs seconds. The steps depend on each
// other: the queue each one leaves is the next one's start.
TEST_F(UpdaterQueue, DuplicatesCancelsRenumberingAndTheCancelColumn) {
    ASSERT_NO_FATAL_FAILURE(m_session.Start());
    E2eGame fast = MakeGame(301, "FastGame", L"FastGame", "fast");
    E2eGame slow = MakeGame(302, "SlowGame", L"SlowGame", "slow");
    E2eGame stuck = MakeGame(303, "连连看", L"连连看", "lianliankan");
    // Named like the lobby itself, which can't be entered as a game.
    E2eGame extra = MakeGame(304, "游戏大厅", L"游戏大厅", "extra");
    m_session.ServeGame(fast);
    // The slow package takes about fifteen seconds: long enough to act while it downloads.
    slow.files = {{"big.dat", PatternBytes(7, 1536 * 1024)}};
    ServedFile slowPackage{MakeStoredZip(slow.files)};
    slowPackage.delayMsPerChunk = 150;
    m_session.ServeGame(slow, &slowPackage);
    // The third game's update URL file never comes: its task stays running until cancelled.
    m_session.ServeGame(stuck);
    ServedFile stalled{"[config]\r\nother=http://127.0.0.1:1/none.ini\r\n"};
    stalled.delayMsBeforeBody = 120000;
    m_session.Server().Serve(m_session.UrlFileTarget(stuck), stalled);
    const std::string slowArchive = m_session.Local(m_session.PackageDest(slow));
    const std::string slowSideFile = slowArchive + ".part";  // where the package is downloaded

    // Two requests in one piece of the stream: two tasks, the first runs.
    ASSERT_NO_FATAL_FAILURE(m_session.SendRecords({m_session.Request(fast), m_session.Request(slow)}));
    ASSERT_NO_FATAL_FAILURE(WaitForRows(2));
    ExpectRows({L"FastGame", L"SlowGame"});
    EXPECT_EQ(kCancelColumnFirst, m_session.CancelColumnWidth());
    ASSERT_NO_FATAL_FAILURE(ExpectReport(fast, 60000));
    ExpectGameInstalled(m_session, fast);

    {
        SCOPED_TRACE("while the second task downloads");
        ASSERT_TRUE(WaitUntil([&] { return UpdaterSession::FileSize(slowSideFile) > 0; }, 30000))
            << "the slow package never started to download";
        EXPECT_TRUE(WaitUntil([&] { return m_session.RowText(1, kSizeColumn) == L"1536"; }, 2000))
            << "the row shows the package's size in KB, not " << ::testing::PrintToString(m_session.RowText(1, 1));

        Send(slow);
        ExpectBox(L"提示", L"抱歉,您已经在下载'SlowGame'游戏,不能重复下载");
        EXPECT_EQ(2, m_session.RowCount());

        m_session.PostCode(kEnterGame, 1);
        ExpectBox(L"updater", L"此游戏正在更新, 请您在更新完后再进入游戏");
        ExpectNoRecord(300);
    }
    {
        SCOPED_TRACE("a finished game is queued again; a fourth row narrows the cancel column");
        Send(fast);
        ASSERT_NO_FATAL_FAILURE(WaitForRows(3));
        ExpectRows({L"FastGame", L"SlowGame", L"FastGame"});
        EXPECT_EQ(kCancelColumnFirst, m_session.CancelColumnWidth());
        Send(stuck);
        ASSERT_NO_FATAL_FAILURE(WaitForRows(4));
        EXPECT_EQ(kCancelColumnNarrow, m_session.CancelColumnWidth());
        Send(extra);
        ASSERT_NO_FATAL_FAILURE(WaitForRows(5));
        EXPECT_EQ(kCancelColumnNarrow, m_session.CancelColumnWidth());
    }
    {
        SCOPED_TRACE("duplicates of waiting tasks");
        Send(stuck);
        ExpectBox(L"提示", L"抱歉,您已经添加'连连看'游戏,不能重复添加");
        // The waiting copy counts, not the finished one.
        Send(fast);
        ExpectBox(L"提示", L"抱歉,您已经添加'FastGame'游戏,不能重复添加");
        EXPECT_EQ(5, m_session.RowCount());
    }
    {
        SCOPED_TRACE("entering the lobby's own row does nothing");
        m_session.PostCode(kEnterGame, 4);
        EXPECT_EQ(nullptr, m_session.WaitForBox(L"updater", 500));
        ExpectNoRecord(100);
    }
    {
        SCOPED_TRACE("cancelling waiting tasks reports them");
        m_session.PostCode(kCancelRow, 4);
        ASSERT_NO_FATAL_FAILURE(ExpectReport(extra, 5000));
        ASSERT_NO_FATAL_FAILURE(WaitForRows(4));
        EXPECT_EQ(kCancelColumnNarrow, m_session.CancelColumnWidth());
        m_session.PostCode(kCancelRow, 2);
        ASSERT_NO_FATAL_FAILURE(ExpectReport(fast, 5000));
        ASSERT_NO_FATAL_FAILURE(WaitForRows(3));
        EXPECT_EQ(kCancelColumnWide, m_session.CancelColumnWidth());
        ExpectRows({L"FastGame", L"SlowGame", L"连连看"});
        // Back at three rows, a new fourth one narrows the column again.
        Send(extra);
        ASSERT_NO_FATAL_FAILURE(WaitForRows(4));
        EXPECT_EQ(kCancelColumnNarrow, m_session.CancelColumnWidth());
        m_session.PostCode(kCancelRow, 3);
        ASSERT_NO_FATAL_FAILURE(ExpectReport(extra, 5000));
        ASSERT_NO_FATAL_FAILURE(WaitForRows(3));
        EXPECT_EQ(kCancelColumnWide, m_session.CancelColumnWidth());
    }
    {
        SCOPED_TRACE("cancelling the running task, row 1 of three");
        uint64_t partial = UpdaterSession::FileSize(slowSideFile);
        ASSERT_GT(partial, 0u);
        ASSERT_LT(partial, MakeStoredZip(slow.files).size()) << "the slow package finished too early";
        m_session.PostCode(kCancelRow, 1);
        // The row goes at once; the rows below move up.
        ASSERT_TRUE(WaitUntil([&] { return m_session.RowCount() == 2; }, 1000));
        ExpectRows({L"FastGame", L"连连看"});
        EXPECT_EQ(kCancelColumnWide, m_session.CancelColumnWidth());
        // Its download stops; the lobby still learns of its end, and nothing half-written stays.
        ASSERT_NO_FATAL_FAILURE(ExpectReport(slow, 40000));
        EXPECT_FALSE(UpdaterSession::Exists(slowArchive)) << "the partly downloaded package stayed";
        EXPECT_FALSE(UpdaterSession::Exists(slowSideFile)) << "the partly downloaded package stayed";
        EXPECT_FALSE(UpdaterSession::Exists(m_session.Local("slow\\big.dat")));
        int packageRequests = RequestsFor(m_session.PackageTarget(slow));
        ::Sleep(1000);
        EXPECT_EQ(packageRequests, RequestsFor(m_session.PackageTarget(slow))) << "the download went on";
        // The slot is free: the next waiting task starts.
        EXPECT_TRUE(WaitUntil([&] { return RequestsFor(m_session.UrlFileTarget(stuck)) > 0; }, 5000))
            << "the waiting task did not start";
    }
    {
        SCOPED_TRACE("the finished row's game is entered; removing that row sends no second report");
        m_session.PostCode(kEnterGame, 0);
        sUpdateStruct record = {};
        ASSERT_TRUE(m_session.NextRecord(&record, 3000));
        EXPECT_TRUE(IsStartGameRoom(record, fast.id));
        EXPECT_TRUE(WaitUntil([&] { return ::IsIconic(m_session.Dialog()) != FALSE; }, 1000));
        // A new request shows the minimised dialog again.
        Send(extra);
        ASSERT_NO_FATAL_FAILURE(WaitForRows(3));
        EXPECT_TRUE(WaitUntil([&] { return !::IsIconic(m_session.Dialog()); }, 2000)) << "the dialog stayed minimised";
        m_session.PostCode(kCancelRow, 2);
        ASSERT_NO_FATAL_FAILURE(ExpectReport(extra, 5000));
        ASSERT_NO_FATAL_FAILURE(WaitForRows(2));
        m_session.PostCode(kCancelRow, 0);
        ASSERT_NO_FATAL_FAILURE(WaitForRows(1));
        ExpectRows({L"连连看"});
        ExpectNoRecord(500);
        EXPECT_TRUE(m_session.Program().IsRunning());
    }
    {
        SCOPED_TRACE("cancelling the only task ends the program, and the lobby hears of its end");
        m_session.PostCode(kCancelRow, 0);
        ASSERT_NO_FATAL_FAILURE(ExpectReport(stuck, 5000));
        EXPECT_TRUE(m_session.Program().WaitForExit(10000));
        EXPECT_EQ(0u, m_session.Program().ExitCode());
    }
    // One task at a time: the cancelled waiting tasks never asked the server for anything,
    // and the first game's files were fetched once.
    EXPECT_EQ(0, RequestsFor(m_session.UrlFileTarget(extra)));
    EXPECT_EQ(1, m_session.Server().BodyResponsesSent(m_session.PackageTarget(fast)));
}

}  // namespace
