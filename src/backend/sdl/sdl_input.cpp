#include "backend/sdl/sdl_input.h"

#include <cstring>

#include "backend/sdl/scancode_table.h"

HRESULT SdlBackend::DirectInput8Create(HINSTANCE /*instance*/, DWORD version,
                                       DirectInput8** directInput) {
    if (directInput == nullptr) return DIERR_INVALIDPARAM;
    *directInput = nullptr;
    if (version != DIRECTINPUT_VERSION) return DIERR_INVALIDPARAM;
    *directInput = make<SdlDirectInput>(*this);
    return DI_OK;
}

HRESULT SdlDirectInput::CreateDevice(const GUID& guid, DirectInputDevice8** device) {
    if (device == nullptr) return DIERR_INVALIDPARAM;
    *device = nullptr;
    if (!(guid == GUID_SysKeyboard) && !(guid == GUID_SysMouse)) return DIERR_INVALIDPARAM;
    *device = owner_.make<SdlInputDevice>(owner_, guid == GUID_SysKeyboard);
    return DI_OK;
}

HRESULT SdlInputDevice::SetDataFormat(const DIDATAFORMAT* format) {
    const DWORD expected = keyboard_ ? c_dfDIKeyboard.dwDataSize : c_dfDIMouse.dwDataSize;
    if (format == nullptr || format->dwDataSize != expected || acquired_) return DIERR_INVALIDPARAM;
    formatSize_ = format->dwDataSize;
    return DI_OK;
}

HRESULT SdlInputDevice::SetCooperativeLevel(HWND /*window*/, DWORD /*flags*/) {
    return DI_OK;
}

HRESULT SdlInputDevice::Acquire() {
    if (formatSize_ == 0) return DIERR_INVALIDPARAM;
    acquired_ = true;
    return DI_OK;
}

HRESULT SdlInputDevice::Unacquire() {
    // DI_NOEFFECT: there was nothing to release.
    if (!acquired_) return 1;
    acquired_ = false;
    return DI_OK;
}

HRESULT SdlInputDevice::GetDeviceState(DWORD size, void* data) {
    if (data == nullptr || size != formatSize_) return DIERR_INVALIDPARAM;
    if (!acquired_) return DIERR_NOTACQUIRED;
    if (keyboard_) {
        owner_.readKeys(static_cast<BYTE*>(data));
    } else {
        owner_.readMouse(static_cast<DIMOUSESTATE*>(data));
    }
    return DI_OK;
}

void SdlBackend::readKeys(BYTE keys[256]) {
    pumpEvents();
    std::memset(keys, 0, 256);
    int count = 0;
    const Uint8* state = SDL_GetKeyboardState(&count);
    for (int scancode = 0; state != nullptr && scancode < count; ++scancode) {
        if (state[scancode] == 0) continue;
        const int dik = dikFromScancode(scancode);
        if (dik != 0) keys[dik] = 0x80;
    }
    // The show reads the keyboard once a frame and only sees changes between reads: a key
    // pressed and released within one frame (a quick tap, or a synthetic press) would leave no
    // trace. A press seen since the last read therefore reads as down once.
    for (int dik = 0; dik < 256; ++dik) {
        if (latchedKeys_[dik]) keys[dik] = 0x80;
        latchedKeys_[dik] = false;
    }
}

void SdlBackend::readMouse(DIMOUSESTATE* state) {
    pumpEvents();
    std::memset(state, 0, sizeof *state);
    state->lX = motionX_;
    state->lY = motionY_;
    state->lZ = wheel_;
    motionX_ = motionY_ = wheel_ = 0;
    const Uint32 held = SDL_GetMouseState(nullptr, nullptr);
    // DirectInput's button order: left, right, middle, then the first extra button.
    const Uint32 masks[4] = {SDL_BUTTON_LMASK, SDL_BUTTON_RMASK, SDL_BUTTON_MMASK,
                             SDL_BUTTON_X1MASK};
    for (int i = 0; i < 4; ++i) {
        if (((held | latchedButtons_) & masks[i]) != 0) state->rgbButtons[i] = 0x80;
    }
    latchedButtons_ = 0;
}
