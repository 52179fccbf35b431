// The cheap keyed copy must show exactly what a transparent blit on the key colour shows.
#include <windows.h>

#include <gtest/gtest.h>

#include "framework/gdi_handles.h"
#include "skin/keyed_copy.h"
#include "skin/offscreen.h"
#include "skin/skin_ids.h"

namespace {

constexpr int kWidth = 12;
constexpr int kHeight = 6;

// Key pixels among black, white, a near-key colour and ordinary colours.
COLORREF Pattern(int x, int y) {
    switch ((x + 3 * y) % 6) {
    case 0:
    case 3:
        return kSkinKeyColour;
    case 1:
        return RGB(0, 0, 0);
    case 2:
        return RGB(254, 0, 255);
    case 4:
        return RGB(255, 255, 255);
    default:
        return RGB(20 * x, 40 * y, 100);
    }
}

COLORREF Background(int x, int y) { return RGB(7 * x, 11 * y, 200 - 5 * x); }

class KeyedCopyTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_screen = ::GetDC(nullptr);
        ASSERT_NE(nullptr, m_screen);
    }
    void TearDown() override { ::ReleaseDC(nullptr, m_screen); }

    void Paint(COffscreen& surface) {
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) ::SetPixel(surface.Dc(), x, y, Pattern(x, y));
    }
    static void PaintBackground(COffscreen& target) {
        for (int y = 0; y < target.Height(); ++y)
            for (int x = 0; x < target.Width(); ++x) ::SetPixel(target.Dc(), x, y, Background(x, y));
    }

    HDC m_screen = nullptr;
};

TEST_F(KeyedCopyTest, ShowsWhatATransparentBlitShowsAtAnyOffset) {
    COffscreen reference(m_screen, 20, 10);
    COffscreen fast(m_screen, 20, 10);
    COffscreen surface(m_screen, kWidth, kHeight);
    ASSERT_TRUE(reference.IsValid() && fast.IsValid() && surface.IsValid());
    PaintBackground(reference);
    PaintBackground(fast);
    Paint(surface);
    ASSERT_TRUE(surface.CopyKeyed(reference.Dc(), 3, 2));

    CKeyedCopy copy(surface);
    ASSERT_TRUE(copy.IsValid());
    ASSERT_TRUE(copy.CopyTo(fast.Dc(), 3, 2));
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 20; ++x)
            ASSERT_EQ(::GetPixel(reference.Dc(), x, y), ::GetPixel(fast.Dc(), x, y)) << "at " << x << "," << y;

    // Copied again, it shows the same: the mask and the surface are kept as they were.
    PaintBackground(fast);
    ASSERT_TRUE(copy.CopyTo(fast.Dc(), 3, 2));
    EXPECT_EQ(::GetPixel(reference.Dc(), 4, 2), ::GetPixel(fast.Dc(), 4, 2));
    EXPECT_EQ(Background(3, 2), ::GetPixel(fast.Dc(), 3, 2)) << "a key pixel leaves the target";
}

TEST_F(KeyedCopyTest, LeavesTheTargetsTextAndBackgroundColours) {
    COffscreen target(m_screen, 20, 10);
    COffscreen surface(m_screen, kWidth, kHeight);
    Paint(surface);
    ::SetTextColor(target.Dc(), RGB(1, 2, 3));
    ::SetBkColor(target.Dc(), RGB(4, 5, 6));
    CKeyedCopy copy(surface);
    ASSERT_TRUE(copy.CopyTo(target.Dc(), 0, 0));
    EXPECT_EQ(RGB(1, 2, 3), ::GetTextColor(target.Dc()));
    EXPECT_EQ(RGB(4, 5, 6), ::GetBkColor(target.Dc()));
}

TEST_F(KeyedCopyTest, AnInvalidSurfaceCopiesNothing) {
    COffscreen empty(m_screen, 0, 0);
    CKeyedCopy copy(empty);
    EXPECT_FALSE(copy.IsValid());
    COffscreen target(m_screen, 4, 4);
    EXPECT_FALSE(copy.CopyTo(target.Dc(), 0, 0));
}

}  // namespace
