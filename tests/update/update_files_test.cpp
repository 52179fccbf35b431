// The two update files: choosing the list through the update URL file, reachability, and the
// check pass that refuses a bad list before anything of it runs.
#include <thread>

#include "tests/update/engine_fixture.h"
#include "framework/gbk_text.h"
#include "framework/http_request.h"
#include "update/update_files.h"
#include "update/update_paths.h"

namespace {

const char kListA[] = "/game/list-a.ini";
const char kListB[] = "/game/list-b.ini";

class UpdateUrlFile : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        m_server.Serve(kListA, ServedFile{"[list0]\r\naction=0\r\n; list a\r\n"});
        m_server.Serve(kListB, ServedFile{"[list0]\r\naction=0\r\n; list b\r\n"});
    }

    // Runs ReadUpdateURLFile for a task with `key`; the fetched list's text goes to `listText`.
    bool Read(const std::string& key, std::string* listUrl, std::string* listText = nullptr) {
        TaskPtr task = NewTask();
        SetFieldText(task->szConfigKey, key);
        UpdateList list;
        bool read = ReadUpdateURLFile(task.get(), &list);
        *listUrl = list.file.url;
        if (listText != nullptr) *listText = list.file.bytes;
        return read;
    }
};

TEST_F(UpdateUrlFile, TheTasksConfigKeyNamesTheList) {
    m_server.Serve(kUrlFile, ServedFile{"[config]\r\nother=" + m_server.Url(kListB) + "\r\nMain=" +
                                        m_server.Url(kListA) + "\r\n"});
    std::string listUrl, listText;
    ASSERT_TRUE(Read("main", &listUrl, &listText));
    EXPECT_EQ(m_server.Url(kListA), listUrl);
    EXPECT_EQ("[list0]\r\naction=0\r\n; list a\r\n", listText);
    ExpectNoBox();
}

TEST_F(UpdateUrlFile, AnEmptyOrMissingKeyFallsBackToOther) {
    m_server.Serve(kUrlFile, ServedFile{"[config]\r\nempty=\r\nother=" + m_server.Url(kListB) + "\r\n"});
    for (const char* key : {"empty", "absent", ""}) {
        std::string listUrl, listText;
        ASSERT_TRUE(Read(key, &listUrl, &listText)) << "key '" << key << "'";
        EXPECT_EQ(m_server.Url(kListB), listUrl) << "key '" << key << "'";
        EXPECT_EQ("[list0]\r\naction=0\r\n; list b\r\n", listText);
    }
    ExpectNoBox();
}

TEST_F(UpdateUrlFile, NeitherKeyNorOtherIsAConfigurationError) {
    m_server.Serve(kUrlFile, ServedFile{"[config]\r\nmain=\r\nother=\r\n[elsewhere]\r\nother=" +
                                        m_server.Url(kListB) + "\r\n"});
    std::string listUrl;
    EXPECT_FALSE(Read("main", &listUrl));
    ExpectOnlyBox("更新URL(" + UrlFileUrl() + ")文件内other项配置错误.", "提示", kNoticeBox);
    for (const SeenRequest& request : m_server.Requests()) EXPECT_NE(kListB, request.target);
}

TEST_F(UpdateUrlFile, AMissingUrlFileIsReportedBeforeAnythingIsFetched) {
    std::string listUrl;
    EXPECT_FALSE(Read("main", &listUrl));
    ExpectOnlyBox("更新URL(" + UrlFileUrl() + ")文件不存在.", "提示", kNoticeBox);
    std::vector<SeenRequest> requests = m_server.Requests();
    ASSERT_EQ(1u, requests.size());
    EXPECT_EQ("HEAD", requests[0].method);
}

TEST_F(UpdateUrlFile, AMissingListIsReportedWithTheListUrl) {
    std::string missing = m_server.Url("/game/gone.ini");
    m_server.Serve(kUrlFile, ServedFile{"[config]\r\nmain=" + missing + "\r\n"});
    std::string listUrl;
    EXPECT_FALSE(Read("main", &listUrl));
    ExpectOnlyBox("更新URL(" + missing + ")文件不存在.", "提示", kNoticeBox);
}

