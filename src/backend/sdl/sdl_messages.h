#pragma once
// SDL's events as the window messages the show's window procedure hears.
#include <SDL.h>

#include "backend/platform_types.h"

// HTCLIENT in a WM_SETCURSOR's lParam: the cursor is over the client area.
constexpr LPARAM kHitClient = 1;
constexpr UINT kMouseMove = 0x0200;

// Fills *message (window, number, parameters; not the time and the cursor position) for an
// event that becomes a message, and returns false for every other event. Only what the show's
// window reacts to becomes a message: a first key press (WM_KEYDOWN), the pointer entering or
// moving over the window (WM_SETCURSOR), and the window being closed or the program being asked
// to quit (WM_CLOSE). The pump takes one message per frame, so releases, key repeats and text
// would only hold those back.
bool translateEvent(const SDL_Event& event, HWND window, MSG* message);
