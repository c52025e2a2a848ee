#include "content/videos.h"

#include <cmath>

#include "content/content_math.h"

namespace content {

namespace {

uint8_t byteOf(double v) {
    return uint8_t(int(clampTo(v, 0.0, 255.0) + 0.5));
}

YuvPicture blankPicture() {
    YuvPicture p;
    p.width = p.height = kVideoSize;
    const size_t n = size_t(kVideoSize) * kVideoSize;
    p.y.assign(n, 0);
    p.cb.assign(n, 128);
    p.cr.assign(n, 128);
    return p;
}

struct Bloom {
    double birth, life;   // loop phases
    double x, y, radius;  // pixels
    double cb, cr;        // colour offsets around 128
    double seedX, seedY;  // where its outline noise is read
};

// The show draws rows 32..223 of the 256 rows (the layer is taller than the view); blooms are
// placed inside that band.
std::vector<Bloom> planBlooms(uint32_t seed) {
    Rng rng(deriveSeed(seed, 401));
    // Pale cream, straw, a cool blue-grey and a faint rose.
    const double tints[4][2] = {{-8, 6}, {-20, 9}, {12, -7}, {2, 9}};
    // Enough of them, and large enough, that an inverted frame (see the ground below) keeps
    // windows onto the painting however bright its ground turns.
    std::vector<Bloom> blooms(20);
    for (size_t i = 0; i < blooms.size(); ++i) {
        Bloom& b = blooms[i];
        b.birth = (i + 0.5 * rng.uniform()) / blooms.size();
        b.life = rng.range(0.30, 0.46);
        b.x = rng.range(34, 222);
        b.y = rng.range(58, 198);
        b.radius = rng.range(14, 36);
        const int tint = int(rng.below(4));
        b.cb = tints[tint][0] + 3.0 * rng.bell();
        b.cr = tints[tint][1] + 3.0 * rng.bell();
        b.seedX = rng.range(0, 60);
        b.seedY = rng.range(0, 60);
    }
    return blooms;
}

}  // namespace

double loopPhase(int frame, int frames) {
    const double steps = frames + 1;
    return frame == 0 ? 1.0 - 0.5 / steps : frame / steps;
}

YuvPicture drawOverlayFrame(uint32_t seed, int frame) {
    const double phase = loopPhase(frame, kOverlayFrames);
    const std::vector<Bloom> blooms = planBlooms(seed);
    Rng rng(deriveSeed(seed, 402));
    // The outline's wobble evolves through the third axis, four lattice steps per loop.
    PeriodicNoise outline(rng.next(), 64, 64, 4), granulation(rng.next(), 32, 32, 2);
    YuvPicture picture = blankPicture();
    // The black ground vanishes as alpha, but when the show's levels run inverted it turns
    // bright and opaque over the whole view for a frame. Its chroma is all that colours it
    // then: a field of strong warm and cool pigment makes that frame a wash of colour, where a
    // neutral ground would blank the picture to white.
    PeriodicNoise wash(rng.next(), 2, 2, 2);
    for (int j = 0; j < kVideoSize; j += 2)
        for (int i = 0; i < kVideoSize; i += 2) {
            const double h = wash.fbm(2.0 * i / kVideoSize, 2.0 * j / kVideoSize, 2.0 * phase, 3);
            const double t = clamp01(0.5 + 1.6 * h);
            const uint8_t cb = byteOf(128.0 + lerp(70.0, -80.0, t));
            const uint8_t cr = byteOf(128.0 + lerp(-60.0, 90.0, t));
            for (int dj = 0; dj < 2; ++dj)
                for (int di = 0; di < 2; ++di) {
                    const size_t k = size_t(j + dj) * kVideoSize + i + di;
                    picture.cb[k] = cb;
                    picture.cr[k] = cr;
                }
        }
    std::vector<double> best(size_t(kVideoSize) * kVideoSize, 0.0);
    for (const Bloom& b : blooms) {
        const double age = fract(phase - b.birth) / b.life;
        if (age >= 1.0) continue;
        // Spreads fast when the drop lands, then creeps.
        const double grown = 1.0 - (1.0 - age) * (1.0 - age) * (1.0 - age);
        const double radius = b.radius * (0.25 + 0.75 * grown);
        // As it dries it breaks up into islands that shrink away.
        const double dissolve = -0.9 + 1.6 * smoothstep(0.35, 1.0, age);
        const double appear = smoothstep(0.0, 0.06, age);
        const int x0 = int(b.x - 1.3 * radius) - 1, x1 = int(b.x + 1.3 * radius) + 1;
        const int y0 = int(b.y - 1.3 * radius) - 1, y1 = int(b.y + 1.3 * radius) + 1;
        for (int j = y0 < 0 ? 0 : y0; j <= y1 && j < kVideoSize; ++j)
            for (int i = x0 < 0 ? 0 : x0; i <= x1 && i < kVideoSize; ++i) {
                const double dx = i + 0.5 - b.x, dy = j + 0.5 - b.y;
                const double dist = std::sqrt(dx * dx + dy * dy);
                const double inv = dist > 1e-9 ? 1.0 / dist : 0.0;
                const double wobble = outline.fbm(b.seedX + 2.6 * dx * inv,
                                                  b.seedY + 2.6 * dy * inv, 4.0 * phase, 4, 0.6);
                const double d = dist / radius * (1.0 + 0.28 * wobble);
                if (d >= 1.05) continue;
                const double grain =
                    granulation.fbm((i + b.seedX) / 12.0, (j + b.seedY) / 12.0, 2.0 * phase, 3);
                const double inside = smoothstep(1.0, 0.9, d) * appear;
                const double kept =
                    smoothstep(dissolve - 0.06, dissolve + 0.06, grain + 0.3 * (1.0 - d));
                const double cover = inside * kept;
                if (cover <= 0.0) continue;
                // Pigment gathers at the rim, lighter and denser than the middle.
                const double rim = smoothstep(0.6, 0.9, d) * smoothstep(1.0, 0.9, d);
                const double body = 205.0 + 18.0 * grain + 22.0 * rim;
                // The ramp from the ground to the body is short: the show turns luma 85..142
                // into half transparency, which should read as a thin rim, not as a grey veil.
                const double luma = body * smoothstep(0.2, 0.55, cover);
                const size_t k = size_t(j) * kVideoSize + i;
                if (luma <= best[k]) continue;
                best[k] = luma;
                picture.y[k] = byteOf(luma);
                const double colour = luma / 235.0;
                picture.cb[k] = byteOf(128.0 + b.cb * colour);
                picture.cr[k] = byteOf(128.0 + b.cr * colour);
            }
    }
    return picture;
}

YuvPicture drawBackgroundFrame(uint32_t seed, int frame) {
    const double phase = loopPhase(frame, kBackgroundFrames);
    Rng rng(deriveSeed(seed, 501));
    PeriodicNoise warp(rng.next(), 3, 3, 3), marble(rng.next(), 3, 3, 3), hue(rng.next(), 2, 2, 2);
    const double veinX = rng.range(0.5, 0.9), veinY = rng.range(0.2, 0.5);
    // The whole field sways on a small circle while it evolves: both loop with the video.
    const double swayX = 0.3 * cosTurns(phase), swayY = 0.3 * sinTurns(phase);
    const double z = 3.0 * phase;
    // Drawn at half resolution: the field is smooth and the encoder's cells are coarser still.
    const int half = kVideoSize / 2;
    std::vector<double> luma(size_t(half + 1) * (half + 1)), cb(luma.size()), cr(luma.size());
    for (int j = 0; j <= half; ++j)
        for (int i = 0; i <= half; ++i) {
            const double u = 3.0 * i / half + swayX, v = 3.0 * j / half + swayY;
            const double wx = warp.fbm(u, v, z, 3), wy = warp.fbm(u + 5.2, v + 1.3, z, 3);
            const double f = marble.fbm(u + 1.1 * wx, v + 1.1 * wy, z, 4);
            const double veins = sinTurns(veinX * u + veinY * v + 1.3 * f);
            const double h = hue.fbm(0.5 * u + wx * 0.4, 0.5 * v, 2.0 * phase, 3);
            const size_t k = size_t(j) * (half + 1) + i;
            luma[k] = 100.0 + 34.0 * veins + 40.0 * f;
            // Sepia where h is high, indigo where it is low.
            const double t = clamp01(0.5 + 1.4 * h);
            cr[k] = 128.0 + lerp(-7.0, 14.0, t);
            cb[k] = 128.0 + lerp(16.0, -16.0, t);
        }
    YuvPicture picture = blankPicture();
    for (int j = 0; j < kVideoSize; ++j)
        for (int i = 0; i < kVideoSize; ++i) {
            const int i0 = i / 2, j0 = j / 2;
            const double ax = (i % 2) * 0.5, ay = (j % 2) * 0.5;
            auto sample = [&](const std::vector<double>& p) {
                const size_t k = size_t(j0) * (half + 1) + i0;
                return lerp(lerp(p[k], p[k + 1], ax), lerp(p[k + half + 1], p[k + half + 2], ax),
                            ay);
            };
            const size_t k = size_t(j) * kVideoSize + i;
            picture.y[k] = byteOf(sample(luma));
            picture.cb[k] = byteOf(sample(cb));
            picture.cr[k] = byteOf(sample(cr));
        }
    return picture;
}

EncoderOptions overlayEncoding() {
    EncoderOptions o;
    o.cellWidth = o.cellHeight = 4;
    o.chromaCellWidth = o.chromaCellHeight = 8;
    o.residualShift = 2;
    o.threshold = 20.0;
    return o;
}

EncoderOptions backgroundEncoding() {
    EncoderOptions o;
    o.cellWidth = o.cellHeight = 8;
    o.chromaCellWidth = o.chromaCellHeight = 16;
    o.residualShift = 1;
    o.threshold = 16.0;
    return o;
}

std::vector<uint8_t> makeOverlayVideo(uint32_t seed) {
    std::vector<std::vector<uint8_t>> records;
    for (int f = 0; f < kOverlayFrames; ++f)
        records.push_back(encodeFrame(drawOverlayFrame(seed, f), overlayEncoding()));
    return buildVideoImage(records);
}

std::vector<uint8_t> makeBackgroundVideo(uint32_t seed) {
    std::vector<std::vector<uint8_t>> records;
    for (int f = 0; f < kBackgroundFrames; ++f)
        records.push_back(encodeFrame(drawBackgroundFrame(seed, f), backgroundEncoding()));
    return buildVideoImage(records);
}

}  // namespace content
