// The fast span loop: eight pixels at a time with AVX2, the same arithmetic as shadeSpanScalar
// step for step (float multiplies and adds kept separate, the same clamps and roundings), so
// the bytes it writes are those of the reference.
//
// Layout: eight packed pixels (0xAARRGGBB) are widened to 16 bits per channel in two registers,
// "lo" holding pixels 0, 1, 4, 5 and "hi" pixels 2, 3, 6, 7 (the order of the byte unpacks
// within each 128-bit lane); packing them back restores pixels 0..7.
#include "backend/soft/raster.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "backend/soft/bright_cells.h"
#include "backend/soft/raster_contract.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define QM_SOFT_AVX2 1
#endif

namespace soft {

namespace {

bool isPowerOfTwo(int n) {
    return n > 0 && (n & (n - 1)) == 0;
}

}  // namespace

bool avx2Handles(const PixelState& state) {
    if (state.depthTest) return false;
    for (int s = 0; s < state.stages; ++s) {
        const StageState& st = state.stage[s];
        if (!st.textured) continue;
        if (!isPowerOfTwo(st.width) || !isPowerOfTwo(st.height) || st.pitch != st.width) {
            return false;
        }
        if (static_cast<int64_t>(st.width) * st.height > (int64_t{1} << 30)) return false;
    }
    return true;
}

#ifdef QM_SOFT_AVX2

namespace {

#define QM_AVX2 __attribute__((target("avx2")))
// The per-block helpers are forced inline: a call per eight pixels would pass every vector
// through the stack.
#define QM_AVX2_INLINE __attribute__((target("avx2"), always_inline)) inline

struct Wide {
    __m256i lo;
    __m256i hi;
};

QM_AVX2_INLINE Wide widen(__m256i packed) {
    const __m256i zero = _mm256_setzero_si256();
    return Wide{_mm256_unpacklo_epi8(packed, zero), _mm256_unpackhi_epi8(packed, zero)};
}

QM_AVX2_INLINE __m256i narrow(const Wide& w) {
    return _mm256_packus_epi16(w.lo, w.hi);
}

// A per-pixel value (0..255, one per 32-bit lane) spread over the four 16-bit channels of
// its pixel in the lo and hi layout.
QM_AVX2_INLINE Wide spread(__m256i perPixel) {
    const __m256i lo = _mm256_setr_epi8(0, -1, 0, -1, 0, -1, 0, -1, 4, -1, 4, -1, 4, -1, 4, -1, 0,
                                        -1, 0, -1, 0, -1, 0, -1, 4, -1, 4, -1, 4, -1, 4, -1);
    const __m256i hi = _mm256_setr_epi8(8, -1, 8, -1, 8, -1, 8, -1, 12, -1, 12, -1, 12, -1, 12, -1,
                                        8, -1, 8, -1, 8, -1, 8, -1, 12, -1, 12, -1, 12, -1, 12, -1);
    return Wide{_mm256_shuffle_epi8(perPixel, lo), _mm256_shuffle_epi8(perPixel, hi)};
}

// Copies each pixel's alpha word over its four channels.
QM_AVX2_INLINE __m256i alphaOf(__m256i w) {
    const __m256i pattern =
        _mm256_setr_epi8(6, 7, 6, 7, 6, 7, 6, 7, 14, 15, 14, 15, 14, 15, 14, 15, 6, 7, 6, 7, 6, 7,
                         6, 7, 14, 15, 14, 15, 14, 15, 14, 15);
    return _mm256_shuffle_epi8(w, pattern);
}

// div255(min(x, 65025)) on unsigned 16-bit words. With t = x + 128, (t + (t >> 8)) >> 8 is
// (t·257) >> 16 for any t below 2^16: one high multiply in place of two shifts and an add.
QM_AVX2_INLINE __m256i div255(__m256i x) {
    x = _mm256_min_epu16(x, _mm256_set1_epi16(static_cast<short>(65025)));
    x = _mm256_add_epi16(x, _mm256_set1_epi16(128));
    return _mm256_mulhi_epu16(x, _mm256_set1_epi16(257));
}

// div255(scale·a·b) in 16-bit words. A product past 65025 / scale saturates once scaled anyway,
// so clamping it there first keeps the scaled value within 16 bits.
QM_AVX2_INLINE __m256i modulate(uint32_t scale, __m256i a, __m256i b) {
    __m256i p = _mm256_mullo_epi16(a, b);
    if (scale == 2) {
        p = _mm256_min_epu16(p, _mm256_set1_epi16(static_cast<short>(65025 / 2 + 1)));
        p = _mm256_slli_epi16(p, 1);
    } else if (scale == 4) {
        p = _mm256_min_epu16(p, _mm256_set1_epi16(static_cast<short>(65025 / 4 + 1)));
        p = _mm256_slli_epi16(p, 2);
    }
    return div255(p);
}

// The stage operation of the scalar applyOp on sixteen channels.
QM_AVX2_INLINE __m256i applyOp(Op op, __m256i a, __m256i b) {
    const uint32_t scale = modulateScale(op);
    if (scale != 0) return modulate(scale, a, b);
    if (op == kOpAdd) return _mm256_min_epu16(_mm256_adds_epu16(a, b), _mm256_set1_epi16(255));
    return op == kOpSelect1 ? a : b;
}

struct Inputs {
    const Wide* diffuse;
    const Wide* current;
    const Wide* texel;
    const Wide* factor;
};

QM_AVX2_INLINE const Wide& argOf(Arg arg, const Inputs& in) {
    switch (arg) {
        case kArgDiffuse:
            return *in.diffuse;
        case kArgCurrent:
            return *in.current;
        case kArgTexture:
            return *in.texel;
        default:
            return *in.factor;
    }
}

QM_AVX2_INLINE __m256i blendFactor(Blend f, __m256i src, __m256i dst) {
    const __m256i full = _mm256_set1_epi16(255);
    switch (f) {
        case kBlendZero:
            return _mm256_setzero_si256();
        case kBlendOne:
            return full;
        case kBlendSrcColor:
            return src;
        case kBlendInvSrcColor:
            return _mm256_sub_epi16(full, src);
        case kBlendSrcAlpha:
            return alphaOf(src);
        case kBlendInvSrcAlpha:
            return _mm256_sub_epi16(full, alphaOf(src));
        case kBlendDestAlpha:
            return alphaOf(dst);
        case kBlendInvDestAlpha:
            return _mm256_sub_epi16(full, alphaOf(dst));
        case kBlendDestColor:
            return dst;
        default:
            return _mm256_sub_epi16(full, dst);
    }
}

QM_AVX2_INLINE __m256 planeAtPs(const Plane& p, __m256 x, float rowValue) {
    return _mm256_add_ps(_mm256_mul_ps(_mm256_set1_ps(p.ax), x), _mm256_set1_ps(rowValue));
}

// roundChannel on eight lanes.
QM_AVX2_INLINE __m256i roundChannels(__m256 v) {
    v = _mm256_max_ps(v, _mm256_setzero_ps());
    v = _mm256_min_ps(v, _mm256_set1_ps(255.0f));
    v = _mm256_floor_ps(_mm256_add_ps(v, _mm256_set1_ps(0.5f)));
    return _mm256_cvttps_epi32(v);
}

// fixedCoordinate on eight lanes.
QM_AVX2_INLINE __m256i fixedCoordinates(__m256 t, float scaled, float offset) {
    __m256 s = _mm256_mul_ps(t, _mm256_set1_ps(scaled));
    s = _mm256_sub_ps(s, _mm256_set1_ps(offset));
    s = _mm256_max_ps(s, _mm256_set1_ps(-kCoordinateLimit));
    s = _mm256_min_ps(s, _mm256_set1_ps(kCoordinateLimit));
    return _mm256_cvttps_epi32(_mm256_floor_ps(s));
}

QM_AVX2_INLINE __m256i address(__m256i i, int size, Address mode) {
    if (mode == kClamp) {
        return _mm256_min_epi32(_mm256_max_epi32(i, _mm256_setzero_si256()),
                                _mm256_set1_epi32(size - 1));
    }
    return _mm256_and_si256(i, _mm256_set1_epi32(size - 1));
}

// Blends a and b across with per-channel weights w (b's share) and 256 - w, given as w << 7.
// (a·(256 − w) + b·w + 128) >> 8 is a + ((b − a)·w + 128) >> 8, which is what the rounding high
// multiply gives for (b − a)·(w << 7): the difference and the weight fit signed 16-bit words.
QM_AVX2_INLINE __m256i lerp(__m256i a, __m256i b, __m256i w7) {
    return _mm256_add_epi16(a, _mm256_mulhrs_epi16(_mm256_sub_epi16(b, a), w7));
}

// Bilinear weights (0..255, one per pixel) as lerp takes them.
QM_AVX2_INLINE Wide weights(__m256i perPixel) {
    Wide w = spread(perPixel);
    return Wide{_mm256_slli_epi16(w.lo, 7), _mm256_slli_epi16(w.hi, 7)};
}

struct StageSampler {
    const int* texels;
    int width;
    int height;
    int rowShift;
    float scaledU;
    float scaledV;
    Address addressU;
    Address addressV;
    bool opaque;
    bool linear;
    const uint8_t* footprintMax;  // null when not built for this draw
    const GridBox* brightBoxes;   // with footprintMax
};

QM_AVX2_INLINE Wide finish(const StageSampler& s, Wide out) {
    if (s.opaque) {
        const __m256i alpha =
            _mm256_setr_epi16(0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255);
        out.lo = _mm256_or_si256(out.lo, alpha);
        out.hi = _mm256_or_si256(out.hi, alpha);
    }
    return out;
}

// Eight texels of texture row m + r (addressed) from `column` on.
QM_AVX2_INLINE __m256i windowRow(const StageSampler& s, int m, int column, int r) {
    const int* p =
        s.texels +
        (static_cast<std::ptrdiff_t>(addressTexel(m + r, s.height, s.addressV)) << s.rowShift) +
        column;
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// A window of eight texel columns for eight pixels: false when their texel indices `ix` (with
// the right-hand neighbours) do not fit in 8 columns that do not wrap. Else `column` is the
// window's first column in the texture and `c0` each lane's place in it.
QM_AVX2_INLINE bool windowColumns(const StageSampler& s, __m256i ix, int* column, __m256i* c0) {
    // Texel indices grow (or shrink) steadily along a span, so the ends are the extremes.
    int ixFirst = _mm256_cvtsi256_si32(ix), ixLast = _mm256_extract_epi32(ix, 7);
    int64_t spanX = static_cast<int64_t>(ixFirst) - ixLast;
    if (spanX < -6 || spanX > 6) return false;
    int k = ixFirst < ixLast ? ixFirst : ixLast;
    if (s.addressU == kClamp) {
        if (k < 0 || k > s.width - 8) return false;
        *column = k;
    } else {
        *column = k & (s.width - 1);
        if (*column > s.width - 8) return false;
    }
    *c0 = _mm256_sub_epi32(ix, _mm256_set1_epi32(k));
    return true;
}

// Magnified textures: when the eight pixels' texels lie within 8 columns that do not wrap and
// within seven neighbouring rows (rotated imprints step across rows along a span), one row load
// and two lane permutes per row replace the four gathers: each lane keeps the row its texel
// lies in by a blend per row passed. The texels chosen are the ones the gathers would fetch.
QM_AVX2_INLINE bool windowFetch(const StageSampler& s, __m256i ix, __m256i iy, Wide* t00, Wide* t10,
                                Wide* t01, Wide* t11) {
    int iyFirst = _mm256_cvtsi256_si32(iy), iyLast = _mm256_extract_epi32(iy, 7);
    int64_t spanY = static_cast<int64_t>(iyFirst) - iyLast;
    if (spanY < -6 || spanY > 6) return false;
    int m = iyFirst < iyLast ? iyFirst : iyLast;
    int column;
    __m256i c0;
    if (!windowColumns(s, ix, &column, &c0)) return false;
    const __m256i c1 = _mm256_add_epi32(c0, _mm256_set1_epi32(1));
    // Row r of the window holds the top texels of the lanes at m + r and the bottom texels of
    // the lanes at m + r - 1.
    const __m256i row0 = windowRow(s, m, column, 0);
    __m256i topLeft = _mm256_permutevar8x32_epi32(row0, c0);
    __m256i topRight = _mm256_permutevar8x32_epi32(row0, c1);
    const __m256i row1 = windowRow(s, m, column, 1);
    __m256i nextLeft = _mm256_permutevar8x32_epi32(row1, c0);
    __m256i nextRight = _mm256_permutevar8x32_epi32(row1, c1);
    __m256i bottomLeft = nextLeft, bottomRight = nextRight;
    const int rows = static_cast<int>(spanY < 0 ? -spanY : spanY);
    for (int r = 1; r <= rows; ++r) {
        const __m256i lower = _mm256_cmpgt_epi32(iy, _mm256_set1_epi32(m + r - 1));
        topLeft = _mm256_blendv_epi8(topLeft, nextLeft, lower);
        topRight = _mm256_blendv_epi8(topRight, nextRight, lower);
        const __m256i row = windowRow(s, m, column, r + 1);
        nextLeft = _mm256_permutevar8x32_epi32(row, c0);
        nextRight = _mm256_permutevar8x32_epi32(row, c1);
        bottomLeft = _mm256_blendv_epi8(bottomLeft, nextLeft, lower);
        bottomRight = _mm256_blendv_epi8(bottomRight, nextRight, lower);
    }
    *t00 = widen(topLeft);
    *t10 = widen(topRight);
    *t01 = widen(bottomLeft);
    *t11 = widen(bottomRight);
    return true;
}

// The bilinear blend of four texels per pixel: across each row, then down.
QM_AVX2_INLINE Wide blendTexels(const StageSampler& s, const Wide& t00, const Wide& t10,
                                const Wide& t01, const Wide& t11, const Wide& fx, const Wide& fy) {
    __m256i topLo = lerp(t00.lo, t10.lo, fx.lo), topHi = lerp(t00.hi, t10.hi, fx.hi);
    __m256i botLo = lerp(t01.lo, t11.lo, fx.lo), botHi = lerp(t01.hi, t11.hi, fx.hi);
    return finish(s, Wide{lerp(topLo, botLo, fy.lo), lerp(topHi, botHi, fy.hi)});
}

// Bilinear filtering at the fixed-point coordinates fixedCoordinates gives with the bilinear
// offset.
QM_AVX2_INLINE Wide sampleBilinear(const StageSampler& s, __m256i su, __m256i sv) {
    const __m128i shift = _mm_cvtsi32_si128(s.rowShift);
    const __m256i mask = _mm256_set1_epi32(kTexelFractionMask);
    Wide fx = weights(_mm256_and_si256(su, mask));
    Wide fy = weights(_mm256_and_si256(sv, mask));
    __m256i ix = _mm256_srai_epi32(su, kTexelFractionBits);
    __m256i iy = _mm256_srai_epi32(sv, kTexelFractionBits);
    const __m256i one = _mm256_set1_epi32(1);
    Wide t00, t10, t01, t11;
    if (!windowFetch(s, ix, iy, &t00, &t10, &t01, &t11)) {
        __m256i x0 = address(ix, s.width, s.addressU);
        __m256i x1 = address(_mm256_add_epi32(ix, one), s.width, s.addressU);
        __m256i row0 = _mm256_sll_epi32(address(iy, s.height, s.addressV), shift);
        __m256i row1 =
            _mm256_sll_epi32(address(_mm256_add_epi32(iy, one), s.height, s.addressV), shift);
        t00 = widen(_mm256_i32gather_epi32(s.texels, _mm256_add_epi32(row0, x0), 4));
        t10 = widen(_mm256_i32gather_epi32(s.texels, _mm256_add_epi32(row0, x1), 4));
        t01 = widen(_mm256_i32gather_epi32(s.texels, _mm256_add_epi32(row1, x0), 4));
        t11 = widen(_mm256_i32gather_epi32(s.texels, _mm256_add_epi32(row1, x1), 4));
    }
    return blendTexels(s, t00, t10, t01, t11, fx, fy);
}

// The two texture rows of a span whose texel row does not change along it (the texture is not
// turned against the screen): their addresses and the weight between them are settled once.
struct FixedRows {
    const int* top;
    const int* bottom;
    __m256i fy;  // the weight as lerp takes it, in every word
};

QM_AVX2_INLINE FixedRows fixedRows(const StageSampler& s, int32_t sv) {
    const int iy = sv >> kTexelFractionBits;
    const int y0 = addressTexel(iy, s.height, s.addressV);
    const int y1 = addressTexel(iy + 1, s.height, s.addressV);
    return FixedRows{s.texels + (static_cast<std::ptrdiff_t>(y0) << s.rowShift),
                     s.texels + (static_cast<std::ptrdiff_t>(y1) << s.rowShift),
                     _mm256_set1_epi16(static_cast<short>((sv & kTexelFractionMask) << 7))};
}

// sampleBilinear on a span of fixed rows: the same texels and weights, without the per-block
// work of the rows.
QM_AVX2_INLINE Wide sampleFixedRows(const StageSampler& s, const FixedRows& rows, __m256i su) {
    Wide fx = weights(_mm256_and_si256(su, _mm256_set1_epi32(kTexelFractionMask)));
    __m256i ix = _mm256_srai_epi32(su, kTexelFractionBits);
    Wide t00, t10, t01, t11;
    int column;
    __m256i c0;
    if (windowColumns(s, ix, &column, &c0)) {
        const __m256i c1 = _mm256_add_epi32(c0, _mm256_set1_epi32(1));
        const __m256i top = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows.top + column));
        const __m256i bottom =
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows.bottom + column));
        t00 = widen(_mm256_permutevar8x32_epi32(top, c0));
        t10 = widen(_mm256_permutevar8x32_epi32(top, c1));
        t01 = widen(_mm256_permutevar8x32_epi32(bottom, c0));
        t11 = widen(_mm256_permutevar8x32_epi32(bottom, c1));
    } else {
        __m256i x0 = address(ix, s.width, s.addressU);
        __m256i x1 = address(_mm256_add_epi32(ix, _mm256_set1_epi32(1)), s.width, s.addressU);
        t00 = widen(_mm256_i32gather_epi32(rows.top, x0, 4));
        t10 = widen(_mm256_i32gather_epi32(rows.top, x1, 4));
        t01 = widen(_mm256_i32gather_epi32(rows.bottom, x0, 4));
        t11 = widen(_mm256_i32gather_epi32(rows.bottom, x1, 4));
    }
    return blendTexels(s, t00, t10, t01, t11, fx, Wide{rows.fy, rows.fy});
}

