// Running the same update list again after a run was cut short: entries already completed
// are skipped, the one that was cut goes on safely, and nothing already in place is fetched.
#include "tests/update/engine_fixture.h"

#include "framework/gbk_text.h"
#include "framework/sha256.h"
#include "tests/update/zip_writer.h"
#include "update/task_journal.h"

namespace {

class Rerun : public EngineTest {
protected:
    ListEntry After() const { return {"1", "", Rel("after"), "CRE"}; }
    bool WentOn() const { return FolderExists(Full("after")); }

    // The list text served for `entries`, `After()`, `Reachable()` and the end marker; an
    // entry's sha256 line is given by `sha256` for entry 0 when not empty.
    std::string ListText(const std::vector<ListEntry>& entries, const std::string& sha256 = "") const {
        std::string text = MakeListText({entries[0]});
        if (!sha256.empty()) text += "sha256=" + sha256 + "\r\n";
        std::vector<ListEntry> rest(entries.begin() + 1, entries.end());
        rest.push_back(After());
        rest.push_back(Reachable());
        const int end = static_cast<int>(entries.size()) + 2;
        return text + MakeListText(rest, 1) + "[list" + std::to_string(end) + "]\r\naction=0\r\n";
    }

    // What a run of `listText` cut short in entry `done` would have left as its journal.
    void WriteJournalOf(const std::string& listText, int done, bool fetched) {
        std::string key = UpdateListKey(listText);
        WriteWholeFile(TaskJournalPath(ListUrl()), "list=" + key + "\r\ndone=" + std::to_string(done) + "\r\nfetched=" +
                                              (fetched ? "1" : "0") + "\r\n");
    }

    int GetsOf(const std::string& target) {
        int gets = 0;
        for (const SeenRequest& seen : m_server.Requests()) gets += seen.method == "GET" && seen.target == target;
        return gets;
    }

