#include "Tools.h"

#include <gtest/gtest.h>

TEST(Tools, TextBeforeAndAfterNeedTheSeparator) {
    EXPECT_EQ(TextBefore("abc", ','), "");
    EXPECT_EQ(TextAfter("abc", ','), "");
    EXPECT_EQ(TextBefore(",abc", ','), "");
    EXPECT_EQ(TextAfter(",abc", ','), "abc");
    EXPECT_EQ(TextBefore("a,b,c", ','), "a");
    EXPECT_EQ(TextAfter("a,b,c", ','), "b,c");
}

TEST(Tools, GetFieldCountsEmptyFieldsAndStopsAtTheEnd) {
    EXPECT_EQ(GetField("a;;b", ';', 1), "a");
    EXPECT_EQ(GetField("a;;b", ';', 2), "");
    EXPECT_EQ(GetField("a;;b", ';', 3), "b");
    EXPECT_EQ(GetField("a;;b", ';', 4), "");
    EXPECT_EQ(GetField("a;;b", ';', 255), "");
    EXPECT_EQ(GetField("a;;b", ';', 0), "");
    EXPECT_EQ(GetField("", ';', 1), "");
    // The review demand's error_info: text, process number, reviewer.
    EXPECT_EQ(GetField("需要复核,1234,1002", ',', 2), "1234");
    EXPECT_EQ(GetField("需要复核,1234,1002", ',', 3), "1002");
    EXPECT_EQ(GetField("需要复核", ',', 2), "");
}

TEST(Tools, RepeatAndPad) {
    EXPECT_EQ(RepeatText(-1, "ab"), "");
    EXPECT_EQ(RepeatText(0, "ab"), "");
    EXPECT_EQ(RepeatText(3, "ab"), "ababab");
    EXPECT_EQ(PadLeft("12", "0", 5), "00012");
    EXPECT_EQ(PadLeft("  12", "0", 5), "000  12"); // blanks kept, not counted
    EXPECT_EQ(PadLeft("12345", "0", 3), "12345");
    EXPECT_EQ(PadLeft("12", "0", -4), "12");
    // Width counts characters: two Chinese characters are two, not six.
    EXPECT_EQ(PadLeft("张三", "*", 4), "**张三");
}

TEST(Tools, FirstCharAndIfText) {
    EXPECT_EQ(FirstChar(""), '\0');
    EXPECT_EQ(FirstChar("0abc"), '0');
    EXPECT_EQ(FirstChar("张"), '?');
    EXPECT_EQ(IfText(true, "a", "b"), "a");
    EXPECT_EQ(IfText(false, "a", "b"), "b");
}

TEST(Tools, VariantToTextCutsAtTheFirstNul) {
    EXPECT_EQ(VariantToText(Variant(std::string("12\0"
                                                "34",
                                                5))),
              "12");
    EXPECT_EQ(VariantToText(Variant::fromBytes(std::string("\0x", 2))), "");
    EXPECT_EQ(VariantToText(Variant(std::int64_t{8})), "8");
    EXPECT_EQ(VariantToText(Variant()), "");
}

TEST(Tools, NormalizeAccountInputByExchange) {
    EXPECT_EQ(NormalizeAccountInput(0, "123", "1", '5'), "A000000123");
    EXPECT_EQ(NormalizeAccountInput(0, "", "1", '5'), "A000000000");
    EXPECT_EQ(NormalizeAccountInput(0, "123", "2", '5'), "0000000123");
    EXPECT_EQ(NormalizeAccountInput(0, "123", "D", '5'), "C000000123");
    EXPECT_EQ(NormalizeAccountInput(0, "123", "H", '5'), "00000123");
    EXPECT_EQ(NormalizeAccountInput(0, "123", "F1", '5'), "123");
    EXPECT_EQ(NormalizeAccountInput(0, "123", "", '5'), "123");
}

TEST(Tools, NormalizeAccountInputByWidth) {
    EXPECT_EQ(NormalizeAccountInput(10, "4567", "", '2'), "0000004567");
    EXPECT_EQ(NormalizeAccountInput(10, " 4567 ", "", '2'), "0000004567");
    EXPECT_EQ(NormalizeAccountInput(7, "4567", "", '2'), "4567");
    EXPECT_EQ(NormalizeAccountInput(0, "4567", "", '2'), "4567");
    EXPECT_EQ(NormalizeAccountInput(10, "4567", "1", '1'), "4567");
    // Eight characters or more are never changed; seven are.
    EXPECT_EQ(NormalizeAccountInput(10, "12345678", "", '2'), "12345678");
    EXPECT_EQ(NormalizeAccountInput(10, "1234567", "", '2'), "0001234567");
    EXPECT_EQ(NormalizeAccountInput(10, "张三李四王五赵六", "1", '5'), "张三李四王五赵六");
}

TEST(Tools, CutToCapacityNeverSplitsACharacter) {
    EXPECT_EQ(CutToCapacity("abcdef", 4), "abcd");
    EXPECT_EQ(CutToCapacity("ab", 4), "ab");
    // "张" is three bytes: a capacity of 4 or 5 keeps only the first.
    EXPECT_EQ(CutToCapacity("张三", 4), "张");
    EXPECT_EQ(CutToCapacity("张三", 5), "张");
    EXPECT_EQ(CutToCapacity("张三", 6), "张三");
    EXPECT_EQ(CutToCapacity("张", 2), "");
    EXPECT_EQ(CharLength("a张b"), 3u);
    EXPECT_EQ(Trim(std::string("\t a b\r\n\0", 8)), "a b");
}
