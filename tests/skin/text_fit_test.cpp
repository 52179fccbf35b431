// Shortening GBK text to a line without cutting a double-byte character in half.
#include <gtest/gtest.h>

#include <string>

#include "skin/text_fit.h"

namespace {

// "中文" in GBK: two characters, every byte with the high bit set.
const std::string kTwoChinese = "\xD6\xD0\xCE\xC4";

TEST(CountTrailingHighBytes, CountsBackFromTheGivenIndexToTheFirstLowByte) {
    EXPECT_EQ(0, CountTrailingHighBytes("", 0));
    EXPECT_EQ(0, CountTrailingHighBytes("abc", -1));
    EXPECT_EQ(0, CountTrailingHighBytes("abc", 2));
    EXPECT_EQ(4, CountTrailingHighBytes("ab" + kTwoChinese, 5));
    EXPECT_EQ(3, CountTrailingHighBytes("ab" + kTwoChinese, 4));
    EXPECT_EQ(0, CountTrailingHighBytes(kTwoChinese + "x", 4));
    EXPECT_EQ(4, CountTrailingHighBytes(kTwoChinese, 3));  // runs to the start of the text
    EXPECT_EQ(1, CountTrailingHighBytes("\x80", 0));       // 0x80 counts as high
    EXPECT_EQ(0, CountTrailingHighBytes("\x7F", 0));
}

// A control 120 pixels wide with the 12-pixel skin font fits 10 double-byte characters.
constexpr int kFitAt120Pixels = 10;

TEST(FitText, ShortTextIsDrawnWhole) {
    const std::string nineteen(19, 'a');
    EXPECT_EQ(nineteen, FitText(nineteen, kFitAt120Pixels));
    EXPECT_EQ("", FitText("", kFitAt120Pixels));
}

TEST(FitText, LongTextKeepsFourteenBytesAndAnEllipsis) {
    const std::string twenty = "abcdefghijklmnopqrst";
    EXPECT_EQ("abcdefghijklmn...", FitText(twenty, kFitAt120Pixels));
    // Seven whole characters: nothing to drop.
    std::string chinese;
    for (int i = 0; i < 5; ++i) chinese += kTwoChinese;
    EXPECT_EQ(chinese.substr(0, 14) + "...", FitText(chinese, kFitAt120Pixels));
}

TEST(FitText, ALeadByteCutFromItsTrailByteIsDropped) {
    // Byte 14 is the lead byte of the first Chinese character.
    const std::string text = std::string("abcdefghijklm") + kTwoChinese + "xyz";
    ASSERT_EQ(20u, text.size());
    EXPECT_EQ("abcdefghijklm...", FitText(text, kFitAt120Pixels));
    // One more ASCII byte in front: byte 14 is now a trail byte, the whole character stays.
    const std::string shifted = std::string("abcdefghijkl") + kTwoChinese + "xyzw";
    EXPECT_EQ(std::string("abcdefghijkl") + "\xD6\xD0" + "...", FitText(shifted, kFitAt120Pixels));
}

TEST(FitText, NarrowControlsKeepTheWholeTextBeforeTheEllipsis) {
    // Below three characters the count to keep is negative: all of it is kept.
    EXPECT_EQ("abcdef...", FitText("abcdef", 2));
    EXPECT_EQ("abc...", FitText("abc\xD6", 1));  // a dangling lead byte still goes
    EXPECT_EQ("ab" + kTwoChinese + "...", FitText("ab" + kTwoChinese, 2));
}

}  // namespace
