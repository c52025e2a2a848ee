#pragma once
#include <cstdint>

#include "painting/strokes.h"

// Presses the particle brush 60 times along every spline segment of `path`: each imprint sized
// by the size ramp and the particle phase, turned by the phase and jittered. Every segment
// reseeds the shared generator with `particleSeed`, so all segments of a frame share one jitter
// pattern. The particle brush must already be bound with the stroke's states set.
void drawParticles(Painting& painting, const StrokePath& path, float sizeFactor, float growthStep,
                   int32_t particleSeed);

// The traced centres of the current stroke as white line strips of at most 512 points.
void drawTraceLines(Painting& painting);

// Corner preview and cursor brush, when their switches are on, under the render state the last
// stroke left.
void drawMarkers(Painting& painting, float cursorX, float cursorY);

// The cursor's world position from its client pixel position in a width x height window. The
// cursor is taken 32 pixels lower and the height stretched by height / (height - 32).
D3DXVECTOR2 cursorWorldPosition(int32_t px, int32_t py, int32_t width, int32_t height);
