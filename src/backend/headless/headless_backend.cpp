#include "backend/headless/headless_backend.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "backend/file_path.h"

HeadlessBackend::HeadlessBackend(HeadlessOptions options)
    : options_(std::move(options)), clock_(options_.fps), keys_(options_.presses) {}

HeadlessBackend::~HeadlessBackend() = default;

Backend HeadlessBackend::services() {
    Backend services;
    services.graphics = this;
    services.windows = this;
    services.input = this;
    services.audio = this;
    return services;
}

// ---- frames ----

void HeadlessBackend::beginFrame() {
    clock_.nextFrame();
    // Escape ends the show through the window, not through the keyboard device: a due press
    // arrives as the key's window message.
    for (int n = keys_.takeDueEscapes(clock_.musicStarted(), clock_.showMs()); n > 0; --n) {
        if (lastWindow_ == nullptr) continue;
        MSG message{};
        message.hwnd = lastWindow_;
        message.message = WM_KEYDOWN;
        message.wParam = VK_ESCAPE;
        message.time = clock_.read();
        messages_.post(message);
    }
    signalEnds();
}

void HeadlessBackend::signalEnds() {
    // Whole ends passed by every playing stream (a looping stream ends once per pass), checked
    // exactly: showMs / 1000 >= n * samples / rate.
    std::vector<Sync> due;
    for (auto& [handle, stream] : streams_) {
        if (!stream.playing || !stream.known) continue;
        const int64_t passes = static_cast<int64_t>(clock_.showMs()) * stream.duration.rate /
                               (stream.duration.samples * 1000);
        const int64_t limit = stream.looping ? passes : std::min<int64_t>(passes, 1);
        for (; stream.endsSignalled < limit; ++stream.endsSignalled) {
            for (const Sync& sync : syncs_) {
                if (sync.channel == handle) due.push_back(sync);
            }
        }
    }
    if (due.empty()) return;
    // The audio library calls its syncs on a thread of its own; waiting for that thread here
    // keeps the moment the show hears of the end the same in every run.
    std::thread audioThread([&due] {
        for (const Sync& sync : due) sync.proc(sync.handle, sync.channel, 0, sync.user);
    });
    audioThread.join();
    endSignals_ += static_cast<int>(due.size());
}

// ---- window system ----

ATOM HeadlessBackend::RegisterClassExA(const WNDCLASSEXA* windowClass) {
    if (windowClass == nullptr || windowClass->lpszClassName == nullptr ||
        windowClass->lpfnWndProc == nullptr || classes_.count(windowClass->lpszClassName) != 0) {
        return 0;
    }
    classes_[windowClass->lpszClassName] = windowClass->lpfnWndProc;
    return static_cast<ATOM>(0xC000 + classes_.size() - 1);
}

HWND HeadlessBackend::CreateWindowExA(DWORD /*exStyle*/, const char* className,
                                      const char* /*windowName*/, DWORD /*style*/, int /*x*/,
                                      int /*y*/, int /*width*/, int /*height*/, HWND /*parent*/,
                                      HMENU /*menu*/, HINSTANCE /*instance*/, void* /*param*/) {
    auto known = className != nullptr ? classes_.find(className) : classes_.end();
    if (known == classes_.end()) return nullptr;
    HWND window = reinterpret_cast<HWND>(newHandle());
    windows_[window] = known->second;
    lastWindow_ = window;
    return window;
}

BOOL HeadlessBackend::ShowWindow(HWND window, int /*showCommand*/) {
    // The result is whether the window was visible before: never, here.
    (void)window;
    return FALSE;
}

BOOL HeadlessBackend::UpdateWindow(HWND window) {
    return windows_.count(window) != 0 ? TRUE : FALSE;
}

BOOL HeadlessBackend::DestroyWindow(HWND window) {
    auto found = windows_.find(window);
    if (found == windows_.end()) return FALSE;
    // The procedure hears WM_DESTROY while the window still exists.
    WNDPROC procedure = found->second;
    procedure(window, WM_DESTROY, 0, 0);
    windows_.erase(window);
    if (lastWindow_ == window) lastWindow_ = nullptr;
    return TRUE;
}

