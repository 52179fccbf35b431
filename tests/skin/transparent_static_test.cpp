// The transparent static: its first paint shapes the window to the drawn glyphs.
#include <windows.h>

#include <gtest/gtest.h>

#include "framework/gdi_handles.h"
#include "skin/transparent_static.h"
#include "tests/skin/skin_window.h"

namespace {

class TransparentStaticTest : public ::testing::Test {
protected:
    void Create(int width, int height) {
        HWND hwnd = ::CreateWindowExW(0, L"STATIC", L"静态", WS_CHILD | SS_LEFT, 10, 10, width, height,
                                      m_window.Get(), nullptr, nullptr, nullptr);
        ASSERT_NE(nullptr, hwnd);
        ASSERT_TRUE(m_static.SubclassWindow(hwnd));
    }
    void ShowAndPaint() {
        m_static.ShowWindow(SW_SHOW);
        ::UpdateWindow(m_static.GetSafeHwnd());
        SkinTestWindow::PumpUntil([&] { return !m_static.IsRegionPending(); }, 1000);
    }
    // The window's region type and bounds.
    int RegionOf(RECT* box) {
        ScopedRegion region(::CreateRectRgn(0, 0, 0, 0));
        if (::GetWindowRgn(m_static.GetSafeHwnd(), region.Get()) == ERROR) return ERROR;
        return ::GetRgnBox(region.Get(), box);
    }

    SkinTestWindow m_window;
    CTransparentStatic m_static;
};

TEST_F(TransparentStaticTest, EmptyTextLeavesAnEmptyRegionAndShowsNothing) {
    Create(34, 16);
    ShowAndPaint();
    EXPECT_FALSE(m_static.IsRegionPending());
    EXPECT_EQ(12, m_static.LineHeight());
    RECT box;
    EXPECT_EQ(NULLREGION, RegionOf(&box));
}

TEST_F(TransparentStaticTest, RegionCoversTheDrawnTextOnly) {
    Create(120, 20);
    m_static.SetText("WWWW");
    m_static.SetFormat(DT_LEFT | DT_SINGLELINE);
    ShowAndPaint();
    RECT box{};
    int type = RegionOf(&box);
    EXPECT_TRUE(type == SIMPLEREGION || type == COMPLEXREGION) << type;
    // Glyphs of four characters start at the left and stay well short of the right edge.
    EXPECT_LT(box.left, 4);
    EXPECT_GT(box.right, 8);
    EXPECT_LT(box.right, 60);
    EXPECT_GE(box.top, 0);
    EXPECT_LE(box.bottom, 20);
}

TEST_F(TransparentStaticTest, TheRegionIsMadeOnceAtTheFirstPaint) {
    Create(120, 20);
    ShowAndPaint();
    // Text set afterwards is painted, but the window keeps its empty shape.
    m_static.SetText("WWWW");
    ::InvalidateRect(m_static.GetSafeHwnd(), nullptr, TRUE);
    ::UpdateWindow(m_static.GetSafeHwnd());
    RECT box;
    EXPECT_EQ(NULLREGION, RegionOf(&box));
}

}  // namespace
