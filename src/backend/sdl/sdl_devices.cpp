// The keyboard and mouse of the desktop backend, read from SDL for the emulated DirectInput
// devices.
#include <cstring>

#include "backend/sdl/scancode_table.h"
#include "backend/sdl/sdl_backend.h"

void SdlBackend::readKeys(BYTE keys[256]) {
    pumpEvents();
    std::memset(keys, 0, 256);
    int count = 0;
    const Uint8* state = SDL_GetKeyboardState(&count);
    for (int scancode = 0; state != nullptr && scancode < count; ++scancode) {
        if (state[scancode] == 0) continue;
        const int dik = dikFromScancode(scancode);
        if (dik != 0) keys[dik] = 0x80;
    }
    // The show reads the keyboard once a frame and only sees changes between reads: a key
    // pressed and released within one frame (a quick tap, or a synthetic press) would leave no
    // trace. A press seen since the last read therefore reads as down once.
    for (int dik = 0; dik < 256; ++dik) {
        if (latchedKeys_[dik]) keys[dik] = 0x80;
        latchedKeys_[dik] = false;
    }
}

void SdlBackend::readMouse(DIMOUSESTATE* state) {
    pumpEvents();
    std::memset(state, 0, sizeof *state);
    state->lX = motionX_;
    state->lY = motionY_;
    state->lZ = wheel_;
    motionX_ = motionY_ = wheel_ = 0;
    const Uint32 held = SDL_GetMouseState(nullptr, nullptr);
    // DirectInput's button order: left, right, middle, then the first extra button.
    const Uint32 masks[4] = {SDL_BUTTON_LMASK, SDL_BUTTON_RMASK, SDL_BUTTON_MMASK,
                             SDL_BUTTON_X1MASK};
    for (int i = 0; i < 4; ++i) {
        if (((held | latchedButtons_) & masks[i]) != 0) state->rgbButtons[i] = 0x80;
    }
    latchedButtons_ = 0;
}
