#include <gtest/gtest.h>

#include <cmath>

#include "painting/random_source.h"
#include "shell/show_state.h"
#include "shell/timer.h"

namespace {

Timer frameOf(float seconds) {
    Timer timer;
    timer.reset(0);
    timer.frameSeconds = seconds;
    timer.averageSeconds = seconds;
    return timer;
}

// The generator's state after `draws` more draws from `from`.
uint32_t after(RandomSource from, int draws) {
    for (int i = 0; i < draws; ++i) from.next();
    return from.state;
}

TEST(Timeline, AFrameCountsOneCrossingHoweverManyIntegersItPasses) {
    ShowState state;
    RandomSource random;
    state.sceneClock = 4.9f;
    EXPECT_FALSE(timelineStep(state, frameOf(0.46f), random));
    EXPECT_NEAR(state.sceneClock, 7.2f, 1e-5);
    EXPECT_EQ(state.frameNumber, 7);
    EXPECT_EQ(state.crossingCounter, 1);

    timelineStep(state, frameOf(0.14f), random);  // to 7.9: no integer passed
    EXPECT_EQ(state.crossingCounter, 1);
    timelineStep(state, frameOf(0.04f), random);  // past 8
    EXPECT_EQ(state.crossingCounter, 2);
}

TEST(Timeline, SeedStepsEveryFiveUnitsAndDrawsExactlyFiveNumbersThen) {
    for (float frame : {0.016f, 0.05f, 0.2f}) {
        ShowState state;
        RandomSource random;
        random.seed(12345);
        int steps = 0;
        while (state.sceneClock < 30.0f) {
            const RandomSource start = random;
            const int32_t seed = state.particleSeed;
            timelineStep(state, frameOf(frame), random);
            const int draws = state.particleSeed != seed ? 5 : 0;
            ASSERT_EQ(random.state, after(start, draws)) << "frame " << frame;
            ASSERT_EQ(state.particleSeed, state.frameNumber / 5)
                << "frame " << frame << " at T " << state.sceneClock;
            ++steps;
        }
        EXPECT_EQ(state.particleSeed, 6);
        EXPECT_GT(steps, 0);
    }
}

TEST(Timeline, ToggleFlipsOnDrawsOfSixToNineModuloTen) {
    // Draws from seed 1: 41, 18467, 6334, 26500, 19169; only the 7 and the 9 flip.
    ShowState state;
    RandomSource random;
    random.seed(1);
    state.sceneClock = 4.5f;
    state.crossingCounter = 4;
    timelineStep(state, frameOf(0.2f), random);
    EXPECT_EQ(state.particleSeed, 1);
    EXPECT_FALSE(state.levelsToggle);
    EXPECT_TRUE(state.noiseToggle);
    EXPECT_FALSE(state.runBlurToggle);
    EXPECT_FALSE(state.columnBlurToggle);
    EXPECT_TRUE(state.sharpenToggle);
}

TEST(Timeline, MasterScaleDecaysOnlyAbove140AndStopsAtZero) {
    ShowState state;
    RandomSource random;
    state.sceneClock = 139.0f;
    timelineStep(state, frameOf(0.2f), random);
    EXPECT_EQ(state.sceneClock, 140.0f);
    EXPECT_EQ(state.masterScale, 1.0f);

    timelineStep(state, frameOf(0.2f), random);
    EXPECT_EQ(state.masterScale,
              static_cast<float>(1.0 - static_cast<double>(0.2f) * 0.11999999731779099));

    state.masterScale = 0.01f;
    for (int i = 0; i < 3; ++i) {
        timelineStep(state, frameOf(0.2f), random);
        EXPECT_EQ(state.masterScale, 0.0f);
        EXPECT_FALSE(std::signbit(state.masterScale));
    }
}

TEST(Timeline, ShowEndsOnlyAbove700) {
    ShowState state;
    RandomSource random;
    state.sceneClock = 699.0f;
    EXPECT_FALSE(timelineStep(state, frameOf(0.2f), random));
    EXPECT_EQ(state.sceneClock, 700.0f);
    EXPECT_FALSE(timelineStep(state, frameOf(0.0f), random));
    EXPECT_TRUE(timelineStep(state, frameOf(0.016f), random));
}

TEST(VideoTimeline, OverlayWindowIsStrictAtBothEnds) {
    EXPECT_FALSE(overlayVideoAllowed(10.0f));
    EXPECT_TRUE(overlayVideoAllowed(10.01f));
    EXPECT_TRUE(overlayVideoAllowed(663.99f));
    EXPECT_FALSE(overlayVideoAllowed(664.0f));
}

TEST(VideoTimeline, FrameIndicesWrapAndSurviveUnusableCounts) {
    EXPECT_EQ(overlayFrameIndex(100, 40), 20);
    EXPECT_EQ(backgroundFrameIndex(100.0f, 1000), 55);
    EXPECT_EQ(backgroundFrameIndex(100.0f, 50), 5);
    EXPECT_EQ(backgroundFrameIndex(1.9f, 1000), 1);  // 1.045 truncated
    EXPECT_EQ(overlayFrameIndex(7, 1), 0);
    for (int32_t count : {0, -1, -40}) {
        EXPECT_EQ(overlayFrameIndex(100, count), 0);
        EXPECT_EQ(backgroundFrameIndex(100.0f, count), 0);
    }
}

TEST(VideoTimeline, EffectParametersFollowClockAndPhase) {
    // The levels move with whole radians of the shifted milliseconds.
    const BackgroundEffects early = backgroundEffects(31, 0.0f);
    EXPECT_EQ(early.levelsGain, 0.0f);
    EXPECT_EQ(early.columnRadius, 5);
    EXPECT_EQ(backgroundEffects(63, 0.0f).levelsContrast, 2.0f);
    EXPECT_EQ(backgroundEffects(64, 0.0f).levelsContrast, 2.0f * static_cast<float>(std::cos(1.0)));

    const float quarter = static_cast<float>(std::asin(1.0));
    EXPECT_EQ(backgroundEffects(0, quarter).runRadius, 7);
    EXPECT_EQ(backgroundEffects(0, -quarter).runRadius, -7);

    EXPECT_EQ(overlayEffects(64, 0.0f).runRadius, 4);
    const float nine = static_cast<float>(std::asin(0.9));
    EXPECT_EQ(overlayEffects(0, nine).sharpenShift, 5);
    EXPECT_EQ(overlayEffects(0, -nine).sharpenShift, 5);
    EXPECT_EQ(overlayEffects(0, quarter).sharpenShift, 6);
}

}  // namespace
