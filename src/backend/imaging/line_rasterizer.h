#pragma once
// The line drawer of the renderers: a strip of 1-pixel lines through points already taken
// to clip space by the caller's matrix.
//
// Each segment is first clipped against the near plane (z >= 0) and then against w >= a tiny
// positive value, so points behind the eye never fold over; the far plane and the sides are not
// clipped in clip space. Points are then divided by w and mapped over the whole target:
// Xs = (1 + x) W/2, Ys = (1 - y) H/2, pixel centres at integer positions.
//
// Pixel rule (a DDA): a segment from A to B steps along its major axis (x when |dx| >= |dy|,
// ties to x). The pixels are the major-axis positions from round(A) up to but not including
// round(B); on each, the minor coordinate is the line's value there, rounded. round(v) is
// floor(v + 0.5). A segment therefore leaves its end pixel to the next segment, so a joint is
// drawn once, and the strip's last point adds its own pixel at the end. Pixels off the target
// are skipped without being visited: a segment costs at most the target's width or height in
// steps, however far its points lie.
//
// Colour: SRCALPHA / INVSRCALPHA with the colour's alpha on all four channels, rounded to
// nearest, as the platform's line drawer blends.
//
// Thickness: on a back buffer `thickness` times finer than the show's device, each pixel of the
// rule becomes a run of `thickness` pixels across the major axis, from v - (thickness - 1) / 2
// on, so the line keeps its weight in the picture. Where the runs of a strip's segments meet,
// a pixel is still blended only once.
#include <cstdint>
#include <functional>

#include "backend/imaging/render_target.h"

// The pixels of the strip on a width x height target, in the order they are blended (a thin
// line's once per segment that covers them, a thick line's once each); drawLineStrip blends
// exactly these, and other renderers draw them alike.
using LinePixel = std::function<void(int64_t x, int64_t y)>;
void lineStripPixels(int width, int height, const float (*clip)[4], int count, int thickness,
                     const LinePixel& pixel);

void drawLineStrip(RenderTarget& target, const float (*clip)[4], int count, uint32_t colour,
                   int thickness = 1);
