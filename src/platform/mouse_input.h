#pragma once
#include "backend/input.h"
#include "backend/platform_types.h"

// The mouse: hands out the raw state record, axes relative to the previous read.
class MouseInput {
  public:
    MouseInput();
    virtual ~MouseInput();
    MouseInput(const MouseInput&) = delete;
    MouseInput& operator=(const MouseInput&) = delete;

    HRESULT init(DirectInput8* directInput, HWND window);
    // Always 0. With a device, *out is cleared and then read (a failed read leaves zeros);
    // without one it is left as it was.
    int getState(DIMOUSESTATE* out);

    DirectInput8* directInput;
    DirectInputDevice8* mouse;
};
