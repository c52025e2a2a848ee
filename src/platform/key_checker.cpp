#include "platform/key_checker.h"

#include "backend/window_system.h"
#include "platform/globals.h"

void KeyChecker::keyDown(int key) {
    switch (key) {
        case DIK_F1:
            tracing = !tracing;
            break;
        case DIK_F2:
            cornerPreview = !cornerPreview;
            break;
        case DIK_F3:
            // The brush follows the mouse; the system cursor shows with it.
            cursorBrush = !cursorBrush;
            ShowCursor(cursorBrush ? TRUE : FALSE);
            break;
        case DIK_F4:
            particlesVisible = !particlesVisible;
            break;
        case DIK_NUMLOCK:
            overlayVisible = !overlayVisible;
            break;
        case DIK_DIVIDE:
            countsVisible = !countsVisible;
            break;
        default:
            break;
    }
}

void KeyChecker::keyUp(int /*key*/) {}
