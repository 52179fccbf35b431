// Where both downloads must stop: a body short of the announced size, a server that never
// lets a try get further, and a file the drive has no room for.
#include <cstdlib>

#include "download/download_support.h"
#include "download/internet_download.h"
#include "download/side_file.h"
#include "process/process_values.h"
#include "tests/download/download_fixture.h"

namespace {

const char kTarget[] = "/games/demo/data.pak";
const char kName[] = "data.pak";

class DownloadLimits : public DownloadTest {
protected:
    int Fetch(bool resumable, UpdateTask* task) {
        std::string url = m_server.Url(kTarget);
        return resumable ? InternetGetFileShowOnList(url.c_str(), kName, &m_written, 0, task)
                         : InternetGetFileOnly(url.c_str(), kName, &m_written, 0, task);
    }
    int BodyRequests() {
        int count = 0;
        for (const SeenRequest& request : m_server.Requests()) count += request.method == "GET";
        return count;
    }
    bool NoSideFiles() {
        SideFileInfo info;
        return !FileExists(SidePath(LocalPath(kName))) && !ReadSideInfo(LocalPath(kName), &info);
    }
    // A server that refuses HEAD and sends neither Content-Length nor ranges.
    void ServeNeverSized(const std::string& body) {
        ServedFile file{body};
        file.sendContentLength = false;
        file.headStatus = 405;
        file.range = RangeMode::Ignore;
        m_server.Serve(kTarget, file);
    }
    // Downloads go to the 1 MiB drive of tests/download/with_small_drive.sh, when there is one.
    bool UseSmallDrive() {
        const char* drive = std::getenv("UPDATER_SMALL_DRIVE");
        if (drive == nullptr) return false;
        m_appDir = std::string(drive) + "\\";
        std::snprintf(g_szAppDir, sizeof g_szAppDir, "%s", m_appDir.c_str());
        return true;
    }
    std::string m_written;
};

// A 200 without Content-Length that ends early after a HEAD announced more was cut: the plain
// download fails as for a broken connection, the resumable one asks again; neither installs it.
TEST_F(DownloadLimits, AShortBodyWithoutLengthIsNeverInstalled) {
    const std::string body = MakeBody(1024 * 1024, 41);
    for (bool resumable : {false, true}) {
        ServedFile file{body};
        file.sendContentLength = false;
        file.headSendsLength = true;
        file.range = RangeMode::Ignore;
        file.cutAfter = {600 * 1024};
        m_server.Serve(kTarget, file);
        m_server.ClearRequests();
        WriteWholeFile(LocalPath(kName), "installed");
        TaskPtr task = NewTask();

        int result = Fetch(resumable, task.get());

        if (resumable) {
            EXPECT_EQ(0, result);
            EXPECT_TRUE(body == ReadWholeFile(LocalPath(kName))) << "not the whole body";
            EXPECT_EQ(2, BodyRequests());
        } else {
            EXPECT_EQ(-1, result);
            EXPECT_EQ("installed", ReadWholeFile(LocalPath(kName)));
            EXPECT_EQ(1, CountBoxes(kUnstableText));
        }
        EXPECT_TRUE(NoSideFiles()) << "resumable " << resumable;
    }
}

// A server that refuses HEAD and sends no Content-Length never tells a size: its body is
// taken to the close, as ever.
TEST_F(DownloadLimits, WithoutAnySizeTheBodyEndsAtTheClose) {
    const std::string body = MakeBody(200000, 44);
    ServeNeverSized(body);
    for (bool resumable : {false, true}) {
        TaskPtr task = NewTask();
        EXPECT_EQ(0, Fetch(resumable, task.get())) << "resumable " << resumable;
        EXPECT_TRUE(body == ReadWholeFile(LocalPath(kName))) << "resumable " << resumable;
        ::DeleteFileA(LocalPath(kName).c_str());
    }
    EXPECT_TRUE(Boxes().empty());
}

// Every range ends in "/*" and HEAD tells nothing: no range can be known to be the last one,
// so the file is the body of one request without a Range, to the close.
TEST_F(DownloadLimits, ASizeNeverToldTakesTheWholeBodyToTheClose) {
    const std::string body = MakeBody(1000000, 45);
    ServedFile file{body};
    file.sendContentLength = false;
    file.range = RangeMode::UnknownTotal;
    file.maxRangeLength = 600000;
    m_server.Serve(kTarget, file);
    TaskPtr task = NewTask();

    EXPECT_EQ(0, Fetch(true, task.get()));

    EXPECT_TRUE(body == ReadWholeFile(LocalPath(kName))) << "not the whole body";
    EXPECT_FALSE(m_server.Requests().back().hasRange);
    EXPECT_TRUE(Boxes().empty());
}

// Every answer announces the whole file and sends its first kilobyte only, ranges ignored: no
// try gets further than the first, and the download ends instead of asking for ever.
TEST_F(DownloadLimits, AServerThatNeverSendsTheRestEndsTheDownload) {
    ServedFile file{MakeBody(100000, 42)};
    file.range = RangeMode::Ignore;
    file.cutAfter = std::vector<uint64_t>(100, 1000);
    m_server.Serve(kTarget, file);
    TaskPtr task = NewTask();

    EXPECT_EQ(-1, Fetch(true, task.get()));

    EXPECT_EQ(9, BodyRequests()) << "one try that got somewhere, eight that did not";
    EXPECT_EQ(1, CountBoxes(kUnstableText));
    std::vector<ShownBox> boxes = Boxes();
    ASSERT_EQ(2u, boxes.size());
    EXPECT_EQ("下载文件" + LocalPath(kName) + "失败,已重试8次.", boxes[1].text);
    EXPECT_EQ("错误", boxes[1].title);
    EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), boxes[1].type & MB_ICONMASK);
}

