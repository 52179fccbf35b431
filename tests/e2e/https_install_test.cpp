// The whole road over https with the real updater: on a machine that trusts the publisher's
// certificate authority a game installs from an https server (URL file, list, package), and
// an https download or reachability test that is redirected to plain http is refused. Runs
// beside the trusted TLS server of tests/support/with_tls_server.sh (updater_https_test).
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <fstream>

#include "tests/e2e/updater_session.h"

namespace {

std::string Backslashed(std::string path) {
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

std::string UrlEscaped(const std::string& text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string escaped;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '.' || c == '-' || c == '_') {
            escaped += static_cast<char>(c);
        } else {
            escaped += '%';
            escaped += kHex[c >> 4];
            escaped += kHex[c & 15];
        }
    }
    return escaped;
}

class UpdaterOverHttps : public ::testing::Test {
protected:
    void SetUp() override {
        const char* port = std::getenv("UPDATER_TLS_PORT");
        const char* root = std::getenv("UPDATER_TLS_ROOT");
        if (port == nullptr || root == nullptr || std::getenv("UPDATER_TLS_TRUSTED") == nullptr) {
            GTEST_SKIP() << "skipped: runs beside the trusted test TLS server (updater_https_test)";
        }
        m_base = std::string("https://localhost:") + port;
        // The Unix folder as Wine names it.
        m_root = "Z:" + Backslashed(root);
    }
    void TearDown() override { m_session.Finish(HasFailure()); }

    // Puts a file where the TLS server serves it at `target`.
    void Publish(const std::string& target, const std::string& bytes) {
        std::string path = m_root;
        for (size_t from = 1, slash; (slash = target.find('/', from)) != std::string::npos; from = slash + 1) {
            path += "\\" + target.substr(from, slash - from);
            ::CreateDirectoryA(path.c_str(), nullptr);
        }
        std::ofstream file(m_root + Backslashed(target), std::ios::binary | std::ios::trunc);
        file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }

    // The game's request, its URL file on the TLS server.
    sUpdateStruct Request(const E2eGame& game) {
        sUpdateStruct request = m_session.Request(game);
        SetFieldText(request.szUrl, m_base + m_session.UrlFileTarget(game));
        return request;
    }

    void ExpectReport(const sUpdateStruct& request) {
        sUpdateStruct report = {};
        ASSERT_TRUE(m_session.NextRecord(&report, 60000)) << "no task-ended report for game " << request.nGameID;
        EXPECT_TRUE(IsTaskEndedReport(report, request)) << "game " << report.nGameID;
    }

    UpdaterSession m_session;
    std::string m_base;  // "https://localhost:PORT"
    std::string m_root;  // the TLS server's folder
};

TEST_F(UpdaterOverHttps, AGameIsInstalledFromAnHttpsServer) {
    E2eGame game = MakeGame(301, "Secure", L"Secure", "secure");
    for (const auto& file : m_session.GameFiles(game, m_base)) Publish(file.first, file.second);
    ASSERT_NO_FATAL_FAILURE(m_session.Start());
    sUpdateStruct request = Request(game);
    ASSERT_NO_FATAL_FAILURE(m_session.SendRecords({request}));
    ASSERT_NO_FATAL_FAILURE(ExpectReport(request));
    EXPECT_EQ(nullptr, m_session.WaitForBox(L"错误", 0));
    ExpectGameInstalled(m_session, game);
    EXPECT_TRUE(m_session.Server().Requests().empty()) << "something went over plain http";
}

