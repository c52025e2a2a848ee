#include "platform/display.h"

#include "platform/window_functions.h"
#include "platform_fixture.h"

namespace {

using DisplayTest = PlatformTest;

TEST_F(DisplayTest, SoftwareFallbackShowsOneMessageAndSetsTheFixedStatesInOrder) {
    ASSERT_EQ(
        createAppWindow(nullptr, nullptr, "", SW_SHOWDEFAULT, "Quillmere", &windowHandle, 640, 480),
        1);
    recorder.queueResult("CreateDevice", D3DERR_NOTAVAILABLE);
    size_t start = mark();
    Display shown;
    EXPECT_EQ(shown.init(windowHandle, 640, 480), S_OK);
    ASSERT_NE(shown.getDevice(), nullptr);

    const std::string params = "[640 480 21 1 0 0 2 hwnd1 0 1 75 0 0 0]";
    std::vector<std::string> expected = {
        "Direct3DCreate9 32 -> d3d1",
        "GetAdapterDisplayMode d3d1 0 -> 0 [640 480 60 22]",
        "CreateDevice d3d1 0 1 hwnd1 64 " + params + " -> 0x8876086A NULL",
        "MessageBoxA NULL \"No hardware vertex processing found.\\nUsing software.\" "
        "\"Failed!\" 0 -> 1",
        "CreateDevice d3d1 0 1 hwnd1 32 " + params + " -> 0 device1",
        "SetRenderState device1 137 0 -> 0",
        "SetRenderState device1 7 1 -> 0",
        "SetRenderState device1 22 1 -> 0",
        "SetRenderState device1 14 1 -> 0",
        "SetRenderState device1 29 0 -> 0",
        "SetTextureStageState device1 0 2 2 -> 0",
        "SetTextureStageState device1 0 3 0 -> 0",
        "SetTextureStageState device1 0 1 4 -> 0",
        "SetSamplerState device1 0 6 2 -> 0",
        "SetSamplerState device1 0 5 2 -> 0",
        "SetSamplerState device1 1 6 2 -> 0",
        "SetSamplerState device1 1 5 2 -> 0",
        "SetRenderState device1 19 2 -> 0",
        "SetRenderState device1 20 2 -> 0",
        "SetRenderState device1 137 0 -> 0",
        "SetRenderState device1 22 1 -> 0",
        "SetRenderState device1 9 2 -> 0",
        "SetRenderState device1 142 0 -> 0",
        "SetRenderState device1 52 0 -> 0",
        "SetTransform device1 256 [1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1] -> 0",
        "SetTransform device1 2 [1 0 0 0 0 1 0 0 0 0 1 0 -0 -0 6 1] -> 0",
        // cot(pi/8) = 2.41421356 and that over 4/3 = 1.81066017; depth maps near to 0 and far
        // to 1: far / (far - near) = 1.000001, near * far / (near - far) = -0.01000001.
        "SetTransform device1 3 [1.81066 0 0 0 0 2.41421342 0 0 0 0 1.00000095 1 0 0 "
        "-0.01000001 0] -> 0",
    };
    EXPECT_EQ(since(start), expected);
}

TEST_F(DisplayTest, FailuresAreReturnedAndFrameCallsSkipTheirSecondHalf) {
    recorder.queueResult("GetAdapterDisplayMode", D3DERR_NOTAVAILABLE);
    auto* noMode = new Display;
    EXPECT_EQ(noMode->init(nullptr, 640, 480), D3DERR_NOTAVAILABLE);
    size_t start = mark();
    delete noMode;
    EXPECT_TRUE(since(start).empty());

    auto* shown = new Display;
    ASSERT_EQ(shown->init(nullptr, 640, 480), S_OK);
    recorder.queueResult("Clear", D3DERR_INVALIDCALL);
    recorder.queueResult("EndScene", D3DERR_INVALIDCALL);
    start = mark();
    shown->beginFrame(0);
    shown->endFrame();
    delete shown;
    EXPECT_EQ(since(start), (std::vector<std::string>{
                                "Clear device1 7 0x00000000 1 0 -> 0x8876086C",
                                "EndScene device1 -> 0x8876086C",
                                "Release device1 -> 0",
                                "Release d3d2 -> 0",
                            }));
}

}  // namespace
