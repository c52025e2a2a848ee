#pragma once
// The desktop backend on SDL2: one real window (full screen on the desktop's own mode, or a
// 640 × 480 window) showing the frames a renderer presents, letterboxed; the window messages the
// show's procedure handles; the keyboard and mouse as DirectInput devices; the music on
// SDL2_mixer with its end reported from the audio thread; a monotonic millisecond tick.
//
// Graphics are not drawn here: the CPU renderer hands each presented frame to this backend as
// its FrameSink, or the GL renderer draws into the window's OpenGL context and tells the backend
// (framePresented).
#include <SDL.h>
#include <SDL_mixer.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "backend/audio.h"
#include "backend/backend.h"
#include "backend/emulated/emulated_input.h"
#include "backend/emulated/emulated_windows.h"
#include "backend/frame_sink.h"
#include "backend/sdl/letterbox.h"

struct SdlOptions {
    // A window of the size the show asks for instead of the whole desktop.
    bool windowed = false;
    // Message boxes also as dialogs (they always go to `messages` as a line).
    bool dialogs = true;
    // Where message boxes and warnings are written.
    std::FILE* messages = stderr;
    // Added to every tick, wrapping; lets a run start the tick just short of its wrap.
    DWORD tickOffset = 0;
    // The window gets an OpenGL ES 3.0 context with vsync, current on the calling thread, for a
    // renderer that draws into it itself; otherwise frames come through presentFrame.
    bool openGl = false;
};

// Frame times measured at presentation once the music has started.
struct FrameStats {
    int frames = 0;
    double seconds = 0.0;
    // Frames per second between two presentations: the lowest, the median and the highest.
    double minFps = 0.0, medianFps = 0.0, maxFps = 0.0;
};

class SdlBackend : public EmulatedWindowSystem,
                   public EmulatedInput,
                   public AudioSystem,
                   public FrameSink {
  public:
    explicit SdlBackend(SdlOptions options = SdlOptions());
    ~SdlBackend() override;

    // Window, input and audio from here, with the given graphics service.
    Backend services(GraphicsSystem* graphics);

    // False when SDL's video could not start (no display); windows then cannot be made.
    bool videoReady() const { return videoReady_; }
    SDL_Window* sdlWindow() const { return sdlWindow_; }
    bool musicStarted() const { return musicStarted_; }
    // Presentation timing since the music started.
    FrameStats frameStats() const;

    // ---- FrameSink ----
    void presentFrame(const uint32_t* pixels, int width, int height) override;
    // A frame went to the window by other means (an OpenGL swap): counted in the frame stats.
    void framePresented();
    // Whether the window to come gets an OpenGL context (SdlOptions::openGl), decided once the
    // renderer is chosen.
    void useOpenGl(bool on) { options_.openGl = on; }

    // ---- AudioSystem ----
    QM_AUDIO_SYSTEM_OVERRIDES;

    // Takes every waiting SDL event: messages for the window, latched key and button presses,
    // mouse motion. Called by the message calls and by each device read.
    void pumpEvents() override;
    // The 256 key bytes in DirectInput numbering, then forgets the latched presses.
    void readKeys(BYTE keys[256]) override;
    // The relative motion since the last read and the buttons, then forgets both.
    void readMouse(DIMOUSESTATE* state) override;

  protected:
    // ---- the window system's own parts ----
    DWORD readTick() override;
    DWORD messageTime() override { return tick(); }
    bool waitForEvents() override;
    bool openWindow(const char* title, DWORD style, int width, int height) override;
    void closeWindow() override;
    bool showWindow() override;
    void repaintWindow() override { repaint(); }
    void cursorShown(bool shown) override;
    bool pointerPosition(POINT* point) override;
    bool screenToClient(POINT* point) override;
    void showDialog(const char* caption, const char* text) override;
    void beforeExit() override;

  private:
    // The tick as GetTickCount gives it, for stamping messages.
    DWORD tick() const { return SDL_GetTicks() + options_.tickOffset; }
    void queueEvent(const SDL_Event& event);
    // The window's client area as the show sees it (the size it asked for) inside the window.
    Letterbox windowBox() const;
    void repaint();
    void closeAudio();
    static void musicFinished();
    void restartLoopingMusic();

    SdlOptions options_;
    bool videoReady_ = false;

    // ---- window ----
    SDL_Window* sdlWindow_ = nullptr;
    SDL_Renderer* renderer_ = nullptr;
    SDL_Texture* texture_ = nullptr;
    SDL_GLContext glContext_ = nullptr;
    int clientWidth_ = 640;
    int clientHeight_ = 480;
    bool framePresented_ = false;
    DWORD lastTick_ = 0;
    bool tickRead_ = false;
    uint32_t lastPumpMs_ = 0;

    // ---- input ----
    bool latchedKeys_[256] = {};
    LONG motionX_ = 0;
    LONG motionY_ = 0;
    LONG wheel_ = 0;
    uint32_t latchedButtons_ = 0;

    // ---- audio ----
    struct Sync {
        HSYNC handle;
        DWORD channel;
        SYNCPROC* proc;
        void* user;
    };
    bool audioReady_ = false;
    bool mixerStarted_ = false;
    std::map<HSTREAM, Mix_Music*> streams_;
    HSTREAM nextStream_ = 0;
    HSYNC nextSync_ = 0;
    std::mutex syncMutex_;
    std::vector<Sync> syncs_;
    std::atomic<HSTREAM> playing_{0};
    std::atomic<bool> looping_{false};
    std::atomic<bool> restartPending_{false};
    bool musicStarted_ = false;

    // ---- frame timing ----
    std::vector<uint64_t> presentTimes_;
};