// Two downloads of https URLs that the server redirects to plain http, where the same files
// wait: the plain download (a text file) and the resumable one (a package). Each ends its
// task with the message, and nothing is fetched over http.
TEST_F(UpdaterOverHttps, AnHttpsDownloadRedirectedToHttpIsRefused) {
    ASSERT_NO_FATAL_FAILURE(m_session.Start());
    Publish("/reachable.txt", "reachable");
    const struct {
        E2eGame game;
        std::string file;
    } cases[] = {
        {MakeGame(302, "Notes", L"Notes", "notes"), "/notes/notes.txt"},
        {MakeGame(303, "Package", L"Package", "package"), "/package/pkg.zip"},
    };
    std::vector<sUpdateStruct> requests;
    std::vector<std::string> downloads;
    for (const auto& c : cases) {
        m_session.Server().Serve(c.file, ServedFile{"over plain http"});
        std::string download = m_base + "/redirect?to=" + UrlEscaped(m_session.Server().Url(c.file));
        const std::string listTarget = "/" + c.game.folder + "/list.ini";
        Publish(m_session.UrlFileTarget(c.game), "[config]\r\n" + c.game.configKey + "=" + m_base + listTarget);
        Publish(listTarget, "[list0]\r\naction=2\r\nsrcfile=" + download + "\r\ndestfile=" + c.game.folder +
                                "\\got\r\n[list1]\r\naction=4\r\nsrcfile=" + m_base +
                                "/reachable.txt\r\n[list2]\r\naction=0\r\n");
        requests.push_back(Request(c.game));
        downloads.push_back(download);
    }
    ASSERT_NO_FATAL_FAILURE(m_session.SendRecords(requests));
    for (size_t i = 0; i < requests.size(); ++i) {
        HWND box = m_session.WaitForBox(L"错误", 60000);
        ASSERT_NE(nullptr, box) << "no refusal for " << downloads[i];
        std::wstring url(downloads[i].begin(), downloads[i].end());
        std::wstring expected = L"下载文件出错.\n网址:" + url + L".\n重定向到不安全的网址.";
        EXPECT_EQ(expected, UpdaterSession::BoxText(box));
        ASSERT_TRUE(UpdaterSession::CloseBox(box));
        ASSERT_NO_FATAL_FAILURE(ExpectReport(requests[i]));
        EXPECT_FALSE(UpdaterSession::Exists(m_session.Local(cases[i].game.folder + "\\got")));
    }
    EXPECT_TRUE(m_session.Server().Requests().empty()) << "something went over plain http";
}

// The reachability tests refuse the same redirect: the update URL file's (before it is
// fetched) and the list's last source's. Each says so, not that the file is missing.
TEST_F(UpdaterOverHttps, AnUpdateFileTestedAndRedirectedToHttpIsRefused) {
    ASSERT_NO_FATAL_FAILURE(m_session.Start());
    const std::string redirected = m_base + "/redirect?to=" + UrlEscaped(m_session.Server().Url("/plain.ini"));
    E2eGame urlFileGame = MakeGame(304, "UrlFile", L"UrlFile", "urlfile");
    sUpdateStruct urlFileRequest = Request(urlFileGame);
    SetFieldText(urlFileRequest.szUrl, redirected);
    E2eGame lastSourceGame = MakeGame(305, "LastSource", L"LastSource", "lastsource");
    const std::string listTarget = "/" + lastSourceGame.folder + "/list.ini";
    Publish(m_session.UrlFileTarget(lastSourceGame),
            "[config]\r\n" + lastSourceGame.configKey + "=" + m_base + listTarget);
    Publish(listTarget, "[list0]\r\naction=4\r\nsrcfile=" + redirected + "\r\n[list1]\r\naction=0\r\n");

    const std::wstring expected =
        L"下载文件出错.\n网址:" + std::wstring(redirected.begin(), redirected.end()) + L".\n重定向到不安全的网址.";
    for (const sUpdateStruct& request : {urlFileRequest, Request(lastSourceGame)}) {
        ASSERT_NO_FATAL_FAILURE(m_session.SendRecords({request}));
        HWND box = m_session.WaitForBox(L"错误", 60000);
        ASSERT_NE(nullptr, box) << "no refusal for game " << request.nGameID;
        EXPECT_EQ(expected, UpdaterSession::BoxText(box));
        ASSERT_TRUE(UpdaterSession::CloseBox(box));
        ASSERT_NO_FATAL_FAILURE(ExpectReport(request));
    }
    EXPECT_TRUE(m_session.Server().Requests().empty()) << "something went over plain http";
}

}  // namespace
