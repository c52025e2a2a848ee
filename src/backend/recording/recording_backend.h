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
    Direct3D9* Direct3DCreate9(UINT sdkVersion) override;
    HRESULT D3DXCreateTextureFromFileA(Direct3DDevice9* device, const char* file,
                                       Direct3DTexture9** texture) override;
    HRESULT D3DXCreateTexture(Direct3DDevice9* device, UINT width, UINT height, UINT mipLevels,
                              DWORD usage, D3DFORMAT format, D3DPOOL pool,
                              Direct3DTexture9** texture, const char* name) override;
    HRESULT D3DXCreateLine(Direct3DDevice9* device, D3DXLine** line) override;
    HRESULT D3DXCreateFontA(Direct3DDevice9* device, INT height, UINT width, UINT weight,
                            UINT mipLevels, BOOL italic, DWORD charSet, DWORD outputPrecision,
                            DWORD quality, DWORD pitchAndFamily, const char* faceName,
                            D3DXFont** font) override;

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

  private:
    std::unique_ptr<RecordingState> state_;
};
