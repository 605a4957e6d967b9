#include "Variant.h"

#include <gtest/gtest.h>

TEST(Variant, TextOfEveryKind) {
    EXPECT_EQ(Variant().toText(), "");
    EXPECT_EQ(Variant(std::int64_t{-42}).toText(), "-42");
    EXPECT_EQ(Variant(0.1).toText(), "0.1");
    EXPECT_EQ(Variant(1e20).toText(), "1e+20");
    EXPECT_EQ(Variant(std::string("a\0b", 3)).toText(), std::string("a\0b", 3));
    EXPECT_EQ(Variant::fromBytes("xy").toText(), "xy");
}

TEST(Variant, IntegerConversionAcceptsOnlyIntegers) {
    EXPECT_EQ(Variant().toInteger(), 0);
    EXPECT_EQ(Variant("  -17 ").toInteger(), -17);
    EXPECT_EQ(Variant("+8").toInteger(), 8);
    EXPECT_EQ(Variant(2.5).toInteger(), 2); // to nearest, ties to even
    EXPECT_EQ(Variant(3.5).toInteger(), 4);
    for (const char* bad : {"", " ", "12a", "1.5", "0x10", "--1", "99999999999999999999"})
        EXPECT_THROW(Variant(bad).toInteger(), EConvertError) << bad;
    EXPECT_THROW(Variant::fromBytes("12").toInteger(), EConvertError);
    EXPECT_THROW(Variant(1e300).toInteger(), EConvertError);
    EXPECT_THROW(Variant(std::int64_t{1} << 40).toInt32(), EConvertError);
    EXPECT_EQ(Variant("-2147483648").toInt32(), -2147483648LL);
}

TEST(Variant, RealConversion) {
    EXPECT_DOUBLE_EQ(Variant("0.35").toReal(), 0.35);
    EXPECT_DOUBLE_EQ(Variant(std::int64_t{3}).toReal(), 3.0);
    EXPECT_THROW(Variant("0,35").toReal(), EConvertError);
    EXPECT_THROW(Variant("nan").toReal(), EConvertError);
}

TEST(Variant, KindsCompareByValueAndKind) {
    EXPECT_EQ(Variant("1"), Variant(std::string("1")));
    EXPECT_NE(Variant("1"), Variant(std::int64_t{1}));
    EXPECT_NE(Variant("1"), Variant::fromBytes("1"));
}
