#include "backend/recording/trace_format.h"

#include <gtest/gtest.h>

#include "backend/platform_constants.h"

TEST(TraceFormat, FloatsKeepNineSignificantDigitsInTheirShortestForm) {
    EXPECT_EQ(formatFloat(1.0f), "1");
    EXPECT_EQ(formatFloat(-1.0f), "-1");
    EXPECT_EQ(formatFloat(0.0f), "0");
    EXPECT_EQ(formatFloat(-0.0f), "-0");
    EXPECT_EQ(formatFloat(0.1f), "0.100000001");
    EXPECT_EQ(formatFloat(0.7853982f), "0.785398185");
    EXPECT_EQ(formatFloat(1.3333334f), "1.33333337");
    EXPECT_EQ(formatFloat(10000.0f), "10000");
    EXPECT_EQ(formatFloat(123456789.0f), "123456792");
    EXPECT_EQ(formatFloat(1234567890.0f), "1.23456794e+09");
    EXPECT_EQ(formatFloat(0.0001f), "9.99999975e-05");
}

TEST(TraceFormat, ColoursResultsAndTexts) {
    EXPECT_EQ(formatColour(0x0030F660u), "0x0030F660");
    EXPECT_EQ(formatColour(0xFFFFFFFFu), "0xFFFFFFFF");
    EXPECT_EQ(formatColour(0), "0x00000000");

    EXPECT_EQ(formatResult(S_OK), "0");
    EXPECT_EQ(formatResult(1), "1");
    EXPECT_EQ(formatResult(E_NOTIMPL), "0x80004001");
    EXPECT_EQ(formatResult(D3DERR_INVALIDCALL), "0x8876086C");

    EXPECT_EQ(formatText(nullptr), "NULL");
    EXPECT_EQ(formatText(""), "\"\"");
    EXPECT_EQ(formatText("No hardware vertex processing found.\nUsing software."),
              "\"No hardware vertex processing found.\\nUsing software.\"");
    EXPECT_EQ(formatText("data\\track1.data"), "\"data\\\\track1.data\"");
    EXPECT_EQ(formatText("say \"hi\"\t\r\x01\xE9"), "\"say \\\"hi\\\"\\t\\r\\x01\\xE9\"");
    EXPECT_EQ(formatText("abcdef", 3), "\"abc\"");
}

TEST(TraceFormat, LineJoinsTokensAndBracketsCompoundValues) {
    D3DXMATRIX scaling = {{{1, 0, 0, 0}, {0, -1.3333334f, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};
    RECT area = {10, 10, 640, 480};
    TraceLine line("Example");
    line.word("device1")
        .natural(256)
        .integer(-1)
        .matrix(&scaling)
        .rect(&area)
        .rect(nullptr)
        .open()
        .open()
        .real(0.5f)
        .close()
        .open()
        .close()
        .close()
        .colour(0xFF102030u)
        .text("Arial")
        .pointer(nullptr)
        .pointer(&area)
        .arrow()
        .result(E_FAIL);
    EXPECT_EQ(line.str(),
              "Example device1 256 -1 [1 0 0 0 0 -1.33333337 0 0 0 0 1 0 0 0 0 1] [10 10 640 480] "
              "NULL [[0.5] []] 0xFF102030 \"Arial\" NULL ptr -> 0x80004005");
    EXPECT_EQ(TraceLine("BeginScene").word("device1").arrow().result(S_OK).str(),
              "BeginScene device1 -> 0");
}
