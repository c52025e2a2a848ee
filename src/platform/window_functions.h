#pragma once
#include "backend/platform_types.h"

// The one window, its message pump and the place where the show gives up.
int createAppWindow(HINSTANCE instance, HINSTANCE previous, const char* commandLine,
                    int showCommand, const char* title, HWND* outWindow, int width, int height);
LRESULT windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
int pumpMessage();

// Shows `text` in a "Failed!" message box. With `fatal` set it then deletes the Display,
// destroys the window and ends the process with status 1, so whoever started the show sees the
// failure; it returns only when `fatal` is false.
void fatalError(const char* text, bool fatal);
