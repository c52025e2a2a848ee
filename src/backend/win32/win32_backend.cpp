#include "backend/win32/win32_backend.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "backend/file_path.h"
#include "backend/win32/bmp_file.h"
#include "backend/win32/native.h"

namespace {

// The device keeps the x87 unit's precision as the program set it: Direct3D would otherwise
// drop it to single precision, and the show's double-precision sines would change.
constexpr DWORD kFpuPreserve = 0x2;
// Present without waiting for the retrace: a capture runs as fast as the machine allows.
constexpr UINT kPresentImmediately = 0x80000000u;

#ifdef _WIN32
const char kSeparator[] = "\\";
#else
// The backend's platform side can be stood in for elsewhere (its tests do).
const char kSeparator[] = "/";
#endif

// The one backend whose window procedures receive the platform's messages.
Win32Backend* active = nullptr;

intptr_t routeMessage(void* window, uint16_t atom, uint32_t message, uintptr_t wParam,
                      intptr_t lParam) {
    if (active == nullptr) return native::defWindowProc(window, message, wParam, lParam);
    return active->windowMessage(static_cast<HWND>(window), atom, message, wParam, lParam);
}

// ---- the graphics objects: each holds the platform's own object and passes calls through ----

// Reference counts are the platform object's: a wrapper goes when its object does.
template <class Base>
class Wrapper : public Base, public Win32Object {
  public:
    Wrapper(void* object, Win32Backend& owner) : object_(object), owner_(owner) {
        owner_.adopt(this);
    }
    ~Wrapper() override { owner_.forget(this); }
    void* object() const { return object_; }
    ULONG Release() override {
        ULONG left = native::release(object_);
        if (left == 0) delete this;
        return left;
    }

  protected:
    void* object_;
    Win32Backend& owner_;
};

void* nativeOf(Direct3DTexture9* texture);

class Win32Texture : public Wrapper<Direct3DTexture9> {
  public:
    using Wrapper::Wrapper;
    HRESULT LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) override {
        if (locked == nullptr) return D3DERR_INVALIDCALL;
        int32_t area[4] = {0, 0, 0, 0};
        if (rect != nullptr) {
            area[0] = rect->left;
            area[1] = rect->top;
            area[2] = rect->right;
            area[3] = rect->bottom;
        }
        int32_t pitch = 0;
        void* bits = nullptr;
        HRESULT result = native::lockRect(object_, level, &pitch, &bits,
                                          rect != nullptr ? area : nullptr, flags);
        locked->Pitch = pitch;
        locked->pBits = bits;
        return result;
    }
    HRESULT UnlockRect(UINT level) override { return native::unlockRect(object_, level); }
};

void* nativeOf(Direct3DTexture9* texture) {
    // Every texture the show holds was made by this backend.
    return texture != nullptr ? static_cast<Win32Texture*>(texture)->object() : nullptr;
}

class Win32VertexBuffer : public Wrapper<Direct3DVertexBuffer9> {
  public:
    using Wrapper::Wrapper;
    HRESULT Lock(UINT offset, UINT size, void** data, DWORD flags) override {
        if (data == nullptr) return D3DERR_INVALIDCALL;
        return native::lockVertexBuffer(object_, offset, size, data, flags);
    }
    HRESULT Unlock() override { return native::unlockVertexBuffer(object_); }
};

class Win32Device : public Wrapper<Direct3DDevice9> {
  public:
    using Wrapper::Wrapper;

