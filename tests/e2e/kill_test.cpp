// The real updater killed (TerminateProcess) at many points of one task and started again
// with the same request: every rerun ends with the program folder of one uninterrupted run,
// byte for byte, with nothing left over, and fetches only what was not yet in place. Prints
// what each rerun fetched.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <map>

#include "framework/gbk_text.h"
#include "framework/sha256.h"
#include "tests/e2e/updater_session.h"

namespace {

using Tree = std::map<std::string, std::string>;  // relative path -> content ("<folder>" for folders)

const char kFolderMark[] = "<folder>";
// The program's own files stay; everything else is what the task made.
const char* const kKeptFiles[] = {"updater.exe", "CfgEngine.dll", "Unzip.dll", "Mavrin.exe", "kvgame.kcf"};

bool IsKept(const std::string& name) {
    for (const char* kept : kKeptFiles) {
        if (_stricmp(kept, name.c_str()) == 0) return true;
    }
    return false;
}

void Walk(const std::string& folder, const std::string& relative, Tree* tree) {
    WIN32_FIND_DATAA found;
    HANDLE search = ::FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        std::string name = found.cFileName;
        if (name == "." || name == "..") continue;
        // The run's own logs differ from run to run by nature.
        if (relative.empty() && (name == "output.txt" || name == "Mavrin.log")) continue;
        std::string path = relative.empty() ? name : relative + "\\" + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            (*tree)[path] = kFolderMark;
            Walk(folder + "\\" + name, path, tree);
        } else {
            (*tree)[path] = UpdaterSession::ReadWholeFile(folder + "\\" + name);
        }
    } while (::FindNextFileA(search, &found));
    ::FindClose(search);
}

Tree Snapshot(const std::string& folder) {
    Tree tree;
    Walk(folder, "", &tree);
    return tree;
}

// The paths where two trees differ, for the message.
std::string Differences(const Tree& expected, const Tree& actual) {
    std::string text;
    for (const auto& [path, content] : expected) {
        auto found = actual.find(path);
        if (found == actual.end()) text += " missing:" + path;
        else if (found->second != content) text += " differs:" + path;
    }
    for (const auto& [path, content] : actual) {
        if (expected.count(path) == 0) text += " left over:" + path;
    }
    return text;
}

void RemoveTreeBelow(const std::string& folder, bool keepProgram) {
    WIN32_FIND_DATAA found;
    HANDLE search = ::FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        std::string name = found.cFileName;
        if (name == "." || name == ".." || (keepProgram && IsKept(name))) continue;
        std::string path = folder + "\\" + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            RemoveTreeBelow(path, false);
            ::RemoveDirectoryA(path.c_str());
        } else {
            ::DeleteFileA(path.c_str());
        }
    } while (::FindNextFileA(search, &found));
    ::FindClose(search);
}

std::string Sha256Hex(const std::string& bytes) {
    std::string hex;
    BytesSha256(bytes, &hex);
    return hex;
}

// A journal of an unfinished list lies in the program's folder.
bool HasJournal(const std::string& folder) {
    WIN32_FIND_DATAA found;
    HANDLE search = ::FindFirstFileA((folder + "\\updater-*.journal").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    ::FindClose(search);
    return true;
}

// Files in a folder (the updater's own temporary folder), counted without going down.
int FilesIn(const std::string& folder) {
    int count = 0;
    WIN32_FIND_DATAA found;
    HANDLE search = ::FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return 0;
    do {
        count += !(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    } while (::FindNextFileA(search, &found));
    ::FindClose(search);
    return count;
}

// The trace file is GBK; the test's output is read as UTF-8.
std::string Utf8(const std::string& gbk) {
    std::wstring wide = GbkToWide(gbk);
    int size = ::WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), static_cast<int>(wide.size()), nullptr, 0, nullptr,
                                     nullptr);
    std::string text(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), static_cast<int>(wide.size()), &text[0], size, nullptr, nullptr);
    return text;
}

// What the rerun may fetch of the package.
enum class Package { Any, Resumed, InPlace };

