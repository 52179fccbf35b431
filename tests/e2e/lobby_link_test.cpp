// The lobby comes and goes: the real updater connects once it listens, and after it went away
// and came back, takes requests again and delivers the task-ended report it kept meanwhile.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>

#include "tests/e2e/updater_session.h"

namespace {

using Clock = std::chrono::steady_clock;

class UpdaterLobbyLink : public ::testing::Test {
protected:
    void TearDown() override { m_session.Finish(HasFailure()); }

    // Lets the lobby listen again and waits for the updater to connect; prints how long it took.
    void ExpectReconnect(const char* when) {
        ASSERT_TRUE(m_session.Lobby().Listen()) << "the lobby's port could not be bound again";
        Clock::time_point listening = Clock::now();
        ASSERT_TRUE(m_session.Lobby().Accept(3000)) << "the updater did not come back " << when;
        long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - listening).count();
        std::printf("updater reconnected %s after %lld ms\n", when, ms);
        EXPECT_LE(ms, 1500);
    }

    UpdaterSession m_session;
};

TEST_F(UpdaterLobbyLink, ComesBackWhenTheLobbyListensAndDeliversTheReportKeptMeanwhile) {
    m_session.Lobby().StopListening();
    ASSERT_NO_FATAL_FAILURE(m_session.Start(false));
    ::Sleep(3000);
    ASSERT_NO_FATAL_FAILURE(ExpectReconnect("once the lobby listened"));

    E2eGame quick = MakeGame(601, "Quick", L"Quick", "quick");
    ServedFile package{MakeStoredZip(quick.files)};
    package.delayMsBeforeBody = 1500;  // it ends after the lobby has gone
    m_session.ServeGame(quick, &package);
    // The second game's update URL file never comes: its task keeps the program open.
    E2eGame stuck = MakeGame(602, "Stuck", L"Stuck", "stuck");
    ServedFile stalled{"[config]\r\n"};
    stalled.delayMsBeforeBody = 120000;
    m_session.Server().Serve(m_session.UrlFileTarget(stuck), stalled);
    sUpdateStruct quickRequest = m_session.Request(quick);
    ASSERT_NO_FATAL_FAILURE(m_session.SendRecords({quickRequest, m_session.Request(stuck)}));
    ASSERT_TRUE(WaitUntil([this] { return m_session.RowCount() == 2; }, 5000));

    m_session.Lobby().StopListening();
    ASSERT_TRUE(WaitUntil([this] { return MavrinLaunches(m_session) == 1; }, 30000)) << "the first task never ended";
    ::Sleep(1000);  // its end is reported to nobody
    ASSERT_NO_FATAL_FAILURE(ExpectReconnect("after the lobby restarted"));

    sUpdateStruct report = {};
    ASSERT_TRUE(m_session.NextRecord(&report, 5000)) << "the report kept while the lobby was away never came";
    EXPECT_TRUE(IsTaskEndedReport(report, quickRequest)) << "got cCmd " << int(report.cCmd) << " for game "
                                                         << report.nGameID;

    E2eGame later = MakeGame(603, "Later", L"Later", "later");
    ASSERT_NO_FATAL_FAILURE(m_session.SendRecords({m_session.Request(later)}));
    EXPECT_TRUE(WaitUntil([this] { return m_session.RowCount() == 3; }, 5000)) << "the new request was not taken";
    EXPECT_EQ(L"Later", m_session.RowText(2));
}

// The only task ends while the lobby is away: its game can't be entered (that request is never
// sent late), and the automatic close waits for the lobby to hear of the end.
TEST_F(UpdaterLobbyLink, TheAutomaticCloseWaitsForTheReportOfATaskThatEndedWhileTheLobbyWasAway) {
    ASSERT_NO_FATAL_FAILURE(m_session.Start());
    E2eGame only = MakeGame(611, "Only", L"Only", "only");
    ServedFile package{MakeStoredZip(only.files)};
    package.delayMsBeforeBody = 1500;
    m_session.ServeGame(only, &package);
    sUpdateStruct request = m_session.Request(only);
    ASSERT_NO_FATAL_FAILURE(m_session.SendRecords({request}));
    ASSERT_TRUE(WaitUntil([this] { return m_session.RowCount() == 1; }, 5000));

    m_session.Lobby().StopListening();
    ASSERT_TRUE(WaitUntil([this] { return MavrinLaunches(m_session) == 1; }, 30000)) << "the task never ended";
    ::Sleep(3000);  // well past the second after which the close would have come
    ASSERT_TRUE(m_session.Program().IsRunning()) << "closed without telling the lobby";
    ASSERT_NO_FATAL_FAILURE(ExpectReconnect("while the close waited"));

    sUpdateStruct record = {};
    ASSERT_TRUE(m_session.NextRecord(&record, 5000));
    EXPECT_TRUE(IsTaskEndedReport(record, request)) << "got cCmd " << int(record.cCmd);
    EXPECT_TRUE(m_session.Program().WaitForExit(5000)) << "the close did not go on once the report was out";
    EXPECT_FALSE(m_session.NextRecord(&record, 500)) << "a late record, cCmd " << int(record.cCmd);
}

