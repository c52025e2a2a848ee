#include "video/yuv_surface.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

namespace {

// Straightforward versions of the effects: one pixel at a time, every neighbour read checked.
// The surface's block-wise code must produce exactly the same bytes.
namespace plain {

struct Picture {
    int32_t width, height;
    std::vector<unsigned char> px;
    int64_t count() const { return int64_t(width) * height; }
    unsigned char& at(int64_t i, int lane) { return px[size_t(i * 4 + lane)]; }
};

std::vector<unsigned char> lane(Picture& p, int l) {
    std::vector<unsigned char> s(size_t(p.count()));
    for (int64_t i = 0; i < p.count(); ++i) s[size_t(i)] = p.at(i, l);
    return s;
}

int signedSample(const std::vector<unsigned char>& s, int64_t k) {
    return k >= 0 && k < int64_t(s.size()) ? int(static_cast<signed char>(s[size_t(k)])) : 0;
}

int clampByte(int64_t v) {
    return v < 0 ? 0 : (v > 255 ? 255 : int(v));
}

void adjustLevels(Picture& p, int l, float gain, float contrast) {
    unsigned char table[256];
    for (int i = 0; i < 256; ++i) {
        float e = float(i - 128) * contrast + 128.0f;
        if (!(e >= 0.0f)) e = 0.0f;
        if (e > 255.0f) e = 255.0f;
        float f = e * gain;
        if (!(f >= 0.0f)) f = 0.0f;
        if (f > 255.0f) f = 255.0f;
        table[i] = static_cast<unsigned char>(int(f));
    }
    for (int64_t i = 0; i < p.count(); ++i) p.at(i, l) = table[p.at(i, l)];
}

void sharpen(Picture& p, int l, int shift) {
    std::vector<unsigned char> s = lane(p, l);
    for (int64_t i = 0; i < p.count(); ++i) {
        int v = 16 * signedSample(s, i) -
                2 * (signedSample(s, i - p.width) + signedSample(s, i + p.width) +
                     signedSample(s, i + 1) + signedSample(s, i - 1));
        v >>= (shift & 31);
        if (v < 0) v = -v;
        p.at(i, l) = static_cast<unsigned char>(v > 255 ? 255 : v);
    }
}

// The running blur along count samples stride apart from first, reading the lane copy s;
// blurRun is one line through the whole buffer, blurColumns one line per column.
void blurLine(Picture& p, int l, const std::vector<unsigned char>& s, int radius, int64_t first,
              int64_t count, int64_t stride) {
    int64_t r = radius == 0 ? 1 : radius;
    auto at = [&](int64_t k) { return k >= 0 && k < count ? s[size_t(first + k * stride)] : 0; };
    float scale = 1.0f / float(2 * r);
    int64_t sum = 0;
    for (int64_t k = 0; k < r && k < count; ++k) sum += at(k);
    for (int64_t i = 0; i < count; ++i) {
        p.at(first + i * stride, l) =
            static_cast<unsigned char>(clampByte(int64_t(float(sum) * scale)));
        sum += at(i + r) - at(i - r);
    }
}

void blurRun(Picture& p, int l, int radius) {
    blurLine(p, l, lane(p, l), radius, 0, p.count(), 1);
}

void blurColumns(Picture& p, int l, int radius) {
    std::vector<unsigned char> s = lane(p, l);
    for (int x = 0; x < p.width; ++x) blurLine(p, l, s, radius, x, p.height, p.width);
}

int32_t asSigned(uint32_t v) {
    return v < 0x80000000u ? int32_t(v) : -int32_t(~v) - 1;
}

void addNoise(Picture& p, int l, int amplitude, uint32_t& state) {
    int32_t a = amplitude <= 0 ? 1 : amplitude;
    state += kNoiseIncrement;
    uint32_t s = state;
    for (int64_t i = 0; i < p.count(); ++i) {
        uint32_t c = p.at(i, l);
        uint32_t t = ((0u - (s + c) * c) ^ c) + c;
        int v = clampByte(int64_t(c) + asSigned(t) % a);
        p.at(i, l) = static_cast<unsigned char>(v);
        s = s + t + uint32_t(v);
    }
    state = s;
}

}  // namespace plain

struct Lcg {
    uint32_t s;
    uint32_t next() { return (s = s * 1664525u + 1013904223u) >> 8; }
};

void fillRandom(YUVSurface& surface, uint32_t seed) {
    Lcg g{seed};
    // Half noise, half smooth areas, so both the clamps and the flat cases are reached.
    int mode = int(g.next() % 2);
    for (int i = 0; i < surface.bytes(); ++i)
        surface.pixels()[i] = static_cast<unsigned char>(mode ? g.next() : (i / 4 / 7) * 37 % 256);
}

void fill(YUVSurface& surface, int lane, unsigned char value) {
    for (int i = 0; i < surface.width * surface.height; ++i) surface.pixels()[i * 4 + lane] = value;
}

plain::Picture copyOf(YUVSurface& surface) {
    plain::Picture p{surface.width, surface.height, {}};
    p.px.assign(surface.pixels(), surface.pixels() + surface.bytes());
    return p;
}

bool same(YUVSurface& surface, const plain::Picture& p) {
    return std::memcmp(surface.pixels(), p.px.data(), p.px.size()) == 0;
}

int laneAt(YUVSurface& s, int x, int y, int lane = 0) {
    return s.pixels()[(y * s.width + x) * 4 + lane];
}

// ---------------------------------------------------------------------------------------------

TEST(YUVSurfaceLevels, IdentityNegativeGainAndTheTextureCurve) {
    YUVSurface s(256, 1);
    auto ramp = [&] {
        for (int i = 0; i < 256; ++i) s.pixels()[i * 4] = static_cast<unsigned char>(i);
    };
    ramp();
    s.adjustLevels(0, 1.0f, 1.0f);
    for (int i = 0; i < 256; ++i) ASSERT_EQ(laneAt(s, i, 0), i);

    s.adjustLevels(0, 1.5f, 3.0f);
    for (int i = 0; i <= 85; ++i) EXPECT_EQ(laneAt(s, i, 0), 0) << i;
    for (int i = 142; i < 256; ++i) EXPECT_EQ(laneAt(s, i, 0), 255) << i;
    EXPECT_EQ(laneAt(s, 128, 0), 192);

    ramp();
    s.adjustLevels(0, -0.5f, 1.0f);
    for (int i = 0; i < 256; ++i) ASSERT_EQ(laneAt(s, i, 0), 0);

    // NaN curve values (0 · infinity at the centre, or a NaN gain) come out as 0.
    ramp();
    s.adjustLevels(0, 1.0f, INFINITY);
    for (int i = 0; i < 256; ++i) ASSERT_EQ(laneAt(s, i, 0), i > 128 ? 255 : 0) << i;
    ramp();
    s.adjustLevels(0, NAN, 1.0f);
    for (int i = 0; i < 256; ++i) ASSERT_EQ(laneAt(s, i, 0), 0) << i;
}

TEST(YUVSurfaceLevels, RectangleIsClippedAndOnlyTheLaneChanges) {
    YUVSurface s(5, 4);
    for (int i = 0; i < s.bytes(); ++i) s.pixels()[i] = 200;
    s.adjustLevels(2, -1.0f, 1.0f, 3, -100, 1000, 2);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x) {
            EXPECT_EQ(laneAt(s, x, y, 2), x >= 3 && y < 2 ? 0 : 200) << x << "," << y;
            for (int l : {0, 1, 3}) EXPECT_EQ(laneAt(s, x, y, l), 200);
        }
    s.adjustLevels(2, -1.0f, 1.0f, INT_MIN, INT_MIN, INT_MIN, INT_MAX);  // empty
    s.adjustLevels(2, -1.0f, 1.0f, 4, 4, 2, 2);                          // reversed
    EXPECT_EQ(laneAt(s, 0, 0, 2), 200);
}