// What the server sent for the two packages between two moments.
struct Fetched {
    uint64_t notesBytes = 0;
    uint64_t packageBytes = 0;
    int notesGets = 0;
    int packageGets = 0;
    int packageHeads = 0;
    int requests = 0;  // every request, the update files included
};

class UpdaterKilled : public ::testing::Test {
protected:
    // The updater gets a temporary folder of its own (it inherits TEMP and TMP), so what it
    // leaves there is told apart from other tests' files.
    void SetUp() override {
        char temp[MAX_PATH] = {};
        ::GetTempPathA(MAX_PATH, temp);
        m_temp = std::string(temp) + "kill-test-temp-" + std::to_string(::GetCurrentProcessId());
        ::CreateDirectoryA(m_temp.c_str(), nullptr);
        ::SetEnvironmentVariableA("TEMP", m_temp.c_str());
        ::SetEnvironmentVariableA("TMP", m_temp.c_str());
    }
    void TearDown() override {
        m_session.Finish(HasFailure());
        ::SetEnvironmentVariableA("TEMP", nullptr);
        ::SetEnvironmentVariableA("TMP", nullptr);
        RemoveTreeBelow(m_temp, false);
        ::RemoveDirectoryA(m_temp.c_str());
    }

    std::string Target(const std::string& name) const { return "/" + m_game.folder + "/" + name; }

    // A plain download (sha256), a resumable package with a sub-folder that is unpacked,
    // a REN of the plain download, a COPY out of the package and a DEL of an old file.
    void ServeList(bool withDecAndRen) {
        const std::string notes = PatternBytes(7, 256 * 1024);
        ServedFile notesFile{notes};
        notesFile.delayMsPerChunk = 40;  // slow enough to be cut in the middle
        m_server->Serve(Target("notes.txt"), notesFile);
        m_files = {{"bin/tool.exe", PatternBytes(11, 200 * 1024)},
                   {"data/maps/level1.dat", PatternBytes(23, 1200 * 1024)},
                   {"data/readme.txt", "readme of the new version\r\n"}};
        const std::string package = MakeStoredZip(m_files);
        ServedFile packageFile{package};
        packageFile.etag = "\"v2\"";  // so a cut package can be resumed
        packageFile.delayMsPerChunk = 40;  // the side file is flushed (and so resumable) once a second
        m_server->Serve(Target("pkg.zip"), packageFile);
        const std::string version = PatternBytes(31, 96 * 1024);
        ServedFile versionFile{version};
        versionFile.delayMsPerChunk = 60;
        m_server->Serve(Target("version.txt"), versionFile);
        m_server->Serve(m_session.UrlFileTarget(m_game),
                        ServedFile{"[config]\r\n" + m_game.configKey + "=" + m_server->Url(Target("list.ini")) + "\r\n"});
        const std::string dir = m_game.folder + "\\";
        std::string list = "[list0]\r\naction=2\r\nsrcfile=" + m_server->Url(Target("notes.txt")) + "\r\ndestfile=" + dir +
                           "notes.new\r\nsha256=" + Sha256Hex(notes) + "\r\n";
        if (withDecAndRen) {
            list += "[list1]\r\naction=3\r\nsrcfile=" + m_server->Url(Target("pkg.zip")) + "\r\ndestfile=" + dir +
                    "pkg.zip\r\ncmd=DEC\r\n";
            list += "[list2]\r\naction=1\r\nsrcfile=" + dir + "notes.new\r\ndestfile=" + dir + "notes.txt\r\ncmd=REN\r\n";
            list += "[list3]\r\naction=1\r\nsrcfile=" + dir + "data\\readme.txt\r\ndestfile=" + dir +
                    "readme.txt\r\ncmd=COPY\r\n";
        } else {
            // Kept packed, with its checksum: a second run can see it is in place.
            list += "[list1]\r\naction=2\r\nsrcfile=" + m_server->Url(Target("pkg.zip")) + "\r\ndestfile=" + dir +
                    "pkg.zip\r\nsha256=" + Sha256Hex(package) + "\r\n";
            list += "[list2]\r\naction=1\r\nsrcfile=" + dir + "notes.new\r\ndestfile=" + dir + "notes.txt\r\ncmd=COPY\r\n";
            list += "[list3]\r\naction=1\r\nsrcfile=" + dir + "notes.new\r\ndestfile=" + dir + "notes2.txt\r\ncmd=COPY\r\n";
        }
        list += "[list4]\r\naction=1\r\ndestfile=" + dir + "old.txt\r\ncmd=DEL\r\n";
        // The last entry takes a while, so a kill can land in it before the list ends.
        list += "[list5]\r\naction=2\r\nsrcfile=" + m_server->Url(Target("version.txt")) + "\r\ndestfile=" + dir +
                "version.txt\r\nsha256=" + Sha256Hex(version) + "\r\n";
        list += "[list6]\r\naction=0\r\n";
        m_server->Serve(Target("list.ini"), ServedFile{list});
        m_packageSize = package.size();
    }