    HRESULT Clear(DWORD flags, D3DCOLOR color, float z, DWORD stencil) override {
        return native::clear(object_, flags, color, z, stencil);
    }
    HRESULT BeginScene() override { return native::beginScene(object_); }
    HRESULT EndScene() override { return native::endScene(object_); }
    HRESULT Present() override {
        // The back buffer holds the finished frame until the flip: read it now.
        owner_.frameFinished(object_);
        return native::present(object_);
    }
    HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override {
        return native::setRenderState(object_, state, value);
    }
    HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) override {
        return native::setTextureStageState(object_, stage, type, value);
    }
    HRESULT SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) override {
        return native::setSamplerState(object_, sampler, type, value);
    }
    HRESULT SetTexture(DWORD stage, Direct3DTexture9* texture) override {
        return native::setTexture(object_, stage, nativeOf(texture));
    }
    HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DXMATRIX* matrix) override {
        if (matrix == nullptr) return D3DERR_INVALIDCALL;
        return native::setTransform(object_, state, &matrix->m[0][0]);
    }
    HRESULT CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                               Direct3DVertexBuffer9** vertexBuffer) override {
        if (vertexBuffer == nullptr) return D3DERR_INVALIDCALL;
        void* created = nullptr;
        HRESULT result = native::createVertexBuffer(object_, length, usage, fvf, pool, &created);
        *vertexBuffer = created != nullptr ? new Win32VertexBuffer(created, owner_) : nullptr;
        return result;
    }
    HRESULT SetStreamSource(UINT stream, Direct3DVertexBuffer9* vertexBuffer, UINT offset,
                            UINT stride) override {
        void* buffer = vertexBuffer != nullptr
                           ? static_cast<Win32VertexBuffer*>(vertexBuffer)->object()
                           : nullptr;
        return native::setStreamSource(object_, stream, buffer, offset, stride);
    }
    HRESULT SetFVF(DWORD fvf) override { return native::setFVF(object_, fvf); }
    HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) override {
        return native::drawPrimitive(object_, type, startVertex, primitiveCount);
    }
    HRESULT UpdateTexture(Direct3DTexture9* source, Direct3DTexture9* destination) override {
        return native::updateTexture(object_, nativeOf(source), nativeOf(destination));
    }
};

class Win32Direct3D : public Wrapper<Direct3D9> {
  public:
    using Wrapper::Wrapper;

    HRESULT GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode) override {
        if (mode == nullptr) return D3DERR_INVALIDCALL;
        uint32_t found[4] = {0, 0, 0, 0};
        HRESULT result = native::getAdapterDisplayMode(object_, adapter, found);
        mode->Width = found[0];
        mode->Height = found[1];
        mode->RefreshRate = found[2];
        mode->Format = found[3];
        return result;
    }

    HRESULT CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focusWindow, DWORD behaviorFlags,
                         D3DPRESENT_PARAMETERS* presentParameters,
                         Direct3DDevice9** device) override {
        if (presentParameters == nullptr || device == nullptr) return D3DERR_INVALIDCALL;
        D3DPRESENT_PARAMETERS wanted = *presentParameters;
        owner_.adjustPresentation(&wanted, &behaviorFlags);
        native::PresentParameters p{};
        p.backBufferWidth = wanted.BackBufferWidth;
        p.backBufferHeight = wanted.BackBufferHeight;
        p.backBufferFormat = wanted.BackBufferFormat;
        p.backBufferCount = wanted.BackBufferCount;
        p.multiSampleType = wanted.MultiSampleType;
        p.multiSampleQuality = wanted.MultiSampleQuality;
        p.swapEffect = wanted.SwapEffect;
        p.deviceWindow = wanted.hDeviceWindow;
        p.windowed = wanted.Windowed;
        p.enableAutoDepthStencil = wanted.EnableAutoDepthStencil;
        p.autoDepthStencilFormat = wanted.AutoDepthStencilFormat;
        p.flags = wanted.Flags;
        p.fullScreenRefreshRateInHz = wanted.FullScreen_RefreshRateInHz;
        p.presentationInterval = wanted.PresentationInterval;
        void* created = nullptr;
        HRESULT result =
            native::createDevice(object_, adapter, type, focusWindow, behaviorFlags, &p, &created);
        // What the platform settled on (a back-buffer count of 0 becomes 1, for one).
        presentParameters->BackBufferWidth = p.backBufferWidth;
        presentParameters->BackBufferHeight = p.backBufferHeight;
        presentParameters->BackBufferFormat = p.backBufferFormat;
        presentParameters->BackBufferCount = p.backBufferCount;
        *device = created != nullptr ? new Win32Device(created, owner_) : nullptr;
        return result;
    }
};

class Win32Line : public Wrapper<D3DXLine> {
  public:
    using Wrapper::Wrapper;
    HRESULT Begin() override { return native::lineBegin(object_); }
    HRESULT DrawTransform(const D3DXVECTOR3* vertices, DWORD count, const D3DXMATRIX* transform,
                          D3DCOLOR color) override {
        if (vertices == nullptr || transform == nullptr) return D3DERR_INVALIDCALL;
        return native::lineDrawTransform(object_, &vertices->x, count, &transform->m[0][0], color);
    }
    HRESULT End() override { return native::lineEnd(object_); }
};

