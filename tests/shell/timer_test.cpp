#include "shell/timer.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

float seconds(float ms) {
    return static_cast<float>(static_cast<double>(ms) * 0.0010000000474974513);
}

TEST(Timer, FirstUpdateFillsSlotOneAndAveragesOverAllSixteen) {
    Timer timer;
    timer.reset(5000);
    timer.update(5020);
    EXPECT_EQ(timer.elapsedMs, 20);
    EXPECT_EQ(timer.updateCount, 1);
    EXPECT_EQ(timer.frameMs, 20.0f);
    EXPECT_EQ(timer.frameSeconds, seconds(20.0f));
    EXPECT_EQ(timer.recentMs[1], 20);
    EXPECT_EQ(timer.averageMs, 1.0f);
    EXPECT_EQ(timer.fps, 1000.0f);

    // A shorter first frame leaves the average at 0: the rate is infinite, not a crash or NaN.
    timer.reset(100);
    timer.update(110);
    EXPECT_EQ(timer.averageMs, 0.0f);
    EXPECT_TRUE(std::isinf(timer.fps) && timer.fps > 0);
}

TEST(Timer, SixteenSteadyFramesFillTheRingAndWrapItsIndex) {
    Timer timer;
    timer.reset(0);
    for (int i = 1; i <= 16; ++i) timer.update(16 * i);
    EXPECT_EQ(timer.recentIndex, 0);
    EXPECT_EQ(timer.updateCount, 16);
    EXPECT_EQ(timer.elapsedMs, 256);
    EXPECT_EQ(timer.averageMs, 16.0f);
    EXPECT_EQ(timer.averageSeconds, seconds(16.0f));
    EXPECT_EQ(timer.fps, 62.5f);

    // The seventeenth frame overwrites slot 1; one 32 ms frame lifts the mean by exactly 1.
    timer.update(256 + 32);
    EXPECT_EQ(timer.recentIndex, 1);
    EXPECT_EQ(timer.averageMs, 17.0f);

    // Reset empties the ring, so the average ramps up again from the zeros.
    timer.reset(1000);
    timer.update(1016);
    EXPECT_EQ(timer.updateCount, 1);
    EXPECT_EQ(timer.averageMs, 1.0f);
}

TEST(Timer, TickCountWrappingAroundBetweenResetAndUpdate) {
    Timer timer;
    timer.reset(static_cast<int32_t>(0xFFFFFFF0u));
    timer.update(4);
    EXPECT_EQ(timer.elapsedMs, 20);
    EXPECT_EQ(timer.frameMs, 20.0f);
}

}  // namespace
