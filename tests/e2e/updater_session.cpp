#include "tests/e2e/updater_session.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "framework/scoped_handle.h"

namespace {

const wchar_t kDialogClass[] = L"#32770";
const int kTaskListId = 1000;
const int kCancelColumn = 5;
const DWORD kPieceGapMs = 150;

// What the updater needs beside itself; it writes downloads and Mavrin.log there too.
const char* const kProgramFiles[] = {"updater.exe", "CfgEngine.dll", "Unzip.dll", "Mavrin.exe"};

void RemoveTree(const std::string& folder) {
    WIN32_FIND_DATAA found;
    HANDLE search = ::FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..") continue;
            std::string path = folder + "\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(path);
            } else {
                ::DeleteFileA(path.c_str());
            }
        } while (::FindNextFileA(search, &found));
        ::FindClose(search);
    }
    ::RemoveDirectoryA(folder.c_str());
}

// Junk that is never a text terminator, so a field's tail differs from a zeroed one.
void FillTail(char* field, size_t size) {
    size_t used = std::strlen(field);
    for (size_t i = used + 1; i < size; ++i) field[i] = static_cast<char>(0x41 + (i * 7) % 26);
}

// Under Wine on a bare X server (no window manager), hiding or destroying a window that the
// window manager would manage waits 2 s for a confirmation that never comes, and so does the
// end of a process with such windows. While a session runs, the updater's windows are left
// unmanaged, so the tests time the program and not that wait. Windows ignores the key.
const wchar_t kUpdaterX11Key[] = L"Software\\Wine\\AppDefaults\\updater.exe\\X11 Driver";

void LeaveUpdaterWindowsUnmanaged(bool unmanaged) {
    HKEY key = nullptr;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, kUpdaterX11Key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                          nullptr) != ERROR_SUCCESS)
        return;
    const wchar_t no[] = L"N";
    if (unmanaged) {
        ::RegSetValueExW(key, L"Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>(no), sizeof no);
    } else {
        ::RegDeleteValueW(key, L"Managed");
    }
    ::RegCloseKey(key);
}

}  // namespace

E2eGame MakeGame(int32_t id, const std::string& name, const std::wstring& wideName, const std::string& folder) {
    E2eGame game;
    game.id = id;
    game.name = name;
    game.wideName = wideName;
    game.configKey = "key" + std::to_string(id);
    game.folder = folder;
    game.files = {{"readme.txt", name + " readme\r\n"},
                  {"data/" + folder + ".dat", PatternBytes(static_cast<uint64_t>(id) * 1000, 40000)}};
    return game;
}

void ExpectGameInstalled(const UpdaterSession& session, const E2eGame& game) {
    for (const ZipEntry& entry : game.files) {
        std::string relative = game.folder + "\\" + entry.name;
        for (char& c : relative) {
            if (c == '/') c = '\\';
        }
        EXPECT_TRUE(UpdaterSession::ReadWholeFile(session.Local(relative)) == entry.data)
            << relative << " is missing or differs";
    }
    EXPECT_FALSE(UpdaterSession::Exists(session.Local(session.PackageDest(game)))) << "the archive was not deleted";
}

int MavrinLaunches(const UpdaterSession& session) {
    std::string log = UpdaterSession::ReadWholeFile(session.Local("Mavrin.log"));
    int launches = 0;
    for (size_t at = log.find("Mavrin.exe started"); at != std::string::npos;
         at = log.find("Mavrin.exe started", at + 1)) {
        ++launches;
    }
    return launches;
}

namespace {

std::wstring Wide(const std::string& text, UINT codePage) {
    int size = ::MultiByteToWideChar(codePage, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(size), L'\0');
    ::MultiByteToWideChar(codePage, 0, text.c_str(), static_cast<int>(text.size()), &wide[0], size);
    return wide;
}

std::string Utf8(const std::wstring& wide) {
    int size = ::WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), static_cast<int>(wide.size()), nullptr, 0, nullptr,
                                     nullptr);
    std::string text(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), static_cast<int>(wide.size()), &text[0], size, nullptr, nullptr);
    return text;
}

