#pragma once
// The show's two videos, drawn frame by frame and encoded with our .vid encoder.
//
// Both loop. The show picks a frame as (its own counter) modulo (frames + 1) and the last of
// those indices falls back to frame 0, so frame 0 is shown twice per loop. Frame k >= 1 is
// therefore drawn at loop phase k / (frames + 1) and frame 0 halfway between the loop's last
// step and its first, which spreads that repeat evenly over both sides of the seam.
#include <cstdint>
#include <vector>

#include "vid/vid_encoder.h"

namespace content {

const int kVideoSize = 256;
// The overlay advances five frames a second: a 12.8-second loop.
const int kOverlayFrames = 63;
// The background advances 2.75 frames a second: a 14.5-second loop.
const int kBackgroundFrames = 39;

// Loop phase in [0, 1) at which frame `frame` of a video of `frames` frames is drawn.
double loopPhase(int frame, int frames);

// Overlay: blooms of pale pigment on black. Its luma becomes the layer's alpha, so the black
// ground vanishes and the blooms lie over the strokes, edged by a thin half-transparent rim.
YuvPicture drawOverlayFrame(uint32_t seed, int frame);
// Background: slowly swirling marbled pigment in sepia and indigo, mid-toned, to be roughened
// by the show's noise, blurs and sharpening and laid over the paper.
YuvPicture drawBackgroundFrame(uint32_t seed, int frame);

EncoderOptions overlayEncoding();
EncoderOptions backgroundEncoding();

// All frames of one video as a complete .vid image.
std::vector<uint8_t> makeOverlayVideo(uint32_t seed);
std::vector<uint8_t> makeBackgroundVideo(uint32_t seed);

}  // namespace content
