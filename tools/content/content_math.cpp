#include "content/content_math.h"

namespace content {

uint64_t Rng::next() {
    state += 0x9E3779B97F4A7C15ull;
    uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

double Rng::uniform() {
    return double(next() >> 11) * (1.0 / 9007199254740992.0);
}

uint32_t Rng::below(uint32_t n) {
    return uint32_t((next() >> 32) % n);
}

double Rng::bell() {
    return (uniform() + uniform() + uniform() - 1.5) / 1.5;
}

uint64_t deriveSeed(uint32_t seed, uint32_t stream) {
    Rng mixer((uint64_t(seed) << 32) ^ (uint64_t(stream) * 0xD1B54A32D192ED03ull));
    return mixer.next();
}

double floorOf(double v) {
    const double t = double(int64_t(v));
    return t > v ? t - 1.0 : t;
}

double fract(double v) {
    return v - floorOf(v);
}

namespace {

// sin(2 pi x) for x in [-0.25, 0.25]: the Taylor series in (2 pi x), cut where the terms fall
// below 1e-13 at the interval's ends.
double sinQuarter(double x) {
    const double a = 2.0 * kPi * x;
    const double a2 = a * a;
    double term = a, sum = a;
    for (int k = 1; k <= 10; ++k) {
        term *= -a2 / double((2 * k) * (2 * k + 1));
        sum += term;
    }
    return sum;
}

}  // namespace

double sinTurns(double turns) {
    double x = turns - floorOf(turns + 0.5);  // [-0.5, 0.5)
    if (x > 0.25) x = 0.5 - x;
    if (x < -0.25) x = -0.5 - x;
    return sinQuarter(x);
}

double cosTurns(double turns) {
    return sinTurns(turns + 0.25);
}

double clamp01(double v) {
    return v < 0.0 ? 0.0 : (v > 1.0 ? 1.0 : v);
}

double clampTo(double v, double lo, double hi) {
    return v < lo ? lo : (v > hi ? hi : v);
}

double lerp(double a, double b, double t) {
    return a + (b - a) * t;
}

double smoothstep(double edge0, double edge1, double v) {
    const double t = clamp01((v - edge0) / (edge1 - edge0));
    return t * t * (3.0 - 2.0 * t);
}

PeriodicNoise::PeriodicNoise(uint64_t seed, int px, int py, int pz)
    : periodX(px < 1 ? 1 : px), periodY(py < 1 ? 1 : py), periodZ(pz < 1 ? 1 : pz) {
    Rng rng(seed);
    for (int i = 0; i < 256; ++i) perm[i] = uint8_t(i);
    for (int i = 255; i > 0; --i) {
        const int j = int(rng.below(uint32_t(i + 1)));
        const uint8_t t = perm[i];
        perm[i] = perm[j];
        perm[j] = t;
    }
    for (int i = 0; i < 256; ++i) perm[256 + i] = perm[i];
}

int PeriodicNoise::hash(int x, int y, int z) const {
    return perm[perm[perm[x & 255] + (y & 255)] + (z & 255)];
}

namespace {

int wrap(int v, int period) {
    const int r = v % period;
    return r < 0 ? r + period : r;
}

double fade(double t) {
    return t * t * t * (t * (t * 6.0 - 15.0) + 10.0);
}

// The twelve edge directions of a cube, four of them repeated to make sixteen.
double gradDot(int h, double x, double y, double z) {
    switch (h & 15) {
        case 0:
            return x + y;
        case 1:
            return -x + y;
        case 2:
            return x - y;
        case 3:
            return -x - y;
        case 4:
            return x + z;
        case 5:
            return -x + z;
        case 6:
            return x - z;
        case 7:
            return -x - z;
        case 8:
            return y + z;
        case 9:
            return -y + z;
        case 10:
            return y - z;
        case 11:
            return -y - z;
        case 12:
            return x + y;
        case 13:
            return -x + y;
        case 14:
            return -y + z;
        default:
            return -y - z;
    }
}

}  // namespace

double PeriodicNoise::at(double x, double y, double z) const {
    return atScaled(x, y, z, 1);
}

double PeriodicNoise::atScaled(double x, double y, double z, int scale) const {
    const double fx = floorOf(x), fy = floorOf(y), fz = floorOf(z);
    const int px = periodX * scale, py = periodY * scale, pz = periodZ * scale;
    const int x0 = wrap(int(int64_t(fx) % px), px), y0 = wrap(int(int64_t(fy) % py), py),
              z0 = wrap(int(int64_t(fz) % pz), pz);
    const int x1 = x0 + 1 == px ? 0 : x0 + 1, y1 = y0 + 1 == py ? 0 : y0 + 1,
              z1 = z0 + 1 == pz ? 0 : z0 + 1;
    const double dx = x - fx, dy = y - fy, dz = z - fz;
    const double u = fade(dx), v = fade(dy), w = fade(dz);
    const double n000 = gradDot(hash(x0, y0, z0), dx, dy, dz);
    const double n100 = gradDot(hash(x1, y0, z0), dx - 1, dy, dz);
    const double n010 = gradDot(hash(x0, y1, z0), dx, dy - 1, dz);
    const double n110 = gradDot(hash(x1, y1, z0), dx - 1, dy - 1, dz);
    const double n001 = gradDot(hash(x0, y0, z1), dx, dy, dz - 1);
    const double n101 = gradDot(hash(x1, y0, z1), dx - 1, dy, dz - 1);
    const double n011 = gradDot(hash(x0, y1, z1), dx, dy - 1, dz - 1);
    const double n111 = gradDot(hash(x1, y1, z1), dx - 1, dy - 1, dz - 1);
    const double a = lerp(lerp(n000, n100, u), lerp(n010, n110, u), v);
    const double b = lerp(lerp(n001, n101, u), lerp(n011, n111, u), v);
    return lerp(a, b, w);
}

double PeriodicNoise::fbm(double x, double y, double z, int octaves, double gain) const {
    double sum = 0.0, amplitude = 1.0, total = 0.0;
    int scale = 1;
    for (int o = 0; o < octaves; ++o) {
        sum += amplitude * atScaled(x * scale, y * scale, z * scale, scale);
        total += amplitude;
        amplitude *= gain;
        scale *= 2;
    }
    return sum / total;
}

}  // namespace content
