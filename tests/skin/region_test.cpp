// Regions made from key-coloured bitmaps: the runs found, their order and the buffer growth.
#include <windows.h>

#include <gtest/gtest.h>

#include "framework/gdi_handles.h"
#include "skin/region.h"
#include "skin/skin_ids.h"
#include "tests/skin/dib_canvas.h"

namespace {

constexpr DWORD kKey24 = 0x00FF00FF;  // magenta as a 24- or 32-bit pixel
constexpr DWORD kSolid24 = 0x00204080;

bool SameRect(const RECT& r, LONG left, LONG top, LONG right, LONG bottom) {
    return r.left == left && r.top == top && r.right == right && r.bottom == bottom;
}

// The region must cover exactly `expected`.
void ExpectRegionEquals(HRGN region, HRGN expected) {
    ASSERT_NE(nullptr, region);
    EXPECT_TRUE(EqualRgn(region, expected));
}

TEST(KeyInPixelFormat, MagentaIn565HasRedAndBlueBitsSetAndGreenClear) {
    EXPECT_EQ(0xF81Fu, KeyInPixelFormat(kSkinKeyColour, 16));
    EXPECT_EQ(0x00FF00FFu, KeyInPixelFormat(kSkinKeyColour, 24));
    EXPECT_EQ(0x00FF00FFu, KeyInPixelFormat(kSkinKeyColour, 32));
    // Colour order of a pixel, not of a COLORREF.
    EXPECT_EQ(0x00123456u, KeyInPixelFormat(RGB(0x12, 0x34, 0x56), 24));
    EXPECT_EQ(((0x12u >> 3) << 11) | ((0x34u >> 2) << 5) | (0x56u >> 3),
              KeyInPixelFormat(RGB(0x12, 0x34, 0x56), 16));
}

TEST(RegionFromBitmap, AllKeyGivesAnEmptyRegion) {
    DibCanvas canvas(8, 5, 24);
    canvas.FillRaw(kKey24);
    RegionRects rects = CollectSolidRuns(canvas.Get(), kSkinKeyColour);
    EXPECT_EQ(0u, rects.Count());
    EXPECT_EQ(5u, rects.capacity);  // room for one rectangle per row to start with

    ScopedRegion region(CreateRegionFromBitmap(canvas.Get(), kSkinKeyColour));
    ASSERT_TRUE(region.IsValid());
    RECT box;
    EXPECT_EQ(NULLREGION, GetRgnBox(region.Get(), &box));
}

TEST(RegionFromBitmap, UnreadableBitmapGivesAnEmptyRegion) {
    ScopedRegion region(CreateRegionFromBitmap(nullptr, kSkinKeyColour));
    ASSERT_TRUE(region.IsValid());
    RECT box;
    EXPECT_EQ(NULLREGION, GetRgnBox(region.Get(), &box));
}

TEST(RegionFromBitmap, RunsEndAtTheRowWidthAndAtTheFirstKeyPixel) {
    DibCanvas canvas(6, 4, 24);
    canvas.FillRaw(kKey24);
    canvas.SetRaw(5, 0, kSolid24);  // last pixel of a row
    for (int x = 0; x < 6; ++x) canvas.SetRaw(x, 1, kSolid24);  // a whole row
    canvas.SetRaw(0, 3, kSolid24);  // first pixel, then key
    canvas.SetRaw(2, 3, kSolid24);
    canvas.SetRaw(3, 3, kSolid24);

    RegionRects rects = CollectSolidRuns(canvas.Get(), kSkinKeyColour);
    ASSERT_EQ(4u, rects.Count());
    const RECT* r = rects.Rects();
    EXPECT_TRUE(SameRect(r[0], 5, 0, 6, 1));
    EXPECT_TRUE(SameRect(r[1], 0, 1, 6, 2));
    EXPECT_TRUE(SameRect(r[2], 0, 3, 1, 4));
    EXPECT_TRUE(SameRect(r[3], 2, 3, 4, 4));

    ScopedRegion region(CreateRegionFromBitmap(canvas.Get(), kSkinKeyColour));
    EXPECT_TRUE(PtInRegion(region.Get(), 5, 0));
    EXPECT_FALSE(PtInRegion(region.Get(), 4, 0));
    EXPECT_FALSE(PtInRegion(region.Get(), 6, 1));  // right edge is exclusive
    EXPECT_FALSE(PtInRegion(region.Get(), 0, 2));
    EXPECT_FALSE(PtInRegion(region.Get(), 1, 3));
    EXPECT_TRUE(PtInRegion(region.Get(), 3, 3));
}

TEST(RegionFromBitmap, OnePixelColumnGivesOneRectanglePerRowTopFirst) {
    const int height = 7;
    DibCanvas canvas(5, height, 24);
    canvas.FillRaw(kKey24);
    for (int y = 0; y < height; ++y) canvas.SetRaw(2, y, kSolid24);

    RegionRects rects = CollectSolidRuns(canvas.Get(), kSkinKeyColour);
    ASSERT_EQ(static_cast<DWORD>(height), rects.Count());
    EXPECT_EQ(static_cast<DWORD>(height), rects.capacity);  // exactly full, never grown
    for (int y = 0; y < height; ++y) EXPECT_TRUE(SameRect(rects.Rects()[y], 2, y, 3, y + 1)) << y;

    ScopedRegion region(CreateRegionFromBitmap(canvas.Get(), kSkinKeyColour));
    ScopedRegion expected(CreateRectRgn(2, 0, 3, height));
    ExpectRegionEquals(region.Get(), expected.Get());
}

TEST(RegionFromBitmap, ManyRunsGrowTheBufferBy40WithoutLosingRectangles) {
    // Every other pixel solid: 10 runs a row, 50 in all, against room for 5 at the start.
    DibCanvas canvas(20, 5, 24);
    canvas.FillRaw(kKey24);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 20; x += 2) canvas.SetRaw(x, y, kSolid24);

