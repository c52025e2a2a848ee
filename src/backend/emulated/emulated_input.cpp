#include "backend/emulated/emulated_input.h"

#include <cstring>

namespace {

class EmulatedInputDevice final : public DirectInputDevice8, public EmulatedObject {
  public:
    EmulatedInputDevice(EmulatedInput& owner, bool keyboard) : owner_(owner), keyboard_(keyboard) {}

    HRESULT SetDataFormat(const DIDATAFORMAT* format) override {
        const DWORD expected = keyboard_ ? c_dfDIKeyboard.dwDataSize : c_dfDIMouse.dwDataSize;
        if (format == nullptr || format->dwDataSize != expected || acquired_)
            return DIERR_INVALIDPARAM;
        formatSize_ = format->dwDataSize;
        return DI_OK;
    }
    HRESULT SetCooperativeLevel(HWND /*window*/, DWORD /*flags*/) override { return DI_OK; }
    HRESULT Acquire() override {
        if (formatSize_ == 0) return DIERR_INVALIDPARAM;
        acquired_ = true;
        return DI_OK;
    }
    HRESULT Unacquire() override {
        // DI_NOEFFECT: there was nothing to release.
        if (!acquired_) return 1;
        acquired_ = false;
        return DI_OK;
    }
    HRESULT GetDeviceState(DWORD size, void* data) override {
        if (data == nullptr || size != formatSize_) return DIERR_INVALIDPARAM;
        if (!acquired_) return DIERR_NOTACQUIRED;
        if (keyboard_) {
            owner_.readKeys(static_cast<BYTE*>(data));
        } else {
            owner_.readMouse(static_cast<DIMOUSESTATE*>(data));
        }
        return DI_OK;
    }
    ULONG Release() override { return dropReference(); }

  private:
    EmulatedInput& owner_;
    bool keyboard_;
    DWORD formatSize_ = 0;
    bool acquired_ = false;
};

class EmulatedDirectInput final : public DirectInput8, public EmulatedObject {
  public:
    EmulatedDirectInput(EmulatedInput& owner, ObjectStore& objects)
        : owner_(owner), objects_(objects) {}

    HRESULT CreateDevice(const GUID& guid, DirectInputDevice8** device) override {
        if (device == nullptr) return DIERR_INVALIDPARAM;
        *device = nullptr;
        if (!(guid == GUID_SysKeyboard) && !(guid == GUID_SysMouse)) return DIERR_INVALIDPARAM;
        *device = objects_.make<EmulatedInputDevice>(owner_, guid == GUID_SysKeyboard);
        return DI_OK;
    }
    ULONG Release() override { return dropReference(); }

  private:
    EmulatedInput& owner_;
    ObjectStore& objects_;
};

}  // namespace

HRESULT EmulatedInput::DirectInput8Create(HINSTANCE /*instance*/, DWORD version,
                                          DirectInput8** directInput) {
    if (directInput == nullptr) return DIERR_INVALIDPARAM;
    *directInput = nullptr;
    if (version != DIRECTINPUT_VERSION) return DIERR_INVALIDPARAM;
    *directInput = objects_.make<EmulatedDirectInput>(*this, objects_);
    return DI_OK;
}

void EmulatedInput::readMouse(DIMOUSESTATE* state) {
    std::memset(state, 0, sizeof *state);
}
