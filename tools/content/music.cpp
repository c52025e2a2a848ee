// The composition: harmony, motif, arrangement and mix of the show's music.
//
// Time is counted in bars of four seconds (16 steps of a quarter second); 35 bars make the
// 140 seconds of the show, and one more second lets the last fade settle into silence. The key
// is D minor. The motif is a rising figure (A-D-E-F, falling back through E-D-C to D): the
// opening states it and answers it a third higher, the calm middle recalls it an octave down,
// the swell doubles it in octaves as it climbs, and it returns once in D major at the close.
#include "content/music.h"

#include <algorithm>
#include <vector>

#include "content/synth_dsp.h"

namespace content {

namespace {

using synth::BrushStroke;
using synth::Curve;
using synth::NoteEvent;
using synth::Prng;
using synth::StereoBus;

const double kBar = 4.0;
const double kStep = kBar / 16.0;
const int kBars = 35;

enum Chord { Dm9, Bbmaj7, Fmaj7, Cadd9, Gm9, Asus, A7, Dmaj, kChordCount };

struct Voicing {
    int pad[5];  // MIDI notes, low to high
    int bass;
};

const Voicing kVoicings[kChordCount] = {
    {{50, 57, 60, 64, 65}, 38},  // Dm9: D A C E F
    {{46, 53, 57, 62, 65}, 34},  // Bbmaj7: Bb F A D F
    {{53, 57, 60, 64, 67}, 41},  // Fmaj7 with its ninth
    {{48, 55, 62, 64, 67}, 36},  // C with its ninth
    {{55, 58, 62, 65, 69}, 43},  // Gm9
    {{52, 57, 62, 64, 67}, 45},  // A7sus4
    {{52, 57, 61, 64, 67}, 45},  // A7
    {{50, 57, 62, 66, 69}, 38},  // D major, the closing colour
};

// One chord for each half of a bar.
struct BarHarmony {
    Chord first, second;
};

const BarHarmony kHarmony[kBars] = {
    // Opening, bars 0-6 (0-28 s): pad alone, then the motif; the cadence lands at 28 s.
    {Dm9, Dm9},
    {Dm9, Dm9},
    {Bbmaj7, Bbmaj7},
    {Fmaj7, Fmaj7},
    {Cadd9, Cadd9},
    {Gm9, Gm9},
    {Asus, A7},
    // Middle, bars 7-19 (28-80 s).
    {Dm9, Dm9},
    {Bbmaj7, Bbmaj7},
    {Gm9, Gm9},
    {Dm9, Dm9},
    {Bbmaj7, Bbmaj7},
    {Fmaj7, Fmaj7},
    {Cadd9, Cadd9},
    {Dm9, Dm9},
    {Bbmaj7, Bbmaj7},
    {Fmaj7, Fmaj7},
    {Cadd9, Cadd9},
    {Gm9, Gm9},
    {Asus, A7},
    // Swell, bars 20-32 (80-132 s); it opens on B flat, so the dominant does not resolve yet.
    {Bbmaj7, Bbmaj7},
    {Cadd9, Cadd9},
    {Dm9, Dm9},
    {Bbmaj7, Bbmaj7},
    {Fmaj7, Fmaj7},
    {Cadd9, Cadd9},
    {Dm9, Dm9},
    {Bbmaj7, Bbmaj7},
    {Fmaj7, Fmaj7},
    {Cadd9, Cadd9},
    {Gm9, Gm9},
    {Bbmaj7, Bbmaj7},
    {Asus, A7},
    // Close, bars 33-34 (132-140 s).
    {Dmaj, Dmaj},
    {Dmaj, Dmaj},
};

Chord chordAt(int bar, int step) {
    const BarHarmony& h = kHarmony[std::min(std::max(bar, 0), kBars - 1)];
    return step < 8 ? h.first : h.second;
}

// Section boundaries in bars.
const int kSwellBar = 20, kCloseBar = 33;

// How full the music is over time (0..1): pad level and brightness, arpeggio and bass.
const Curve kIntensity = {{0.0, 0.25},  {6.0, 0.35},  {20.0, 0.5},   {27.0, 0.58}, {30.0, 0.45},
                          {36.0, 0.3},  {52.0, 0.38}, {76.0, 0.5},   {80.0, 0.55}, {100.0, 0.72},
                          {116.0, 0.9}, {124.0, 1.0}, {130.0, 0.95}, {134.0, 0.6}, {140.0, 0.45}};

struct PhraseNote {
    int step;    // from the phrase's first bar
    int length;  // steps
    int pitch;   // scale degree (motif) or MIDI note (the others)
};

// The motif, in degrees of D natural minor from D5: A-D-E-F ... E-D-C-D over two bars.
const std::vector<PhraseNote> kMotif = {{0, 2, -3}, {2, 2, 0},  {4, 2, 1},   {6, 8, 2},
                                        {14, 2, 1}, {16, 4, 0}, {20, 4, -1}, {24, 8, 0}};

// Over G minor then A: B flat, A, G, D, then the suspension and its resolution onto C sharp.
const std::vector<PhraseNote> kCadence = {{0, 4, 70},  {4, 2, 69},  {6, 2, 67},  {8, 8, 74},
                                          {16, 4, 76}, {20, 4, 74}, {24, 6, 73}, {30, 2, 76}};
const PhraseNote kCadenceLanding = {32, 12, 74};

const std::vector<PhraseNote> kFallingEcho = {{4, 3, 77}, {7, 3, 76}, {10, 6, 74}};
const std::vector<PhraseNote> kSwellTones = {{4, 12, 77}, {16, 8, 76}, {24, 8, 79}};
const std::vector<PhraseNote> kClimb = {{0, 4, 79}, {4, 4, 81}, {8, 8, 82}};
// The motif's head in D major, then the tonic left to ring.
const std::vector<PhraseNote> kMajorMotif = {
    {0, 2, 69}, {2, 2, 74}, {4, 2, 76}, {6, 12, 78}, {20, 12, 74}};

int degreeToNote(int degree) {
    static const int kScale[7] = {0, 2, 3, 5, 7, 8, 10};
    int octave = degree >= 0 ? degree / 7 : -((6 - degree) / 7);
    int index = degree - 7 * octave;
    return 74 + 12 * octave + kScale[index];
}

class Score {
  public:
    explicit Score(uint32_t seed) : touch(seed ^ 0x51A7E5u), figures(seed ^ 0xA4B3C2u) {}

