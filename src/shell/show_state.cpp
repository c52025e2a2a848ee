#include "shell/show_state.h"

#include <cmath>

#include "shell/video_brush.h"
#include "video/video_decoder.h"
#include "video/yuv_surface.h"

namespace {

// Single-precision constants widened to double, as the formulas use them.
const double kMasterScaleDecay = 0.11999999731779099;
const double kBackgroundFrameRate = 0.550000011920929;
const double kPhaseRate = 1.0700000524520874;

const float kShowEnd = 700.0f;
const float kMasterScaleStart = 140.0f;
const float kOverlayFirst = 10.0f;
const float kOverlayLast = 664.0f;

const int32_t kLumaLane = 0;
const int32_t kAlphaLane = 3;
const int32_t kBrushTextureSize = 256;

// A toggle flips on a draw modulo 10 of 6 to 9.
bool coinFlip(RandomSource& random) {
    return random.next() % 10 > 5;
}

// The show rounds these to 32 bits before using them; the build keeps compilers from dropping
// that step (see the root CMakeLists.txt).
float roundToFloat(double x) {
    return static_cast<float>(x);
}

float sineToFloat(double x) {
    return roundToFloat(std::sin(x));
}
float cosineToFloat(double x) {
    return roundToFloat(std::cos(x));
}

int32_t frameIndex(int32_t position, int32_t frameCount) {
    if (frameCount <= 0) return 0;
    const int32_t i = position % frameCount;
    return i < 0 ? i + frameCount : i;
}

}  // namespace

void updateStrokePosition(ShowState& state) {
    const double q = static_cast<double>(state.sceneClock) / 5.0;
    state.strokeIndex = static_cast<int32_t>(q);
    state.inter = static_cast<float>(q - state.strokeIndex);
}

bool timelineStep(ShowState& state, const Timer& timer, RandomSource& random) {
    const int32_t before = static_cast<int32_t>(state.sceneClock);
    state.sceneClock = static_cast<float>(static_cast<double>(state.sceneClock) +
                                          static_cast<double>(timer.frameSeconds) * 5.0);
    state.frameNumber = static_cast<int32_t>(state.sceneClock);

    // One crossing per frame, however many integers the clock passed.
    if (before < state.frameNumber) {
        state.crossingCounter += 1;
        if (state.crossingCounter > 4) {
            state.particleSeed += 1;
            state.crossingCounter = 0;
            // Every flip draws, so a seed step always consumes exactly five numbers.
            if (coinFlip(random)) state.levelsToggle = !state.levelsToggle;
            if (coinFlip(random)) state.noiseToggle = !state.noiseToggle;
            if (coinFlip(random)) state.runBlurToggle = !state.runBlurToggle;
            if (coinFlip(random)) state.columnBlurToggle = !state.columnBlurToggle;
            if (coinFlip(random)) state.sharpenToggle = !state.sharpenToggle;
        }
    }

    if (state.sceneClock > kMasterScaleStart) {
        state.masterScale =
            static_cast<float>(static_cast<double>(state.masterScale) -
                               static_cast<double>(timer.frameSeconds) * kMasterScaleDecay);
        if (state.masterScale < 0.0f) state.masterScale = 0.0f;
    }

    return state.sceneClock > kShowEnd;
}

void phaseStep(ShowState& state, const Timer& timer) {
    state.phaseAccumulator =
        static_cast<float>(static_cast<double>(state.phaseAccumulator) +
                           static_cast<double>(timer.averageSeconds) * kPhaseRate);
}

int32_t backgroundFrameIndex(float sceneClock, int32_t frameCount) {
    return frameIndex(static_cast<int32_t>(static_cast<double>(sceneClock) * kBackgroundFrameRate),
                      frameCount);
}

int32_t overlayFrameIndex(int32_t frameNumber, int32_t frameCount) {
    return frameIndex(frameNumber, frameCount);
}

bool overlayVideoAllowed(float sceneClock) {
    return sceneClock > kOverlayFirst && sceneClock < kOverlayLast;
}

