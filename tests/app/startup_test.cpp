// The real updater under Wine: it opens, connects to the lobby, and asks before closing.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <string>
#include <thread>

#include "lobby/update_record.h"
#include "tests/support/child_process.h"
#include "tests/support/test_lobby.h"

namespace {

const wchar_t kDialogClass[] = L"#32770";
const int kMessageBoxTextId = 0xFFFF;

std::wstring BoxText(HWND box) {
    wchar_t text[512] = {};
    ::GetDlgItemTextW(box, kMessageBoxTextId, text, 512);
    return text;
}

bool WaitUntilGone(HWND window, DWORD timeoutMs) {
    DWORD start = ::GetTickCount();
    while (::IsWindow(window) && ::IsWindowVisible(window)) {
        if (::GetTickCount() - start > timeoutMs) return false;
        ::Sleep(20);
    }
    return true;
}

class UpdaterStartup : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_lobby.IsListening());
        m_folder = MakeTempFolder("updater-startup-");
        WriteLobbyConfig(m_folder, m_lobby.Port());
        ASSERT_TRUE(m_updater.Start(ProgramFolder() + "\\updater.exe", "", m_folder));
        m_dialog = WaitForProcessWindow(m_updater.Id(), L"", 60000, kDialogClass);
        ASSERT_NE(nullptr, m_dialog) << "the dialog never opened";
    }

    // Answers the confirmation titled `title` with `button`, after checking its text.
    void Answer(const std::wstring& title, const std::wstring& text, int button, bool threeButtons) {
        HWND box = WaitForProcessWindow(m_updater.Id(), title, 10000, kDialogClass);
        ASSERT_NE(nullptr, box) << "no confirmation box";
        EXPECT_EQ(text, BoxText(box));
        EXPECT_NE(nullptr, ::GetDlgItem(box, IDYES));
        EXPECT_NE(nullptr, ::GetDlgItem(box, IDNO));
        EXPECT_EQ(threeButtons, ::GetDlgItem(box, IDCANCEL) != nullptr);
        // No is the default, so a stray Enter never cancels everything.
        LONG_PTR noStyle = ::GetWindowLongPtrW(::GetDlgItem(box, IDNO), GWL_STYLE);
        EXPECT_EQ(BS_DEFPUSHBUTTON, noStyle & 0x0F);
        ::PostMessageW(box, WM_COMMAND, button, 0);
        EXPECT_TRUE(WaitUntilGone(box, 5000));
    }

    void ExpectStillRunning() {
        ::Sleep(400);
        EXPECT_TRUE(m_updater.IsRunning());
        EXPECT_TRUE(::IsWindow(m_dialog));
    }

    TestLobby m_lobby;
    std::string m_folder;
    ChildProcess m_updater;
    HWND m_dialog = nullptr;
};

TEST_F(UpdaterStartup, ConnectsToTheLobbySoonAfterItOpens) {
    auto opened = std::chrono::steady_clock::now();
    ASSERT_TRUE(m_lobby.Accept(10000)) << "the updater never connected";
    // Started by a 100 ms timer after initialisation: well under two seconds here.
    EXPECT_LT(std::chrono::steady_clock::now() - opened, std::chrono::seconds(2));

    // A request crossing the link does not upset the program.
    sUpdateStruct request = {};
    request.cCmd = 1;
    request.nGameID = 42;
    SetFieldText(request.szGameName, "test game");
    EXPECT_TRUE(m_lobby.Send(reinterpret_cast<const char*>(&request), sizeof request));
    ExpectStillRunning();
}

TEST_F(UpdaterStartup, EscapeAsksAndNoKeepsItRunningYesEndsIt) {
    ASSERT_TRUE(m_lobby.Accept(10000));
    ::PostMessageW(m_dialog, WM_KEYDOWN, VK_ESCAPE, 0);
    Answer(L"取消下载", L"你确定要取消所有下载吗?", IDNO, false);
    ExpectStillRunning();

    // Closing the window from the system asks the same question.
    ::PostMessageW(m_dialog, WM_CLOSE, 0, 0);
    Answer(L"取消下载", L"你确定要取消所有下载吗?", IDNO, false);
    ExpectStillRunning();

    ::PostMessageW(m_dialog, WM_KEYDOWN, VK_ESCAPE, 0);
    Answer(L"取消下载", L"你确定要取消所有下载吗?", IDYES, false);
    EXPECT_TRUE(m_updater.WaitForExit(10000));
    EXPECT_EQ(0u, m_updater.ExitCode());

    // The link was closed on the way out.
    char byte = 0;
    EXPECT_FALSE(m_lobby.ReceiveExact(&byte, 1, 2000));
}

TEST_F(UpdaterStartup, EnterAsksWithThreeButtonsAndYesEndsIt) {
    ASSERT_TRUE(m_lobby.Accept(10000));
    ::PostMessageW(m_dialog, WM_KEYDOWN, VK_RETURN, 0);
    Answer(L"取消更新", L"你确定要取消所有更新吗?", IDCANCEL, true);
    ExpectStillRunning();

    ::PostMessageW(m_dialog, WM_KEYDOWN, VK_RETURN, 0);
    Answer(L"取消更新", L"你确定要取消所有更新吗?", IDNO, true);
    ExpectStillRunning();

    ::PostMessageW(m_dialog, WM_KEYDOWN, VK_RETURN, 0);
    Answer(L"取消更新", L"你确定要取消所有更新吗?", IDYES, true);
    EXPECT_TRUE(m_updater.WaitForExit(10000));
}

// Where a child lies in its parent's client coordinates, and its size.
RECT ChildRect(HWND parent, int id) {
    RECT rect = {};
    HWND child = ::GetDlgItem(parent, id);
    ::GetWindowRect(child, &rect);
    ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

TEST_F(UpdaterStartup, TakesItsSkinnedFormWithCutCorners) {
    ASSERT_TRUE(m_lobby.Accept(10000));
    RECT window;
    ::GetWindowRect(m_dialog, &window);
    EXPECT_EQ(537, window.right - window.left);
    EXPECT_EQ(182, window.bottom - window.top);

    RECT list = ChildRect(m_dialog, 1000);
    EXPECT_EQ(3, list.left);
    EXPECT_EQ(35, list.top);
    EXPECT_EQ(531, list.right - list.left);
    EXPECT_EQ(104, list.bottom - list.top);
    RECT minimise = ChildRect(m_dialog, 1005);
    RECT close = ChildRect(m_dialog, IDCANCEL);
    EXPECT_EQ(471, minimise.left);
    EXPECT_EQ(1, minimise.top);
    EXPECT_EQ(26, minimise.bottom - minimise.top);
    EXPECT_EQ(500, close.left);
    EXPECT_EQ(1, close.top);
    EXPECT_EQ(26, close.bottom - close.top);

    HRGN region = ::CreateRectRgn(0, 0, 0, 0);
    ASSERT_NE(ERROR, ::GetWindowRgn(m_dialog, region));
    EXPECT_FALSE(::PtInRegion(region, 0, 0));
    EXPECT_FALSE(::PtInRegion(region, 1, 1));
    EXPECT_FALSE(::PtInRegion(region, 1, 180));
    EXPECT_TRUE(::PtInRegion(region, 5, 5));
    ::DeleteObject(region);
}

}  // namespace
