// A package made by Info-ZIP, served by a native nginx with its manifest (with_nginx.sh),
// installed by the real updater: the game's folder ends as Info-ZIP's `unzip -o` leaves it, and
// the package never lies in the folder. Skipped without the wrapper.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>

#include "framework/gbk_text.h"
#include "tests/e2e/updater_session.h"

namespace {

// The largest file in `folder` and below.
uint64_t LargestFileBelow(const std::string& folder) {
    uint64_t largest = 0;
    WIN32_FIND_DATAA found;
    HANDLE search = ::FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return 0;
    do {
        const std::string name = found.cFileName;
        if (name == "." || name == "..") continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            largest = std::max(largest, LargestFileBelow(folder + "\\" + name));
        } else {
            largest = std::max(largest, (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow);
        }
    } while (::FindNextFileA(search, &found));
    ::FindClose(search);
    return largest;
}

class UpdaterPackage : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HasNginxPackage()) GTEST_SKIP() << "runs under tests/support/with_nginx.sh";
    }
    void TearDown() override {
        if (HasNginxPackage()) m_session.Finish(HasFailure());
    }

    // Starts the updater with the game's folder as it was before the update, serving a list that
    // installs `zipName`, and sends the request. `watch` runs while the task is under way.
    void Install(const std::string& zipName, const std::function<void()>& watch = nullptr) {
        const std::string listTarget = "/" + m_game.folder + "/list.ini";
        m_session.Server().Serve(m_session.UrlFileTarget(m_game),
                                 ServedFile{"[config]\r\n" + m_game.configKey + "=" + m_session.Server().Url(listTarget) + "\r\n"});
        m_session.Server().Serve(listTarget, ServedFile{ManifestList(m_game.folder, zipName)});
        ASSERT_NO_FATAL_FAILURE(m_session.Start());
        WriteTree(m_session.Local(m_game.folder), Snapshot(NginxFixture("start")));
        ASSERT_NO_FATAL_FAILURE(m_session.SendRecords({m_session.Request(m_game)}));
        const DWORD start = ::GetTickCount();
        sUpdateStruct report = {};
        while (!m_session.NextRecord(&report, 20)) {
            ASSERT_LT(::GetTickCount() - start, 60000u) << "the task never ended";
            if (watch) watch();
            if (HWND box = m_session.WaitForBox(L"错误", 0)) {
                m_boxes += WideToGbk(UpdaterSession::BoxText(box)) + " ";
                UpdaterSession::CloseBox(box);
            }
        }
        EXPECT_TRUE(IsTaskEndedReport(report, m_session.Request(m_game)));
    }

    Tree GameFolder() const { return Snapshot(m_session.Local(m_game.folder)); }

    UpdaterSession m_session;
    E2eGame m_game = MakeGame(601, "Package", L"Package", "game");
    std::string m_boxes;
};

TEST_F(UpdaterPackage, InstallsAsInfoZipUnpacksWithoutThePackageEverInTheFolder) {
    const uint64_t packageSize = UpdaterSession::FileSize(NginxFixture("www/pkg.zip"));
    uint64_t largest = 0;
    ASSERT_NO_FATAL_FAILURE(Install("pkg.zip", [&] { largest = std::max(largest, LargestFileBelow(m_session.Folder())); }));
    EXPECT_EQ("", m_boxes);
    EXPECT_EQ("", Differences(Snapshot(NginxFixture("expected")), GameFolder()));
    EXPECT_LT(largest, packageSize) << "a file of the package's size lay in the folder";
    const std::string output = UpdaterSession::ReadWholeFile(m_session.Local("output.txt"));
    EXPECT_NE(std::string::npos, output.find("下载完毕开始解压\r\n解压完毕，开始删除文件\r\n删除完毕\r\n")) << output;
}

// One entry's bytes differ from the manifest: the task fails naming it, and every file in the
// folder is whole, either the new release's or the one that was there before.
TEST_F(UpdaterPackage, ATamperedEntryFailsTheTaskAndLeavesEveryOtherFileWhole) {
    ASSERT_NO_FATAL_FAILURE(Install("tampered.zip"));
    std::string tampered = m_game.folder + "\\" + UpdaterSession::ReadWholeFile(NginxFixture("tampered.txt"));
    std::replace(tampered.begin(), tampered.end(), '/', '\\');
    EXPECT_EQ("校验文件" + m_session.Local(tampered) + "失败. ", m_boxes);
    const Tree before = Snapshot(NginxFixture("start"));
    const Tree expected = Snapshot(NginxFixture("expected"));
    for (const auto& [path, content] : GameFolder()) {
        auto old = before.find(path);
        auto fresh = expected.find(path);
        const bool whole = (old != before.end() && old->second == content) ||
                           (fresh != expected.end() && fresh->second == content);
        EXPECT_TRUE(whole) << path << " is neither the old file nor the new one";
    }
}

}  // namespace