class Win32Font : public Wrapper<D3DXFont> {
  public:
    using Wrapper::Wrapper;
    INT DrawTextA(const char* text, INT count, RECT* rect, DWORD format, D3DCOLOR color) override {
        if (text == nullptr || rect == nullptr) return 0;
        int32_t area[4] = {rect->left, rect->top, rect->right, rect->bottom};
        INT height = native::drawText(object_, text, count, area, format, color);
        rect->left = area[0];
        rect->top = area[1];
        rect->right = area[2];
        rect->bottom = area[3];
        return height;
    }
};

void* nativeDevice(Direct3DDevice9* device) {
    return device != nullptr ? static_cast<Win32Device*>(device)->object() : nullptr;
}

// ---- input ----

class Win32InputDevice : public Wrapper<DirectInputDevice8> {
  public:
    using Wrapper::Wrapper;
    HRESULT SetDataFormat(const DIDATAFORMAT* format) override {
        if (format == nullptr) return DIERR_INVALIDPARAM;
        return native::setDataFormat(object_, format->dwDataSize);
    }
    HRESULT SetCooperativeLevel(HWND window, DWORD flags) override {
        return native::setCooperativeLevel(object_, window, flags);
    }
    HRESULT Acquire() override { return native::acquire(object_); }
    HRESULT Unacquire() override { return native::unacquire(object_); }
    HRESULT GetDeviceState(DWORD size, void* data) override {
        if (data == nullptr) return DIERR_INVALIDPARAM;
        HRESULT result = native::getDeviceState(object_, size, data);
        // The keyboard's record is the one of 256 key bytes. A capture reads only its scheduled
        // presses, so that what happens on the desktop meanwhile cannot change its frames.
        if (size == 256 && owner_.capturing()) {
            std::memset(data, 0, size);
            owner_.applyScheduledKeys(static_cast<BYTE*>(data));
            return DI_OK;
        }
        return result;
    }
};

class Win32DirectInput : public Wrapper<DirectInput8> {
  public:
    using Wrapper::Wrapper;
    HRESULT CreateDevice(const GUID& guid, DirectInputDevice8** device) override {
        if (device == nullptr) return DIERR_INVALIDPARAM;
        static_assert(sizeof(GUID) == 16, "a GUID is 16 bytes");
        void* created = nullptr;
        HRESULT result = native::createInputDevice(object_, &guid, &created);
        *device = created != nullptr ? new Win32InputDevice(created, owner_) : nullptr;
        return result;
    }
};

native::Message toNative(const MSG& message) {
    native::Message out{};
    out.window = message.hwnd;
    out.message = message.message;
    out.wParam = message.wParam;
    out.lParam = message.lParam;
    out.time = message.time;
    out.x = message.pt.x;
    out.y = message.pt.y;
    return out;
}

void fromNative(const native::Message& message, MSG* out) {
    out->hwnd = static_cast<HWND>(message.window);
    out->message = message.message;
    out->wParam = message.wParam;
    out->lParam = message.lParam;
    out->time = message.time;
    out->pt.x = message.x;
    out->pt.y = message.y;
}

void quitMessage(MSG* message) {
    if (message == nullptr) return;
    std::memset(message, 0, sizeof *message);
    message->message = WM_QUIT;
}

}  // namespace

Win32Backend::Win32Backend(Win32Options options)
    : options_(std::move(options)),
      window_{options_.fps, options_.fromMs, options_.toMs},
      clock_(options_.fps),
      keys_(options_.presses) {
    frames_.addBackendListener(this);
    frames_.setFrameLimit(options_.frameLimit);
    if (capturing()) frames_.setWindow(window_);
    active = this;
    native::setMessageHandler(routeMessage);
}

Win32Backend::~Win32Backend() {
    for (auto& [handle, player] : players_) player->stop();
    // What the show left to the process's end; each wrapper takes itself off the list.
    while (!objects_.empty()) delete *objects_.begin();
    if (active == this) {
        native::setMessageHandler(nullptr);
        active = nullptr;
    }
}

Backend Win32Backend::services() {
    Backend services;
    services.graphics = this;
    services.windows = this;
    services.input = this;
    services.audio = this;
    services.frames = &frames_;
    return services;
}

// ---- graphics ----

Direct3D9* Win32Backend::Direct3DCreate9(UINT sdkVersion) {
    void* d3d = native::direct3DCreate9(sdkVersion);
    return d3d != nullptr ? new Win32Direct3D(d3d, *this) : nullptr;
}

