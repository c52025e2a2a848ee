#pragma once
#include "backend/platform_types.h"

// The show from start to end: start-up, three seconds of black, then the music and the frame
// loop until the music, the timeline, the window or Escape ends it, then shutdown. Returns 0
// after a normal run and 1 when the window cannot be made; any other start-up failure leaves
// through fatalError. The command line and the previous instance go to the window creation only.
int runShow(HINSTANCE instance, HINSTANCE previous, const char* commandLine, int showCommand);

// Puts back what a fresh process starts the show with: the platform's globals, the shared
// random generator unseeded and the video noise at its start. For runs after the first in one
// process (tests, benchmarks), so that each draws what the program would.
void resetShowState();

// The music's end-of-stream procedure: runs on the audio library's thread and only clears
// `running`, which the frame loop reads after each presented frame.
void onMusicEnd(HSYNC handle, DWORD channel, DWORD data, void* user);
