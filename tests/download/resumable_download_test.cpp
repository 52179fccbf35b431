// The resumable download against a scripted server: ranges, statuses, lost connections.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <sstream>
#include <thread>

#include "download/download_support.h"
#include "download/internet_download.h"
#include "download/local_file.h"
#include "download/side_file.h"
#include "framework/http_request.h"
#include "framework/sha256.h"
#include "process/exit_flag.h"
#include "process/process_values.h"
#include "tests/download/download_fixture.h"
#include "tests/support/child_process.h"
#include "tests/support/test_list_window.h"

namespace {

const char kPackage[] = "/games/demo/game.zip";
const char kLocalName[] = "game.zip";
const char kEtag[] = "\"v1\"";

ServedFile Versioned(const std::string& body, const char* etag = kEtag) {
    ServedFile file{body};
    file.etag = etag;
    return file;
}

class ResumableDownload : public DownloadTest {
protected:
    int Download(UpdateTask* task, const char* name = kLocalName) {
        return InternetGetFileShowOnList(m_server.Url(kPackage).c_str(), name, &m_written, 0, task);
    }
    // The data requests only: HTTP/1.0 with a Range.
    std::vector<SeenRequest> DataRequests() {
        std::vector<SeenRequest> data;
        for (const SeenRequest& request : m_server.Requests()) {
            if (request.version == "HTTP/1.0") data.push_back(request);
        }
        return data;
    }
    // What an earlier run leaves: the first bytes in the side file and what they belong to.
    void PlantSideFile(const std::string& bytes, uint64_t total) {
        WriteWholeFile(SidePath(LocalPath(kLocalName)), bytes);
        RecordSideFile(total, bytes.size());
    }
    // Its record, vouching for the side file's first `flushed` bytes.
    void RecordSideFile(uint64_t total, uint64_t flushed) {
        ASSERT_TRUE(WriteSideInfo(LocalPath(kLocalName), SideFileInfo{m_server.Url(kPackage), total, kEtag, flushed}));
    }
    bool NoSideFiles(const char* name = kLocalName) {
        SideFileInfo info;
        return !FileExists(SidePath(LocalPath(name))) && !ReadSideInfo(LocalPath(name), &info);
    }
    // Runs the download in a program of its own and kills it once the side file's record
    // vouches for `bytes`; returns what the record vouches for after the kill.
    uint64_t KillMidDownload(uint64_t bytes) {
        return KillWhen(m_server.Url(kPackage), [bytes](const SideFileInfo& info) { return info.flushed >= bytes; })
            .flushed;
    }
    // Runs the download of `url` in a program of its own and kills it once its record says
    // `enough`; returns the record after the kill.
    SideFileInfo KillWhen(const std::string& url, const std::function<bool(const SideFileInfo&)>& enough) {
        ChildProcess child;
        std::string program = ProgramFolder() + "\\..\\bench-bin\\download_bench.exe";
        EXPECT_TRUE(child.Start(program, "resumable " + url + " " + kLocalName, m_appDir));
        SideFileInfo info;
        DWORD start = ::GetTickCount();
        while ((!ReadSideInfo(LocalPath(kLocalName), &info) || !enough(info)) && ::GetTickCount() - start < 30000) {
            ::Sleep(5);
        }
        child.Kill();
        child.WaitForExit(10000);
        info = SideFileInfo{};
        ReadSideInfo(LocalPath(kLocalName), &info);
        return info;
    }
    std::string m_written;
};

TEST_F(ResumableDownload, ResumesTheSideFileOfTheSameVersionWithRangeAndIfRange) {
    std::string body = MakeBody(1000, 1);
    m_server.Serve(kPackage, Versioned(body));
    PlantSideFile(body.substr(0, 300), body.size());
    TaskPtr task = NewTask();

    EXPECT_EQ(0, Download(task.get()));

    EXPECT_EQ(LocalPath(kLocalName), m_written);
    EXPECT_EQ(body, ReadWholeFile(LocalPath(kLocalName)));
    EXPECT_TRUE(NoSideFiles());
    std::vector<SeenRequest> data = DataRequests();
    ASSERT_EQ(1u, data.size());
    EXPECT_EQ("bytes=300-", data[0].rangeValue);
    EXPECT_EQ("bytes=300-", FindHeader(data[0].rawHead, "Range")) << data[0].rawHead;
    EXPECT_EQ(kEtag, FindHeader(data[0].rawHead, "If-Range")) << data[0].rawHead;
    EXPECT_EQ(1.0f, task->fProgress.load());
    EXPECT_EQ(0.0, task->dSpeed.load());
    EXPECT_TRUE(Boxes().empty());
}

// A record vouches only for what was flushed: the bytes after that, though in the side file,
// are fetched again; an older version's record, which never says, vouches for nothing.
TEST_F(ResumableDownload, AResumeContinuesOnlyFromWhatTheRecordSaysWasFlushed) {
    std::string body = MakeBody(1000, 16);
    m_server.Serve(kPackage, Versioned(body));
    const std::string oldRecord = m_server.Url(kPackage) + "\r\n1000\r\n" + kEtag + "\r\n";
    struct Case {
        bool oldRecord;
        const char* range;
    };
    for (Case c : {Case{false, "bytes=200-"}, Case{true, "bytes=0-"}}) {
        PlantSideFile(body.substr(0, 300), body.size());
        if (c.oldRecord) {
            WriteWholeFile(SidePath(LocalPath(kLocalName)) + ".info", oldRecord);
        } else {
            RecordSideFile(body.size(), 200);
        }
        m_server.ClearRequests();
        TaskPtr task = NewTask();
        EXPECT_EQ(0, Download(task.get()));
        EXPECT_EQ(body, ReadWholeFile(LocalPath(kLocalName)));
        ASSERT_EQ(1u, DataRequests().size());
        EXPECT_EQ(c.range, DataRequests()[0].rangeValue) << "old record " << c.oldRecord;
    }
}

TEST_F(ResumableDownload, AKilledDownloadResumesAndAChangedEtagStartsOver) {
    std::string body = MakeBody(3 * 1024 * 1024, 14);
    ServedFile slow = Versioned(body);
    slow.delayMsPerChunk = 20;  // slow enough for the side file to be flushed on the way
    m_server.Serve(kPackage, slow);
    uint64_t kept = KillMidDownload(200000);
    ASSERT_GE(kept, 200000u);
    ASSERT_LT(kept, body.size());
    m_server.Serve(kPackage, Versioned(body));
    m_server.ClearRequests();
    TaskPtr task = NewTask();
    EXPECT_EQ(0, Download(task.get()));
    EXPECT_EQ(body, ReadWholeFile(LocalPath(kLocalName)));
    ASSERT_EQ(1u, DataRequests().size());
    EXPECT_EQ("bytes=" + std::to_string(kept) + "-", DataRequests()[0].rangeValue);

    // The server's file changes between two runs: the side file is worth nothing.
    ::DeleteFileA(LocalPath(kLocalName).c_str());
    m_server.Serve(kPackage, slow);
    ASSERT_GE(KillMidDownload(200000), 200000u);
    std::string changed = MakeBody(body.size(), 15);
    m_server.Serve(kPackage, Versioned(changed, "\"v2\""));
    m_server.ClearRequests();
    EXPECT_EQ(0, Download(task.get()));
    EXPECT_EQ(changed, ReadWholeFile(LocalPath(kLocalName)));
    ASSERT_EQ(1u, DataRequests().size());
    EXPECT_EQ("bytes=0-", DataRequests()[0].rangeValue);
    EXPECT_TRUE(NoSideFiles());
}

TEST_F(ResumableDownload, MissingOrEmptyFileStartsAtByteZero) {
    std::string body = MakeBody(5000, 2);
    m_server.Serve(kPackage, ServedFile{body});
    TaskPtr task = NewTask();
    EXPECT_EQ(0, Download(task.get()));
    EXPECT_EQ(body, ReadWholeFile(LocalPath(kLocalName)));

    WriteWholeFile(LocalPath("empty.zip"), "");
    m_server.ClearRequests();
    EXPECT_EQ(0, Download(task.get(), "empty.zip"));
    EXPECT_EQ(body, ReadWholeFile(LocalPath("empty.zip")));
    ASSERT_EQ(1u, DataRequests().size());
    EXPECT_EQ("bytes=0-", DataRequests()[0].rangeValue);
}

TEST_F(ResumableDownload, AnInstalledOlderFileOfAnySizeIsReplacedWhole) {
    std::string body = MakeBody(300000, 3);
    m_server.Serve(kPackage, Versioned(body));
    for (size_t oldSize : {100000u, 500000u, 300000u}) {
        WriteWholeFile(LocalPath(kLocalName), MakeBody(oldSize, 30));
        m_server.ClearRequests();
        TaskPtr task = NewTask();
        EXPECT_EQ(0, Download(task.get())) << oldSize;
        EXPECT_EQ(body, ReadWholeFile(LocalPath(kLocalName))) << oldSize;
        ASSERT_EQ(1u, DataRequests().size());
        EXPECT_EQ("bytes=0-", DataRequests()[0].rangeValue) << oldSize;
        EXPECT_TRUE(NoSideFiles());
    }
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(ResumableDownload, A416CompletesOnlyAWholeSideFileOfTheSameVersion) {
    std::string body = MakeBody(1000, 31);
    m_server.Serve(kPackage, Versioned(body));
    PlantSideFile(body, body.size());
    TaskPtr task = NewTask();
    EXPECT_EQ(0, Download(task.get()));
    EXPECT_EQ(body, ReadWholeFile(LocalPath(kLocalName)));
    EXPECT_EQ(1u, DataRequests().size());  // answered 416: nothing left to fetch

    // A side file recorded as whole for a larger file of the same version: fetched again.
    PlantSideFile(body + "tail", body.size() + 4);
    m_server.ClearRequests();
    EXPECT_EQ(0, Download(task.get()));
    EXPECT_EQ(body, ReadWholeFile(LocalPath(kLocalName)));
    EXPECT_EQ("bytes=0-", DataRequests().back().rangeValue);
    EXPECT_TRUE(NoSideFiles());
}

TEST_F(ResumableDownload, PiecewiseRangesAreFollowedToTheEnd) {
    std::string body = MakeBody(700000, 32);
    for (const char* etag : {kEtag, ""}) {
        ServedFile file = Versioned(body, etag);
        file.maxRangeLength = 262144;
        m_server.Serve(kPackage, file);
        m_server.ClearRequests();
        TaskPtr task = NewTask();
        EXPECT_EQ(0, Download(task.get())) << etag;
        EXPECT_EQ(body, ReadWholeFile(LocalPath(kLocalName))) << etag;
        std::vector<SeenRequest> data = DataRequests();
        ASSERT_EQ(3u, data.size()) << etag;
        EXPECT_EQ("bytes=524288-", data[2].rangeValue);
    }
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(ResumableDownload, TheChecksumDecidesWhetherTheSideFileReplacesTheDestination) {
    std::string body = "abc";
    m_server.Serve(kPackage, Versioned(body));
    const std::string digest = "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD";  // of "abc"
    WriteWholeFile(LocalPath(kLocalName), "installed");
    TaskPtr task = NewTask();
    EXPECT_EQ(-1, InternetGetFileShowOnList(m_server.Url(kPackage).c_str(), kLocalName, &m_written, 0, task.get(),
                                            std::string(digest.size() - 1, '0') + "1"));
    EXPECT_EQ("installed", ReadWholeFile(LocalPath(kLocalName)));
    EXPECT_TRUE(NoSideFiles());
    ASSERT_EQ(1u, Boxes().size());
    EXPECT_EQ("校验文件" + LocalPath(kLocalName) + "失败.", Boxes()[0].text);
    EXPECT_EQ("错误", Boxes()[0].title);
    EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), Boxes()[0].type & MB_ICONMASK);

    EXPECT_EQ(0, InternetGetFileShowOnList(m_server.Url(kPackage).c_str(), kLocalName, &m_written, 0, task.get(),
                                           digest));
    EXPECT_EQ(body, ReadWholeFile(LocalPath(kLocalName)));
    EXPECT_EQ(1u, Boxes().size());
}

TEST_F(ResumableDownload, NoContentLengthStillEndsByteIdentical) {
    std::string body = MakeBody(70000, 4);
    ServedFile file{body};
    file.sendContentLength = false;
    m_server.Serve(kPackage, file);
    TaskPtr task = NewTask();
    EXPECT_EQ(0, Download(task.get()));
    EXPECT_EQ(body, ReadWholeFile(LocalPath(kLocalName)));
    EXPECT_EQ(1.0f, task->fProgress.load());

    // With a partial file the ranged request decides; it is never taken as complete.
    WriteWholeFile(LocalPath(kLocalName), body.substr(0, 1234));
    EXPECT_EQ(0, Download(task.get()));
    EXPECT_EQ(body, ReadWholeFile(LocalPath(kLocalName)));
}

TEST_F(ResumableDownload, ServerIgnoringTheRangeRewritesFromTheStart) {
    std::string body = MakeBody(3000, 5);
    ServedFile file = Versioned(body);
    file.range = RangeMode::Ignore;
    m_server.Serve(kPackage, file);
    PlantSideFile(std::string(300, 'x'), body.size());
    TaskPtr task = NewTask();
    EXPECT_EQ(0, Download(task.get()));
    EXPECT_EQ(body, ReadWholeFile(LocalPath(kLocalName)));
}

TEST_F(ResumableDownload, ErrorPageNeverBecomesPartOfThePackage) {
    ServedFile page{"<html><body>404 Not Found</body></html>"};
    page.fixedStatus = 404;
    m_server.Serve(kPackage, page);
    std::string partial = MakeBody(300, 6);
    WriteWholeFile(LocalPath(kLocalName), partial);
    TaskPtr task = NewTask();

    EXPECT_EQ(-1, Download(task.get()));

    EXPECT_EQ(partial, ReadWholeFile(LocalPath(kLocalName)));
    std::vector<ShownBox> boxes = Boxes();
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ("错误", boxes[0].title);
    EXPECT_NE(std::string::npos, boxes[0].text.find("404"));
    EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), boxes[0].type & MB_ICONMASK);
}

