#include "platform/mouse_input.h"

#include <cstring>

#include "backend/window_system.h"

MouseInput::MouseInput() : directInput(nullptr), mouse(nullptr) {}

MouseInput::~MouseInput() {
    if (mouse != nullptr) {
        mouse->Unacquire();
        mouse->Release();
        mouse = nullptr;
    }
}

HRESULT MouseInput::init(DirectInput8* input, HWND window) {
    directInput = input;
    HRESULT hr = directInput->CreateDevice(GUID_SysMouse, &mouse);
    if (FAILED(hr)) return hr;
    hr = mouse->SetDataFormat(&c_dfDIMouse);
    if (FAILED(hr)) return hr;
    hr = mouse->SetCooperativeLevel(window, DISCL_NONEXCLUSIVE | DISCL_BACKGROUND);
    if (hr == E_NOTIMPL) {
        MessageBoxA(window, "Error setting DINPUT cooperative level.", "Mouse", MB_OK);
        return E_NOTIMPL;
    }
    mouse->Acquire();
    return S_OK;
}

int MouseInput::getState(DIMOUSESTATE* out) {
    if (mouse == nullptr) return 0;
    // The read must ask for exactly the standard mouse record, or the device refuses it.
    std::memset(out, 0, sizeof(DIMOUSESTATE));
    mouse->GetDeviceState(sizeof(DIMOUSESTATE), out);
    return 0;
}