HRESULT Win32Backend::D3DXCreateTextureFromFileA(Direct3DDevice9* device, const char* file,
                                                 Direct3DTexture9** texture) {
    if (texture == nullptr) return D3DERR_INVALIDCALL;
    *texture = nullptr;
    if (device == nullptr || file == nullptr) return D3DERR_INVALIDCALL;
    void* created = nullptr;
    HRESULT result =
        native::createTextureFromFile(nativeDevice(device), nativePath(file).c_str(), &created);
    if (created != nullptr) *texture = new Win32Texture(created, *this);
    return result;
}

HRESULT Win32Backend::D3DXCreateTexture(Direct3DDevice9* device, UINT width, UINT height,
                                        UINT mipLevels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                        Direct3DTexture9** texture, const char* /*name*/) {
    if (texture == nullptr) return D3DERR_INVALIDCALL;
    *texture = nullptr;
    if (device == nullptr) return D3DERR_INVALIDCALL;
    void* created = nullptr;
    HRESULT result = native::createTexture(nativeDevice(device), width, height, mipLevels, usage,
                                           format, pool, &created);
    if (created != nullptr) *texture = new Win32Texture(created, *this);
    return result;
}

HRESULT Win32Backend::D3DXCreateLine(Direct3DDevice9* device, D3DXLine** line) {
    if (line == nullptr) return D3DERR_INVALIDCALL;
    *line = nullptr;
    if (device == nullptr) return D3DERR_INVALIDCALL;
    void* created = nullptr;
    HRESULT result = native::createLine(nativeDevice(device), &created);
    if (created != nullptr) *line = new Win32Line(created, *this);
    return result;
}

HRESULT Win32Backend::D3DXCreateFontA(Direct3DDevice9* device, INT height, UINT width, UINT weight,
                                      UINT mipLevels, BOOL italic, DWORD charSet,
                                      DWORD outputPrecision, DWORD quality, DWORD pitchAndFamily,
                                      const char* faceName, D3DXFont** font) {
    if (font == nullptr) return D3DERR_INVALIDCALL;
    *font = nullptr;
    if (device == nullptr) return D3DERR_INVALIDCALL;
    void* created = nullptr;
    HRESULT result =
        native::createFont(nativeDevice(device), height, width, weight, mipLevels, italic, charSet,
                           outputPrecision, quality, pitchAndFamily, faceName, &created);
    if (created != nullptr) *font = new Win32Font(created, *this);
    return result;
}

void Win32Backend::adjustPresentation(D3DPRESENT_PARAMETERS* parameters,
                                      DWORD* behaviorFlags) const {
    *behaviorFlags |= kFpuPreserve;
    if (options_.windowed) {
        parameters->Windowed = TRUE;
        // A windowed device takes the desktop's refresh rate.
        parameters->FullScreen_RefreshRateInHz = 0;
    }
    if (capturing()) parameters->PresentationInterval = kPresentImmediately;
}

void Win32Backend::frameFinished(void* nativeDevice) {
    // The start-up's black frame comes before the music: it is not a frame of the show.
    if (!capturing() || captureFailed_ || !clock_.musicStarted() || clock_.frame() == 0) return;
    const uint64_t frame = clock_.frame();
    if (!window_.contains(frame)) return;
    int width = 0;
    int height = 0;
    std::string path = options_.captureFolder + kSeparator + captureFileName(frame);
    std::vector<uint8_t> bytes;
    if (native::readBackBuffer(nativeDevice, &pixels_, &width, &height)) {
        bytes = encodeBmp(pixels_.data(), width, height);
    }
    std::FILE* file = bytes.empty() ? nullptr : std::fopen(path.c_str(), "wb");
    bool ok = file != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (file != nullptr) ok = std::fclose(file) == 0 && ok;
    if (!ok) {
        // The show stops at the next frame; the caller reports the failure.
        if (options_.messages != nullptr) {
            std::fprintf(options_.messages, "quillmere: cannot capture frame %llu to %s\n",
                         static_cast<unsigned long long>(frame), path.c_str());
            std::fflush(options_.messages);
        }
        captureFailed_ = true;
        return;
    }
    if (framesWritten_ == 0) firstWritten_ = frame;
    lastWritten_ = frame;
    ++framesWritten_;
}

// ---- window system ----

