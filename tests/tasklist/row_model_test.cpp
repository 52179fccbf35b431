// The task list's rows: texts, percent, phase, selection, and the size set from a download thread.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <thread>

#include "tasklist/row_format.h"
#include "tests/support/test_list_window.h"

namespace {

TEST(RowFormat, PercentTruncatesAndShowsNinetyNineAsHundred) {
    EXPECT_EQ(50, ProgressPercent(0.5f));
    EXPECT_EQ(98, ProgressPercent(0.989f));
    EXPECT_EQ(100, ProgressPercent(0.99f));
    EXPECT_EQ(100, ProgressPercent(1.0f));
    EXPECT_EQ(100, ProgressPercent(1.7f));
    EXPECT_EQ(0, ProgressPercent(0.0f));
    EXPECT_EQ(0, ProgressPercent(-0.5f));
}

TEST(RowFormat, SpeedIsOneDecimalInTenCharacters) {
    EXPECT_EQ("     123.5", SpeedText(123.5f));
    EXPECT_EQ("       0.0", SpeedText(0.0f));
    EXPECT_EQ("4294967", SizeText(4294967));
}

class RowModel : public ::testing::Test {
protected:
    void SetUp() override {
        for (int i = 0; i < 3; ++i) List().InsertItem(i, "游戏" + std::to_string(i));
    }
    CMavrinDlg& List() { return m_window.List(); }
    TestListWindow m_window;
};

TEST_F(RowModel, SpeedTextIsSharedAcrossRowsAndZeroEmptiesTheCell) {
    List().SetItemSpeed(0, 123.5f);
    EXPECT_EQ("     123.5", List().GetItemText(0, kColumnSpeed));
    // Same value as the last one written, for any row: the second row is not rewritten.
    List().SetItemSpeed(1, 123.5f);
    EXPECT_EQ("", List().GetItemText(1, kColumnSpeed));

    List().SetItemSpeed(0, 0.0f);
    EXPECT_EQ("", List().GetItemText(0, kColumnSpeed));
    List().SetItemSpeed(2, 7.0f);
    List().SetItemSpeed(2, 0.0f);
    List().SetItemSpeed(2, 0.0f);  // 0 again, also when 0 was the last value
    EXPECT_EQ("", List().GetItemText(2, kColumnSpeed));
}

TEST_F(RowModel, ProgressStoresPercentAndSelectsTheRow) {
    EXPECT_EQ(-1, List().GetItemPercent(1));
    List().SetItemProgress(1, 0.5f);
    EXPECT_EQ(50, List().GetItemPercent(1));
    EXPECT_EQ(1, List().GetCurrentRow());
    EXPECT_EQ(static_cast<UINT>(LVIS_SELECTED), List().GetItemState(1, LVIS_SELECTED));

    List().SetItemProgress(2, 0.99f);
    EXPECT_EQ(100, List().GetItemPercent(2));
    EXPECT_EQ(0u, List().GetItemState(1, LVIS_SELECTED));
    EXPECT_EQ(static_cast<UINT>(LVIS_SELECTED), List().GetItemState(2, LVIS_SELECTED));
}

TEST_F(RowModel, PhaseZeroRemovesTheEntry) {
    List().SetItemPhase(1, 2);
    EXPECT_EQ(2, List().GetItemPhase(1));
    List().SetItemPhase(1, 0);
    EXPECT_EQ(0, List().GetItemPhase(1));
    List().SetItemPhase(0, 0);  // no entry: nothing happens
    EXPECT_EQ(0, List().GetItemPhase(0));
}

TEST_F(RowModel, EntriesStayWithTheIndexWhenARowIsDeleted) {
    List().SetItemPhase(1, 1);
    List().SetItemProgress(1, 0.25f);
    List().SetItemPhase(2, 2);
    List().SetItemProgress(2, 0.75f);

    List().DeleteItem(1);

    ASSERT_EQ(2, List().GetItemCount());
    EXPECT_EQ("游戏2", List().GetItemText(1, kColumnName));
    // Until the next refresh, the row that moved up shows what index 1 held.
    EXPECT_EQ(1, List().GetItemPhase(1));
    EXPECT_EQ(25, List().GetItemPercent(1));
}

TEST_F(RowModel, ButtonOperationsOnRowsWithoutButtonsDoNothing) {
    List().ShowEnterButton(0);
    List().HideEnterButton(5);
    List().HideCancelButton(-1);
    EXPECT_EQ(3, List().GetItemCount());
}

TEST_F(RowModel, SizeFromAnotherThreadGoesThroughTheListWindow) {
    std::atomic<bool> done{false};
    std::thread download([&] {
        List().SetItemSize(2, 4096);
        List().SetItemPhase(2, 1);
        done = true;
    });
    // Posted, not sent: the thread is done before the text arrives.
    m_window.PumpUntil([&] { return done.load() && List().GetItemText(2, kColumnSize) == "4096"; });
    download.join();
    EXPECT_EQ("4096", List().GetItemText(2, kColumnSize));
    EXPECT_EQ(1, List().GetItemPhase(2));
}

}  // namespace