// A HEAD that says 1 KB before a longer body, and 206s of one byte answered by 416 for the
// rest: each ends as failed reads, the resumable one after eight tries that got no further.
TEST_F(DownloadLimits, MoreThanAnnouncedOrA206And416ByTurnsEndsTheDownload) {
    struct Case {
        bool resumable;
        bool pingPong;
    };
    for (Case c : {Case{true, false}, Case{false, false}, Case{true, true}}) {
        ServedFile file{MakeBody(1024 * 1024, 46)};
        if (c.pingPong) {
            file.range = RangeMode::FromZeroOnly;
            file.maxRangeLength = 1;
        } else {
            file.sendContentLength = false;
            file.headLength = 1024;
            file.range = RangeMode::Ignore;
        }
        m_server.Serve(kTarget, file);
        const std::string box = c.resumable ? "下载文件" + LocalPath(kName) + "失败,已重试8次." : kUnstableText;
        const int shownBefore = CountBoxes(box);
        TaskPtr task = NewTask();

        EXPECT_EQ(-1, Fetch(c.resumable, task.get()));

        EXPECT_EQ(shownBefore + 1, CountBoxes(box)) << "resumable " << c.resumable << " ping-pong " << c.pingPong;
        EXPECT_FALSE(FileExists(LocalPath(kName)));
        RemoveSideFiles(LocalPath(kName));
    }
}

// Rounded up without wrapping, however large the size.
TEST_F(DownloadLimits, TheFreeSpaceMessageCountsKilobytesWithoutWrapping) {
    EXPECT_FALSE(RoomToDownload(LocalPath(kName), UINT64_MAX, kName));
    ASSERT_EQ(1u, Boxes().size());
    EXPECT_NE(std::string::npos, Boxes()[0].text.find("需要18014398509481984KB,")) << Boxes()[0].text;
}

// A 1 MiB drive (tests/download/with_small_drive.sh) and a 3 MiB file: refused before a byte of
// its body is sent, and a side file an earlier run left there goes too.
TEST_F(DownloadLimits, AFileLargerThanTheFreeSpaceIsRefusedBeforeItIsFetched) {
    if (!UseSmallDrive()) GTEST_SKIP() << "skipped: runs on the small drive of download_small_drive_test";
    ServedFile file{MakeBody(3 * 1024 * 1024, 43)};
    file.etag = "\"v1\"";
    m_server.Serve(kTarget, file);
    for (bool resumable : {false, true}) {
        WriteWholeFile(SidePath(LocalPath(kName)), std::string(100000, 'x'));
        ASSERT_TRUE(
            WriteSideInfo(LocalPath(kName), SideFileInfo{m_server.Url(kTarget), 3 * 1024 * 1024, "\"v1\"", 100000}));
        TaskPtr task = NewTask();

        EXPECT_EQ(-1, Fetch(resumable, task.get()));

        EXPECT_EQ(0, m_server.BodyResponsesSent(kTarget));
        ASSERT_EQ(resumable ? 2u : 1u, Boxes().size());
        const ShownBox box = Boxes().back();
        const std::string need = resumable ? "2975" : "3072";  // the resumable one counts its side file
        EXPECT_EQ(0u, box.text.find("磁盘空间不足,无法下载" + LocalPath(kName) + ".\n需要" + need + "KB,可用"))
            << box.text;
        EXPECT_EQ("错误", box.title);
        EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), box.type & MB_ICONMASK);
        EXPECT_TRUE(NoSideFiles()) << "resumable " << resumable;
        EXPECT_FALSE(FileExists(LocalPath(kName)));
    }
}

// No size is ever told, so only the writes find the drive full: they happen on a thread of
// their own, and their failure still ends the download with its message.
TEST_F(DownloadLimits, AWriteThatFindsTheDriveFullEndsTheDownloadWithItsMessage) {
    if (!UseSmallDrive()) GTEST_SKIP() << "skipped: runs on the small drive of download_small_drive_test";
    ServeNeverSized(MakeBody(3 * 1024 * 1024, 46));
    for (bool resumable : {false, true}) {
        TaskPtr task = NewTask();
        EXPECT_EQ(-1, Fetch(resumable, task.get())) << "resumable " << resumable;
        ASSERT_FALSE(Boxes().empty()) << "resumable " << resumable;
        EXPECT_EQ(0u, Boxes().back().text.find("写入文件")) << Boxes().back().text;
        EXPECT_FALSE(FileExists(LocalPath(kName)));
        RemoveSideFiles(LocalPath(kName));
    }
}

}  // namespace
