#include "platform/user_input.h"

#include "backend/window_system.h"

UserInput::UserInput() : directInput(nullptr) {}

// The DirectInput object outlives the devices: it stays until the process ends.
UserInput::~UserInput() = default;

void UserInput::init(HWND window) {
    HRESULT hr = DirectInput8Create(GetModuleHandleA(nullptr), DIRECTINPUT_VERSION, &directInput);
    if (FAILED(hr)) return;
    if (FAILED(MouseInput::init(directInput, window))) return;
    KeyInput::init(directInput, window);
}
