#include "backend/emulated/emulated_windows.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

void quitMessage(MSG* message, DWORD time) {
    std::memset(message, 0, sizeof *message);
    message->message = WM_QUIT;
    message->time = time;
}

}  // namespace

ATOM EmulatedWindowSystem::RegisterClassExA(const WNDCLASSEXA* windowClass) {
    if (windowClass == nullptr || windowClass->lpszClassName == nullptr ||
        windowClass->lpfnWndProc == nullptr || classes_.count(windowClass->lpszClassName) != 0) {
        return 0;
    }
    classes_[windowClass->lpszClassName] = windowClass->lpfnWndProc;
    return static_cast<ATOM>(0xC000 + classes_.size() - 1);
}

HWND EmulatedWindowSystem::CreateWindowExA(DWORD /*exStyle*/, const char* className,
                                           const char* windowName, DWORD style, int /*x*/,
                                           int /*y*/, int width, int height, HWND /*parent*/,
                                           HMENU /*menu*/, HINSTANCE /*instance*/,
                                           void* /*param*/) {
    auto known = className != nullptr ? classes_.find(className) : classes_.end();
    if (known == classes_.end()) return nullptr;
    if (!openWindow(windowName != nullptr ? windowName : "", style, width, height)) return nullptr;
    HWND window = reinterpret_cast<HWND>(newHandle());
    windows_[window] = known->second;
    lastWindow_ = window;
    applyCursor();
    repaintWindow();
    return window;
}

BOOL EmulatedWindowSystem::ShowWindow(HWND window, int /*showCommand*/) {
    if (windows_.count(window) == 0) return FALSE;
    // The result is whether the window was visible before.
    return showWindow() ? TRUE : FALSE;
}

BOOL EmulatedWindowSystem::UpdateWindow(HWND window) {
    if (windows_.count(window) == 0) return FALSE;
    repaintWindow();
    return TRUE;
}

BOOL EmulatedWindowSystem::DestroyWindow(HWND window) {
    auto found = windows_.find(window);
    if (found == windows_.end()) return FALSE;
    // The procedure hears WM_DESTROY while the window still exists.
    WNDPROC procedure = found->second;
    procedure(window, WM_DESTROY, 0, 0);
    if (window == lastWindow_) {
        closeWindow();
        lastWindow_ = nullptr;
    }
    windows_.erase(window);
    // Messages still waiting for it go with it.
    std::deque<MSG>& waiting = queue_.waiting();
    waiting.erase(std::remove_if(waiting.begin(), waiting.end(),
                                 [window](const MSG& m) { return m.hwnd == window; }),
                  waiting.end());
    return TRUE;
}

HCURSOR EmulatedWindowSystem::LoadCursorA(HINSTANCE /*instance*/, const char* cursorName) {
    if (cursorName == nullptr) return nullptr;
    // The system's shared cursor: the same handle every time.
    if (arrow_ == nullptr) arrow_ = reinterpret_cast<HCURSOR>(newHandle());
    return arrow_;
}

LRESULT EmulatedWindowSystem::DefWindowProcA(HWND window, UINT message, WPARAM /*wParam*/,
                                             LPARAM /*lParam*/) {
    if (message == WM_CLOSE) DestroyWindow(window);
    return 0;
}

void EmulatedWindowSystem::PostQuitMessage(int exitCode) {
    queue_.postQuit(exitCode);
}

BOOL EmulatedWindowSystem::PeekMessageA(MSG* message, HWND /*window*/, UINT /*filterMin*/,
                                        UINT /*filterMax*/, UINT removeFlags) {
    if (frames_.stopping()) {
        // The frame host stops the show: the quit message, so that it shuts down in its order.
        if (message != nullptr) quitMessage(message, 0);
        return TRUE;
    }
    pumpEvents();
    if (message == nullptr) return FALSE;
    return queue_.next(message, (removeFlags & PM_REMOVE) != 0, messageTime()) ? TRUE : FALSE;
}

BOOL EmulatedWindowSystem::GetMessageA(MSG* message, HWND /*window*/, UINT /*filterMin*/,
                                       UINT /*filterMax*/) {
    if (frames_.stopping()) {
        if (message != nullptr) quitMessage(message, 0);
        return FALSE;
    }
    if (message == nullptr) return -1;
    for (;;) {
        pumpEvents();
        if (queue_.next(message, true, messageTime()))
            return message->message == WM_QUIT ? FALSE : TRUE;
        if (!waitForEvents()) return -1;
    }
}

BOOL EmulatedWindowSystem::TranslateMessage(const MSG* /*message*/) {
    // No character messages: the show's window does not read text.
    return FALSE;
}

LRESULT EmulatedWindowSystem::DispatchMessageA(const MSG* message) {
    if (message == nullptr) return 0;
    auto found = windows_.find(message->hwnd);
    if (found == windows_.end()) return 0;
    return found->second(message->hwnd, message->message, message->wParam, message->lParam);
}

int EmulatedWindowSystem::MessageBoxA(HWND /*owner*/, const char* text, const char* caption,
                                      UINT /*type*/) {
    const char* shownCaption = caption != nullptr ? caption : "";
    const char* shownText = text != nullptr ? text : "";
    if (messages_ != nullptr) {
        std::fprintf(messages_, "%s: %s\n", shownCaption, shownText);
        std::fflush(messages_);
    }
    showDialog(shownCaption, shownText);
    return IDOK;
}

HCURSOR EmulatedWindowSystem::SetCursor(HCURSOR cursor) {
    HCURSOR previous = cursor_;
    cursor_ = cursor;
    applyCursor();
    return previous;
}

int EmulatedWindowSystem::ShowCursor(BOOL show) {
    cursorCount_ += show ? 1 : -1;
    applyCursor();
    return cursorCount_;
}

BOOL EmulatedWindowSystem::GetCursorPos(POINT* point) {
    if (point == nullptr) return FALSE;
    return pointerPosition(point) ? TRUE : FALSE;
}

BOOL EmulatedWindowSystem::ScreenToClient(HWND window, POINT* point) {
    if (point == nullptr || windows_.count(window) == 0) return FALSE;
    return screenToClient(point) ? TRUE : FALSE;
}

DWORD EmulatedWindowSystem::GetTickCount() {
    return readTick();
}

HWND EmulatedWindowSystem::GetForegroundWindow() {
    return lastWindow_;
}

HMODULE EmulatedWindowSystem::GetModuleHandleA(const char* moduleName) {
    // Only the program itself is loaded.
    if (moduleName != nullptr) return nullptr;
    if (module_ == nullptr) module_ = reinterpret_cast<HMODULE>(newHandle());
    return module_;
}

void EmulatedWindowSystem::exit(int status) {
    beforeExit();
    std::fflush(nullptr);
    std::exit(status);
}