// Two updaters in one folder would share its journals and serials: the second one only brings
// the first to the front and exits, before it reaches the lobby; the first keeps its link.
TEST_F(UpdaterLobbyLink, ASecondUpdaterInTheSameFolderShowsTheFirstAndExits) {
    ASSERT_NO_FATAL_FAILURE(m_session.Start());
    ::ShowWindow(m_session.Dialog(), SW_MINIMIZE);
    ASSERT_TRUE(WaitUntil([this] { return ::IsIconic(m_session.Dialog()) != FALSE; }, 3000));

    ChildProcess second;
    ASSERT_TRUE(second.Start(m_session.Local("updater.exe"), "", m_session.Folder()));
    EXPECT_TRUE(second.WaitForExit(10000)) << "the second updater is still running";
    EXPECT_FALSE(m_session.Lobby().Accept(1000)) << "the second updater connected to the lobby";
    EXPECT_TRUE(WaitUntil([this] { return !::IsIconic(m_session.Dialog()); }, 3000)) << "the first was not shown";

    const E2eGame game = MakeGame(631, "Alpha", L"Alpha", "alpha");
    m_session.Server().Serve(m_session.UrlFileTarget(game), ServedFile{"[config]\r\n"});
    m_session.SendRecords({m_session.Request(game)});
    EXPECT_TRUE(WaitUntil([this] { return m_session.RowCount() == 1; }, 5000)) << "the first lost its link";
}

// Junk on the link, as a broken or hostile lobby sends it: 7 stray bytes before two requests
// in separate writes, 72 junk bytes behind a request in one write. The real updater lists
// exactly the four requests, whole, and nothing else becomes a task.
TEST_F(UpdaterLobbyLink, JunkOnTheLinkIsDroppedAndTheRequestsAroundItAreTaken) {
    ASSERT_NO_FATAL_FAILURE(m_session.Start());
    const std::vector<E2eGame> games = {MakeGame(621, "Alpha", L"Alpha", "alpha"), MakeGame(622, "Beta", L"Beta", "beta"),
                                        MakeGame(623, "Gamma", L"Gamma", "gamma"), MakeGame(624, "Delta", L"Delta", "delta")};
    ServedFile stalled{"[config]\r\n"};
    stalled.delayMsBeforeBody = 120000;  // the tasks stay listed while the test looks
    for (const E2eGame& game : games) m_session.Server().Serve(m_session.UrlFileTarget(game), stalled);
    // The lobby's command byte is carried, never judged: 0 and 255 are requests too.
    auto bytesOf = [this](const E2eGame& game, uint8_t cmd = kCmdRequest) {
        sUpdateStruct request = m_session.Request(game);
        request.cCmd = cmd;
        return std::string(reinterpret_cast<const char*>(&request), sizeof request);
    };
    for (const std::string& write : {std::string("strayby"), bytesOf(games[0]), bytesOf(games[1], 0),
                                     bytesOf(games[2]) + std::string(72, 'x')}) {
        ASSERT_TRUE(m_session.Lobby().Send(write.data(), write.size()));
        ::Sleep(300);  // each write arrives as a read of its own
    }
    ::Sleep(1200);
    const std::string last = bytesOf(games[3], 255);
    ASSERT_TRUE(m_session.Lobby().Send(last.data(), last.size()));

    ASSERT_TRUE(WaitUntil([this] { return m_session.RowCount() >= 4; }, 5000)) << m_session.RowCount() << " rows";
    ::Sleep(500);
    ASSERT_EQ(4, m_session.RowCount());
    const wchar_t* names[] = {L"Alpha", L"Beta", L"Gamma", L"Delta"};
    for (int row = 0; row < 4; ++row) EXPECT_EQ(names[row], m_session.RowText(row)) << "row " << row;
    EXPECT_EQ(nullptr, m_session.WaitForBox(L"提示", 0)) << "a task was made of junk";
}

}  // namespace
