#pragma once
#include <cstdint>

// The frame clock. It is fed the system's millisecond tick by its caller and never reads a clock
// itself. `frameMs` is the raw length of the last frame; `averageMs` smooths over a ring of the
// last 16 frame lengths (the zeros left by reset count too, so the average ramps up over the
// first 16 frames).
class Timer {
  public:
    // Nothing is set here: reset must run before the first update.
    Timer() {}

    virtual void update(int32_t now);
    virtual void reset(int32_t now);

    int32_t elapsedMs;
    int32_t updateCount;
    int32_t previousElapsedMs;
    int32_t startTick;
    float frameMs;
    float frameSeconds;
    float averageMs;
    float averageSeconds;
    float fps;
    int32_t recentMs[16];
    int32_t recentIndex;
};

// Single-precision 0.001 widened to double: the factor that turns milliseconds into seconds.
const double kMillisecondsToSeconds = 0.0010000000474974513;
