// The skinned button: frame size and placement, hover and leave, press, disabled, and the
// keyed copy of DrawTo.
#include <windows.h>

#include <gtest/gtest.h>

#include "framework/gdi_handles.h"
#include "skin/image.h"
#include "skin/kv_button.h"
#include "skin/skin_ids.h"
#include "tests/skin/dib_canvas.h"
#include "tests/skin/skin_window.h"
#include "tests/skin/updater_module.h"

namespace {

constexpr int kButtonX = 50;
constexpr int kButtonY = 20;
constexpr DWORD kGrey = 0x00808080;

class KvButtonTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_module = LoadUpdaterAsData();
        ASSERT_TRUE(m_module.IsValid());
        ASSERT_NE(nullptr, m_window.Get());
        ASSERT_TRUE(m_button.Create("Caption", WS_CHILD | WS_VISIBLE, RECT{}, m_window.Get(), 7));
        m_button.LoadSkin(Instance(), IDB_CLOSE);
        m_button.SetPosition(kButtonX, kButtonY);
        ASSERT_TRUE(m_strip.LoadFromId(Instance(), IDB_CLOSE));
        ::SetCursorPos(0, 0);
        SkinTestWindow::Pump(30);
    }

    HINSTANCE Instance() const { return reinterpret_cast<HINSTANCE>(m_module.Get()); }

    // Puts the real cursor over the button (or far away) and tells the button, as the
    // system would.
    void MoveOver(int x = 10, int y = 10) {
        ::SetCursorPos(SkinTestWindow::kLeft + kButtonX + x, SkinTestWindow::kTop + kButtonY + y);
        POINT cursor{};
        ::GetCursorPos(&cursor);
        ASSERT_EQ(SkinTestWindow::kLeft + kButtonX + x, cursor.x);
        m_button.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(x, y));
    }

    // What the button's own window shows at (x, y).
    COLORREF OnScreen(int x, int y) {
        ScopedGetDC dc(m_button.GetSafeHwnd());
        return ::GetPixel(dc.Get(), x, y);
    }
    COLORREF InFrame(int frame, int x, int y) { return DibSectionPixel(m_strip.GetHandle(), frame * 36 + x, y); }
    void MoveAway() { ::SetCursorPos(SkinTestWindow::kLeft + 250, SkinTestWindow::kTop + 150); }

    DRAWITEMSTRUCT Item(UINT state) {
        DRAWITEMSTRUCT item{};
        item.CtlType = ODT_BUTTON;
        item.itemState = state;
        item.hwndItem = m_button.GetSafeHwnd();
        return item;
    }

    // The frame the button shows, read back through DrawTo.
    int ShownFrame() {
        DibCanvas target(36, 26, 32);
        ScopedCreateDC dc(::CreateCompatibleDC(nullptr));
        ScopedSelectObject select(dc.Get(), target.Get());
        m_button.DrawTo(dc.Get(), 0, 0);
        ::GdiFlush();
        for (int frame = 0; frame < 4; ++frame) {
            bool same = true;
            for (int y = 0; y < 26 && same; ++y)
                for (int x = 0; x < 35 && same; ++x)
                    same = target.Pixel(x, y) == DibSectionPixel(m_strip.GetHandle(), frame * 36 + x, y);
            if (same) return frame;
        }
        return -1;
    }

    ScopedModule m_module;
    SkinTestWindow m_window;
    KvButton m_button;
    CImage m_strip;
};

TEST_F(KvButtonTest, TakesTheSizeOfOneFrameAndIsOwnerDrawn) {
    EXPECT_EQ(36, m_button.FrameWidth());
    EXPECT_EQ(26, m_button.FrameHeight());
    RECT rect;
    ::GetWindowRect(m_button.GetSafeHwnd(), &rect);
    ::MapWindowPoints(nullptr, m_window.Get(), reinterpret_cast<POINT*>(&rect), 2);
    EXPECT_EQ(kButtonX, rect.left);
    EXPECT_EQ(kButtonY, rect.top);
    EXPECT_EQ(36, rect.right - rect.left);
    EXPECT_EQ(26, rect.bottom - rect.top);
    EXPECT_EQ(BS_OWNERDRAW, ::GetWindowLongW(m_button.GetSafeHwnd(), GWL_STYLE) & BS_TYPEMASK);

    // A strip that does not load keeps the frame size and the window as they were.
    m_button.LoadSkin(Instance(), 9999);
    EXPECT_EQ(36, m_button.FrameWidth());
    ::GetWindowRect(m_button.GetSafeHwnd(), &rect);
    EXPECT_EQ(36, rect.right - rect.left);
}

TEST_F(KvButtonTest, HoverShowsFrameOneAndLeavingShowsFrameZero) {
    EXPECT_EQ(KvButton::Normal, ShownFrame());
    MoveOver();
    EXPECT_TRUE(m_button.IsHovering());
    EXPECT_EQ(KvButton::Hover, m_button.GetState());
    EXPECT_EQ(1, ShownFrame());
    // At once, without waiting for a paint message.
    EXPECT_EQ(InFrame(1, 18, 3), OnScreen(18, 3));

    MoveAway();
    EXPECT_TRUE(SkinTestWindow::PumpUntil([&] { return !m_button.IsHovering(); }, 500));
    EXPECT_EQ(KvButton::Normal, m_button.GetState());
    EXPECT_EQ(0, ShownFrame());
    EXPECT_EQ(InFrame(0, 18, 3), OnScreen(18, 3));
}

