#include "shell/overlay.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "backend/recording/recording_backend.h"
#include "platform/font_writer.h"
#include "platform/globals.h"

namespace {

Timer sampleTimer() {
    Timer timer;
    timer.reset(0);
    timer.fps = 62.5f;
    timer.elapsedMs = 41250;
    timer.frameMs = 16.0f;
    return timer;
}

ShowState sampleState() {
    ShowState state;
    state.frameNumber = 206;
    state.inter = 0.25f;
    state.masterScale = 0.0f;
    return state;
}

const char* const kSample =
    "FPS:62.500\ntime:41250 \\ 16.000\nframe:206\ninter:0.250\nmscale:0.000\n";

TEST(OverlayText, FiveLinesAndOptionalCounts) {
    const Timer timer = sampleTimer();
    const ShowState state = sampleState();
    JString text = overlayText(timer, state, false, 2, 480);
    EXPECT_STREQ(text.c_str(), kSample);

    JString counted = overlayText(timer, state, true, 1, 0);
    EXPECT_EQ(std::string(counted.c_str()), std::string(kSample) + "Strokes : 1\nParticles : 0\n");
}

TEST(OverlayText, InfiniteRateRightAfterReset) {
    Timer timer = sampleTimer();
    timer.fps = std::numeric_limits<float>::infinity();
    JString text = overlayText(timer, sampleState(), false, 0, 0);
    EXPECT_EQ(std::string(text.c_str()).substr(0, 8), "FPS:inf\n");
}

class OverlayDrawing : public ::testing::Test {
  protected:
    void SetUp() override {
        resetGlobals();
        useBackend(recorder.services());
        Direct3D9* d3d = Direct3DCreate9(32);
        D3DPRESENT_PARAMETERS parameters{};
        d3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, 0, &parameters, &testDevice);
        writer = new FontWriter(testDevice, 640, 480, "Arial", 18, 0, 700, false);
        recorder.clearLines();
    }
    void TearDown() override {
        delete writer;
        resetGlobals();
        useBackend(Backend{});
    }

    int drawCalls() const {
        int n = 0;
        for (const std::string& line : recorder.lines())
            if (line.rfind("DrawTextA", 0) == 0) ++n;
        return n;
    }

    RecordingBackend recorder;
    Direct3DDevice9* testDevice = nullptr;
    FontWriter* writer = nullptr;
};

TEST_F(OverlayDrawing, DrawsOnlyWhileSwitchedOn) {
    countsVisible = true;
    overlayStep(*writer, sampleTimer(), sampleState(), 1, 0);
    EXPECT_EQ(drawCalls(), 0);

    overlayVisible = true;
    countsVisible = false;
    overlayStep(*writer, sampleTimer(), sampleState(), 1, 0);
    ASSERT_EQ(recorder.lines().size(), 1u);
    EXPECT_EQ(recorder.lines()[0].rfind(
                  "DrawTextA font1 \"FPS:62.500\\ntime:41250 \\\\ 16.000\\nframe:206\\ninter:0.250"
                  "\\nmscale:0.000\\n\" -1 [10 10 640 480] 0 0xFFFFFFFF ->",
                  0),
              0u)
        << recorder.lines()[0];
}

}  // namespace