TEST_F(ResumableDownload, RangeThatDoesNotMatchTheRequestWritesNothing) {
    std::string body = MakeBody(2000, 7);
    std::string partial = body.substr(0, 300);
    for (RangeMode mode : {RangeMode::WrongOffset, RangeMode::WrongTotal}) {
        ServedFile file{body};
        file.range = mode;
        m_server.Serve(kPackage, file);
        WriteWholeFile(LocalPath(kLocalName), partial);
        TaskPtr task = NewTask();
        EXPECT_EQ(-1, Download(task.get()));
        EXPECT_EQ(partial, ReadWholeFile(LocalPath(kLocalName)));
    }
    EXPECT_EQ(2u, Boxes().size());
}

TEST_F(ResumableDownload, DroppedConnectionsResumeAndTheBoxComesOnceOnTheFourthFailure) {
    std::string body = MakeBody(600000, 8);
    ServedFile file = Versioned(body);
    // Five data requests in a row end early.
    file.cutAfter = std::vector<uint64_t>(5, 100000);
    m_server.Serve(kPackage, file);
    TaskPtr task = NewTask();

    EXPECT_EQ(0, Download(task.get()));

    EXPECT_EQ(body, ReadWholeFile(LocalPath(kLocalName)));
    EXPECT_EQ(1, CountBoxes(kUnstableText));
    EXPECT_EQ(1u, Boxes().size());
    EXPECT_GE(DataRequests().size(), 6u);
}

