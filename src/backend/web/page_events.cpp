// The page's DOM events as the show's input: keys by their physical place (the DOM `code`, which
// names a key the way a scan code does), the pointer over the canvas in picture pixels.
#include <emscripten/html5.h>

#include "backend/web/dom_keys.h"
#include "backend/web/web_backend.h"

namespace {

struct Listening {
    WebBackend* backend;
    const char* canvas;
};

EM_BOOL onKeyDown(int /*type*/, const EmscriptenKeyboardEvent* event, void* user) {
    auto* listening = static_cast<Listening*>(user);
    const int scanCode = scanCodeFromDomCode(event->code);
    if (scanCode == 0) return EM_FALSE;
    // Held keys repeat in the browser; the platform reports a key going down once.
    if (!event->repeat) listening->backend->keyDown(scanCode);
    // The show's keys are the show's: no help page on F1, no search on F3.
    return EM_TRUE;
}

// The pointer in the picture's pixels: the canvas shows the whole picture at its aspect.
void toPicture(const Listening& listening, long x, long y, int* px, int* py) {
    double width = 0.0, height = 0.0;
    emscripten_get_element_css_size(listening.canvas, &width, &height);
    *px = width > 0.0 ? static_cast<int>(x * 640.0 / width) : 0;
    *py = height > 0.0 ? static_cast<int>(y * 480.0 / height) : 0;
}

EM_BOOL onMouseMove(int /*type*/, const EmscriptenMouseEvent* event, void* user) {
    auto* listening = static_cast<Listening*>(user);
    int x = 0, y = 0;
    toPicture(*listening, event->targetX, event->targetY, &x, &y);
    listening->backend->pointerMoved(x, y, static_cast<int>(event->movementX),
                                     static_cast<int>(event->movementY));
    return EM_FALSE;
}

EM_BOOL onMouseDown(int /*type*/, const EmscriptenMouseEvent* event, void* user) {
    static_cast<Listening*>(user)->backend->buttonDown(event->button);
    return EM_FALSE;
}

}  // namespace

void listenToPage(WebBackend& backend, const char* canvasSelector) {
    static Listening listening;
    listening = Listening{&backend, canvasSelector};
    emscripten_set_keydown_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, &listening, EM_TRUE, onKeyDown);
    emscripten_set_mousemove_callback(canvasSelector, &listening, EM_TRUE, onMouseMove);
    emscripten_set_mousedown_callback(canvasSelector, &listening, EM_TRUE, onMouseDown);
}
