#pragma once
// The still pictures of the show: four brush imprints and the paper. Each is drawn into an
// RGB picture from the seed alone.
#include <cstdint>

#include "vid/png_io.h"

namespace content {

const int kBrushSize = 256;
const int kPaperSize = 512;

enum class BrushKind {
    Bristle,   // brush1: a round press of a loaded brush, parallel bristle streaks
    Spark,     // zor_brush2: sparse bright lines, ring and specks on black, for the additive stroke
    DryBrush,  // brush2: a flat dry smear, streaks broken by the paper's tooth
    Splatter,  // zor_brush4: a sponge-like cluster of dots
};

// Light marks on black, at about half brightness at their fullest, fading to black well before
// the edges so the imprint's square never shows. Grey, so the stroke colours alone give the tint.
RgbImage drawBrush(BrushKind kind, uint32_t seed);

// Warm, toned, fibrous paper that tiles without a seam in both directions.
RgbImage drawPaper(uint32_t seed);

}  // namespace content
