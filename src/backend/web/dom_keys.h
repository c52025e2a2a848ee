#pragma once
// The page's keys as the show's: a DOM KeyboardEvent `code` names a physical key (where it sits,
// whatever the layout prints on it), the way a scan code does.

// The scan code of a key the show reacts to (F1 to F4, Num Lock, keypad /, Escape) by its DOM
// code, or 0 for any other key.
int scanCodeFromDomCode(const char* code);
