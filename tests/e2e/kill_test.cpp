// The real updater killed (TerminateProcess) at many points of one task and started again
// with the same request: every rerun ends with the program folder of one uninterrupted run,
// byte for byte, with nothing left over, and fetches only what was not yet in place. Prints
// what each rerun fetched.
#include <gtest/gtest.h>

#include <windows.h>
#include <bcrypt.h>

#include <cstdio>
#include <functional>
#include <map>

#include "framework/crypto_handles.h"
#include "framework/gbk_text.h"
#include "framework/sha256.h"
#include "tests/e2e/updater_session.h"
#include "tests/support/publisher_signature.h"

namespace {

// The program's own files stay; everything else is what the task made.
const char* const kKeptFiles[] = {"updater.exe", "CfgEngine.dll", "Unzip.dll", "Mavrin.exe", "kvgame.kcf",
                                  "update-key.pub", "update-serials.txt"};

bool IsKept(const std::string& name) {
    for (const char* kept : kKeptFiles) {
        if (_stricmp(kept, name.c_str()) == 0) return true;
    }
    return false;
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

// The build's throw-away publisher keys lie beside the test program.
std::string TestKey(const std::string& name) {
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path);
    return folder.substr(0, folder.find_last_of('\\')) + "\\test-keys\\" + name;
}

// What the publisher's tool writes as FILE.sig for `bytes`, made with the build's throw-away key.
std::string PublisherSignature(const std::string& bytes) {
    return SignAsPublisher(bytes, UpdaterSession::ReadWholeFile(TestKey("publisher-test.blob")));
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

// The lists the tests run.
enum class ListKind {
    UnpackedInItsEntry,  // the package is downloaded and unpacked by one entry
    KeptPacked,          // the package is only downloaded, with its checksum
    // Signed by the publisher, sha256= on every download: after the package, a second archive
    // fetched by one entry and unpacked by the next, and a wildcard MOVE of what it holds.
    Signed,
};

// What the server sent for the two packages between two moments.
struct Fetched {
    uint64_t notesBytes = 0;
    uint64_t packageBytes = 0;
    uint64_t extraBytes = 0;  // the signed list's second archive
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
    void ServeList(ListKind kind) {
        const bool unpacked = kind != ListKind::KeptPacked;
        const bool isSigned = kind == ListKind::Signed;
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
        // Many small files, so that a kill can land inside the wildcard MOVE of them.
        std::vector<ZipEntry> extraFiles;
        for (int i = 0; i < 150; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "new/f%03d.dll", i);
            extraFiles.push_back({name, PatternBytes(100 + i, 2048)});
        }
        const std::string extra = MakeStoredZip(extraFiles);
        m_server->Serve(Target("extra.zip"), ServedFile{extra});
        const std::string version = PatternBytes(31, 96 * 1024);
        ServedFile versionFile{version};
        versionFile.delayMsPerChunk = 60;
        m_server->Serve(Target("version.txt"), versionFile);
        const std::string dir = m_game.folder + "\\";
        int index = 0;
        auto section = [&index] { return "[list" + std::to_string(index++) + "]\r\n"; };
        auto download = [&](const std::string& action, const std::string& target, const std::string& bytes,
                            const std::string& dest, bool withSha256, const std::string& cmd) {
            return section() + "action=" + action + "\r\nsrcfile=" + m_server->Url(Target(target)) + "\r\ndestfile=" +
                   dir + dest + "\r\n" + (cmd.empty() ? "" : "cmd=" + cmd + "\r\n") +
                   (withSha256 ? "sha256=" + Sha256Hex(bytes) + "\r\n" : "");
        };
        auto command = [&](const std::string& cmd, const std::string& src, const std::string& dest) {
            return section() + "action=1\r\n" + (src.empty() ? "" : "srcfile=" + dir + src + "\r\n") + "destfile=" + dir +
                   dest + "\r\ncmd=" + cmd + "\r\n";
        };
        std::string list = download("2", "notes.txt", notes, "notes.new", true, "");
        if (unpacked) {
            list += download("3", "pkg.zip", package, "pkg.zip", isSigned, "DEC");
            if (isSigned) {
                list += download("2", "extra.zip", extra, "extra.zip", true, "");
                list += command("DEC", "", "extra.zip");
                list += command("MOVE", "new\\*.dll", "bin");
            }
            list += command("REN", "notes.new", "notes.txt");
            list += command("COPY", "data\\readme.txt", "readme.txt");
        } else {
            // Kept packed, with its checksum: a second run can see it is in place.
            list += download("2", "pkg.zip", package, "pkg.zip", true, "");
            list += command("COPY", "notes.new", "notes.txt");
            list += command("COPY", "notes.new", "notes2.txt");
        }
        list += command("DEL", "", "old.txt");
        // The last entry takes a while, so a kill can land in it before the list ends.
        list += download("2", "version.txt", version, "version.txt", true, "");
        list += section() + "action=0\r\n";
        const std::string urlFile =
            "[config]\r\n" + m_game.configKey + "=" + m_server->Url(Target("list.ini")) + "\r\n";
        ServeUpdateFile(m_session.UrlFileTarget(m_game), urlFile, isSigned);
        ServeUpdateFile(Target("list.ini"), list, isSigned);
        m_packageSize = package.size();
    }

    // A signed file carries the publisher's "[release]" section for its URL and its signature.
    void ServeUpdateFile(const std::string& target, std::string bytes, bool isSigned) {
        if (isSigned) {
            bytes += "[release]\r\nurl=" + m_server->Url(target) + "\r\nserial=7\r\nexpires=2099-12-31T23:59:59Z\r\n";
            m_server->Serve(target + ".sig", ServedFile{PublisherSignature(bytes)});
        }
        m_server->Serve(target, ServedFile{bytes});
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
        now.extraBytes = m_server->BodyBytesSent(Target("extra.zip"));
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
        got.extraBytes = after.extraBytes - before.extraBytes;
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

    void KillAtEveryPoint(ListKind kind);
    bool MoveUnderWay() const;

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

// Some of the second archive's files have been moved to bin.
bool UpdaterKilled::MoveUnderWay() const {
    WIN32_FIND_DATAA found;
    HANDLE search = ::FindFirstFileA(m_session.Local(m_game.folder + "\\bin\\f*.dll").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) ::FindClose(search);
    return search != INVALID_HANDLE_VALUE;
}

void UpdaterKilled::KillAtEveryPoint(ListKind kind) {
    const bool isSigned = kind == ListKind::Signed;
    ServeList(kind);
    ASSERT_NO_FATAL_FAILURE(m_session.Start());
    if (isSigned) {
        // The publisher's key, read at start-up: from now on only signed files are taken.
        ASSERT_TRUE(::CopyFileA(TestKey("publisher-test.pub").c_str(), m_session.Local("update-key.pub").c_str(), FALSE));
        ASSERT_NO_FATAL_FAILURE(m_session.Relaunch());
    }
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
    if (isSigned) {
        ASSERT_EQ(1u, clean.count("kill\\bin\\f149.dll"));
    }

    const std::string dir = m_game.folder + "\\";
    struct KillPoint {
        const char* name;
        std::function<bool()> reached;
        bool notesInPlace;  // the rerun must not fetch the plain download
        Package package;
        bool signedOnly = false;
        bool extraInPlace = false;  // the rerun must not fetch the second archive (signed list)
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
        {"wildcard MOVE under way", [&] { return MoveUnderWay(); }, true, Package::InPlace, true, true},
        {"REN about to run", [&] { return OutputHas("-----REN"); }, true, Package::InPlace, false, isSigned},
        {"COPY done", [&] { return There("readme.txt"); }, true, Package::InPlace, false, isSigned},
        {"DEL about to run", [&] { return OutputHas("-----DEL"); }, true, Package::InPlace, false, isSigned},
        {"last entry under way", [&] { return OutputHas("version.txt-----2-----"); }, true, Package::InPlace, false,
         isSigned},
    };
    int landed = 0;
    int tried = 0;
    for (const KillPoint& point : points) {
        if (point.signedOnly && !isSigned) continue;
        ++tried;
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
                    "second archive %llu bytes, %d requests in all; leftovers:%s%s; temporary update files left: %d\n",
                    point.name, lastLine.c_str(), journal ? "kept" : "none",
                    static_cast<unsigned long long>(cut.notesBytes), static_cast<unsigned long long>(cut.packageBytes),
                    static_cast<unsigned long long>(rerun.notesBytes), rerun.notesGets,
                    static_cast<unsigned long long>(rerun.packageBytes), static_cast<unsigned long long>(m_packageSize),
                    rerun.packageGets, rerun.packageHeads, static_cast<unsigned long long>(rerun.extraBytes), rerun.requests, differences.empty() ? " none" : differences.c_str(),
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
        if (point.extraInPlace) {
            EXPECT_EQ(0u, rerun.extraBytes);
        }
    }
    EXPECT_GE(landed, tried - 2);
}

TEST_F(UpdaterKilled, EveryRerunAfterAKillEndsWithTheCleanInstallAndFetchesOnlyWhatIsMissing) {
    KillAtEveryPoint(ListKind::UnpackedInItsEntry);
}

// The same for a signed list, whose downloads all carry their sha256, with a second archive
// unpacked by the entry after the one that fetched it and a wildcard MOVE of its files.
TEST_F(UpdaterKilled, EveryRerunOfASignedListAfterAKillEndsWithTheCleanInstallAndFetchesNoUnpackedByte) {
    KillAtEveryPoint(ListKind::Signed);
}

// A list that ran to its end, asked for again: what it installed is in place, so no package
// byte is fetched and the folder stays as it was.
TEST_F(UpdaterKilled, TheSecondRunOfAFinishedListFetchesNoPackageBytes) {
    ServeList(ListKind::KeptPacked);
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

// A package installed through its manifest from a native nginx (with_nginx.sh), killed while its
// last entry streams: the rerun installs only what is missing, and the folder ends as one
// uninterrupted install leaves it, with no side file left.
TEST_F(UpdaterKilled, AStreamThroughAManifestCutByAKillConvergesOnTheRerun) {
    if (!HasNginxPackage()) GTEST_SKIP() << "runs under tests/support/with_nginx.sh";
    const std::string listTarget = Target("list.ini");
    ServeUpdateFile(m_session.UrlFileTarget(m_game),
                    "[config]\r\n" + m_game.configKey + "=" + m_server->Url(listTarget) + "\r\n", false);
    ServeUpdateFile(listTarget, ManifestList(m_game.folder, "pkg.zip"), false);
    ASSERT_NO_FATAL_FAILURE(m_session.Start());
    RemoveTreeBelow(m_session.Folder(), true);
    WriteTree(m_session.Local(m_game.folder), Snapshot(NginxFixture("start")));
    ASSERT_NO_FATAL_FAILURE(m_session.SendRecords({m_session.Request(m_game)}));
    // The entry before the last is in place: the last one is under way.
    EXPECT_TRUE(WaitUntil([&] { return There("sub\\deep\\level.dat"); }, 30000, 1));
    m_session.Program().Kill();

    std::string boxes;
    ASSERT_NO_FATAL_FAILURE(m_session.Relaunch());
    ASSERT_NO_FATAL_FAILURE(RunToEnd(&boxes));
    EXPECT_EQ("", boxes);
    EXPECT_EQ("", Differences(Snapshot(NginxFixture("expected")), Snapshot(m_session.Local(m_game.folder))));
    // The rerun asked for the package from the last entry on, not from its start.
    const std::string log = UpdaterSession::ReadWholeFile(NginxFixture("nginx.log"));
    const size_t rerun = log.rfind("\"GET /pkg.zip HTTP/1.1\" 206 ");
    ASSERT_NE(std::string::npos, rerun) << log;
    const uint64_t levelSize = Snapshot(NginxFixture("expected")).at("sub\\deep\\level.dat").size();
    EXPECT_LE(std::stoull(log.substr(rerun + 28)), UpdaterSession::FileSize(NginxFixture("www/pkg.zip")) - levelSize) << log;
}

}  // namespace