QM_AVX2_INLINE Wide sample(const StageSampler& s, __m256 u, __m256 v) {
    if (s.linear) {
        return sampleBilinear(s, fixedCoordinates(u, s.scaledU, kBilinearOffset),
                              fixedCoordinates(v, s.scaledV, kBilinearOffset));
    }
    const __m128i shift = _mm_cvtsi32_si128(s.rowShift);
    __m256i su = fixedCoordinates(u, s.scaledU, 0.0f);
    __m256i sv = fixedCoordinates(v, s.scaledV, 0.0f);
    __m256i x = address(_mm256_srai_epi32(su, kTexelFractionBits), s.width, s.addressU);
    __m256i y = address(_mm256_srai_epi32(sv, kTexelFractionBits), s.height, s.addressV);
    __m256i index = _mm256_add_epi32(_mm256_sll_epi32(y, shift), x);
    return finish(s, widen(_mm256_i32gather_epi32(s.texels, index, 4)));
}

QM_AVX2_INLINE __m256i combine(const StageState& st, const Inputs& in, bool lo) {
    const Wide& c1 = argOf(st.colourArg1, in);
    const Wide& c2 = argOf(st.colourArg2, in);
    __m256i colour = applyOp(st.colourOp, lo ? c1.lo : c1.hi, lo ? c2.lo : c2.hi);
    if (st.alphaOp == st.colourOp && st.alphaArg1 == st.colourArg1 &&
        st.alphaArg2 == st.colourArg2) {
        return colour;
    }
    const Wide& a1 = argOf(st.alphaArg1, in);
    const Wide& a2 = argOf(st.alphaArg2, in);
    __m256i alpha = applyOp(st.alphaOp, lo ? a1.lo : a1.hi, lo ? a2.lo : a2.hi);
    return _mm256_blend_epi16(colour, alpha, 0x88);
}