    std::vector<NoteEvent> pad, lead, pluck, bass;
    std::vector<BrushStroke> brushes;

    void compose() {
        writePad();
        writeLead();
        writeArpeggios();
        writeBass();
        writeBrushes();
    }

  private:
    Prng touch;    // small timing and velocity differences, as a player's hand would make
    Prng figures;  // which arpeggio figure each bar uses, and the brush noises

    double humanTime(double seconds) { return std::max(0.0, seconds + 0.006 * touch.bipolar()); }
    double humanVelocity(double velocity) { return velocity * (1.0 + 0.08 * touch.bipolar()); }

    void writePad() {
        // Consecutive halves with the same chord become one held chord.
        int startHalf = 0;
        for (int half = 1; half <= 2 * kBars; ++half) {
            Chord current = chordAt(startHalf / 2, (startHalf % 2) * 8);
            if (half < 2 * kBars && chordAt(half / 2, (half % 2) * 8) == current) continue;
            double start = startHalf * kBar / 2.0;
            double length = (half - startHalf) * kBar / 2.0 + 0.3;
            const Voicing& v = kVoicings[current];
            for (int i = 0; i < 5; ++i) {
                pad.push_back({start, length, static_cast<double>(v.pad[i]), 1.0, -0.5 + 0.25 * i});
            }
            // In the swell and the close the top of the chord is doubled an octave up.
            if (start >= kSwellBar * kBar) {
                for (int i = 3; i < 5; ++i) {
                    pad.push_back({start, length, static_cast<double>(v.pad[i] + 12), 0.35,
                                   0.6 - 0.4 * (i - 3)});
                }
            }
            startHalf = half;
        }
    }

