#pragma once
// Key presses scheduled at times of the show, for runs that nobody watches: the headless backend
// and the native program's capture both play them into the keyboard device's reads, so a debug
// view can be switched on at a chosen frame.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "backend/platform_types.h"

// One key press at a time of the show (seconds after the music started).
struct KeyPress {
    int scanCode = 0;
    double seconds = 0.0;
};

// Reads "KEY@SECONDS", KEY one of F1 F2 F3 F4 NUMLOCK DIVIDE ESCAPE (any case), SECONDS a
// non-negative decimal number. False, and *press untouched, for anything else.
bool parseKeyPress(const char* text, KeyPress* press);

constexpr int kScanEscape = 0x01;

// The scan code of a key the show reacts to, by the name --press uses (F1 F2 F3 F4 NUMLOCK
// DIVIDE ESCAPE, any case; `length` characters of `name`), or 0.
int showKeyScanCode(const char* name, size_t length);

class KeySchedule {
  public:
    explicit KeySchedule(std::vector<KeyPress> presses);

    // Escape presses due at showMs, taken off the schedule: Escape ends the show through the
    // window (as the key's window message), not through the keyboard device.
    int takeDueEscapes(bool musicStarted, uint64_t showMs);

    // Sets the keys of the presses due at showMs in `keys` (a keyboard read, which may hold
    // real keys already). A press holds its key down for one read; a key that was down in the
    // previous read is released first, so two presses close together still make two key-down
    // events.
    void applyDue(BYTE keys[256], bool musicStarted, uint64_t showMs);

  private:
    std::vector<KeyPress> pending_;
    BYTE lastKeys_[256] = {};
};
