#pragma once
#include "platform/key_listener.h"

// The show's listener: the function keys, Num Lock and keypad divide flip the debug switches.
class KeyChecker : public KeyListener {
  public:
    void keyDown(int key) override;
    void keyUp(int key) override;
};