QM_AVX2_INLINE __m256i blendWords(const PixelState& state, __m256i src, __m256i dst) {
    __m256i fs = blendFactor(state.srcBlend, src, dst);
    __m256i fd = blendFactor(state.destBlend, src, dst);
    return div255(_mm256_adds_epu16(_mm256_mullo_epi16(src, fs), _mm256_mullo_epi16(dst, fd)));
}

// Masked moves only for the last, partial block of a span: they cost far more than plain ones.
QM_AVX2_INLINE __m256i loadPixels(const uint32_t* at, __m256i keep, int remaining) {
    if (remaining >= 8) return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
    return _mm256_maskload_epi32(reinterpret_cast<const int*>(at), keep);
}

QM_AVX2_INLINE void storePixels(uint32_t* at, __m256i keep, int remaining, __m256i pixels) {
    if (remaining >= 8) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(at), pixels);
    } else {
        _mm256_maskstore_epi32(reinterpret_cast<int*>(at), keep, pixels);
    }
}

enum class BlendKind { kOff, kAdd, kSrcColour, kSrcAlpha, kOther };

QM_AVX2_INLINE Wide gouraud(const Triangle& tri, __m256 fx, const float* rowValue) {
    __m256i r = roundChannels(planeAtPs(tri.plane[kAttrRed], fx, rowValue[kAttrRed]));
    __m256i g = roundChannels(planeAtPs(tri.plane[kAttrGreen], fx, rowValue[kAttrGreen]));
    __m256i b = roundChannels(planeAtPs(tri.plane[kAttrBlue], fx, rowValue[kAttrBlue]));
    __m256i a = roundChannels(planeAtPs(tri.plane[kAttrAlpha], fx, rowValue[kAttrAlpha]));
    __m256i packed =
        _mm256_or_si256(_mm256_or_si256(b, _mm256_slli_epi32(g, 8)),
                        _mm256_or_si256(_mm256_slli_epi32(r, 16), _mm256_slli_epi32(a, 24)));
    return widen(packed);
}

