#include "video/yuv_surface.h"

#include <cstdint>
#include <cstring>
#include <new>

// The effects run several times per frame on every pixel, so each one works in fixed-size blocks:
// loops with a constant trip count and no bounds checks, which the compiler turns into vector code
// at the usual optimisation level. Only the few samples near the ends of the buffer, whose
// neighbours fall outside it, go through checked reads; a sample outside the surface counts as 0.

namespace {

unsigned char filterScratch[kFilterScratchPixels];
unsigned char levelTable[256];
uint32_t noiseStateValue = kNoiseStateStart;

const int kBlock = 64;

// A pixel is read and written as one 32-bit word so that whole blocks of pixels move at once; the
// lane's byte sits at the same place in memory on either byte order.
inline int laneShift(int lane) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    return 8 * (3 - lane);
#else
    return 8 * lane;
#endif
}

inline uint32_t loadPixel(const unsigned char* p) {
    uint32_t w;
    std::memcpy(&w, p, 4);
    return w;
}

inline void storePixel(unsigned char* p, uint32_t w) {
    std::memcpy(p, &w, 4);
}

inline int32_t asSigned(uint32_t v) {
    return v < 0x80000000u ? int32_t(v) : -int32_t(~v) - 1;
}

// Pixel count of a surface the effects may touch, or 0 when the lane or the surface is unusable:
// the shared scratch holds one lane of at most kFilterScratchPixels pixels.
int32_t effectPixels(const YUVSurface& s, int lane) {
    if (lane < 0 || lane > 3 || s.pixelBuffer == nullptr || s.width <= 0 || s.height <= 0) return 0;
    int64_t n = int64_t(s.width) * s.height;
    return n <= kFilterScratchPixels ? int32_t(n) : 0;
}

void copyLaneToScratch(const unsigned char* __restrict px, int lane, int32_t n,
                       unsigned char* __restrict scratch) {
    const int shift = laneShift(lane);
    int32_t i = 0;
    for (; i + kBlock <= n; i += kBlock)
        for (int k = 0; k < kBlock; ++k)
            scratch[i + k] = static_cast<unsigned char>(loadPixel(px + 4 * (i + k)) >> shift);
    for (; i < n; ++i) scratch[i] = px[4 * i + lane];
}

// Writes count values (each 0..255) into the lane of the pixels starting at px.
inline void storeLane(unsigned char* __restrict px, int lane, const int32_t* __restrict values,
                      int count) {
    const int shift = laneShift(lane);
    const uint32_t keep = ~(0xFFu << shift);
    for (int k = 0; k < count; ++k)
        storePixel(px + 4 * k, (loadPixel(px + 4 * k) & keep) | (uint32_t(values[k]) << shift));
}

inline int32_t clampByte(int32_t v) {
    return v < 0 ? 0 : (v > 255 ? 255 : v);
}

// The blurs turn a running sum into a sample: sum times the float scale, truncated and clamped.
// The sums stay far inside the float range (at most 255 times the pixel count in size).
inline void sumsToSamples(const int32_t* __restrict sums, float scale, int32_t* __restrict out,
                          int count) {
    for (int k = 0; k < count; ++k) out[k] = clampByte(int32_t(float(sums[k]) * scale));
}

inline int sharpenAt(const signed char* s, int32_t n, int32_t w, int32_t i, int shift) {
    auto at = [&](int64_t k) { return k >= 0 && k < n ? int(s[k]) : 0; };
    int v = 16 * at(i) -
            2 * (at(int64_t(i) - w) + at(int64_t(i) + w) + at(int64_t(i) + 1) + at(int64_t(i) - 1));
    v >>= shift;
    if (v < 0) v = -v;
    return v > 255 ? 255 : v;
}

// High 64 bits of the product x * y, for y below 2^32.
inline uint64_t mulHigh(uint64_t x, uint64_t y) {
#if defined(__SIZEOF_INT128__)
    return uint64_t((static_cast<unsigned __int128>(x) * static_cast<unsigned __int128>(y)) >> 64);
#else
    return ((x >> 32) * y + (((x & 0xFFFFFFFFu) * y) >> 32)) >> 32;
#endif
}

