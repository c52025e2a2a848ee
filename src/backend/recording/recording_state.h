#pragma once
// Inside the recording backend: the trace, the queued results, the labels that name objects and
// handles in the trace, the simulated window system, input and audio, and the recording
// stand-ins for every object the show receives. Not for use outside backend/recording.
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
#include "backend/graphics.h"
#include "backend/input.h"
#include "backend/recording/trace_format.h"
#include "backend/window_system.h"

// Every stand-in the recorder hands out; the recorder owns them until it is destroyed, so a
// Release that drops the last reference never leaves the show with a dangling pointer.
struct RecordingObject {
    virtual ~RecordingObject() = default;
};

struct RecordingState {
    explicit RecordingState(const Backend& wrapped) : inner(wrapped) {}

    // Services to forward to; a null service is simulated.
    Backend inner;

    // ---- trace ----
    void emit(const TraceLine& line);
    std::vector<std::string> lines() const;
    void clear();
    void keep(bool on);
    void writeTo(std::FILE* out);
    void flush();

    // ---- queued results ----
    void queue(const std::string& operation, int64_t value, int times);
    // Takes the next queued value for `operation` on the object `label` (label may be empty).
    bool take(const std::string& label, const char* operation, int64_t* value);
    // The queued result code, or S_OK.
    HRESULT result(const std::string& label, const char* operation);

    // ---- labels ----
    std::string nextLabel(const std::string& kind);
    // NULL for null, the label a handle was given when first seen, or a new one of `kind`.
    std::string handle(const void* value, const char* kind);
    // A fresh non-null handle value for a simulated service.
    uintptr_t newHandleValue() { return nextHandleValue += 0x10; }

    template <class T, class... Args>
    T* make(Args&&... args) {
        auto object = std::make_unique<T>(std::forward<Args>(args)...);
        T* raw = object.get();
        objects.push_back(std::move(object));
        return raw;
    }

    // ---- simulated window system ----
    DWORD clock = 0;
    DWORD clockStep = 0;
    std::deque<MSG> messages;
    bool quitPosted = false;
    int quitCode = 0;
    ATOM nextAtom = 0xC000;
    std::map<std::string, WNDPROC> classes;
    std::map<HWND, WNDPROC> windows;
    HWND lastWindow = nullptr;
    HINSTANCE module = nullptr;
    HCURSOR currentCursor = nullptr;
    int cursorCount = 0;
    POINT cursor = {0, 0};
    POINT clientOrigin = {0, 0};

    // ---- simulated input ----
    std::deque<std::vector<BYTE>> keyboardStates;
    std::deque<DIMOUSESTATE> mouseStates;

    // ---- simulated graphics ----
    INT pitchPadding = 0;

    // ---- audio ----
    struct Sync {
        RecordingState* state;
        HSYNC handle;
        DWORD channel;
        DWORD type;
        SYNCPROC* proc;
        void* user;
    };
    // A deque keeps every Sync where it is: a forwarded sync carries its address as user data.
    std::deque<Sync> syncs;
    DWORD nextStream = 0;
    DWORD nextSync = 0;

  private:
    mutable std::mutex traceMutex;
    std::vector<std::string> kept;
    bool keeping = true;
    std::FILE* output = nullptr;

    std::map<std::string, std::deque<int64_t>> queued;
    std::map<std::string, int> counters;
    std::map<const void*, std::string> handles;
    uintptr_t nextHandleValue = 0x1000;

    std::vector<std::unique_ptr<RecordingObject>> objects;
};

// ---- graphics stand-ins ----

class RecordingTexture final : public Direct3DTexture9, public RecordingObject {
  public:
    RecordingTexture(RecordingState& state, Direct3DTexture9* inner, std::string label, UINT width,
                     UINT height, D3DFORMAT format)
        : state_(state),
          inner_(inner),
          label_(std::move(label)),
          width_(width),
          height_(height),
          format_(format) {}

    HRESULT LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) override;
    HRESULT UnlockRect(UINT level) override;
    ULONG Release() override;

    Direct3DTexture9* inner() const { return inner_; }
    const std::string& label() const { return label_; }
    // Simulated texel memory of level 0 (empty until first locked) and its pitch.
    std::vector<uint8_t>& bits();
    INT pitch() const;
    bool sameShape(const RecordingTexture& other) const {
        return width_ == other.width_ && height_ == other.height_ && format_ == other.format_;
    }

  private:
    bool hasTexelSize() const;

    RecordingState& state_;
    Direct3DTexture9* inner_;
    std::string label_;
    UINT width_;
    UINT height_;
    D3DFORMAT format_;
    std::vector<uint8_t> bits_;
    ULONG references_ = 1;
    // What the current lock handed out, so that the unlock can describe the content.
    bool locked_ = false;
    const uint8_t* lockedBase_ = nullptr;
    INT lockedPitch_ = 0;
};

class RecordingVertexBuffer final : public Direct3DVertexBuffer9, public RecordingObject {
  public:
    RecordingVertexBuffer(RecordingState& state, Direct3DVertexBuffer9* inner, std::string label,
                          UINT length, DWORD fvf)
        : state_(state), inner_(inner), label_(std::move(label)), length_(length), fvf_(fvf) {}

    HRESULT Lock(UINT offset, UINT size, void** data, DWORD flags) override;
    HRESULT Unlock() override;
    ULONG Release() override;

