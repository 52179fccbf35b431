// The plain download and the choice between the two downloads.
#include "download/internet_download.h"
#include "download/local_file.h"
#include "process/process_values.h"
#include "tests/download/download_fixture.h"

namespace {

class PlainDownload : public DownloadTest {
protected:
    int Download(const std::string& target, const char* name, UpdateTask* task) {
        return InternetGetFileOnly(m_server.Url(target).c_str(), name, &m_written, -1, task);
    }
    std::string m_written;
};

// Two missing folders; the inner one ends in 誠, whose second GBK byte is a backslash.
TEST_F(PlainDownload, MissingFoldersWithAChineseNameAreCreated) {
    std::string body = MakeBody(3000, 25);
    m_server.Serve("/cfg/b.dat", ServedFile{body});
    TaskPtr task = NewTask();
    EXPECT_EQ(0, Download("/cfg/b.dat", "新\\数据誠\\b.dat", task.get()));
    uint64_t size = 0;
    EXPECT_TRUE(LocalFileSize(m_appDir + "新\\数据誠\\b.dat", &size));
    EXPECT_EQ(body.size(), size);
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(PlainDownload, LeadingBackslashAndMissingFolders) {
    std::string body = MakeBody(40000, 21);
    m_server.Serve("/cfg/a.dat", ServedFile{body});
    TaskPtr task = NewTask();

    EXPECT_EQ(0, Download("/cfg/a.dat", "\\data\\deeper\\a.dat", task.get()));

    EXPECT_EQ(m_appDir + "data\\deeper\\a.dat", m_written);
    EXPECT_EQ(body, ReadWholeFile(m_written));
    EXPECT_TRUE(Boxes().empty());
    // The size, then one plain HTTP/1.1 GET without a range.
    std::vector<SeenRequest> requests = m_server.Requests();
    ASSERT_EQ(2u, requests.size());
    EXPECT_EQ("HEAD", requests[0].method);
    EXPECT_EQ("GET", requests[1].method);
    EXPECT_FALSE(requests[1].hasRange);
    EXPECT_EQ("*/*", FindHeader(requests[1].rawHead, "Accept"));
}

TEST_F(PlainDownload, LongerExistingFileIsReplacedByExactlyTheNewBody) {
    WriteWholeFile(LocalPath("update.ini"), MakeBody(90000, 22));
    std::string body = "[list0]\r\naction=0\r\n";
    m_server.Serve("/update.ini", ServedFile{body});
    TaskPtr task = NewTask();
    EXPECT_EQ(0, Download("/update.ini", "update.ini", task.get()));
    EXPECT_EQ(body, ReadWholeFile(LocalPath("update.ini")));
}

TEST_F(PlainDownload, TemporaryFileWhenNoNameIsGiven) {
    m_server.Serve("/url.ini", ServedFile{"[config]\r\nother=x\r\n"});
    TaskPtr task = NewTask();
    EXPECT_EQ(0, Download("/url.ini", nullptr, task.get()));
    EXPECT_NE(std::string::npos, m_written.find("\\kvw")) << m_written;
    EXPECT_EQ("[config]\r\nother=x\r\n", ReadWholeFile(m_written));
    ::DeleteFileA(m_written.c_str());
}

TEST_F(PlainDownload, BodyCutShortLeavesTheInstalledFileAndIsReported) {
    ServedFile file{MakeBody(200000, 23)};
    file.cutAfter = {70000};
    m_server.Serve("/list.txt", file);
    WriteWholeFile(LocalPath("list.txt"), "old");
    TaskPtr task = NewTask();

    EXPECT_EQ(-1, Download("/list.txt", "list.txt", task.get()));

    EXPECT_EQ("old", ReadWholeFile(LocalPath("list.txt")));
    EXPECT_FALSE(FileExists(LocalPath("list.txt.part")));
    EXPECT_EQ(1, CountBoxes(kUnstableText));
    EXPECT_EQ(1u, Boxes().size());
}

TEST_F(PlainDownload, AnErrorStatusIsReportedAndTheInstalledFileStays) {
    ServedFile page{"<html>missing</html>"};
    page.fixedStatus = 404;
    m_server.Serve("/gone.txt", page);
    WriteWholeFile(LocalPath("gone.txt"), "installed");
    TaskPtr task = NewTask();
    EXPECT_EQ(-1, Download("/gone.txt", "gone.txt", task.get()));
    EXPECT_EQ("installed", ReadWholeFile(LocalPath("gone.txt")));
    ASSERT_EQ(1u, Boxes().size());
    EXPECT_EQ("下载文件出错.\n网址:" + m_server.Url("/gone.txt") + ".\n服务器返回:404.", Boxes()[0].text);
    EXPECT_EQ("错误", Boxes()[0].title);
    EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), Boxes()[0].type & MB_ICONMASK);
}

