#pragma once
// A window's message queue as the platform keeps it: posted messages in order, and the quit
// message, which is handed out only when nothing else waits.
#include <deque>

#include "backend/platform_types.h"

class MessageQueue {
  public:
    void post(const MSG& message) { waiting_.push_back(message); }
    void postQuit(int exitCode) {
        quitPosted_ = true;
        quitCode_ = exitCode;
    }
    // The next message (left in the queue unless `remove`); false when none waits. `time`
    // stamps a quit message.
    bool next(MSG* message, bool remove, DWORD time = 0);
    // The posted messages, for backends that coalesce or drop them before they are read.
    std::deque<MSG>& waiting() { return waiting_; }

  private:
    std::deque<MSG> waiting_;
    bool quitPosted_ = false;
    int quitCode_ = 0;
};
