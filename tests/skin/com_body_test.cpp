// The list header: its height from the background bitmap, the stretched backgrounds, the
// divider at each column's right edge, the overhang of the last column, and mode 0.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include "framework/gdi_handles.h"
#include "skin/com_body.h"
#include "skin/image.h"
#include "skin/skin_ids.h"
#include "tests/skin/dib_canvas.h"
#include "tests/skin/skin_window.h"
#include "tests/skin/updater_module.h"

namespace {

const COLORREF kBack = RGB(218, 221, 228);
const COLORREF kText = RGB(4, 73, 142);

class HeaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_module = LoadUpdaterAsData();
        ASSERT_TRUE(m_module.IsValid());
        INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES};
        ::InitCommonControlsEx(&controls);
        HWND header = ::CreateWindowExW(0, WC_HEADERW, L"", WS_CHILD | WS_VISIBLE | HDS_HORZ, 0, 0, 200, 30,
                                        m_window.Get(), nullptr, nullptr, nullptr);
        ASSERT_TRUE(m_header.SubclassWindow(header));
        for (int i = 0; i < 2; ++i) {
            wchar_t title[] = L"ab";
            HDITEMW item = {};
            item.mask = HDI_WIDTH | HDI_TEXT | HDI_FORMAT;
            item.cxy = 50;
            item.pszText = title;
            item.fmt = HDF_LEFT | HDF_STRING;
            m_header.SendMessage(HDM_INSERTITEMW, i, reinterpret_cast<LPARAM>(&item));
        }
        ASSERT_TRUE(m_back.LoadFromId(Instance(), IDB_HEADER_BACK));
        ASSERT_TRUE(m_divider.LoadFromId(Instance(), IDB_HEADER_DIVIDER));
    }
    HINSTANCE Instance() const { return reinterpret_cast<HINSTANCE>(m_module.Get()); }
    void Skin(int mode) {
        m_header.SetSkin(Instance(), IDB_HEADER_BACK, IDB_HEADER_BACK, kBack, kText, mode, IDB_HEADER_DIVIDER);
    }
    void Paint() { ::RedrawWindow(m_header.GetSafeHwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW); }
    COLORREF OnScreen(int x, int y) {
        ScopedGetDC dc(m_header.GetSafeHwnd());
        return ::GetPixel(dc.Get(), x, y);
    }
    WINDOWPOS Layout(RECT& area) {
        WINDOWPOS pos = {};
        HDLAYOUT layout = {&area, &pos};
        m_header.SendMessage(HDM_LAYOUT, 0, reinterpret_cast<LPARAM>(&layout));
        return pos;
    }

    ScopedModule m_module;
    SkinTestWindow m_window;
    CComBodyClass m_header;
    CImage m_back;
    CImage m_divider;
};

TEST_F(HeaderTest, LayoutTakesTheBackgroundsHeightOnceSkinned) {
    RECT area = {0, 0, 200, 100};
    const int defaultHeight = Layout(area).cy;
    Skin(CComBodyClass::kModeDivided);
    area = {0, 0, 200, 100};
    WINDOWPOS pos = Layout(area);
    EXPECT_EQ(23, pos.cy);
    EXPECT_EQ(23, area.top);
    EXPECT_NE(23, defaultHeight) << "the test needs a default height that differs";
}

TEST_F(HeaderTest, DividedModeStretchesBackgroundsAndDrawsDividers) {
    Skin(CComBodyClass::kModeDivided);
    ::SetWindowPos(m_header.GetSafeHwnd(), nullptr, 0, 0, 200, 23, SWP_NOZORDER | SWP_NOACTIVATE);
    Paint();
    // Column 0 from its left edge: the background's first pixel column, unscaled vertically.
    EXPECT_EQ(DibSectionPixel(m_back.GetHandle(), 0, 2), OnScreen(0, 2));
    // Divider at the right edge, inset one pixel from the top.
    EXPECT_EQ(DibSectionPixel(m_divider.GetHandle(), 0, 0), OnScreen(50 - 3, 1));
    EXPECT_EQ(DibSectionPixel(m_back.GetHandle(), 0, 0), OnScreen(50, 0));
    // The last column's background reaches 10 pixels beyond it; then the background colour.
    ASSERT_NE(kBack, DibSectionPixel(m_back.GetHandle(), 9, 2));
    EXPECT_NE(kBack, OnScreen(105, 2));
    EXPECT_EQ(kBack, OnScreen(115, 2));
    EXPECT_EQ(kBack, OnScreen(199, 20));
}

TEST_F(HeaderTest, AlternateModeLeavesOddColumnsToTheBackgroundColour) {
    Skin(CComBodyClass::kModeAlternate);
    ::SetWindowPos(m_header.GetSafeHwnd(), nullptr, 0, 0, 200, 23, SWP_NOZORDER | SWP_NOACTIVATE);
    Paint();
    EXPECT_EQ(DibSectionPixel(m_back.GetHandle(), 0, 2), OnScreen(2, 2));
    EXPECT_EQ(kBack, OnScreen(55, 2));
    // The separator line on the right edge of column 0 is drawn in the background colour.
    EXPECT_EQ(kBack, OnScreen(50, 5));
}

TEST_F(HeaderTest, TitlesAreCentredWhateverTheColumnFormat) {
    Skin(CComBodyClass::kModeAlternate);
    ::SetWindowPos(m_header.GetSafeHwnd(), nullptr, 0, 0, 200, 23, SWP_NOZORDER | SWP_NOACTIVATE);
    Paint();
    // Column 1 has no background in mode 0: its only non-background pixels are the title,
    // left-aligned by its format but drawn centred, so none lie in the left quarter.
    int left = 0, middle = 0;
    for (int y = 3; y < 20; ++y)
        for (int x = 52; x < 98; ++x) {
            if (OnScreen(x, y) == kBack) continue;
            (x < 62 ? left : middle)++;
        }
    EXPECT_EQ(0, left);
    EXPECT_GT(middle, 0);
}

}  // namespace