HCURSOR HeadlessBackend::LoadCursorA(HINSTANCE /*instance*/, const char* cursorName) {
    if (cursorName == nullptr) return nullptr;
    return reinterpret_cast<HCURSOR>(newHandle());
}

LRESULT HeadlessBackend::DefWindowProcA(HWND window, UINT message, WPARAM /*wParam*/,
                                        LPARAM /*lParam*/) {
    if (message == WM_CLOSE) DestroyWindow(window);
    return 0;
}

void HeadlessBackend::PostQuitMessage(int exitCode) {
    messages_.postQuit(exitCode);
}

BOOL HeadlessBackend::PeekMessageA(MSG* message, HWND /*window*/, UINT /*filterMin*/,
                                   UINT /*filterMax*/, UINT removeFlags) {
    // The frame loop's first call: here a frame of the virtual clock begins.
    beginFrame();
    if (message == nullptr) return FALSE;
    return messages_.next(message, (removeFlags & PM_REMOVE) != 0) ? TRUE : FALSE;
}

BOOL HeadlessBackend::GetMessageA(MSG* message, HWND /*window*/, UINT /*filterMin*/,
                                  UINT /*filterMax*/) {
    // Nothing will ever arrive on an empty queue: waiting would hang the run.
    if (message == nullptr || !messages_.next(message, true)) return -1;
    return message->message == WM_QUIT ? FALSE : TRUE;
}

BOOL HeadlessBackend::TranslateMessage(const MSG* /*message*/) {
    return FALSE;
}

LRESULT HeadlessBackend::DispatchMessageA(const MSG* message) {
    if (message == nullptr) return 0;
    auto found = windows_.find(message->hwnd);
    if (found == windows_.end()) return 0;
    return found->second(message->hwnd, message->message, message->wParam, message->lParam);
}

int HeadlessBackend::MessageBoxA(HWND /*owner*/, const char* text, const char* caption,
                                 UINT /*type*/) {
    if (options_.messages != nullptr) {
        std::fprintf(options_.messages, "%s: %s\n", caption != nullptr ? caption : "",
                     text != nullptr ? text : "");
        std::fflush(options_.messages);
    }
    return IDOK;
}

HCURSOR HeadlessBackend::SetCursor(HCURSOR cursor) {
    HCURSOR previous = cursor_;
    cursor_ = cursor;
    return previous;
}

int HeadlessBackend::ShowCursor(BOOL show) {
    cursorCount_ += show ? 1 : -1;
    return cursorCount_;
}

BOOL HeadlessBackend::GetCursorPos(POINT* point) {
    if (point == nullptr) return FALSE;
    // No pointer: it rests at the screen's origin.
    *point = POINT{0, 0};
    return TRUE;
}

BOOL HeadlessBackend::ScreenToClient(HWND window, POINT* point) {
    return point != nullptr && windows_.count(window) != 0 ? TRUE : FALSE;
}

DWORD HeadlessBackend::GetTickCount() {
    return clock_.read();
}

HWND HeadlessBackend::GetForegroundWindow() {
    return lastWindow_;
}

HMODULE HeadlessBackend::GetModuleHandleA(const char* moduleName) {
    // Only the program itself is loaded.
    if (moduleName != nullptr) return nullptr;
    if (module_ == nullptr) module_ = reinterpret_cast<HMODULE>(newHandle());
    return module_;
}

void HeadlessBackend::exit(int status) {
    std::fflush(nullptr);
    std::exit(status);
}

// ---- input ----

HRESULT HeadlessBackend::DirectInput8Create(HINSTANCE /*instance*/, DWORD version,
                                            DirectInput8** directInput) {
    if (directInput == nullptr) return DIERR_INVALIDPARAM;
    *directInput = nullptr;
    if (version != DIRECTINPUT_VERSION) return DIERR_INVALIDPARAM;
    *directInput = make<HeadlessDirectInput>(*this);
    return DI_OK;
}