TEST_F(UpdateUrlFile, OnlyNotFoundCountsAsUnreachable) {
    for (int status : {500, 403, 404}) {
        ServedFile page{"status page"};
        page.fixedStatus = status;
        std::string target = "/status/" + std::to_string(status);
        m_server.Serve(target, page);
        EXPECT_EQ(status != 404, IsUrlReachable(m_server.Url(target))) << status;
    }
    EXPECT_TRUE(IsUrlReachable(m_server.Url(kReachable)));
    EXPECT_FALSE(IsUrlReachable(m_server.Url("/never/served")));
    EXPECT_FALSE(IsUrlReachable(""));
    EXPECT_FALSE(IsUrlReachable("local\\file.txt"));
}

// A server that takes the connection and never answers, and one whose redirects go round:
// both end, the loop after a bounded number of requests.
TEST_F(UpdateUrlFile, SilentServersAndRedirectLoopsAreUnreachable) {
    ScopedSocket silent(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(0, bind(silent.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address));
    ASSERT_EQ(0, listen(silent.Get(), 4));
    int length = sizeof address;
    getsockname(silent.Get(), reinterpret_cast<sockaddr*>(&address), &length);
    SetHttpStallLimitMs(1000);
    DWORD start = ::GetTickCount();
    EXPECT_FALSE(IsUrlReachable("http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/x.ini"));
    EXPECT_LT(::GetTickCount() - start, 10000u);
    SetHttpStallLimitMs(0);

    ServedFile loop{"moved"};
    loop.fixedStatus = 302;
    loop.extraHeaders = "Location: /loop\r\n";
    m_server.Serve("/loop", loop);
    EXPECT_FALSE(IsUrlReachable(m_server.Url("/loop")));
    EXPECT_EQ(kMaxRedirects + 1, static_cast<int>(m_server.Requests().size()));

    ServedFile hop{"moved"};
    hop.fixedStatus = 301;
    hop.extraHeaders = std::string("Location: ") + kListA + "\r\n";
    m_server.Serve("/hop", hop);
    EXPECT_TRUE(IsUrlReachable(m_server.Url("/hop")));
}

// An update URL file that never ends is cut off at 1 MiB, and no temporary file stays.
TEST_F(UpdateUrlFile, AnEndlessUrlFileIsRefusedAndLeavesNoTemporaryFile) {
    auto temporaryFiles = [] {
        wchar_t folder[MAX_PATH + 1] = {};
        ::GetTempPathW(MAX_PATH, folder);
        int count = 0;
        WIN32_FIND_DATAW found;
        HANDLE search = ::FindFirstFileW((std::wstring(folder) + L"kvw*.tmp").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) return count;
        do ++count; while (::FindNextFileW(search, &found));
        ::FindClose(search);
        return count;
    };
    const int before = temporaryFiles();
    ServedFile endless;
    endless.patternSize = 64ull << 20;
    endless.sendContentLength = false;
    m_server.Serve(kUrlFile, endless);
    std::string listUrl;
    EXPECT_FALSE(Read("main", &listUrl));
    ExpectOnlyBox("下载文件出错.\n网址:" + UrlFileUrl() + ".\n文件超过1048576字节.", "错误", kErrorBox);
    EXPECT_EQ(before, temporaryFiles());
}

// The check pass as part of the whole task: a refused list runs none of its entries.
class UpdateListCheck : public EngineTest {
protected:
    // An entry that would leave a trace if it ran.
    ListEntry CreatesFolder() const { return {"5", m_server.Url(kReachable), Rel("made"), "CRE"}; }
    void ExpectActionError() {
        ExpectOnlyBox("更新URL(" + ListUrl() + ")文件内action项配置错误.", "提示", kNoticeBox);
        EXPECT_FALSE(FolderExists(Full("made")));
    }
};

TEST_F(UpdateListCheck, AGapInTheNumberingIsAnActionError) {
    ServeListText(MakeListText({CreatesFolder()}) + MakeListText({Reachable()}, 2) + "[list3]\r\naction=0\r\n");
    TaskPtr task = NewTask();
    EXPECT_EQ(-1, RunWorker(task));
    ExpectActionError();
}

TEST_F(UpdateListCheck, AListWithoutItsFirstSectionIsAnActionError) {
    ServeListText(MakeListText({CreatesFolder(), Reachable()}, 1) + "[list3]\r\naction=0\r\n");
    EXPECT_EQ(-1, RunWorker(NewTask()));
    ExpectActionError();
}

TEST_F(UpdateListCheck, AnErrorPageInPlaceOfTheListIsAnActionError) {
    m_server.Serve(kUrlFile, ServedFile{"[config]\r\nmain=" + ListUrl() + "\r\n"});
    ServedFile page{"<html><body>Internal error</body></html>"};
    page.fixedStatus = 500;
    m_server.Serve(kListFile, page);
    EXPECT_EQ(-1, RunWorker(NewTask()));
    ExpectActionError();
}

TEST_F(UpdateListCheck, AnUnreadableActionEndsTheList) {
    // "abc" reads as 0: the list ends before the entry that would fail.
    ServeListText(MakeListText({CreatesFolder(), {"abc", "", Rel("x"), "DEL"}, {"1", "", Rel("y"), "BOGUS"}}));
    int starts = MavrinStarts();
    EXPECT_EQ(0, RunWorker(NewTask()));
    ExpectNoBox();
    EXPECT_TRUE(FolderExists(Full("made")));
    EXPECT_TRUE(WaitForMavrinStarts(starts + 1));
}

TEST_F(UpdateListCheck, AnEntryWithNeitherBitOnlyHasItsLogLine) {
    m_server.Serve("/game/four.bin", ServedFile{"should not be fetched"});
    WriteWholeFile(Full("keep.txt"), "kept");
    ServeList({{"4", m_server.Url("/game/four.bin"), Rel("keep.txt"), "DEL"}});
    EXPECT_EQ(0, RunWorker(NewTask()));
    ExpectNoBox();
    EXPECT_EQ("kept", ReadWholeFile(Full("keep.txt")));
    for (const SeenRequest& request : m_server.Requests()) {
        if (request.target == "/game/four.bin") {
            EXPECT_EQ("HEAD", request.method);
        }
    }
}

TEST_F(UpdateListCheck, ACommandWithoutWordOrTargetIsRefused) {
    struct Case {
        ListEntry entry;
        const char* message;
    };
    const Case cases[] = {
        {{"1", "", Rel("a"), ""}, "解析更新列表文件错误,动作有命令但命令为空."},
        {{"3", m_server.Url(kReachable), Rel("a"), ""}, "解析更新列表文件错误,动作有命令但命令为空."},
        {{"1", "", "", "DEL"}, "解析更新列表文件错误,动作有命令但目标文件为空."},
    };
    for (const Case& c : cases) {
        Fresh();
        ServeList({CreatesFolder(), c.entry, Reachable()});
        EXPECT_EQ(-1, RunWorker(NewTask()));
        ExpectOnlyBox(c.message, "错误", kErrorBox);
        EXPECT_FALSE(FolderExists(Full("made")));
    }
}

TEST_F(UpdateListCheck, ADownloadWithAnEmptyPathIsRefusedWithBothValues) {
    std::string url = m_server.Url(kReachable);
    ServeList({CreatesFolder(), {"2", url, "", ""}, Reachable()});
    EXPECT_EQ(-1, RunWorker(NewTask()));
    ExpectOnlyBox("解析更新列表文件错误,动作为下载文件但文件路径为空.\n源文件: " + url + "\n目标文件:", "错误",
                  kErrorBox);
    EXPECT_FALSE(FolderExists(Full("made")));

    Fresh();
    ServeList({{"2", "", Rel("dest.txt"), ""}, Reachable()});
    EXPECT_EQ(-1, RunWorker(NewTask()));
    ExpectOnlyBox("解析更新列表文件错误,动作为下载文件但文件路径为空.\n源文件: \n目标文件:" + Rel("dest.txt"),
                  "错误", kErrorBox);
}

// No URL is no missing file: the box says the URL can't be opened.
TEST_F(UpdateListCheck, ALastEntryWithoutAReachableSourceFailsTheFinalTest) {
    for (const std::string& source : {std::string(), std::string("local\\a.txt")}) {
        Fresh();
        EXPECT_EQ(-1, RunList({{"1", source, Rel("made"), "CRE"}}, false));
        std::vector<ShownBox> boxes = Boxes();
        ASSERT_EQ(1u, boxes.size()) << source;
        EXPECT_EQ(0u, boxes[0].text.find("InternetOpenUrl 错误.\n网址:" + source + ".\n")) << boxes[0].text;
        EXPECT_EQ(kErrorBox, boxes[0].type);
        EXPECT_FALSE(FolderExists(Full("made")));
    }
}

// Redirects that go round, for the update URL file (tested before it is fetched) and for the
// list's last source: the box says so, not that the file is missing.
TEST_F(UpdateListCheck, AReachabilityTestThatFailsSaysWhy) {
    ServedFile loop{"moved"};
    loop.fixedStatus = 302;
    loop.extraHeaders = "Location: /loop\r\n";
    const std::string loopUrl = m_server.Url("/loop");
    for (bool urlFileLoops : {true, false}) {
        Fresh();
        m_server.Serve("/loop", loop);
        ServeList({{"4", loopUrl, "", ""}});
        if (urlFileLoops) m_server.Serve(kUrlFile, loop);
        EXPECT_EQ(-1, RunWorker(NewTask()));
        ExpectOnlyBox("下载文件出错.\n网址:" + (urlFileLoops ? UrlFileUrl() : loopUrl) + ".\n重定向次数过多.", "错误",
                      kErrorBox);
    }
}

// Every file in the temporary folder that holds exactly `bytes` gets `replacement` instead;
// returns how many there were.
int RewriteTemporaryCopies(const std::string& bytes, const std::string& replacement) {
    wchar_t folder[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH, folder);
    int rewritten = 0;
    WIN32_FIND_DATAW found;
    HANDLE search = ::FindFirstFileW((std::wstring(folder) + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return 0;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || found.nFileSizeHigh != 0 ||
            found.nFileSizeLow != bytes.size())
            continue;
        const std::string path = WideToGbk(std::wstring(folder) + found.cFileName);
        if (ReadWholeFile(path) != bytes) continue;
        WriteWholeFile(path, replacement);
        ++rewritten;
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return rewritten;
}

// What was checked is what runs: while the first entry downloads, the list is rewritten
// wherever it lies on disk, and the next entry runs as checked all the same.
TEST_F(UpdateListCheck, AListRewrittenOnDiskAfterItsCheckChangesNothing) {
    ServedFile slow{std::string(192 * 1024, 's')};
    slow.delayMsPerChunk = 100;
    m_server.Serve("/files/slow.bin", slow);
    const ListEntry download{"2", m_server.Url("/files/slow.bin"), Rel("slow.bin"), ""};
    auto listText = [&](const std::string& folder) {
        return MakeListText({download, {"1", "", Rel(folder), "CRE"}, Reachable()}) + "[list3]\r\naction=0\r\n";
    };
    const std::string checked = listText("checked");
    ServeListText(checked);
    int result = 1;
    std::thread worker([&] { result = RunWorker(NewTask()); });
    bool downloading = false;
    for (int wait = 0; wait < 1000 && !downloading; ++wait) {
        for (const SeenRequest& request : m_server.Requests())
            downloading |= request.method == "GET" && request.target == "/files/slow.bin";
        if (!downloading) ::Sleep(20);
    }
    const int copies = RewriteTemporaryCopies(checked, listText("swapped"));
    worker.join();
    ASSERT_TRUE(downloading);
    EXPECT_EQ(0, result);
    ExpectNoBox();
    EXPECT_EQ(0, copies) << "the list lay in the temporary folder while it ran";
    EXPECT_TRUE(FolderExists(Full("checked")));
    EXPECT_FALSE(FolderExists(Full("swapped")));
}

TEST_F(UpdateListCheck, ALongSourceUrlIsFetchedWhole) {
    // Longer than a path buffer: a cut URL would fetch (and test) another target.
    for (const char* extension : {".txt", ".zip"}) {
        Fresh();
        std::string target = "/long/" + std::string(600, 'a') + extension;
        std::string body = "long url body " + std::string(extension);
        m_server.Serve(target, ServedFile{body});
        std::string url = m_server.Url(target);
        ASSERT_GT(url.size(), 600u);
        EXPECT_EQ(0, RunList({{"2", url, Rel("long.bin"), ""}}, false)) << extension;
        ExpectNoBox();
        EXPECT_EQ(body, ReadWholeFile(Full("long.bin"))) << extension;
        for (const SeenRequest& request : m_server.Requests()) {
            if (request.target.rfind("/long/", 0) == 0) {
                EXPECT_EQ(target, request.target);
            }
        }
    }
}

TEST_F(UpdateListCheck, AListOfOnlyItsEndMarkerLaunchesTheLobbyClient) {
    ServeListText("[list0]\r\naction=0\r\n");
    int starts = MavrinStarts();
    EXPECT_EQ(0, RunWorker(NewTask()));
    ExpectNoBox();
    EXPECT_TRUE(WaitForMavrinStarts(starts + 1));
    // Only the two update files were tested and fetched: no final reachability test.
    std::vector<SeenRequest> requests = m_server.Requests();
    for (const SeenRequest& request : requests) {
        EXPECT_TRUE(request.target == kUrlFile || request.target == kListFile) << request.target;
    }
}

}  // namespace
