#pragma once
// A backend with no window and no sound, for running the show unattended: rendering to files,
// checks in CI, timing runs. Time is the virtual clock of virtual_clock.h, the music is the
// mp3's length only (its end still reaches the show through the end-of-stream sync, from
// another thread), the keyboard reads "no keys" except for presses scheduled at given show
// times, and message boxes become lines on standard error.
//
// Its graphics are the CPU renderer's or a given renderer's, drawing only while a capture wants
// the frame.
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "backend/backend.h"
#include "backend/emulated/emulated_input.h"
#include "backend/emulated/emulated_windows.h"
#include "backend/emulated/key_schedule.h"
#include "backend/emulated/virtual_clock.h"
#include "backend/emulated/virtual_music.h"
#include "backend/headless/mp3_duration.h"
#include "backend/soft/soft_device.h"
#include "backend/soft/soft_graphics.h"

struct HeadlessOptions {
    uint32_t fps = 60;
    // Threads the CPU renderer draws a frame with (its bands of rows).
    int threads = SoftOptions().threads;
    // Pixels of the drawn frames per pixel of the show's device (SoftOptions::scale).
    int scale = 1;
    std::vector<KeyPress> presses;
    // The renderer that draws; null: the backend's own CPU renderer.
    Renderer* renderer = nullptr;
    // Where message boxes are written.
    std::FILE* messages = stderr;
    // Reads an mp3's length from a native path; the default scans the file with libmpg123.
    std::function<bool(const std::string& path, Mp3Duration* duration)> readDuration =
        readMp3Duration;
};

class HeadlessBackend : public EmulatedWindowSystem,
                        public EmulatedInput,
                        public VirtualMusic,
                        private FrameListener {
  public:
    explicit HeadlessBackend(HeadlessOptions options = HeadlessOptions());

    Backend services();

    const VirtualClock& clock() const { return clock_; }
    // The renderer, with rasterizing off until a capture turns it on: the device keeps every
    // state, transform and texture the show hands it, so that a frame drawn later is the frame a
    // full run draws.
    Renderer& graphics() { return *renderer_; }
    // The device the show created last on the backend's own CPU renderer (null before
    // CreateDevice, and when another renderer draws).
    SoftDevice* device() const { return graphics_.device(); }
    // The keyboard reads only the scheduled presses due in the current frame.
    void readKeys(BYTE keys[256]) override;

  private:
    // A frame begins: the clock moves on, due Escape presses reach the window and the music's
    // end is signalled once the clock has passed it.
    void frameBegins(uint64_t k) override;
    DWORD readTick() override { return clock_.read(); }

    HeadlessOptions options_;
    VirtualClock clock_;
    SoftGraphics graphics_;
    Renderer* renderer_;
    KeySchedule keys_;
};
