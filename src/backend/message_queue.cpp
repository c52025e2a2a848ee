#include "backend/message_queue.h"

#include "backend/platform_constants.h"

bool MessageQueue::next(MSG* message, bool remove, DWORD time) {
    if (!waiting_.empty()) {
        *message = waiting_.front();
        if (remove) waiting_.pop_front();
        return true;
    }
    if (quitPosted_) {
        *message = MSG{};
        message->message = WM_QUIT;
        message->wParam = static_cast<WPARAM>(quitCode_);
        message->time = time;
        if (remove) quitPosted_ = false;
        return true;
    }
    return false;
}
