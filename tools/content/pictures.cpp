#include "content/pictures.h"

#include <cmath>
#include <vector>

#include "content/content_math.h"

namespace content {

namespace {

// A picture of one channel, values nominally 0..1.
struct Plane {
    int width, height;
    std::vector<double> v;
    Plane(int w, int h, double fill = 0.0) : width(w), height(h), v(size_t(w) * h, fill) {}
    double& at(int x, int y) { return v[size_t(y) * width + x]; }
};

uint8_t toByte(double v) {
    const double c = clampTo(v, 0.0, 1.0) * 255.0 + 0.5;
    return uint8_t(int(c));
}

// The show multiplies a brush by its stroke colour four times over and, in the first stroke,
// blends it by its own colour: many overlapping imprints settle on the product itself. A brush
// at full white would settle on pale, washed-out colours; at half it settles on dull, dark
// ones, and the pile of large imprints at a mark's end reads as a dark ball. Four fifths keeps
// the stroke colours' own hues (grey, lilac, crimson, yellow) and lets the brushes' breaks
// show as texture.
const double kBrushPeak = 0.8;

RgbImage greyImage(const Plane& p, double peak) {
    RgbImage image;
    image.width = p.width;
    image.height = p.height;
    image.channels = 3;
    image.pixels.resize(size_t(p.width) * p.height * 3);
    for (size_t i = 0; i < p.v.size(); ++i) {
        const uint8_t b = toByte(p.v[i] * peak);
        image.pixels[3 * i] = image.pixels[3 * i + 1] = image.pixels[3 * i + 2] = b;
    }
    return image;
}

// Normalised position of pixel centre i on an axis of n pixels: -1 .. 1.
double unit(int i, int n) {
    return (2.0 * i + 1.0) / n - 1.0;
}

// Fades everything out towards the picture's edge, whatever the mark's own shape does.
double borderFade(double x, double y) {
    const double ax = x < 0 ? -x : x, ay = y < 0 ? -y : y;
    return smoothstep(0.97, 0.86, ax) * smoothstep(0.97, 0.86, ay);
}

Plane bristle(uint32_t seed) {
    const int n = kBrushSize;
    Rng rng(deriveSeed(seed, 201));
    PeriodicNoise noise(rng.next(), 64, 64, 64);
    // Fine hairs side by side across the press, each with its own length, weight and dry
    // patches; their ends make the fringe at both sides instead of a drawn outline.
    struct Hair {
        double y, width, strength, from, to, dryPhase, dryness;
    };
    std::vector<Hair> hairs(170);
    for (Hair& h : hairs) {
        h.y = 0.62 * rng.bell();
        const double reach = std::sqrt(clamp01(1.0 - (h.y / 0.66) * (h.y / 0.66)));
        h.width = rng.range(0.004, 0.011);
        h.strength = rng.range(0.25, 0.7);
        h.from = -0.86 * reach * rng.range(0.75, 1.0);
        h.to = 0.86 * reach * rng.range(0.75, 1.0);
        h.dryPhase = rng.range(0.0, 40.0);
        h.dryness = rng.range(-0.25, 0.15);
    }
    Plane p(n, n);
    for (int j = 0; j < n; ++j) {
        const double y = unit(j, n);
        for (int i = 0; i < n; ++i) {
            const double x = unit(i, n);
            double streaks = 0.0;
            for (const Hair& h : hairs) {
                const double d = (y - h.y) / h.width;
                if (d > 3.0 || d < -3.0 || x < h.from - 0.05 || x > h.to + 0.05) continue;
                const double ends = smoothstep(h.from - 0.05, h.from + 0.08, x) *
                                    smoothstep(h.to + 0.05, h.to - 0.08, x);
                // A hair runs dry in places along its length.
                const double dry = smoothstep(h.dryness - 0.15, h.dryness + 0.15,
                                              noise.fbm(x * 3.5 + h.dryPhase, h.y * 20.0, 7.5, 2));
                streaks += h.strength * ends * dry / (1.0 + d * d * d * d);
            }
            // A soft wash of paint under the hairs, heaviest in the middle of the press.
            const double r2 = (x / 0.8) * (x / 0.8) + (y / 0.6) * (y / 0.6);
            const double wash = 0.22 * smoothstep(1.0, 0.1, r2);
            const double tone = streaks / (0.6 + streaks) + wash;
            p.at(i, j) = clamp01(tone) * borderFade(x, y);
        }
    }
    return p;
}

// The additive second stroke's brush, which the first stroke also draws one time in four. About
// fifty imprints overlap in the second stroke's ordinary comet, and late in the show about a
// hundred of them, each magnified past the screen and turned a little further than the last,
// add their texels, four times over, to every pixel. A pixel at distance d from an imprint's
// centre reads the brush at radius d / size, and the sizes are spread evenly, so the magnified
// layers read a feature at radius r about 1 / r^2 as often per unit of radius, while the small
// imprints of the comet and of the first stroke read every part by its area. So the features sit
// in the outer band (lines from half the radius out, a ring, specks): there they give the comet
// and the first stroke's pile their marks and weigh least in the magnified sum; the middle is
// black. Magnified and turned from layer to layer, each feature sweeps a streak of light.
// The features are pressed dry like the other brushes (paint or black): the first stroke's
// blend settles each pixel on the colour of the imprints laid on it, so a dim feature would
// darken its pile of six hundred imprints instead of colouring it.
Plane sparkBrush(uint32_t seed) {
    const int n = kBrushSize;
    Rng rng(deriveSeed(seed, 202));
    PeriodicNoise noise(rng.next(), 32, 32, 32);
    struct Line {
        double turns, from, to, width, strength, dryPhase;
    };
    std::vector<Line> lines(7);
    for (size_t k = 0; k < lines.size(); ++k) {
        Line& l = lines[k];
        l.turns = (k + rng.range(0.1, 0.9)) / lines.size();
        l.from = rng.range(0.5, 0.6);
        l.to = rng.range(0.78, 0.86);
        l.width = rng.range(0.004, 0.007);
        l.strength = rng.range(0.72, 0.86);
        l.dryPhase = rng.range(0.0, 20.0);
    }
    const double ringRadius = rng.range(0.7, 0.78);
    Plane p(n, n);
    for (int j = 0; j < n; ++j) {
        const double y = unit(j, n);
        for (int i = 0; i < n; ++i) {
            const double x = unit(i, n);
            const double r = std::sqrt(x * x + y * y);
            if (r < 0.2 || r > 0.95) continue;
            double v = 0.0;
            for (const Line& l : lines) {
                const double dx = cosTurns(l.turns), dy = sinTurns(l.turns);
                const double along = x * dx + y * dy, across = -x * dy + y * dx;
                if (along < l.from - 0.05 || along > l.to + 0.05) continue;
                const double d = across / l.width;
                if (d > 3.0 || d < -3.0) continue;
                const double ends = smoothstep(l.from - 0.04, l.from + 0.08, along) *
                                    smoothstep(l.to + 0.04, l.to - 0.12, along);
                // The hair skips where it ran dry.
                const double dry = smoothstep(
                    0.0, 0.1, noise.fbm(along * 9.0 + l.dryPhase, l.turns * 7.0, 3.0, 2));
                v += l.strength * ends * dry * smoothstep(1.6, 0.8, d < 0 ? -d : d);
            }
            // The ring, broken into arcs where its noise dips.
            const double ringD = (r - ringRadius) / 0.007;
            if (ringD > -3.0 && ringD < 3.0) {
                const double arcs =
                    smoothstep(0.2, 0.3, noise.fbm(x * 2.5 + 7.0, y * 2.5, 11.0, 2));
                v += 0.8 * arcs * smoothstep(1.6, 0.8, ringD < 0 ? -ringD : ringD);
            }
            p.at(i, j) = clamp01(v) * smoothstep(0.2, 0.26, r) * borderFade(x, y);
        }
    }
    // Specks flicked off the bristles.
    for (int s = 0; s < 66; ++s) {
        const double a = rng.uniform(), dist = rng.range(0.64, 0.86);
        const double cx = dist * cosTurns(a), cy = dist * sinTurns(a);
        const double radius = rng.range(1.0, 2.0) * 2.0 / n, strength = rng.range(0.72, 0.86);
        const int ci = int((cx + 1.0) * n / 2), cj = int((cy + 1.0) * n / 2);
        for (int j = cj - 4; j <= cj + 4; ++j)
            for (int i = ci - 4; i <= ci + 4; ++i) {
                if (i < 0 || j < 0 || i >= n || j >= n) continue;
                const double x = unit(i, n), y = unit(j, n);
                const double d = std::sqrt((x - cx) * (x - cx) + (y - cy) * (y - cy));
                const double dot = strength * smoothstep(radius + 1.5 / n, radius - 1.5 / n, d);
                double& v = p.at(i, j);
                v = v + dot * (1.0 - v) * borderFade(x, y);
            }
    }
    return p;
}

Plane dryBrush(uint32_t seed) {
    const int n = kBrushSize;
    Rng rng(deriveSeed(seed, 203));
    PeriodicNoise noise(rng.next(), 64, 64, 64);
    Plane p(n, n);
    for (int j = 0; j < n; ++j) {
        const double y = unit(j, n);
        for (int i = 0; i < n; ++i) {
            const double x = unit(i, n);
            // A flat smear: long along x, its ends frayed and its sides ragged.
            const double fray = 0.10 * noise.fbm(y * 5.0 + 1.0, 2.0, 4.0, 3);
            const double along = smoothstep(0.90 + fray, 0.55 + fray, x < 0 ? -x : x);
            const double side = 0.42 + 0.05 * noise.fbm(x * 3.0, 8.0, 1.0, 3);
            const double across = smoothstep(side + 0.06, side - 0.10, y < 0 ? -y : y);
            const double body = along * across;
            if (body <= 0.0) continue;
            // Streaks: noise stretched along the stroke; where it dips the bristles skipped.
            const double streak = noise.fbm(x * 1.6 + 30.0, y * 26.0, 2.5, 4, 0.6);
            const double skip = smoothstep(-0.28, 0.12, streak + 0.25 * (along - 1.0));
            const double grain = 0.85 + 0.15 * noise.at(x * 40.0, y * 40.0, 12.5);
            p.at(i, j) = body * skip * grain * borderFade(x, y);
        }
    }
    return p;
}

Plane splatter(uint32_t seed) {
    const int n = kBrushSize;
    Rng rng(deriveSeed(seed, 204));
    Plane p(n, n);
    // A faint soft core the dots sit on.
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            const double x = unit(i, n), y = unit(j, n);
            const double r2 = x * x + y * y;
            p.at(i, j) = 0.22 * smoothstep(0.55, 0.0, r2) * borderFade(x, y);
        }
    for (int d = 0; d < 420; ++d) {
        // Dense in the middle, a few strays further out.
        const double a = rng.uniform(), spread = rng.uniform();
        const double dist = 0.78 * spread * spread * (0.6 + 0.4 * rng.uniform());
        const double cx = dist * cosTurns(a), cy = dist * sinTurns(a);
        const double radius = (1.0 + 5.5 * rng.uniform() * rng.uniform()) * 2.0 / n;
        const double strength = rng.range(0.45, 1.0);
        const int x0 = int((cx - radius) * n / 2 + n / 2) - 2,
                  x1 = int((cx + radius) * n / 2 + n / 2) + 2;
        const int y0 = int((cy - radius) * n / 2 + n / 2) - 2,
                  y1 = int((cy + radius) * n / 2 + n / 2) + 2;
        for (int j = y0 < 0 ? 0 : y0; j <= y1 && j < n; ++j)
            for (int i = x0 < 0 ? 0 : x0; i <= x1 && i < n; ++i) {
                const double x = unit(i, n), y = unit(j, n);
                const double r = std::sqrt((x - cx) * (x - cx) + (y - cy) * (y - cy));
                const double dot = strength * smoothstep(radius + 1.5 / n, radius - 1.5 / n, r);
                double& v = p.at(i, j);
                v = v + dot * (1.0 - v) * borderFade(x, y);
            }
    }
    return p;
}

// The first stroke's blend pulls every pixel towards the colour of each imprint laid on it, as
// fast as that colour is bright. Hundreds of imprints pile up at a mark's end, and the faint
// fringes and washes of a soft brush, dark after the stroke colour, pull it all to a dull
// dark ball. Pressed into a dry mark, a texel either leaves paint or leaves the pixel alone:
// the pile keeps its bristles' colours and its breaks, like paint from a dry brush.
Plane dryPress(Plane p) {
    for (double& v : p.v) v = smoothstep(0.16, 0.42, v);
    return p;
}

}  // namespace

