#pragma once
#include <cstdint>

#include "foundation/jstring.h"
#include "shell/show_state.h"
#include "shell/timer.h"

class FontWriter;

// The debug overlay's text, one line per value: the clock, the timeline's state and, with
// `withCounts`, the stroke and particle counts of this frame.
JString overlayText(const Timer& timer, const ShowState& state, bool withCounts,
                    int32_t strokeCount, int32_t particleCount);

// Draws the overlay in white at the top-left corner while `overlayVisible` is set; does nothing
// (and builds no text) otherwise. Call it as the frame's last drawing.
void overlayStep(FontWriter& writer, const Timer& timer, const ShowState& state,
                 int32_t strokeCount, int32_t particleCount);
