#include "backend/sdl/sdl_messages.h"

#include "backend/platform_constants.h"
#include "backend/sdl/scancode_table.h"

bool translateEvent(const SDL_Event& event, HWND window, MSG* message) {
    if (message == nullptr) return false;
    MSG m{};
    m.hwnd = window;
    switch (event.type) {
        case SDL_KEYDOWN: {
            if (event.key.repeat != 0) return false;
            const int scancode = event.key.keysym.scancode;
            const WPARAM vk = virtualKeyFromScancode(scancode);
            if (vk == 0) return false;
            m.message = WM_KEYDOWN;
            m.wParam = vk;
            m.lParam = keyDownParam(dikFromScancode(scancode));
            break;
        }
        case SDL_MOUSEMOTION:
            m.message = WM_SETCURSOR;
            m.wParam = reinterpret_cast<WPARAM>(window);
            m.lParam = kHitClient | static_cast<LPARAM>(kMouseMove << 16);
            break;
        case SDL_WINDOWEVENT:
            if (event.window.event == SDL_WINDOWEVENT_ENTER) {
                m.message = WM_SETCURSOR;
                m.wParam = reinterpret_cast<WPARAM>(window);
                m.lParam = kHitClient | static_cast<LPARAM>(kMouseMove << 16);
            } else if (event.window.event == SDL_WINDOWEVENT_CLOSE) {
                m.message = WM_CLOSE;
            } else {
                return false;
            }
            break;
        case SDL_QUIT:
            // Asked to end from outside (the last window closed, an interrupt signal): the same
            // road as the window's close box.
            m.message = WM_CLOSE;
            break;
        default:
            return false;
    }
    *message = m;
    return true;
}