RgbImage drawBrush(BrushKind kind, uint32_t seed) {
    switch (kind) {
        case BrushKind::Bristle:
            return greyImage(dryPress(bristle(seed)), kBrushPeak);
        case BrushKind::Spark:
            return greyImage(dryPress(sparkBrush(seed)), kBrushPeak);
        case BrushKind::DryBrush:
            return greyImage(dryPress(dryBrush(seed)), kBrushPeak);
        default:
            return greyImage(dryPress(splatter(seed)), kBrushPeak);
    }
}

RgbImage drawPaper(uint32_t seed) {
    const int n = kPaperSize;
    Rng rng(deriveSeed(seed, 301));
    // Periods in lattice cells across the whole picture: every layer wraps at the edges.
    PeriodicNoise cloud(rng.next(), 4, 4, 1), grain(rng.next(), 64, 64, 1),
        tint(rng.next(), 2, 2, 1);
    Plane light(n, n), warm(n, n);
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            const double u = double(i) / n, v = double(j) / n;
            light.at(i, j) =
                0.05 * cloud.fbm(u * 4, v * 4, 0.3, 5) + 0.018 * grain.fbm(u * 64, v * 64, 0.6, 2);
            warm.at(i, j) = tint.fbm(u * 2, v * 2, 0.2, 3);
        }
    // Fibres: short, slightly curved strands, mostly paler than the sheet, some darker, drawn
    // with wrap-around so they cross the edges into the opposite side.
    Plane fibre(n, n);
    for (int f = 0; f < 2200; ++f) {
        double x = rng.range(0, n), y = rng.range(0, n);
        double heading = rng.uniform();
        const double bend = rng.bell() * 0.006;
        const double length = 6.0 + 34.0 * rng.uniform() * rng.uniform();
        const double strength =
            rng.uniform() < 0.7 ? rng.range(0.02, 0.06) : -rng.range(0.015, 0.04);
        for (double s = 0; s < length; s += 0.5) {
            const double fadeEnds = smoothstep(0.0, 3.0, s) * smoothstep(length, length - 3.0, s);
            const double fx = floorOf(x), fy = floorOf(y);
            const double ax = x - fx, ay = y - fy;
            const int ix = int(fx), iy = int(fy);
            const double w[4] = {(1 - ax) * (1 - ay), ax * (1 - ay), (1 - ax) * ay, ax * ay};
            const int dx[4] = {0, 1, 0, 1}, dy[4] = {0, 0, 1, 1};
            for (int k = 0; k < 4; ++k) {
                const int px = ((ix + dx[k]) % n + n) % n, py = ((iy + dy[k]) % n + n) % n;
                fibre.at(px, py) += 0.5 * strength * fadeEnds * w[k];
            }
            x += 0.5 * cosTurns(heading);
            y += 0.5 * sinTurns(heading);
            heading += bend;
        }
    }
    // A few specks of bark and dust pressed into the sheet.
    Plane speck(n, n);
    for (int s = 0; s < 36; ++s) {
        const double cx = rng.range(0, n), cy = rng.range(0, n), radius = rng.range(0.6, 1.6);
        const double strength = rng.range(0.08, 0.22);
        for (int dy = -3; dy <= 3; ++dy)
            for (int dx = -3; dx <= 3; ++dx) {
                const int px = ((int(cx) + dx) % n + n) % n, py = ((int(cy) + dy) % n + n) % n;
                const double ox = floorOf(cx) + dx + 0.5 - cx, oy = floorOf(cy) + dy + 0.5 - cy;
                const double r = std::sqrt(ox * ox + oy * oy);
                speck.at(px, py) += strength * smoothstep(radius + 0.8, radius - 0.8, r);
            }
    }
    RgbImage image;
    image.width = image.height = n;
    image.channels = 3;
    image.pixels.resize(size_t(n) * n * 3);
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            const double b = 1.0 + light.at(i, j) + clampTo(fibre.at(i, j), -0.05, 0.07);
            const double w = warm.at(i, j) * 0.5;
            const double dark = clamp01(speck.at(i, j));
            // A toned sheet, not a white one: the second stroke paints light onto it, and light
            // needs room above the paper to show as a mark rather than as more white.
            const double r = (0.80 + 0.012 * w) * b, g = (0.755 - 0.004 * w) * b,
                         bl = (0.665 - 0.020 * w) * b;
            uint8_t* px = &image.pixels[(size_t(j) * n + i) * 3];
            px[0] = toByte(lerp(r, 0.42, dark));
            px[1] = toByte(lerp(g, 0.34, dark));
            px[2] = toByte(lerp(bl, 0.26, dark));
        }
    return image;
}

}  // namespace content
