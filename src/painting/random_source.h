#pragma once
#include <cstdint>

// The seedable generator behind every random number of the show. It reproduces the C runtime's
// sequence exactly (the show's look depends on it): a 32-bit state, 1 until first seeded; each
// draw steps state = state * 214013 + 2531011 (mod 2^32) and yields bits 16..30, 0 to 32767.
class RandomSource {
  public:
    void seed(uint32_t value) { state = value; }
    int32_t next() {
        state = state * 214013u + 2531011u;
        return static_cast<int32_t>((state >> 16) & 0x7FFFu);
    }

    uint32_t state = 1;
};

// The one generator the timeline, the strokes and the particles share; the order of their draws
// is part of what the show looks like.
RandomSource& randomSource();

// Seeds the shared generator. The show's seeds are signed counters; they are taken modulo 2^32.
void seedRandom(int32_t seed);

// One draw from the shared generator, 0 to 32767.
int32_t nextRandom();

// A jitter of amplitude `amplitude` from one draw: (r mod 2000 - 1000) * 0.001 * amplitude,
// worked out in double and rounded to float; it lies in [-amplitude, 0.999 * amplitude].
float jitter(float amplitude);
