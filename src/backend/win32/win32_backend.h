#pragma once
// The native Windows backend: every call of the show goes to the platform's own Direct3D 9,
// extension library, USER32/KERNEL32 and DirectInput 8, through thin objects that hand the
// seam's values on unchanged (the seam keeps the platform's numbering). The music, which the
// show asks of a proprietary audio library, is played by MusicPlayer on the platform's codec
// manager and wave output.
//
// Capture: with a capture folder the backend runs the headless backend's virtual clock instead
// of the millisecond tick (frame k of the loop sees floor(k * 1000 / fps) ms after the music's
// start; the pre-roll costs no time), keeps the music silent and signals its end when the clock
// passes the mp3's length, and writes each finished frame of the chosen window as a BMP file
// named by k. Frames then match the Linux capture frame for frame.
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "backend/audio.h"
#include "backend/emulated/key_schedule.h"
#include "backend/emulated/music_ends.h"
#include "backend/emulated/virtual_clock.h"
#include "backend/graphics.h"
#include "backend/input.h"
#include "backend/win32/music_player.h"
#include "backend/window_system.h"

// What every object the backend hands to the show is as well, so that the backend can free the
// ones the show leaves to the process's end.
class Win32Object {
  public:
    virtual ~Win32Object() = default;
};

struct Win32Options {
    // Empty: no capture, the real clock and audible music.
    std::string captureFolder;
    uint32_t fps = 60;
    // Frames of show time [fromMs, toMs) are captured; toMs < 0 is "to the end of the show".
    int64_t fromMs = 0;
    int64_t toMs = -1;
    // Stop after this many frames of the show (0: no limit), as if the window were closed.
    uint64_t frameLimit = 0;
    // A windowed device instead of the show's full-screen one.
    bool windowed = false;
    // Message boxes only as lines on `messages`, never on screen (nobody is there to close
    // them). The lines are written in any case.
    bool noDialogs = false;
    std::FILE* messages = stderr;
    // Debug keys pressed at times of the show; only while capturing, on the virtual clock.
    std::vector<KeyPress> presses;
};

class Win32Backend : public GraphicsSystem,
                     public WindowSystem,
                     public InputSystem,
                     public AudioSystem,
                     private FrameListener {
  public:
    explicit Win32Backend(Win32Options options);
    ~Win32Backend() override;
    Win32Backend(const Win32Backend&) = delete;
    Win32Backend& operator=(const Win32Backend&) = delete;

    Backend services();

    bool capturing() const { return !options_.captureFolder.empty(); }
    const VirtualClock& clock() const { return clock_; }
    // Frames written, and whether a write failed (the show is then stopped).
    uint64_t framesWritten() const { return framesWritten_; }
    uint64_t firstWritten() const { return firstWritten_; }
    uint64_t lastWritten() const { return lastWritten_; }
    bool captureFailed() const { return captureFailed_; }

    // ---- GraphicsSystem ----
    QM_GRAPHICS_SYSTEM_OVERRIDES;

    // ---- WindowSystem ----
    QM_WINDOW_SYSTEM_OVERRIDES;

    // ---- InputSystem ----
    HRESULT DirectInput8Create(HINSTANCE instance, DWORD version,
                               DirectInput8** directInput) override;

    // ---- AudioSystem ----
    QM_AUDIO_SYSTEM_OVERRIDES;

    // The objects handed to the show; the show releases some and leaves the others to the end,
    // when the backend frees what is left (the platform objects behind them go with the process).
    void adopt(Win32Object* object) { objects_.insert(object); }
    void forget(Win32Object* object) { objects_.erase(object); }

    // Adds the scheduled presses due now to a keyboard read (capture only).
    void applyScheduledKeys(BYTE keys[256]);
    // Called by the device just before it presents: a finished frame of the show.
    void frameFinished(void* nativeDevice);
    // How the device is made: the show's parameters, adjusted for a windowed run.
    void adjustPresentation(D3DPRESENT_PARAMETERS* parameters, DWORD* behaviorFlags) const;
    // A window message for the class `atom`, from the backend's window procedure.
    LRESULT windowMessage(HWND window, ATOM atom, UINT message, WPARAM wParam, LPARAM lParam);

  private:
    static void musicEnded(void* sync);
    // A frame of the show begins: in a capture the virtual clock moves on, due Escape presses
    // are taken and due ends of the music are signalled.
    void frameBegins(uint64_t k) override;
    bool failed() const override { return captureFailed_; }

    Win32Options options_;
    // The frames of show time a capture writes.
    CaptureWindow window_;
    VirtualClock clock_;
    KeySchedule keys_;
    int escapesDue_ = 0;
    HWND lastWindow_ = nullptr;
    std::map<ATOM, WNDPROC> procedures_;
    std::set<Win32Object*> objects_;

    FrameHost frames_;
    std::vector<uint32_t> pixels_;
    uint64_t framesWritten_ = 0;
    uint64_t firstWritten_ = 0;
    uint64_t lastWritten_ = 0;
    bool captureFailed_ = false;

    bool audioReady_ = false;
    MusicEnds music_;
    std::map<HSTREAM, std::unique_ptr<MusicPlayer>> players_;
};
