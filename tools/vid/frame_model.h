#pragma once
// A plain model of how the decoder rebuilds a frame payload, written straight from the format's
// passes. The encoder computes its residuals against it and the tools check every encoded frame
// against the real decoder with it.
#include <cstdint>
#include <string>
#include <vector>

#include "video/vid_format.h"

// Rebuilds the payload into W*H pixels of 4 bytes (lane 0 luma, 1 Cr index, 2 Cb index), all
// lanes starting at zero, as the decoder does into a zero-filled buffer. Handles the frames the
// encoder can make (cell dimensions 2, 4, 8, 16 dividing the frame); anything else is refused
// with a reason in *error.
bool modelFrame(const std::vector<uint8_t>& payload, std::vector<uint8_t>* pixels,
                std::string* error = nullptr);

// One interpolation run: n samples from a 16.16 accumulator starting at a and stepping towards
// b (flat when `interpolate` is false); sample i goes to out[i * stride].
void rampSamples(int a, int b, int n, bool interpolate, uint8_t* out, int stride);

// The interpolated base of one cell from its corner values (already scaled: 4 x node for luma),
// cw x ch samples row by row into out. The corners are the top-left, top-right, bottom-left and
// bottom-right grid nodes; the vertical pass reads the row samples as unsigned bytes.
void cellBase(int topLeft, int topRight, int bottomLeft, int bottomRight, int cw, int ch,
              bool interpolateRows, bool interpolateColumns, uint8_t* out);
