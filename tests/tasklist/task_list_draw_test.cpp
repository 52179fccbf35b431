// The task list's look: row colours, the area below the rows, the progress bar and its
// percent, the size cell's phase texts, the row buttons, and the header's height.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <vector>

#include "framework/gbk_text.h"
#include "framework/gdi_handles.h"
#include "skin/image.h"
#include "skin/skin_font.h"
#include "tasklist/row_format.h"
#include "tests/skin/dib_canvas.h"
#include "tests/tasklist/task_list_window.h"

namespace {

const COLORREF kRowEven = RGB(220, 235, 246);
const COLORREF kRowOdd = RGB(242, 243, 246);

TEST(RowFormat, SizeCellShowsPhaseTexts) {
    EXPECT_EQ("等待下载..", SizeCellText(0, ""));
    EXPECT_EQ("2048", SizeCellText(0, "2048"));
    EXPECT_EQ("正在安装..", SizeCellText(1, "2048"));
    EXPECT_EQ("安装完成", SizeCellText(2, ""));
}

TEST(RowFormat, BarTilesLeaveTheBarEndsUncovered) {
    // The dialog's bar is 135 pixels with one-pixel tiles.
    EXPECT_EQ(65, BarTileCount(50, 135, 1));
    EXPECT_EQ(133, BarTileCount(100, 135, 1));
    EXPECT_EQ(-1, BarTileCount(1, 135, 1));  // background only
    EXPECT_EQ(0, BarTileCount(50, 135, 0));
    EXPECT_EQ("50 %", PercentText(50));
    EXPECT_EQ(23 + 5, CentredTop(23, 46, 12));
    EXPECT_EQ(2, CentredTop(0, 10, 5));  // 2.5 truncated
}

// Renders `text` as the list does (skin font, transparent over `back`) into a DIB of the
// cell's size, so glyph pixels can be compared with the screen.
std::vector<COLORREF> RenderCell(const std::string& text, int width, int height, COLORREF back, UINT format) {
    DibCanvas canvas(width, height, 32);
    ScopedCreateDC dc(::CreateCompatibleDC(nullptr));
    ScopedFont font(CreateSkinFont());
    std::vector<COLORREF> pixels;
    {
        ScopedSelectObject bitmap(dc.Get(), canvas.Get());
        ScopedSelectObject selected(dc.Get(), font.Get());
        RECT all = {0, 0, width, height};
        ScopedBrush brush(::CreateSolidBrush(back));
        ::FillRect(dc.Get(), &all, brush.Get());
        ::SetBkMode(dc.Get(), TRANSPARENT);
        ::SetTextColor(dc.Get(), RGB(0, 0, 0));
        std::wstring wide = GbkToWide(text);
        ::DrawTextW(dc.Get(), wide.c_str(), static_cast<int>(wide.size()), &all, format);
        ::GdiFlush();
    }
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) pixels.push_back(canvas.Pixel(x, y));
    return pixels;
}

class TaskListDraw : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(nullptr, m_window.Skin()) << "..\\bin\\updater.exe not found"; }
    CMavrinDlg& List() { return m_window.List(); }
    void AddRows(int n) {
        for (int i = 0; i < n; ++i) List().InsertItem(i, "游戏" + std::to_string(i));
    }
    // Cells are placed from the row's own left edge, which the list view may indent.
    // Screen pixels of a cell of `row` (`left` from the row's left edge) against a reference rendering of `text`.
    // Only columns from `skip` on are compared (the bar occupies the start of the progress cell).
    int MismatchedPixels(int row, int left, int width, const std::string& text, UINT format, int skip = 0) {
        RECT r = m_window.DrawnRect(row);
        const int height = r.bottom - r.top;
        std::vector<COLORREF> expected =
            RenderCell(text, width, height, row % 2 ? kRowOdd : kRowEven, format);
        int mismatches = 0;
        for (int y = 0; y < height; ++y)
            for (int x = skip; x < width; ++x)
                if (m_window.Pixel(r.left + left + x, r.top + y) != expected[y * width + x]) ++mismatches;
        return mismatches;
    }
    int DarkPixels(int row, int left, int right) {
        RECT r = m_window.DrawnRect(row);
        int dark = 0;
        for (int y = r.top; y < r.bottom; ++y)
            for (int x = r.left + left; x < r.left + right; ++x)
                if (GetGValue(m_window.Pixel(x, y)) < 100) ++dark;
        return dark;
    }
    TaskListWindow m_window;
};

