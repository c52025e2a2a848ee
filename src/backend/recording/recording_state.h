#pragma once
// Inside the recording backend: the trace, the queued results, the labels that name objects and
// handles in the trace, the simulated window system, input and audio, and the recording
// stand-ins for every object the show receives. Not for use outside backend/recording.
#include <cstdint>
#include <cstdio>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "backend/audio.h"
#include "backend/backend.h"
#include "backend/emulated/emulated_object.h"
#include "backend/graphics.h"
#include "backend/input.h"
#include "backend/recording/trace_format.h"
#include "backend/window_system.h"

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
    // The same for a call that a simulated service refuses with `refusal` when its arguments are
    // not `valid`; a queued failure comes first, as the platform's own would.
    HRESULT result(const std::string& label, const char* operation, bool valid, HRESULT refusal);
    // What a simulated call returns: the next value queued for `operation`, else `simulated`
    // (a value, or a function asked only then, since answering may move the simulation on).
    template <class Result, class Simulated>
    Result scripted(const std::string& label, const char* operation, Simulated simulated) {
        int64_t value = 0;
        if (take(label, operation, &value)) return static_cast<Result>(value);
        if constexpr (std::is_invocable_v<Simulated>) {
            return static_cast<Result>(simulated());
        } else {
            return static_cast<Result>(simulated);
        }
    }
    // Whether a zero is queued for a simulated call that hands out a handle or object; any other
    // queued value is used up and changes nothing.
    bool refused(const char* operation) {
        int64_t value = 0;
        return take("", operation, &value) && value == 0;
    }

    // ---- labels ----
    std::string nextLabel(const std::string& kind);
    // NULL for null, the label a handle was given when first seen, or a new one of `kind`.
    std::string handle(const void* value, const char* kind);
    std::string hwnd(HWND window) { return handle(window, "hwnd"); }
    // A fresh non-null handle value for a simulated service.
    uintptr_t newHandleValue() { return nextHandleValue += 0x10; }

    // The stand-in a creating call hands the show: one around what a wrapped service made, or
    // for a simulated service a new one when the call succeeded; otherwise null. `label` is asked
    // for only when one is made, so that a failed call numbers nothing.
    template <class StandInType, class Inner, class Label, class... Extra>
    StandInType* standIn(HRESULT hr, bool forwarded, Inner* inner, Label label, Extra... extra) {
        if (FAILED(hr) || (forwarded && inner == nullptr)) return nullptr;
        return objects.make<StandInType>(*this, inner, label(), extra...);
    }

    // Every stand-in handed out; kept until the recorder goes, so that a Release that drops the
    // last reference never leaves the show with a dangling pointer.
    ObjectStore objects;

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
};

// ---- stand-ins ----

// What every stand-in shares: the recorder it reports to, the object it wraps (null when it is
// simulated), the label that names it in the trace, and its references.
template <class Interface>
class StandIn : public Interface, public EmulatedObject {
  public:
    StandIn(RecordingState& state, Interface* inner, std::string label)
        : state_(state), inner_(inner), label_(std::move(label)) {}

    ULONG Release() override {
        ULONG left = inner_ != nullptr ? inner_->Release() : dropReference();
        state_.emit(TraceLine("Release").word(label_).arrow().natural(left));
        return left;
    }

    Interface* inner() const { return inner_; }
    const std::string& label() const { return label_; }

  protected:
    // Records a call on this object whose arguments are all whole numbers.
    template <class... Numbers>
    HRESULT logged(const char* operation, HRESULT hr, Numbers... numbers) {
        state_.emit(TraceLine(operation).word(label_).numbers(numbers...).arrow().result(hr));
        return hr;
    }

    // A call whose arguments are all whole numbers, handed on as they are; simulated, it does
    // nothing but return the queued result.
    template <class... Parameters, class... Numbers>
    HRESULT recorded(const char* operation, HRESULT (Interface::*call)(Parameters...),
                     Numbers... numbers) {
        HRESULT hr =
            inner_ != nullptr ? (inner_->*call)(numbers...) : state_.result(label_, operation);
        return logged(operation, hr, numbers...);
    }

    RecordingState& state_;
    Interface* const inner_;
    const std::string label_;
};

// Objects handed to the recorder are its own stand-ins; anything else is passed on unchanged.
template <class Interface>
Interface* innerOf(Interface* object) {
    static_assert(std::is_abstract_v<Interface>, "ask with the interface the show holds");
    auto* standIn = dynamic_cast<StandIn<Interface>*>(object);
    return standIn != nullptr ? standIn->inner() : object;
}

