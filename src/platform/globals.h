#pragma once
#include <atomic>
#include <cstdint>

#include "backend/platform_types.h"

class Display;
class Direct3DDevice9;

// Process-wide state of the show: the window size, the run flag that the music's end clears from
// the audio thread, the debug switches flipped by keys, and the objects the fatal-error exit
// must reach.
extern int32_t windowWidth;
extern int32_t windowHeight;
extern std::atomic<bool> running;
extern bool particlesVisible;
extern bool tracing;
extern bool cornerPreview;
extern bool cursorBrush;
extern bool overlayVisible;
extern bool countsVisible;
extern bool quitRequested;
extern HWND windowHandle;
extern Display* display;
extern Direct3DDevice9* device;

// Puts every value above back to its start value (for tests that run the show more than once).
void resetGlobals();
