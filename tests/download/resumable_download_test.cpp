// The resumable download against a scripted server: ranges, statuses, lost connections.
#include <atomic>
#include <thread>

#include "app/process_values.h"
#include "download/internet_download.h"
#include "download/local_file.h"
#include "tests/download/download_fixture.h"
#include "tests/support/test_list_window.h"
#include "update/exit_flag.h"

namespace {

const char kPackage[] = "/games/demo/game.zip";
const char kLocalName[] = "game.zip";

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
    std::string m_written;
};

TEST_F(ResumableDownload, ResumesAPartialFileWithARangeFromItsEnd) {
    std::string body = MakeBody(1000, 1);
    m_server.Serve(kPackage, ServedFile{body});
    WriteWholeFile(LocalPath(kLocalName), body.substr(0, 300));
    TaskPtr task = NewTask();

    EXPECT_EQ(0, Download(task.get()));

    EXPECT_EQ(LocalPath(kLocalName), m_written);
    EXPECT_EQ(body, ReadWholeFile(LocalPath(kLocalName)));
    std::vector<SeenRequest> data = DataRequests();
    ASSERT_EQ(1u, data.size());
    EXPECT_EQ("bytes=300-", data[0].rangeValue);
    EXPECT_EQ("bytes=300-", FindHeader(data[0].rawHead, "Range")) << data[0].rawHead;
    EXPECT_EQ(1.0f, task->fProgress.load());
    EXPECT_EQ(0.0, task->dSpeed.load());
    EXPECT_TRUE(Boxes().empty());
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

TEST_F(ResumableDownload, CompleteOrLargerLocalFileIsDoneWithoutReading) {
    std::string body = MakeBody(1000, 3);
    m_server.Serve(kPackage, ServedFile{body});
    WriteWholeFile(LocalPath(kLocalName), body);
    TaskPtr task = NewTask();
    EXPECT_EQ(0, Download(task.get()));
    EXPECT_EQ(body, ReadWholeFile(LocalPath(kLocalName)));
    EXPECT_GE(task->fProgress.load(), 1.0f);
    EXPECT_EQ(1u, DataRequests().size());  // the 416 answer says it is complete

    std::string longer = body + "tail";
    WriteWholeFile(LocalPath(kLocalName), longer);
    EXPECT_EQ(0, Download(task.get()));
    EXPECT_EQ(longer, ReadWholeFile(LocalPath(kLocalName)));
    EXPECT_GE(task->fProgress.load(), 1.0f);
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
    ServedFile file{body};
    file.range = RangeMode::Ignore;
    m_server.Serve(kPackage, file);
    WriteWholeFile(LocalPath(kLocalName), body.substr(0, 300));
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
    ServedFile file{body};
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

TEST_F(ResumableDownload, CutAtFiftyOffsetsAlwaysEndsByteIdentical) {
    std::string body = MakeBody(200000, 9);
    for (int run = 0; run < 50; ++run) {
        uint64_t cut = 1 + static_cast<uint64_t>(run) * 3989;  // spread over the body, odd offsets
        ServedFile file{body};
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

TEST_F(ResumableDownload, StopDuringTheDownloadKeepsThePartialFile) {
    std::string body = MakeBody(4 * 1024 * 1024, 10);
    ServedFile file{body};
    file.delayMsPerChunk = 5;
    m_server.Serve(kPackage, file);
    TaskPtr task = NewTask();
    std::thread stopper([&] {
        uint64_t size = 0;
        while (!LocalFileSize(LocalPath(kLocalName), &size) || size < 100000) ::Sleep(5);
        task->bStop = true;
    });

    EXPECT_EQ(-1, Download(task.get()));
    stopper.join();

    std::string partial = ReadWholeFile(LocalPath(kLocalName));
    EXPECT_GE(partial.size(), 100000u);
    EXPECT_LT(partial.size(), body.size());
    EXPECT_EQ(body.substr(0, partial.size()), partial);
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

TEST_F(ResumableDownload, OffsetAboveFourGigabytesIsWrittenInFull) {
    const uint64_t size = 4294968296ull;  // 4 GiB + 1000
    const uint64_t offset = 4294967596ull;
    ServedFile file;
    file.patternSize = size;
    m_server.Serve(kPackage, file);
    {
        // A sparse file as large as the offset: nothing to write for the first 4 GiB.
        HANDLE local = ::CreateFileA(LocalPath(kLocalName).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
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
    EXPECT_EQ("bytes=4294967596-", DataRequests()[0].rangeValue);
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