// Adds to a base the remainder of a signed 32-bit value t by a fixed positive divisor a, the
// remainder taking the sign of t as the C operator gives it, without the hardware divide, which
// would dominate the noise loop. magic is 2^64 / a rounded up (one more for a power of two), so
// t times magic, kept to 64 bits, is the fraction of t / a in 64-bit fixed point, and the high
// half of that fraction times a is the remainder of a non-negative t; a negative t comes out
// a - 1 too high. Checked against the operator over every 32-bit t for a range of divisors. The
// base takes the correction first so that only one addition follows the multiplications.
class FixedRemainder {
  public:
    explicit FixedRemainder(uint32_t a)
        : divisor(a), magic(~uint64_t(0) / a + 1 + ((a & (a - 1)) == 0 ? 1 : 0)) {}

    int64_t addTo(int64_t base, uint32_t t) const {
        const uint64_t fraction = magic * uint64_t(int64_t(asSigned(t)));
        const uint64_t high = mulHigh(fraction, divisor);
        const uint32_t correction = (uint32_t(divisor) - 1) & (0u - (t >> 31));
        return (base - int64_t(correction)) + int64_t(high);
    }

  private:
    uint64_t divisor;
    uint64_t magic;
};

}  // namespace

uint32_t noiseState() {
    return noiseStateValue;
}
void setNoiseState(uint32_t state) {
    noiseStateValue = state;
}

YUVSurface::YUVSurface(int w, int h) : width(w), height(h), pixelBuffer(nullptr) {
    if (w <= 0 || h <= 0) {
        // An empty surface: its size reads as 0 x 0 so that bytes() agrees with the buffer.
        width = 0;
        height = 0;
        return;
    }
    // bytes() reports the size as a signed 32-bit count; a larger buffer could not be described.
    const int64_t count = int64_t(w) * int64_t(h);
    if (count > INT32_MAX / 4) throw std::bad_alloc();
    // Zero-filled, so a video without chroma shows the same colour on every run.
    pixelBuffer = new unsigned char[size_t(count) * 4]();
}

YUVSurface::~YUVSurface() {
    delete[] pixelBuffer;
}

void YUVSurface::adjustLevels(int lane, float gain, float contrast, int x0, int y0, int x1,
                              int y1) {
    // A NaN curve value (only from NaN or infinite arguments) falls to 0, as the conversion of
    // the processor would leave it.
    for (int i = 0; i < 256; ++i) {
        float e = float(i - 128) * contrast + 128.0f;
        if (!(e >= 0.0f)) e = 0.0f;
        if (e > 255.0f) e = 255.0f;
        float f = e * gain;
        if (!(f >= 0.0f)) f = 0.0f;
        if (f > 255.0f) f = 255.0f;
        levelTable[i] = static_cast<unsigned char>(int(f));
    }
    if (effectPixels(*this, lane) == 0) return;
    if (x0 < 0) x0 = 0;
    if (y0 < 0) y0 = 0;
    if (x1 > width) x1 = width;
    if (y1 > height) y1 = height;
    if (x0 >= x1 || y0 >= y1) return;
    for (int y = y0; y < y1; ++y) {
        unsigned char* p = pixelBuffer + (int64_t(y) * width + x0) * 4 + lane;
        const int count = x1 - x0;
        int x = 0;
        for (; x + 4 <= count; x += 4) {
            unsigned char a = levelTable[p[4 * x]], b = levelTable[p[4 * x + 4]];
            unsigned char c = levelTable[p[4 * x + 8]], d = levelTable[p[4 * x + 12]];
            p[4 * x] = a;
            p[4 * x + 4] = b;
            p[4 * x + 8] = c;
            p[4 * x + 12] = d;
        }
        for (; x < count; ++x) p[4 * x] = levelTable[p[4 * x]];
    }
}

void YUVSurface::adjustLevels(int lane, float gain, float contrast) {
    adjustLevels(lane, gain, contrast, 0, 0, width, height);
}

