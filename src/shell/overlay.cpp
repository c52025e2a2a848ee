#include "shell/overlay.h"

#include "platform/font_writer.h"
#include "platform/globals.h"

JString overlayText(const Timer& timer, const ShowState& state, bool withCounts,
                    int32_t strokeCount, int32_t particleCount) {
    JString text;
    text = text + "FPS:" + timer.fps + "\n";
    text = text + "time:" + timer.elapsedMs + " \\ " + timer.frameMs + "\n";
    text = text + "frame:" + state.frameNumber + "\n";
    text = text + "inter:" + state.inter + "\n";
    text = text + "mscale:" + state.masterScale + "\n";
    if (withCounts) {
        text = text + "Strokes : " + strokeCount + "\n";
        text = text + "Particles : " + particleCount + "\n";
    }
    return text;
}

void overlayStep(FontWriter& writer, const Timer& timer, const ShowState& state,
                 int32_t strokeCount, int32_t particleCount) {
    if (!overlayVisible) return;
    JString text = overlayText(timer, state, countsVisible, strokeCount, particleCount);
    writer.draw(text.c_str(), 10, 10, 0xFFFFFFFFu);
}