TEST_F(KvButtonTest, AMoveArrivingAfterTheCursorLeftEndsThroughTheTimer) {
    MoveAway();
    m_button.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(10, 10));
    EXPECT_TRUE(m_button.IsHovering());
    EXPECT_TRUE(SkinTestWindow::PumpUntil([&] { return !m_button.IsHovering(); }, 500));
    EXPECT_EQ(KvButton::Normal, m_button.GetState());
}

TEST_F(KvButtonTest, PressedOnlyWithFocusAndTheLastPointInTheStrip) {
    MoveOver();
    EXPECT_EQ(KvButton::Hover, m_button.GetState());
    m_button.DrawItem(Item(ODS_FOCUS | ODS_SELECTED));
    EXPECT_EQ(KvButton::Pressed, m_button.GetState());
    EXPECT_EQ(2, ShownFrame());
    m_button.DrawItem(Item(ODS_SELECTED));  // no focus
    EXPECT_EQ(KvButton::Normal, m_button.GetState());
    m_button.DrawItem(Item(ODS_FOCUS));  // focus, hovering, not pressed
    EXPECT_EQ(KvButton::Hover, m_button.GetState());

    // The test is against the whole strip (144 pixels), not one frame.
    m_button.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(100, 5));
    m_button.DrawItem(Item(ODS_FOCUS | ODS_SELECTED));
    EXPECT_EQ(KvButton::Pressed, m_button.GetState());
    m_button.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(144, 5));
    m_button.DrawItem(Item(ODS_FOCUS | ODS_SELECTED));
    EXPECT_EQ(KvButton::Normal, m_button.GetState());

    m_button.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(10, 10));
    m_button.DrawItem(Item(ODS_FOCUS | ODS_SELECTED | ODS_DISABLED));
    EXPECT_EQ(KvButton::Disabled, m_button.GetState());
}

TEST_F(KvButtonTest, PressingTheRealButtonPaintsThePressedFrame) {
    MoveOver();
    ::SetFocus(m_button.GetSafeHwnd());
    m_button.SendMessage(BM_SETSTATE, TRUE, 0);
    EXPECT_TRUE(SkinTestWindow::PumpUntil([&] { return m_button.GetState() == KvButton::Pressed; }, 500));
    m_button.SendMessage(BM_SETSTATE, FALSE, 0);
    EXPECT_TRUE(SkinTestWindow::PumpUntil([&] { return m_button.GetState() == KvButton::Hover; }, 500));
}

TEST_F(KvButtonTest, DisabledKeepsFrameThreeWhenTheCursorComesAndGoes) {
    ::EnableWindow(m_button.GetSafeHwnd(), FALSE);
    EXPECT_TRUE(SkinTestWindow::PumpUntil([&] { return m_button.GetState() == KvButton::Disabled; }, 500));
    ::SetCursorPos(SkinTestWindow::kLeft + kButtonX + 10, SkinTestWindow::kTop + kButtonY + 10);
    SkinTestWindow::Pump(50);
    EXPECT_EQ(KvButton::Disabled, m_button.GetState());
    EXPECT_EQ(3, ShownFrame());
    MoveAway();
    SkinTestWindow::Pump(50);
    EXPECT_EQ(KvButton::Disabled, m_button.GetState());
}

TEST_F(KvButtonTest, LeavingAfterBeingDisabledWhileHoveredStaysDisabled) {
    MoveOver();
    ::EnableWindow(m_button.GetSafeHwnd(), FALSE);
    EXPECT_TRUE(SkinTestWindow::PumpUntil([&] { return m_button.GetState() == KvButton::Disabled; }, 500));
    MoveAway();
    EXPECT_TRUE(SkinTestWindow::PumpUntil([&] { return !m_button.IsHovering(); }, 500));
    EXPECT_EQ(KvButton::Disabled, m_button.GetState());
}

TEST_F(KvButtonTest, DrawToCopiesOnlyTheFramesNonKeyPixels) {
    DibCanvas target(60, 40, 32);
    target.FillRaw(kGrey);
    ScopedCreateDC dc(::CreateCompatibleDC(nullptr));
    ScopedSelectObject select(dc.Get(), target.Get());
    m_button.DrawTo(dc.Get(), 10, 5);
    ::GdiFlush();
    for (int y = 0; y < 40; ++y) {
        for (int x = 0; x < 60; ++x) {
            const bool inFrame = x >= 10 && x < 46 && y >= 5 && y < 31;
            COLORREF expected = kGrey;
            if (inFrame) {
                COLORREF source = DibSectionPixel(m_strip.GetHandle(), x - 10, y - 5);
                if (source != kSkinKeyColour) expected = source;
            }
            ASSERT_EQ(expected, target.Pixel(x, y)) << x << "," << y;
        }
    }
    EXPECT_EQ(kGrey, target.Pixel(45, 5));  // the frame's see-through corner
}

TEST(KvButtonWithoutStrip, ComposesNothing) {
    SkinTestWindow window;
    KvButton button;
    ASSERT_TRUE(button.Create("OK", WS_CHILD | WS_VISIBLE, RECT{0, 0, 50, 16}, window.Get(), IDOK));
    DibCanvas target(60, 20, 32);
    target.FillRaw(kGrey);
    ScopedCreateDC dc(::CreateCompatibleDC(nullptr));
    ScopedSelectObject select(dc.Get(), target.Get());
    button.DrawTo(dc.Get(), 0, 0);
    ::GdiFlush();
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 60; ++x) ASSERT_EQ(static_cast<COLORREF>(kGrey), target.Pixel(x, y));
    // Hovering a button with no strip does not start tracking.
    button.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
    EXPECT_FALSE(button.IsHovering());
}

}  // namespace