TEST(YUVSurfaceSharpen, FlatAreasAndTheOneRunNeighbourhood) {
    YUVSurface s(8, 6);
    fill(s, 0, 100);
    s.sharpen(0, 3);
    EXPECT_EQ(laneAt(s, 4, 3), 100);
    fill(s, 0, 200);
    s.sharpen(0, 3);
    EXPECT_EQ(laneAt(s, 4, 3), 56);
    // The first pixel misses its upper and left neighbours: (16 - 4)·100 >> 3 = 150.
    fill(s, 0, 100);
    s.sharpen(0, 3);
    EXPECT_EQ(laneAt(s, 0, 0), 150);
    EXPECT_EQ(laneAt(s, 7, 5), 150);
    EXPECT_EQ(laneAt(s, 3, 0), 125);

    // A row's last pixel sees the next row's first pixel as its right neighbour.
    fill(s, 0, 0);
    s.pixels()[(2 * 8 + 0) * 4] = 10;
    s.sharpen(0, 0);
    EXPECT_EQ(laneAt(s, 7, 1), 20);
    EXPECT_EQ(laneAt(s, 0, 2), 160);
    EXPECT_EQ(laneAt(s, 0, 1), 20);
    EXPECT_EQ(laneAt(s, 1, 1), 0);
}