    int RunServed(const std::string& listText) {
        ServeListText(listText);
        TaskPtr task = NewTask();
        task->nState = kTaskRunning;
        return RunWorker(task);
    }
};

std::string Sha256Of(const std::string& bytes) {
    std::string hex;
    BytesSha256(bytes, &hex);
    return hex;
}

// A run cut just after the command took effect: the rerun skips the download before it and
// takes the command as done, where running it again would fail.
TEST_F(Rerun, TheCommandACutRunCarriedOutCountsAsDone) {
    m_server.Serve("/files/tool.txt", ServedFile{"new tool"});
    const std::vector<ZipEntry> unpacked = {{"data/level.dat", "level"}};
    m_server.Serve("/files/pkg.zip", ServedFile{MakeStoredZip(unpacked)});
    struct Case {
        const char* name;
        std::vector<ListEntry> entries;
        std::vector<std::string> present;  // what the cut run left
    } cases[] = {
        {"REN",
         {{"2", m_server.Url("/files/tool.txt"), Rel("tool.txt"), ""}, {"1", Rel("tool.txt"), Rel("tool2.txt"), "REN"}},
         {"tool2.txt"}},
        {"MOVE",
         {{"2", m_server.Url("/files/tool.txt"), Rel("tool.txt"), ""},
          {"1", Rel("tool.txt"), Rel("tool2.txt"), "MOVE"}},
         {"tool2.txt"}},
        {"DEC",
         {{"2", m_server.Url("/files/pkg.zip"), Rel("pkg.zip"), ""}, {"1", "", Rel("pkg.zip"), "DEC"}},
         {"data\\level.dat"}},
    };
    for (const Case& c : cases) {
        Fresh();
        ::CreateDirectoryA(Full("data").c_str(), nullptr);
        for (const std::string& file : c.present) WriteWholeFile(Full(file), "done before");
        const std::string list = ListText(c.entries);
        WriteJournalOf(list, 1, false);
        EXPECT_EQ(0, RunServed(list)) << c.name;
        ExpectNoBox();
        EXPECT_EQ(0, GetsOf("/files/tool.txt") + GetsOf("/files/pkg.zip")) << c.name << ": fetched again";
        for (const std::string& file : c.present) EXPECT_EQ("done before", ReadWholeFile(Full(file))) << c.name;
        EXPECT_TRUE(WentOn()) << c.name;
        EXPECT_FALSE(FileExists(TaskJournalPath(ListUrl()))) << c.name << ": the finished list's journal stays";
    }
}

// An archive whose download completed before the cut is unpacked without being fetched
// again; a journal of another list (other bytes) is no reason to skip anything.
TEST_F(Rerun, ADownloadedArchiveIsNotFetchedAgainAndAnotherListStartsFromItsTop) {
    const std::vector<ZipEntry> files = {{"data/level.dat", "level 2"}};
    m_server.Serve("/files/pkg.zip", ServedFile{MakeStoredZip(files)});
    const std::vector<ListEntry> entries = {{"3", m_server.Url("/files/pkg.zip"), Rel("pkg.zip"), "DEC"}};
    struct Case {
        const char* name;
        std::string journalOf;  // the list the journal belongs to
        int gets;
    } cases[] = {
        {"same list", ListText(entries), 0},
        {"other list", ListText(entries) + "\r\n", 1},
    };
    for (const Case& c : cases) {
        Fresh();
        WriteWholeFile(Full("pkg.zip"), MakeStoredZip(files));
        WriteJournalOf(c.journalOf, 0, true);
        EXPECT_EQ(0, RunServed(ListText(entries))) << c.name;
        ExpectNoBox();
        EXPECT_EQ(c.gets, GetsOf("/files/pkg.zip")) << c.name;
        EXPECT_EQ("level 2", ReadWholeFile(Full("data\\level.dat"))) << c.name;
        EXPECT_FALSE(FileExists(Full("pkg.zip"))) << c.name;
        EXPECT_FALSE(FileExists(TaskJournalPath(ListUrl()))) << c.name;
    }
}

// A destination that already holds the content the list names is not fetched, and the
// leftovers of an interrupted fetch of it go; any other content is fetched.
TEST_F(Rerun, ADownloadWhoseDestinationHoldsItsSha256IsNotFetched) {
    const std::string body = "package bytes";
    m_server.Serve("/files/game.zip", ServedFile{body});
    const std::string sha256 = Sha256Of(body);
    const std::vector<ListEntry> entries = {{"2", m_server.Url("/files/game.zip"), Rel("game.zip"), ""}};
    for (const std::string& installed : {body, std::string("older bytes")}) {
        Fresh();
        WriteWholeFile(Full("game.zip"), installed);
        WriteWholeFile(Full("game.zip.part.info"), "left by a cut run");
        ServeListText(ListText(entries, sha256));
        TaskPtr task = NewTask();
        task->nState = kTaskRunning;
        EXPECT_EQ(0, RunWorker(task));
        ExpectNoBox();
        const bool same = installed == body;
        EXPECT_EQ(same ? 0 : 1, GetsOf("/files/game.zip")) << installed;
        EXPECT_EQ(body, ReadWholeFile(Full("game.zip")));
        EXPECT_FALSE(FileExists(Full("game.zip.part.info"))) << installed;
        EXPECT_EQ(1.0f, task->fProgress) << installed;
        EXPECT_TRUE(WentOn());
    }
}

// A wildcard move that failed on a locked file is not taken as done: once the lock is gone,
// the rerun moves what was left, and what the first run moved is no error then.
TEST_F(Rerun, AWildcardMoveThatFailedOnALockedFileMovesItOnTheRerun) {
    ::CreateDirectoryA(Full("new").c_str(), nullptr);
    ::CreateDirectoryA(Full("bin").c_str(), nullptr);
    WriteWholeFile(Full("new\\a.dll"), "new a");
    WriteWholeFile(Full("new\\b.dll"), "new b");
    WriteWholeFile(Full("bin\\b.dll"), "old b");
    const std::string list = ListText({{"1", Rel("new\\*.dll"), Rel("bin"), "MOVE"}});
    HANDLE locked = ::CreateFileA(Full("new\\b.dll").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, locked);
    const int cut = RunServed(list);
    ::CloseHandle(locked);
    EXPECT_EQ(-1, cut);
    ExpectOnlyBox("移动 " + Rel("new\\*.dll") + " 到 " + Rel("bin") + " 失败.", "错误", kErrorBox);

    EXPECT_EQ(0, RunServed(list));
    EXPECT_EQ(1u, Boxes().size()) << "the rerun showed a box: " << Boxes().back().text;
    EXPECT_EQ("new a", ReadWholeFile(Full("bin\\a.dll")));
    EXPECT_EQ("new b", ReadWholeFile(Full("bin\\b.dll")));
    EXPECT_FALSE(FileExists(Full("new\\b.dll")));
    EXPECT_TRUE(WentOn());
}

// An archive that an earlier entry fetched and that fails to unpack is fetched again by the
// rerun and installed; a rename between the two, done by the failed run, is no error then.
TEST_F(Rerun, AnArchiveThatFailedToUnpackIsFetchedAgainByTheEntryThatFetchedIt) {
    const std::vector<ZipEntry> files = {{"data/level.dat", "level 3"}};
    const std::string good = MakeStoredZip(files);
    std::string corrupt = good;
    corrupt[30 + 14 + 2] ^= 0x55;  // a byte of level.dat's data: its CRC no longer matches
    m_server.Serve("/files/pkg.zip", ServedFile{corrupt});
    WriteWholeFile(Full("tool.txt"), "tool");
    const std::string list = ListText({{"2", m_server.Url("/files/pkg.zip"), Rel("pkg.zip"), ""},
                                       {"1", Rel("tool.txt"), Rel("tool2.txt"), "REN"},
                                       {"1", "", Rel("pkg.zip"), "DEC"}});
    EXPECT_EQ(-1, RunServed(list));
    ASSERT_EQ(1u, Boxes().size());
    EXPECT_EQ(0u, Boxes()[0].text.find("解压文件" + Rel("pkg.zip") + "失败."));

    m_server.Serve("/files/pkg.zip", ServedFile{good});
    m_server.ClearRequests();
    const std::vector<ShownBox> before = Boxes();
    EXPECT_EQ(0, RunServed(list));
    EXPECT_EQ(before.size(), Boxes().size()) << "the rerun showed a box: " << Boxes().back().text;
    EXPECT_EQ(1, GetsOf("/files/pkg.zip"));
    EXPECT_EQ("level 3", ReadWholeFile(Full("data\\level.dat")));
    EXPECT_EQ("tool", ReadWholeFile(Full("tool2.txt")));
    EXPECT_FALSE(FileExists(Full("pkg.zip")));
    EXPECT_TRUE(WentOn());
}

// Another game's list run to its end in between leaves this list's journal as it was.
TEST_F(Rerun, AnotherListsRunInBetweenKeepsTheJournal) {
    const std::string otherUrl = m_server.Url("/other/list.ini");
    TaskJournal cut(ListUrl(), UpdateListKey("list a"));
    cut.MarkDone(0);
    TaskJournal other(otherUrl, UpdateListKey("list b"));
    other.MarkDone(0);
    other.Finish();
    TaskJournal again(ListUrl(), UpdateListKey("list a"));
    EXPECT_TRUE(again.IsDone(0));
    EXPECT_TRUE(again.WasInterruptedIn(1));
    again.Finish();
    EXPECT_FALSE(FileExists(TaskJournalPath(ListUrl())));
    EXPECT_FALSE(FileExists(TaskJournalPath(otherUrl)));
}

}  // namespace
