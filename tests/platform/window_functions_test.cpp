#include "platform/window_functions.h"

#include "platform/display.h"
#include "platform_fixture.h"

namespace {

class WindowTest : public PlatformTest {
  protected:
    void SetUp() override {
        PlatformTest::SetUp();
        ASSERT_EQ(createAppWindow(nullptr, nullptr, "", SW_SHOWDEFAULT, "Quillmere", &windowHandle,
                                  640, 480),
                  1);
    }
};

TEST_F(WindowTest, PumpHandlesOneMessageAndStopsOnEscapeOrAClosedWindow) {
    // Empty queue: no wait, no stop.
    size_t start = mark();
    EXPECT_EQ(pumpMessage(), 0);
    EXPECT_EQ(since(start), (std::vector<std::string>{"PeekMessageA NULL 0 0 0 -> 0"}));

    // One message per call: the second stays queued.
    recorder.postMessage(windowHandle, WM_KEYDOWN, 'A', 0);
    recorder.postMessage(windowHandle, WM_KEYDOWN, VK_ESCAPE, 0);
    start = mark();
    EXPECT_EQ(pumpMessage(), 0);
    EXPECT_EQ(since(start).size(), 5u);
    EXPECT_EQ(pumpMessage(), 1);
    EXPECT_TRUE(quitRequested);
    // The flag stays set: an empty queue still reports the stop.
    EXPECT_EQ(pumpMessage(), 1);

    // Destroying the window posts the quit message, which stops the pump on its own.
    DestroyWindow(windowHandle);
    EXPECT_TRUE(quitRequested);
    quitRequested = false;
    start = mark();
    EXPECT_EQ(pumpMessage(), 1);
    EXPECT_EQ(since(start), (std::vector<std::string>{
                                "PeekMessageA NULL 0 0 0 -> 1 [NULL 18 0 0 0 0 0]",
                                "GetMessageA NULL 0 0 -> 0 [NULL 18 0 0 0 0 0]",
                            }));
}

TEST_F(WindowTest, FatalErrorTearsDownAndExitsWithFailureStatusNonFatalOnlyTells) {
    display = new Display;
    ASSERT_EQ(display->init(windowHandle, 640, 480), S_OK);
    Display* shown = display;
    size_t start = mark();
    fatalError("warning", false);
    EXPECT_TRUE(running.load());
    EXPECT_EQ(display, shown);
    EXPECT_EQ(since(start),
              (std::vector<std::string>{"MessageBoxA NULL \"warning\" \"Failed!\" 0 -> 1"}));

    start = mark();
    try {
        fatalError("data\\track1.data", true);
        FAIL() << "fatalError returned";
    } catch (const RecordedExit& e) {
        EXPECT_EQ(e.status, 1);
    }
    EXPECT_FALSE(running.load());
    EXPECT_EQ(display, nullptr);
    std::vector<std::string> expected = {
        "MessageBoxA NULL \"data\\\\track1.data\" \"Failed!\" 0 -> 1",
        "Release device1 -> 0",
        "Release d3d1 -> 0",
        "PostQuitMessage 0",
        "DefWindowProcA hwnd1 2 0 0 -> 0",
        "DestroyWindow hwnd1 -> 1",
        "exit 1",
    };
    EXPECT_EQ(since(start), expected);
}

}  // namespace
