#pragma once
// The show on the desktop: a real window (full screen by default), the CPU or the GL renderer's
// pictures in it, the keyboard and mouse, and the music.
#include <cstdio>

#include "options.h"

struct DesktopOptions {
    // A 640 × 480 window instead of the whole screen.
    bool windowed = false;
    // Message boxes also as dialogs over the window; they always go to standard error as a line.
    bool dialogs = true;
    // Every outside call, one line each, with a line 'frame K' before the K-th frame's calls.
    std::FILE* trace = nullptr;
    // One line on standard error at the end: frames shown and their rate (lowest, median,
    // highest) from the music's start on.
    bool frameStats = false;
    // Threads the CPU renderer draws each frame with.
    int threads = 1;
    // Pixels drawn per pixel of the show's device: the window's picture gets that much finer.
    int scale = 1;
    // The GL renderer draws into the window's own OpenGL ES context at the window's pixel size
    // when chosen (auto: when a GPU is behind the context).
    RendererChoice renderer = RendererChoice::kAuto;
};

// Whether there is a display to open a window on: an X11 or Wayland session is named and can be
// reached.
bool desktopAvailable();

// Runs the show in the current folder (which holds data/ and vid/) and returns its status: 0
// after a normal run. Returns 1 without running it when no window system can be reached.
int playOnDesktop(const DesktopOptions& options);
