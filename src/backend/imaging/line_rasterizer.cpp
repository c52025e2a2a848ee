#include "backend/imaging/line_rasterizer.h"

#include <algorithm>
#include <cmath>
#include <vector>

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

// Where the rule's pixels go. A thin line hands each pixel on as it comes; a thick one gathers the
// runs of the whole strip first, since the runs of two segments overlap at their joint.
class Plotter {
  public:
    Plotter(int width, int height, int thickness, const LinePixel& pixel)
        : width_(width), height_(height), thickness_(thickness), pixel_(pixel) {}

    // How far off the target a rule pixel on the minor axis may lie and still reach it.
    int64_t margin() const { return thickness_ - 1; }

    void plot(int64_t x, int64_t y, bool xMajor) {
        if (thickness_ == 1) {
            pixel_(x, y);
            return;
        }
        for (int64_t i = 0; i < thickness_; ++i) {
            const int64_t offset = i - (thickness_ - 1) / 2;
            const int64_t px = xMajor ? x : x + offset;
            const int64_t py = xMajor ? y + offset : y;
            if (px < 0 || py < 0 || px >= width_ || py >= height_) continue;
            gathered_.push_back(py * width_ + px);
        }
    }

    void finish() {
        std::sort(gathered_.begin(), gathered_.end());
        gathered_.erase(std::unique(gathered_.begin(), gathered_.end()), gathered_.end());
        for (int64_t index : gathered_) pixel_(index % width_, index / width_);
    }

  private:
    int64_t width_;
    int64_t height_;
    int64_t thickness_;
    const LinePixel& pixel_;
    std::vector<int64_t> gathered_;
};

// Pixels from A's major-axis position up to, not including, B's (see the header for the rule).
// Returns whether the segment's major axis is x.
bool segmentPixels(int width, int height, ScreenPoint a, ScreenPoint b, Plotter& plotter) {
    if (!std::isfinite(a.x) || !std::isfinite(a.y) || !std::isfinite(b.x) || !std::isfinite(b.y)) {
        return true;
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
    if (uStart == uEnd) return xMajor;
    const double slope = (bv - av) / (bu - au);

    // Only positions on the target are visited, which bounds the work by the target's size.
    double lo = uEnd > uStart ? uStart : uEnd + 1;
    double hi = uEnd > uStart ? uEnd - 1 : uStart;
    lo = std::max(lo, 0.0);
    hi = std::min(hi, static_cast<double>(majorSize - 1));
    if (lo > hi) return xMajor;
    const double margin = static_cast<double>(plotter.margin());
    for (int64_t u = static_cast<int64_t>(lo); u <= static_cast<int64_t>(hi); ++u) {
        const double v = roundHalfUp(av + (static_cast<double>(u) - au) * slope);
        if (v < -margin || v >= static_cast<double>(minorSize) + margin) continue;
        const int64_t iv = static_cast<int64_t>(v);
        if (xMajor) {
            plotter.plot(u, iv, true);
        } else {
            plotter.plot(iv, u, false);
        }
    }
    return xMajor;
}

Homogeneous point(const float (*clip)[4], int i) {
    return {clip[i][0], clip[i][1], clip[i][2], clip[i][3]};
}

}  // namespace

void lineStripPixels(int width, int height, const float (*clip)[4], int count, int thickness,
                     const LinePixel& pixel) {
    if (width <= 0 || height <= 0 || !clip || count < 2 || thickness < 1) return;
    Plotter plotter(width, height, thickness, pixel);
    bool xMajor = true;
    for (int i = 0; i + 1 < count; ++i) {
        Homogeneous a = point(clip, i);
        Homogeneous b = point(clip, i + 1);
        if (!clipSegment(a, b)) continue;
        xMajor = segmentPixels(width, height, toScreen(a, width, height),
                               toScreen(b, width, height), plotter);
    }

    const Homogeneous last = point(clip, count - 1);
    if (last.z >= 0 && last.w >= kMinW) {
        const ScreenPoint p = toScreen(last, width, height);
        if (std::isfinite(p.x) && std::isfinite(p.y)) {
            const double x = roundHalfUp(p.x);
            const double y = roundHalfUp(p.y);
            // The end pixel's run lies across the last segment's major axis.
            const double mx = xMajor ? 0 : static_cast<double>(plotter.margin());
            const double my = xMajor ? static_cast<double>(plotter.margin()) : 0;
            if (x >= -mx && y >= -my && x < width + mx && y < height + my) {
                plotter.plot(static_cast<int64_t>(x), static_cast<int64_t>(y), xMajor);
            }
        }
    }
    plotter.finish();
}

void drawLineStrip(RenderTarget& target, const float (*clip)[4], int count, uint32_t colour,
                   int thickness) {
    if (!target.pixels || (colour >> 24) == 0) return;
    lineStripPixels(target.width, target.height, clip, count, thickness,
                    [&](int64_t x, int64_t y) { blendPixel(target, x, y, colour); });
}