// The lanes whose bilinear footprints read no colour channel above `limit`. Filtering never
// exceeds the largest texel it blends, so the filtered colour is then at most `limit` too.
QM_AVX2_INLINE __m256i darkLanes(const StageSampler& s, __m256i su, __m256i sv, int limit) {
    const __m128i shift = _mm_cvtsi32_si128(s.rowShift);
    const __m256i x = address(_mm256_srai_epi32(su, kTexelFractionBits), s.width, s.addressU);
    const __m256i y = address(_mm256_srai_epi32(sv, kTexelFractionBits), s.height, s.addressV);
    const __m256i index = _mm256_add_epi32(_mm256_sll_epi32(y, shift), x);
    // Four bytes from each lane's texel on; the first is its own.
    const __m256i most = _mm256_and_si256(
        _mm256_i32gather_epi32(reinterpret_cast<const int*>(s.footprintMax), index, 1),
        _mm256_set1_epi32(0xFF));
    return _mm256_cmpgt_epi32(_mm256_set1_epi32(limit + 1), most);
}

// The columns [from, to] of one texture axis along a span: where the texel index, with its
// bilinear neighbour, can reach the texels [first, last]. `scale` and `start` give the fixed
// coordinate at column x as scale·x + start, computed here in double: the float steps of the
// pixel loop stay within a small fraction of a texel of it, which the margin covers.
// False when the axis cannot narrow the span.
bool reachingColumns(double scale, double start, int first, int last, int size, Address mode,
                     const Span& span, double* from, double* to) {
    constexpr double kMargin = 2.0;   // texels
    constexpr double kLargest = 1e7;  // fixed-point values beyond this are not narrowed
    const double atFirst = scale * span.x0 + start, atLast = scale * span.x1 + start;
    if (!(std::fabs(start) < kLargest && std::fabs(scale * span.x0) < kLargest &&
          std::fabs(scale * span.x1) < kLargest)) {
        return false;
    }
    // In texels: the run of indices [lo, hi] (as reals) that reach the texels.
    double lo = first - 1 - kMargin, hi = last + kMargin;
    if (mode == kClamp) {
        // Indices before the texture read its first texel, those after it its last.
        if (first == 0) lo = -kLargest;
        if (last == size - 1) hi = kLargest;
    } else {
        // Wrapped, the texture repeats: only a span that stays within one copy is narrowed.
        const double least = std::min(atFirst, atLast) / 256.0;
        const double most = std::max(atFirst, atLast) / 256.0;
        if (least < kMargin || most > size - 1 - kMargin) return false;
    }
    if (scale == 0) {
        const double at = atFirst / 256.0;
        *from = at >= lo && at <= hi ? span.x0 : span.x1 + 1;
        *to = span.x1;
        return true;
    }
    double a = (lo * 256.0 - start) / scale, b = (hi * 256.0 - start) / scale;
    if (a > b) std::swap(a, b);
    *from = a - 1;
    *to = b + 1;
    return true;
}