    void addPhrase(const std::vector<PhraseNote>& phrase, int bar, bool degrees, int shift,
                   double velocity, double pan) {
        for (const PhraseNote& p : phrase) addLeadNote(p, bar, degrees, shift, velocity, pan);
    }

    void addLeadNote(const PhraseNote& p, int bar, bool degrees, int shift, double velocity,
                     double pan) {
        double start = bar * kBar + p.step * kStep;
        int note = (degrees ? degreeToNote(p.pitch) : p.pitch) + shift;
        lead.push_back({humanTime(start), p.length * kStep, static_cast<double>(note),
                        humanVelocity(velocity), pan});
    }

    void motif(int bar, int octave, double velocity, double pan) {
        addPhrase(kMotif, bar, true, 12 * octave, velocity, pan);
    }

    // The answer rises a third in its first bar and only a second in its last, so that over C
    // it settles on E instead of leaning on F against the chord's third.
    void answer(int bar, int octave, double velocity, double pan) {
        std::vector<PhraseNote> moved = kMotif;
        for (PhraseNote& p : moved) p.pitch += p.step < 16 ? 2 : 1;
        addPhrase(moved, bar, true, 12 * octave, velocity, pan);
    }

    void cadence(int bar, int octave, double velocity, bool landing) {
        addPhrase(kCadence, bar, false, 12 * octave, velocity, -0.1);
        if (landing) addLeadNote(kCadenceLanding, bar, false, 12 * octave, velocity, -0.1);
    }

    void writeLead() {
        // Opening: the motif, its answer, and the cadence that lands at 28 s.
        motif(1, 0, 0.55, -0.1);
        answer(3, 0, 0.6, -0.1);
        cadence(5, 0, 0.65, true);
        // As the first stroke fades, the motif's last notes drift down once more.
        addPhrase(kFallingEcho, 8, false, 0, 0.35, 0.3);
        // Middle: the motif recalled an octave down, then in place, quieter.
        motif(10, -1, 0.5, -0.2);
        answer(12, -1, 0.5, -0.2);
        motif(14, 0, 0.45, 0.1);
        answer(16, 0, 0.5, 0.1);
        cadence(18, 0, 0.55, true);
        // Swell: long tones, then the motif doubled in octaves and rising.
        addPhrase(kSwellTones, 20, false, 0, 0.6, -0.1);
        motif(22, 0, 0.7, -0.1);
        motif(22, 1, 0.3, 0.3);
        answer(24, 0, 0.75, -0.1);
        answer(24, 1, 0.3, 0.3);
        motif(26, 1, 0.75, 0.2);
        motif(26, 0, 0.45, -0.2);
        answer(28, 1, 0.8, 0.2);
        answer(28, 0, 0.5, -0.2);
        addPhrase(kClimb, 30, false, 0, 0.8, 0.0);
        cadence(31, 1, 0.7, false);
        cadence(31, 0, 0.5, false);
        // Close: the motif in the major.
        addPhrase(kMajorMotif, kCloseBar, false, 0, 0.6, 0.0);
    }

    void writeArpeggios() {
        static const int kEighths[3][8] = {
            {0, 2, 1, 3, 2, 4, 3, 1}, {0, 1, 2, 4, 3, 2, 1, 2}, {0, 2, 4, 3, 1, 3, 2, 4}};
        static const int kSixteenths[3][16] = {{0, 2, 4, 2, 1, 3, 4, 3, 0, 2, 4, 3, 2, 4, 3, 1},
                                               {0, 1, 2, 3, 4, 3, 2, 1, 0, 2, 1, 3, 2, 4, 3, 2},
                                               {0, 2, 1, 4, 2, 3, 1, 4, 0, 3, 2, 4, 1, 3, 2, 4}};
        for (int bar = 8; bar < kCloseBar; ++bar) {
            bool fast = bar >= kSwellBar;
            uint32_t figure = figures.below(3);
            int stride = fast ? 1 : 2;
            for (int step = 0, k = 0; step < 16; step += stride, ++k) {
                int index = fast ? kSixteenths[figure][k] : kEighths[figure][k];
                int note = kVoicings[chordAt(bar, step)].pad[index] + 12;
                double velocity = fast ? (step % 4 == 0 ? 0.42 : 0.3) : 0.24 + 0.01 * (bar - 8);
                double start = bar * kBar + step * kStep;
                pluck.push_back({humanTime(start), fast ? 0.6 : 1.0, static_cast<double>(note),
                                 humanVelocity(velocity), k % 2 == 0 ? -0.35 : 0.35});
            }
        }
        // One slow strum of the closing chord.
        const Voicing& close = kVoicings[Dmaj];
        for (int i = 0; i < 5; ++i) {
            pluck.push_back({kCloseBar * kBar + 0.07 * i, 3.0,
                             static_cast<double>(close.pad[i] + 12), humanVelocity(0.35),
                             -0.4 + 0.2 * i});
        }
    }

