#pragma once
// The building blocks of the music: a few small voices (pad, bell, pluck, bass, brushed noise),
// a plate-like reverb, a cross-fed delay and a peak limiter. The arithmetic uses only IEEE-754
// addition, multiplication, division and the functions below (no libm transcendental calls),
// so one seed renders the same samples on every machine.
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <utility>
#include <vector>

namespace content {
namespace synth {

const double kTwoPi = 6.28318530717958647692;
const double kLn2 = 0.69314718055994530942;
const double kLn10 = 2.30258509299404568402;

// Sine and cosine of an angle in turns, accurate to about 1e-13.
double sinTurn(double turns);
double cosTurn(double turns);
// The same from a table (error below 1e-6): for oscillators, where it runs per sample.
float tableSin(double turns);
// Natural exponential and logarithm by range reduction and fixed series; log of x <= 0 is -1e300.
double expOf(double x);
double logOf(double x);
double dbToGain(double db);
double gainToDb(double gain);
// Equal-tempered pitch, 69 = A4 = 440 Hz; fractional notes detune.
double noteHz(double note);

// A 32-bit generator of our own (a Weyl sequence through a 32-bit mixer).
class Prng {
  public:
    explicit Prng(uint32_t seed) : state(seed) {}
    uint32_t next();
    double uniform() { return next() * (1.0 / 4294967296.0); }
    double bipolar() { return 2.0 * uniform() - 1.0; }
    uint32_t below(uint32_t n) { return static_cast<uint32_t>(uniform() * n); }

  private:
    uint32_t state;
};

// Interleaving happens only at the very end; voices and effects work on separate channels.
struct StereoBus {
    std::vector<float> left, right;
    explicit StereoBus(size_t frames = 0) : left(frames, 0.0f), right(frames, 0.0f) {}
    size_t frames() const { return left.size(); }
};

// A value that moves linearly between (time in seconds, value) points and holds at the ends.
class Curve {
  public:
    Curve(std::initializer_list<std::pair<double, double>> points) : points(points) {}
    double at(double seconds) const;

  private:
    std::vector<std::pair<double, double>> points;
};

// Constant-power pan: -1 is hard left, +1 hard right.
void panGains(double pan, double* left, double* right);

struct NoteEvent {
    double start = 0.0;     // seconds
    double length = 0.0;    // seconds from the start to the release
    double note = 60.0;     // MIDI note number
    double velocity = 1.0;  // linear amplitude factor
    double pan = 0.0;
};

// Warm pad: two slightly detuned band-limited saws per note, each through its own low-pass
// that opens with `brightness` (0..1 over time), one leaning left and one right. Slow attack
// and release so chords melt into each other.
void addPadNote(StereoBus* bus, int rate, const NoteEvent& note, const Curve& brightness,
                Prng* prng);

// Glassy bell: two-operator FM voices (a pair a few cents apart, one each side) with an
// inharmonic modulator whose index dies away faster than the tone, over a soft sine an octave
// down that lingers after the shimmer.
void addBellNote(StereoBus* bus, int rate, const NoteEvent& note);

// Plucked string (Karplus-Strong): a burst of soft noise circulating through a damped delay
// line tuned to the pitch; `length` is when the string is damped.
void addPluckNote(StereoBus* bus, int rate, const NoteEvent& note, Prng* prng);

// Soft round bass: a sine with a little second and third harmonic.
void addBassNote(StereoBus* bus, int rate, const NoteEvent& note);

// A brush drawn across paper: band-passed noise whose centre glides from fromHz to toHz and
// whose position sweeps from fromPan to toPan over the stroke.
struct BrushStroke {
    double start = 0.0, length = 1.0;
    double fromHz = 500.0, toHz = 2000.0;
    double fromPan = -0.5, toPan = 0.5;
    double level = 1.0;
};
void addBrushStroke(StereoBus* bus, int rate, const BrushStroke& stroke, Prng* prng);

// Eight damped combs and four all-passes per channel (the right channel's lines a little
// longer for width); step() takes one stereo frame in and gives only the wet signal out.
class Reverb {
  public:
    Reverb(int rate, double roomSize, double damping, double width);
    void step(float inLeft, float inRight, float* outLeft, float* outRight);

  private:
    struct Comb {
        std::vector<float> line;
        size_t index = 0;
        float store = 0.0f;
    };
    struct AllPass {
        std::vector<float> line;
        size_t index = 0;
    };
    float feedback, damp, wet1, wet2;
    Comb combs[2][8];
    AllPass allPasses[2][4];
};

// Replaces the bus by its echoes. Each channel's echo feeds the other, so repeats walk from
// side to side; the loop is low-passed so the repeats darken as they fade.
void makeCrossEchoes(StereoBus* bus, int rate, double leftSeconds, double rightSeconds,
                     double feedback, double cutoffHz);

// Removes DC and rumble below about `hz`.
void highPass(StereoBus* bus, int rate, double hz);

// Lowers the gain smoothly around any sample above `ceiling` (linear) in interleaved stereo,
// looking ahead so no sample passes it; below the ceiling the signal is untouched.
void limitPeaks(std::vector<float>* interleaved, int rate, double ceiling);

}  // namespace synth
}  // namespace content