    // The folder as it was before the update: the program and the old version's files.
    void OldInstall() {
        RemoveTreeBelow(m_session.Folder(), true);
        ::CreateDirectoryA(m_session.Local(m_game.folder).c_str(), nullptr);
        std::FILE* old = std::fopen(m_session.Local(m_game.folder + "\\old.txt").c_str(), "wb");
        std::fputs("the old version's file", old);
        std::fclose(old);
    }

    // Sends the request and waits for the task's end; every box is noted and closed.
    void RunToEnd(std::string* boxes) {
        ASSERT_NO_FATAL_FAILURE(m_session.SendRecords({m_session.Request(m_game)}));
        DWORD start = ::GetTickCount();
        sUpdateStruct report = {};
        while (!m_session.NextRecord(&report, 200)) {
            ASSERT_LT(::GetTickCount() - start, 60000u) << "the task never ended";
            for (const wchar_t* title : {L"错误", L"提示"}) {
                if (HWND box = m_session.WaitForBox(title, 0)) {
                    *boxes += WideToGbk(UpdaterSession::BoxText(box)) + " ";
                    UpdaterSession::CloseBox(box);
                }
            }
        }
        EXPECT_TRUE(IsTaskEndedReport(report, m_session.Request(m_game)));
        // Its work is done; the self-close a second later is of no interest here.
        m_session.Program().Kill();
    }

    Fetched Mark() const {
        Fetched now;
        now.notesBytes = m_server->BodyBytesSent(Target("notes.txt"));
        now.packageBytes = m_server->BodyBytesSent(Target("pkg.zip"));
        for (const SeenRequest& seen : m_server->Requests()) {
            ++now.requests;
            now.notesGets += seen.method == "GET" && seen.target == Target("notes.txt");
            now.packageGets += seen.method == "GET" && seen.target == Target("pkg.zip");
            now.packageHeads += seen.method == "HEAD" && seen.target == Target("pkg.zip");
        }
        return now;
    }

    static Fetched Between(const Fetched& before, const Fetched& after) {
        Fetched got;
        got.notesBytes = after.notesBytes - before.notesBytes;
        got.packageBytes = after.packageBytes - before.packageBytes;
        got.notesGets = after.notesGets - before.notesGets;
        got.packageGets = after.packageGets - before.packageGets;
        got.packageHeads = after.packageHeads - before.packageHeads;
        got.requests = after.requests - before.requests;
        return got;
    }

