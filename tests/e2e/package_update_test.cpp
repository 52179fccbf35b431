// Two releases of a game served by a native nginx (with_nginx.sh): the real updater, having
// installed the first, fetches of the second only the entries it lacks, and the game's folder
// ends as Info-ZIP's `unzip -o` of the second over the first leaves it. Skipped without the
// wrapper.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <sstream>
#include <vector>

#include "framework/gbk_text.h"
#include "framework/scoped_handle.h"
#include "tests/e2e/updater_session.h"

namespace {

// What nginx sent for the update fixture's files during one task.
struct Sent {
    uint64_t bytes = 0;    // every response, headers included
    uint64_t zipBody = 0;  // the bodies of a zip's responses (not its manifest's)
};

class UpdaterPackageUpdate : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HasNginxPackage()) GTEST_SKIP() << "runs under tests/support/with_nginx.sh";
        m_session.Server().Serve(m_session.UrlFileTarget(m_game),
                                 ServedFile{"[config]\r\n" + m_game.configKey + "=" + m_session.Server().Url(kList) + "\r\n"});
    }
    void TearDown() override {
        if (HasNginxPackage()) m_session.Finish(HasFailure());
    }

    // Runs one task whose list installs `zip` (under the fixture's www/, release `release`) into
    // `folder`; the updater is started, or started again beside the previous run's state files.
    // What nginx sent for it goes to m_sent.
    void Install(const std::string& zip, const std::string& release, const std::string& folder) {
        const std::string manifest = UpdaterSession::ReadWholeFile(NginxFixture("upd/" + release + ".sha256")).substr(0, 64);
        m_session.Server().Serve(kList, ServedFile{ManifestList(folder, zip, manifest)});
        const std::string log = NginxFixture("upd/upd.log");
        const uint64_t logStart = UpdaterSession::FileSize(log);
        if (m_session.Folder().empty()) {
            ASSERT_NO_FATAL_FAILURE(m_session.Start());
        } else if (m_ran) {
            ASSERT_NO_FATAL_FAILURE(m_session.Relaunch());
        }
        m_ran = true;
        ASSERT_NO_FATAL_FAILURE(m_session.SendRecords({m_session.Request(m_game)}));
        const DWORD start = ::GetTickCount();
        sUpdateStruct report = {};
        while (!m_session.NextRecord(&report, 20)) {
            ASSERT_LT(::GetTickCount() - start, 60000u) << "the task never ended";
            if (HWND box = m_session.WaitForBox(L"错误", 0)) {
                ADD_FAILURE() << WideToGbk(UpdaterSession::BoxText(box));
                UpdaterSession::CloseBox(box);
            }
        }
        m_lastTaskMs = ::GetTickCount() - start;
        EXPECT_TRUE(IsTaskEndedReport(report, m_session.Request(m_game)));
        std::istringstream lines(UpdaterSession::ReadWholeFile(log).substr(logStart));
        std::string uri;
        uint64_t sent = 0;
        uint64_t body = 0;
        m_sent = Sent();
        while (lines >> uri >> sent >> body) {
            m_sent.bytes += sent;
            if (uri.size() > 4 && uri.compare(uri.size() - 4, 4, ".zip") == 0) m_sent.zipBody += body;
        }
    }

    Tree Folder(const std::string& folder) const { return Snapshot(m_session.Local(folder)); }

    static constexpr const char* kList = "/upd/list.ini";
    UpdaterSession m_session;
    E2eGame m_game = MakeGame(602, "Update", L"Update", "game");
    Sent m_sent;
    DWORD m_lastTaskMs = 0;
    bool m_ran = false;
};

TEST_F(UpdaterPackageUpdate, FetchesOnlyWhatChangedNothingForTheSameReleaseAndAFileChangedByHand) {
    ASSERT_NO_FATAL_FAILURE(Install("upd/v1.zip", "v1", "game"));
    ASSERT_EQ("", Differences(Snapshot(NginxFixture("upd/v1")), Folder("game")));

    ASSERT_NO_FATAL_FAILURE(Install("upd/v2.zip", "v2", "game"));
    EXPECT_EQ("", Differences(Snapshot(NginxFixture("upd/expected")), Folder("game")));
    const uint64_t needed = std::stoull(UpdaterSession::ReadWholeFile(NginxFixture("upd/needed.txt")));
    const uint64_t allowed = needed * 105 / 100 + UpdaterSession::FileSize(NginxFixture("www/upd/v2.zip.manifest")) +
                             ManifestList("game", "upd/v2.zip").size();
    EXPECT_LE(m_sent.bytes, allowed) << "the changed entries hold " << needed << " bytes";
    std::printf("update: %llu bytes sent for %llu bytes of changed entries\n",
                static_cast<unsigned long long>(m_sent.bytes), static_cast<unsigned long long>(needed));

    // The same release again, every installed file locked against reading: the record answers.
    {
        std::vector<ScopedKernelHandle> locks;
        for (const auto& [path, content] : Folder("game")) {
            if (content == kFolderMark) continue;
            locks.emplace_back(::CreateFileA(m_session.Local("game\\" + path).c_str(), GENERIC_READ, 0, nullptr,
                                             OPEN_EXISTING, 0, nullptr));
            EXPECT_TRUE(locks.back().IsValid()) << path;
        }
        ASSERT_NO_FATAL_FAILURE(Install("upd/v2.zip", "v2", "game"));
        EXPECT_EQ(0u, m_sent.zipBody);
        std::printf("update: the same release again took %lu ms, request to task end\n", m_lastTaskMs);
    }
    EXPECT_EQ("", Differences(Snapshot(NginxFixture("upd/expected")), Folder("game")));

    // Same size, another time: the file is read again, found changed and fetched.
    const std::string touched = m_session.Local("game\\assets\\a\\file00.bin");
    std::string content = UpdaterSession::ReadWholeFile(touched);
    content[0] = static_cast<char>(content[0] ^ 0xFF);
    WriteTree(m_session.Local("game"), {{"assets\\a\\file00.bin", content}});
    ASSERT_NO_FATAL_FAILURE(Install("upd/v2.zip", "v2", "game"));
    EXPECT_LT(0u, m_sent.zipBody);
    EXPECT_EQ("", Differences(Snapshot(NginxFixture("upd/expected")), Folder("game")));
}

// A server that answers ranges with 200, and one that answers several ranges with the whole file.
TEST_F(UpdaterPackageUpdate, ServersWithoutRangesOrMultipartStillInstallTheNextRelease) {
    for (const char* server : {"r0", "r1"}) {
        SCOPED_TRACE(server);
        const std::string folder = std::string("game-") + server;
        if (m_session.Folder().empty()) {
            ASSERT_NO_FATAL_FAILURE(m_session.Start());
        }
        WriteTree(m_session.Local(folder), Snapshot(NginxFixture("upd/v1")));
        ASSERT_NO_FATAL_FAILURE(Install(std::string("upd/") + server + "/v2.zip", "v2", folder));
        EXPECT_EQ("", Differences(Snapshot(NginxFixture("upd/expected")), Folder(folder)));
    }
}

}  // namespace
