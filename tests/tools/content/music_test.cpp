#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "content/music.h"
#include "content/synth_dsp.h"

namespace {

// Rendering takes seconds, so the tests of one process share one render of one seed (ctest
// runs each test in its own process, hence few and broad tests).
class MusicTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        samples = new std::vector<float>(content::renderMusic(kSeed, &rate));
    }
    static void TearDownTestSuite() { delete samples; }

    static double loudnessBetween(double from, double to) {
        size_t first = static_cast<size_t>(from * rate);
        size_t last = static_cast<size_t>(to * rate);
        return content::integratedLoudness(samples->data() + 2 * first, last - first, rate);
    }
    static float peakBetween(double from, double to) {
        float peak = 0.0f;
        for (size_t i = 2 * static_cast<size_t>(from * rate);
             i < std::min(samples->size(), 2 * static_cast<size_t>(to * rate)); ++i) {
            peak = std::max(peak, std::fabs((*samples)[i]));
        }
        return peak;
    }

    static const uint32_t kSeed = 7;
    static std::vector<float>* samples;
    static int rate;
};

std::vector<float>* MusicTest::samples = nullptr;
int MusicTest::rate = 0;

std::string temporaryPath(const std::string& name) {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/" + name;
}

std::vector<uint8_t> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Walks the MPEG-1 Layer III frames of the file; false if the stream is not a clean sequence
// of 44.1 kHz frames covering the whole file.
struct Mp3Layout {
    size_t frames = 0;
    int delay = -1, padding = -1;  // from the LAME tag in the first frame
    uint32_t taggedFrames = 0;
};