TEST(YUVSurfaceBlur, RadiusZeroIsTheMeanWithTheSampleBeforeOrAbove) {
    YUVSurface s(4, 3);
    for (int i = 0; i < 12; ++i) s.pixels()[i * 4] = static_cast<unsigned char>(i * 20 + 1);
    s.blurRun(0, 0);
    EXPECT_EQ(laneAt(s, 0, 0), 0);  // (0 + 1) / 2
    EXPECT_EQ(laneAt(s, 1, 0), (1 + 21) / 2);
    EXPECT_EQ(laneAt(s, 0, 1), (61 + 81) / 2);  // the run goes on across rows

    for (int i = 0; i < 12; ++i) s.pixels()[i * 4] = static_cast<unsigned char>(i * 20 + 1);
    s.blurColumns(0, 0);
    EXPECT_EQ(laneAt(s, 2, 0), 41 / 2);
    EXPECT_EQ(laneAt(s, 2, 1), (41 + 121) / 2);
    EXPECT_EQ(laneAt(s, 3, 2), (141 + 221) / 2);
}

TEST(YUVSurfaceBlur, NegativeRadiusDarkensToBlackAtTheFirstWindowsBrightness) {
    // The first window of radius -3 holds samples 0..2 (the three before the buffer read as 0):
    // 3 · 90, as much as six samples of 45. A window of 45s thus goes black.
    YUVSurface s(16, 16);
    fill(s, 0, 45);
    for (int i = 0; i < 3; ++i) s.pixels()[i * 4] = 90;
    for (int x = 8; x < 16; ++x) s.pixels()[(10 * 16 + x) * 4] = 250;
    s.blurRun(0, -3);
    EXPECT_EQ(laneAt(s, 5, 5), 0);
    EXPECT_EQ(laneAt(s, 12, 10), 205);  // (6 · 250 - 270) / 6
    EXPECT_EQ(laneAt(s, 15, 15), 0);    // darker than the first window: clamped, not wrapped

    fill(s, 0, 45);
    for (int y = 0; y < 2; ++y) s.pixels()[(y * 16 + 3) * 4] = 90;
    s.pixels()[(9 * 16 + 3) * 4] = 250;
    s.blurColumns(0, -2);
    const int expected[16] = {0, 11, 22, 11, 0, 0, 0, 0, 51, 51, 51, 51, 0, 0, 0, 0};
    for (int y = 0; y < 16; ++y) EXPECT_EQ(laneAt(s, 3, y), expected[y]) << y;
}

TEST(YUVSurfaceNoise, AmplitudeOneKeepsPixelsButTheStateRunsOn) {
    YUVSurface s(3, 3);
    fill(s, 0, 0);
    setNoiseState(kNoiseStateStart);
    s.addNoise(0, 0);
    EXPECT_EQ(noiseState(), kNoiseStateStart + kNoiseIncrement);  // black adds nothing more
    fillRandom(s, 7);
    plain::Picture before = copyOf(s);
    for (int amplitude : {0, 1, -5}) {
        uint32_t expected = noiseState();
        plain::addNoise(before, 0, amplitude, expected);
        s.addNoise(0, amplitude);
        EXPECT_TRUE(same(s, before));
        EXPECT_EQ(noiseState(), expected);
    }
}

