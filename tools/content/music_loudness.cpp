// Integrated loudness as broadcast meters measure it, so the music can be set to the level
// players expect without an outside tool.
#include <vector>

#include "content/music.h"
#include "content/synth_dsp.h"

namespace content {

namespace {

struct Biquad {
    double b0, b1, b2, a1, a2;
    double z1 = 0.0, z2 = 0.0;
    double run(double x) {
        double y = b0 * x + z1;
        z1 = b1 * x - a1 * y + z2;
        z2 = b2 * x - a2 * y;
        return y;
    }
};

double tanHalfTurnFraction(double hz, int rate) {
    double turns = 0.5 * hz / rate;
    return synth::sinTurn(turns) / synth::cosTurn(turns);
}

// The two K-weighting stages (a head-like high shelf of about +4 dB above 1.7 kHz, then a
// high-pass near 38 Hz), designed for any sample rate from their analog prototypes.
void kWeighting(int rate, Biquad* shelf, Biquad* highPass) {
    {
        const double f0 = 1681.974450955533, gainDb = 3.999843853973347;
        const double q = 0.7071752369554196;
        double k = tanHalfTurnFraction(f0, rate);
        double vh = synth::dbToGain(gainDb);
        double vb = synth::expOf(0.4996667741545416 * synth::logOf(vh));
        double a0 = 1.0 + k / q + k * k;
        shelf->b0 = (vh + vb * k / q + k * k) / a0;
        shelf->b1 = 2.0 * (k * k - vh) / a0;
        shelf->b2 = (vh - vb * k / q + k * k) / a0;
        shelf->a1 = 2.0 * (k * k - 1.0) / a0;
        shelf->a2 = (1.0 - k / q + k * k) / a0;
    }
    {
        const double f0 = 38.13547087602444, q = 0.5003270373238773;
        double k = tanHalfTurnFraction(f0, rate);
        double a0 = 1.0 + k / q + k * k;
        highPass->b0 = 1.0;
        highPass->b1 = -2.0;
        highPass->b2 = 1.0;
        highPass->a1 = 2.0 * (k * k - 1.0) / a0;
        highPass->a2 = (1.0 - k / q + k * k) / a0;
    }
}

double powerToLufs(double power) {
    return -0.691 + 10.0 * synth::logOf(power) / synth::kLn10;
}

}  // namespace

double integratedLoudness(const float* interleaved, size_t frames, int rate) {
    const double kNothing = -200.0;
    const size_t segment = static_cast<size_t>(rate) / 10;
    if (rate <= 0 || segment == 0) return kNothing;
    const size_t segments = frames / segment;
    if (segments < 4) return kNothing;

    // Sum of K-weighted squares per 100 ms, both channels together; a block is four segments.
    std::vector<double> energy(segments, 0.0);
    Biquad shelf[2], highPass[2];
    for (int c = 0; c < 2; ++c) kWeighting(rate, &shelf[c], &highPass[c]);
    for (size_t s = 0; s < segments; ++s) {
        double sum = 0.0;
        for (size_t n = s * segment; n < (s + 1) * segment; ++n) {
            for (int c = 0; c < 2; ++c) {
                double y = highPass[c].run(shelf[c].run(interleaved[2 * n + c]));
                sum += y * y;
            }
        }
        energy[s] = sum;
    }

    std::vector<double> blocks;
    for (size_t s = 0; s + 4 <= segments; ++s) {
        double power =
            (energy[s] + energy[s + 1] + energy[s + 2] + energy[s + 3]) / (4.0 * segment);
        if (powerToLufs(power) > -70.0) blocks.push_back(power);
    }
    if (blocks.empty()) return kNothing;
    double mean = 0.0;
    for (double p : blocks) mean += p;
    mean /= static_cast<double>(blocks.size());

    const double relativeGate = powerToLufs(mean) - 10.0;
    double gated = 0.0;
    size_t count = 0;
    for (double p : blocks) {
        if (powerToLufs(p) > relativeGate) {
            gated += p;
            ++count;
        }
    }
    return count == 0 ? kNothing : powerToLufs(gated / static_cast<double>(count));
}

}  // namespace content
