#pragma once
// Arithmetic for the content generator. Everything here uses only IEEE-754 addition,
// multiplication, division and square root, so a seed gives the same pictures, tracks and
// videos on every machine: no libm transcendental functions, no time, no hashing of pointers.
#include <cstdint>

namespace content {

// SplitMix64: a small, well-mixed generator of our own; the same seed gives the same sequence.
class Rng {
  public:
    explicit Rng(uint64_t seed) : state(seed) {}
    uint64_t next();
    // Uniform in [0, 1) with 53 bits.
    double uniform();
    double range(double lo, double hi) { return lo + (hi - lo) * uniform(); }
    // Uniform integer in [0, n); n > 0.
    uint32_t below(uint32_t n);
    // Sum of three uniforms, centred: a cheap bell-shaped value in (-1, 1).
    double bell();

  private:
    uint64_t state;
};

// A sub-seed for one asset, so that adding an asset never shifts the others' sequences.
uint64_t deriveSeed(uint32_t seed, uint32_t stream);

const double kPi = 3.14159265358979323846;

// Sine and cosine of an angle given in turns (1 turn = 2 pi), by range reduction and a fixed
// polynomial: the same result everywhere, accurate to about 1e-12.
double sinTurns(double turns);
double cosTurns(double turns);

double floorOf(double v);
double clamp01(double v);
double clampTo(double v, double lo, double hi);
double lerp(double a, double b, double t);
double smoothstep(double edge0, double edge1, double v);
// The fractional part, always in [0, 1).
double fract(double v);

// Gradient noise on an integer lattice that wraps with the given periods on each axis, so a
// picture drawn from it tiles and a motion through its third axis loops. Values in about
// [-1, 1]. The lattice is shuffled by the seed.
class PeriodicNoise {
  public:
    PeriodicNoise(uint64_t seed, int periodX, int periodY, int periodZ);
    double at(double x, double y, double z) const;
    // Sum of `octaves` layers, each at twice the frequency and `gain` times the amplitude of
    // the one before; the lattice periods double with the frequency, so the sum still wraps
    // with the base periods. Normalised to about [-1, 1].
    double fbm(double x, double y, double z, int octaves, double gain = 0.5) const;

  private:
    double atScaled(double x, double y, double z, int scale) const;
    int hash(int x, int y, int z) const;
    int periodX, periodY, periodZ;
    uint8_t perm[512];
};

}  // namespace content