// A body that stops coming while the connection stays open is a failed read once the stall
// limit passes, resumed like a dropped one; redirects that go round end the download.
TEST_F(ResumableDownload, AStalledBodyIsResumedAndARedirectLoopEnds) {
    std::string body = MakeBody(300000, 12);
    ServedFile file = Versioned(body);
    file.cutAfter = {100000};
    file.cutWithStall = true;
    m_server.Serve(kPackage, file);
    SetHttpStallLimitMs(1000);
    TaskPtr task = NewTask();
    EXPECT_EQ(0, Download(task.get()));
    SetHttpStallLimitMs(0);
    EXPECT_EQ(body, ReadWholeFile(LocalPath(kLocalName)));
    EXPECT_EQ(2u, DataRequests().size());
    EXPECT_EQ(0u, Boxes().size());

    ServedFile loop{"moved"};
    loop.fixedStatus = 302;
    loop.extraHeaders = std::string("Location: ") + kPackage + "\r\n";
    m_server.Serve(kPackage, loop);
    m_server.ClearRequests();
    EXPECT_EQ(-1, Download(task.get(), "loop.zip"));
    EXPECT_EQ(static_cast<size_t>(kMaxRedirects + 1), m_server.Requests().size());
    EXPECT_EQ(1, CountBoxes("下载文件出错.\n网址:" + m_server.Url(kPackage) + ".\n重定向次数过多."));
    EXPECT_FALSE(FileExists(LocalPath("loop.zip")));
}