    RegionRects rects = CollectSolidRuns(canvas.Get(), kSkinKeyColour);
    ASSERT_EQ(50u, rects.Count());
    EXPECT_EQ(5u + 40u + 40u, rects.capacity);
    for (int i = 0; i < 50; ++i) {
        const int y = i / 10, x = (i % 10) * 2;
        EXPECT_TRUE(SameRect(rects.Rects()[i], x, y, x + 1, y + 1)) << i;
    }
    ScopedRegion region(CreateRegionFromBitmap(canvas.Get(), kSkinKeyColour));
    for (int x = 0; x < 20; ++x) EXPECT_EQ(x % 2 == 0, !!PtInRegion(region.Get(), x, 4)) << x;
}

TEST(RegionFromBitmap, SixteenBitsComparesTheKeyIn565Form) {
    DibCanvas canvas(4, 2, 16);
    canvas.FillRaw(0xF81F);        // magenta in 5-6-5
    canvas.SetRaw(1, 0, 0xF83F);   // one green step away: solid
    canvas.SetRaw(3, 1, 0x001F);   // blue

    RegionRects rects = CollectSolidRuns(canvas.Get(), kSkinKeyColour);
    ASSERT_EQ(2u, rects.Count());
    EXPECT_TRUE(SameRect(rects.Rects()[0], 1, 0, 2, 1));
    EXPECT_TRUE(SameRect(rects.Rects()[1], 3, 1, 4, 2));
}

TEST(RegionFromBitmap, EightBitsComparesTheColourTableEntry) {
    // Index 2 is magenta; index 0 is black, so an index is not mistaken for a colour.
    std::vector<RGBQUAD> palette = {{0, 0, 0, 0}, {255, 0, 0, 0}, {255, 0, 255, 0}};
    DibCanvas canvas(4, 2, 8, palette);
    canvas.FillRaw(2);
    canvas.SetRaw(0, 0, 0);
    canvas.SetRaw(1, 0, 1);
    canvas.SetRaw(3, 1, 1);

    RegionRects rects = CollectSolidRuns(canvas.Get(), kSkinKeyColour);
    ASSERT_EQ(2u, rects.Count());
    EXPECT_TRUE(SameRect(rects.Rects()[0], 0, 0, 2, 1));
    EXPECT_TRUE(SameRect(rects.Rects()[1], 3, 1, 4, 2));
}

TEST(RegionFromBitmap, ThirtyTwoBitsComparesTheWholeWord) {
    DibCanvas canvas(3, 1, 32);
    canvas.FillRaw(kKey24);
    canvas.SetRaw(1, 0, 0x01FF00FF);  // magenta with a fourth byte: not the key

    RegionRects rects = CollectSolidRuns(canvas.Get(), kSkinKeyColour);
    ASSERT_EQ(1u, rects.Count());
    EXPECT_TRUE(SameRect(rects.Rects()[0], 1, 0, 2, 1));
}

TEST(RegionFromBitmap, ScreenCompatibleBitmapAsTheControlsMakeThem) {
    // What a control composes off-screen: a screen-compatible bitmap filled with the key
    // and drawn on.
    ScopedGetDC screen(nullptr);
    ScopedBitmap bitmap(CreateCompatibleBitmap(screen.Get(), 30, 12));
    ScopedCreateDC memory(CreateCompatibleDC(screen.Get()));
    ASSERT_TRUE(bitmap.IsValid() && memory.IsValid());
    {
        ScopedSelectObject select(memory.Get(), bitmap.Get());
        ScopedBrush key(CreateSolidBrush(kSkinKeyColour));
        ScopedBrush ink(CreateSolidBrush(RGB(10, 20, 30)));
        RECT all = {0, 0, 30, 12}, glyph = {4, 3, 9, 10};
        FillRect(memory.Get(), &all, key.Get());
        FillRect(memory.Get(), &glyph, ink.Get());
    }
    ScopedRegion region(CreateRegionFromBitmap(bitmap.Get(), kSkinKeyColour));
    ScopedRegion expected(CreateRectRgn(4, 3, 9, 10));
    ExpectRegionEquals(region.Get(), expected.Get());
}

}  // namespace
