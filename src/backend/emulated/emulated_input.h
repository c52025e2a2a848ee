#pragma once
// DirectInput 8 as every backend but the native one emulates it: the DirectInput object and the
// keyboard and mouse devices with their data formats, acquisition and results. What the devices
// read comes from the backend: readKeys and readMouse.
#include "backend/emulated/emulated_object.h"
#include "backend/input.h"

class EmulatedInput : public InputSystem {
  public:
    HRESULT DirectInput8Create(HINSTANCE instance, DWORD version,
                               DirectInput8** directInput) override;

    // The 256 key bytes in DirectInput numbering, for one read of the keyboard.
    virtual void readKeys(BYTE keys[256]) = 0;
    // One read of the mouse; without a pointer, no motion and no buttons.
    virtual void readMouse(DIMOUSESTATE* state);

  private:
    ObjectStore objects_;
};