// The first try goes out while the connection check answers. When the answer wants another
// session (a proxy here), nothing of that try counts: the download starts again on that session,
// and a failure shows its box once.
TEST_F(ResumableDownload, AFirstTryTheConnectionCheckDisagreesWithCountsForNothing) {
    ServedFile loop{"moved"};
    loop.fixedStatus = 302;
    loop.extraHeaders = std::string("Location: ") + kPackage + "\r\n";
    m_server.Serve(kPackage, loop);
    int answers = 0;
    SetConnectedStateAnswer([&answers](DWORD* flags) {
        *flags = INTERNET_CONNECTION_LAN | (answers++ == 0 ? INTERNET_CONNECTION_PROXY : 0);
        return true;
    });
    TaskPtr task = NewTask();
    EXPECT_EQ(-1, Download(task.get()));
    SetConnectedStateAnswer(nullptr);
    EXPECT_EQ(static_cast<size_t>(2 * (kMaxRedirects + 1)), m_server.Requests().size());
    EXPECT_EQ(1, CountBoxes("下载文件出错.\n网址:" + m_server.Url(kPackage) + ".\n重定向次数过多."));
}

TEST_F(ResumableDownload, CutAtFiftyOffsetsAlwaysEndsByteIdentical) {
    std::string body = MakeBody(200000, 9);
    for (int run = 0; run < 50; ++run) {
        uint64_t cut = 1 + static_cast<uint64_t>(run) * 3989;  // spread over the body, odd offsets
        ServedFile file = Versioned(body);
        file.cutAfter = {cut};
        file.cutWithReset = run % 2 == 1;
        m_server.Serve(kPackage, file);
        std::string name = "sweep" + std::to_string(run) + ".zip";
        TaskPtr task = NewTask();
        ASSERT_EQ(0, Download(task.get(), name.c_str())) << "cut at " << cut;
        ASSERT_EQ(body, ReadWholeFile(LocalPath(name))) << "cut at " << cut;
        ::DeleteFileA(LocalPath(name).c_str());
    }
    EXPECT_EQ(0, CountBoxes(kUnstableText));
}

