// https: both downloads ask for a secure connection, and a certificate nobody vouches for is
// refused with a message and nothing written. The refusal runs beside the throw-away TLS
// server of tests/support/with_tls_server.sh; fetches from a trusted one are the end-to-end
// test tests/e2e/https_install_test.cpp.
#include <cstdlib>

#include "download/internet_download.h"
#include "download/side_file.h"
#include "tests/download/download_fixture.h"

namespace {

class HttpsDownload : public DownloadTest {};

TEST_F(HttpsDownload, AnUntrustedCertificateIsRefusedAndNothingIsWritten) {
    const char* port = std::getenv("UPDATER_TLS_PORT");
    if (port == nullptr) GTEST_SKIP() << "skipped: runs beside the test TLS server (download_tls_test)";
    const std::string base = std::string("https://localhost:") + port;
    const std::string package = base + "/game.zip";
    std::string written;
    TaskPtr task = NewTask();
    EXPECT_EQ(-1, InternetGetFileShowOnList(package.c_str(), "game.zip", &written, 0, task.get()));
    const std::string notes = base + "/notes.txt";
    EXPECT_EQ(-1, InternetGetFileOnly(notes.c_str(), "notes.txt", &written, 0, task.get()));
    std::vector<ShownBox> boxes = Boxes();
    ASSERT_EQ(2u, boxes.size());
    EXPECT_EQ(0u, boxes[0].text.find("下载文件出错.\n网址:" + package + ".\n服务器证书不可信. 错误号:"));
    EXPECT_EQ(0u, boxes[1].text.find("下载文件出错.\n网址:" + notes + ".\n服务器证书不可信. 错误号:"));
    for (const char* name : {"game.zip", "notes.txt"}) {
        EXPECT_FALSE(FileExists(LocalPath(name))) << name;
        EXPECT_FALSE(FileExists(SidePath(LocalPath(name)))) << name;
    }
}

}  // namespace