// The columns of a span that may add colour under an additive layer whose modulation turns
// texel channels up to `limit` into 0 (stage 0, bilinear): outside [*from, *to] every pixel's
// footprint lies in tiles no brighter than that. The whole span when nothing narrows it.
void brightColumns(const StageSampler& s, const Plane& pu, const Plane& pv, const float* rowValue,
                   const Span& span, int limit, int* from, int* to) {
    *from = span.x0;
    *to = span.x1;
    if (s.brightBoxes == nullptr) return;
    const GridBox& box = s.brightBoxes[limit];
    if (box.x0 > box.x1) {
        *from = span.x1 + 1;
        *to = span.x0 - 1;
        return;
    }
    double u0, u1, v0, v1;
    const int lastColumn = std::min((box.x1 + 1) * kTileTexels, s.width) - 1;
    const int lastRow = std::min((box.y1 + 1) * kTileTexels, s.height) - 1;
    if (!reachingColumns(double(pu.ax) * s.scaledU, double(rowValue[kAttrU0]) * s.scaledU - 128.0,
                         box.x0 * kTileTexels, lastColumn, s.width, s.addressU, span, &u0, &u1) ||
        !reachingColumns(double(pv.ax) * s.scaledV, double(rowValue[kAttrV0]) * s.scaledV - 128.0,
                         box.y0 * kTileTexels, lastRow, s.height, s.addressV, span, &v0, &v1)) {
        return;
    }
    const double lo = std::max({u0, v0, double(span.x0)});
    const double hi = std::min({u1, v1, double(span.x1)});
    if (lo > hi) {
        *from = span.x1 + 1;
        *to = span.x0 - 1;
        return;
    }
    *from = static_cast<int>(std::floor(lo));
    *to = static_cast<int>(std::ceil(hi));
}

// Classifies the columns from x on, up to `last`, by the span's bright cells. When x is dark,
// *darkUntil becomes the last column before a bright one; otherwise *brightUntil becomes the
// last of the bright columns that follow on from x.
QM_AVX2_INLINE void classify(const uint64_t* cells, int x, int last, int* darkUntil,
                             int* brightUntil) {
    const bool bright = (cells[x >> 6] >> (x & 63)) & 1;
    *(bright ? brightUntil : darkUntil) = nextColumn(cells, x, last, !bright) - 1;
}

// Whether all the pixels of `pixels` are white, and whether all their alphas are full.
QM_AVX2_INLINE bool allWhite(__m256i pixels) {
    return _mm256_movemask_epi8(_mm256_cmpeq_epi32(pixels, _mm256_set1_epi32(-1))) == -1;
}

QM_AVX2_INLINE bool alphaFull(__m256i pixels) {
    return allWhite(_mm256_or_si256(pixels, _mm256_set1_epi32(0x00FFFFFF)));
}

// Whether the pixels [first, last] of a row all have full alpha.
QM_AVX2_INLINE bool fullAlphas(const uint32_t* row, int first, int last) {
    // Four blocks at a time into separate ANDs, which then do not wait for one another.
    __m256i all = _mm256_set1_epi32(-1);
    int x = first;
    if (last - first >= 31) {
        __m256i a = all, b = all, c = all, d = all;
        for (; x + 31 <= last; x += 32) {
            const __m256i* at = reinterpret_cast<const __m256i*>(row + x);
            a = _mm256_and_si256(a, _mm256_loadu_si256(at));
            b = _mm256_and_si256(b, _mm256_loadu_si256(at + 1));
            c = _mm256_and_si256(c, _mm256_loadu_si256(at + 2));
            d = _mm256_and_si256(d, _mm256_loadu_si256(at + 3));
        }
        all = _mm256_and_si256(_mm256_and_si256(a, b), _mm256_and_si256(c, d));
    }
    for (; x + 7 <= last; x += 8) {
        all = _mm256_and_si256(all, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + x)));
    }
    if (x <= last) {
        const __m256i iota = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
        const __m256i keep = _mm256_cmpgt_epi32(_mm256_set1_epi32(last - x + 1), iota);
        all = _mm256_and_si256(all, _mm256_or_si256(loadPixels(row + x, keep, last - x + 1),
                                                    _mm256_xor_si256(keep, _mm256_set1_epi32(-1))));
    }
    return alphaFull(all);
}

