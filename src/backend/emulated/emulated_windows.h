#pragma once
// The window system as every backend but the native one emulates it: window classes and
// windows with their procedures, the message queue, the default window procedure, message
// boxes as lines (and dialogs where the backend can show them), the cursor's display count,
// handles, and the quit message that stops the show when its frame host says so.
//
// A backend derives from it and supplies what is its own through the hooks below: a real window
// behind the show's, events turned into messages, the millisecond tick, the pointer.
#include <cstdio>
#include <map>
#include <string>

#include "backend/frame_host.h"
#include "backend/message_queue.h"
#include "backend/window_system.h"

class EmulatedWindowSystem : public WindowSystem {
  public:
    explicit EmulatedWindowSystem(std::FILE* messages) : messages_(messages) {}
    // The windows and their queue belong to one backend: it is never copied.
    EmulatedWindowSystem(const EmulatedWindowSystem&) = delete;
    EmulatedWindowSystem& operator=(const EmulatedWindowSystem&) = delete;

    // Where frames begin, the frame limit, a capture's window and the trace's frame lines.
    FrameHost& frames() { return frames_; }

    QM_WINDOW_SYSTEM_OVERRIDES;

  protected:
    // ---- what a backend supplies ----
    // The millisecond tick.
    virtual DWORD readTick() = 0;
    // The time stamped on a message made here (the quit message).
    virtual DWORD messageTime() { return 0; }
    // Turns the backend's waiting events into messages (posted to messages()).
    virtual void pumpEvents() {}
    // Waits a while for events; false when nothing can ever arrive, so GetMessageA fails
    // instead of waiting forever.
    virtual bool waitForEvents() { return false; }
    // A real window for the show's window; false when none can be made.
    virtual bool openWindow(const char* /*title*/, DWORD /*style*/, int /*width*/, int /*height*/) {
        return true;
    }
    virtual void closeWindow() {}
    // Shows the real window; returns whether it was visible before.
    virtual bool showWindow() { return false; }
    virtual void repaintWindow() {}
    // The cursor is to be shown (display count not negative and a cursor set) or hidden.
    virtual void cursorShown(bool /*shown*/) {}
    // The pointer on the screen; false when it cannot be read.
    virtual bool pointerPosition(POINT* point) {
        *point = POINT{0, 0};
        return true;
    }
    // Screen to client coordinates of the show's window; false when it cannot be done.
    virtual bool screenToClient(POINT* /*point*/) { return true; }
    // A message box as a dialog, where the backend can show one.
    virtual void showDialog(const char* /*caption*/, const char* /*text*/) {}
    // Called before the process exits: stop threads, give the display back.
    virtual void beforeExit() {}

    MessageQueue& messages() { return queue_; }
    // The show's window, or null.
    HWND shownWindow() const { return lastWindow_; }
    uintptr_t newHandle() { return nextHandle_ += 0x10; }

  private:
    void applyCursor() { cursorShown(cursorCount_ >= 0 && cursor_ != nullptr); }

    std::FILE* messages_;
    FrameHost frames_;
    MessageQueue queue_;
    std::map<std::string, WNDPROC> classes_;
    std::map<HWND, WNDPROC> windows_;
    HWND lastWindow_ = nullptr;
    uintptr_t nextHandle_ = 0x1000;
    HMODULE module_ = nullptr;
    HCURSOR arrow_ = nullptr;
    HCURSOR cursor_ = nullptr;
    int cursorCount_ = 0;
};
