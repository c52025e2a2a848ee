#include <utility>

#include "backend/recording/recording_backend.h"
#include "backend/recording/recording_state.h"

namespace {

template <class Handle>
Handle fakeHandle(RecordingState& state) {
    return reinterpret_cast<Handle>(state.newHandleValue());
}

// Resource names below 0x10000 are numbers carried in the pointer.
void resourceName(TraceLine& line, const char* name) {
    uintptr_t value = reinterpret_cast<uintptr_t>(name);
    if (name != nullptr && value < 0x10000) {
        line.natural(value);
    } else {
        line.text(name);
    }
}

// Takes the next waiting message, the quit message last; false when the queue is empty.
bool nextMessage(RecordingState& s, MSG* message, bool remove) {
    if (!s.messages.empty()) {
        *message = s.messages.front();
        if (remove) s.messages.pop_front();
        return true;
    }
    if (s.quitPosted) {
        *message = MSG{};
        message->message = WM_QUIT;
        message->wParam = static_cast<WPARAM>(s.quitCode);
        if (remove) s.quitPosted = false;
        return true;
    }
    return false;
}

// Records a call that takes a message and returns a number.
template <class Result>
Result recordMessageCall(RecordingState& s, const char* operation, const MSG* message,
                         Result result) {
    TraceLine line(operation);
    if (message == nullptr) {
        line.word("NULL");
    } else {
        line.message(*message, s.hwnd(message->hwnd));
    }
    s.emit(line.arrow().integer(result));
    return result;
}

// A simulated call that moves a point: refused by a queued zero and always without a point; a
// queued non-zero result is returned and the point still moved.
template <class Move>
BOOL simulatePoint(RecordingState& s, const char* operation, POINT* point, Move move) {
    BOOL result = s.scripted<BOOL>("", operation, TRUE);
    if (point == nullptr) return FALSE;
    if (result) move(*point);
    return result;
}

// Ends the line of a call that writes a point: the result, then the point as written.
BOOL recordPoint(RecordingState& s, TraceLine& line, BOOL result, const POINT* point) {
    line.arrow().integer(result);
    if (result && point != nullptr) line.point(*point);
    s.emit(line);
    return result;
}

}  // namespace

ATOM RecordingBackend::RegisterClassExA(const WNDCLASSEXA* windowClass) {
    RecordingState& s = *state_;
    ATOM atom;
    if (s.inner.windows != nullptr) {
        atom = s.inner.windows->RegisterClassExA(windowClass);
    } else {
        atom = s.scripted<ATOM>("", "RegisterClassExA", [&s] { return s.nextAtom++; });
        if (windowClass == nullptr || windowClass->lpszClassName == nullptr) atom = 0;
        if (atom != 0) s.classes[windowClass->lpszClassName] = windowClass->lpfnWndProc;
    }
    TraceLine line("RegisterClassExA");
    if (windowClass == nullptr) {
        line.word("NULL");
    } else {
        const WNDCLASSEXA& c = *windowClass;
        line.open()
            .numbers(c.cbSize, c.style)
            .pointer(reinterpret_cast<const void*>(c.lpfnWndProc))
            .numbers(c.cbClsExtra, c.cbWndExtra)
            .word(s.handle(c.hInstance, "hinstance"))
            .word(s.handle(c.hIcon, "hicon"))
            .word(s.handle(c.hCursor, "hcursor"))
            .word(s.handle(c.hbrBackground, "hbrush"))
            .text(c.lpszMenuName)
            .text(c.lpszClassName)
            .word(s.handle(c.hIconSm, "hicon"))
            .close();
    }
    s.emit(line.arrow().natural(atom));
    return atom;
}