    void writeBass() {
        for (int bar = 10; bar < kCloseBar; ++bar) {
            for (int half = 0; half < 2; ++half) {
                Chord first = chordAt(bar, 0), chord = chordAt(bar, half * 8);
                double start = bar * kBar + half * kBar / 2.0;
                int root = kVoicings[chord].bass;
                if (bar < kSwellBar) {
                    // Held roots in the middle; a split bar gets one per half.
                    if (half == 1 && chord == first) continue;
                    double length = (first == chordAt(bar, 8) ? kBar : kBar / 2.0) - 0.15;
                    bass.push_back({humanTime(start), length, static_cast<double>(root),
                                    humanVelocity(0.5), 0.0});
                } else if (half == 0) {
                    bass.push_back({humanTime(start), 7.5 * kStep, static_cast<double>(root),
                                    humanVelocity(0.65), 0.0});
                } else {
                    // The fifth, then the octave, keep the swell moving.
                    int fifth = chord == first ? root + 7 : root;
                    bass.push_back({humanTime(start), 3.5 * kStep, static_cast<double>(fifth),
                                    humanVelocity(0.5), 0.0});
                    bass.push_back({humanTime(start + 4 * kStep), 3.5 * kStep,
                                    static_cast<double>(root + 12), humanVelocity(0.4), 0.0});
                }
            }
        }
        bass.push_back(
            {kCloseBar * kBar, 7.0, static_cast<double>(kVoicings[Dmaj].bass), 0.6, 0.0});
    }

