#pragma once
// A stand-in for the Windows backend's platform side (native.h and the music player), so that
// the backend's own logic runs on any machine: every call is logged as one line of text with its
// values, objects are counted, and the message queue, tick and back buffer are simulated.
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "backend/win32/native.h"

namespace fake {

struct State {
    std::vector<std::string> log;
    // Objects made and not yet released.
    int liveObjects = 0;
    native::MessageHandler handler = nullptr;
    std::deque<native::Message> queue;
    // Milliseconds the tick moves on at each read.
    uint32_t tickStep = 1000;
    uint32_t tick = 0;
    // A message posted when the message peek count reaches the key (0: never).
    uint64_t peeks = 0;
    uint64_t escapeAtPeek = 0;
    int presents = 0;
    // A key the platform's keyboard reads as held (a scan code; -1: none).
    int heldKey = -1;
    int messageBoxes = 0;
    // Calls into the music player.
    int musicPlays = 0;
    bool musicLooping = false;
    native::PresentParameters lastParameters{};
    uint32_t lastBehaviorFlags = 0;
};

State& state();
// Forgets every call and frees every object still alive.
void reset();
// Whether a logged line starts with `prefix`.
bool logged(const std::string& prefix);

}  // namespace fake
