#pragma once
// The desktop backend on SDL2: one real window (full screen on the desktop's own mode, or a
// 640 × 480 window) showing the frames a renderer presents, letterboxed; the window messages the
// show's procedure handles; the keyboard and mouse as DirectInput devices; the music on
// SDL2_mixer with its end reported from the audio thread; a monotonic millisecond tick.
//
// Graphics are not drawn here: a renderer (the CPU renderer) hands each presented frame to this
// backend as its FrameSink.
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
#include "backend/input.h"
#include "backend/message_queue.h"
#include "backend/sdl/letterbox.h"
#include "backend/soft/frame_sink.h"
#include "backend/window_system.h"

struct SdlOptions {
    // A window of the size the show asks for instead of the whole desktop.
    bool windowed = false;
    // Message boxes also as dialogs (they always go to `messages` as a line).
    bool dialogs = true;
    // Where message boxes and warnings are written.
    std::FILE* messages = stderr;
    // Added to every tick, wrapping; lets a run start the tick just short of its wrap.
    DWORD tickOffset = 0;
};

// Frame times measured at presentation once the music has started.
struct FrameStats {
    int frames = 0;
    double seconds = 0.0;
    double minFps = 0.0;
    double medianFps = 0.0;
    double maxFps = 0.0;
};

class SdlObject {
  public:
    virtual ~SdlObject() = default;

  protected:
    ULONG dropReference() { return references_ > 0 ? --references_ : 0; }

  private:
    ULONG references_ = 1;
};

class SdlBackend : public WindowSystem, public InputSystem, public AudioSystem, public FrameSink {
  public:
    explicit SdlBackend(SdlOptions options = SdlOptions());
    ~SdlBackend() override;
    SdlBackend(const SdlBackend&) = delete;
    SdlBackend& operator=(const SdlBackend&) = delete;

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

    // ---- WindowSystem ----
    ATOM RegisterClassExA(const WNDCLASSEXA* windowClass) override;
    HWND CreateWindowExA(DWORD exStyle, const char* className, const char* windowName, DWORD style,
                         int x, int y, int width, int height, HWND parent, HMENU menu,
                         HINSTANCE instance, void* param) override;
    BOOL ShowWindow(HWND window, int showCommand) override;
    BOOL UpdateWindow(HWND window) override;
    BOOL DestroyWindow(HWND window) override;
    HCURSOR LoadCursorA(HINSTANCE instance, const char* cursorName) override;
    LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;
    void PostQuitMessage(int exitCode) override;
    BOOL PeekMessageA(MSG* message, HWND window, UINT filterMin, UINT filterMax,
                      UINT removeFlags) override;
    BOOL GetMessageA(MSG* message, HWND window, UINT filterMin, UINT filterMax) override;
    BOOL TranslateMessage(const MSG* message) override;
    LRESULT DispatchMessageA(const MSG* message) override;
    int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type) override;
    HCURSOR SetCursor(HCURSOR cursor) override;
    int ShowCursor(BOOL show) override;
    BOOL GetCursorPos(POINT* point) override;
    BOOL ScreenToClient(HWND window, POINT* point) override;
    DWORD GetTickCount() override;
    HWND GetForegroundWindow() override;
    HMODULE GetModuleHandleA(const char* moduleName) override;
    [[noreturn]] void exit(int status) override;

    // ---- InputSystem ----
    HRESULT DirectInput8Create(HINSTANCE instance, DWORD version,
                               DirectInput8** directInput) override;

    // ---- AudioSystem ----
    BOOL BASS_Init(int device, DWORD frequency, DWORD flags, HWND window) override;
    HSTREAM BASS_StreamCreateFile(BOOL memory, const void* file, QWORD offset, QWORD length,
                                  DWORD flags) override;
    HSYNC BASS_ChannelSetSync(DWORD channel, DWORD type, QWORD param, SYNCPROC* proc,
                              void* user) override;
    BOOL BASS_Start() override;
    BOOL BASS_StreamPlay(HSTREAM stream, BOOL flush, DWORD flags) override;

    // Takes every waiting SDL event: messages for the window, latched key and button presses,
    // mouse motion. Called by the message calls and by each device read.
    void pumpEvents();
    // The 256 key bytes in DirectInput numbering, then forgets the latched presses.
    void readKeys(BYTE keys[256]);
    // The relative motion since the last read and the buttons, then forgets both.
    void readMouse(DIMOUSESTATE* state);

    template <class T, class... Args>
    T* make(Args&&... args) {
        auto object = std::make_unique<T>(std::forward<Args>(args)...);
        T* raw = object.get();
        objects_.push_back(std::move(object));
        return raw;
    }

  private:
    uintptr_t newHandle() { return nextHandle_ += 0x10; }
    // The tick as GetTickCount gives it, for stamping messages.
    DWORD tick() const { return SDL_GetTicks() + options_.tickOffset; }
    void queueEvent(const SDL_Event& event);
    // The window's client area as the show sees it (the size it asked for) inside the window.
    Letterbox windowBox() const;
    void repaint();
    void applyCursor();
    void closeWindow();
    void closeAudio();
    static void musicFinished();
    void restartLoopingMusic();

    SdlOptions options_;
    bool videoReady_ = false;
    std::vector<std::unique_ptr<SdlObject>> objects_;
    uintptr_t nextHandle_ = 0x1000;

    // ---- window ----
    std::map<std::string, WNDPROC> classes_;
    HWND window_ = nullptr;
    WNDPROC procedure_ = nullptr;
    SDL_Window* sdlWindow_ = nullptr;
    SDL_Renderer* renderer_ = nullptr;
    SDL_Texture* texture_ = nullptr;
    int clientWidth_ = 640;
    int clientHeight_ = 480;
    bool framePresented_ = false;
    HMODULE module_ = nullptr;
    HCURSOR arrow_ = nullptr;
    HCURSOR cursor_ = nullptr;
    int cursorCount_ = 0;
    MessageQueue messages_;
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
