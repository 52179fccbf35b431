// CfgEngine.dll through its import library, and its INI parser directly.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <string>
#include <thread>
#include <vector>

#include "components/cfgengine/CfgEngine.h"
#include "components/cfgengine/ini_parser.h"

using cfgengine::CIniData;
using cfgengine::FoldCase;
using cfgengine::ParseIntValue;

namespace {

// A file in the current directory, removed again at the end of the test.
class CTempFile {
public:
    CTempFile(const std::wstring& name, const std::string& content) : m_strName(name) {
        HANDLE h = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        EXPECT_NE(h, INVALID_HANDLE_VALUE);
        DWORD n = 0;
        WriteFile(h, content.data(), static_cast<DWORD>(content.size()), &n, nullptr);
        CloseHandle(h);
    }
    ~CTempFile() { DeleteFileW(m_strName.c_str()); }

private:
    std::wstring m_strName;
};

// Opens text as a configuration file and reads one value from it.
int ValueFromText(const std::string& text, const char* section, const char* key, int nDefault = -7) {
    CTempFile file(L"cfg_value.kcf", text);
    unsigned long h = cfgOpenFile("cfg_value.kcf", "");
    EXPECT_GE(h, 16u);
    int n = cfgGetValue(h, section, key, nDefault);
    cfgClose(h);
    return n;
}

TEST(IniParser, IntegerValuesAreStrictDecimal) {
    int n = 0;
    EXPECT_TRUE(ParseIntValue("6123", n));
    EXPECT_EQ(n, 6123);
    EXPECT_TRUE(ParseIntValue("-15", n));
    EXPECT_EQ(n, -15);
    EXPECT_TRUE(ParseIntValue("+007", n));
    EXPECT_EQ(n, 7);
    EXPECT_TRUE(ParseIntValue("2147483647", n));
    EXPECT_EQ(n, INT_MAX);
    EXPECT_TRUE(ParseIntValue("-2147483648", n));
    EXPECT_EQ(n, INT_MIN);

    n = 99;
    for (const char* bad : {"", "-", "+", "2147483648", "-2147483649", "99999999999999999999", "0x10",
                            "12abc", "12 34", "6123 ; port", "1.5", " "}) {
        EXPECT_FALSE(ParseIntValue(bad, n)) << bad;
    }
    EXPECT_EQ(n, 99) << "a refused value must leave the output alone";
}

TEST(IniParser, CaseFoldingKeepsGbkCharactersApart) {
    EXPECT_EQ(FoldCase("GameSet"), "gameset");
    // 0x81 0x41 and 0x81 0x61 are two different GBK characters whose second bytes are 'A' and 'a'.
    EXPECT_NE(FoldCase("\x81\x41"), FoldCase("\x81\x61"));
    EXPECT_EQ(FoldCase("\x81\x41X"), "\x81\x41x");

    CIniData data = CIniData::Parse("[\x81\x41]\nk=1\n[\x81\x61]\nk=2\n");
    ASSERT_NE(data.Find("\x81\x41", "K"), nullptr);
    EXPECT_EQ(*data.Find("\x81\x41", "K"), "1");
    EXPECT_EQ(*data.Find("\x81\x61", "k"), "2");
}

TEST(IniParser, LineStructure) {
    CIniData data = CIniData::Parse(
        "\xEF\xBB\xBF"  // byte order mark
        "top=0\r\n"
        "[GameSet]\r\n"
        "Port=1\r\n"
        "Port=2\r\n"        // the first occurrence counts
        "no equals sign\r\n"
        "=orphan value\r\n"
        "Empty=\r\n"
        "Spaced =  a b  \r\n"
        "[Broken\r\n"
        "Lost=3\r\n"        // under an unterminated header: belongs nowhere
        "[ Other ] trailing text\r\n"
        "Url=http://x/?a=b");  // no final newline; '=' inside the value
    EXPECT_EQ(*data.Find("", "top"), "0");
    EXPECT_EQ(*data.Find("GameSet", "Port"), "1");
    EXPECT_EQ(*data.Find("GameSet", "Empty"), "");
    EXPECT_EQ(*data.Find("GameSet", "Spaced"), "a b");
    EXPECT_EQ(data.Find("GameSet", "Lost"), nullptr);
    EXPECT_EQ(data.Find("Broken", "Lost"), nullptr);
    EXPECT_EQ(*data.Find("Other", "Url"), "http://x/?a=b");
    EXPECT_EQ(data.Find("GameSet", ""), nullptr);
}

TEST(CfgEngine, HandleBelow16WhenTheFileCantBeOpened) {
    EXPECT_LT(cfgOpenFile("no-such-file.kcf", ""), 16u);
    EXPECT_LT(cfgOpenFile("no-such-dir\\kvgame.kcf", nullptr), 16u);
    EXPECT_LT(cfgOpenFile("", ""), 16u);
    EXPECT_LT(cfgOpenFile(nullptr, ""), 16u);
    EXPECT_LT(cfgOpenFile(".", ""), 16u) << "a directory is not a file";
}

TEST(CfgEngine, ReadsThePortAndFallsBackToTheDefault) {
    const std::string text = "[GameSet]\nUpdateSetPort=6200\nBad=62x\nHuge=9999999999\n[Other]\nx=1\n";
    EXPECT_EQ(ValueFromText(text, "GameSet", "UpdateSetPort", 6123), 6200);
    EXPECT_EQ(ValueFromText(text, "GameSet", "Missing", 6123), 6123);
    EXPECT_EQ(ValueFromText(text, "NoSection", "UpdateSetPort", 6123), 6123);
    EXPECT_EQ(ValueFromText(text, "Other", "UpdateSetPort", 6123), 6123) << "keys stay in their section";
    EXPECT_EQ(ValueFromText(text, "GameSet", "Bad", 6123), 6123);
    EXPECT_EQ(ValueFromText(text, "GameSet", "Huge", 6123), 6123);
    EXPECT_EQ(ValueFromText("", "GameSet", "UpdateSetPort", 6123), 6123) << "an empty file is a valid file";
}

TEST(CfgEngine, NamesIgnoreCaseBlanksAndComments) {
    const std::string text =
        "; lobby settings\n"
        "# UpdateSetPort=1\n"
        "  [ gameSET ]  \n"
        "\t; UpdateSetPort=2\n"
        "  updatesetport   =   7001  \r\n";
    EXPECT_EQ(ValueFromText(text, "GameSet", "UpdateSetPort"), 7001);
    EXPECT_EQ(ValueFromText(text, " GAMESET ", "UPDATESETPORT"), 7001);
}

TEST(CfgEngine, ClosedAndUnknownHandlesGiveTheDefault) {
    CTempFile file(L"cfg_close.kcf", "[GameSet]\nUpdateSetPort=6300\n");
    unsigned long h = cfgOpenFile("cfg_close.kcf", "");
    ASSERT_GE(h, 16u);
    EXPECT_EQ(cfgGetValue(h, "GameSet", "UpdateSetPort", 1), 6300);
    EXPECT_EQ(cfgGetValue(h, nullptr, "UpdateSetPort", 1), 1);
    EXPECT_EQ(cfgGetValue(h, "GameSet", nullptr, 1), 1);
    cfgClose(h);
    EXPECT_EQ(cfgGetValue(h, "GameSet", "UpdateSetPort", 1), 1);
    cfgClose(h);  // a second close is ignored
    cfgClose(0);
    EXPECT_EQ(cfgGetValue(0, "GameSet", "UpdateSetPort", 2), 2);
}

TEST(CfgEngine, HandlesAreIndependentAndTheFileIsReadAtOpen) {
    unsigned long h1, h2;
    {
        CTempFile a(L"cfg_a.kcf", "[GameSet]\nUpdateSetPort=1001\n");
        CTempFile b(L"cfg_b.kcf", "[GameSet]\nUpdateSetPort=1002\n");
        h1 = cfgOpenFile("cfg_a.kcf", "");
        h2 = cfgOpenFile("cfg_b.kcf", "");
    }  // both files are gone now
    ASSERT_GE(h1, 16u);
    ASSERT_GE(h2, 16u);
    EXPECT_NE(h1, h2);
    EXPECT_EQ(cfgGetValue(h1, "GameSet", "UpdateSetPort", 0), 1001);
    EXPECT_EQ(cfgGetValue(h2, "GameSet", "UpdateSetPort", 0), 1002);
    cfgClose(h1);
    EXPECT_EQ(cfgGetValue(h2, "GameSet", "UpdateSetPort", 0), 1002);
    cfgClose(h2);
}

TEST(CfgEngine, FileNamesAreGbk) {
    CTempFile file(L"游戏配置.kcf", "[GameSet]\nUpdateSetPort=6400\n");
    unsigned long h = cfgOpenFile("游戏配置.kcf", "");  // a GBK literal
    ASSERT_GE(h, 16u);
    EXPECT_EQ(cfgGetValue(h, "GameSet", "UpdateSetPort", 0), 6400);
    cfgClose(h);
}

TEST(CfgEngine, ThreadsOpenReadAndCloseAtOnce) {
    CTempFile file(L"cfg_threads.kcf", "[GameSet]\nUpdateSetPort=6500\n");
    std::atomic<int> nWrong(0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&nWrong] {
            for (int i = 0; i < 200; ++i) {
                unsigned long h = cfgOpenFile("cfg_threads.kcf", "");
                if (h < 16 || cfgGetValue(h, "GameSet", "UpdateSetPort", 0) != 6500) ++nWrong;
                cfgClose(h);
                if (cfgGetValue(h, "GameSet", "UpdateSetPort", 0) != 0) ++nWrong;
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(nWrong.load(), 0);
}

}  // namespace
