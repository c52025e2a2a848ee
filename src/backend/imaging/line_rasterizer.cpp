#include "backend/imaging/line_rasterizer.h"

#include <algorithm>
#include <cmath>

namespace {

// After the near plane, w is kept at least this far above zero, so a matrix that puts points
// behind the eye without a negative z cannot make the divide blow up or flip a segment.
constexpr double kMinW = 1e-6;

struct Homogeneous {
    double x, y, z, w;
};

Homogeneous lerp(const Homogeneous& a, const Homogeneous& b, double t) {
    return {a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t, a.z + (b.z - a.z) * t,
            a.w + (b.w - a.w) * t};
}

// Keeps the part of the segment where the plane distance d is >= 0.
bool clipToPlane(Homogeneous& a, Homogeneous& b, double da, double db) {
    if (da < 0 && db < 0) return false;
    if (da < 0) {
        a = lerp(a, b, da / (da - db));
    } else if (db < 0) {
        b = lerp(b, a, db / (db - da));
    }
    return true;
}

bool clipSegment(Homogeneous& a, Homogeneous& b) {
    if (!clipToPlane(a, b, a.z, b.z)) return false;
    return clipToPlane(a, b, a.w - kMinW, b.w - kMinW);
}

struct ScreenPoint {
    double x, y;
};

ScreenPoint toScreen(const Homogeneous& p, int width, int height) {
    return {(1.0 + p.x / p.w) * width * 0.5, (1.0 - p.y / p.w) * height * 0.5};
}

double roundHalfUp(double v) {
    return std::floor(v + 0.5);
}

uint32_t mix(uint32_t s, uint32_t d, uint32_t a) {
    return (s * a + d * (255 - a) + 127) / 255;
}

void blendPixel(RenderTarget& target, int64_t x, int64_t y, uint32_t colour) {
    uint32_t& dst = target.pixels[y * target.pitch + x];
    const uint32_t a = colour >> 24;
    const uint32_t outA = mix(a, dst >> 24, a);
    const uint32_t r = mix((colour >> 16) & 0xFF, (dst >> 16) & 0xFF, a);
    const uint32_t g = mix((colour >> 8) & 0xFF, (dst >> 8) & 0xFF, a);
    const uint32_t b = mix(colour & 0xFF, dst & 0xFF, a);
    dst = outA << 24 | r << 16 | g << 8 | b;
}

// Pixels from A's major-axis position up to, not including, B's (see the header for the rule).
void segmentPixels(int width, int height, ScreenPoint a, ScreenPoint b, const LinePixel& pixel) {
    if (!std::isfinite(a.x) || !std::isfinite(a.y) || !std::isfinite(b.x) || !std::isfinite(b.y)) {
        return;
    }
    const bool xMajor = std::fabs(b.x - a.x) >= std::fabs(b.y - a.y);
    const double au = xMajor ? a.x : a.y;
    const double av = xMajor ? a.y : a.x;
    const double bu = xMajor ? b.x : b.y;
    const double bv = xMajor ? b.y : b.x;
    const int64_t majorSize = xMajor ? width : height;
    const int64_t minorSize = xMajor ? height : width;

    const double uStart = roundHalfUp(au);
    const double uEnd = roundHalfUp(bu);
    if (uStart == uEnd) return;
    const double slope = (bv - av) / (bu - au);

    // Only positions on the target are visited, which bounds the work by the target's size.
    double lo = uEnd > uStart ? uStart : uEnd + 1;
    double hi = uEnd > uStart ? uEnd - 1 : uStart;
    lo = std::max(lo, 0.0);
    hi = std::min(hi, static_cast<double>(majorSize - 1));
    if (lo > hi) return;
    for (int64_t u = static_cast<int64_t>(lo); u <= static_cast<int64_t>(hi); ++u) {
        const double v = roundHalfUp(av + (static_cast<double>(u) - au) * slope);
        if (v < 0 || v >= static_cast<double>(minorSize)) continue;
        const int64_t iv = static_cast<int64_t>(v);
        if (xMajor) {
            pixel(u, iv);
        } else {
            pixel(iv, u);
        }
    }
}

Homogeneous point(const float (*clip)[4], int i) {
    return {clip[i][0], clip[i][1], clip[i][2], clip[i][3]};
}

}  // namespace

void lineStripPixels(int width, int height, const float (*clip)[4], int count,
                     const LinePixel& pixel) {
    if (width <= 0 || height <= 0 || !clip || count < 2) return;
    for (int i = 0; i + 1 < count; ++i) {
        Homogeneous a = point(clip, i);
        Homogeneous b = point(clip, i + 1);
        if (!clipSegment(a, b)) continue;
        segmentPixels(width, height, toScreen(a, width, height), toScreen(b, width, height), pixel);
    }

    const Homogeneous last = point(clip, count - 1);
    if (!(last.z >= 0 && last.w >= kMinW)) return;
    const ScreenPoint p = toScreen(last, width, height);
    if (!std::isfinite(p.x) || !std::isfinite(p.y)) return;
    const double x = roundHalfUp(p.x);
    const double y = roundHalfUp(p.y);
    if (x < 0 || y < 0 || x >= width || y >= height) return;
    pixel(static_cast<int64_t>(x), static_cast<int64_t>(y));
}

void drawLineStrip(RenderTarget& target, const float (*clip)[4], int count, uint32_t colour) {
    if (!target.pixels || (colour >> 24) == 0) return;
    lineStripPixels(target.width, target.height, clip, count,
                    [&](int64_t x, int64_t y) { blendPixel(target, x, y, colour); });
}