// The buffer is one run of samples: the row above and below are width samples away, and the
// left and right neighbours of a row's ends are the ends of the neighbouring rows.
void YUVSurface::sharpen(int lane, int shift) {
    const int32_t n = effectPixels(*this, lane);
    if (n == 0) return;
    copyLaneToScratch(pixelBuffer, lane, n, filterScratch);
    const signed char* s = reinterpret_cast<const signed char*>(filterScratch);
    const int32_t w = width;
    const int sh = shift & 31;
    // Only the first and last rows have neighbours outside the buffer.
    const int32_t innerBegin = w < n ? w : n;
    const int32_t innerEnd = n - w > innerBegin ? n - w : innerBegin;
    for (int32_t i = 0; i < innerBegin; ++i)
        pixelBuffer[4 * i + lane] = static_cast<unsigned char>(sharpenAt(s, n, w, i, sh));
    int32_t values[kBlock];
    int32_t i = innerBegin;
    for (; i + kBlock <= innerEnd; i += kBlock) {
        const signed char* c = s + i;
        for (int k = 0; k < kBlock; ++k) {
            int v = 16 * c[k] - 2 * (c[k - w] + c[k + w] + c[k + 1] + c[k - 1]);
            v >>= sh;
            if (v < 0) v = -v;
            values[k] = v > 255 ? 255 : v;
        }
        storeLane(pixelBuffer + 4 * i, lane, values, kBlock);
    }
    for (; i < n; ++i)
        pixelBuffer[4 * i + lane] = static_cast<unsigned char>(sharpenAt(s, n, w, i, sh));
}

// Running box blur along the whole buffer. For radius r > 0 sample i is the mean of the 2r
// samples from i - r to i + r - 1. For r < 0 the sum starts at 0 rather than at the first
// window and the scale is negative, so each sample becomes its window's excess over the first
// window: the blur darkens, and whatever is no brighter than the first window goes black.
void YUVSurface::blurRun(int lane, int radius) {
    const int32_t n = effectPixels(*this, lane);
    if (n == 0) return;
    const int64_t r = radius == 0 ? 1 : radius;
    copyLaneToScratch(pixelBuffer, lane, n, filterScratch);
    const float scale = 1.0f / float(2 * r);
    const unsigned char* s = filterScratch;
    // A window reaching past both ends of the buffer holds the same samples as one of exactly
    // the buffer's length, so the reach is capped there; every sum then stays within 32 bits.
    int32_t reach = r < 0 ? (-r < n ? int32_t(-r) : n) : (r < n ? int32_t(r) : n);
    int32_t sum = 0;
    if (r > 0)
        for (int32_t k = 0; k < reach; ++k) sum += s[k];
    // Sample i adds s[i + step] and drops s[i - step]; step has the radius's sign.
    const int32_t step = r > 0 ? reach : -reach;
    auto at = [&](int64_t k) { return k >= 0 && k < n ? int32_t(s[k]) : 0; };
    int32_t sums[kBlock];
    int32_t values[kBlock];
    for (int32_t i = 0; i < n; i += kBlock) {
        const int count = n - i < kBlock ? n - i : kBlock;
        if (count == kBlock && i >= reach && int64_t(i) + kBlock + reach <= n) {
            int32_t change[kBlock];
            const unsigned char* ahead = s + i + step;
            const unsigned char* behind = s + i - step;
            for (int k = 0; k < kBlock; ++k) change[k] = int32_t(ahead[k]) - int32_t(behind[k]);
            for (int k = 0; k < kBlock; ++k) {
                sums[k] = sum;
                sum += change[k];
            }
        } else {
            for (int k = 0; k < count; ++k) {
                sums[k] = sum;
                sum += at(int64_t(i) + k + step) - at(int64_t(i) + k - step);
            }
        }
        if (count == kBlock) {
            sumsToSamples(sums, scale, values, kBlock);
            storeLane(pixelBuffer + 4 * int64_t(i), lane, values, kBlock);
        } else {
            sumsToSamples(sums, scale, values, count);
            storeLane(pixelBuffer + 4 * int64_t(i), lane, values, count);
        }
    }
}