bool readLayout(const std::vector<uint8_t>& file, Mp3Layout* layout) {
    static const int kKbps[16] = {0,   32,  40,  48,  56,  64,  80,  96,
                                  112, 128, 160, 192, 224, 256, 320, 0};
    size_t at = 0;
    while (at + 4 <= file.size()) {
        const uint8_t* h = &file[at];
        bool mpeg1Layer3 = h[0] == 0xFF && (h[1] & 0xFE) == 0xFA;
        int kbps = kKbps[h[2] >> 4];
        int rateIndex = (h[2] >> 2) & 3;
        if (!mpeg1Layer3 || kbps == 0 || rateIndex != 0) return false;
        size_t length = 144 * 1000 * static_cast<size_t>(kbps) / 44100 + ((h[2] >> 1) & 1);
        if (layout->frames == 0 && at + length <= file.size()) {
            // Stereo side information is 32 bytes; the tag follows it.
            const uint8_t* tag = h + 4 + 32;
            if (std::string(tag, tag + 4) == "Info" || std::string(tag, tag + 4) == "Xing") {
                uint32_t flags = (tag[4] << 24) | (tag[5] << 16) | (tag[6] << 8) | tag[7];
                const uint8_t* p = tag + 8;
                if (flags & 1) {
                    layout->taggedFrames = (p[0] << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
                    p += 4;
                }
                if (flags & 2) p += 4;
                if (flags & 4) p += 100;
                if (flags & 8) p += 4;
                if (std::string(p, p + 4) == "LAME") {
                    layout->delay = (p[21] << 4) | (p[22] >> 4);
                    layout->padding = ((p[22] & 0x0F) << 8) | p[23];
                }
            }
        }
        at += length;
        ++layout->frames;
    }
    return at == file.size();
}

TEST_F(MusicTest, FillsTheShowAtTheRightLevelAndFollowsItsArc) {
    ASSERT_EQ(rate, 44100);
    ASSERT_EQ(samples->size(), 2u * 141u * 44100u);
    for (float v : *samples) ASSERT_TRUE(std::isfinite(v));
    // It starts from silence and has died away before the file ends.
    EXPECT_LT(peakBetween(0.0, 0.005), 1e-3f);
    EXPECT_LT(peakBetween(140.6, 141.0), 1e-4f);

    EXPECT_LE(peakBetween(0.0, 141.0), std::pow(10.0, content::kMusicCeilingDb / 20.0) + 1e-6);
    EXPECT_NEAR(loudnessBetween(0.0, 141.0), -16.0, 0.2);

    double opening = loudnessBetween(4.0, 28.0);
    double afterFirstStroke = loudnessBetween(30.0, 40.0);
    double middle = loudnessBetween(44.0, 76.0);
    double swell = loudnessBetween(104.0, 128.0);
    double last = loudnessBetween(138.5, 140.0);
    EXPECT_LT(afterFirstStroke, opening - 2.0);
    EXPECT_GT(swell, middle + 3.0);
    EXPECT_GT(swell, opening + 3.0);
    EXPECT_LT(last, swell - 15.0);
}

TEST_F(MusicTest, Mp3HoldsExactlyTheMusicAndTheSameSeedGivesTheSameBytes) {
    std::vector<uint8_t> mp3;
    std::string error;
    ASSERT_TRUE(content::encodeMp3(*samples, rate, &mp3, &error)) << error;
    Mp3Layout layout;
    ASSERT_TRUE(readLayout(mp3, &layout));
    ASSERT_GE(layout.delay, 0) << "no LAME tag";
    // The tag frame itself carries no sound; players trim the delay and padding it names.
    double decoded = (layout.frames - 1) * 1152.0 - layout.delay - layout.padding;
    EXPECT_EQ(decoded, 141.0 * 44100);
    EXPECT_EQ(layout.taggedFrames, layout.frames - 1);

    // A second render and encode, through the file.
    std::string path = temporaryPath("quillmere_music_test.mp3");
    ASSERT_TRUE(content::writeMusic(path, kSeed, &error)) << error;
    std::vector<uint8_t> written = readBytes(path);
    std::remove(path.c_str());
    EXPECT_TRUE(written == mp3);
}

TEST(MusicLoudness, AgreesWithReferenceTonesAndGatesQuietPassages) {
    // A 1 kHz sine of amplitude 0.1 in both channels reads -20 LUFS (a full-scale one in one
    // channel is the meter's -3.01 reference); silence alone gives nothing.
    const double kPi = 3.14159265358979323846;
    std::vector<float> tone(2 * 44100 * 5);
    for (size_t n = 0; n < tone.size() / 2; ++n) {
        float v = static_cast<float>(0.1 * std::sin(2.0 * kPi * 1000.0 * n / 44100.0));
        tone[2 * n] = tone[2 * n + 1] = v;
    }
    EXPECT_NEAR(content::integratedLoudness(tone.data(), tone.size() / 2, 44100), -20.0, 0.05);
    std::vector<float> silence(2 * 44100, 0.0f);
    EXPECT_LT(content::integratedLoudness(silence.data(), 44100, 44100), -100.0);
    // Two quiet seconds out of five fall under the gates instead of pulling the figure down
    // by 2.2 LU.
    std::vector<float> mixed(tone);
    for (size_t n = 0; n < 44100 * 2; ++n) mixed[2 * n] = mixed[2 * n + 1] = 0.0001f * (n % 2);
    EXPECT_NEAR(content::integratedLoudness(mixed.data(), mixed.size() / 2, 44100), -20.0, 0.5);
}

TEST(MusicFailures, ReportTheReason) {
    std::string error;
    EXPECT_FALSE(content::writeMusic("/nonexistent-quillmere-dir/aaa.mp3", 1, &error));
    EXPECT_NE(error.find("/nonexistent-quillmere-dir/aaa.mp3"), std::string::npos) << error;

    std::vector<uint8_t> mp3;
    error.clear();
    EXPECT_FALSE(content::encodeMp3(std::vector<float>(3, 0.0f), 44100, &mp3, &error));
    EXPECT_FALSE(error.empty());
}

// The synthesizer's own functions stand in for libm so that every machine renders the same
// samples; they have to be as good as libm where the music uses them.
TEST(SynthMath, MatchesTheStandardLibrary) {
    using namespace content::synth;
    const double kPi = 3.14159265358979323846;
    Prng prng(12345);
    for (int i = 0; i < 20000; ++i) {
        double turns = 2000.0 * prng.bipolar();
        ASSERT_NEAR(sinTurn(turns), std::sin(2.0 * kPi * turns), 1e-9) << turns;
        ASSERT_NEAR(cosTurn(turns), std::cos(2.0 * kPi * turns), 1e-9) << turns;
        ASSERT_NEAR(tableSin(turns), std::sin(2.0 * kPi * turns), 2e-6) << turns;
        double x = 700.0 * prng.bipolar();
        ASSERT_NEAR(expOf(x) / std::exp(x), 1.0, 1e-13) << x;
        double y = std::exp(700.0 * prng.bipolar());
        ASSERT_NEAR(logOf(y), std::log(y), 1e-12 * std::max(1.0, std::fabs(std::log(y)))) << y;
    }
    EXPECT_EQ(sinTurn(0.0), 0.0);
    EXPECT_NEAR(sinTurn(0.25), 1.0, 1e-12);
    EXPECT_EQ(noteHz(69.0), 440.0);
    EXPECT_NEAR(noteHz(81.0), 880.0, 1e-9);
    EXPECT_NEAR(dbToGain(-6.0), 0.501187233627, 1e-12);
    EXPECT_NEAR(gainToDb(0.1), -20.0, 1e-12);
    EXPECT_LT(logOf(0.0), -1e299);
}

// The frequency within half a semitone of `hz` where a Hann-windowed stretch of one channel
// is strongest, in steps of half a cent: where the voice really sounds near the asked pitch.
double strongestNear(const std::vector<float>& x, size_t from, size_t count, double hz, int rate) {
    const double kPi = 3.14159265358979323846;
    double bestHz = hz, bestPower = -1.0;
    for (int halfCents = -100; halfCents <= 100; ++halfCents) {
        double f = hz * std::pow(2.0, halfCents / 2400.0);
        double w = 2.0 * kPi * f / rate, re = 0.0, im = 0.0;
        for (size_t n = 0; n < count; ++n) {
            double v = x[from + n] * (0.5 - 0.5 * std::cos(2.0 * kPi * n / count));
            re += v * std::cos(w * n);
            im -= v * std::sin(w * n);
        }
        if (re * re + im * im > bestPower) {
            bestPower = re * re + im * im;
            bestHz = f;
        }
    }
    return bestHz;
}

double centsBetween(double hz, double reference) {
    return 1200.0 * std::log2(hz / reference);
}

TEST(SynthVoices, PlayInTune) {
    using namespace content::synth;
    const int rate = 44100;
    Prng prng(3);
    for (double note : {45.0, 57.0, 69.0, 81.0}) {
        NoteEvent e;
        e.start = 0.0;
        e.length = 1.5;
        e.note = note;
        StereoBus pluck(rate * 2), bell(rate * 2), bass(rate * 2);
        addPluckNote(&pluck, rate, e, &prng);
        addBellNote(&bell, rate, e);
        addBassNote(&bass, rate, e);
        double hz = noteHz(note);
        EXPECT_NEAR(centsBetween(strongestNear(pluck.left, rate / 10, 8192, hz, rate), hz), 0.0,
                    2.0)
            << "pluck " << note;
        EXPECT_NEAR(centsBetween(strongestNear(bass.left, rate / 10, 8192, hz, rate), hz), 0.0, 1.0)
            << "bass " << note;
        // Two carriers four cents apart: the peak lies about between them.
        EXPECT_NEAR(centsBetween(strongestNear(bell.right, rate / 10, 8192, hz, rate), hz), 2.0,
                    4.0)
            << "bell " << note;
    }
    Curve brightness = {{0.0, 0.5}};
    NoteEvent e;
    e.length = 3.0;
    e.note = 57.0;
    StereoBus pad(rate * 4);
    addPadNote(&pad, rate, e, brightness, &prng);
    // Detuned pair and slow vibrato: within a few cents of the note.
    EXPECT_NEAR(centsBetween(strongestNear(pad.left, 2 * rate, 8192, 220.0, rate), 220.0), 0.0,
                10.0);
}

TEST(SynthVoices, StartOnTimeAndStayInsideTheBus) {
    using namespace content::synth;
    const int rate = 44100;
    Prng prng(9);
    Curve brightness = {{0.0, 1.0}};
    NoteEvent e;
    e.start = 0.5;
    e.length = 2.0;  // runs past the end of the one-second bus
    e.note = 62.0;
    e.velocity = 0.5;
    StereoBus bus(rate);
    addPadNote(&bus, rate, e, brightness, &prng);
    addBellNote(&bus, rate, e);
    addPluckNote(&bus, rate, e, &prng);
    addBassNote(&bus, rate, e);
    addBrushStroke(&bus, rate, {0.5, 2.0, 500.0, 2000.0, -0.5, 0.5, 1.0}, &prng);
    size_t firstSound = 0;
    while (firstSound < bus.frames() && bus.left[firstSound] == 0.0f &&
           bus.right[firstSound] == 0.0f) {
        ++firstSound;
    }
    EXPECT_EQ(firstSound, static_cast<size_t>(rate / 2));
    for (size_t n = 0; n < bus.frames(); ++n) ASSERT_TRUE(std::isfinite(bus.left[n]));
}

TEST(SynthEffects, EchoesCrossSidesAndTheRoomDiesAway) {
    using namespace content::synth;
    const int rate = 44100;
    StereoBus bus(rate * 2);
    bus.left[0] = 1.0f;
    makeCrossEchoes(&bus, rate, 0.75, 0.5, 0.4, 2000.0);
    // The left impulse comes back on the left after 0.75 s, then darkened on the right 0.5 s
    // later, never earlier.
    EXPECT_EQ(bus.left[size_t(0.75 * rate)], 1.0f);
    float earlyRight = 0.0f, lateRight = 0.0f;
    for (size_t n = 0; n < size_t(1.25 * rate); ++n)
        earlyRight = std::max(earlyRight, bus.right[n]);
    for (size_t n = size_t(1.25 * rate); n < bus.frames(); ++n) {
        lateRight = std::max(lateRight, std::fabs(bus.right[n]));
    }
    EXPECT_EQ(earlyRight, 0.0f);
    EXPECT_GT(lateRight, 0.0f);
    EXPECT_LT(lateRight, 0.4f);

    Reverb room(rate, 0.82, 0.35, 0.9);
    Prng prng(5);
    double first = 0.0, last = 0.0;
    for (int n = 0; n < 8 * rate; ++n) {
        float in = n < rate / 10 ? static_cast<float>(0.5 * prng.bipolar()) : 0.0f;
        float l, r;
        room.step(in, in, &l, &r);
        ASSERT_TRUE(std::isfinite(l) && std::isfinite(r));
        if (n < rate) first += l * l + r * r;
        if (n >= 7 * rate) last += l * l + r * r;
    }
    EXPECT_GT(first, 0.0);
    EXPECT_LT(last, first * 1e-4);
}

TEST(SynthEffects, LimiterHoldsTheCeilingAndLeavesTheRestAlone) {
    using namespace content::synth;
    const int rate = 44100;
    const double kPi = 3.14159265358979323846;
    std::vector<float> x(2 * rate);
    for (int n = 0; n < rate; ++n) {
        x[2 * n] = static_cast<float>(0.5 * std::sin(2.0 * kPi * 220.0 * n / rate));
        x[2 * n + 1] = -x[2 * n];
    }
    std::vector<float> quiet = x;
    limitPeaks(&quiet, rate, 0.8);
    EXPECT_TRUE(quiet == x);

    x[2 * (rate / 2) + 1] = -2.0f;
    std::vector<float> limited = x;
    limitPeaks(&limited, rate, 0.8);
    float peak = 0.0f;
    for (float v : limited) peak = std::max(peak, std::fabs(v));
    EXPECT_LE(peak, 0.8f);
    // Gain comes down only just before the spike and is fully back within a third of a second.
    for (int n : {0, rate / 2 - rate / 50, rate / 2 + rate / 3, rate - 1}) {
        EXPECT_EQ(limited[2 * n], x[2 * n]) << n;
    }
    EXPECT_LT(std::fabs(limited[2 * (rate / 2 + 10)]), std::fabs(x[2 * (rate / 2 + 10)]));
}

}  // namespace