    Direct3DVertexBuffer9* inner() const { return inner_; }
    const std::string& label() const { return label_; }

  private:
    RecordingState& state_;
    Direct3DVertexBuffer9* inner_;
    std::string label_;
    UINT length_;
    DWORD fvf_;
    std::vector<uint8_t> bytes_;
    ULONG references_ = 1;
    bool locked_ = false;
    const uint8_t* lockedData_ = nullptr;
    UINT lockedSize_ = 0;
};

class RecordingDevice final : public Direct3DDevice9, public RecordingObject {
  public:
    RecordingDevice(RecordingState& state, Direct3DDevice9* inner, std::string label)
        : state_(state), inner_(inner), label_(std::move(label)) {}

    HRESULT Clear(DWORD flags, D3DCOLOR color, float z, DWORD stencil) override;
    HRESULT BeginScene() override;
    HRESULT EndScene() override;
    HRESULT Present() override;
    HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override;
    HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) override;
    HRESULT SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) override;
    HRESULT SetTexture(DWORD stage, Direct3DTexture9* texture) override;
    HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DXMATRIX* matrix) override;
    HRESULT CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                               Direct3DVertexBuffer9** vertexBuffer) override;
    HRESULT SetStreamSource(UINT stream, Direct3DVertexBuffer9* vertexBuffer, UINT offset,
                            UINT stride) override;
    HRESULT SetFVF(DWORD fvf) override;
    HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) override;
    HRESULT UpdateTexture(Direct3DTexture9* source, Direct3DTexture9* destination) override;
    ULONG Release() override;

    Direct3DDevice9* inner() const { return inner_; }
    const std::string& label() const { return label_; }

  private:
    HRESULT simple(const char* operation, HRESULT forwarded);

    RecordingState& state_;
    Direct3DDevice9* inner_;
    std::string label_;
    ULONG references_ = 1;
};

class RecordingDirect3D final : public Direct3D9, public RecordingObject {
  public:
    RecordingDirect3D(RecordingState& state, Direct3D9* inner, std::string label)
        : state_(state), inner_(inner), label_(std::move(label)) {}

    HRESULT GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode) override;
    HRESULT CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focusWindow, DWORD behaviorFlags,
                         D3DPRESENT_PARAMETERS* presentParameters,
                         Direct3DDevice9** device) override;
    ULONG Release() override;

  private:
    RecordingState& state_;
    Direct3D9* inner_;
    std::string label_;
    ULONG references_ = 1;
};

class RecordingLine final : public D3DXLine, public RecordingObject {
  public:
    RecordingLine(RecordingState& state, D3DXLine* inner, std::string label)
        : state_(state), inner_(inner), label_(std::move(label)) {}

    HRESULT Begin() override;
    HRESULT DrawTransform(const D3DXVECTOR3* vertices, DWORD count, const D3DXMATRIX* transform,
                          D3DCOLOR color) override;
    HRESULT End() override;
    ULONG Release() override;

  private:
    RecordingState& state_;
    D3DXLine* inner_;
    std::string label_;
    ULONG references_ = 1;
};

class RecordingFont final : public D3DXFont, public RecordingObject {
  public:
    RecordingFont(RecordingState& state, D3DXFont* inner, std::string label, INT height)
        : state_(state), inner_(inner), label_(std::move(label)), height_(height) {}

    INT DrawTextA(const char* text, INT count, RECT* rect, DWORD format, D3DCOLOR color) override;
    ULONG Release() override;

  private:
    RecordingState& state_;
    D3DXFont* inner_;
    std::string label_;
    INT height_;
    ULONG references_ = 1;
};

// ---- input stand-ins ----

class RecordingInputDevice final : public DirectInputDevice8, public RecordingObject {
  public:
    RecordingInputDevice(RecordingState& state, DirectInputDevice8* inner, std::string label,
                         bool keyboard)
        : state_(state), inner_(inner), label_(std::move(label)), keyboard_(keyboard) {}

    HRESULT SetDataFormat(const DIDATAFORMAT* format) override;
    HRESULT SetCooperativeLevel(HWND window, DWORD flags) override;
    HRESULT Acquire() override;
    HRESULT Unacquire() override;
    HRESULT GetDeviceState(DWORD size, void* data) override;
    ULONG Release() override;

  private:
    HRESULT simulateRead(DWORD size, void* data);

    RecordingState& state_;
    DirectInputDevice8* inner_;
    std::string label_;
    bool keyboard_;
    DWORD formatSize_ = 0;
    bool acquired_ = false;
    ULONG references_ = 1;
};

class RecordingDirectInput final : public DirectInput8, public RecordingObject {
  public:
    RecordingDirectInput(RecordingState& state, DirectInput8* inner, std::string label)
        : state_(state), inner_(inner), label_(std::move(label)) {}

    HRESULT CreateDevice(const GUID& guid, DirectInputDevice8** device) override;
    ULONG Release() override;

  private:
    RecordingState& state_;
    DirectInput8* inner_;
    std::string label_;
    ULONG references_ = 1;
};

// Release for a stand-in: forwards or counts down, and records the references left.
template <class Inner>
ULONG releaseStandIn(RecordingState& state, const std::string& label, Inner* inner,
                     ULONG& references) {
    ULONG left = inner != nullptr ? inner->Release() : (references > 0 ? --references : 0);
    state.emit(TraceLine("Release").word(label).arrow().natural(left));
    return left;
}
