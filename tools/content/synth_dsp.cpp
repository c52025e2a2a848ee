#include "content/synth_dsp.h"

#include <algorithm>
#include <cmath>
#include <deque>

namespace content {
namespace synth {

namespace {

double floorValue(double v) {
    double f = static_cast<double>(static_cast<int64_t>(v));
    return f > v ? f - 1.0 : f;
}

double squared(double v) {
    return v * v;
}

// Rises from 0 to 1 over `span` with zero slope at both ends.
double easeIn(double t, double span) {
    if (t >= span) return 1.0;
    if (t <= 0.0) return 0.0;
    return squared(sinTurn(0.25 * t / span));
}

// Falls from 1 to 0 over `span` once t passes `from`.
double easeOut(double t, double from, double span) {
    if (t <= from) return 1.0;
    if (t >= from + span) return 0.0;
    return squared(cosTurn(0.25 * (t - from) / span));
}

size_t toFrame(double seconds, int rate) {
    return seconds <= 0.0 ? 0 : static_cast<size_t>(seconds * rate + 0.5);
}

// Band-limited sawtooth: the naive ramp with its jump smoothed over one sample each side.
double sawSample(double phase, double step) {
    double v = 2.0 * phase - 1.0;
    if (phase < step) {
        double x = phase / step;
        v -= x + x - x * x - 1.0;
    } else if (phase > 1.0 - step) {
        double x = (phase - 1.0) / step;
        v -= x * x + x + x + 1.0;
    }
    return v;
}

// Two-pole state-variable filter (trapezoidal integration, so it stays stable while the cutoff
// moves); the coefficients are refreshed once per control block.
struct StateVariableFilter {
    double a1 = 0.0, a2 = 0.0, a3 = 0.0;
    double ic1 = 0.0, ic2 = 0.0;
    void tune(double hz, double q, int rate) {
        hz = std::min(std::max(hz, 10.0), 0.45 * rate);
        double half = 0.5 * hz / rate;
        double g = sinTurn(half) / cosTurn(half);
        double k = 1.0 / q;
        a1 = 1.0 / (1.0 + g * (g + k));
        a2 = g * a1;
        a3 = g * a2;
    }
    // Returns the low-pass output; *band receives the band-pass output.
    double run(double v0, double* band) {
        double v3 = v0 - ic2;
        double v1 = a1 * ic1 + a2 * v3;
        double v2 = ic2 + a2 * ic1 + a3 * v3;
        ic1 = 2.0 * v1 - ic1;
        ic2 = 2.0 * v2 - ic2;
        *band = v1;
        return v2;
    }
};

const int kControlBlock = 32;

}  // namespace

double sinTurn(double turns) {
    double x = turns - floorValue(turns + 0.5);
    if (x > 0.25) {
        x = 0.5 - x;
    } else if (x < -0.25) {
        x = -0.5 - x;
    }
    double y = kTwoPi * x;
    double y2 = y * y;
    double p = 1.0 / 355687428096000.0;
    p = p * y2 - 1.0 / 1307674368000.0;
    p = p * y2 + 1.0 / 6227020800.0;
    p = p * y2 - 1.0 / 39916800.0;
    p = p * y2 + 1.0 / 362880.0;
    p = p * y2 - 1.0 / 5040.0;
    p = p * y2 + 1.0 / 120.0;
    p = p * y2 - 1.0 / 6.0;
    p = p * y2 + 1.0;
    return y * p;
}

double cosTurn(double turns) {
    return sinTurn(turns + 0.25);
}

float tableSin(double turns) {
    const int kSize = 4096;
    static const std::vector<float> table = [] {
        std::vector<float> t(kSize + 1);
        for (int i = 0; i <= kSize; ++i) t[i] = static_cast<float>(sinTurn(double(i) / kSize));
        return t;
    }();
    double x = (turns - floorValue(turns)) * kSize;
    int i = static_cast<int>(x);
    if (i >= kSize) i = kSize - 1;
    float frac = static_cast<float>(x - i);
    return table[i] + (table[i + 1] - table[i]) * frac;
}

double expOf(double x) {
    x = std::min(std::max(x, -740.0), 709.0);
    double k = floorValue(x / kLn2 + 0.5);
    double r = x - k * kLn2;
    double p = 1.0 / 6227020800.0;
    for (int n = 12; n >= 1; --n) p = p * r / n + 1.0;
    // Scaling by a power of two is exact.
    return std::ldexp(p, static_cast<int>(k));
}

double logOf(double x) {
    if (!(x > 0.0)) return -1e300;
    int e = 0;
    double m = std::frexp(x, &e);
    if (m < 0.70710678118654752440) {
        m *= 2.0;
        e -= 1;
    }
    double s = (m - 1.0) / (m + 1.0);
    double s2 = s * s;
    double sum = 0.0;
    for (int n = 21; n >= 3; n -= 2) sum = (sum + 1.0 / n) * s2;
    return e * kLn2 + 2.0 * s * (1.0 + sum);
}

double dbToGain(double db) {
    return expOf(db * kLn10 / 20.0);
}
double gainToDb(double gain) {
    return 20.0 * logOf(gain) / kLn10;
}
double noteHz(double note) {
    return 440.0 * expOf((note - 69.0) / 12.0 * kLn2);
}

uint32_t Prng::next() {
    state += 0x9E3779B9u;
    uint32_t z = state;
    z ^= z >> 16;
    z *= 0x85EBCA6Bu;
    z ^= z >> 13;
    z *= 0xC2B2AE35u;
    z ^= z >> 16;
    return z;
}

double Curve::at(double seconds) const {
    if (points.empty()) return 0.0;
    if (seconds <= points.front().first) return points.front().second;
    for (size_t i = 1; i < points.size(); ++i) {
        if (seconds < points[i].first) {
            const auto& a = points[i - 1];
            const auto& b = points[i];
            return a.second + (b.second - a.second) * (seconds - a.first) / (b.first - a.first);
        }
    }
    return points.back().second;
}

void panGains(double pan, double* left, double* right) {
    pan = std::min(std::max(pan, -1.0), 1.0);
    double angle = 0.125 * (pan + 1.0);
    *left = cosTurn(angle);
    *right = sinTurn(angle);
}

void addPadNote(StereoBus* bus, int rate, const NoteEvent& note, const Curve& brightness,
                Prng* prng) {
    const double attack = 1.8, release = 2.6;
    const size_t first = toFrame(note.start, rate);
    const size_t last = std::min(bus->frames(), toFrame(note.start + note.length + release, rate));
    const double hz = noteHz(note.note);

    struct Saw {
        double phase, detune, lfoPhase, lfoRate, gainL, gainR;
        StateVariableFilter filter;
    } saws[2];
    for (int i = 0; i < 2; ++i) {
        Saw& s = saws[i];
        s.phase = prng->uniform();
        s.detune = (i == 0 ? -1.0 : 1.0) * (4.0 + 3.0 * prng->uniform()) / 1200.0;
        s.lfoPhase = prng->uniform();
        s.lfoRate = 0.13 + 0.2 * prng->uniform();
        panGains(note.pan + (i == 0 ? -0.45 : 0.45), &s.gainL, &s.gainR);
    }

    double step[2] = {0.0, 0.0};
    // The envelope is ramped per sample between control points so its steps never buzz.
    double envelope = 0.0, envelopeStep = 0.0;
    for (size_t n = first; n < last; ++n) {
        size_t offset = n - first;
        if (offset % kControlBlock == 0) {
            double t = static_cast<double>(offset) / rate;
            double seconds = static_cast<double>(n) / rate;
            double b = std::min(std::max(brightness.at(seconds), 0.0), 1.0);
            double cutoff = 150.0 + hz * (1.4 + 5.0 * b * std::sqrt(b));
            for (int i = 0; i < 2; ++i) {
                Saw& s = saws[i];
                double vibrato = 1.0 + 0.0015 * sinTurn(s.lfoPhase + s.lfoRate * t);
                step[i] = hz * expOf(s.detune * kLn2) * vibrato / rate;
                s.filter.tune(cutoff, 0.65, rate);
            }
            double end = t + static_cast<double>(kControlBlock) / rate;
            envelope = note.velocity * easeIn(t, attack) * easeOut(t, note.length, release);
            envelopeStep =
                (note.velocity * easeIn(end, attack) * easeOut(end, note.length, release) -
                 envelope) /
                kControlBlock;
        }
        double left = 0.0, right = 0.0;
        for (int i = 0; i < 2; ++i) {
            Saw& s = saws[i];
            double band;
            double v = s.filter.run(sawSample(s.phase, step[i]), &band);
            s.phase += step[i];
            if (s.phase >= 1.0) s.phase -= 1.0;
            left += v * s.gainL;
            right += v * s.gainR;
        }
        bus->left[n] += static_cast<float>(left * envelope);
        bus->right[n] += static_cast<float>(right * envelope);
        envelope += envelopeStep;
    }
}

void addBellNote(StereoBus* bus, int rate, const NoteEvent& note) {
    const double ring = 1.4, fade = 0.9;
    const size_t first = toFrame(note.start, rate);
    const size_t last =
        std::min(bus->frames(), toFrame(note.start + note.length + ring + fade, rate));
    const double hz = noteHz(note.note);
    // High bells die sooner, as struck metal does.
    const double tau = std::min(std::max(2.3 - (note.note - 62.0) * 0.035, 0.9), 2.8);
    const double amplitudeDecay = expOf(-1.0 / (tau * rate));
    const double indexDecay = expOf(-1.0 / (0.22 * rate));
    const double bodyDecay = expOf(-1.0 / (1.6 * tau * rate));

    // Two carriers a few cents apart, one each side, give the bell a slow shimmer.
    double gainL[2], gainR[2];
    panGains(note.pan - 0.3, &gainL[0], &gainR[0]);
    panGains(note.pan + 0.3, &gainL[1], &gainR[1]);
    const double carrierStep[2] = {hz / rate, hz * 1.0023 / rate};
    double centreL, centreR;
    panGains(note.pan, &centreL, &centreR);

    double carrier[2] = {0.0, 0.0}, modulator[2] = {0.0, 0.0}, body = 0.0;
    double amplitude = 1.0, index = 1.0, bodyAmplitude = 1.0;
    for (size_t n = first; n < last; ++n) {
        double t = static_cast<double>(n - first) / rate;
        double shape = note.velocity * easeIn(t, 0.004) * easeOut(t, note.length + ring, fade);
        double fmIndex = 0.25 + 2.4 * index;
        double left = 0.0, right = 0.0;
        for (int i = 0; i < 2; ++i) {
            double v = tableSin(carrier[i] + fmIndex / kTwoPi * tableSin(modulator[i]));
            left += v * gainL[i];
            right += v * gainR[i];
            carrier[i] += carrierStep[i];
            modulator[i] += 3.5 * carrierStep[i];
            if (carrier[i] >= 1.0) carrier[i] -= 1.0;
            if (modulator[i] >= 1.0) modulator[i] -= 1.0;
        }
        double b = 0.3 * bodyAmplitude * tableSin(body);
        body += 0.5 * carrierStep[0];
        if (body >= 1.0) body -= 1.0;
        bus->left[n] += static_cast<float>(shape * (0.35 * amplitude * left + b * centreL));
        bus->right[n] += static_cast<float>(shape * (0.35 * amplitude * right + b * centreR));
        amplitude *= amplitudeDecay;
        index *= indexDecay;
        bodyAmplitude *= bodyDecay;
    }
}

void addPluckNote(StereoBus* bus, int rate, const NoteEvent& note, Prng* prng) {
    const double damped = 0.35;
    const size_t first = toFrame(note.start, rate);
    const size_t last = std::min(bus->frames(), toFrame(note.start + note.length + damped, rate));
    if (first >= last) return;
    const double hz = noteHz(note.note);
    const double loop = static_cast<double>(rate) / hz;
    // The two-point average in the loop adds half a sample of delay.
    const double lineDelay = loop - 0.5;
    const size_t size = static_cast<size_t>(lineDelay) + 4;
    std::vector<double> line(size, 0.0);

    const size_t burst = static_cast<size_t>(loop);
    std::vector<double> excitation(burst);
    double smooth = 0.0, mean = 0.0;
    for (double& e : excitation) {
        smooth += 0.45 * (prng->bipolar() - smooth);
        e = smooth;
        mean += smooth;
    }
    mean /= static_cast<double>(burst);

    const double ringing = expOf(-3.0 * kLn10 / (hz * 3.2));
    const double muted = expOf(-3.0 * kLn10 / (hz * 0.12));
    double gainL, gainR;
    panGains(note.pan, &gainL, &gainR);

    double previous = 0.0;
    for (size_t n = first, i = 0; n < last; ++n, ++i) {
        double t = static_cast<double>(i) / rate;
        double read = static_cast<double>(i + size) - lineDelay;
        size_t whole = static_cast<size_t>(read);
        double frac = read - static_cast<double>(whole);
        double r = line[whole % size] * (1.0 - frac) + line[(whole + 1) % size] * frac;
        double loopGain = t < note.length ? ringing : muted;
        double y = loopGain * 0.5 * (r + previous);
        previous = r;
        if (i < burst) y += note.velocity * (excitation[i] - mean);
        line[(i + size) % size] = y;
        double out = y * easeOut(t, note.length, damped);
        bus->left[n] += static_cast<float>(out * gainL);
        bus->right[n] += static_cast<float>(out * gainR);
    }
}

void addBassNote(StereoBus* bus, int rate, const NoteEvent& note) {
    const double release = 0.5;
    const size_t first = toFrame(note.start, rate);
    const size_t last = std::min(bus->frames(), toFrame(note.start + note.length + release, rate));
    const double step = noteHz(note.note) / rate;
    const double decay = expOf(-1.0 / (5.0 * rate));
    double gainL, gainR;
    panGains(note.pan, &gainL, &gainR);
    double phase = 0.0, amplitude = note.velocity;
    for (size_t n = first; n < last; ++n) {
        double t = static_cast<double>(n - first) / rate;
        double s = tableSin(phase), c = tableSin(phase + 0.25);
        // sin 2x = 2 sin x cos x, sin 3x = 3 sin x - 4 sin^3 x
        double v = s + 0.14 * (2.0 * s * c) + 0.05 * (3.0 * s - 4.0 * s * s * s);
        v *= amplitude * easeIn(t, 0.04) * easeOut(t, note.length, release);
        bus->left[n] += static_cast<float>(v * gainL);
        bus->right[n] += static_cast<float>(v * gainR);
        phase += step;
        if (phase >= 1.0) phase -= 1.0;
        amplitude *= decay;
    }
}

void addBrushStroke(StereoBus* bus, int rate, const BrushStroke& stroke, Prng* prng) {
    const size_t first = toFrame(stroke.start, rate);
    const size_t last = std::min(bus->frames(), toFrame(stroke.start + stroke.length, rate));
    const double glide = logOf(stroke.toHz / stroke.fromHz);
    StateVariableFilter filter;
    double gainL = 0.0, gainR = 0.0, envelope = 0.0, envelopeStep = 0.0, bristles = 0.0;
    for (size_t n = first; n < last; ++n) {
        size_t offset = n - first;
        double u = static_cast<double>(offset) / (stroke.length * rate);
        if (offset % kControlBlock == 0) {
            filter.tune(stroke.fromHz * expOf(u * glide), 1.3, rate);
            panGains(stroke.fromPan + (stroke.toPan - stroke.fromPan) * u, &gainL, &gainR);
            // The brush lands quickly and lifts slowly.
            double end =
                std::min(1.0, u + static_cast<double>(kControlBlock) / (stroke.length * rate));
            envelope = stroke.level * squared(sinTurn(0.5 * std::sqrt(u)));
            envelopeStep =
                (stroke.level * squared(sinTurn(0.5 * std::sqrt(end))) - envelope) / kControlBlock;
        }
        bristles += 0.0008 * (prng->bipolar() - bristles);
        double band;
        filter.run(prng->bipolar(), &band);
        double v = band * envelope * (0.7 + 6.0 * bristles);
        bus->left[n] += static_cast<float>(v * gainL);
        bus->right[n] += static_cast<float>(v * gainR);
        envelope += envelopeStep;
    }
}

Reverb::Reverb(int rate, double roomSize, double damping, double width)
    : feedback(static_cast<float>(0.7 + 0.28 * roomSize)),
      damp(static_cast<float>(0.4 * damping)),
      wet1(static_cast<float>(0.5 + 0.5 * width)),
      wet2(static_cast<float>(0.5 - 0.5 * width)) {
    static const int kCombLengths[8] = {1116, 1188, 1277, 1356, 1422, 1491, 1557, 1617};
    static const int kAllPassLengths[4] = {556, 441, 341, 225};
    const int kSpread = 23;
    double scale = rate / 44100.0;
    for (int c = 0; c < 2; ++c) {
        for (int i = 0; i < 8; ++i) {
            combs[c][i].line.assign(
                static_cast<size_t>((kCombLengths[i] + c * kSpread) * scale) + 1, 0.0f);
        }
        for (int i = 0; i < 4; ++i) {
            allPasses[c][i].line.assign(
                static_cast<size_t>((kAllPassLengths[i] + c * kSpread) * scale) + 1, 0.0f);
        }
    }
}

void Reverb::step(float inLeft, float inRight, float* outLeft, float* outRight) {
    const float input = (inLeft + inRight) * 0.015f;
    float out[2];
    for (int c = 0; c < 2; ++c) {
        float sum = 0.0f;
        for (Comb& comb : combs[c]) {
            float y = comb.line[comb.index];
            comb.store = y * (1.0f - damp) + comb.store * damp;
            comb.line[comb.index] = input + comb.store * feedback;
            if (++comb.index == comb.line.size()) comb.index = 0;
            sum += y;
        }
        for (AllPass& pass : allPasses[c]) {
            float delayed = pass.line[pass.index];
            pass.line[pass.index] = sum + delayed * 0.5f;
            sum = delayed - sum;
            if (++pass.index == pass.line.size()) pass.index = 0;
        }
        out[c] = sum;
    }
    *outLeft = out[0] * wet1 + out[1] * wet2;
    *outRight = out[1] * wet1 + out[0] * wet2;
}

void makeCrossEchoes(StereoBus* bus, int rate, double leftSeconds, double rightSeconds,
                     double feedback, double cutoffHz) {
    std::vector<float> lineL(std::max<size_t>(1, toFrame(leftSeconds, rate)), 0.0f);
    std::vector<float> lineR(std::max<size_t>(1, toFrame(rightSeconds, rate)), 0.0f);
    const double smoothing = 1.0 - expOf(-kTwoPi * cutoffHz / rate);
    double toneL = 0.0, toneR = 0.0;
    size_t iL = 0, iR = 0;
    for (size_t n = 0; n < bus->frames(); ++n) {
        double echoL = lineL[iL], echoR = lineR[iR];
        toneL += smoothing * (echoL - toneL);
        toneR += smoothing * (echoR - toneR);
        lineL[iL] = static_cast<float>(bus->left[n] + feedback * toneR);
        lineR[iR] = static_cast<float>(bus->right[n] + feedback * toneL);
        if (++iL == lineL.size()) iL = 0;
        if (++iR == lineR.size()) iR = 0;
        bus->left[n] = static_cast<float>(echoL);
        bus->right[n] = static_cast<float>(echoR);
    }
}

void highPass(StereoBus* bus, int rate, double hz) {
    const double a = 1.0 / (1.0 + kTwoPi * hz / rate);
    for (std::vector<float>* channel : {&bus->left, &bus->right}) {
        double previousIn = 0.0, y = 0.0;
        for (float& sample : *channel) {
            y = a * (y + sample - previousIn);
            previousIn = sample;
            sample = static_cast<float>(y);
        }
    }
}

void limitPeaks(std::vector<float>* interleaved, int rate, double ceiling) {
    std::vector<float>& samples = *interleaved;
    const size_t frames = samples.size() / 2;
    if (frames == 0) return;
    const size_t look = std::max<size_t>(2, toFrame(0.004, rate));
    const double recovery = 1.0 / (0.15 * rate);

    std::vector<float> needed(frames);
    bool any = false;
    for (size_t n = 0; n < frames; ++n) {
        double peak = std::max(std::fabs(samples[2 * n]), std::fabs(samples[2 * n + 1]));
        needed[n] = peak > ceiling ? static_cast<float>(ceiling / peak) : 1.0f;
        any = any || peak > ceiling;
    }
    if (!any) return;

    // Minimum over [n - look, n + look], so the gain is already down when a peak arrives.
    std::vector<float> held(frames);
    std::deque<size_t> window;
    size_t next = 0;
    for (size_t n = 0; n < frames; ++n) {
        for (; next < frames && next <= n + look; ++next) {
            while (!window.empty() && needed[window.back()] >= needed[next]) window.pop_back();
            window.push_back(next);
        }
        while (window.front() + look < n) window.pop_front();
        held[n] = needed[window.front()];
    }
    // Recover slowly after the peak; taking the minimum never raises the gain above need.
    double level = 1.0;
    for (size_t n = 0; n < frames; ++n) {
        level = std::min(static_cast<double>(held[n]), level + recovery);
        held[n] = static_cast<float>(level);
    }
    // A centred box average of width `look` only mixes values that already satisfy the peak
    // inside it, and rounds off the corners of the gain curve.
    const size_t half = look / 2;
    double sum = 0.0;
    size_t count = 0;
    size_t lo = 0, hi = 0;
    for (size_t n = 0; n < frames; ++n) {
        for (; hi < frames && hi <= n + half; ++hi, ++count) sum += held[hi];
        for (; lo + half < n; ++lo, --count) sum -= held[lo];
        double gain = std::min(1.0, sum / static_cast<double>(count));
        for (size_t c = 2 * n; c < 2 * n + 2; ++c) {
            double v = samples[c] * gain;
            samples[c] = static_cast<float>(std::min(std::max(v, -ceiling), ceiling));
        }
    }
}

}  // namespace synth
}  // namespace content