// The levels wobble with the wall clock: the shifted milliseconds are used as radians, so the
// gain moves every 32 ms and the contrast every 64 ms.
BackgroundEffects backgroundEffects(int32_t elapsedMs, float phaseAccumulator) {
    BackgroundEffects e;
    e.noiseAmplitude = 20;
    e.levelsGain = sineToFloat(elapsedMs >> 5);
    e.levelsContrast = 2.0f * cosineToFloat(elapsedMs >> 6);
    e.runRadius = static_cast<int32_t>(static_cast<double>(sineToFloat(phaseAccumulator)) * 7.0);
    const float p = phaseAccumulator * phaseAccumulator;
    e.columnRadius = static_cast<int32_t>(static_cast<double>(cosineToFloat(p)) * 5.0);
    e.sharpenShift = 3;
    return e;
}

OverlayEffects overlayEffects(int32_t elapsedMs, float phaseAccumulator) {
    OverlayEffects e;
    e.levelsGain = sineToFloat(elapsedMs >> 5);
    e.levelsContrast = 4.0f * cosineToFloat(elapsedMs >> 6);
    e.noiseAmplitude = 30;
    const float p = phaseAccumulator * phaseAccumulator;
    e.runRadius = 4 * static_cast<int32_t>(cosineToFloat(p));
    const float twicePhase = 2.0f * phaseAccumulator;
    e.columnRadius = 4 * static_cast<int32_t>(sineToFloat(twicePhase));
    const float wave = roundToFloat(static_cast<double>(sineToFloat(phaseAccumulator)) * 6.0);
    e.sharpenShift = static_cast<int32_t>(std::fabs(wave));
    return e;
}

void refreshVideoBrush(VideoBrush& brush, YUVSurface& surface) {
    if (surface.width != kBrushTextureSize || surface.height < kBrushTextureSize) return;
    brush.refreshColour(surface.pixels());
    surface.adjustLevels(kLumaLane, 1.5f, 3.0f);
    brush.refreshLane(surface.pixels(), kAlphaLane);
    brush.uploadTexture();
}

void backgroundVideoStep(const ShowState& state, const Timer& timer, VideoDecoder& decoder,
                         const VideoImage& image, YUVSurface& surface, VideoBrush& brush) {
    const int32_t i = backgroundFrameIndex(state.sceneClock, decoder.frameCount(image));
    decoder.decodeFrame(image, surface.pixels(), surface.bytes(), i);

    const BackgroundEffects e = backgroundEffects(timer.elapsedMs, state.phaseAccumulator);
    surface.addNoise(kLumaLane, e.noiseAmplitude);
    surface.adjustLevels(kLumaLane, e.levelsGain, e.levelsContrast);
    surface.blurRun(kLumaLane, e.runRadius);
    surface.blurColumns(kLumaLane, e.columnRadius);
    surface.sharpen(kLumaLane, e.sharpenShift);

    refreshVideoBrush(brush, surface);
}

bool overlayVideoStep(const ShowState& state, const Timer& timer, VideoDecoder& decoder,
                      const VideoImage& image, YUVSurface& surface, VideoBrush& brush) {
    if (!overlayVideoAllowed(state.sceneClock)) return false;

    // A fresh decode every time, so the effects of one stroke's step never pile onto the next.
    const int32_t i = overlayFrameIndex(state.frameNumber, decoder.frameCount(image));
    decoder.decodeFrame(image, surface.pixels(), surface.bytes(), i);

    const OverlayEffects e = overlayEffects(timer.elapsedMs, state.phaseAccumulator);
    if (state.levelsToggle) surface.adjustLevels(kLumaLane, e.levelsGain, e.levelsContrast);
    if (state.noiseToggle) surface.addNoise(kLumaLane, e.noiseAmplitude);
    if (state.runBlurToggle) surface.blurRun(kLumaLane, e.runRadius);
    if (state.columnBlurToggle) surface.blurColumns(kLumaLane, e.columnRadius);
    if (state.sharpenToggle) surface.sharpen(kLumaLane, e.sharpenShift);

    refreshVideoBrush(brush, surface);
    return true;
}