// Stores a block of pixels `dst` with their alphas made full.
QM_AVX2_INLINE void storeFullAlpha(uint32_t* out, __m256i keep, int remaining, __m256i dst) {
    storePixels(out, keep, remaining,
                _mm256_or_si256(dst, _mm256_set1_epi32(static_cast<int>(0xFF000000u))));
}

// Sets the alpha of the pixels [first, last] of a row to full.
QM_AVX2_INLINE void fillAlphas(uint32_t* row, int first, int last) {
    const __m256i alpha = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
    int x = first;
    for (; x + 7 <= last; x += 8) {
        __m256i* at = reinterpret_cast<__m256i*>(row + x);
        _mm256_storeu_si256(at, _mm256_or_si256(_mm256_loadu_si256(at), alpha));
    }
    for (; x <= last; ++x) row[x] |= 0xFF000000u;
}

// The layers the show draws: one stage modulating a bilinear texture with the diffuse colour,
// alpha from the texture, under one of its blend modes. The same steps as the general loop,
// with the choices made at compile time.
// `darkLimit` (additive layers with tile maxima, else -1): the largest texel channel that the
// modulation with the diffuse colour turns into 0.
template <Op op, BlendKind blend>
QM_AVX2 void shadeModulated(const PixelState& state, const Triangle& tri, const Span& span,
                            uint32_t* row, const StageSampler& sampler, const float* rowValue,
                            const Wide& flat, int darkLimit, int brightFrom, int brightTo,
                            const uint64_t* cells) {
    const __m256i iota = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    const Plane& pu = tri.plane[kAttrU0];
    const Plane& pv = tri.plane[kAttrV0];
    // Additive layers first try whole runs of kRun pixels, up to `tested` (exclusive).
    constexpr int kRun = 32;
    int tested = span.x0;
    // From the bright cells: the columns up to `darkUntil` add nothing but alpha; those up to
    // `brightUntil` may add colour. `alphas` says whether all the span's alphas are full: 1 or
    // 0 once looked at, -1 before.
    int darkUntil = span.x0 - 1, brightUntil = span.x0 - 1;
    int alphas = -1;
    // With v constant along the row (its plane's ax is zero, so every pixel computes v as the
    // row's part alone) every pixel reads the same two texture rows.
    const bool rowsFixed = pv.ax == 0;
    FixedRows rows{};
    if (rowsFixed) {
        rows = fixedRows(
            sampler, fixedCoordinate(planeAt(pv, static_cast<float>(span.x0), rowValue[kAttrV0]),
                                     sampler.scaledV, kBilinearOffset));
    }
    for (int x = span.x0; x <= span.x1; x += 8) {
        int remaining = span.x1 - x + 1;
        if (blend == BlendKind::kAdd && cells != nullptr) {
            if (x > darkUntil && x > brightUntil) {
                classify(cells, x, span.x1, &darkUntil, &brightUntil);
            }
            if (std::min(x + 7, span.x1) <= darkUntil) {
                // Adding black changes only alpha, and not where alpha is already full (adding
                // never lowers it): one look at the span's alphas settles every dark stretch.
                if (alphas < 0) alphas = span.alphaFull || fullAlphas(row, span.x0, span.x1);
                // A texture without alpha adds full alpha, and here no colour.
                if (alphas == 0 && sampler.opaque) fillAlphas(row, x, darkUntil);
                if (alphas == 1 || sampler.opaque) {
                    if (darkUntil >= span.x1) break;
                    x = darkUntil + 1 - 8;
                    continue;
                }
                __m256i keep = _mm256_cmpgt_epi32(_mm256_set1_epi32(remaining), iota);
                __m256i dst = loadPixels(row + x, keep, remaining);
                if (alphaFull(
                        _mm256_or_si256(dst, _mm256_xor_si256(keep, _mm256_set1_epi32(-1))))) {
                    continue;
                }
            }
        }
        if (blend == BlendKind::kAdd && x >= tested && remaining >= kRun) {
            tested = x + kRun;
            const __m256i* at = reinterpret_cast<const __m256i*>(row + x);
            __m256i all = _mm256_and_si256(
                _mm256_and_si256(_mm256_loadu_si256(at), _mm256_loadu_si256(at + 1)),
                _mm256_and_si256(_mm256_loadu_si256(at + 2), _mm256_loadu_si256(at + 3)));
            if (allWhite(all)) {
                x += kRun - 8;
                continue;
            }
        }
        __m256 fx = _mm256_cvtepi32_ps(_mm256_add_epi32(_mm256_set1_epi32(x), iota));
        __m256i keep = _mm256_cmpgt_epi32(_mm256_set1_epi32(remaining), iota);
        uint32_t* out = row + x;
        __m256i dst = _mm256_setzero_si256();
        // The texel coordinates, once computed for the test of dark footprints (set to zero only
        // so that no compiler sees a path that reads them unset).
        __m256i su = _mm256_setzero_si256(), sv = su;
        bool coordinates = false;
        if (blend != BlendKind::kOff) {
            dst = loadPixels(out, keep, remaining);
            if (blend == BlendKind::kAdd) {
                // Adding to white leaves white: where many layers pile up, most of the
                // picture is done long before the last of them.
                __m256i done = _mm256_or_si256(_mm256_cmpeq_epi32(dst, _mm256_set1_epi32(-1)),
                                               _mm256_xor_si256(keep, _mm256_set1_epi32(-1)));
                if (_mm256_movemask_epi8(done) == -1) continue;
                // Adding black changes only alpha, and not where alpha is already full: the
                // block stays as it is when each pixel is white or reads only dark texels. A
                // texture without alpha makes the alpha full, whatever it was.
                const bool full =
                    alphaFull(_mm256_or_si256(dst, _mm256_xor_si256(keep, _mm256_set1_epi32(-1))));
                if (darkLimit >= 0 && (full || sampler.opaque)) {
                    const bool outside = x + 7 < brightFrom || x > brightTo;
                    if (!outside) {
                        su = fixedCoordinates(planeAtPs(pu, fx, rowValue[kAttrU0]), sampler.scaledU,
                                              kBilinearOffset);
                        sv = fixedCoordinates(planeAtPs(pv, fx, rowValue[kAttrV0]), sampler.scaledV,
                                              kBilinearOffset);
                        coordinates = true;
                        done = _mm256_or_si256(done, darkLanes(sampler, su, sv, darkLimit));
                    }
                    if (outside || _mm256_movemask_epi8(done) == -1) {
                        if (!full) storeFullAlpha(out, keep, remaining, dst);
                        continue;
                    }
                }
            } else if (blend == BlendKind::kSrcColour && darkLimit >= 0) {
                // A source colour of 0 keeps the colour (its inverse is a factor of one) and,
                // from the texture's alpha of 255, makes the alpha full.
                su = fixedCoordinates(planeAtPs(pu, fx, rowValue[kAttrU0]), sampler.scaledU,
                                      kBilinearOffset);
                sv = fixedCoordinates(planeAtPs(pv, fx, rowValue[kAttrV0]), sampler.scaledV,
                                      kBilinearOffset);
                coordinates = true;
                const __m256i dark = _mm256_or_si256(darkLanes(sampler, su, sv, darkLimit),
                                                     _mm256_xor_si256(keep, _mm256_set1_epi32(-1)));
                if (_mm256_movemask_epi8(dark) == -1) {
                    if (!alphaFull(
                            _mm256_or_si256(dst, _mm256_xor_si256(keep, _mm256_set1_epi32(-1))))) {
                        storeFullAlpha(out, keep, remaining, dst);
                    }
                    continue;
                }
            }
        }
        Wide diffuse = tri.flatColour ? flat : gouraud(tri, fx, rowValue);
        if (!coordinates) {
            su = fixedCoordinates(planeAtPs(pu, fx, rowValue[kAttrU0]), sampler.scaledU,
                                  kBilinearOffset);
        }
        // Modulated layers always filter bilinearly.
        Wide texel;
        if (rowsFixed) {
            texel = sampleFixedRows(sampler, rows, su);
        } else {
            if (!coordinates) {
                sv = fixedCoordinates(planeAtPs(pv, fx, rowValue[kAttrV0]), sampler.scaledV,
                                      kBilinearOffset);
            }
            texel = sampleBilinear(sampler, su, sv);
        }
        Wide src{_mm256_blend_epi16(applyOp(op, texel.lo, diffuse.lo), texel.lo, 0x88),
                 _mm256_blend_epi16(applyOp(op, texel.hi, diffuse.hi), texel.hi, 0x88)};
        __m256i result;
        if (blend == BlendKind::kOff) {
            result = narrow(src);
        } else {
            if (blend == BlendKind::kAdd) {
                result = _mm256_adds_epu8(narrow(src), dst);
            } else {
                Wide d = widen(dst);
                const __m256i full = _mm256_set1_epi16(255);
                Wide fs = src;
                if (blend == BlendKind::kSrcAlpha) fs = Wide{alphaOf(src.lo), alphaOf(src.hi)};
                if (blend == BlendKind::kOther) {
                    result = narrow(
                        Wide{blendWords(state, src.lo, d.lo), blendWords(state, src.hi, d.hi)});
                } else {
                    __m256i lo = div255(
                        _mm256_adds_epu16(_mm256_mullo_epi16(src.lo, fs.lo),
                                          _mm256_mullo_epi16(d.lo, _mm256_sub_epi16(full, fs.lo))));
                    __m256i hi = div255(
                        _mm256_adds_epu16(_mm256_mullo_epi16(src.hi, fs.hi),
                                          _mm256_mullo_epi16(d.hi, _mm256_sub_epi16(full, fs.hi))));
                    result = narrow(Wide{lo, hi});
                }
            }
        }
        storePixels(out, keep, remaining, result);
    }
}

