// Clicks on the row buttons become messages to the notify window; header drags resize nothing;
// timer 100 acts only once a row is current, and then repaints only the rows whose look changed.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include "tests/tasklist/task_list_window.h"

namespace {

LPARAM At(int x, int y) { return MAKELPARAM(x, y); }

class TaskListInput : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(nullptr, m_window.Skin());
        for (int i = 0; i < 3; ++i) List().InsertItem(i, "游戏");
        m_window.Redraw();
    }
    CMavrinDlg& List() { return m_window.List(); }
    HWND ListHwnd() { return List().GetSafeHwnd(); }
    // The cursor comes to a button across its row, as a real mouse would.
    void HoverRow(int row) {
        RECT r = m_window.RowRect(row);
        ::PostMessageW(ListHwnd(), WM_MOUSEMOVE, 0, At(10, r.top + 5));
        TaskListWindow::Pump(20);
    }
    // Row 0 current, one tick, and every row painted as it now looks.
    void TickAndPaint() {
        List().SetItemProgress(0, 0.1f);
        List().SendMessage(WM_TIMER, kTaskListRedrawTimer);
        TaskListWindow::Pump(20);
        ::ValidateRect(ListHwnd(), nullptr);
    }
    void Click(HWND target, int x, int y) {
        ::PostMessageW(target, WM_LBUTTONDOWN, MK_LBUTTON, At(x, y));
        ::PostMessageW(target, WM_LBUTTONUP, 0, At(x, y));
        TaskListWindow::Pump(50);
    }
    TaskListWindow m_window;
};

TEST_F(TaskListInput, ClickOnACancelButtonPostsCancelWithTheHotRow) {
    HoverRow(2);
    EXPECT_EQ(2, List().GetHotRow());
    Click(List().GetCancelButton(2)->GetSafeHwnd(), 3, 3);
    ASSERT_EQ(1u, m_window.Notify().posts.size());
    EXPECT_EQ(kTaskListCancelRow, m_window.Notify().posts[0].first);
    EXPECT_EQ(2, m_window.Notify().posts[0].second);
}

TEST_F(TaskListInput, ClickJustLeftOfAnEnterButtonStillEntersTheGame) {
    List().ShowEnterButton(1);
    m_window.Redraw();
    HoverRow(1);
    RECT enter = m_window.ButtonRect(List().GetEnterButton(1));
    Click(ListHwnd(), enter.left - 8, (enter.top + enter.bottom) / 2);
    ASSERT_EQ(1u, m_window.Notify().posts.size());
    EXPECT_EQ(kTaskListEnterGame, m_window.Notify().posts[0].first);
    EXPECT_EQ(1, m_window.Notify().posts[0].second);

    // Farther than the slack: nothing.
    Click(ListHwnd(), enter.left - 12, (enter.top + enter.bottom) / 2);
    EXPECT_EQ(1u, m_window.Notify().posts.size());
}

TEST_F(TaskListInput, ClickWhereAHiddenEnterButtonSitsPostsNothing) {
    HoverRow(0);
    RECT enter = m_window.ButtonRect(List().GetEnterButton(0));
    ASSERT_FALSE(::IsWindowVisible(List().GetEnterButton(0)->GetSafeHwnd()));
    Click(ListHwnd(), enter.left + 3, enter.top + 3);
    EXPECT_TRUE(m_window.Notify().posts.empty());
}

TEST_F(TaskListInput, ClicksWithoutANotifyWindowPostNothing) {
    List().m_pNotifyWnd = nullptr;
    HoverRow(0);
    Click(List().GetCancelButton(0)->GetSafeHwnd(), 3, 3);
    EXPECT_TRUE(m_window.Notify().posts.empty());
}

TEST_F(TaskListInput, DraggingAHeaderDividerChangesNoWidth) {
    HWND header = List().GetHeader().GetSafeHwnd();
    ASSERT_NE(nullptr, header);
    ::PostMessageW(header, WM_LBUTTONDOWN, MK_LBUTTON, At(85, 10));
    for (int x = 90; x <= 125; x += 5) ::PostMessageW(header, WM_MOUSEMOVE, MK_LBUTTON, At(x, 10));
    ::PostMessageW(header, WM_LBUTTONUP, 0, At(125, 10));
    TaskListWindow::Pump(50);
    EXPECT_EQ(85, List().GetColumnWidth(0));
    EXPECT_EQ(60, List().GetColumnWidth(1));
}

