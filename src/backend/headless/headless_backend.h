#pragma once
// A backend with no window and no sound, for running the show unattended: rendering to files,
// checks in CI, timing runs. Time is the virtual clock of virtual_clock.h, the music is the
// mp3's length only (its end still reaches the show through the end-of-stream sync, from
// another thread), the keyboard reads "no keys" except for presses scheduled at given show
// times, and message boxes become lines on standard error.
//
// The graphics device keeps every state, transform, texture and vertex buffer the show hands it
// but draws nothing; a texture from an image file exists when the file does.
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "backend/audio.h"
#include "backend/backend.h"
#include "backend/graphics.h"
#include "backend/headless/headless_graphics.h"
#include "backend/headless/key_schedule.h"
#include "backend/headless/mp3_duration.h"
#include "backend/headless/virtual_clock.h"
#include "backend/input.h"
#include "backend/message_queue.h"
#include "backend/window_system.h"

struct HeadlessOptions {
    uint32_t fps = 60;
    std::vector<KeyPress> presses;
    // Where message boxes are written.
    std::FILE* messages = stderr;
    // Reads an mp3's length from a native path; the default scans the file with libmpg123.
    std::function<bool(const std::string& path, Mp3Duration* duration)> readDuration =
        readMp3Duration;
};

class HeadlessBackend : public GraphicsSystem,
                        public WindowSystem,
                        public InputSystem,
                        public AudioSystem {
  public:
    explicit HeadlessBackend(HeadlessOptions options = HeadlessOptions());
    ~HeadlessBackend() override;
    HeadlessBackend(const HeadlessBackend&) = delete;
    HeadlessBackend& operator=(const HeadlessBackend&) = delete;

    Backend services();

    const VirtualClock& clock() const { return clock_; }
    // The device the show created last (null before CreateDevice).
    HeadlessDevice* device() const { return device_; }
    // End-of-stream signals delivered so far.
    int endSignals() const { return endSignals_; }

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

    // Called by the keyboard device on each read: fills the 256 key bytes for the current frame.
    void readKeys(BYTE keys[256]);
    // Keeps a new object alive until the backend goes.
    template <class T, class... Args>
    T* make(Args&&... args) {
        auto object = std::make_unique<T>(std::forward<Args>(args)...);
        T* raw = object.get();
        objects_.push_back(std::move(object));
        return raw;
    }
    void deviceCreated(HeadlessDevice* device) { device_ = device; }

  private:
    uintptr_t newHandle() { return nextHandle_ += 0x10; }
    // A new frame began: hands due Escape presses to the window and signals the music's end
    // once the clock has passed it.
    void beginFrame();
    void signalEnds();

    HeadlessOptions options_;
    VirtualClock clock_;
    std::vector<std::unique_ptr<HeadlessObject>> objects_;
    uintptr_t nextHandle_ = 0x1000;
    HeadlessDevice* device_ = nullptr;

    // ---- window system ----
    std::map<std::string, WNDPROC> classes_;
    std::map<HWND, WNDPROC> windows_;
    HWND lastWindow_ = nullptr;
    HMODULE module_ = nullptr;
    HCURSOR cursor_ = nullptr;
    int cursorCount_ = 0;
    MessageQueue messages_;

    // ---- input: scheduled presses, in time order, and what the last read handed out ----
    KeySchedule keys_;

    // ---- audio ----
    struct Stream {
        Mp3Duration duration;
        bool known = false;
        bool playing = false;
        bool looping = false;
        int64_t endsSignalled = 0;
    };
    struct Sync {
        HSYNC handle;
        DWORD channel;
        SYNCPROC* proc;
        void* user;
    };
    bool audioReady_ = false;
    std::map<HSTREAM, Stream> streams_;
    std::vector<Sync> syncs_;
    HSTREAM nextStream_ = 0;
    HSYNC nextSync_ = 0;
    int endSignals_ = 0;
};
