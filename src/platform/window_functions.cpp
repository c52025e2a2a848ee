#include "platform/window_functions.h"

#include "backend/window_system.h"
#include "platform/display.h"
#include "platform/globals.h"

namespace {
// The one message buffer of the pump.
MSG message;
}  // namespace

int createAppWindow(HINSTANCE instance, HINSTANCE /*previous*/, const char* /*commandLine*/,
                    int showCommand, const char* title, HWND* outWindow, int width, int height) {
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = 48;
    windowClass.style = CS_DBLCLKS;
    windowClass.lpfnWndProc = windowProc;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = 0;
    windowClass.hInstance = instance;
    windowClass.hIcon = nullptr;
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = nullptr;
    windowClass.lpszMenuName = nullptr;
    windowClass.lpszClassName = title;
    windowClass.hIconSm = nullptr;
    if (RegisterClassExA(&windowClass) == 0) return 0;

    // A captioned window without system menu or sizing border; the device takes it full screen.
    HWND window =
        CreateWindowExA(WS_EX_STATICEDGE, title, title, WS_VISIBLE | WS_CAPTION, CW_USEDEFAULT, 0,
                        width, height, nullptr, nullptr, instance, nullptr);
    *outWindow = window;
    ShowWindow(window, showCommand);
    UpdateWindow(window);
    return 1;
}

LRESULT windowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_DESTROY:
            quitRequested = true;
            PostQuitMessage(0);
            break;
        case WM_SETCURSOR:
            // No cursor over the show.
            SetCursor(nullptr);
            return TRUE;
        case WM_KEYDOWN:
            if (wParam == VK_ESCAPE) quitRequested = true;
            break;
        case WM_HOTKEY:
            return 1;
        default:
            break;
    }
    return DefWindowProcA(window, msg, wParam, lParam);
}

int pumpMessage() {
    // At most one message per frame, and never a wait on an empty queue.
    if (PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE)) {
        if (GetMessageA(&message, nullptr, 0, 0) <= 0) return 1;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return quitRequested ? 1 : 0;
}

void fatalError(const char* text, bool fatal) {
    if (fatal) running.store(false, std::memory_order_relaxed);
    MessageBoxA(nullptr, text, "Failed!", MB_OK);
    if (!fatal) return;
    if (display != nullptr) {
        delete display;
        display = nullptr;
    }
    DestroyWindow(windowHandle);
    backend().windows->exit(1);
}
