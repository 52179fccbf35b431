#pragma once
// One run of the real updater.exe under Wine: a private copy of the ready-to-copy folder, an
// in-process lobby it connects to, and an in-process HTTP server that serves each game's
// update URL file, update list and zip package. Tests look at what the lobby received, at
// the dialog's list from outside, at message boxes, and at what landed on disk.
#include <winsock2.h>
#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "lobby/update_record.h"
#include "tests/support/child_process.h"
#include "tests/support/test_http_server.h"
#include "tests/support/test_lobby.h"
#include "tests/update/zip_writer.h"

// A game as the lobby asks for it and as the server serves it.
struct E2eGame {
    int32_t id = 0;
    std::string name;       // GBK, as the lobby sends it
    std::wstring wideName;  // the same as the list and the boxes show it
    std::string configKey;  // szConfigKey of the request
    bool keyInUrlFile = true;  // false: the URL file only has "other"
    std::string folder;     // under the program's folder: "gameA"
    std::vector<ZipEntry> files;  // the package's content
    bool unpack = true;     // false: the list only downloads the package, with no "DEC"
};

// A game whose package holds a readme and a data file in a sub-folder.
E2eGame MakeGame(int32_t id, const std::string& name, const std::wstring& wideName, const std::string& folder);

class UpdaterSession {
public:
    UpdaterSession();
    ~UpdaterSession();

    // Copies the program into a fresh folder, starts it there, waits for its dialog and for
    // its connection to the lobby (unless `waitForLobby` is false: the test lets the lobby
    // listen and accept later). Fails the calling test on any problem.
    void Start(bool waitForLobby = true);
    // Ends the program if it still runs (TerminateProcess) and starts it again in the same
    // folder, as a user would after a crash; waits for its dialog and its lobby connection.
    void Relaunch();
    // Ends the program if it still runs; removes its folder unless the test failed.
    void Finish(bool keepFolder);

    // The game's update URL file, update list and package (the stored zip of game.files) by
    // target, naming each other under `base` ("http://host:port").
    std::vector<std::pair<std::string, std::string>> GameFiles(const E2eGame& game, const std::string& base) const;
    // Scripts the game's three files. `package` lets a test slow the package down or replace
    // it; by default it is the stored zip of game.files.
    void ServeGame(const E2eGame& game, const ServedFile* package = nullptr);
    // The same, but its update list answers 404: the task fails.
    void ServeGameWithoutList(const E2eGame& game);
    std::string PackageTarget(const E2eGame& game) const { return "/" + game.folder + "/pkg.zip"; }
    std::string UrlFileTarget(const E2eGame& game) const { return "/" + game.folder + "/update.ini"; }
    std::string PackageDest(const E2eGame& game) const { return game.folder + "\\pkg.zip"; }

    // The request the lobby sends for the game. Bytes the updater has no use for (the three
    // after cCmd, the tails of the text fields) carry junk, so a report that rebuilds the
    // record instead of echoing it shows.
    sUpdateStruct Request(const E2eGame& game) const;

    // Sends records in pieces cut at the given offsets of their concatenation, with a pause
    // between pieces so the updater really receives them apart.
    void SendRecords(const std::vector<sUpdateStruct>& records, const std::vector<size_t>& cuts = {});
    // The next record from the updater; false when none came within `timeoutMs`.
    bool NextRecord(sUpdateStruct* record, int timeoutMs);

    int RowCount() const;
    int CancelColumnWidth() const;
    // A cell's text, read with a buffer in the updater's own memory.
    std::wstring RowText(int row, int column = 0) const;
    void PostCode(WPARAM code, LPARAM lParam) const;

    // A visible message box of the updater with this title, or null after `timeoutMs`.
    HWND WaitForBox(const std::wstring& title, DWORD timeoutMs) const;
    static std::wstring BoxText(HWND box);
    // Presses OK and waits until the box is gone.
    static bool CloseBox(HWND box);

    // A path relative to the program's folder, as a Windows path.
    std::string Local(const std::string& relative) const { return m_folder + "\\" + relative; }
    static bool Exists(const std::string& path);
    static uint64_t FileSize(const std::string& path);
    static std::string ReadWholeFile(const std::string& path);

    TestHttpServer& Server() { return m_server; }
    TestLobby& Lobby() { return m_lobby; }
    ChildProcess& Program() { return m_updater; }
    HWND Dialog() const { return m_dialog; }
    const std::string& Folder() const { return m_folder; }

private:
    void Launch(bool waitForLobby = true);

    TestHttpServer m_server;
    TestLobby m_lobby;
    std::string m_folder;
    ChildProcess m_updater;
    HWND m_dialog = nullptr;
    HWND m_list = nullptr;
};

// Every file of the package is in the game's folder with its content, and the archive is gone.
void ExpectGameInstalled(const UpdaterSession& session, const E2eGame& game);

// How many starts of the lobby client Mavrin.exe recorded beside the program.
int MavrinLaunches(const UpdaterSession& session);

// A folder's content by relative path (UTF-8, '\\' separators): a file's bytes, or
// kFolderMark for a folder. The run's own logs at the top are left out.
using Tree = std::map<std::string, std::string>;
extern const char kFolderMark[];
// `folder` is a Windows path in the test's code page.
Tree Snapshot(const std::string& folder);
// The paths where two trees differ, for a message; empty when they are the same.
std::string Differences(const Tree& expected, const Tree& actual);
// Creates the tree's folders and files under `folder`.
void WriteTree(const std::string& folder, const Tree& tree);

// The package with_nginx.sh serves from a native nginx, with its manifest; none when the
// test program runs without it.
bool HasNginxPackage();
std::string NginxUrl(const std::string& name);
// A file of the fixture folder, as a Windows path.
std::string NginxFixture(const std::string& relative);
// An update list that creates `folder` and installs the served `zipName` into it through the
// package's manifest.
std::string ManifestList(const std::string& folder, const std::string& zipName);

// Polls `done` every `stepMs`; false when it is still false after `timeoutMs`.
bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs, DWORD stepMs = 20);

// The record the lobby must get when a task ended: the request with byte 0 set to 0.
bool IsTaskEndedReport(const sUpdateStruct& report, const sUpdateStruct& request);
// A start-game-room request: byte 0 = 3, bytes 4..7 the game id, every other byte 0.
bool IsStartGameRoom(const sUpdateStruct& record, int32_t gameId);
