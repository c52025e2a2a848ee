#include "backend/web/dom_keys.h"

#include <cstring>

#include "backend/emulated/key_schedule.h"

int scanCodeFromDomCode(const char* code) {
    if (code == nullptr) return 0;
    // The DOM names these keys as the show's key presses do ("F1", "NumLock", "Escape"), but for
    // the keypad's divide key.
    if (std::strcmp(code, "NumpadDivide") == 0) return showKeyScanCode("DIVIDE", 6);
    return showKeyScanCode(code, std::strlen(code));
}