TEST_F(PlainDownload, StopAndNoTaskEndWithMinusOne) {
    m_server.Serve("/a.txt", ServedFile{"abc"});
    TaskPtr task = NewTask();
    task->bStop = true;
    EXPECT_EQ(-1, Download("/a.txt", "a.txt", task.get()));
    EXPECT_TRUE(Boxes().empty());

    EXPECT_EQ(-1, Download("/a.txt", "a.txt", nullptr));
    ASSERT_EQ(1u, Boxes().size());
    EXPECT_EQ("sUpdateStruct *pupdateStruct  为 NULL.", Boxes()[0].text);
    EXPECT_EQ("错误", Boxes()[0].title);
}

TEST_F(PlainDownload, FileThatCannotBeCreatedFailsAfterTwoTries) {
    m_server.Serve("/a.txt", ServedFile{"abc"});
    // A folder stands where the side file should go: creating the folder can't help.
    ASSERT_TRUE(::CreateDirectoryA(LocalPath("blocked.txt.part").c_str(), nullptr));
    TaskPtr task = NewTask();
    EXPECT_EQ(-1, Download("/a.txt", "blocked.txt", task.get()));
    ASSERT_EQ(1u, Boxes().size());
    EXPECT_EQ(0u, Boxes()[0].text.find("创建文件"));
}

TEST_F(PlainDownload, UnreachableServerShowsTheOpenUrlError) {
    int closedPort = 0;
    {
        TestHttpServer gone;
        closedPort = gone.Port();
    }
    TaskPtr task = NewTask();
    std::string url = "http://127.0.0.1:" + std::to_string(closedPort) + "/a.txt";
    EXPECT_EQ(-1, InternetGetFileOnly(url.c_str(), "a.txt", &m_written, -1, task.get()));
    ASSERT_EQ(1u, Boxes().size());
    EXPECT_EQ(0u, Boxes()[0].text.find("InternetOpenUrl 错误.\n网址:" + url + ".\n"));
}

TEST(DownloadDispatch, PackagesAndProgramsAnywhereInTheUrlAreResumable) {
    EXPECT_TRUE(UsesResumableDownload("http://host/games/GAME.ZIP"));
    EXPECT_TRUE(UsesResumableDownload("http://host/setup.exe?version=2"));
    EXPECT_TRUE(UsesResumableDownload("http://host/old/setup.exe.bak"));
    EXPECT_TRUE(UsesResumableDownload("http://host/a.Rar"));
    EXPECT_TRUE(UsesResumableDownload("http://host/pkg.zip/readme.txt"));
    EXPECT_FALSE(UsesResumableDownload("http://host/update.ini"));
    EXPECT_FALSE(UsesResumableDownload("http://host/readme.txt"));
    EXPECT_FALSE(UsesResumableDownload("http://host/zip/exe/rar"));
}

TEST_F(PlainDownload, DownloadThreadRunsTheChosenDownload) {
    std::string body = MakeBody(5000, 24);
    m_server.Serve("/p/GAME.ZIP", ServedFile{body});
    m_server.Serve("/p/list.ini", ServedFile{"x=1\r\n"});
    for (const char* target : {"/p/GAME.ZIP", "/p/list.ini"}) {
        DownloadJob job;
        job.pupdateStruct = NewTask();
        std::snprintf(job.szurl, sizeof job.szurl, "%s", m_server.Url(target).c_str());
        std::snprintf(job.szfileName, sizeof job.szfileName, "%s", target + 3);
        HANDLE thread = ::CreateThread(nullptr, 0, DownloadThread, &job, 0, nullptr);
        ASSERT_NE(nullptr, thread);
        ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(thread, 30000));
        DWORD code = 1;
        ::GetExitCodeThread(thread, &code);
        ::CloseHandle(thread);
        EXPECT_EQ(0u, code);
        EXPECT_EQ(m_appDir + (target + 3), job.filename);
    }
    std::vector<SeenRequest> requests = m_server.Requests();
    bool rangedZip = false, plainIni = false;
    for (const SeenRequest& request : requests) {
        if (request.target == "/p/GAME.ZIP" && request.hasRange) rangedZip = true;
        if (request.target == "/p/list.ini" && !request.hasRange && request.version == "HTTP/1.1") plainIni = true;
    }
    EXPECT_TRUE(rangedZip);
    EXPECT_TRUE(plainIni);
    EXPECT_EQ(body, ReadWholeFile(LocalPath("GAME.ZIP")));

    DownloadJob* none = nullptr;
    EXPECT_EQ(static_cast<DWORD>(-1), DownloadThread(none));
}

}  // namespace