LRESULT Win32Backend::windowMessage(HWND window, ATOM atom, UINT message, WPARAM wParam,
                                    LPARAM lParam) {
    auto found = procedures_.find(atom);
    if (found == procedures_.end() || found->second == nullptr) {
        return native::defWindowProc(window, message, wParam, lParam);
    }
    return found->second(window, message, wParam, lParam);
}

ATOM Win32Backend::RegisterClassExA(const WNDCLASSEXA* windowClass) {
    if (windowClass == nullptr || windowClass->lpfnWndProc == nullptr) return 0;
    native::WindowClass c{};
    c.style = windowClass->style;
    c.classExtra = windowClass->cbClsExtra;
    c.windowExtra = windowClass->cbWndExtra;
    c.instance = windowClass->hInstance;
    c.icon = windowClass->hIcon;
    c.cursor = windowClass->hCursor;
    c.background = windowClass->hbrBackground;
    c.menuName = windowClass->lpszMenuName;
    c.className = windowClass->lpszClassName;
    c.smallIcon = windowClass->hIconSm;
    ATOM atom = native::registerClass(c);
    if (atom != 0) procedures_[atom] = windowClass->lpfnWndProc;
    return atom;
}

HWND Win32Backend::CreateWindowExA(DWORD exStyle, const char* className, const char* windowName,
                                   DWORD style, int x, int y, int width, int height, HWND parent,
                                   HMENU menu, HINSTANCE instance, void* param) {
    HWND created = static_cast<HWND>(native::createWindow(
        exStyle, className, windowName, style, x, y, width, height, parent, menu, instance, param));
    if (created != nullptr) lastWindow_ = created;
    return created;
}

BOOL Win32Backend::ShowWindow(HWND window, int showCommand) {
    return native::showWindow(window, showCommand);
}

BOOL Win32Backend::UpdateWindow(HWND window) {
    return native::updateWindow(window);
}

BOOL Win32Backend::DestroyWindow(HWND window) {
    if (window == lastWindow_) lastWindow_ = nullptr;
    return native::destroyWindow(window);
}

HCURSOR Win32Backend::LoadCursorA(HINSTANCE instance, const char* cursorName) {
    return static_cast<HCURSOR>(native::loadCursor(instance, cursorName));
}

LRESULT Win32Backend::DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return native::defWindowProc(window, message, wParam, lParam);
}

void Win32Backend::PostQuitMessage(int exitCode) {
    native::postQuitMessage(exitCode);
}

void Win32Backend::frameBegins(uint64_t /*k*/) {
    if (!capturing()) return;
    clock_.nextFrame();
    escapesDue_ += keys_.takeDueEscapes(clock_.musicStarted(), clock_.showMs());
    music_.signalEnds(clock_.showMs());
}

BOOL Win32Backend::PeekMessageA(MSG* message, HWND window, UINT filterMin, UINT filterMax,
                                UINT removeFlags) {
    if (frames_.stopping()) {
        // The frame host stops the show: the quit message, so that it shuts down in its order.
        quitMessage(message);
        return TRUE;
    }
    if (message == nullptr) return FALSE;
    if (escapesDue_ > 0 && lastWindow_ != nullptr && (removeFlags & PM_REMOVE)) {
        // A scheduled Escape arrives as the key's window message, as a real one would.
        --escapesDue_;
        std::memset(message, 0, sizeof *message);
        message->hwnd = lastWindow_;
        message->message = WM_KEYDOWN;
        message->wParam = VK_ESCAPE;
        message->time = GetTickCount();
        return TRUE;
    }
    native::Message m{};
    BOOL result = native::peekMessage(&m, window, filterMin, filterMax, removeFlags);
    if (result) fromNative(m, message);
    return result;
}

BOOL Win32Backend::GetMessageA(MSG* message, HWND window, UINT filterMin, UINT filterMax) {
    if (frames_.stopping()) {
        quitMessage(message);
        return 0;
    }
    if (message == nullptr) return -1;
    native::Message m{};
    BOOL result = native::getMessage(&m, window, filterMin, filterMax);
    if (result != -1) fromNative(m, message);
    return result;
}

BOOL Win32Backend::TranslateMessage(const MSG* message) {
    return message != nullptr ? native::translateMessage(toNative(*message)) : FALSE;
}

LRESULT Win32Backend::DispatchMessageA(const MSG* message) {
    return message != nullptr ? native::dispatchMessage(toNative(*message)) : 0;
}