    void writeBrushes() {
        struct Sketch {
            double start, length, fromHz, toHz, level;
        };
        // The opening strokes, the long falling one as the first stroke fades at 28 s, the broad
        // rising ones of the swell, and a last lift at the close.
        static const Sketch kSketches[] = {
            {0.3, 3.6, 500, 2200, 0.5},   {8.2, 3.0, 700, 1800, 0.3},
            {16.1, 3.2, 600, 2400, 0.35}, {24.0, 3.6, 800, 2600, 0.4},
            {28.2, 7.0, 2600, 500, 0.45}, {80.0, 6.5, 250, 1500, 0.7},
            {88.0, 5.0, 300, 1700, 0.6},  {96.0, 5.0, 320, 1900, 0.65},
            {104.0, 5.0, 350, 2100, 0.7}, {112.0, 5.0, 380, 2300, 0.75},
            {120.0, 6.0, 400, 2500, 0.8}, {132.0, 6.0, 1800, 400, 0.5},
        };
        double side = figures.uniform() < 0.5 ? -1.0 : 1.0;
        for (const Sketch& s : kSketches) {
            double spread = 0.3 + 0.4 * figures.uniform();
            double detune = 1.0 + 0.15 * figures.bipolar();
            brushes.push_back({s.start, s.length, s.fromHz * detune, s.toHz * detune,
                               -side * spread, side * spread, s.level});
            side = -side;
        }
    }
};

// Adds `bus` to `out` with a gain of base + perIntensity x intensity, following the arc.
void mixInto(StereoBus* out, const StereoBus& bus, int rate, double base, double perIntensity) {
    const size_t block = 64;
    for (size_t from = 0; from < out->frames(); from += block) {
        double seconds = static_cast<double>(from) / rate;
        float gain = static_cast<float>(base + perIntensity * kIntensity.at(seconds));
        for (size_t n = from; n < std::min(from + block, out->frames()); ++n) {
            out->left[n] += bus.left[n] * gain;
            out->right[n] += bus.right[n] * gain;
        }
    }
}

}  // namespace

std::vector<float> renderMusic(uint32_t seed, int* rate) {
    const int sampleRate = kMusicRate;
    if (rate) *rate = sampleRate;
    const size_t frames = static_cast<size_t>(kMusicSeconds * sampleRate);

    Score score(seed);
    score.compose();

    // Each voice is rendered on its own bus and mixed at once, so only one is alive at a time.
    Prng voicing(seed ^ 0x7F4A7C15u);
    StereoBus dry(frames), echoes(frames);
    {
        StereoBus pad(frames);
        for (const NoteEvent& e : score.pad) addPadNote(&pad, sampleRate, e, kIntensity, &voicing);
        mixInto(&dry, pad, sampleRate, 0.028, 0.05);
    }
    {
        StereoBus lead(frames);
        for (const NoteEvent& e : score.lead) addBellNote(&lead, sampleRate, e);
        mixInto(&dry, lead, sampleRate, 0.45, 0.1);
        mixInto(&echoes, lead, sampleRate, 0.16, 0.0);
    }
    {
        StereoBus pluck(frames);
        for (const NoteEvent& e : score.pluck) addPluckNote(&pluck, sampleRate, e, &voicing);
        mixInto(&dry, pluck, sampleRate, 0.22, 0.3);
        mixInto(&echoes, pluck, sampleRate, 0.08, 0.08);
    }
    {
        StereoBus low(frames);
        for (const NoteEvent& e : score.bass) addBassNote(&low, sampleRate, e);
        mixInto(&dry, low, sampleRate, 0.09, 0.09);
    }
    {
        StereoBus brush(frames);
        for (const BrushStroke& b : score.brushes) addBrushStroke(&brush, sampleRate, b, &voicing);
        mixInto(&dry, brush, sampleRate, 0.05, 0.0);
    }
    synth::makeCrossEchoes(&echoes, sampleRate, 0.75, 0.5, 0.38, 2400.0);

    // One shared room for everything; the mix is written back into `dry`.
    synth::Reverb reverb(sampleRate, 0.82, 0.35, 0.9);
    for (size_t n = 0; n < frames; ++n) {
        float roomL, roomR;
        reverb.step(0.6f * (dry.left[n] + echoes.left[n]), 0.6f * (dry.right[n] + echoes.right[n]),
                    &roomL, &roomR);
        double t = static_cast<double>(n) / sampleRate;
        // Silent again by 140.5 s: the show's own clock has ended it at 140.
        double fade = std::min(1.0, t / 0.01);
        if (t > 133.5) {
            fade *= t >= 140.5 ? 0.0 : 0.5 + 0.5 * synth::cosTurn(0.5 * (t - 133.5) / 7.0);
        }
        dry.left[n] = static_cast<float>(fade * (dry.left[n] + 0.7f * echoes.left[n] + roomL));
        dry.right[n] = static_cast<float>(fade * (dry.right[n] + 0.7f * echoes.right[n] + roomR));
    }
    echoes = StereoBus();
    StereoBus& master = dry;
    synth::highPass(&master, sampleRate, 22.0);

    // Loudness to the target, peaks held under the ceiling; limiting lowers the loudness a
    // little, so measure again and correct (it settles in two or three rounds).
    std::vector<float> out(2 * frames);
    const double ceiling = synth::dbToGain(kMusicCeilingDb);
    double gain = 1.0;
    for (int round = 0; round < 4; ++round) {
        for (size_t n = 0; n < frames; ++n) {
            out[2 * n] = static_cast<float>(master.left[n] * gain);
            out[2 * n + 1] = static_cast<float>(master.right[n] * gain);
        }
        synth::limitPeaks(&out, sampleRate, ceiling);
        double loudness = integratedLoudness(out.data(), frames, sampleRate);
        double error = kMusicLoudness - loudness;
        if (loudness < -150.0 || (error < 0.05 && error > -0.05)) break;
        gain *= synth::dbToGain(error);
    }
    return out;
}

}  // namespace content
