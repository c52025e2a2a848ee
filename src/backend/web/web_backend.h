#pragma once
// The browser backend (Emscripten): the show's window is the page's canvas, the keyboard and
// mouse are the page's DOM events, the music plays through Web Audio, message boxes are written
// on the page. The show's frame loop stays a loop: at each presented frame the program yields to
// the browser (Asyncify) until the next animation frame, so the page stays alive.
//
// Two ways to run:
// - live: the millisecond tick is the page's clock, a frame is shown at each animation frame,
//   and the music's end comes from the audio clock;
// - still (the page's `?at=SECONDS`): the virtual clock of the headless backend, frames before
//   the wanted one are computed but not drawn, the wanted one is drawn and handed to the page as
//   a PNG, then the show is stopped. The page yields on timers here, because a browser without a
//   screen runs no animation frames.
//
// The pixels are the GPU renderer's, drawn on the canvas's WebGL 2 context; the program tells
// this backend when a frame is on the canvas (frameDrawn).
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "backend/audio.h"
#include "backend/backend.h"
#include "backend/emulated/emulated_input.h"
#include "backend/emulated/emulated_windows.h"
#include "backend/emulated/key_schedule.h"
#include "backend/emulated/virtual_clock.h"
#include "backend/emulated/virtual_music.h"

struct WebOptions {
    // Show time of the one frame to draw (still mode); negative: play live.
    int64_t stillMs = -1;
    // Frames per second of the still mode's virtual clock.
    uint32_t fps = 60;
    // Key presses at show times (still mode), as --press gives them.
    std::vector<KeyPress> presses;
};

// The music through Web Audio: the page decoded the mp3 while it loaded the show's files; the
// stream's bookkeeping is the virtual music's, its end is read off the audio clock at each
// frame's start and reaches the show through the end-of-stream syncs.
class WebMusic : public VirtualMusic {
  public:
    // `clock` only learns when the music starts.
    explicit WebMusic(VirtualClock& clock);

    HSTREAM BASS_StreamCreateFile(BOOL memory, const void* file, QWORD offset, QWORD length,
                                  DWORD flags) override;
    BOOL BASS_StreamPlay(HSTREAM stream, BOOL flush, DWORD flags) override;

    // Calls the syncs of the ends the playing music has passed by the audio clock.
    void signalPlayedEnds();

  private:
    std::string path_;
    bool looping_ = false;
};

class WebBackend : public EmulatedWindowSystem, public EmulatedInput, private FrameListener {
  public:
    explicit WebBackend(WebOptions options);
    ~WebBackend() override;

    // Window, input and audio from here, with the given graphics service.
    Backend services(GraphicsSystem* graphics);
    bool still() const { return options_.stillMs >= 0; }
    // Still mode: the frames the renderer must draw (only the wanted one).
    const CaptureWindow& window() const { return window_; }
    // Still mode: whether the wanted frame reached the page.
    bool stillDelivered() const { return delivered_; }
    // Still mode: the show time reached.
    uint64_t showMs() const { return clock_.showMs(); }

    // A presented frame is on the canvas: the page gets its turn (live), or keeps the frame
    // (still, the wanted one).
    void frameDrawn();

    // ---- EmulatedInput ----
    void readKeys(BYTE keys[256]) override;
    void readMouse(DIMOUSESTATE* state) override;

    // ---- DOM events, from the page's callbacks ----
    void keyDown(int scanCode);
    void pointerMoved(int x, int y, int dx, int dy);
    void buttonDown(int button);

  protected:
    DWORD readTick() override;
    DWORD messageTime() override { return readTick(); }
    void cursorShown(bool shown) override;
    bool pointerPosition(POINT* point) override;
    void showDialog(const char* caption, const char* text) override;
    void beforeExit() override;

  private:
    void frameBegins(uint64_t k) override;
    void postEscape();

    WebOptions options_;
    CaptureWindow window_;
    VirtualClock clock_;
    std::unique_ptr<VirtualMusic> stillMusic_;
    std::unique_ptr<WebMusic> liveMusic_;
    KeySchedule schedule_;
    bool delivered_ = false;
    uint64_t framesSinceYield_ = 0;
    double lastYieldMs_ = 0.0;

    bool latchedKeys_[256] = {};
    POINT pointer_{0, 0};
    LONG motionX_ = 0;
    LONG motionY_ = 0;
    BYTE latchedButtons_ = 0;
};

// Sends the page's keyboard and pointer events to the backend: the keys the show reacts to by
// their DOM code, the pointer in the picture's own pixels over the canvas `canvasSelector`.
void listenToPage(WebBackend& backend, const char* canvasSelector);
