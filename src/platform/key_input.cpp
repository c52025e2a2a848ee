#include "platform/key_input.h"

#include <cstring>

#include "backend/window_system.h"

KeyInput::KeyInput() : currentKeys{}, previousKeys{}, directInput(nullptr), keyboard(nullptr) {}

KeyInput::~KeyInput() {
    if (keyboard != nullptr) {
        keyboard->Unacquire();
        keyboard->Release();
        keyboard = nullptr;
    }
}

HRESULT KeyInput::init(DirectInput8* input, HWND window) {
    directInput = input;
    HRESULT hr = directInput->CreateDevice(GUID_SysKeyboard, &keyboard);
    if (FAILED(hr)) return hr;
    hr = keyboard->SetDataFormat(&c_dfDIKeyboard);
    if (FAILED(hr)) return hr;
    // Read even when the window is in the background, and leave the keyboard to others too.
    hr = keyboard->SetCooperativeLevel(window, DISCL_NONEXCLUSIVE | DISCL_BACKGROUND);
    if (hr == E_NOTIMPL) {
        MessageBoxA(window, "Error setting DINPUT cooperative level.", "Keyboard", MB_OK);
        return E_NOTIMPL;
    }
    keyboard->Acquire();
    std::memset(currentKeys, 0, sizeof(currentKeys));
    std::memset(previousKeys, 0, sizeof(previousKeys));
    return S_OK;
}

HRESULT KeyInput::poll() {
    if (keyboard == nullptr) return S_OK;
    HRESULT hr = keyboard->GetDeviceState(sizeof(currentKeys), currentKeys);
    if (FAILED(hr)) return hr;
    for (int k = 0; k < 256; ++k) {
        bool wasDown = (previousKeys[k] & 0x80) != 0;
        bool isDown = (currentKeys[k] & 0x80) != 0;
        if (!wasDown && isDown) {
            for (int32_t i = 0; i < count; ++i) items[i]->keyDown(k);
        } else if (wasDown && !isDown) {
            for (int32_t i = 0; i < count; ++i) items[i]->keyUp(k);
        }
        previousKeys[k] = currentKeys[k];
    }
    return hr;
}