std::string ReadWide(const std::wstring& path) {
    ScopedKernelHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
    std::string bytes;
    char buffer[65536];
    DWORD got = 0;
    while (file.IsValid() && ::ReadFile(file.Get(), buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
    return bytes;
}

void Walk(const std::wstring& folder, const std::string& relative, Tree* tree) {
    WIN32_FIND_DATAW found;
    HANDLE search = ::FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        // The run's own logs differ from run to run by nature.
        if (relative.empty() && (name == L"output.txt" || name == L"Mavrin.log")) continue;
        const std::string path = relative.empty() ? Utf8(name) : relative + "\\" + Utf8(name);
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            (*tree)[path] = kFolderMark;
            Walk(folder + L"\\" + name, path, tree);
        } else {
            (*tree)[path] = ReadWide(folder + L"\\" + name);
        }
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
}

}  // namespace

const char kFolderMark[] = "<folder>";

Tree Snapshot(const std::string& folder) {
    Tree tree;
    Walk(Wide(folder, CP_ACP), "", &tree);
    return tree;
}

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

void WriteTree(const std::string& folder, const Tree& tree) {
    const std::wstring base = Wide(folder, CP_ACP);
    ::CreateDirectoryW(base.c_str(), nullptr);
    // A folder sorts before what it holds.
    for (const auto& [path, content] : tree) {
        const std::wstring full = base + L"\\" + Wide(path, CP_UTF8);
        if (content == kFolderMark) {
            ::CreateDirectoryW(full.c_str(), nullptr);
            continue;
        }
        ScopedKernelHandle file(::CreateFileW(full.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        DWORD written = 0;
        EXPECT_TRUE(file.IsValid() && ::WriteFile(file.Get(), content.data(), static_cast<DWORD>(content.size()),
                                                  &written, nullptr))
            << path;
    }
}

bool HasNginxPackage() { return std::getenv("UPDATER_NGINX_PORT") != nullptr; }

std::string NginxUrl(const std::string& name) {
    return std::string("http://127.0.0.1:") + std::getenv("UPDATER_NGINX_PORT") + "/" + name;
}

std::string NginxFixture(const std::string& relative) {
    std::string path = std::string("Z:") + std::getenv("UPDATER_PACKAGE_DIR") + "/" + relative;
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

std::string ManifestList(const std::string& folder, const std::string& zipName) {
    std::string manifest = UpdaterSession::ReadWholeFile(NginxFixture("manifest.sha256")).substr(0, 64);
    return "[list0]\r\naction=1\r\ncmd=CRE\r\ndestfile=" + folder + "\r\n[list1]\r\naction=3\r\nsrcfile=" +
           NginxUrl(zipName) + "\r\ndestfile=" + folder + "\\pkg.zip\r\ncmd=DEC\r\nmanifest=" + manifest +
           "\r\n[list2]\r\naction=0\r\n";
}

bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs, DWORD stepMs) {
    DWORD start = ::GetTickCount();
    while (!done()) {
        if (::GetTickCount() - start > timeoutMs) return false;
        ::Sleep(stepMs);
    }
    return true;
}

bool IsTaskEndedReport(const sUpdateStruct& report, const sUpdateStruct& request) {
    const char* got = reinterpret_cast<const char*>(&report);
    const char* sent = reinterpret_cast<const char*>(&request);
    return got[0] == 0 && std::memcmp(got + 1, sent + 1, kRecordSize - 1) == 0;
}

bool IsStartGameRoom(const sUpdateStruct& record, int32_t gameId) {
    sUpdateStruct expected = {};
    expected.cCmd = 3;
    expected.nGameID = gameId;
    return std::memcmp(&record, &expected, kRecordSize) == 0;
}

UpdaterSession::UpdaterSession() = default;

UpdaterSession::~UpdaterSession() { m_updater.Kill(); }

void UpdaterSession::Start(bool waitForLobby) {
    ASSERT_TRUE(m_server.IsListening());
    ASSERT_TRUE(m_lobby.Port() != 0);
    m_folder = MakeTempFolder("updater-e2e-");
    for (const char* name : kProgramFiles) {
        std::string from = ProgramFolder() + "\\" + name;
        ASSERT_TRUE(::CopyFileA(from.c_str(), Local(name).c_str(), FALSE)) << "cannot copy " << from;
    }
    WriteLobbyConfig(m_folder, m_lobby.Port());
    LeaveUpdaterWindowsUnmanaged(true);
    Launch(waitForLobby);
}

void UpdaterSession::Relaunch() {
    m_updater.Kill();
    ASSERT_FALSE(m_updater.IsRunning()) << "the program did not end when killed";
    Launch();
}

void UpdaterSession::Launch(bool waitForLobby) {
    ASSERT_TRUE(m_updater.Start(Local("updater.exe"), "", m_folder));
    m_dialog = WaitForProcessWindow(m_updater.Id(), L"", 60000, kDialogClass);
    ASSERT_NE(nullptr, m_dialog) << "the dialog never opened";
    m_list = ::GetDlgItem(m_dialog, kTaskListId);
    ASSERT_NE(nullptr, m_list) << "the dialog has no task list";
    if (waitForLobby) {
        ASSERT_TRUE(m_lobby.Accept(10000)) << "the updater never connected to the lobby";
    }
}

void UpdaterSession::Finish(bool keepFolder) {
    m_updater.Kill();
    LeaveUpdaterWindowsUnmanaged(false);
    if (m_folder.empty()) return;
    if (keepFolder) {
        std::printf("the program's folder is kept: %s\n", m_folder.c_str());
        return;
    }
    // Mavrin.exe may still be on its way out and hold its own file for a moment.
    for (int attempt = 0; attempt < 10 && Exists(m_folder); ++attempt) {
        RemoveTree(m_folder);
        if (Exists(m_folder)) ::Sleep(200);
    }
}

std::vector<std::pair<std::string, std::string>> UpdaterSession::GameFiles(const E2eGame& game,
                                                                          const std::string& base) const {
    std::string listTarget = "/" + game.folder + "/list.ini";
    std::ostringstream urlFile;
    urlFile << "[config]\r\n";
    if (game.keyInUrlFile) {
        urlFile << game.configKey << "=" << base << listTarget << "\r\n";
    } else {
        // Another game's key and the fallback; the request's own key is missing.
        urlFile << "someOtherKey=" << base << "/nowhere/list.ini\r\n";
        urlFile << "other=" << base << listTarget << "\r\n";
    }

    std::ostringstream list;
    list << "[list0]\r\naction=1\r\ncmd=CRE\r\ndestfile=" << game.folder << "\r\n";
    if (game.unpack) {
        list << "[list1]\r\naction=3\r\nsrcfile=" << base << PackageTarget(game) << "\r\ndestfile="
             << PackageDest(game) << "\r\ncmd=DEC\r\n";
    } else {
        list << "[list1]\r\naction=2\r\nsrcfile=" << base << PackageTarget(game) << "\r\ndestfile="
             << PackageDest(game) << "\r\n";
    }
    list << "[list2]\r\naction=0\r\n";
    return {{UrlFileTarget(game), urlFile.str()},
            {listTarget, list.str()},
            {PackageTarget(game), MakeStoredZip(game.files)}};
}

void UpdaterSession::ServeGameWithoutList(const E2eGame& game) {
    ServeGame(game);
    ServedFile missing{"<html>not here</html>"};
    missing.fixedStatus = 404;
    m_server.Serve("/" + game.folder + "/list.ini", missing);
}

void UpdaterSession::ServeGame(const E2eGame& game, const ServedFile* package) {
    for (const auto& file : GameFiles(game, m_server.Url(""))) m_server.Serve(file.first, ServedFile{file.second});
    if (package != nullptr) m_server.Serve(PackageTarget(game), *package);
}

sUpdateStruct UpdaterSession::Request(const E2eGame& game) const {
    sUpdateStruct request = {};
    request.cCmd = 1;
    request.reserved[0] = 0x5A;
    request.reserved[1] = static_cast<uint8_t>(0xA5);
    request.reserved[2] = 0x3C;
    request.nGameID = game.id;
    SetFieldText(request.szGameName, game.name);
    SetFieldText(request.szUrl, m_server.Url(UrlFileTarget(game)));
    SetFieldText(request.szConfigKey, game.configKey);
    FillTail(request.szGameName, sizeof request.szGameName);
    FillTail(request.szUrl, sizeof request.szUrl);
    FillTail(request.szConfigKey, sizeof request.szConfigKey);
    return request;
}

void UpdaterSession::SendRecords(const std::vector<sUpdateStruct>& records, const std::vector<size_t>& cuts) {
    std::string bytes;
    for (const sUpdateStruct& record : records) {
        bytes.append(reinterpret_cast<const char*>(&record), kRecordSize);
    }
    size_t from = 0;
    for (size_t cut : cuts) {
        ASSERT_TRUE(m_lobby.Send(bytes.data() + from, cut - from));
        from = cut;
        ::Sleep(kPieceGapMs);
    }
    ASSERT_TRUE(m_lobby.Send(bytes.data() + from, bytes.size() - from));
}

bool UpdaterSession::NextRecord(sUpdateStruct* record, int timeoutMs) {
    return m_lobby.ReceiveExact(reinterpret_cast<char*>(record), kRecordSize, timeoutMs);
}

int UpdaterSession::RowCount() const {
    return static_cast<int>(::SendMessageW(m_list, LVM_GETITEMCOUNT, 0, 0));
}

int UpdaterSession::CancelColumnWidth() const {
    return static_cast<int>(::SendMessageW(m_list, LVM_GETCOLUMNWIDTH, kCancelColumn, 0));
}

std::wstring UpdaterSession::RowText(int row, int column) const {
    // The list lives in the updater's process: the item and its text buffer must be there too.
    ScopedKernelHandle process(
        ::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, m_updater.Id()));
    if (!process.IsValid()) return L"<no access>";
    const size_t textChars = 256;
    const size_t textOffset = (sizeof(LVITEMW) + 15) & ~size_t(15);
    char* remote = static_cast<char*>(::VirtualAllocEx(process.Get(), nullptr, textOffset + textChars * 2,
                                                       MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (remote == nullptr) return L"<no memory>";
    LVITEMW item = {};
    item.iSubItem = column;
    item.cchTextMax = static_cast<int>(textChars);
    item.pszText = reinterpret_cast<wchar_t*>(remote + textOffset);
    std::wstring text(textChars, L'\0');
    SIZE_T moved = 0;
    if (::WriteProcessMemory(process.Get(), remote, &item, sizeof item, &moved)) {
        LRESULT length = ::SendMessageW(m_list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(remote));
        ::ReadProcessMemory(process.Get(), remote + textOffset, &text[0], textChars * 2, &moved);
        text.resize(length >= 0 && length < static_cast<LRESULT>(textChars) ? static_cast<size_t>(length) : 0);
    } else {
        text = L"<no write>";
    }
    ::VirtualFreeEx(process.Get(), remote, 0, MEM_RELEASE);
    return text;
}

void UpdaterSession::PostCode(WPARAM code, LPARAM lParam) const {
    const UINT myMessage = WM_USER + 100;
    ::PostMessageW(m_dialog, myMessage, code, lParam);
}

HWND UpdaterSession::WaitForBox(const std::wstring& title, DWORD timeoutMs) const {
    return WaitForProcessWindow(m_updater.Id(), title, timeoutMs, kDialogClass);
}

std::wstring UpdaterSession::BoxText(HWND box) {
    wchar_t text[512] = {};
    ::GetDlgItemTextW(box, 0xFFFF, text, 512);
    return text;
}

bool UpdaterSession::CloseBox(HWND box) {
    ::PostMessageW(box, WM_COMMAND, IDOK, 0);
    return WaitUntil([box] { return !::IsWindow(box) || !::IsWindowVisible(box); }, 5000);
}

bool UpdaterSession::Exists(const std::string& path) {
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

uint64_t UpdaterSession::FileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::string UpdaterSession::ReadWholeFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}