TEST(YUVSurfaceNoise, KnownSequenceAcrossTwoCalls) {
    YUVSurface s(4, 1);
    const unsigned char start[4] = {100, 7, 255, 0};
    for (int i = 0; i < 4; ++i) s.pixels()[i * 4 + 1] = start[i];
    setNoiseState(kNoiseStateStart);
    s.addNoise(1, 20);
    EXPECT_EQ(noiseState(), 2155470846u);
    EXPECT_EQ(laneAt(s, 0, 0, 1), 92);
    EXPECT_EQ(laneAt(s, 1, 0, 1), 22);
    s.addNoise(1, 20);
    EXPECT_EQ(noiseState(), 293087742u);
    EXPECT_EQ(laneAt(s, 0, 0, 1), 76);
    EXPECT_EQ(laneAt(s, 1, 0, 1), 36);
    EXPECT_EQ(laneAt(s, 2, 0, 1), 255);
    EXPECT_EQ(laneAt(s, 3, 0, 1), 0);
}

// The state before a call that makes the first pixel (value c, odd) draw exactly t.
uint32_t stateGiving(uint32_t t, uint32_t c) {
    uint32_t inverse = c;
    for (int i = 0; i < 5; ++i) inverse *= 2u - c * inverse;
    uint32_t product = 0u - ((t - c) ^ c);
    return product * inverse - c - kNoiseIncrement;
}

TEST(YUVSurfaceNoise, RemainderTakesTheSignOfTheDrawAtTheExtremes) {
    YUVSurface s(1, 1);
    struct Case {
        uint32_t t;
        int amplitude;
        int expected;
    } cases[] = {
        {0x80000000u, 7, 199},    // INT_MIN % 7 = -2
        {0x80000000u, 100, 153},  // INT_MIN % 100 = -48
        {0x80000000u, 256, 201},  // INT_MIN % 256 = 0
        {0x80000001u, 256, 0},    // -255
        {0x7FFFFFFFu, 100, 248},  // INT_MAX % 100 = 47
        {0xFFFFFFFFu, 30, 200},   // -1
        {0x7FFFFFFFu, INT_MAX, 201},
        {0x7FFFFFFEu, INT_MAX, 255},  // the sum passes the 32-bit limit: clamped, not wrapped
        {0x80000000u, INT_MAX, 200},
    };
    for (const Case& c : cases) {
        s.pixels()[0] = 201;
        setNoiseState(stateGiving(c.t, 201));
        s.addNoise(0, c.amplitude);
        EXPECT_EQ(laneAt(s, 0, 0), c.expected) << c.t << " % " << c.amplitude;
        EXPECT_EQ(noiseState(),
                  stateGiving(c.t, 201) + kNoiseIncrement + c.t + uint32_t(c.expected));
    }
}

// The block-wise effects against the plain ones on random pictures, including sizes whose rows
// are shorter than a block, single rows and columns, and sizes that are not block multiples.
TEST(YUVSurfaceEffects, MatchThePlainVersionsByteForByte) {
    const int sizes[][2] = {{1, 1},  {1, 200}, {200, 1}, {3, 2},     {63, 65},
                            {67, 3}, {130, 7}, {64, 64}, {256, 256}, {1000, 3}};
    uint32_t seed = 1;
    for (const auto& size : sizes) {
        YUVSurface s(size[0], size[1]);
        for (int lane = 0; lane < 4; lane += 3) {
            for (int radius = -8; radius <= 8; ++radius) {
                fillRandom(s, ++seed);
                plain::Picture p = copyOf(s);
                s.blurRun(lane, radius);
                plain::blurRun(p, lane, radius);
                ASSERT_TRUE(same(s, p)) << size[0] << "x" << size[1] << " run r " << radius;
                s.blurColumns(lane, radius);
                plain::blurColumns(p, lane, radius);
                ASSERT_TRUE(same(s, p)) << size[0] << "x" << size[1] << " cols r " << radius;
            }
            for (int shift : {0, 1, 2, 3, 4, 5, 6, 7, 15, 16, 31, 32, 35, -1}) {
                fillRandom(s, ++seed);
                plain::Picture p = copyOf(s);
                s.sharpen(lane, shift);
                plain::sharpen(p, lane, shift);
                ASSERT_TRUE(same(s, p)) << size[0] << "x" << size[1] << " shift " << shift;
            }
            for (int amplitude : {1, 2, 3, 20, 30, 255, 256, 1000, 65537, INT_MAX}) {
                fillRandom(s, ++seed);
                plain::Picture p = copyOf(s);
                uint32_t state = noiseState();
                s.addNoise(lane, amplitude);
                plain::addNoise(p, lane, amplitude, state);
                ASSERT_TRUE(same(s, p)) << size[0] << "x" << size[1] << " noise " << amplitude;
                ASSERT_EQ(noiseState(), state);
            }
            const float curves[][2] = {{1.5f, 3.0f}, {0.84f, -1.98f}, {-0.3f, 2.0f}, {1.0f, 0.5f}};
            for (const auto& curve : curves) {
                fillRandom(s, ++seed);
                plain::Picture p = copyOf(s);
                s.adjustLevels(lane, curve[0], curve[1]);
                plain::adjustLevels(p, lane, curve[0], curve[1]);
                ASSERT_TRUE(same(s, p)) << curve[0] << " " << curve[1];
            }
        }
    }
}