HWND RecordingBackend::CreateWindowExA(DWORD exStyle, const char* className, const char* windowName,
                                       DWORD style, int x, int y, int width, int height,
                                       HWND parent, HMENU menu, HINSTANCE instance, void* param) {
    RecordingState& s = *state_;
    HWND window = nullptr;
    if (s.inner.windows != nullptr) {
        window = s.inner.windows->CreateWindowExA(exStyle, className, windowName, style, x, y,
                                                  width, height, parent, menu, instance, param);
    } else {
        bool refused = s.refused("CreateWindowExA");
        auto known = className != nullptr ? s.classes.find(className) : s.classes.end();
        if (!refused && known != s.classes.end()) {
            window = fakeHandle<HWND>(s);
            s.windows[window] = known->second;
            s.lastWindow = window;
        }
    }
    s.emit(TraceLine("CreateWindowExA")
               .numbers(exStyle)
               .text(className)
               .text(windowName)
               .numbers(style, x, y, width, height)
               .word(s.hwnd(parent))
               .word(s.handle(menu, "hmenu"))
               .word(s.handle(instance, "hinstance"))
               .pointer(param)
               .arrow()
               .word(s.hwnd(window)));
    return window;
}

BOOL RecordingBackend::ShowWindow(HWND window, int showCommand) {
    RecordingState& s = *state_;
    BOOL result = s.inner.windows != nullptr ? s.inner.windows->ShowWindow(window, showCommand)
                                             : s.scripted<BOOL>("", "ShowWindow", TRUE);
    s.emit(
        TraceLine("ShowWindow").word(s.hwnd(window)).integer(showCommand).arrow().integer(result));
    return result;
}

BOOL RecordingBackend::UpdateWindow(HWND window) {
    RecordingState& s = *state_;
    BOOL result =
        s.inner.windows != nullptr
            ? s.inner.windows->UpdateWindow(window)
            : s.scripted<BOOL>("", "UpdateWindow", s.windows.count(window) ? TRUE : FALSE);
    s.emit(TraceLine("UpdateWindow").word(s.hwnd(window)).arrow().integer(result));
    return result;
}

BOOL RecordingBackend::DestroyWindow(HWND window) {
    RecordingState& s = *state_;
    std::string label = s.hwnd(window);
    BOOL result;
    if (s.inner.windows != nullptr) {
        result = s.inner.windows->DestroyWindow(window);
    } else {
        int64_t queued = 0;
        bool scripted = s.take("", "DestroyWindow", &queued);
        auto found = s.windows.find(window);
        if ((scripted && queued == 0) || found == s.windows.end()) {
            result = scripted ? static_cast<BOOL>(queued) : FALSE;
        } else {
            // The window procedure hears WM_DESTROY while the window still exists, as it does
            // on the platform; its calls are recorded before this one.
            WNDPROC procedure = found->second;
            if (procedure != nullptr) procedure(window, WM_DESTROY, 0, 0);
            s.windows.erase(window);
            if (s.lastWindow == window) s.lastWindow = nullptr;
            result = scripted ? static_cast<BOOL>(queued) : TRUE;
        }
    }
    s.emit(TraceLine("DestroyWindow").word(label).arrow().integer(result));
    return result;
}

HCURSOR RecordingBackend::LoadCursorA(HINSTANCE instance, const char* cursorName) {
    RecordingState& s = *state_;
    HCURSOR cursor = s.inner.windows != nullptr ? s.inner.windows->LoadCursorA(instance, cursorName)
                     : s.refused("LoadCursorA") ? nullptr
                                                : fakeHandle<HCURSOR>(s);
    TraceLine line("LoadCursorA");
    line.word(s.handle(instance, "hinstance"));
    resourceName(line, cursorName);
    s.emit(line.arrow().word(s.handle(cursor, "hcursor")));
    return cursor;
}

LRESULT RecordingBackend::DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    RecordingState& s = *state_;
    LRESULT result;
    if (s.inner.windows != nullptr) {
        result = s.inner.windows->DefWindowProcA(window, message, wParam, lParam);
    } else {
        result = s.scripted<LRESULT>("", "DefWindowProcA", 0);
        // Closing a window by default destroys it, as the platform does.
        if (message == WM_CLOSE) DestroyWindow(window);
    }
    s.emit(TraceLine("DefWindowProcA")
               .word(s.hwnd(window))
               .numbers(message, wParam, lParam)
               .arrow()
               .integer(result));
    return result;
}