namespace {

// One strip of neighbouring columns of blurColumns, each column with its own running sum, all
// moved down one row at a time. kColumns fixes the strip's width at compile time (0: the narrower
// last strip, of stripColumns).
template <int kColumns>
void blurStrip(unsigned char* px, int lane, const unsigned char* s, int32_t w, int32_t h,
               int32_t x0, int stripColumns, int32_t step, int32_t reach, bool fromFirstWindow,
               float scale) {
    const int columns = kColumns > 0 ? kColumns : stripColumns;
    int32_t sums[kBlock];
    int32_t values[kBlock];
    for (int x = 0; x < columns; ++x) sums[x] = 0;
    if (fromFirstWindow)
        for (int32_t k = 0; k < reach; ++k) {
            const unsigned char* row = s + int64_t(k) * w + x0;
            for (int x = 0; x < columns; ++x) sums[x] += row[x];
        }
    for (int32_t y = 0; y < h; ++y) {
        sumsToSamples(sums, scale, values, columns);
        storeLane(px + 4 * (int64_t(y) * w + x0), lane, values, columns);
        const int64_t ya = int64_t(y) + step, ys = int64_t(y) - step;
        const unsigned char* add = ya >= 0 && ya < h ? s + ya * w + x0 : nullptr;
        const unsigned char* sub = ys >= 0 && ys < h ? s + ys * w + x0 : nullptr;
        if (add && sub) {
            for (int x = 0; x < columns; ++x) sums[x] += int32_t(add[x]) - int32_t(sub[x]);
        } else if (add) {
            for (int x = 0; x < columns; ++x) sums[x] += add[x];
        } else if (sub) {
            for (int x = 0; x < columns; ++x) sums[x] -= sub[x];
        }
    }
}

}  // namespace

// The same blur as blurRun down every column. Columns are independent, so they are processed in
// strips of neighbouring columns, which lets one row of a strip be summed at once.
void YUVSurface::blurColumns(int lane, int radius) {
    const int32_t n = effectPixels(*this, lane);
    if (n == 0) return;
    const int64_t r = radius == 0 ? 1 : radius;
    copyLaneToScratch(pixelBuffer, lane, n, filterScratch);
    const float scale = 1.0f / float(2 * r);
    const int32_t w = width, h = height;
    const int32_t reach = r < 0 ? (-r < h ? int32_t(-r) : h) : (r < h ? int32_t(r) : h);
    const int32_t step = r > 0 ? reach : -reach;
    for (int32_t x0 = 0; x0 < w; x0 += kBlock) {
        if (w - x0 >= kBlock)
            blurStrip<kBlock>(pixelBuffer, lane, filterScratch, w, h, x0, kBlock, step, reach,
                              r > 0, scale);
        else
            blurStrip<0>(pixelBuffer, lane, filterScratch, w, h, x0, w - x0, step, reach, r > 0,
                         scale);
    }
}

namespace {

#if defined(__GNUC__)
#define QM_OUT_OF_LINE __attribute__((noinline))
#else
#define QM_OUT_OF_LINE
#endif

// The noise of one call over n pixels of a lane (4 bytes apart) from state s; returns the state
// after the last pixel. Kept out of line: inlined where the amplitude is known to be positive,
// gcc widens the divisor by sign and then multiplies by its (zero) high half at every pixel, a
// tenth of the loop's time.
QM_OUT_OF_LINE uint32_t noiseRun(unsigned char* p, int32_t n, uint32_t s, uint32_t amplitude) {
    const FixedRemainder remainder(amplitude);
    for (int32_t i = 0; i < n; ++i) {
        const uint32_t c = p[4 * i];
        const uint32_t t = (((s + c) * (0u - c)) ^ c) + c;
        // In 64 bits: with a huge amplitude the remainder alone may come close to the 32-bit limit.
        const int64_t sum = remainder.addTo(c, t);
        const int32_t v = sum < 0 ? 0 : (sum > 255 ? 255 : int32_t(sum));
        p[4 * i] = static_cast<unsigned char>(v);
        s = (s + t) + uint32_t(v);
    }
    return s;
}

}  // namespace

// The noise feeds on the picture and on every earlier call: each pixel's value and the state
// give the next state. An unusable lane or surface leaves the state alone too, so that a call
// that changes no pixel does not shift the noise of every later frame.
void YUVSurface::addNoise(int lane, int amplitude) {
    const int32_t n = effectPixels(*this, lane);
    if (n == 0) return;
    noiseStateValue += kNoiseIncrement;
    noiseStateValue =
        noiseRun(pixelBuffer + lane, n, noiseStateValue, amplitude <= 0 ? 1u : uint32_t(amplitude));
}
