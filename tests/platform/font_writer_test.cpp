#include "platform/font_writer.h"

#include "platform/display.h"
#include "platform_fixture.h"

namespace {

using FontWriterTest = PlatformTest;

TEST_F(FontWriterTest, DrawsFromThePointToTheAreaCornerLeftAligned) {
    Display shown;
    ASSERT_EQ(shown.init(nullptr, 640, 480), S_OK);
    size_t start = mark();
    {
        FontWriter writer(shown.getDevice(), 640, 480, "Arial", 18, 0, FW_BOLD, false);
        EXPECT_EQ(writer.draw("Frame : 12\nTime : 3.250", 10, 10, 0xFFFFFFFF), 36);
        writer.draw("x", -5, 470, 0x80FF0000);
    }
    std::vector<std::string> expected = {
        "D3DXCreateFontA device1 18 0 700 0 0 1 0 0 0 \"Arial\" -> 0 font1",
        "DrawTextA font1 \"Frame : 12\\nTime : 3.250\" -1 [10 10 640 480] 0 0xFFFFFFFF -> 36",
        "DrawTextA font1 \"x\" -1 [-5 470 640 480] 0 0x80FF0000 -> 18",
        "Release font1 -> 0",
    };
    EXPECT_EQ(since(start), expected);
}

}  // namespace