void RecordingBackend::PostQuitMessage(int exitCode) {
    RecordingState& s = *state_;
    if (s.inner.windows != nullptr) {
        s.inner.windows->PostQuitMessage(exitCode);
    } else {
        s.quitPosted = true;
        s.quitCode = exitCode;
    }
    s.emit(TraceLine("PostQuitMessage").integer(exitCode));
}

BOOL RecordingBackend::PeekMessageA(MSG* message, HWND window, UINT filterMin, UINT filterMax,
                                    UINT removeFlags) {
    RecordingState& s = *state_;
    BOOL result;
    if (s.inner.windows != nullptr) {
        result = s.inner.windows->PeekMessageA(message, window, filterMin, filterMax, removeFlags);
    } else {
        int64_t queued = 0;
        bool scripted = s.take("", "PeekMessageA", &queued);
        if (scripted && queued == 0) {
            result = FALSE;
        } else {
            result = message != nullptr && nextMessage(s, message, (removeFlags & PM_REMOVE) != 0)
                         ? TRUE
                         : FALSE;
            if (scripted && result) result = static_cast<BOOL>(queued);
        }
    }
    TraceLine line("PeekMessageA");
    line.word(s.hwnd(window)).numbers(filterMin, filterMax, removeFlags).arrow().integer(result);
    if (result != 0 && message != nullptr) line.message(*message, s.hwnd(message->hwnd));
    s.emit(line);
    return result;
}

BOOL RecordingBackend::GetMessageA(MSG* message, HWND window, UINT filterMin, UINT filterMax) {
    RecordingState& s = *state_;
    BOOL result;
    bool filled = false;
    if (s.inner.windows != nullptr) {
        result = s.inner.windows->GetMessageA(message, window, filterMin, filterMax);
        filled = result != -1;
    } else {
        int64_t queued = 0;
        bool scripted = s.take("", "GetMessageA", &queued);
        if (scripted && queued <= 0) {
            result = static_cast<BOOL>(queued);
        } else if (message != nullptr && nextMessage(s, message, true)) {
            filled = true;
            result = message->message == WM_QUIT ? FALSE : TRUE;
            if (scripted && result) result = static_cast<BOOL>(queued);
        } else {
            // An empty queue would block the caller for good; a stand-in reports an error.
            result = -1;
        }
    }
    TraceLine line("GetMessageA");
    line.word(s.hwnd(window)).numbers(filterMin, filterMax).arrow().integer(result);
    if (filled && message != nullptr) line.message(*message, s.hwnd(message->hwnd));
    s.emit(line);
    return result;
}

BOOL RecordingBackend::TranslateMessage(const MSG* message) {
    RecordingState& s = *state_;
    BOOL result = s.inner.windows != nullptr ? s.inner.windows->TranslateMessage(message)
                                             : s.scripted<BOOL>("", "TranslateMessage", FALSE);
    return recordMessageCall(s, "TranslateMessage", message, result);
}

LRESULT RecordingBackend::DispatchMessageA(const MSG* message) {
    RecordingState& s = *state_;
    LRESULT result = 0;
    if (s.inner.windows != nullptr) {
        result = s.inner.windows->DispatchMessageA(message);
    } else {
        int64_t queued = 0;
        bool scripted = s.take("", "DispatchMessageA", &queued);
        if (message != nullptr) {
            auto found = s.windows.find(message->hwnd);
            if (found != s.windows.end() && found->second != nullptr) {
                result = found->second(message->hwnd, message->message, message->wParam,
                                       message->lParam);
            }
        }
        if (scripted) result = static_cast<LRESULT>(queued);
    }
    return recordMessageCall(s, "DispatchMessageA", message, result);
}

int RecordingBackend::MessageBoxA(HWND owner, const char* text, const char* caption, UINT type) {
    RecordingState& s = *state_;
    int result = s.inner.windows != nullptr
                     ? s.inner.windows->MessageBoxA(owner, text, caption, type)
                     : s.scripted<int>("", "MessageBoxA", IDOK);
    s.emit(TraceLine("MessageBoxA")
               .word(s.hwnd(owner))
               .text(text)
               .text(caption)
               .natural(type)
               .arrow()
               .integer(result));
    return result;
}