TEST_F(TaskListDraw, HeaderIsTheBackgroundsHeightAndRowsStartBelowIt) {
    AddRows(1);
    RECT header{};
    ::GetWindowRect(List().GetHeader().GetSafeHwnd(), &header);
    EXPECT_EQ(23, header.bottom - header.top);
    EXPECT_EQ(23, m_window.RowRect(0).top);
    EXPECT_EQ(23, m_window.RowRect(0).bottom - m_window.RowRect(0).top);
}

TEST_F(TaskListDraw, SetRowHeightRemeasuresTheRows) {
    AddRows(2);
    List().SetRowHeight(30);
    EXPECT_EQ(30, m_window.RowRect(1).bottom - m_window.RowRect(1).top);
    EXPECT_EQ(23 + 30, m_window.RowRect(1).top);
}

TEST_F(TaskListDraw, RowsAlternateAndTheAreaBelowTakesTheOddColour) {
    AddRows(2);
    m_window.Redraw();
    RECT row0 = m_window.DrawnRect(0);
    RECT row1 = m_window.DrawnRect(1);
    EXPECT_EQ(kRowEven, m_window.Pixel(2, row0.top + 1));
    EXPECT_EQ(kRowOdd, m_window.Pixel(2, row1.top + 1));
    EXPECT_EQ(kRowOdd, m_window.Pixel(2, row1.bottom + 5));
    EXPECT_EQ(kRowOdd, m_window.Pixel(400, 100));
    // Left of where the list starts its items: the row colour, never the key colour.
    EXPECT_EQ(kRowEven, m_window.Pixel(0, row0.top + 1));
    EXPECT_EQ(kRowOdd, m_window.Pixel(1, row1.top + 1));
    EXPECT_EQ(kRowOdd, m_window.Pixel(0, row1.bottom + 5));
}

TEST_F(TaskListDraw, ARedrawTickPaintsTheRowsAndTheAreaBelowThem) {
    AddRows(1);
    m_window.Redraw();
    RECT row0 = m_window.DrawnRect(0);
    // Something else painted over the list; one tick of the redraw timer puts the look back.
    {
        ScopedGetDC dc(List().GetSafeHwnd());
        RECT all = {0, row0.top, 531, 104};
        ScopedBrush black(::CreateSolidBrush(RGB(0, 0, 0)));
        ::FillRect(dc.Get(), &all, black.Get());
    }
    List().SetItemProgress(0, 0.5f);
    List().SendMessage(WM_TIMER, kTaskListRedrawTimer);
    ::UpdateWindow(List().GetSafeHwnd());
    TaskListWindow::Pump(20);
    EXPECT_EQ(kRowEven, m_window.Pixel(0, row0.top + 1));
    EXPECT_EQ(kRowOdd, m_window.Pixel(0, row0.bottom + 2));
    EXPECT_EQ(kRowOdd, m_window.Pixel(300, 100));
}

TEST_F(TaskListDraw, ProgressBarAtHalfHasSixtyFiveTilesAndItsPercent) {
    AddRows(1);
    List().SetItemProgress(0, 0.5f);
    m_window.Redraw();
    CImage bar, tile;
    ASSERT_TRUE(bar.LoadFromId(m_window.Skin(), 134));
    ASSERT_TRUE(tile.LoadFromId(m_window.Skin(), 135));
    RECT row = m_window.DrawnRect(0);
    const int left = row.left + 85 + 60;
    const int y = row.top + (23 - 12) / 2;
    for (int dy : {0, 6, 11}) {
        EXPECT_EQ(DibSectionPixel(bar.GetHandle(), 0, dy), m_window.Pixel(left, y + dy));
        for (int i = 0; i < 65; ++i)
            ASSERT_EQ(DibSectionPixel(tile.GetHandle(), 0, dy), m_window.Pixel(left + 1 + i, y + dy)) << i;
        EXPECT_EQ(DibSectionPixel(bar.GetHandle(), 66, dy), m_window.Pixel(left + 66, y + dy));
    }
    ASSERT_NE(DibSectionPixel(tile.GetHandle(), 0, 6), DibSectionPixel(bar.GetHandle(), 66, 6))
        << "tile and bar must differ for the count to be seen";
    EXPECT_EQ(kRowEven, m_window.Pixel(left, y - 1));  // nothing above the bar
    const UINT right = DT_RIGHT | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS;
    EXPECT_EQ(0, MismatchedPixels(0, 85 + 60, 170, "50 %", right, 136));
    EXPECT_NE(0, MismatchedPixels(0, 85 + 60, 170, "51 %", right, 136));
}