TEST_F(TaskListInput, MouseMovesLeaveTheCurrentRowAloneUntilButtonsExist) {
    TaskListWindow bare(false);
    bare.List().InsertItem(0, "游戏");
    bare.List().InsertItem(1, "游戏");
    RECT r = bare.RowRect(1);
    // No draw yet, so no buttons: the hot row follows the mouse, the current row does not.
    ::SendMessageW(bare.List().GetSafeHwnd(), WM_MOUSEMOVE, 0, At(10, r.top + 5));
    EXPECT_EQ(1, bare.List().GetHotRow());
    EXPECT_EQ(-1, bare.List().GetCurrentRow());

    HoverRow(1);  // this list has drawn its buttons
    EXPECT_EQ(1, List().GetCurrentRow());
}

TEST_F(TaskListInput, RedrawTimerEndsOnTheLastRowOnceARowIsCurrent) {
    HWND list = ListHwnd();
    List().SetItemState(-1, 0, LVIS_SELECTED);
    ::ValidateRect(list, nullptr);
    List().SendMessage(WM_TIMER, kTaskListRedrawTimer);
    EXPECT_EQ(0u, List().GetItemState(2, LVIS_SELECTED)) << "no current row yet: nothing happens";
    RECT dirty{};
    EXPECT_FALSE(::GetUpdateRect(list, &dirty, FALSE));

    List().SetItemProgress(0, 0.1f);
    ::ValidateRect(list, nullptr);
    List().SendMessage(WM_TIMER, kTaskListRedrawTimer);
    EXPECT_EQ(0u, List().GetItemState(0, LVIS_SELECTED));
    EXPECT_EQ(static_cast<UINT>(LVIS_SELECTED), List().GetItemState(2, LVIS_SELECTED));
    // The first tick repaints every row.
    ASSERT_TRUE(::GetUpdateRect(list, &dirty, FALSE));
    EXPECT_LE(dirty.top, m_window.RowRect(0).top);
    EXPECT_GE(dirty.bottom, m_window.RowRect(2).bottom);
}

TEST_F(TaskListInput, RedrawTimerLeavesRowsAloneWhenARefreshChangesNothing) {
    TickAndPaint();
    // As the dialog's refresh does: the selection moves through the rows and back to the last,
    // the empty speed texts are written again.
    for (int row = 0; row < 3; ++row) {
        List().SetItemPhase(row, 0);
        List().SetItemProgress(row, row == 0 ? 0.1f : 0.0f);
        List().SetItemSpeed(row, 0.0f);
    }
    List().SendMessage(WM_TIMER, kTaskListRedrawTimer);
    RECT dirty{};
    EXPECT_FALSE(::GetUpdateRect(ListHwnd(), &dirty, FALSE)) << "an unchanged row was repainted";
    EXPECT_EQ(static_cast<UINT>(LVIS_SELECTED), List().GetItemState(2, LVIS_SELECTED));
    EXPECT_EQ(0u, List().GetItemState(1, LVIS_SELECTED));
}

TEST_F(TaskListInput, RedrawTimerRepaintsTheRowWhoseBarGrewAndNoOther) {
    TickAndPaint();
    List().SetItemProgress(1, 0.5f);
    List().SendMessage(WM_TIMER, kTaskListRedrawTimer);
    RECT dirty{};
    ASSERT_TRUE(::GetUpdateRect(ListHwnd(), &dirty, FALSE)) << "a changed row was not repainted";
    EXPECT_EQ(m_window.RowRect(1).top, dirty.top);
    EXPECT_EQ(m_window.RowRect(1).bottom, dirty.bottom);
    // The row composes its buttons: their own windows are not repainted.
    ASSERT_NE(nullptr, List().GetCancelButton(1));
    EXPECT_FALSE(::GetUpdateRect(List().GetCancelButton(1)->GetSafeHwnd(), &dirty, FALSE));
}

// A tick that finds nothing changed lets the timer rest (a hundred wake-ups a second cost
// more than the drawing); setting a row wakes it again.
TEST_F(TaskListInput, RedrawTimerRestsWhenNothingChangesAndWakesWhenARowIsSet) {
    TickAndPaint();
    List().SendMessage(WM_TIMER, kTaskListRedrawTimer);
    auto tickPending = [this] {
        ::Sleep(40);
        MSG msg;
        return ::PeekMessageW(&msg, ListHwnd(), WM_TIMER, WM_TIMER, PM_REMOVE) != FALSE &&
               msg.wParam == kTaskListRedrawTimer;
    };
    EXPECT_FALSE(tickPending()) << "the timer went on with nothing to do";
    List().SetItemProgress(1, 0.5f);
    EXPECT_TRUE(tickPending()) << "a changed row did not wake the timer";
}

}  // namespace
