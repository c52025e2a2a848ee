#include "painting/random_source.h"

RandomSource& randomSource() {
    static RandomSource shared;
    return shared;
}

void seedRandom(int32_t seed) {
    randomSource().seed(static_cast<uint32_t>(seed));
}

int32_t nextRandom() {
    return randomSource().next();
}

float jitter(float amplitude) {
    const float step = 0.001f;
    int32_t offset = nextRandom() % 2000 - 1000;
    return static_cast<float>(double(offset) * double(step) * double(amplitude));
}