TEST_F(TaskListDraw, InstallingBarUsesTheInstallTile) {
    AddRows(1);
    List().SetItemProgress(0, 1.0f);
    List().SetItemPhase(0, 1);
    m_window.Redraw();
    CImage install;
    ASSERT_TRUE(install.LoadFromId(m_window.Skin(), 146));
    RECT row = m_window.DrawnRect(0);
    const int y = row.top + 5 + 6;
    EXPECT_EQ(DibSectionPixel(install.GetHandle(), 0, 6), m_window.Pixel(row.left + 85 + 60 + 1, y));
    EXPECT_EQ(DibSectionPixel(install.GetHandle(), 0, 6), m_window.Pixel(row.left + 85 + 60 + 133, y));
}

TEST_F(TaskListDraw, SizeCellShowsWaitingThenSizeThenPhaseTexts) {
    const UINT centred = DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS;
    AddRows(1);
    m_window.Redraw();
    EXPECT_GT(DarkPixels(0, 85, 145), 0);
    EXPECT_EQ(0, MismatchedPixels(0, 85, 60, "等待下载..", centred));
    List().SetItemSize(0, 2048);
    m_window.Redraw();
    EXPECT_EQ(0, MismatchedPixels(0, 85, 60, "2048", centred));
    List().SetItemPhase(0, 2);
    m_window.Redraw();
    EXPECT_EQ(0, MismatchedPixels(0, 85, 60, "安装完成", centred));
}

TEST_F(TaskListDraw, AFailedRowSaysSoInPlaceOfBarAndPercent) {
    const UINT centred = DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS;
    AddRows(1);
    List().SetItemProgress(0, 0.5f);
    List().SetItemPhase(0, kRowPhaseFailed);
    m_window.Redraw();
    EXPECT_EQ(0, MismatchedPixels(0, 85 + 60, 170, "更新失败", centred));
    EXPECT_EQ(kRowEven, m_window.Pixel(m_window.DrawnRect(0).left + 85 + 60, m_window.DrawnRect(0).top + 11))
        << "no bar";
}

TEST_F(TaskListDraw, EnterButtonsMoveUpWithTheirRows) {
    AddRows(3);
    m_window.Redraw();
    List().ShowEnterButton(1);  // the task of row 1 has finished, row 2's has not
    List().DeleteItem(0);
    m_window.Redraw();
    EXPECT_TRUE(::IsWindowVisible(List().GetEnterButton(0)->GetSafeHwnd()));
    EXPECT_FALSE(::IsWindowVisible(List().GetEnterButton(1)->GetSafeHwnd()));
    EXPECT_FALSE(::IsWindowVisible(List().GetEnterButton(2)->GetSafeHwnd()));
}