// The darkLimitFor of a span: the largest texel channel that its diffuse colour (`flatPacked`
// when flat) modulated by `op` turns into 0 on every pixel.
QM_AVX2_INLINE int spanDarkLimit(Op op, const Triangle& tri, const Span& span,
                                 const float* rowValue, uint32_t flatPacked) {
    uint32_t most =
        std::max(std::max(flatPacked & 0xFF, (flatPacked >> 8) & 0xFF), (flatPacked >> 16) & 0xFF);
    if (!tri.flatColour) {
        // Each channel moves steadily along the row, so its ends bound it.
        most = 0;
        const float x0 = static_cast<float>(span.x0), x1 = static_cast<float>(span.x1);
        for (int k = kAttrRed; k <= kAttrBlue; ++k) {
            most = std::max(most, roundChannel(planeAt(tri.plane[k], x0, rowValue[k])));
            most = std::max(most, roundChannel(planeAt(tri.plane[k], x1, rowValue[k])));
        }
    }
    return darkLimitFor(op, most);
}

template <Op op>
QM_AVX2 void shadeModulatedBlend(const PixelState& state, const Triangle& tri, const Span& span,
                                 uint32_t* row, const StageSampler& sampler, const float* rowValue,
                                 const Wide& flat, uint32_t flatPacked) {
    if (!state.blend) {
        shadeModulated<op, BlendKind::kOff>(state, tri, span, row, sampler, rowValue, flat, -1, 0,
                                            0, nullptr);
    } else if (state.srcBlend == kBlendOne && state.destBlend == kBlendOne) {
        const int darkLimit = sampler.footprintMax != nullptr && closeTexels(tri, state.stage[0])
                                  ? spanDarkLimit(op, tri, span, rowValue, flatPacked)
                                  : -1;
        // Outside these columns the footprints are dark: a load of the pixels settles them.
        // The bright cells settle those columns as well, so only spans without them look.
        const uint64_t* cells = darkLimit >= 0 ? span.brightCells : nullptr;
        int brightFrom = span.x0, brightTo = span.x1;
        if (darkLimit >= 0 && cells == nullptr) {
            brightColumns(sampler, tri.plane[kAttrU0], tri.plane[kAttrV0], rowValue, span,
                          darkLimit, &brightFrom, &brightTo);
        }
        shadeModulated<op, BlendKind::kAdd>(state, tri, span, row, sampler, rowValue, flat,
                                            darkLimit, brightFrom, brightTo, cells);
    } else if (state.srcBlend == kBlendSrcColor && state.destBlend == kBlendInvSrcColor) {
        // Without alpha in the texture, dark footprints leave the colour as it is.
        const int darkLimit = sampler.footprintMax != nullptr && sampler.opaque
                                  ? spanDarkLimit(op, tri, span, rowValue, flatPacked)
                                  : -1;
        shadeModulated<op, BlendKind::kSrcColour>(state, tri, span, row, sampler, rowValue, flat,
                                                  darkLimit, span.x0, span.x1, nullptr);
    } else if (state.srcBlend == kBlendSrcAlpha && state.destBlend == kBlendInvSrcAlpha) {
        shadeModulated<op, BlendKind::kSrcAlpha>(state, tri, span, row, sampler, rowValue, flat, -1,
                                                 0, 0, nullptr);
    } else {
        shadeModulated<op, BlendKind::kOther>(state, tri, span, row, sampler, rowValue, flat, -1, 0,
                                              0, nullptr);
    }
}

