#include "backend/soft/line_rasterizer.h"

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

// Where the rule's pixels go. A thin line blends each pixel as it comes; a thick one gathers the
// runs of the whole strip first, since the runs of two segments overlap at their joint.
class Plotter {
  public:
    Plotter(RenderTarget& target, uint32_t colour, int thickness)
        : target_(target), colour_(colour), thickness_(thickness) {}

    // How far off the target a rule pixel on the minor axis may lie and still reach it.
    int64_t margin() const { return thickness_ - 1; }

    void plot(int64_t x, int64_t y, bool xMajor) {
        if (thickness_ == 1) {
            blendPixel(target_, x, y, colour_);
            return;
        }
        for (int64_t i = 0; i < thickness_; ++i) {
            const int64_t offset = i - (thickness_ - 1) / 2;
            const int64_t px = xMajor ? x : x + offset;
            const int64_t py = xMajor ? y + offset : y;
            if (px < 0 || py < 0 || px >= target_.width || py >= target_.height) continue;
            gathered_.push_back(py * target_.pitch + px);
        }
    }

    void finish() {
        std::sort(gathered_.begin(), gathered_.end());
        gathered_.erase(std::unique(gathered_.begin(), gathered_.end()), gathered_.end());
        for (int64_t index : gathered_) {
            blendPixel(target_, index % target_.pitch, index / target_.pitch, colour_);
        }
    }

  private:
    RenderTarget& target_;
    uint32_t colour_;
    int64_t thickness_;
    std::vector<int64_t> gathered_;
};

// Pixels from A's major-axis position up to, not including, B's (see the header for the rule).
// Returns whether the segment's major axis is x.
bool drawSegment(const RenderTarget& target, ScreenPoint a, ScreenPoint b, Plotter& plotter) {
    if (!std::isfinite(a.x) || !std::isfinite(a.y) || !std::isfinite(b.x) || !std::isfinite(b.y)) {
        return true;
    }
    const bool xMajor = std::fabs(b.x - a.x) >= std::fabs(b.y - a.y);
    const double au = xMajor ? a.x : a.y;
    const double av = xMajor ? a.y : a.x;
    const double bu = xMajor ? b.x : b.y;
    const double bv = xMajor ? b.y : b.x;
    const int64_t majorSize = xMajor ? target.width : target.height;
    const int64_t minorSize = xMajor ? target.height : target.width;

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

void drawLineStrip(RenderTarget& target, const float (*clip)[4], int count, uint32_t colour,
                   int thickness) {
    if (!target.pixels || target.width <= 0 || target.height <= 0 || !clip || count < 2) return;
    if ((colour >> 24) == 0 || thickness < 1) return;
    Plotter plotter(target, colour, thickness);
    bool xMajor = true;
    for (int i = 0; i + 1 < count; ++i) {
        Homogeneous a = point(clip, i);
        Homogeneous b = point(clip, i + 1);
        if (!clipSegment(a, b)) continue;
        xMajor = drawSegment(target, toScreen(a, target.width, target.height),
                             toScreen(b, target.width, target.height), plotter);
    }

    const Homogeneous last = point(clip, count - 1);
    if (last.z >= 0 && last.w >= kMinW) {
        const ScreenPoint p = toScreen(last, target.width, target.height);
        if (std::isfinite(p.x) && std::isfinite(p.y)) {
            const double x = roundHalfUp(p.x);
            const double y = roundHalfUp(p.y);
            // The end pixel's run lies across the last segment's major axis.
            const double mx = xMajor ? 0 : static_cast<double>(plotter.margin());
            const double my = xMajor ? static_cast<double>(plotter.margin()) : 0;
            if (x >= -mx && y >= -my && x < target.width + mx && y < target.height + my) {
                plotter.plot(static_cast<int64_t>(x), static_cast<int64_t>(y), xMajor);
            }
        }
    }
    plotter.finish();
}