// A task that finished while its row was out of view (never drawn) has its button once the row
// is scrolled in; buttons of rows scrolled away don't stay over the rows now in view.
TEST_F(TaskListDraw, ButtonsFollowTheirRowsOutOfViewAndBack) {
    AddRows(8);
    m_window.Redraw();
    ASSERT_NE(nullptr, List().GetCancelButton(0));
    List().ShowEnterButton(6);
    List().EnsureVisible(7, false);
    m_window.Redraw();
    KvButton* enter = List().GetEnterButton(6);
    ASSERT_NE(nullptr, enter);
    EXPECT_TRUE(::IsWindowVisible(enter->GetSafeHwnd()));
    EXPECT_EQ(m_window.RowRect(6).top + 5, m_window.ButtonRect(enter).top);
    EXPECT_FALSE(::IsWindowVisible(List().GetEnterButton(7)->GetSafeHwnd()));
    KvButton* cancel = List().GetCancelButton(0);
    EXPECT_FALSE(::IsWindowVisible(cancel->GetSafeHwnd())) << "row 0's cancel button stayed where row 0 was";

    List().EnsureVisible(0, false);
    m_window.Redraw();
    EXPECT_TRUE(::IsWindowVisible(cancel->GetSafeHwnd()));
    EXPECT_EQ(m_window.RowRect(0).top + 5, m_window.ButtonRect(cancel).top);
    EXPECT_FALSE(::IsWindowVisible(enter->GetSafeHwnd()));
}

TEST_F(TaskListDraw, NewRowShowsItsCancelButtonButNotItsEnterButton) {
    AddRows(1);
    m_window.Redraw();
    KvButton* cancel = List().GetCancelButton(0);
    KvButton* enter = List().GetEnterButton(0);
    ASSERT_NE(nullptr, cancel);
    ASSERT_NE(nullptr, enter);
    EXPECT_TRUE(::IsWindowVisible(cancel->GetSafeHwnd()));
    EXPECT_FALSE(::IsWindowVisible(enter->GetSafeHwnd()));
    // Cancel: centred between the cell's left edge and the end of the row; 15 x 13 frames.
    RECT row = m_window.DrawnRect(0);
    RECT rect = m_window.ButtonRect(cancel);
    const int offset = 85 + 60 + 170 + 80 + 60;
    EXPECT_EQ(row.left + offset + (row.right - row.left - offset - 15) / 2, rect.left);
    EXPECT_EQ(23 + 5, rect.top);
    List().ShowEnterButton(0);
    m_window.Redraw();
    EXPECT_EQ(row.left + 85 + 60 + 170 + 80 + 20, m_window.ButtonRect(enter).left);
}

TEST_F(TaskListDraw, ButtonsOfARemovedLastRowAreHidden) {
    AddRows(3);
    m_window.Redraw();
    ASSERT_NE(nullptr, List().GetCancelButton(2));
    List().DeleteItem(2);
    m_window.Redraw();
    EXPECT_FALSE(::IsWindowVisible(List().GetCancelButton(2)->GetSafeHwnd()));
    EXPECT_TRUE(::IsWindowVisible(List().GetCancelButton(1)->GetSafeHwnd()));
}

}  // namespace

// Refreshes that show nothing new: a waiting row given a speed of 0 again after another row's
// speed repaints nothing; a refresh of every row, which ends on the row already selected,
// changes no selection.
TEST_F(TaskListDraw, ARepeatedZeroSpeedRepaintsNothing) {
    AddRows(2);
    m_window.Redraw();
    List().SetItemSpeed(0, 200.0f);
    ::ValidateRect(List().GetSafeHwnd(), nullptr);
    List().SetItemSpeed(1, 0.0f);
    EXPECT_FALSE(::GetUpdateRect(List().GetSafeHwnd(), nullptr, FALSE)) << "row 1's empty speed cell was rewritten";
}

TEST_F(TaskListDraw, ARefreshEndingOnTheSelectedRowChangesNoSelection) {
    AddRows(4);
    List().SetItemProgress(3, 0.0f);
    ASSERT_EQ(static_cast<UINT>(LVIS_SELECTED), List().GetItemState(3, LVIS_SELECTED));
    const int before = m_window.SelectionChanges();
    for (int row = 0; row < 4; ++row) {
        List().SetItemPhase(row, 0);
        List().SetItemProgress(row, 0.1f);
        List().SetItemSpeed(row, row == 0 ? 200.0f : 0.0f);
    }
    EXPECT_EQ(static_cast<UINT>(LVIS_SELECTED), List().GetItemState(3, LVIS_SELECTED));
    EXPECT_EQ(1, static_cast<int>(List().SendMessage(LVM_GETSELECTEDCOUNT)));
    EXPECT_EQ(before, m_window.SelectionChanges());
}
