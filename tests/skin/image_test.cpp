// The image object: loading from the program's resources, the four draw forms, emptying,
// and the pool of draw DCs.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>

#include "framework/gdi_handles.h"
#include "skin/dc_pool.h"
#include "skin/image.h"
#include "skin/skin_ids.h"
#include "tests/skin/dib_canvas.h"
#include "tests/skin/updater_module.h"

namespace {

constexpr COLORREF kPaper = RGB(255, 255, 255);

class ImageTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_module = LoadUpdaterAsData();
        ASSERT_TRUE(m_module.IsValid());
        m_dc.Reset(CreateCompatibleDC(nullptr));
        m_select = std::make_unique<ScopedSelectObject>(m_dc.Get(), m_target.Get());
        // Plain pixel replication, so stretched pixels can be predicted.
        SetStretchBltMode(m_dc.Get(), COLORONCOLOR);
        for (int y = 0; y < m_target.Height(); ++y)
            for (int x = 0; x < m_target.Width(); ++x) m_target.SetRaw(x, y, 0x00FFFFFF);
    }
    void TearDown() override { m_select.reset(); }

    // The reference pixels: the same resource read straight from its DIB section.
    COLORREF Source(const CImage& image, int x, int y) { return DibSectionPixel(image.GetHandle(), x, y); }

    ScopedModule m_module;
    DibCanvas m_target{64, 64, 32};
    ScopedCreateDC m_dc;
    std::unique_ptr<ScopedSelectObject> m_select;
};

TEST_F(ImageTest, LoadsAResourceAndRecordsItsSize) {
    CImage image;
    EXPECT_TRUE(image.IsEmpty());
    EXPECT_EQ(0, image.Width());
    ASSERT_TRUE(image.LoadFromId(reinterpret_cast<HINSTANCE>(m_module.Get()), IDB_HEADER_BACK));
    EXPECT_FALSE(image.IsEmpty());
    EXPECT_EQ(10, image.Width());
    EXPECT_EQ(23, image.Height());

    // Loading again replaces the bitmap; a missing resource leaves the image empty.
    ASSERT_TRUE(image.LoadFromId(reinterpret_cast<HINSTANCE>(m_module.Get()), IDB_CLOSE));
    EXPECT_EQ(144, image.Width());
    EXPECT_FALSE(image.LoadFromId(reinterpret_cast<HINSTANCE>(m_module.Get()), 9999));
    EXPECT_TRUE(image.IsEmpty());
    EXPECT_EQ(0, image.Width());
    EXPECT_EQ(0, image.Height());
}

TEST_F(ImageTest, ClearEmptiesTheImageAndDrawThenDoesNothing) {
    CImage image;
    ASSERT_TRUE(image.LoadFromId(reinterpret_cast<HINSTANCE>(m_module.Get()), IDB_HEADER_BACK));
    image.Clear();
    EXPECT_TRUE(image.IsEmpty());
    EXPECT_EQ(0, image.Width());
    EXPECT_EQ(0, image.Height());
    EXPECT_EQ(0, image.Draw(m_dc.Get(), 0, 0));
    GdiFlush();
    EXPECT_EQ(kPaper, m_target.Pixel(0, 0));
}

TEST_F(ImageTest, NullDcDrawsNothing) {
    CImage image;
    ASSERT_TRUE(image.LoadFromId(reinterpret_cast<HINSTANCE>(m_module.Get()), IDB_HEADER_BACK));
    EXPECT_EQ(0, image.Draw(nullptr, 0, 0));
    EXPECT_EQ(0, image.Draw(nullptr, RECT{0, 0, 5, 5}));
}

TEST_F(ImageTest, DrawAtAPositionCoversExactlyTheImageSize) {
    CImage image;
    ASSERT_TRUE(image.LoadFromId(reinterpret_cast<HINSTANCE>(m_module.Get()), IDB_HEADER_BACK));
    ASSERT_NE(0, image.Draw(m_dc.Get(), 5, 7));
    GdiFlush();
    for (int y = 0; y < 23; ++y)
        for (int x = 0; x < 10; ++x) ASSERT_EQ(Source(image, x, y), m_target.Pixel(5 + x, 7 + y)) << x << "," << y;
    EXPECT_EQ(kPaper, m_target.Pixel(4, 7));
    EXPECT_EQ(kPaper, m_target.Pixel(15, 7));
    EXPECT_EQ(kPaper, m_target.Pixel(5, 6));
    EXPECT_EQ(kPaper, m_target.Pixel(5, 30));
}

