// The automatic entry of row 0's game happens only while every task has finished when it
// fires, and comes once the list has become all finished by cancelling a failed row.
#include <gtest/gtest.h>

#include "tests/e2e/updater_session.h"

namespace {

const WPARAM kCancelRow = 4;
const UINT_PTR kEnterFirstGameTimer = 3;

class UpdaterAutomaticEntry : public ::testing::Test {
protected:
    void TearDown() override { m_session.Finish(HasFailure()); }

    void ExpectReport(const sUpdateStruct& request, int timeoutMs) {
        sUpdateStruct report = {};
        ASSERT_TRUE(m_session.NextRecord(&report, timeoutMs)) << "no task-ended report for game " << request.nGameID;
        EXPECT_TRUE(IsTaskEndedReport(report, request)) << "got cCmd " << int(report.cCmd) << " for game "
                                                        << report.nGameID;
    }

    UpdaterSession m_session;
};

// Both tasks finished, so the entry is due in 10 s; then a request comes. The timer's tick,
// even when it comes after all, enters nothing while the new task is not finished.
TEST_F(UpdaterAutomaticEntry, AnEntryFiringAfterANewRequestDoesNothing) {
    ASSERT_NO_FATAL_FAILURE(m_session.Start());
    E2eGame first = MakeGame(701, "First", L"First", "first");
    E2eGame second = MakeGame(702, "Second", L"Second", "second");
    m_session.ServeGame(first);
    m_session.ServeGame(second);
    sUpdateStruct firstRequest = m_session.Request(first);
    sUpdateStruct secondRequest = m_session.Request(second);
    ASSERT_NO_FATAL_FAILURE(m_session.SendRecords({firstRequest, secondRequest}));
    ASSERT_NO_FATAL_FAILURE(ExpectReport(firstRequest, 60000));
    ASSERT_NO_FATAL_FAILURE(ExpectReport(secondRequest, 60000));

    E2eGame stuck = MakeGame(703, "Stuck", L"Stuck", "stuck");
    ServedFile stalled{"[config]\r\n"};
    stalled.delayMsBeforeBody = 120000;
    m_session.Server().Serve(m_session.UrlFileTarget(stuck), stalled);
    ASSERT_NO_FATAL_FAILURE(m_session.SendRecords({m_session.Request(stuck)}));
    ASSERT_TRUE(WaitUntil([this] { return m_session.RowCount() == 3; }, 5000));

    ::PostMessageW(m_session.Dialog(), WM_TIMER, kEnterFirstGameTimer, 0);
    sUpdateStruct record = {};
    EXPECT_FALSE(m_session.NextRecord(&record, 2500)) << "got cCmd " << int(record.cCmd) << " for game "
                                                       << record.nGameID;
    EXPECT_FALSE(::IsIconic(m_session.Dialog()));
    EXPECT_TRUE(m_session.Program().IsRunning());
}

TEST_F(UpdaterAutomaticEntry, CancellingAFailedRowWhenTheRestHaveFinishedEntersTheGame) {
    ASSERT_NO_FATAL_FAILURE(m_session.Start());
    E2eGame failing = MakeGame(711, "Failing", L"Failing", "failing");
    E2eGame good = MakeGame(712, "Good", L"Good", "good");
    m_session.ServeGameWithoutList(failing);
    m_session.ServeGame(good);
    sUpdateStruct failingRequest = m_session.Request(failing);
    sUpdateStruct goodRequest = m_session.Request(good);
    ASSERT_NO_FATAL_FAILURE(m_session.SendRecords({failingRequest, goodRequest}));

    HWND box = m_session.WaitForBox(L"提示", 30000);
    ASSERT_NE(nullptr, box) << "the missing list was not reported";
    EXPECT_TRUE(UpdaterSession::CloseBox(box));
    ASSERT_NO_FATAL_FAILURE(ExpectReport(failingRequest, 30000));
    ASSERT_NO_FATAL_FAILURE(ExpectReport(goodRequest, 60000));

    m_session.PostCode(kCancelRow, 0);
    sUpdateStruct record = {};
    ASSERT_TRUE(m_session.NextRecord(&record, 3000)) << "the game was not entered";
    EXPECT_TRUE(IsStartGameRoom(record, good.id)) << "got cCmd " << int(record.cCmd) << " for game "
                                                  << record.nGameID;
    EXPECT_TRUE(m_session.Program().WaitForExit(10000)) << "the program did not close after the entry";
}

}  // namespace
