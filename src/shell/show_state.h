#pragma once
#include <cstdint>

#include "painting/random_source.h"
#include "shell/timer.h"

class VideoBrush;
class VideoDecoder;
class YUVSurface;
struct VideoImage;

// Everything that changes with the scene clock. The scene clock T runs at 5 units per second of
// frame time; the phase accumulator follows the averaged frame time and drives the slow
// oscillations of the particles and of the video effects.
struct ShowState {
    float sceneClock = 0.0f;
    int32_t frameNumber = 0;
    int32_t strokeIndex = 0;
    float inter = 0.0f;
    int32_t crossingCounter = 0;
    int32_t particleSeed = 0;
    bool levelsToggle = false;
    bool noiseToggle = false;
    bool runBlurToggle = false;
    bool columnBlurToggle = false;
    bool sharpenToggle = false;
    float masterScale = 1.0f;
    float phaseAccumulator = 0.0f;
};

// Stroke index and inter from the scene clock as it stands (before this frame's advance).
void updateStrokePosition(ShowState& state);

// Advances the scene clock by the last frame, steps the crossing counter, particle seed and
// effect toggles (exactly five draws at a seed step, none otherwise) and decays the master scale.
// Returns true once the show has ended; that frame is not drawn.
bool timelineStep(ShowState& state, const Timer& timer, RandomSource& random = randomSource());

// Runs once per frame after the stroke loop.
void phaseStep(ShowState& state, const Timer& timer);

// Frame indices of the two videos. A count of 0 or less (an unusable image) gives frame 0.
int32_t backgroundFrameIndex(float sceneClock, int32_t frameCount);
int32_t overlayFrameIndex(int32_t frameNumber, int32_t frameCount);

// The overlay video is drawn after each stroke only inside this window of the scene clock.
bool overlayVideoAllowed(float sceneClock);

struct BackgroundEffects {
    int32_t noiseAmplitude;
    float levelsGain;
    float levelsContrast;
    int32_t runRadius;
    int32_t columnRadius;
    int32_t sharpenShift;
};

// Effects the overlay video gets; each applies only while its toggle is on.
struct OverlayEffects {
    float levelsGain;
    float levelsContrast;
    int32_t noiseAmplitude;
    int32_t runRadius;
    int32_t columnRadius;
    int32_t sharpenShift;
};

BackgroundEffects backgroundEffects(int32_t elapsedMs, float phaseAccumulator);
OverlayEffects overlayEffects(int32_t elapsedMs, float phaseAccumulator);

// Colour from the effected luma, then alpha from the same luma through a steep contrast curve,
// then the copy to the display texture. Skipped for a surface smaller than the brush's
// 256 x 256 texture, which the conversion would read past.
void refreshVideoBrush(VideoBrush& brush, YUVSurface& surface);

// Decodes the background video's frame for this moment into the surface, runs its effects and
// refreshes the brush's display texture.
void backgroundVideoStep(const ShowState& state, const Timer& timer, VideoDecoder& decoder,
                         const VideoImage& image, YUVSurface& surface, VideoBrush& brush);

// The same for the overlay video with the effects the toggles select. Does nothing and returns
// false outside the overlay's window of the scene clock.
bool overlayVideoStep(const ShowState& state, const Timer& timer, VideoDecoder& decoder,
                      const VideoImage& image, YUVSurface& surface, VideoBrush& brush);