TEST_F(ImageTest, DrawOntoARectangleStretches) {
    CImage image;
    ASSERT_TRUE(image.LoadFromId(reinterpret_cast<HINSTANCE>(m_module.Get()), IDB_HEADER_BACK));
    ASSERT_NE(0, image.Draw(m_dc.Get(), RECT{0, 0, 20, 46}));
    GdiFlush();
    for (int y = 0; y < 46; ++y)
        for (int x = 0; x < 20; ++x) ASSERT_EQ(Source(image, x / 2, y / 2), m_target.Pixel(x, y)) << x << "," << y;
    EXPECT_EQ(kPaper, m_target.Pixel(20, 0));
    EXPECT_EQ(kPaper, m_target.Pixel(0, 46));
}

TEST_F(ImageTest, DrawOfASourceRectangleTakesOneFrame) {
    CImage strip;
    ASSERT_TRUE(strip.LoadFromId(reinterpret_cast<HINSTANCE>(m_module.Get()), IDB_CLOSE));
    // Frame 2 (pressed) of the close strip, at its own size.
    ASSERT_NE(0, strip.Draw(m_dc.Get(), RECT{1, 2, 37, 28}, RECT{72, 0, 108, 26}));
    GdiFlush();
    for (int y = 0; y < 26; ++y)
        for (int x = 0; x < 36; ++x) ASSERT_EQ(Source(strip, 72 + x, y), m_target.Pixel(1 + x, 2 + y)) << x << "," << y;
    EXPECT_EQ(kSkinKeyColour, m_target.Pixel(36, 2));  // the frame's see-through corner
    EXPECT_EQ(kPaper, m_target.Pixel(37, 2));
    EXPECT_EQ(kPaper, m_target.Pixel(1, 28));
}

TEST_F(ImageTest, ManyDrawsOfManyImagesStayCorrect) {
    // Images borrow and return pool DCs; a DC must come back with no bitmap left in it.
    CImage a, b;
    ASSERT_TRUE(a.LoadFromId(reinterpret_cast<HINSTANCE>(m_module.Get()), IDB_FILL_DOWNLOAD));
    ASSERT_TRUE(b.LoadFromId(reinterpret_cast<HINSTANCE>(m_module.Get()), IDB_FILL_INSTALL));
    for (int i = 0; i < 50; ++i) {
        ASSERT_NE(0, a.Draw(m_dc.Get(), i, 0));
        ASSERT_NE(0, b.Draw(m_dc.Get(), i, 20));
    }
    a.Clear();  // the bitmap is deletable: it is not left selected in a pool DC
    GdiFlush();
    EXPECT_EQ(Source(b, 0, 5), m_target.Pixel(49, 25));
    EXPECT_NE(Source(b, 0, 5), m_target.Pixel(49, 5));
}

TEST(DcPool, KeepsFourDcsAndDeletesTheOneCarriedPastTheLastSlot) {
    // Empty the pool whatever it held.
    HDC held[skin::kDcPoolSlots];
    for (HDC& hdc : held) {
        hdc = skin::BorrowDrawDc();
        ASSERT_NE(nullptr, hdc);
    }
    HDC extra = CreateCompatibleDC(nullptr);
    for (HDC hdc : held) skin::ReturnDrawDc(hdc);
    skin::ReturnDrawDc(extra);
    // Returns push earlier DCs along: the first one returned fell out and was deleted.
    EXPECT_EQ(0u, GetObjectType(held[0]));
    // Borrowing takes the slots in order: the last returned first.
    HDC again[skin::kDcPoolSlots];
    for (HDC& hdc : again) hdc = skin::BorrowDrawDc();
    EXPECT_EQ(extra, again[0]);
    EXPECT_EQ(held[3], again[1]);
    EXPECT_EQ(held[2], again[2]);
    EXPECT_EQ(held[1], again[3]);
    // With every slot empty a new DC is made.
    HDC fresh = skin::BorrowDrawDc();
    EXPECT_NE(nullptr, fresh);
    EXPECT_EQ(static_cast<DWORD>(OBJ_MEMDC), GetObjectType(fresh));
    skin::ReturnDrawDc(fresh);
    for (HDC hdc : again) skin::ReturnDrawDc(hdc);
}

}  // namespace
