#pragma once
// The input service: DirectInput 8 with the keyboard and the mouse devices. Argument lists
// follow the platform, without the interface identifier and aggregation pointer that the show
// always passes with one fixed value.
#include "backend/backend.h"
#include "backend/platform_constants.h"
#include "backend/platform_types.h"

class DirectInputDevice8 {
  public:
    // c_dfDIKeyboard or c_dfDIMouse.
    virtual HRESULT SetDataFormat(const DIDATAFORMAT* format) = 0;
    virtual HRESULT SetCooperativeLevel(HWND window, DWORD flags) = 0;
    virtual HRESULT Acquire() = 0;
    virtual HRESULT Unacquire() = 0;
    // `size` must be the data format's size: 256 key bytes, or a DIMOUSESTATE.
    virtual HRESULT GetDeviceState(DWORD size, void* data) = 0;
    virtual ULONG Release() = 0;

  protected:
    virtual ~DirectInputDevice8() = default;
};

class DirectInput8 {
  public:
    // GUID_SysKeyboard or GUID_SysMouse. On failure *device is null.
    virtual HRESULT CreateDevice(const GUID& guid, DirectInputDevice8** device) = 0;
    virtual ULONG Release() = 0;

  protected:
    virtual ~DirectInput8() = default;
};

class InputSystem {
  public:
    virtual ~InputSystem() = default;

    // On failure *directInput is null.
    virtual HRESULT DirectInput8Create(HINSTANCE instance, DWORD version,
                                       DirectInput8** directInput) = 0;
};

inline HRESULT DirectInput8Create(HINSTANCE instance, DWORD version, DirectInput8** directInput) {
    return backend().input->DirectInput8Create(instance, version, directInput);
}