TEST(YUVSurfaceEffects, HugeRadiiReadOnlyTheSurface) {
    const int sizes[][2] = {{7, 5}, {64, 64}, {1, 9}};
    for (const auto& size : sizes) {
        YUVSurface s(size[0], size[1]);
        const int n = size[0] * size[1];
        for (int radius : {INT_MAX, INT_MIN, INT_MIN + 1, n, n - 1, n + 1, -n, -n - 1, size[1],
                           -size[1], size[1] + 1, 1 << 30, -(1 << 30)}) {
            fillRandom(s, uint32_t(radius));
            plain::Picture p = copyOf(s);
            s.blurRun(0, radius);
            plain::blurRun(p, 0, radius);
            ASSERT_TRUE(same(s, p)) << "run " << radius;
            s.blurColumns(0, radius);
            plain::blurColumns(p, 0, radius);
            ASSERT_TRUE(same(s, p)) << "columns " << radius;
        }
    }
}

TEST(YUVSurfaceEffects, UnusableLaneOrSurfaceIsLeftAlone) {
    YUVSurface s(9, 9);
    fillRandom(s, 3);
    plain::Picture before = copyOf(s);
    uint32_t state = noiseState();
    for (int lane : {-1, 4, INT_MIN, INT_MAX}) {
        s.adjustLevels(lane, 0.0f, 1.0f);
        s.adjustLevels(lane, 0.0f, 1.0f, 0, 0, 9, 9);
        s.sharpen(lane, 3);
        s.blurRun(lane, 3);
        s.blurColumns(lane, -3);
        s.addNoise(lane, 20);
    }
    EXPECT_TRUE(same(s, before));
    EXPECT_EQ(noiseState(), state);

    // One pixel more than the shared scratch holds.
    YUVSurface big(1025, 1024);
    std::memset(big.pixels(), 77, size_t(big.bytes()));
    big.sharpen(0, 0);
    big.blurRun(0, 2);
    big.blurColumns(0, 2);
    big.addNoise(0, 20);
    big.adjustLevels(0, 0.0f, 1.0f);
    EXPECT_EQ(noiseState(), state);
    for (int i = 0; i < big.bytes(); i += 4099) ASSERT_EQ(big.pixels()[i], 77);

    YUVSurface exact(1024, 1024);
    fill(exact, 0, 77);
    exact.blurRun(0, 2);
    EXPECT_EQ(exact.pixels()[4 * 5000], 77);
}

TEST(YUVSurfaceLifetime, EmptyAndOversizedSurfaces) {
    for (auto size : {std::make_pair(0, 10), std::make_pair(10, -1), std::make_pair(-3, -3)}) {
        YUVSurface s(size.first, size.second);
        EXPECT_EQ(s.pixels(), nullptr);
        EXPECT_EQ(s.bytes(), 0);
        s.adjustLevels(0, 1.0f, 1.0f);
        s.sharpen(0, 3);
        s.blurRun(0, 1);
        s.blurColumns(0, 1);
        s.addNoise(0, 20);
    }
    EXPECT_THROW(YUVSurface(65536, 65536), std::bad_alloc);
    EXPECT_THROW(YUVSurface(INT_MAX, 2), std::bad_alloc);
    EXPECT_THROW(YUVSurface(INT_MAX, INT_MAX), std::bad_alloc);
}

}  // namespace