HRESULT HeadlessDirectInput::CreateDevice(const GUID& guid, DirectInputDevice8** device) {
    if (device == nullptr) return DIERR_INVALIDPARAM;
    *device = nullptr;
    if (!(guid == GUID_SysKeyboard) && !(guid == GUID_SysMouse)) return DIERR_INVALIDPARAM;
    *device = owner_.make<HeadlessInputDevice>(owner_, guid == GUID_SysKeyboard);
    return DI_OK;
}

HRESULT HeadlessInputDevice::SetDataFormat(const DIDATAFORMAT* format) {
    const DWORD expected = keyboard_ ? c_dfDIKeyboard.dwDataSize : c_dfDIMouse.dwDataSize;
    if (format == nullptr || format->dwDataSize != expected || acquired_) return DIERR_INVALIDPARAM;
    formatSize_ = format->dwDataSize;
    return DI_OK;
}

HRESULT HeadlessInputDevice::SetCooperativeLevel(HWND /*window*/, DWORD /*flags*/) {
    return DI_OK;
}

HRESULT HeadlessInputDevice::Acquire() {
    if (formatSize_ == 0) return DIERR_INVALIDPARAM;
    acquired_ = true;
    return DI_OK;
}

HRESULT HeadlessInputDevice::Unacquire() {
    // DI_NOEFFECT: there was nothing to release.
    if (!acquired_) return 1;
    acquired_ = false;
    return DI_OK;
}

HRESULT HeadlessInputDevice::GetDeviceState(DWORD size, void* data) {
    if (data == nullptr || size != formatSize_) return DIERR_INVALIDPARAM;
    if (!acquired_) return DIERR_NOTACQUIRED;
    if (keyboard_) {
        owner_.readKeys(static_cast<BYTE*>(data));
    } else {
        std::memset(data, 0, size);
    }
    return DI_OK;
}

void HeadlessBackend::readKeys(BYTE keys[256]) {
    std::memset(keys, 0, 256);
    keys_.applyDue(keys, clock_.musicStarted(), clock_.showMs());
}

// ---- audio ----

BOOL HeadlessBackend::BASS_Init(int device, DWORD /*frequency*/, DWORD /*flags*/, HWND /*window*/) {
    if (device != -1 && device != 0) return FALSE;
    audioReady_ = true;
    return TRUE;
}

HSTREAM HeadlessBackend::BASS_StreamCreateFile(BOOL memory, const void* file, QWORD offset,
                                               QWORD length, DWORD flags) {
    // Only whole files are played; a stream from memory is not part of the show.
    if (!audioReady_ || memory || file == nullptr || offset != 0 || length != 0) return 0;
    Stream stream;
    if (!options_.readDuration ||
        !options_.readDuration(nativePath(static_cast<const char*>(file)), &stream.duration) ||
        stream.duration.samples <= 0 || stream.duration.rate <= 0) {
        return 0;
    }
    stream.known = true;
    stream.looping = (flags & BASS_SAMPLE_LOOP) != 0;
    HSTREAM handle = ++nextStream_;
    streams_[handle] = stream;
    return handle;
}

HSYNC HeadlessBackend::BASS_ChannelSetSync(DWORD channel, DWORD type, QWORD /*param*/,
                                           SYNCPROC* proc, void* user) {
    // Only the end-of-stream sync is known here.
    if (streams_.count(channel) == 0 || proc == nullptr || (type & 0x00FFFFFFu) != BASS_SYNC_END) {
        return 0;
    }
    HSYNC handle = ++nextSync_;
    syncs_.push_back(Sync{handle, channel, proc, user});
    return handle;
}

BOOL HeadlessBackend::BASS_Start() {
    return audioReady_ ? TRUE : FALSE;
}

BOOL HeadlessBackend::BASS_StreamPlay(HSTREAM stream, BOOL /*flush*/, DWORD flags) {
    // The show's clock starts with the music, whether or not there is any to hear.
    clock_.startMusic();
    auto found = streams_.find(stream);
    if (found == streams_.end()) return FALSE;
    found->second.playing = true;
    found->second.endsSignalled = 0;
    if (flags & BASS_SAMPLE_LOOP) found->second.looping = true;
    return TRUE;
}
