#pragma once
// A backend that writes every call the show makes as one line of text (docs/trace.md).
//
// Standing alone it is the show's test double: calls succeed with fake objects, the clock is
// set by the test, and tests queue the results of individual calls (failures included), window
// messages, key and mouse states. Wrapped around other services it forwards each call to them
// and records the call with what they returned; that is the app's --trace output. Each service
// is forwarded when the wrapped Backend provides it and simulated otherwise; queued results are
// only consulted for simulated services. A wrapping recorder must outlive the wrapped audio
// service, whose end-of-stream sync reaches the show through the recorder.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "backend/audio.h"
#include "backend/backend.h"
#include "backend/graphics.h"
#include "backend/input.h"
#include "backend/window_system.h"

struct RecordingState;

// Thrown by a standing-alone recorder's exit(), so that a test can watch a fatal path to its
// end.
struct RecordedExit {
    int status;
};

class RecordingBackend : public GraphicsSystem,
                         public WindowSystem,
                         public InputSystem,
                         public AudioSystem {
  public:
    RecordingBackend();
    explicit RecordingBackend(const Backend& inner);
    ~RecordingBackend() override;
    RecordingBackend(const RecordingBackend&) = delete;
    RecordingBackend& operator=(const RecordingBackend&) = delete;

    // This recorder behind all four services, ready for useBackend.
    Backend services();

    // ---- the trace ----

    std::vector<std::string> lines() const;
    void clearLines();
    // Whether lines are kept in memory (on by default); a long traced run turns this off.
    void keepLines(bool keep);
    // Every line is also written to `out` as it is recorded (null: nowhere).
    void writeTo(std::FILE* out);

    // ---- scripted results for simulated services ----

    // The next `times` calls of `operation` return `value`. `operation` is the name as it
    // appears in the trace, optionally prefixed with an object's label
    // ("keyboard1.GetDeviceState"), which takes precedence over the bare name. A value that reports
    // failure (negative result code; zero from a call returning a flag, handle or object) makes the
    // call do nothing else; any other value is returned by a call that otherwise proceeds as by
    // default.
    void queueResult(const std::string& operation, int64_t value, int times = 1);

    // GetTickCount returns `tick`, and the clock then moves on by `step` per call.
    void setClock(DWORD tick, DWORD step = 0);
    // Appends a message to the window's queue; PostQuitMessage's WM_QUIT comes after all of them.
    void postMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    // Key states handed out by successive keyboard reads; the last one repeats. Each entry of
    // `keysDown` is a scan code whose byte gets bit 7 set.
    void queueKeyboardState(const std::vector<int>& keysDown);
    // Mouse states handed out by successive mouse reads; the last one repeats.
    void queueMouseState(const DIMOUSESTATE& state);
    // Cursor position in screen pixels; ScreenToClient subtracts the client origin.
    void setCursorPos(LONG x, LONG y);
    void setClientOrigin(LONG x, LONG y);
    // Extra bytes at the end of every locked texture row, to show up code that ignores the pitch.
    void setPitchPadding(INT bytes);
    // Fires every end-of-stream sync of a simulated audio service on another thread and waits
    // for it.
    void endOfStream();
    // The cursor's display count as ShowCursor left it (starts at 0).
    int cursorDisplayCount() const;

    // ---- GraphicsSystem ----
    QM_GRAPHICS_SYSTEM_OVERRIDES;

    // ---- WindowSystem ----
    QM_WINDOW_SYSTEM_OVERRIDES;

    // ---- InputSystem ----
    HRESULT DirectInput8Create(HINSTANCE instance, DWORD version,
                               DirectInput8** directInput) override;

    // ---- AudioSystem ----
    QM_AUDIO_SYSTEM_OVERRIDES;

  private:
    std::unique_ptr<RecordingState> state_;
};