// An object's label in the trace: `absent` for none, foreign for one the recorder did not make.
template <class Interface>
std::string labelOf(Interface* object, const char* absent = "NULL") {
    static_assert(std::is_abstract_v<Interface>, "ask with the interface the show holds");
    if (object == nullptr) return absent;
    auto* standIn = dynamic_cast<StandIn<Interface>*>(object);
    return standIn != nullptr ? standIn->label() : "foreign";
}

// ---- graphics stand-ins ----

class RecordingTexture final : public StandIn<Direct3DTexture9> {
  public:
    RecordingTexture(RecordingState& state, Direct3DTexture9* inner, std::string label, UINT width,
                     UINT height, D3DFORMAT format)
        : StandIn(state, inner, std::move(label)),
          width_(width),
          height_(height),
          format_(format) {}

    HRESULT LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) override;
    HRESULT UnlockRect(UINT level) override;

    // Simulated texel memory of level 0 (empty until first locked) and its pitch.
    std::vector<uint8_t>& bits();
    INT pitch() const;
    bool sameShape(const RecordingTexture& other) const {
        return width_ == other.width_ && height_ == other.height_ && format_ == other.format_;
    }

  private:
    bool hasTexelSize() const;

    UINT width_;
    UINT height_;
    D3DFORMAT format_;
    std::vector<uint8_t> bits_;
    // What the current lock handed out, so that the unlock can describe the content.
    bool locked_ = false;
    const uint8_t* lockedBase_ = nullptr;
    INT lockedPitch_ = 0;
};

class RecordingVertexBuffer final : public StandIn<Direct3DVertexBuffer9> {
  public:
    RecordingVertexBuffer(RecordingState& state, Direct3DVertexBuffer9* inner, std::string label,
                          UINT length, DWORD fvf)
        : StandIn(state, inner, std::move(label)), length_(length), fvf_(fvf) {}

    HRESULT Lock(UINT offset, UINT size, void** data, DWORD flags) override;
    HRESULT Unlock() override;

  private:
    UINT length_;
    DWORD fvf_;
    std::vector<uint8_t> bytes_;
    bool locked_ = false;
    const uint8_t* lockedData_ = nullptr;
    UINT lockedSize_ = 0;
};

class RecordingDevice final : public StandIn<Direct3DDevice9> {
  public:
    using StandIn::StandIn;

    QM_DEVICE_OVERRIDES;
};

class RecordingDirect3D final : public StandIn<Direct3D9> {
  public:
    using StandIn::StandIn;

    HRESULT GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode) override;
    HRESULT CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focusWindow, DWORD behaviorFlags,
                         D3DPRESENT_PARAMETERS* presentParameters,
                         Direct3DDevice9** device) override;
};

class RecordingLine final : public StandIn<D3DXLine> {
  public:
    using StandIn::StandIn;

    HRESULT Begin() override;
    HRESULT DrawTransform(const D3DXVECTOR3* vertices, DWORD count, const D3DXMATRIX* transform,
                          D3DCOLOR color) override;
    HRESULT End() override;
};

class RecordingFont final : public StandIn<D3DXFont> {
  public:
    RecordingFont(RecordingState& state, D3DXFont* inner, std::string label, INT height)
        : StandIn(state, inner, std::move(label)), height_(height) {}

    INT DrawTextA(const char* text, INT count, RECT* rect, DWORD format, D3DCOLOR color) override;

  private:
    INT height_;
};

// ---- input stand-ins ----

class RecordingInputDevice final : public StandIn<DirectInputDevice8> {
  public:
    RecordingInputDevice(RecordingState& state, DirectInputDevice8* inner, std::string label,
                         bool keyboard)
        : StandIn(state, inner, std::move(label)), keyboard_(keyboard) {}

    HRESULT SetDataFormat(const DIDATAFORMAT* format) override;
    HRESULT SetCooperativeLevel(HWND window, DWORD flags) override;
    HRESULT Acquire() override;
    HRESULT Unacquire() override;
    HRESULT GetDeviceState(DWORD size, void* data) override;

  private:
    HRESULT simulateRead(DWORD size, void* data);

    bool keyboard_;
    DWORD formatSize_ = 0;
    // Kept for a wrapped device too, though only a simulated one's reads look at it.
    bool acquired_ = false;
};

class RecordingDirectInput final : public StandIn<DirectInput8> {
  public:
    using StandIn::StandIn;

    HRESULT CreateDevice(const GUID& guid, DirectInputDevice8** device) override;
};