TEST_F(ResumableDownload, AStopLeavesTheInstalledFileAsItWas) {
    std::string body = MakeBody(4 * 1024 * 1024, 10);
    ServedFile file = Versioned(body);
    file.delayMsPerChunk = 5;
    m_server.Serve(kPackage, file);
    WriteWholeFile(LocalPath(kLocalName), "installed");
    TaskPtr task = NewTask();
    std::thread stopper([&] {
        uint64_t size = 0;
        DWORD start = ::GetTickCount();
        while ((!LocalFileSize(SidePath(LocalPath(kLocalName)), &size) || size < 100000) &&
               ::GetTickCount() - start < 20000) {
            ::Sleep(5);
        }
        task->bStop = true;
    });

    EXPECT_EQ(-1, Download(task.get()));
    stopper.join();

    EXPECT_EQ("installed", ReadWholeFile(LocalPath(kLocalName)));
    EXPECT_TRUE(NoSideFiles());
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(ResumableDownload, ExitFlagEndsTheRestartWaitsAtOnce) {
    ServedFile file{MakeBody(100000, 11)};
    file.cutAfter = std::vector<uint64_t>(40, 10);
    m_server.Serve(kPackage, file);
    TaskPtr task = NewTask();
    std::thread closer([] {
        ::Sleep(1500);
        g_bExit = true;
    });
    DWORD start = ::GetTickCount();
    EXPECT_EQ(-1, Download(task.get()));
    closer.join();
    EXPECT_LT(::GetTickCount() - start, 3000u) << "the paced restarts must see the stop";
}

TEST_F(ResumableDownload, RowSizeIsSetOnlyForATaskWithARow) {
    TestListWindow window;
    window.List().InsertItem(0, "demo");
    g_pTaskList = &window.List();
    std::string body = MakeBody(300 * 1024, 12);
    m_server.Serve(kPackage, ServedFile{body});

    for (int row : {-1, 0}) {
        TaskPtr task = NewTask(row);
        std::string name = "row" + std::to_string(row + 1) + ".zip";
        std::atomic<int> result{1};
        std::thread download([&] { result = Download(task.get(), name.c_str()); });
        window.PumpUntil([&] { return result != 1; });
        download.join();
        EXPECT_EQ(0, result.load());
        EXPECT_EQ(body, ReadWholeFile(LocalPath(name)));
        EXPECT_EQ(row < 0 ? "" : "300", window.List().GetItemText(0, 1)) << "row " << row;
    }
    g_pTaskList = nullptr;
}

TEST_F(ResumableDownload, OnASlowLinkProgressMovesOftenAndAStopIsQuick) {
    TestListWindow window;
    window.List().InsertItem(0, "demo");
    g_pTaskList = &window.List();
    ServedFile file = Versioned(MakeBody(1024 * 1024, 33));
    file.delayMsPerChunk = 160;  // 16 KiB every 160 ms: 100 KiB/s
    m_server.Serve(kPackage, file);
    TaskPtr task = NewTask(0);
    std::atomic<int> result{1};
    std::thread download([&] { result = Download(task.get()); });

    DWORD start = ::GetTickCount(), lastChange = 0, longestGap = 0;
    float seen = 0.0f;
    window.PumpUntil([&] {
        DWORD now = ::GetTickCount();
        if (task->fProgress != seen) {
            if (lastChange != 0) longestGap = std::max<DWORD>(longestGap, now - lastChange);
            lastChange = now;
            seen = task->fProgress;
        }
        return now - start > 3000;
    });
    task->bStop = true;
    DWORD stopped = ::GetTickCount();
    window.PumpUntil([&] { return result != 1; });
    DWORD stopTook = ::GetTickCount() - stopped;
    download.join();
    g_pTaskList = nullptr;

    EXPECT_EQ(-1, result.load());
    EXPECT_NE(0u, lastChange) << "progress never moved";
    // The limits are 250 ms and 0.5 s; the margins are for a busy machine.
    EXPECT_LE(longestGap, 400u);
    EXPECT_LE(stopTook, 800u);
    std::printf("slow link: longest progress gap %lu ms, stop took %lu ms\n", longestGap, stopTook);
}

TEST_F(ResumableDownload, OffsetAboveFourGigabytesIsWrittenInFull) {
    const uint64_t size = 4294968296ull;  // 4 GiB + 1000
    const uint64_t offset = 4294967596ull;
    ServedFile file;
    file.patternSize = size;
    file.etag = kEtag;
    m_server.Serve(kPackage, file);
    PlantSideFile("", size);
    RecordSideFile(size, offset);
    {
        // A sparse side file as large as the offset: nothing to write for the first 4 GiB.
        HANDLE local = ::CreateFileA(SidePath(LocalPath(kLocalName)).c_str(), GENERIC_WRITE, 0, nullptr,
                                     CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, local);
        LARGE_INTEGER end;
        end.QuadPart = static_cast<LONGLONG>(offset);
        ASSERT_TRUE(::SetFilePointerEx(local, end, nullptr, FILE_BEGIN));
        ASSERT_TRUE(::SetEndOfFile(local));
        ::CloseHandle(local);
    }
    TaskPtr task = NewTask();

    EXPECT_EQ(0, Download(task.get()));

    ASSERT_EQ(1u, DataRequests().size());
    EXPECT_EQ("bytes=4294967596-4294968295", DataRequests()[0].rangeValue);
    uint64_t written = 0;
    ASSERT_TRUE(LocalFileSize(LocalPath(kLocalName), &written));
    EXPECT_EQ(size, written);
    HANDLE local = ::CreateFileA(LocalPath(kLocalName).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    ::SetFilePointerEx(local, at, nullptr, FILE_BEGIN);
    std::string tail(700, '\0');
    DWORD got = 0;
    ::ReadFile(local, &tail[0], 700, &got, nullptr);
    ::CloseHandle(local);
    EXPECT_EQ(PatternBytes(offset, 700), tail);
    ::DeleteFileA(LocalPath(kLocalName).c_str());
}

// A file above 16 MiB from a server that names its version, slow per connection so that
// more connections pay.
ServedFile Segmentable() {
    ServedFile file;
    file.patternSize = 24ull << 20;
    file.etag = kEtag;
    file.delayMsPerChunk = 2;
    return file;
}

bool WholePattern(const std::string& path, uint64_t size) { return ReadWholeFile(path) == PatternBytes(0, size); }

TEST_F(ResumableDownload, AServerRefusingASecondConnectionFinishesOnOne) {
    for (int status : {503, 429}) {
        ServedFile file = Segmentable();
        file.busyStatus = status;
        m_server.Serve(kPackage, file);
        const int busyBefore = m_server.BusyAnswers();
        TaskPtr task = NewTask();
        EXPECT_EQ(0, Download(task.get()));
        EXPECT_TRUE(WholePattern(LocalPath(kLocalName), file.patternSize)) << status;
        // Asked once for one more, and never again.
        EXPECT_EQ(busyBefore + 1, m_server.BusyAnswers()) << status;
        EXPECT_TRUE(Boxes().empty()) << status;
        ::DeleteFileA(LocalPath(kLocalName).c_str());
    }
}

TEST_F(ResumableDownload, AValidatorChangingBetweenTwoConnectionsAnswersStartsOverAndEndsWhole) {
    ServedFile file = Segmentable();
    file.laterEtag = "\"v2\"";
    file.laterEtagAfter = 1;
    m_server.Serve(kPackage, file);
    TaskPtr task = NewTask();
    EXPECT_EQ(0, Download(task.get()));
    EXPECT_TRUE(WholePattern(LocalPath(kLocalName), file.patternSize));
    std::vector<SeenRequest> data = DataRequests();
    ASSERT_GE(data.size(), 3u);
    EXPECT_EQ(kEtag, FindHeader(data[1].rawHead, "If-Range"));
    EXPECT_EQ("bytes=0-", data.back().rangeValue);
    EXPECT_TRUE(NoSideFiles());
}

// Seconds since 1970, as nginx logs them.
double UnixNow() {
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    const uint64_t ticks = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return static_cast<double>(ticks - 116444736000000000ull) / 1e7;
}

// Against nginx capping each connection: a killed download leaves several parts, and the rerun
// fetches only the bytes between them.
TEST_F(ResumableDownload, AKilledDownloadOverSeveralConnectionsContinuesEachPart) {
    const char* port = std::getenv("UPDATER_NGINX_PORT");
    if (port == nullptr) GTEST_SKIP() << "runs beside nginx (download_nginx_test)";
    const std::string folder = std::string("Z:") + std::getenv("UPDATER_PACKAGE_DIR");
    const std::string url = std::string("http://127.0.0.1:") + port + "/seg/big.bin";
    const uint64_t size = 40ull << 20;

    SideFileInfo killed = KillWhen(url, [](const SideFileInfo& info) { return info.held.size() >= 3; });
    ASSERT_GE(killed.held.size(), 3u);
    uint64_t held = 0;
    for (const ByteSpan& span : killed.held) held += span.end - span.first;
    ASSERT_LT(held, size);

    const double rerunStart = UnixNow();
    TaskPtr task = NewTask();
    ASSERT_EQ(0, InternetGetFileShowOnList(url.c_str(), kLocalName, &m_written, 0, task.get(),
                                           ReadWholeFile(folder + "/seg.sha256")));
    // Each line: end time, request time, status, body bytes; the rerun's began after its start.
    std::istringstream log(ReadWholeFile(folder + "/seg.log"));
    double end = 0, took = 0;
    int status = 0;
    uint64_t bytes = 0, fetched = 0;
    while (log >> end >> took >> status >> bytes) {
        if (end - took >= rerunStart - 0.002) fetched += bytes;
    }
    EXPECT_EQ(size - held, fetched);
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(ResumableDownload, NoTaskAndTemporaryFile) {
    EXPECT_EQ(-1, InternetGetFileShowOnList(m_server.Url(kPackage).c_str(), kLocalName, &m_written, 0, nullptr));
    ASSERT_EQ(1u, Boxes().size());
    EXPECT_EQ("sUpdateStruct *pupdateStruct  为 NULL.", Boxes()[0].text);

    std::string body = MakeBody(999, 13);
    m_server.Serve(kPackage, ServedFile{body});
    TaskPtr task = NewTask();
    EXPECT_EQ(0, Download(task.get(), nullptr));
    EXPECT_NE(std::string::npos, m_written.find("\\kvw")) << m_written;
    EXPECT_EQ(body, ReadWholeFile(m_written));
    ::DeleteFileA(m_written.c_str());
}

}  // namespace
