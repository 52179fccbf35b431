// Names in the update files are GBK whatever the system's code page. The same tests run in
// update_engine_test (code page 1252) and in update_code_page_test, whose CTest entries set a
// UTF-8 locale (code page 65001, where the platform's own INI reader turns GBK into U+FFFD)
// and a GBK one (code page 936).
#include <set>

#include "framework/gbk_text.h"
#include "framework/scoped_handle.h"
#include "tests/update/engine_fixture.h"
#include "tests/update/zip_writer.h"

namespace {

std::string ReadWide(const std::string& gbkPath) {
    ScopedKernelHandle file(::CreateFileW(GbkToWide(gbkPath).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid()) return "(missing)";
    char bytes[256] = {};
    DWORD read = 0;
    ::ReadFile(file.Get(), bytes, sizeof bytes, &read, nullptr);
    return std::string(bytes, read);
}

std::set<std::wstring> Names(const std::string& gbkFolder) {
    std::set<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = ::FindFirstFileW(GbkToWide(gbkFolder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        if (std::wstring(found.cFileName) != L"." && std::wstring(found.cFileName) != L"..") names.insert(found.cFileName);
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return names;
}

class ChineseNames : public EngineTest {};

TEST_F(ChineseNames, AListWithChineseNamesInstallsTheSameUnderEveryCodePage) {
    RecordProperty("code_page", static_cast<int>(::GetACP()));
    m_server.Serve("/files/notes.txt", ServedFile{"notes"});
    m_server.Serve("/pkg/game.zip", ServedFile{MakeStoredZip({{"关卡/第一关.txt", "level"}})});
    const std::vector<ListEntry> entries = {
        {"2", m_server.Url("/files/notes.txt"), Rel("笔记.txt"), ""},
        {"3", m_server.Url("/pkg/game.zip"), Rel("游戏包.zip"), "DEC"},
        {"1", "", Rel("目录"), "CRE"},
        {"1", Rel("笔记.txt"), Rel("目录\\副本.txt"), "COPY"},
        {"1", Rel("目录\\副本.txt"), Rel("目录\\改名.txt"), "REN"},
        {"1", Rel("笔记.txt"), Rel("说明.txt"), "MOVE"},
        Reachable(),
    };
    ServeList(entries);
    // The update URL file names the list under a Chinese key.
    m_server.Serve(kUrlFile, ServedFile{"[config]\r\n主程序=" + ListUrl() + "\r\n"});
    TaskPtr task = NewTask();
    SetFieldText(task->szConfigKey, "主程序");

    EXPECT_EQ(0, RunWorker(task));

    ExpectNoBox();
    EXPECT_EQ((std::set<std::wstring>{L"说明.txt", L"关卡", L"目录"}), Names(m_fullFolder));
    EXPECT_EQ((std::set<std::wstring>{L"改名.txt"}), Names(Full("目录")));
    EXPECT_EQ("notes", ReadWide(Full("目录\\改名.txt")));
    EXPECT_EQ("notes", ReadWide(Full("说明.txt")));
    EXPECT_EQ("level", ReadWide(Full("关卡\\第一关.txt")));
}

// A list URL and a srcfile with Chinese in them reach the server as their GBK bytes, each
// written %XX, under every code page; the %20 that was written encoded stays as it was.
TEST_F(ChineseNames, ChineseUrlsAreSentAsTheirGbkBytes) {
    const std::string listTarget = "/%D3%CE%CF%B7/%C1%D0%B1%ED.ini";     // /游戏/列表.ini
    const std::string fileTarget = "/%D3%CE%CF%B7/a%20%CB%B5%C3%F7.txt";  // /游戏/a%20说明.txt
    m_server.Serve(fileTarget, ServedFile{"notes"});
    // The download is also the last entry, so the final reachability test asks for it too.
    m_server.Serve(listTarget, ServedFile{MakeListText({{"2", m_server.Url("/游戏/a%20说明.txt"), Rel("说明.txt"), ""}}) +
                                          "[list1]\r\naction=0\r\n"});
    m_server.Serve(kUrlFile, ServedFile{"[config]\r\nmain=" + m_server.Url("/游戏/列表.ini") + "\r\n"});

    EXPECT_EQ(0, RunWorker(NewTask()));

    ExpectNoBox();
    EXPECT_EQ("notes", ReadWide(Full("说明.txt")));
    std::set<std::string> targets;
    for (const SeenRequest& request : m_server.Requests()) targets.insert(request.method + " " + request.target);
    const std::string urlFile = kUrlFile;
    EXPECT_EQ((std::set<std::string>{"HEAD " + urlFile, "GET " + urlFile, "HEAD " + listTarget, "GET " + listTarget,
                                     "HEAD " + fileTarget, "GET " + fileTarget}),
              targets);
}

}  // namespace
