#include "platform/globals.h"

int32_t windowWidth = 640;
int32_t windowHeight = 480;
std::atomic<bool> running{true};
bool particlesVisible = true;
bool tracing = false;
bool cornerPreview = false;
bool cursorBrush = false;
bool overlayVisible = false;
bool countsVisible = false;
bool quitRequested = false;
HWND windowHandle = nullptr;
Display* display = nullptr;
Direct3DDevice9* device = nullptr;

void resetGlobals() {
    windowWidth = 640;
    windowHeight = 480;
    running.store(true, std::memory_order_relaxed);
    particlesVisible = true;
    tracing = false;
    cornerPreview = false;
    cursorBrush = false;
    overlayVisible = false;
    countsVisible = false;
    quitRequested = false;
    windowHandle = nullptr;
    display = nullptr;
    device = nullptr;
}
