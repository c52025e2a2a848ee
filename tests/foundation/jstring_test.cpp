#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <limits>

#include "foundation/jstring.h"

namespace {

std::string text(JString s) {
    return s.c_str();
}

TEST(JString, ConstructionAndConcatenationOfTexts) {
    JString empty;
    EXPECT_EQ(empty.count, 1);
    EXPECT_STREQ(empty.c_str(), "");
    EXPECT_STREQ(JString(static_cast<const char*>(nullptr)).c_str(), "");

    JString joined = JString("abc") + JString("de");
    EXPECT_EQ(joined.count, 6);
    EXPECT_STREQ(joined.c_str(), "abcde");

    JString copy(joined);
    EXPECT_EQ(copy.count, 6);
    EXPECT_NE(copy.items, joined.items);

    JString assigned;
    assigned = JString("x") + JString("y");
    EXPECT_STREQ(assigned.c_str(), "xy");
}

TEST(JString, IntegersInDecimal) {
    EXPECT_EQ(text(JString("time:") + 0), "time:0");
    EXPECT_EQ(text(JString("x") + -42), "x-42");
    EXPECT_EQ(text(JString() + 123), "123");
    EXPECT_EQ(text(JString("n") + INT_MAX), "n2147483647");
    EXPECT_EQ(text(JString("n") + INT_MIN), "n-2147483648");
}

TEST(JString, FloatsWithThreeTruncatedDecimals) {
    EXPECT_EQ(text(JString("FPS:") + 59.94f), "FPS:59.939");
    EXPECT_EQ(text(JString("v") + -2.25f), "v-2.250");
    EXPECT_EQ(text(JString() + 1.5f), "1.500");
    EXPECT_EQ(text(JString() + 0.1f), "0.100");
    EXPECT_EQ(text(JString() + 3.14159f), "3.141");
    EXPECT_EQ(text(JString() + -0.5f), "-0.500");
    EXPECT_EQ(text(JString() + 0.0f), "0.000");
    EXPECT_EQ(text(JString() + 1e-05f), "0.000");
    EXPECT_EQ(text(JString() + 2147483520.0f), "2147483520.000");  // largest float below 2^31
}

TEST(JString, FloatsOutsideTheIntegerRange) {
    const float inf = std::numeric_limits<float>::infinity();
    EXPECT_EQ(text(JString("a") + inf), "ainf");
    EXPECT_EQ(text(JString("a") + -inf), "a-inf");
    EXPECT_EQ(text(JString("a") + std::nanf("")), "anan");
    EXPECT_EQ(text(JString() + 2147483648.0f), "2147483648");
    EXPECT_EQ(text(JString() + -3e9f), "-3000000000");
    EXPECT_EQ(text(JString() + std::numeric_limits<float>::max()),
              "340282346638528859811704183484516925440");
}

TEST(JString, FormatInteger) {
    char out[40];
    EXPECT_STREQ(formatInteger(255, out, 16), "ff");
    EXPECT_STREQ(formatInteger(5, out, 2), "101");
    EXPECT_STREQ(formatInteger(0, out, 99), "0");
    EXPECT_STREQ(formatInteger(INT_MAX, out, 2), "1111111111111111111111111111111");
    std::memset(out, 'z', sizeof out);
    EXPECT_EQ(formatInteger(7, out, 1), nullptr);
    EXPECT_EQ(formatInteger(7, out, 17), nullptr);
    EXPECT_EQ(formatInteger(-7, out, 10), nullptr);
    for (char c : out) EXPECT_EQ(c, 'z');
}

TEST(JString, NormalizeCutsAtTheFirstZeroAndDropsOverlongText) {
    JString s("abc");
    EXPECT_EQ(s.removeAt(-1), -1);
    EXPECT_EQ(s.removeAt(s.count), -1);
    EXPECT_EQ(s.count, 4);

    s.items[1] = 0;
    s.normalize();
    EXPECT_EQ(s.count, 2);
    EXPECT_STREQ(s.c_str(), "a");

    JString longText;
    longText.count = 0;
    for (int i = 0; i < 10000; ++i) longText.add('q');
    longText.normalize();
    EXPECT_EQ(longText.count, 0);
    EXPECT_STREQ(longText.c_str(), "");

    JString justFits;
    justFits.count = 0;
    for (int i = 0; i < 9999; ++i) justFits.add('q');
    EXPECT_EQ(std::strlen(justFits.c_str()), 9999u);
}

TEST(JString, AppendToItself) {
    JString s("ab");
    s.append(s);  // brings the terminator along: "ab\0ab\0", cut at the first zero
    EXPECT_EQ(s.count, 6);
    EXPECT_STREQ(s.c_str(), "ab");
}

}  // namespace
