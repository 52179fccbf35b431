// The built updater carries every skin bitmap at its size, in 24 bits, with the key colour
// only where something must show through.
#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "framework/gdi_handles.h"
#include "skin/skin_ids.h"
#include "tests/skin/dib_canvas.h"
#include "tests/skin/updater_module.h"

namespace {

struct SkinSize {
    unsigned id;
    int width;
    int height;
};

const SkinSize kSkins[] = {
    {IDB_HEADER_BACK, 10, 23},    {IDB_TITLE_BAR, 537, 35},    {IDB_CLOSE, 144, 26},
    {IDB_BAR, 135, 12},           {IDB_FILL_DOWNLOAD, 1, 12},  {IDB_MINIMISE, 112, 26},
    {IDB_BOTTOM_BAR, 537, 43},    {IDB_HEADER_DIVIDER, 2, 18}, {IDB_BORDER_LEFT, 3, 23},
    {IDB_BORDER_RIGHT, 3, 23},    {IDB_ROW_CANCEL, 60, 13},    {IDB_FILL_INSTALL, 1, 12},
    {IDB_ROW_ENTER, 60, 13},
};

// Pixels of a 24-bit DIB section, top row first.
std::vector<std::vector<COLORREF>> ReadPixels(HBITMAP bitmap) {
    BITMAP bm{};
    GetObjectW(bitmap, sizeof(bm), &bm);
    std::vector<std::vector<COLORREF>> rows(bm.bmHeight, std::vector<COLORREF>(bm.bmWidth));
    for (int y = 0; y < bm.bmHeight; ++y)
        for (int x = 0; x < bm.bmWidth; ++x) rows[y][x] = DibSectionPixel(bitmap, x, y);
    return rows;
}

ScopedBitmap LoadSkin(HMODULE module, unsigned id) {
    return ScopedBitmap(static_cast<HBITMAP>(
        LoadImageW(module, MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
}

TEST(SkinResources, EveryBitmapIsInTheProgramAtItsSizeIn24Bits) {
    ScopedModule module = LoadUpdaterAsData();
    ASSERT_TRUE(module.IsValid());
    for (const SkinSize& skin : kSkins) {
        SCOPED_TRACE(skin.id);
        auto bitmap = LoadSkin(module.Get(), skin.id);
        ASSERT_TRUE(bitmap.IsValid());
        DIBSECTION dib{};
        ASSERT_EQ(sizeof(dib), static_cast<size_t>(GetObjectW(bitmap.Get(), sizeof(dib), &dib)));
        EXPECT_EQ(skin.width, dib.dsBm.bmWidth);
        EXPECT_EQ(skin.height, dib.dsBm.bmHeight);
        EXPECT_EQ(24, dib.dsBm.bmBitsPixel);
        EXPECT_EQ(static_cast<DWORD>(BI_RGB), dib.dsBmih.biCompression);
    }
}

TEST(SkinResources, KeyColourOnlyWhereTheSkinMeansIt) {
    ScopedModule module = LoadUpdaterAsData();
    ASSERT_TRUE(module.IsValid());

    // Close strip: each frame lets the window's cut corner through at its top-right pixel.
    auto close = LoadSkin(module.Get(), IDB_CLOSE);
    ASSERT_TRUE(close.IsValid());
    auto pixels = ReadPixels(close.Get());
    for (int frame = 0; frame < 4; ++frame) {
        SCOPED_TRACE(frame);
        EXPECT_EQ(kSkinKeyColour, pixels[0][frame * 36 + 35]);
        EXPECT_NE(kSkinKeyColour, pixels[0][frame * 36 + 34]);
        EXPECT_NE(kSkinKeyColour, pixels[1][frame * 36 + 35]);
        EXPECT_NE(kSkinKeyColour, pixels[13][frame * 36 + 18]);
    }

    // Surfaces drawn with a plain copy must never carry the key: it would punch holes in
    // the composed row or dialog.
    for (unsigned id : {IDB_TITLE_BAR, IDB_BOTTOM_BAR, IDB_BAR, IDB_FILL_DOWNLOAD, IDB_FILL_INSTALL,
                        IDB_HEADER_BACK, IDB_HEADER_DIVIDER, IDB_BORDER_LEFT, IDB_BORDER_RIGHT}) {
        SCOPED_TRACE(id);
        auto bitmap = LoadSkin(module.Get(), id);
        ASSERT_TRUE(bitmap.IsValid());
        for (const auto& row : ReadPixels(bitmap.Get()))
            for (COLORREF c : row) ASSERT_NE(kSkinKeyColour, c);
    }
}

TEST(SkinResources, ButtonFramesDifferByState) {
    ScopedModule module = LoadUpdaterAsData();
    ASSERT_TRUE(module.IsValid());
    const struct {
        unsigned id;
        int frameWidth;
    } strips[] = {{IDB_CLOSE, 36}, {IDB_MINIMISE, 28}, {IDB_ROW_CANCEL, 15}, {IDB_ROW_ENTER, 15}};
    for (const auto& strip : strips) {
        SCOPED_TRACE(strip.id);
        auto bitmap = LoadSkin(module.Get(), strip.id);
        ASSERT_TRUE(bitmap.IsValid());
        auto pixels = ReadPixels(bitmap.Get());
        std::vector<std::vector<COLORREF>> frames(4);
        for (int f = 0; f < 4; ++f)
            for (const auto& row : pixels)
                frames[f].insert(frames[f].end(), row.begin() + f * strip.frameWidth,
                                 row.begin() + (f + 1) * strip.frameWidth);
        for (int a = 0; a < 4; ++a)
            for (int b = a + 1; b < 4; ++b) EXPECT_NE(frames[a], frames[b]) << a << " vs " << b;
    }
}

}  // namespace
