#include "backend/emulated/virtual_clock.h"

DWORD VirtualClock::read() {
    if (!musicStarted_) {
        DWORD tick = now_;
        now_ += kPrerollStepMs;
        return tick;
    }
    // The tick wraps at 2^32 like the platform's; the show's Timer subtracts with wrap-around.
    return musicStart_ + static_cast<DWORD>(showMs());
}

void VirtualClock::startMusic() {
    musicStart_ = now_;
    musicStarted_ = true;
    frame_ = 0;
}

void VirtualClock::nextFrame() {
    if (musicStarted_) ++frame_;
}

uint64_t VirtualClock::showMs() const {
    if (!musicStarted_) return 0;
    return frame_ * 1000u / fps_;
}
