#include <string>

#include "platform/key_checker.h"
#include "platform/user_input.h"
#include "platform_fixture.h"

namespace {

// Writes every event it hears, tagged with its name, into a shared log.
class LoggingListener : public KeyListener {
  public:
    LoggingListener(std::vector<std::string>& log, const char* name) : log_(log), name_(name) {}
    void keyDown(int key) override { log_.push_back(name_ + " down " + std::to_string(key)); }
    void keyUp(int key) override { log_.push_back(name_ + " up " + std::to_string(key)); }

  private:
    std::vector<std::string>& log_;
    std::string name_;
};

class InputTest : public PlatformTest {
  protected:
    void SetUp() override {
        PlatformTest::SetUp();
        windowHandle = reinterpret_cast<HWND>(uintptr_t{0x40});
    }
};

TEST_F(InputTest, EventsComeInKeyCodeOrderAndAFailedReadKeepsThePreviousState) {
    UserInput input;
    input.init(windowHandle);
    std::vector<std::string> log;
    LoggingListener first(log, "first");
    LoggingListener second(log, "second");
    input.add(&first);
    input.add(&second);

    recorder.queueKeyboardState({0x10, 0x11});
    recorder.queueKeyboardState({0x3C, 0x11});
    recorder.queueKeyboardState({0x11});
    input.poll();
    log.clear();
    // 0x10 went up and 0x3C went down: the lower code comes first, whatever the press order.
    input.poll();
    EXPECT_EQ(log, (std::vector<std::string>{"first up 16", "second up 16", "first down 60",
                                             "second down 60"}));
    log.clear();
    recorder.queueResult("keyboard1.GetDeviceState", DIERR_INPUTLOST);
    EXPECT_EQ(input.poll(), DIERR_INPUTLOST);
    EXPECT_TRUE(log.empty());
    // The release of 0x3C during the failed read is still seen on the next good one.
    EXPECT_EQ(input.poll(), S_OK);
    EXPECT_EQ(log, (std::vector<std::string>{"first up 60", "second up 60"}));
    log.clear();
    input.poll();
    EXPECT_TRUE(log.empty());
}

TEST_F(InputTest, KeyCheckerFlipsTheSwitchesAndTheCursorFollowsF3) {
    UserInput input;
    input.init(windowHandle);
    KeyChecker checker;
    input.add(&checker);

    recorder.queueKeyboardState({DIK_F1, DIK_F2, DIK_F3, DIK_F4, DIK_NUMLOCK, DIK_DIVIDE, 0x20});
    recorder.queueKeyboardState({});
    recorder.queueKeyboardState({DIK_F3});
    input.poll();
    EXPECT_TRUE(tracing);
    EXPECT_TRUE(cornerPreview);
    EXPECT_TRUE(cursorBrush);
    EXPECT_FALSE(particlesVisible);
    EXPECT_TRUE(overlayVisible);
    EXPECT_TRUE(countsVisible);
    EXPECT_EQ(recorder.cursorDisplayCount(), 1);

    input.poll();
    size_t start = mark();
    input.poll();
    EXPECT_FALSE(cursorBrush);
    EXPECT_TRUE(tracing);
    EXPECT_EQ(recorder.cursorDisplayCount(), 0);
    EXPECT_EQ(since(start), (std::vector<std::string>{"GetDeviceState keyboard1 256 -> 0 [61]",
                                                      "ShowCursor 0 -> 0"}));
}

TEST_F(InputTest, MouseStateIsReadWithTheStandardRecordSize) {
    UserInput input;
    input.init(windowHandle);
    recorder.queueMouseState(DIMOUSESTATE{4, -3, 1, {0x80, 0, 0x80, 0}});
    DIMOUSESTATE state;
    size_t start = mark();
    EXPECT_EQ(input.getState(&state), 0);
    EXPECT_EQ(since(start),
              (std::vector<std::string>{"GetDeviceState mouse1 16 -> 0 [4 -3 1 128 0 128 0]"}));
    EXPECT_EQ(state.rgbButtons[2], 0x80);
}

}  // namespace
