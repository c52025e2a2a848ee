#pragma once
#include "backend/input.h"
#include "backend/platform_types.h"
#include "foundation/vector.h"
#include "platform/key_listener.h"

// The keyboard. It is itself the list of its listeners (registered with add, not owned) and
// turns the difference between two reads of the 256 key bytes into events.
class KeyInput : public Vector<KeyListener*> {
  public:
    KeyInput();
    ~KeyInput() override;
    KeyInput(const KeyInput&) = delete;
    KeyInput& operator=(const KeyInput&) = delete;

    HRESULT init(DirectInput8* directInput, HWND window);
    // Reads the keys and sends the events in key-code order; a failed read sends nothing and
    // keeps the previous state.
    HRESULT poll();

    BYTE currentKeys[256];
    BYTE previousKeys[256];
    DirectInput8* directInput;
    DirectInputDevice8* keyboard;
};
