#pragma once
// The window system: window class and window, the message queue, the default window procedure,
// message boxes, the cursor, the millisecond tick, the module handle and the process exit, with
// the platform's names, arguments and numbering.
#include "backend/backend.h"
#include "backend/frame_host.h"
#include "backend/platform_constants.h"
#include "backend/platform_types.h"

class WindowSystem {
  public:
    virtual ~WindowSystem() = default;

    // 0 when the class cannot be registered.
    virtual ATOM RegisterClassExA(const WNDCLASSEXA* windowClass) = 0;
    virtual HWND CreateWindowExA(DWORD exStyle, const char* className, const char* windowName,
                                 DWORD style, int x, int y, int width, int height, HWND parent,
                                 HMENU menu, HINSTANCE instance, void* param) = 0;
    virtual BOOL ShowWindow(HWND window, int showCommand) = 0;
    virtual BOOL UpdateWindow(HWND window) = 0;
    // Sends WM_DESTROY to the window's procedure before the window goes.
    virtual BOOL DestroyWindow(HWND window) = 0;
    virtual HCURSOR LoadCursorA(HINSTANCE instance, const char* cursorName) = 0;

    virtual LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) = 0;
    virtual void PostQuitMessage(int exitCode) = 0;

    // Never blocks: nonzero and *message filled when a message is waiting.
    virtual BOOL PeekMessageA(MSG* message, HWND window, UINT filterMin, UINT filterMax,
                              UINT removeFlags) = 0;
    // 0 for the quit message, -1 on error, otherwise nonzero.
    virtual BOOL GetMessageA(MSG* message, HWND window, UINT filterMin, UINT filterMax) = 0;
    virtual BOOL TranslateMessage(const MSG* message) = 0;
    // Calls the procedure of the message's window and returns what it returns.
    virtual LRESULT DispatchMessageA(const MSG* message) = 0;

    // Returns when the user closes the box; the result names the button (IDOK).
    virtual int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type) = 0;

    virtual HCURSOR SetCursor(HCURSOR cursor) = 0;
    // Returns the cursor's new display count.
    virtual int ShowCursor(BOOL show) = 0;
    virtual BOOL GetCursorPos(POINT* point) = 0;
    virtual BOOL ScreenToClient(HWND window, POINT* point) = 0;

    // Milliseconds since an arbitrary start; wraps at 2^32.
    virtual DWORD GetTickCount() = 0;
    virtual HWND GetForegroundWindow() = 0;
    virtual HMODULE GetModuleHandleA(const char* moduleName) = 0;

    // The runtime's normal exit with `status`: never returns.
    [[noreturn]] virtual void exit(int status) = 0;
};

// The whole window system, as a service that implements every operation declares it: the list
// of signatures stands once, beside the interface.
#define QM_WINDOW_SYSTEM_OVERRIDES                                                                 \
    ATOM RegisterClassExA(const WNDCLASSEXA* windowClass) override;                                \
    HWND CreateWindowExA(DWORD exStyle, const char* className, const char* windowName,             \
                         DWORD style, int x, int y, int width, int height, HWND parent,            \
                         HMENU menu, HINSTANCE instance, void* param) override;                    \
    BOOL ShowWindow(HWND window, int showCommand) override;                                        \
    BOOL UpdateWindow(HWND window) override;                                                       \
    BOOL DestroyWindow(HWND window) override;                                                      \
    HCURSOR LoadCursorA(HINSTANCE instance, const char* cursorName) override;                      \
    LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;      \
    void PostQuitMessage(int exitCode) override;                                                   \
    BOOL PeekMessageA(MSG* message, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags) \
        override;                                                                                  \
    BOOL GetMessageA(MSG* message, HWND window, UINT filterMin, UINT filterMax) override;          \
    BOOL TranslateMessage(const MSG* message) override;                                            \
    LRESULT DispatchMessageA(const MSG* message) override;                                         \
    int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type) override;        \
    HCURSOR SetCursor(HCURSOR cursor) override;                                                    \
    int ShowCursor(BOOL show) override;                                                            \
    BOOL GetCursorPos(POINT* point) override;                                                      \
    BOOL ScreenToClient(HWND window, POINT* point) override;                                       \
    DWORD GetTickCount() override;                                                                 \
    HWND GetForegroundWindow() override;                                                           \
    HMODULE GetModuleHandleA(const char* moduleName) override;                                     \
    [[noreturn]] void exit(int status) override

// The show calls these as free functions; they reach the chosen backend. The process exit has
// no free form (it would stand in for the runtime's own exit): the show calls
// backend().windows->exit.

inline ATOM RegisterClassExA(const WNDCLASSEXA* windowClass) {
    return backend().windows->RegisterClassExA(windowClass);
}

inline HWND CreateWindowExA(DWORD exStyle, const char* className, const char* windowName,
                            DWORD style, int x, int y, int width, int height, HWND parent,
                            HMENU menu, HINSTANCE instance, void* param) {
    return backend().windows->CreateWindowExA(exStyle, className, windowName, style, x, y, width,
                                              height, parent, menu, instance, param);
}

inline BOOL ShowWindow(HWND window, int showCommand) {
    return backend().windows->ShowWindow(window, showCommand);
}

inline BOOL UpdateWindow(HWND window) {
    return backend().windows->UpdateWindow(window);
}

inline BOOL DestroyWindow(HWND window) {
    return backend().windows->DestroyWindow(window);
}

inline HCURSOR LoadCursorA(HINSTANCE instance, const char* cursorName) {
    return backend().windows->LoadCursorA(instance, cursorName);
}

inline LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return backend().windows->DefWindowProcA(window, message, wParam, lParam);
}

inline void PostQuitMessage(int exitCode) {
    backend().windows->PostQuitMessage(exitCode);
}

// The show's frame loop begins every frame with this peek and peeks nowhere else: here, and only
// here, a frame of the show begins (frame_host.h).
inline BOOL PeekMessageA(MSG* message, HWND window, UINT filterMin, UINT filterMax,
                         UINT removeFlags) {
    if (backend().frames != nullptr) backend().frames->beginFrame();
    return backend().windows->PeekMessageA(message, window, filterMin, filterMax, removeFlags);
}

inline BOOL GetMessageA(MSG* message, HWND window, UINT filterMin, UINT filterMax) {
    return backend().windows->GetMessageA(message, window, filterMin, filterMax);
}

inline BOOL TranslateMessage(const MSG* message) {
    return backend().windows->TranslateMessage(message);
}

inline LRESULT DispatchMessageA(const MSG* message) {
    return backend().windows->DispatchMessageA(message);
}

inline int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type) {
    return backend().windows->MessageBoxA(owner, text, caption, type);
}

inline HCURSOR SetCursor(HCURSOR cursor) {
    return backend().windows->SetCursor(cursor);
}

inline int ShowCursor(BOOL show) {
    return backend().windows->ShowCursor(show);
}

inline BOOL GetCursorPos(POINT* point) {
    return backend().windows->GetCursorPos(point);
}

inline BOOL ScreenToClient(HWND window, POINT* point) {
    return backend().windows->ScreenToClient(window, point);
}

inline DWORD GetTickCount() {
    return backend().windows->GetTickCount();
}

inline HWND GetForegroundWindow() {
    return backend().windows->GetForegroundWindow();
}

inline HMODULE GetModuleHandleA(const char* moduleName) {
    return backend().windows->GetModuleHandleA(moduleName);
}
