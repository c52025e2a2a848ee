#include "backend/imaging/line_rasterizer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <set>
#include <utility>
#include <vector>

namespace {

constexpr int kW = 16;
constexpr int kH = 16;
constexpr uint32_t kBackground = 0xFF000000;

struct Canvas {
    Canvas() : pixels(kW * kH, kBackground) { target = {pixels.data(), kW, kH, kW}; }
    uint32_t at(int x, int y) const { return pixels[y * kW + x]; }
    std::set<std::pair<int, int>> drawn() const {
        std::set<std::pair<int, int>> out;
        for (int y = 0; y < kH; ++y) {
            for (int x = 0; x < kW; ++x) {
                if (at(x, y) != kBackground) out.insert({x, y});
            }
        }
        return out;
    }
    std::vector<uint32_t> pixels;
    RenderTarget target;
};

// Clip-space point that lands on screen position (sx, sy), scaled by w.
std::vector<float> onScreen(double sx, double sy, double w = 1.0, double z = 0.0) {
    return {static_cast<float>((2.0 * sx / kW - 1.0) * w),
            static_cast<float>((1.0 - 2.0 * sy / kH) * w), static_cast<float>(z * w),
            static_cast<float>(w)};
}

void draw(Canvas& canvas, const std::vector<std::vector<float>>& points, uint32_t colour,
          int thickness = 1) {
    std::vector<float> flat;
    for (const auto& p : points) flat.insert(flat.end(), p.begin(), p.end());
    drawLineStrip(canvas.target, reinterpret_cast<const float(*)[4]>(flat.data()),
                  static_cast<int>(points.size()), colour, thickness);
}

using Pixels = std::set<std::pair<int, int>>;

TEST(LineRasterizer, HorizontalAndDiagonalLinesHitTheirPixels) {
    Canvas horizontal;
    draw(horizontal, {onScreen(2, 5), onScreen(9, 5)}, 0xFFFFFFFF);
    Pixels want;
    for (int x = 2; x <= 9; ++x) want.insert({x, 5});
    EXPECT_EQ(horizontal.drawn(), want);
    EXPECT_EQ(horizontal.at(2, 5), 0xFFFFFFFFu);

    Canvas diagonal;
    draw(diagonal, {onScreen(6, 1), onScreen(1, 6)}, 0xFFFFFFFF);
    want.clear();
    for (int i = 1; i <= 6; ++i) want.insert({7 - i, i});
    EXPECT_EQ(diagonal.drawn(), want);

    // A shallow line: one pixel per column, rows rounded, halves going down.
    Canvas shallow;
    draw(shallow, {onScreen(0, 0), onScreen(8, 2)}, 0xFFFFFFFF);
    EXPECT_EQ(shallow.drawn(),
              (Pixels{{0, 0}, {1, 0}, {2, 1}, {3, 1}, {4, 1}, {5, 1}, {6, 2}, {7, 2}, {8, 2}}));

    // Points between pixel centres round to the nearest centre.
    Canvas offCentre;
    draw(offCentre, {onScreen(2.3, 7.6), onScreen(5.2, 7.6)}, 0xFFFFFFFF);
    EXPECT_EQ(offCentre.drawn(), (Pixels{{2, 8}, {3, 8}, {4, 8}, {5, 8}}));
}

TEST(LineRasterizer, HalfAlphaBlendsOnceOnEveryChannel) {
    // src (1, 1, 1, 0.502) over (0, 0, 0, 1): colour 0x80, alpha 0.502^2 + 0.498 = 191.
    Canvas single;
    draw(single, {onScreen(3, 3), onScreen(10, 3)}, 0x80FFFFFF);
    EXPECT_EQ(single.at(3, 3), 0xBF808080u);
    EXPECT_EQ(single.at(10, 3), 0xBF808080u);

    // A strip's joints and its last point are blended once, not once per segment.
    Canvas strip;
    draw(strip, {onScreen(2, 2), onScreen(8, 2), onScreen(8, 8), onScreen(8, 8), onScreen(2, 8)},
         0x80FFFFFF);
    for (const auto& p : strip.drawn()) {
        EXPECT_EQ(strip.at(p.first, p.second), 0xBF808080u) << p.first << "," << p.second;
    }
    EXPECT_EQ(strip.drawn().size(), 6u + 6u + 7u);

    Canvas clear;
    draw(clear, {onScreen(2, 2), onScreen(8, 8)}, 0x00FFFFFF);
    EXPECT_TRUE(clear.drawn().empty());
}

TEST(LineRasterizer, SegmentsAreClippedAtTheNearPlane) {
    // The second point lies behind the near plane (z < 0) at the same w: the segment ends
    // where z crosses 0, half way.
    Canvas half;
    draw(half, {onScreen(2, 8, 1.0, 1.0), onScreen(14, 8, 1.0, -1.0)}, 0xFFFFFFFF);
    Pixels want;
    for (int x = 2; x < 8; ++x) want.insert({x, 8});
    EXPECT_EQ(half.drawn(), want);

    // A point behind the eye (w < 0) would flip to the far side if divided without
    // clipping; here nothing is drawn right of the visible point.
    Canvas behind;
    std::vector<float> back = onScreen(12, 8, 1.0);
    back[2] = -3.0f;
    back[3] = -2.0f;
    draw(behind, {onScreen(4, 8, 1.0, 0.5), back}, 0xFFFFFFFF);
    for (const auto& p : behind.drawn()) EXPECT_LE(p.first, 4) << p.first;

    Canvas gone;
    draw(gone, {onScreen(2, 2, 1.0, -0.5), onScreen(9, 9, 1.0, -0.1)}, 0xFFFFFFFF);
    EXPECT_TRUE(gone.drawn().empty());
}

TEST(LineRasterizer, FarAndBrokenPointsNeitherHangNorEscapeTheTarget) {
    Canvas far;
    // From the centre to x = 1e9 in clip space: the row stays 8 all the way to the edge.
    draw(far, {onScreen(0, 8), {1e9f, 0.0f, 0.0f, 1.0f}}, 0xFFFFFFFF);
    Pixels want;
    for (int x = 0; x < kW; ++x) want.insert({x, 8});
    EXPECT_EQ(far.drawn(), want);

    Canvas across;
    draw(across, {{-1e9f, -1e9f, 0.0f, 1.0f}, {1e9f, 1e9f, 0.0f, 1.0f}}, 0xFFFFFFFF);
    // Screen y = 16 - x: rows 15 down to 1.
    EXPECT_EQ(across.drawn().size(), static_cast<size_t>(kW - 1));
    for (const auto& p : across.drawn()) EXPECT_EQ(p.first + p.second, 16);

    Canvas broken;
    const float nan = std::nanf("");
    const float inf = INFINITY;
    draw(broken,
         {onScreen(3, 3),
          {nan, 0.0f, 0.0f, 1.0f},
          {inf, -inf, 0.0f, 1.0f},
          {1.0f, 1.0f, 0.0f, 1e-30f},
          {3e38f, 3e38f, 3e38f, 3e38f},
          onScreen(5, 5)},
         0xFFFFFFFF);
    EXPECT_TRUE(broken.drawn().count({5, 5}));

    // A one-point strip draws nothing.
    Canvas lone;
    draw(lone, {onScreen(4, 4)}, 0xFFFFFFFF);
    EXPECT_TRUE(lone.drawn().empty());
}

TEST(LineRasterizer, ThickLinesRunAcrossTheMajorAxisAndBlendEachPixelOnce) {
    // A horizontal run, then straight down (a corner at (10, 4)), three pixels thick at half
    // alpha: every covered pixel holds the colour blended once, the corner included.
    Canvas corner;
    draw(corner, {onScreen(2, 4), onScreen(10, 4), onScreen(10, 12)}, 0x80FFFFFF, 3);
    Pixels want;
    for (int x = 2; x <= 9; ++x)
        for (int y = 3; y <= 5; ++y) want.insert({x, y});
    for (int y = 4; y <= 12; ++y)
        for (int x = 9; x <= 11; ++x) want.insert({x, y});
    EXPECT_EQ(corner.drawn(), want);
    for (const auto& p : want) ASSERT_EQ(corner.at(p.first, p.second), 0xBF808080u);

    // Two pixels thick: the run goes from the rule's pixel onward; a line along the top edge
    // keeps the part of its run that lies on the target.
    Canvas even;
    draw(even, {onScreen(3, 0), onScreen(6, 0)}, 0xFFFFFFFF, 2);
    want.clear();
    for (int x = 3; x <= 6; ++x)
        for (int y = 0; y <= 1; ++y) want.insert({x, y});
    EXPECT_EQ(even.drawn(), want);
    Canvas above;
    draw(above, {onScreen(3, -1), onScreen(6, -1)}, 0xFFFFFFFF, 3);
    want.clear();
    for (int x = 3; x <= 6; ++x) want.insert({x, 0});
    EXPECT_EQ(above.drawn(), want);
}

}  // namespace
