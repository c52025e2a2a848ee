#include <cstdio>
#include <cstring>

#include "backend/recording/recording_backend.h"
#include "backend/recording/recording_state.h"

namespace {

std::string guidName(const GUID& guid) {
    if (guid == GUID_SysKeyboard) return "GUID_SysKeyboard";
    if (guid == GUID_SysMouse) return "GUID_SysMouse";
    char text[48];
    std::snprintf(text, sizeof(text), "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0],
                  guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                  guid.Data4[6], guid.Data4[7]);
    return text;
}

std::string formatName(const DIDATAFORMAT* format) {
    if (format == nullptr) return "NULL";
    if (format == &c_dfDIKeyboard) return "c_dfDIKeyboard";
    if (format == &c_dfDIMouse) return "c_dfDIMouse";
    return "[" + std::to_string(format->dwDataSize) + "]";
}

// What a read handed back: the codes of the keys down, or the mouse record.
void describeState(TraceLine& line, DWORD size, const void* data) {
    const auto* bytes = static_cast<const BYTE*>(data);
    if (size == 256) {
        line.open();
        for (int key = 0; key < 256; ++key) {
            if ((bytes[key] & 0x80) != 0) line.integer(key);
        }
        line.close();
    } else if (size == sizeof(DIMOUSESTATE)) {
        DIMOUSESTATE state;
        std::memcpy(&state, data, sizeof(state));
        line.open().integer(state.lX).integer(state.lY).integer(state.lZ);
        for (BYTE button : state.rgbButtons) line.natural(button);
        line.close();
    }
}

// Successive reads take queued states in turn; the last one stays.
template <class State>
State nextState(std::deque<State>& states, const State& none) {
    if (states.empty()) return none;
    State state = states.front();
    if (states.size() > 1) states.pop_front();
    return state;
}

}  // namespace

HRESULT RecordingInputDevice::SetDataFormat(const DIDATAFORMAT* format) {
    HRESULT hr = inner_ != nullptr ? inner_->SetDataFormat(format)
                                   : state_.result(label_, "SetDataFormat", format != nullptr,
                                                   DIERR_INVALIDPARAM);
    if (SUCCEEDED(hr) && format != nullptr) formatSize_ = format->dwDataSize;
    state_.emit(
        TraceLine("SetDataFormat").word(label_).word(formatName(format)).arrow().result(hr));
    return hr;
}

HRESULT RecordingInputDevice::SetCooperativeLevel(HWND window, DWORD flags) {
    HRESULT hr = inner_ != nullptr ? inner_->SetCooperativeLevel(window, flags)
                                   : state_.result(label_, "SetCooperativeLevel");
    state_.emit(TraceLine("SetCooperativeLevel")
                    .word(label_)
                    .word(state_.hwnd(window))
                    .natural(flags)
                    .arrow()
                    .result(hr));
    return hr;
}

HRESULT RecordingInputDevice::Acquire() {
    // Without a data format there is nothing to acquire.
    HRESULT hr = inner_ != nullptr
                     ? inner_->Acquire()
                     : state_.result(label_, "Acquire", formatSize_ != 0, DIERR_INVALIDPARAM);
    if (SUCCEEDED(hr)) acquired_ = true;
    return logged("Acquire", hr);
}

HRESULT RecordingInputDevice::Unacquire() {
    HRESULT hr = recorded("Unacquire", &DirectInputDevice8::Unacquire);
    if (SUCCEEDED(hr)) acquired_ = false;
    return hr;
}

HRESULT RecordingInputDevice::simulateRead(DWORD size, void* data) {
    HRESULT hr = state_.result(label_, "GetDeviceState");
    if (FAILED(hr)) return hr;
    if (data == nullptr || formatSize_ == 0 || size != formatSize_) return DIERR_INVALIDPARAM;
    if (!acquired_) return DIERR_NOTACQUIRED;
    if (keyboard_ && size == 256) {
        std::vector<BYTE> keys = nextState(state_.keyboardStates, std::vector<BYTE>(256, 0));
        std::memcpy(data, keys.data(), 256);
    } else if (!keyboard_ && size == sizeof(DIMOUSESTATE)) {
        DIMOUSESTATE mouse = nextState(state_.mouseStates, DIMOUSESTATE{});
        std::memcpy(data, &mouse, sizeof(mouse));
    } else {
        std::memset(data, 0, size);
    }
    return hr;
}

HRESULT RecordingInputDevice::GetDeviceState(DWORD size, void* data) {
    HRESULT hr = inner_ != nullptr ? inner_->GetDeviceState(size, data) : simulateRead(size, data);
    TraceLine line("GetDeviceState");
    line.word(label_).natural(size).arrow().result(hr);
    if (SUCCEEDED(hr) && data != nullptr) describeState(line, size, data);
    state_.emit(line);
    return hr;
}

HRESULT RecordingDirectInput::CreateDevice(const GUID& guid, DirectInputDevice8** device) {
    bool keyboard = guid == GUID_SysKeyboard;
    bool mouse = guid == GUID_SysMouse;
    DirectInputDevice8* inner = nullptr;
    HRESULT hr = inner_ != nullptr
                     ? inner_->CreateDevice(guid, &inner)
                     : state_.result(label_, "CreateDevice",
                                     device != nullptr && (keyboard || mouse), DIERR_INVALIDPARAM);
    DirectInputDevice8* made = state_.standIn<RecordingInputDevice>(
        hr, inner_ != nullptr, inner,
        [&] {
            return state_.nextLabel(keyboard ? "keyboard" : mouse ? "mouse" : "inputdevice");
        },
        keyboard);
    if (device != nullptr) *device = made;
    state_.emit(TraceLine("CreateDevice")
                    .word(label_)
                    .word(guidName(guid))
                    .arrow()
                    .result(hr)
                    .word(labelOf(made)));
    return hr;
}

HRESULT RecordingBackend::DirectInput8Create(HINSTANCE instance, DWORD version,
                                             DirectInput8** directInput) {
    RecordingState& s = *state_;
    bool forwarded = s.inner.input != nullptr;
    DirectInput8* inner = nullptr;
    HRESULT hr =
        forwarded ? s.inner.input->DirectInput8Create(instance, version, &inner)
                  : s.result("", "DirectInput8Create", directInput != nullptr, DIERR_INVALIDPARAM);
    DirectInput8* made = s.standIn<RecordingDirectInput>(hr, forwarded, inner,
                                                         [&s] { return s.nextLabel("dinput"); });
    if (directInput != nullptr) *directInput = made;
    s.emit(TraceLine("DirectInput8Create")
               .word(s.handle(instance, "hinstance"))
               .natural(version)
               .arrow()
               .result(hr)
               .word(labelOf(made)));
    return hr;
}
