#pragma once
// Keyboard numbering between SDL and the show: SDL names a key by its USB usage (SDL_Scancode),
// the show by its DirectInput scan code (DIK_*), and its window procedure hears virtual keys.
#include "backend/platform_types.h"

// The DirectInput scan code of an SDL scancode, or 0 for a key DirectInput has no code for.
int dikFromScancode(int scancode);

// The virtual key a WM_KEYDOWN carries for an SDL scancode, or 0 for a key the window is not
// told about.
WPARAM virtualKeyFromScancode(int scancode);

// The WM_KEYDOWN lParam for a first press of the key with DirectInput code `dik`: repeat count
// 1, the set-1 scan code in bits 16-23, the extended-key flag in bit 24.
LPARAM keyDownParam(int dik);
