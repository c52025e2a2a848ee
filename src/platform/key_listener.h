#pragma once

// Receives the keyboard's key-down and key-up events; `key` is a scan code (0 to 255).
// Listeners are never deleted through this interface.
class KeyListener {
  public:
    virtual void keyDown(int key) = 0;
    virtual void keyUp(int key) = 0;

  protected:
    ~KeyListener() = default;
};