    bool OutputHas(const std::string& text) const {
        return UpdaterSession::ReadWholeFile(m_session.Local("output.txt")).find(text) != std::string::npos;
    }
    bool There(const std::string& relative) const {
        return UpdaterSession::Exists(m_session.Local(m_game.folder + "\\" + relative));
    }
    bool UnpackUnderWay() const {
        WIN32_FIND_DATAA found;
        HANDLE search =
            ::FindFirstFileA(m_session.Local(m_game.folder + "\\data\\maps\\~unzip-*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) ::FindClose(search);
        return search != INVALID_HANDLE_VALUE || There("bin\\tool.exe");
    }

    // The last line of the trace file: where the kill landed.
    std::string LastOutputLine() const {
        std::string text = UpdaterSession::ReadWholeFile(m_session.Local("output.txt"));
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        size_t start = text.find_last_of('\n');
        return start == std::string::npos ? text : text.substr(start + 1);
    }

    uint64_t m_notesMark = 0;
    uint64_t m_packageMark = 0;
    int m_headsMark = 0;
    size_t m_requestsMark = 0;
    UpdaterSession m_session;
    std::string m_temp;
    TestHttpServer* m_server = &m_session.Server();
    E2eGame m_game = MakeGame(501, "Killed", L"Killed", "kill");
    std::vector<ZipEntry> m_files;
    uint64_t m_packageSize = 0;
};

TEST_F(UpdaterKilled, EveryRerunAfterAKillEndsWithTheCleanInstallAndFetchesOnlyWhatIsMissing) {
    ServeList(true);
    ASSERT_NO_FATAL_FAILURE(m_session.Start());
    OldInstall();
    std::string boxes;
    ASSERT_NO_FATAL_FAILURE(RunToEnd(&boxes));
    EXPECT_EQ("", boxes);
    const Tree clean = Snapshot(m_session.Folder());
    ASSERT_EQ(kFolderMark, clean.at("kill\\data\\maps"));
    ASSERT_EQ(m_files[1].data, clean.at("kill\\data\\maps\\level1.dat"));
    ASSERT_EQ(0u, clean.count("kill\\old.txt"));
    ASSERT_EQ(0u, clean.count("kill\\notes.new"));
    ASSERT_EQ(1u, clean.count("kill\\notes.txt"));

    const std::string dir = m_game.folder + "\\";
    struct KillPoint {
        const char* name;
        std::function<bool()> reached;
        bool notesInPlace;  // the rerun must not fetch the plain download
        Package package;
    } points[] = {
        {"update list fetched",
         [&] {
             std::vector<SeenRequest> seen = m_server->Requests();
             for (size_t i = m_requestsMark; i < seen.size(); ++i)
                 if (seen[i].target == Target("list.ini")) return true;
             return false;
         },
         false, Package::Any},
        {"plain download under way", [&] { return m_server->BodyBytesSent(Target("notes.txt")) >= m_notesMark; },
         false, Package::Any},
        {"plain download installed", [&] { return There("notes.new"); }, true, Package::Any},
        {"package size asked", [&] { return Mark().packageHeads > m_headsMark; }, true, Package::Any},
        {"package 40% fetched",
         [&] { return m_server->BodyBytesSent(Target("pkg.zip")) >= m_packageMark + m_packageSize * 4 / 10; }, true,
         Package::Resumed},
        {"package whole, unpack begins", [&] { return OutputHas("下载完毕开始解压"); }, true, Package::InPlace},
        {"unpack under way", [&] { return UnpackUnderWay(); }, true, Package::InPlace},
        {"package unpacked and deleted", [&] { return OutputHas("删除完毕"); }, true, Package::InPlace},
        {"REN about to run", [&] { return OutputHas("-----REN"); }, true, Package::InPlace},
        {"COPY done", [&] { return There("readme.txt"); }, true, Package::InPlace},
        {"DEL about to run", [&] { return OutputHas("-----DEL"); }, true, Package::InPlace},
        {"last entry under way", [&] { return OutputHas("version.txt-----2-----"); }, true, Package::InPlace},
    };
    int landed = 0;
    for (const KillPoint& point : points) {
        SCOPED_TRACE(point.name);
        OldInstall();
        ASSERT_NO_FATAL_FAILURE(m_session.Relaunch());
        const Fetched start = Mark();
        m_notesMark = start.notesBytes + 64 * 1024;
        m_packageMark = start.packageBytes;
        m_headsMark = start.packageHeads;
        m_requestsMark = static_cast<size_t>(start.requests);
        ASSERT_NO_FATAL_FAILURE(m_session.SendRecords({m_session.Request(m_game)}));
        // Polled every millisecond: a kill point is only as sharp as its polling.
        const bool reached = WaitUntil(point.reached, 30000, 1);
        m_session.Program().Kill();
        ::Sleep(200);  // the server sees the connection gone before its bytes are counted
        EXPECT_TRUE(reached) << "the kill point was never reached";
        landed += reached;
        const std::string lastLine = Utf8(LastOutputLine());
        const bool journal = HasJournal(m_session.Folder());
        const Fetched killed = Mark();

        std::string rerunBoxes;
        ASSERT_NO_FATAL_FAILURE(m_session.Relaunch());
        ASSERT_NO_FATAL_FAILURE(RunToEnd(&rerunBoxes));
        const Fetched rerun = Between(killed, Mark());
        const Fetched cut = Between(start, killed);
        const Tree after = Snapshot(m_session.Folder());
        const std::string differences = Differences(clean, after);
        const int temporaryLeft = FilesIn(m_temp);
        std::printf("kill point %-30s killed after \"%s\" (journal %s), cut run fetched %llu+%llu bytes\n"
                    "    rerun fetched: notes %llu bytes in %d GET, package %llu of %llu bytes in %d GET (%d HEAD), "
                    "%d requests in all; leftovers:%s%s; temporary update files left: %d\n",
                    point.name, lastLine.c_str(), journal ? "kept" : "none",
                    static_cast<unsigned long long>(cut.notesBytes), static_cast<unsigned long long>(cut.packageBytes),
                    static_cast<unsigned long long>(rerun.notesBytes), rerun.notesGets,
                    static_cast<unsigned long long>(rerun.packageBytes), static_cast<unsigned long long>(m_packageSize),
                    rerun.packageGets, rerun.packageHeads, rerun.requests, differences.empty() ? " none" : differences.c_str(),
                    rerunBoxes.empty() ? "" : ("; boxes: " + rerunBoxes).c_str(), temporaryLeft);
        EXPECT_EQ("", rerunBoxes);
        EXPECT_EQ("", differences);
        EXPECT_EQ(0, temporaryLeft) << "temporary files outlived the kill";
        // What was in place before the kill is not fetched again; a cut package is resumed.
        if (point.notesInPlace) {
            EXPECT_EQ(0u, rerun.notesBytes);
        }
        if (point.package == Package::InPlace) {
            EXPECT_EQ(0u, rerun.packageBytes);
        } else if (point.package == Package::Resumed) {
            EXPECT_LT(rerun.packageBytes, m_packageSize);
        }
    }
    EXPECT_GE(landed, 10);
}

// A list that ran to its end, asked for again: what it installed is in place, so no package
// byte is fetched and the folder stays as it was.
TEST_F(UpdaterKilled, TheSecondRunOfAFinishedListFetchesNoPackageBytes) {
    ServeList(false);
    ASSERT_NO_FATAL_FAILURE(m_session.Start());
    OldInstall();
    std::string boxes;
    ASSERT_NO_FATAL_FAILURE(RunToEnd(&boxes));
    const Tree first = Snapshot(m_session.Folder());
    EXPECT_FALSE(HasJournal(m_session.Folder())) << "the finished list's journal stays";
    const Fetched before = Mark();

    ASSERT_NO_FATAL_FAILURE(m_session.Relaunch());
    ASSERT_NO_FATAL_FAILURE(RunToEnd(&boxes));
    const Fetched second = Between(before, Mark());
    std::printf("second run of a finished list: notes %llu bytes in %d GET, package %llu bytes in %d GET, %d requests\n",
                static_cast<unsigned long long>(second.notesBytes), second.notesGets,
                static_cast<unsigned long long>(second.packageBytes), second.packageGets, second.requests);
    EXPECT_EQ("", boxes);
    EXPECT_EQ(0u, second.notesBytes + second.packageBytes);
    EXPECT_EQ(0, second.notesGets + second.packageGets);
    EXPECT_EQ("", Differences(first, Snapshot(m_session.Folder())));
}

}  // namespace