QM_AVX2 void shadeSpanAvx2(const PixelState& state, const Triangle& tri, const Span& span,
                           uint32_t* row, float* /*depth*/) {
    float rowValue[kAttributes];
    rowValues(tri, span.y, rowValue);
    StageSampler samplers[kStages];
    for (int s = 0; s < state.stages; ++s) {
        const StageState& st = state.stage[s];
        if (!st.textured) continue;
        samplers[s] = StageSampler{reinterpret_cast<const int*>(st.texels),
                                   st.width,
                                   st.height,
                                   st.rowShift,
                                   texelScale(st.width),
                                   texelScale(st.height),
                                   st.addressU,
                                   st.addressV,
                                   st.opaque,
                                   tri.linear[s],
                                   st.footprintMax,
                                   st.brightBoxes};
    }
    const Wide factor = widen(_mm256_set1_epi32(static_cast<int>(state.textureFactor)));
    Wide flat{};
    uint32_t flatPacked = 0;
    if (tri.flatColour) {
        // A flat plane's value is its row part: ax is 0.
        flatPacked = roundChannel(rowValue[kAttrBlue]) | (roundChannel(rowValue[kAttrGreen]) << 8) |
                     (roundChannel(rowValue[kAttrRed]) << 16) |
                     (roundChannel(rowValue[kAttrAlpha]) << 24);
        flat = widen(_mm256_set1_epi32(static_cast<int>(flatPacked)));
    }
    if (isModulatedLayer(state, tri)) {
        switch (state.stage[0].colourOp) {
            case kOpModulate:
                shadeModulatedBlend<kOpModulate>(state, tri, span, row, samplers[0], rowValue, flat,
                                                 flatPacked);
                return;
            case kOpModulate2x:
                shadeModulatedBlend<kOpModulate2x>(state, tri, span, row, samplers[0], rowValue,
                                                   flat, flatPacked);
                return;
            default:
                shadeModulatedBlend<kOpModulate4x>(state, tri, span, row, samplers[0], rowValue,
                                                   flat, flatPacked);
                return;
        }
    }
    const bool additive =
        state.blend && state.srcBlend == kBlendOne && state.destBlend == kBlendOne;
    const __m256i iota = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);

    for (int x = span.x0; x <= span.x1; x += 8) {
        int remaining = span.x1 - x + 1;
        __m256i lanes = _mm256_add_epi32(_mm256_set1_epi32(x), iota);
        __m256 fx = _mm256_cvtepi32_ps(lanes);
        __m256i keep = _mm256_cmpgt_epi32(_mm256_set1_epi32(remaining), iota);
        uint32_t* out = row + x;

        Wide diffuse;
        if (tri.flatColour) {
            diffuse = flat;
        } else {
            diffuse = gouraud(tri, fx, rowValue);
        }
        Wide current = diffuse;
        for (int s = 0; s < state.stages; ++s) {
            const StageState& st = state.stage[s];
            Wide texel{};
            if (st.textured) {
                __m256 u = planeAtPs(tri.plane[kAttrU0 + 2 * s], fx, rowValue[kAttrU0 + 2 * s]);
                __m256 v = planeAtPs(tri.plane[kAttrV0 + 2 * s], fx, rowValue[kAttrV0 + 2 * s]);
                texel = sample(samplers[s], u, v);
            }
            Inputs in{&diffuse, &current, &texel, &factor};
            Wide next{combine(st, in, true), combine(st, in, false)};
            current = next;
        }
        __m256i result;
        if (!state.blend) {
            result = narrow(current);
        } else {
            __m256i dst = loadPixels(out, keep, remaining);
            if (additive) {
                // ONE/ONE is a saturating add, byte for byte.
                result = _mm256_adds_epu8(narrow(current), dst);
            } else {
                Wide d = widen(dst);
                result = narrow(
                    Wide{blendWords(state, current.lo, d.lo), blendWords(state, current.hi, d.hi)});
            }
        }
        storePixels(out, keep, remaining, result);
    }
}

bool cpuHasAvx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}

}  // namespace

SpanFunction avx2SpanFunction() {
    static const bool available = cpuHasAvx2();
    return available ? shadeSpanAvx2 : nullptr;
}

#else

SpanFunction avx2SpanFunction() {
    return nullptr;
}

#endif

}  // namespace soft