int Win32Backend::MessageBoxA(HWND owner, const char* text, const char* caption, UINT type) {
    if (options_.messages != nullptr) {
        std::fprintf(options_.messages, "%s: %s\n", caption != nullptr ? caption : "",
                     text != nullptr ? text : "");
        std::fflush(options_.messages);
    }
    if (options_.noDialogs) return IDOK;
    return native::messageBox(owner, text, caption, type);
}

HCURSOR Win32Backend::SetCursor(HCURSOR cursor) {
    return static_cast<HCURSOR>(native::setCursor(cursor));
}

int Win32Backend::ShowCursor(BOOL show) {
    return native::showCursor(show);
}

BOOL Win32Backend::GetCursorPos(POINT* point) {
    if (point == nullptr) return FALSE;
    return native::getCursorPos(&point->x, &point->y);
}

BOOL Win32Backend::ScreenToClient(HWND window, POINT* point) {
    if (point == nullptr) return FALSE;
    return native::screenToClient(window, &point->x, &point->y);
}

DWORD Win32Backend::GetTickCount() {
    return capturing() ? clock_.read() : native::getTickCount();
}

HWND Win32Backend::GetForegroundWindow() {
    return static_cast<HWND>(native::getForegroundWindow());
}

HMODULE Win32Backend::GetModuleHandleA(const char* moduleName) {
    return static_cast<HMODULE>(native::getModuleHandle(moduleName));
}

void Win32Backend::exit(int status) {
    std::fflush(nullptr);
    std::exit(status);
}

// ---- input ----

void Win32Backend::applyScheduledKeys(BYTE keys[256]) {
    keys_.applyDue(keys, clock_.musicStarted(), clock_.showMs());
}

HRESULT Win32Backend::DirectInput8Create(HINSTANCE instance, DWORD version,
                                         DirectInput8** directInput) {
    if (directInput == nullptr) return DIERR_INVALIDPARAM;
    void* created = nullptr;
    HRESULT result = native::directInput8Create(instance, version, &created);
    *directInput = created != nullptr ? new Win32DirectInput(created, *this) : nullptr;
    return result;
}

// ---- audio ----

BOOL Win32Backend::BASS_Init(int device, DWORD /*frequency*/, DWORD /*flags*/, HWND /*window*/) {
    // The output device is opened when the music plays; without one the music is silent.
    if (device < -1) return FALSE;
    audioReady_ = true;
    return TRUE;
}

HSTREAM Win32Backend::BASS_StreamCreateFile(BOOL memory, const void* file, QWORD offset,
                                            QWORD length, DWORD flags) {
    // Only whole files are played; a stream from memory is not part of the show.
    if (!audioReady_ || memory || file == nullptr || offset != 0 || length != 0) return 0;
    auto player = std::make_unique<MusicPlayer>();
    // A capture is silent: only the music's length is needed, not its samples.
    std::string error;
    if (!player->open(nativePath(static_cast<const char*>(file)), !capturing(), &error)) return 0;
    const Mp3Stream& music = player->stream();
    HSTREAM handle =
        music_.addStream(music.samples, music.sampleRate, (flags & BASS_SAMPLE_LOOP) != 0);
    players_[handle] = std::move(player);
    return handle;
}

void Win32Backend::musicEnded(void* sync) {
    static_cast<const MusicSync*>(sync)->call();
}

HSYNC Win32Backend::BASS_ChannelSetSync(DWORD channel, DWORD type, QWORD /*param*/, SYNCPROC* proc,
                                        void* user) {
    const MusicSync* sync = music_.addSync(channel, type, proc, user);
    if (sync == nullptr) return 0;
    // One end procedure per stream reaches the player; the last one set wins.
    players_[channel]->onEnd(&Win32Backend::musicEnded, const_cast<MusicSync*>(sync));
    return sync->handle;
}

BOOL Win32Backend::BASS_Start() {
    return audioReady_ ? TRUE : FALSE;
}

BOOL Win32Backend::BASS_StreamPlay(HSTREAM stream, BOOL /*flush*/, DWORD flags) {
    // The show's clock starts with the music, whether or not there is any to hear.
    clock_.startMusic();
    if (!music_.play(stream, flags)) return FALSE;
    if (capturing()) return TRUE;
    return players_[stream]->play(music_.looping(stream)) ? TRUE : FALSE;
}
