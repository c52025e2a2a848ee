#pragma once
// The headless backend's notion of time. Nothing here reads a real clock, so two runs of the same
// content see the same ticks and produce the same frames.
//
// Before the music starts every read of the tick moves the clock on by kPrerollStepMs, so the
// show's three-second wait is over after a handful of reads and costs no wall-clock time. From the
// music's start on the clock stands still within a frame: the k-th frame of the loop (k = 1, 2,
// ...) sees the tick floor(k * 1000 / fps) ms after the start, however often it reads it. A frame
// begins at the loop's first outside call, the message peek; the reads between the music's start
// and the first peek (the Timer's reset) see the start itself.
#include <cstdint>

#include "backend/platform_types.h"

class VirtualClock {
  public:
    static constexpr DWORD kPrerollStepMs = 1000;

    explicit VirtualClock(uint32_t fps = 60, DWORD start = 0)
        : fps_(fps == 0 ? 1 : fps), now_(start) {}

    // GetTickCount.
    DWORD read();
    // The music starts now: the frame count restarts and the clock stops jumping.
    void startMusic();
    // A new frame of the loop begins.
    void nextFrame();

    bool musicStarted() const { return musicStarted_; }
    // Frames begun since the music started.
    uint64_t frame() const { return frame_; }
    // Milliseconds of show time the current frame sees (0 before the music starts).
    uint64_t showMs() const;
    uint32_t fps() const { return fps_; }

  private:
    uint32_t fps_;
    DWORD now_;
    DWORD musicStart_ = 0;
    bool musicStarted_ = false;
    uint64_t frame_ = 0;
};
