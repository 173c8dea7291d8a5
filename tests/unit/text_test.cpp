#include <gtest/gtest.h>

#include "platform/fixed_text.h"
#include "platform/text.h"

namespace kvn {

TEST(Text, Utf8RoundTripKeepsChineseAndSupplementaryCharacters) {
    const WString text = u"游戏/Korvane安装程序 \U0001F3AE";
    EXPECT_EQ(fromUtf8(toUtf8(text)), text);
    EXPECT_EQ(toUtf8(u"卸载"), "\xE5\x8D\xB8\xE8\xBD\xBD");
    EXPECT_EQ(fromUtf8("\xFF"), WString(1, char16_t(0xFFFD)));
    // Overlong forms, encoded surrogates and values past U+10FFFF are not
    // characters: each of their bytes reads as U+FFFD.
    EXPECT_EQ(fromUtf8("\xC0\xA0/"), WString(u"\uFFFD\uFFFD/"));
    EXPECT_EQ(fromUtf8("\xE0\x80\xAF"), WString(3, char16_t(0xFFFD)));
    EXPECT_EQ(fromUtf8("\xED\xA0\x80"), WString(3, char16_t(0xFFFD)));
    EXPECT_EQ(fromUtf8("\xF4\x90\x80\x80"), WString(4, char16_t(0xFFFD)));
    EXPECT_EQ(fromUtf8("\xF4\x8F\xBF\xBF"), WString(u"\U0010FFFF"));
}

TEST(Text, ParseDecimalFollowsTheCConversion) {
    EXPECT_EQ(parseDecimal(u"  120abc"), 120);
    EXPECT_EQ(parseDecimal(u"-7"), -7);
    EXPECT_EQ(parseDecimal(u"+5"), 5);
    EXPECT_EQ(parseDecimal(u"x12"), 0);
    EXPECT_EQ(parseDecimal(u""), 0);
    EXPECT_EQ(parseDecimal("99999999999"), 2147483647);
}

TEST(Text, FormatSReplacesInOrder) {
    EXPECT_EQ(formatS(u"%s/7zr.exe x -r %s/KVNClient.7z -y", {u"D:\\Korvanis", u"D:\\Korvanis"}),
              u"D:\\Korvanis/7zr.exe x -r D:\\Korvanis/KVNClient.7z -y");
}

TEST(FixedText, RefusesATextThatDoesNotFitAndKeepsTheOldOne) {
    FixedText<4> buffer;
    EXPECT_TRUE(buffer.assign(u"abc"));
    EXPECT_FALSE(buffer.assign(u"abcd"));
    EXPECT_EQ(buffer.str(), u"abc");
}

}  // namespace kvn