HCURSOR RecordingBackend::SetCursor(HCURSOR cursor) {
    RecordingState& s = *state_;
    HCURSOR previous = s.inner.windows != nullptr ? s.inner.windows->SetCursor(cursor)
                                                  : std::exchange(s.currentCursor, cursor);
    s.emit(TraceLine("SetCursor")
               .word(s.handle(cursor, "hcursor"))
               .arrow()
               .word(s.handle(previous, "hcursor")));
    return previous;
}

int RecordingBackend::ShowCursor(BOOL show) {
    RecordingState& s = *state_;
    // A simulated count moves even when a result is queued.
    int count = s.inner.windows != nullptr
                    ? s.inner.windows->ShowCursor(show)
                    : s.scripted<int>("", "ShowCursor", s.cursorCount += show ? 1 : -1);
    s.emit(TraceLine("ShowCursor").integer(show).arrow().integer(count));
    return count;
}

BOOL RecordingBackend::GetCursorPos(POINT* point) {
    RecordingState& s = *state_;
    BOOL result = s.inner.windows != nullptr
                      ? s.inner.windows->GetCursorPos(point)
                      : simulatePoint(s, "GetCursorPos", point, [&s](POINT& p) { p = s.cursor; });
    TraceLine line("GetCursorPos");
    return recordPoint(s, line, result, point);
}

BOOL RecordingBackend::ScreenToClient(HWND window, POINT* point) {
    RecordingState& s = *state_;
    TraceLine line("ScreenToClient");
    line.word(s.hwnd(window));
    if (point == nullptr) {
        line.word("NULL");
    } else {
        line.point(*point);
    }
    BOOL result = s.inner.windows != nullptr
                      ? s.inner.windows->ScreenToClient(window, point)
                      : simulatePoint(s, "ScreenToClient", point, [&s](POINT& p) {
                            p.x -= s.clientOrigin.x;
                            p.y -= s.clientOrigin.y;
                        });
    return recordPoint(s, line, result, point);
}

DWORD RecordingBackend::GetTickCount() {
    RecordingState& s = *state_;
    // A queued tick leaves the simulated clock where it is.
    DWORD tick = s.inner.windows != nullptr ? s.inner.windows->GetTickCount()
                                            : s.scripted<DWORD>("", "GetTickCount", [&s] {
                                                  DWORD now = s.clock;
                                                  s.clock += s.clockStep;
                                                  return now;
                                              });
    s.emit(TraceLine("GetTickCount").arrow().natural(tick));
    return tick;
}

HWND RecordingBackend::GetForegroundWindow() {
    RecordingState& s = *state_;
    HWND window = s.inner.windows != nullptr         ? s.inner.windows->GetForegroundWindow()
                  : s.refused("GetForegroundWindow") ? nullptr
                                                     : s.lastWindow;
    s.emit(TraceLine("GetForegroundWindow").arrow().word(s.hwnd(window)));
    return window;
}

HMODULE RecordingBackend::GetModuleHandleA(const char* moduleName) {
    RecordingState& s = *state_;
    HMODULE module = nullptr;
    if (s.inner.windows != nullptr) {
        module = s.inner.windows->GetModuleHandleA(moduleName);
    } else {
        // Only the program itself is loaded.
        if (!s.refused("GetModuleHandleA") && moduleName == nullptr) {
            if (s.module == nullptr) s.module = fakeHandle<HMODULE>(s);
            module = s.module;
        }
    }
    s.emit(
        TraceLine("GetModuleHandleA").text(moduleName).arrow().word(s.handle(module, "hinstance")));
    return module;
}

void RecordingBackend::exit(int status) {
    RecordingState& s = *state_;
    s.emit(TraceLine("exit").integer(status));
    s.flush();
    if (s.inner.windows != nullptr) s.inner.windows->exit(status);
    throw RecordedExit{status};
}
