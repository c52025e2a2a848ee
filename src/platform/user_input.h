#pragma once
#include "backend/input.h"
#include "backend/platform_types.h"
#include "platform/key_input.h"
#include "platform/mouse_input.h"

// Mouse and keyboard made from one DirectInput object.
class UserInput : public MouseInput, public KeyInput {
  public:
    UserInput();
    ~UserInput() override;

    // Without DirectInput no device is made; without a mouse the keyboard is not set up either.
    void init(HWND window);

    DirectInput8* directInput;
};
