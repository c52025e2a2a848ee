#include "video/video_decoder.h"

#include <cstddef>
#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// The process-wide colour table is shared: the first holder builds it, the last one frees it.
bool acquireColourTable();
void releaseColourTable();

namespace {

// Grid sizes of a frame whose header passed checkHeader.
struct Layout {
    int32_t pixels;
    int32_t cellsAcross, cellsDown, lumaNodes;               // cell form only
    int32_t chromaCellsAcross, chromaCellsDown, chromaGrid;  // with chroma only
};

// Everything about a header that can be checked without scanning the cell data: sizes,
// cell dimensions, working capacities, and a payload long enough for the luma nodes (or the
// raw luma).
bool checkHeader(const PayloadHeader& h, int64_t payloadSize, Layout* layout) {
    const int64_t w = h.width, hgt = h.height;
    if (w <= 0 || hgt <= 0 || w * hgt > kLumaBaseBytes) return false;
    *layout = Layout{int32_t(w * hgt), 0, 0, 0, 0, 0, 0};
    int64_t end = kPayloadHeaderBytes;
    if (h.cellWidth != 0) {
        if (!cellLog2(h.cellWidth) || !cellLog2(h.cellHeight)) return false;
        if (w % h.cellWidth != 0 || hgt % h.cellHeight != 0) return false;
        const int64_t nx = w / h.cellWidth, ny = hgt / h.cellHeight;
        if (w * (ny + 1) > kRowBufferBytes) return false;
        layout->cellsAcross = int32_t(nx);
        layout->cellsDown = int32_t(ny);
        layout->lumaNodes = int32_t((nx + 1) * (ny + 1));
        end += layout->lumaNodes;
    } else {
        end += w * hgt;
    }
    if (h.chromaMode != kNoChromaMode) {
        if (!cellLog2(h.chromaCellWidth) || !cellLog2(h.chromaCellHeight)) return false;
        if (w % h.chromaCellWidth != 0 || hgt % h.chromaCellHeight != 0) return false;
        const int64_t cnx = w / h.chromaCellWidth, cny = hgt / h.chromaCellHeight;
        if (w * (cny + 1) > kRowBufferBytes) return false;
        layout->chromaCellsAcross = int32_t(cnx);
        layout->chromaCellsDown = int32_t(cny);
        layout->chromaGrid = int32_t((cnx + 1) * (cny + 1));
    }
    return end <= payloadSize;
}

// Length of the cell data that starts at `cells`, following the flags; -1 if it runs past
// `available` bytes.
int64_t scanCells(const unsigned char* cells, int64_t available, int32_t count,
                  int64_t residualBytes) {
    int64_t k = 0;
    for (int32_t cell = 0; cell < count; ++cell) {
        if (k >= available) return -1;
        k += cells[k] == 0 ? 1 + residualBytes : 1;
    }
    return k <= available ? k : -1;
}

// ---- Interpolation passes ----
//
// Every pass runs a 16.16 accumulator that starts at a*65536 and grows by
// step = (b - a)*2^(16 - k) per sample, and writes bits 16..23 of it. After x steps that is
// a + floor(x*(b - a) / 2^k), kept to 8 bits, which the passes compute directly (>> on a
// negative value is an arithmetic shift, i.e. floor division): in 16 bits, without a carried
// accumulator, so that many samples go through one vector instruction.
// The portable loops below are the whole algorithm; the SSE2 versions do the same work on
// 8 or 16 samples at a time, and the portable ones finish whatever does not fill a vector.

// Horizontal pass over `rows` node rows from cell `first` on: N samples per cell, running from
// scale*node(c) towards scale*node(c + 1) (flat when !interpolate).
template <int N>
void rampCells(const unsigned char* nodes, int32_t first, int32_t across, int32_t rows,
               int32_t width, int32_t scale, int log2N, bool interpolate, unsigned char* dst) {
    for (int32_t r = 0; r < rows; ++r) {
        const int8_t* row = reinterpret_cast<const int8_t*>(nodes) + r * (across + 1);
        unsigned char* d = dst + r * width + first * N;
        for (int32_t c = first; c < across; ++c, d += N) {
            const int32_t a = scale * row[c];
            const int32_t diff = interpolate ? scale * row[c + 1] - a : 0;
            for (int x = 0; x < N; ++x) d[x] = uint8_t(a + ((x * diff) >> log2N));
        }
    }
}

// Vertical pass for columns [first, width) of one cell row: `height` rows from row a towards
// row b, both `width` bytes of luma.
void rampColumnsFrom(const unsigned char* a, int32_t first, int32_t width, int32_t height,
                     int log2Height, unsigned char* dst) {
    const unsigned char* b = a + width;
    for (int32_t y = 0; y < height; ++y) {
        unsigned char* d = dst + y * width;
        for (int32_t x = first; x < width; ++x) {
            const int32_t av = a[x], bv = b[x];
            d[x] = uint8_t(av + ((y * (bv - av)) >> log2Height));
        }
    }
}

// Residual pass over one cell: `height` rows of N pixels, N/2 residual bytes per row.
template <int N>
void residualCell(const unsigned char* v, int32_t width, int32_t height, const uint8_t* delta,
                  unsigned char* p) {
    for (int32_t y = 0; y < height; ++y, p += width, v += N / 2) {
        for (int m = 0; m < N / 2; ++m) {
            p[2 * m] = uint8_t(p[2 * m] - delta[v[m] & 15]);
            p[2 * m + 1] = uint8_t(p[2 * m + 1] - delta[v[m] >> 4]);
        }
    }
}

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
const bool kLittleEndian = false;
#else
const bool kLittleEndian = true;
#endif

// Lane 0 of pixels [first, count) from the luma plane; lanes 1..3 keep their values.
void weaveLuma(unsigned char* out, const unsigned char* luma, int32_t first, int32_t count) {
    for (int32_t i = first; i < count; ++i) out[4 * i] = luma[i];
}

// One band of chroma cells, columns [first, width): the Cr and Cb node rows (cr and cb, each
// followed by the next row) interpolated down `height` pixel rows into lanes 1 and 2, and the
// luma into lane 0. Lane 3 keeps its value.
void weaveBand(unsigned char* out, const unsigned char* luma, const unsigned char* cr,
               const unsigned char* cb, int32_t first, int32_t width, int32_t height,
               int log2Height, bool interpolate) {
    for (int32_t y = 0; y < height; ++y) {
        const int32_t t = interpolate ? y : 0;
        for (int32_t x = first; x < width; ++x) {
            const int32_t i = y * width + x;
            const int32_t cra = int8_t(cr[x]), crb = int8_t(cr[width + x]);
            const int32_t cba = int8_t(cb[x]), cbb = int8_t(cb[width + x]);
            out[4 * i] = luma[i];
            out[4 * i + 1] = uint8_t(cra + ((t * (crb - cra)) >> log2Height));
            out[4 * i + 2] = uint8_t(cba + ((t * (cbb - cba)) >> log2Height));
        }
    }
}

#if defined(__SSE2__)

inline __m128i load8(const void* p) {
    return _mm_loadl_epi64(static_cast<const __m128i*>(p));
}
inline __m128i load16(const void* p) {
    return _mm_loadu_si128(static_cast<const __m128i*>(p));
}
inline void store16(void* p, __m128i v) {
    _mm_storeu_si128(static_cast<__m128i*>(p), v);
}
// Eight signed bytes widened to 16 bits.
inline __m128i widenSigned8(__m128i v) {
    return _mm_srai_epi16(_mm_unpacklo_epi8(v, v), 8);
}

// Eight cells at once, one 16-bit lane each: sample x of every cell is in vector x. The samples
// are packed to bytes and interleaved so that each cell's N samples end up side by side.
template <int N>
int32_t rampCellsFast(const unsigned char* nodes, int32_t across, int32_t rows, int32_t width,
                      int32_t scale, int log2N, bool interpolate, unsigned char* dst) {
    const int32_t whole = across & ~7;
    const __m128i k = _mm_cvtsi32_si128(log2N);
    const __m128i low = _mm_set1_epi16(0xFF);
    const __m128i factor = _mm_set1_epi16(int16_t(scale));
    const __m128i keep = interpolate ? _mm_set1_epi16(-1) : _mm_setzero_si128();
    for (int32_t r = 0; r < rows; ++r) {
        const unsigned char* row = nodes + r * (across + 1);
        unsigned char* d = dst + r * width;
        for (int32_t c = 0; c < whole; c += 8, d += 8 * N) {
            const __m128i a = _mm_mullo_epi16(widenSigned8(load8(row + c)), factor);
            const __m128i b = _mm_mullo_epi16(widenSigned8(load8(row + c + 1)), factor);
            const __m128i diff = _mm_and_si128(_mm_sub_epi16(b, a), keep);
            __m128i packed[N / 2];
            for (int x = 0; x < N; x += 2) {
                const __m128i v0 = _mm_add_epi16(
                    a, _mm_sra_epi16(_mm_mullo_epi16(diff, _mm_set1_epi16(int16_t(x))), k));
                const __m128i v1 = _mm_add_epi16(
                    a, _mm_sra_epi16(_mm_mullo_epi16(diff, _mm_set1_epi16(int16_t(x + 1))), k));
                const __m128i p = _mm_packus_epi16(_mm_and_si128(v0, low), _mm_and_si128(v1, low));
                // Samples x and x + 1 of each cell next to each other.
                packed[x / 2] = _mm_unpacklo_epi8(p, _mm_unpackhi_epi64(p, p));
            }
            if constexpr (N == 2) {
                store16(d, packed[0]);
            } else if constexpr (N == 4) {
                store16(d, _mm_unpacklo_epi16(packed[0], packed[1]));
                store16(d + 16, _mm_unpackhi_epi16(packed[0], packed[1]));
            } else {
                const __m128i lo01 = _mm_unpacklo_epi16(packed[0], packed[1]);
                const __m128i hi01 = _mm_unpackhi_epi16(packed[0], packed[1]);
                const __m128i lo23 = _mm_unpacklo_epi16(packed[N / 2 - 2], packed[N / 2 - 1]);
                const __m128i hi23 = _mm_unpackhi_epi16(packed[N / 2 - 2], packed[N / 2 - 1]);
                store16(d, _mm_unpacklo_epi32(lo01, lo23));
                store16(d + 16, _mm_unpackhi_epi32(lo01, lo23));
                store16(d + 32, _mm_unpacklo_epi32(hi01, hi23));
                store16(d + 48, _mm_unpackhi_epi32(hi01, hi23));
            }
        }
    }
    return whole;
}

// Sixteen-sample cells fill a vector each.
template <>
int32_t rampCellsFast<16>(const unsigned char* nodes, int32_t across, int32_t rows, int32_t width,
                          int32_t scale, int log2N, bool interpolate, unsigned char* dst) {
    const __m128i k = _mm_cvtsi32_si128(log2N);
    const __m128i low = _mm_set1_epi16(0xFF);
    const __m128i x0 = _mm_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7);
    const __m128i x8 = _mm_setr_epi16(8, 9, 10, 11, 12, 13, 14, 15);
    for (int32_t r = 0; r < rows; ++r) {
        const int8_t* row = reinterpret_cast<const int8_t*>(nodes) + r * (across + 1);
        unsigned char* d = dst + r * width;
        for (int32_t c = 0; c < across; ++c, d += 16) {
            const int32_t av = scale * row[c];
            const __m128i a = _mm_set1_epi16(int16_t(av));
            const __m128i diff = _mm_set1_epi16(int16_t(interpolate ? scale * row[c + 1] - av : 0));
            const __m128i lo = _mm_add_epi16(a, _mm_sra_epi16(_mm_mullo_epi16(diff, x0), k));
            const __m128i hi = _mm_add_epi16(a, _mm_sra_epi16(_mm_mullo_epi16(diff, x8), k));
            store16(d, _mm_packus_epi16(_mm_and_si128(lo, low), _mm_and_si128(hi, low)));
        }
    }
    return across;
}

// Sixteen columns at a time, all rows of the cell row; the accumulator is y*(b - a).
int32_t rampColumnsFast(const unsigned char* a, int32_t width, int32_t height, int log2Height,
                        unsigned char* dst) {
    const int32_t whole = width & ~15;
    const __m128i k = _mm_cvtsi32_si128(log2Height);
    const __m128i zero = _mm_setzero_si128();
    for (int32_t x = 0; x < whole; x += 16) {
        const __m128i va = load16(a + x), vb = load16(a + width + x);
        const __m128i aLo = _mm_unpacklo_epi8(va, zero), aHi = _mm_unpackhi_epi8(va, zero);
        const __m128i bLo = _mm_unpacklo_epi8(vb, zero), bHi = _mm_unpackhi_epi8(vb, zero);
        const __m128i dLo = _mm_sub_epi16(bLo, aLo), dHi = _mm_sub_epi16(bHi, aHi);
        __m128i accLo = zero, accHi = zero;
        unsigned char* d = dst + x;
        store16(d, va);
        for (int32_t y = 1; y < height; ++y) {
            d += width;
            accLo = _mm_add_epi16(accLo, dLo);
            accHi = _mm_add_epi16(accHi, dHi);
            const __m128i lo = _mm_add_epi16(aLo, _mm_sra_epi16(accLo, k));
            const __m128i hi = _mm_add_epi16(aHi, _mm_sra_epi16(accHi, k));
            // Results lie in 0..255, so the saturating pack keeps them as they are.
            store16(d, _mm_packus_epi16(lo, hi));
        }
    }
    return whole;
}

// Residual nibbles of up to 8 bytes (low half of v) in pixel order, turned into the bytes to
// subtract: (n - 8)*2^S modulo 256, shifted within each byte.
inline __m128i residualDelta(__m128i v, __m128i shift, __m128i byteMask) {
    const __m128i nibble = _mm_set1_epi8(15);
    const __m128i n =
        _mm_unpacklo_epi8(_mm_and_si128(v, nibble), _mm_and_si128(_mm_srli_epi16(v, 4), nibble));
    const __m128i centred = _mm_sub_epi8(n, _mm_set1_epi8(8));
    return _mm_and_si128(_mm_sll_epi16(centred, shift), byteMask);
}

// S as a shift count and the mask that keeps a 16-bit shift within each byte.
struct ResidualShift {
    __m128i shift, byteMask;
};

// The residual pass over one cell, eight residual bytes per step; false (nothing done) where
// the cell is too small for that.
template <int N>
bool residualCellFast(const unsigned char* v, int32_t width, int32_t height, const ResidualShift& s,
                      unsigned char* p) {
    if (N == 2 || (N == 4 && height < 4)) return false;
    if (N == 4) {
        // Four rows of four pixels from eight residual bytes.
        for (int32_t y = 0; y < height; y += 4, v += 8, p += 4 * width) {
            int32_t r0, r1, r2, r3;
            std::memcpy(&r0, p, 4);
            std::memcpy(&r1, p + width, 4);
            std::memcpy(&r2, p + 2 * width, 4);
            std::memcpy(&r3, p + 3 * width, 4);
            const __m128i res = _mm_sub_epi8(_mm_setr_epi32(r0, r1, r2, r3),
                                             residualDelta(load8(v), s.shift, s.byteMask));
            r0 = _mm_cvtsi128_si32(res);
            r1 = _mm_cvtsi128_si32(_mm_srli_si128(res, 4));
            r2 = _mm_cvtsi128_si32(_mm_srli_si128(res, 8));
            r3 = _mm_cvtsi128_si32(_mm_srli_si128(res, 12));
            std::memcpy(p, &r0, 4);
            std::memcpy(p + width, &r1, 4);
            std::memcpy(p + 2 * width, &r2, 4);
            std::memcpy(p + 3 * width, &r3, 4);
        }
    } else if (N == 8) {
        // Two rows of eight pixels from eight residual bytes.
        for (int32_t y = 0; y < height; y += 2, v += 8, p += 2 * width) {
            const __m128i base = _mm_unpacklo_epi64(load8(p), load8(p + width));
            const __m128i res = _mm_sub_epi8(base, residualDelta(load8(v), s.shift, s.byteMask));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(p), res);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(p + width), _mm_unpackhi_epi64(res, res));
        }
    } else {
        for (int32_t y = 0; y < height; ++y, v += 8, p += width)
            store16(p, _mm_sub_epi8(load16(p), residualDelta(load8(v), s.shift, s.byteMask)));
    }
    return true;
}

// Sixteen pixels: lanes 0..2 from y, cr and cb, lane 3 (or lanes 1..3, by `kept`) from out.
inline void weave16(unsigned char* out, __m128i y, __m128i cr, __m128i cb, __m128i kept) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i ycLo = _mm_unpacklo_epi8(y, cr), ycHi = _mm_unpackhi_epi8(y, cr);
    const __m128i bLo = _mm_unpacklo_epi8(cb, zero), bHi = _mm_unpackhi_epi8(cb, zero);
    const __m128i px[4] = {_mm_unpacklo_epi16(ycLo, bLo), _mm_unpackhi_epi16(ycLo, bLo),
                           _mm_unpacklo_epi16(ycHi, bHi), _mm_unpackhi_epi16(ycHi, bHi)};
    for (int q = 0; q < 4; ++q)
        store16(out + 16 * q, _mm_or_si128(px[q], _mm_and_si128(load16(out + 16 * q), kept)));
}

int32_t weaveLumaFast(unsigned char* out, const unsigned char* luma, int32_t count) {
    const int32_t whole = count & ~15;
    const __m128i zero = _mm_setzero_si128();
    const __m128i kept = _mm_set1_epi32(int32_t(0xFFFFFF00u));
    for (int32_t i = 0; i < whole; i += 16)
        weave16(out + 4 * i, load16(luma + i), zero, zero, kept);
    return whole;
}

// Sixteen columns at a time, down all rows of the band, with the chroma accumulators in
// registers.
int32_t weaveBandFast(unsigned char* out, const unsigned char* luma, const unsigned char* cr,
                      const unsigned char* cb, int32_t width, int32_t height, int log2Height,
                      bool interpolate) {
    const int32_t whole = width & ~15;
    const __m128i k = _mm_cvtsi32_si128(log2Height);
    const __m128i keep = interpolate ? _mm_set1_epi16(-1) : _mm_setzero_si128();
    const __m128i kept = _mm_set1_epi32(int32_t(0xFF000000u));
    for (int32_t x = 0; x < whole; x += 16) {
        const __m128i crTop = load16(cr + x), crBottom = load16(cr + width + x);
        const __m128i cbTop = load16(cb + x), cbBottom = load16(cb + width + x);
        const __m128i crLo = widenSigned8(crTop),
                      crHi = widenSigned8(_mm_unpackhi_epi64(crTop, crTop));
        const __m128i cbLo = widenSigned8(cbTop),
                      cbHi = widenSigned8(_mm_unpackhi_epi64(cbTop, cbTop));
        const __m128i crStepLo = _mm_and_si128(_mm_sub_epi16(widenSigned8(crBottom), crLo), keep);
        const __m128i crStepHi = _mm_and_si128(
            _mm_sub_epi16(widenSigned8(_mm_unpackhi_epi64(crBottom, crBottom)), crHi), keep);
        const __m128i cbStepLo = _mm_and_si128(_mm_sub_epi16(widenSigned8(cbBottom), cbLo), keep);
        const __m128i cbStepHi = _mm_and_si128(
            _mm_sub_epi16(widenSigned8(_mm_unpackhi_epi64(cbBottom, cbBottom)), cbHi), keep);
        __m128i crAccLo = _mm_setzero_si128(), crAccHi = crAccLo;
        __m128i cbAccLo = crAccLo, cbAccHi = crAccLo;
        for (int32_t y = 0; y < height; ++y) {
            // Results lie in -128..127, so the saturating pack keeps them as they are.
            const __m128i crv = _mm_packs_epi16(_mm_add_epi16(crLo, _mm_sra_epi16(crAccLo, k)),
                                                _mm_add_epi16(crHi, _mm_sra_epi16(crAccHi, k)));
            const __m128i cbv = _mm_packs_epi16(_mm_add_epi16(cbLo, _mm_sra_epi16(cbAccLo, k)),
                                                _mm_add_epi16(cbHi, _mm_sra_epi16(cbAccHi, k)));
            const int32_t i = y * width + x;
            weave16(out + 4 * i, load16(luma + i), crv, cbv, kept);
            crAccLo = _mm_add_epi16(crAccLo, crStepLo);
            crAccHi = _mm_add_epi16(crAccHi, crStepHi);
            cbAccLo = _mm_add_epi16(cbAccLo, cbStepLo);
            cbAccHi = _mm_add_epi16(cbAccHi, cbStepHi);
        }
    }
    return whole;
}

#else

template <int N>
int32_t rampCellsFast(const unsigned char*, int32_t, int32_t, int32_t, int32_t, int, bool,
                      unsigned char*) {
    return 0;
}
int32_t rampColumnsFast(const unsigned char*, int32_t, int32_t, int, unsigned char*) {
    return 0;
}
struct ResidualShift {};

template <int N>
bool residualCellFast(const unsigned char*, int32_t, int32_t, const ResidualShift&,
                      unsigned char*) {
    return false;
}
int32_t weaveLumaFast(unsigned char*, const unsigned char*, int32_t) {
    return 0;
}
int32_t weaveBandFast(unsigned char*, const unsigned char*, const unsigned char*,
                      const unsigned char*, int32_t, int32_t, int, bool) {
    return 0;
}

#endif

// Horizontal pass into dst (W bytes per node row).
template <int N>
void rampRows(const unsigned char* nodes, int32_t across, int32_t rows, int32_t width,
              int32_t scale, int log2N, bool interpolate, unsigned char* dst) {
    const int32_t done =
        rampCellsFast<N>(nodes, across, rows, width, scale, log2N, interpolate, dst);
    if (done < across)
        rampCells<N>(nodes, done, across, rows, width, scale, log2N, interpolate, dst);
}

void rampRows(int32_t n, const unsigned char* nodes, int32_t across, int32_t rows, int32_t width,
              int32_t scale, int log2N, bool interpolate, unsigned char* dst) {
    switch (n) {
        case 2:
            rampRows<2>(nodes, across, rows, width, scale, log2N, interpolate, dst);
            break;
        case 4:
            rampRows<4>(nodes, across, rows, width, scale, log2N, interpolate, dst);
            break;
        case 8:
            rampRows<8>(nodes, across, rows, width, scale, log2N, interpolate, dst);
            break;
        default:
            rampRows<16>(nodes, across, rows, width, scale, log2N, interpolate, dst);
            break;
    }
}

// Vertical pass: for each of `cellRows` cell rows, `height` output rows between consecutive
// rows of `rows` (flat copies of the upper row when !interpolate).
void rampColumns(const unsigned char* rows, int32_t cellRows, int32_t width, int32_t height,
                 int log2Height, bool interpolate, unsigned char* dst) {
    for (int32_t r = 0; r < cellRows; ++r) {
        const unsigned char* a = rows + r * width;
        unsigned char* d = dst + r * height * width;
        if (!interpolate) {
            for (int32_t y = 0; y < height; ++y) std::memcpy(d + y * width, a, size_t(width));
            continue;
        }
        const int32_t done = rampColumnsFast(a, width, height, log2Height, d);
        if (done < width) rampColumnsFrom(a, done, width, height, log2Height, d);
    }
}

// Applies the 4-bit residuals to the base luma of every cell that carries them, in place,
// following the flags. Returns the number of cell-data bytes, or -1 if they run past
// `available` (the luma may then be partly done; the caller discards it).
template <int N>
int64_t applyResiduals(const unsigned char* cells, int64_t available, int32_t across, int32_t down,
                       int32_t width, int32_t height, int residualShift, unsigned char* luma) {
    // Nibble n moves the base by (n - 8)*2^S modulo 256: nothing at all once S reaches 8.
    uint8_t delta[16];
    for (int n = 0; n < 16; ++n)
        delta[n] = residualShift >= 8 ? 0 : uint8_t(uint32_t(n - 8) << residualShift);
#if defined(__SSE2__)
    const ResidualShift shift{
        _mm_cvtsi32_si128(residualShift < 8 ? residualShift : 0),
        _mm_set1_epi8(residualShift < 8 ? char(uint8_t(0xFF << residualShift)) : char(0))};
#else
    const ResidualShift shift{};
#endif
    const int64_t residualBytes = int64_t(height) * (N / 2);
    int64_t k = 0;
    for (int32_t j = 0; j < down; ++j) {
        unsigned char* p = luma + j * height * width;
        for (int32_t i = 0; i < across; ++i, p += N) {
            if (k >= available) return -1;
            if (cells[k++] != 0) continue;
            if (k + residualBytes > available) return -1;
            const unsigned char* v = cells + k;
            k += residualBytes;
            if (!residualCellFast<N>(v, width, height, shift, p))
                residualCell<N>(v, width, height, delta, p);
        }
    }
    return k;
}

int64_t applyResiduals(int32_t n, const unsigned char* cells, int64_t available, int32_t across,
                       int32_t down, int32_t width, int32_t height, int residualShift,
                       unsigned char* luma) {
    switch (n) {
        case 2:
            return applyResiduals<2>(cells, available, across, down, width, height, residualShift,
                                     luma);
        case 4:
            return applyResiduals<4>(cells, available, across, down, width, height, residualShift,
                                     luma);
        case 8:
            return applyResiduals<8>(cells, available, across, down, width, height, residualShift,
                                     luma);
        default:
            return applyResiduals<16>(cells, available, across, down, width, height, residualShift,
                                      luma);
    }
}

unsigned char* allocateZeroed(int32_t bytes) {
    return new (std::nothrow) unsigned char[size_t(bytes)]();
}

}  // namespace

VideoDecoder::VideoDecoder() : huffman(new HuffmanDecoder()) {}

VideoDecoder::~VideoDecoder() {
    delete huffman;
    delete[] rowBuffer;
    delete[] lumaBase;
    delete[] chromaRows;
    delete[] unpackBuffer;
    if (holdsColourTable) releaseColourTable();
}

int VideoDecoder::init() {
    // Zero-filled so that no output can ever depend on uninitialised memory, whatever a
    // damaged stream leaves undecoded.
    if (!rowBuffer && !(rowBuffer = allocateZeroed(kRowBufferBytes))) return -1;
    if (!lumaBase && !(lumaBase = allocateZeroed(kLumaBaseBytes))) return -1;
    if (!chromaRows && !(chromaRows = allocateZeroed(kRowBufferBytes))) return -1;
    if (!unpackBuffer && !(unpackBuffer = allocateZeroed(kUnpackBufferBytes))) return -1;
    if (!holdsColourTable) {
        if (!acquireColourTable()) return -1;
        holdsColourTable = true;
    }
    return 1;
}

int VideoDecoder::frameCount(const VideoImage& image) const {
    if (image.bytes == nullptr || image.size < kEntryCountBytes) return -1;
    return readInt32(image.bytes);
}

int VideoDecoder::open(const VideoImage& image) {
    const int32_t entries = frameCount(image);
    if (entries < 2) return -1;
    const int64_t dataStart = recordsStart(entries);
    if (dataStart > image.size) return -1;
    int32_t previous = 0;
    for (int32_t i = 0; i < entries; ++i) {
        const int32_t offset = readInt32(image.bytes + frameTableEntryAt(i));
        if (offset < 0 || dataStart + offset > image.size) return -1;
        if (i > 0 && int64_t(offset) - previous < kRecordTableBytes) return -1;
        previous = offset;
    }
    const int32_t first = readInt32(image.bytes + frameTableEntryAt(0));
    const int32_t second = readInt32(image.bytes + frameTableEntryAt(1));
    if (decodeRecord(image.bytes + dataStart + first, nullptr, 0, second - first) != 0) return -1;
    return entries;
}

bool VideoDecoder::decodeFrame(const VideoImage& image, unsigned char* out, int outBytes,
                               int index) {
    const int32_t entries = frameCount(image);
    const bool inRange = entries >= 2 && index >= 0 && index <= entries - 2;
    if (!inRange) index = 0;

    // The image may never have been opened: check the two offsets this frame uses.
    lastResult = -1;
    if (entries < 2) return false;
    const int64_t dataStart = recordsStart(entries);
    if (dataStart > image.size) return false;
    const int32_t start = readInt32(image.bytes + frameTableEntryAt(index));
    const int32_t end = readInt32(image.bytes + frameTableEntryAt(index + 1));
    if (start < 0 || end < start || dataStart + end > image.size) return false;

    if (decodeRecord(image.bytes + dataStart + start, out, outBytes, end - start) < 0) return false;
    return inRange;
}

int VideoDecoder::decodeRecord(const unsigned char* record, unsigned char* out, int outBytes,
                               int size) {
    lastResult = -1;
    if (record == nullptr || size < kRecordTableBytes || unpackBuffer == nullptr) return -1;
    if (out != nullptr && (!rowBuffer || !lumaBase || !chromaRows)) return -1;

    huffman->load(record, size);
    const int32_t unpacked = huffman->unpackedSize;
    if (unpacked < kPayloadHeaderBytes || unpacked > kUnpackBufferBytes) return -1;
    huffman->decode(unpackBuffer, unpacked);

    // Nothing reaches `out`, and no header field changes, until the whole payload has been
    // found sound.
    const PayloadHeader h = readPayloadHeader(unpackBuffer);
    Layout layout;
    if (!checkHeader(h, unpacked, &layout)) return -1;
    if (out != nullptr && (outBytes < 0 || int64_t(layout.pixels) * 4 > outBytes)) return -1;
    const unsigned char* payload = unpackBuffer + kPayloadHeaderBytes;
    const int64_t available = unpacked - kPayloadHeaderBytes;
    const bool cellForm = h.cellWidth != 0;
    const bool hasChroma = h.chromaMode != kNoChromaMode;
    const int32_t w = h.width;

    // Luma, into the working buffers only. The cell data is measured on the way: a scan of the
    // flags for a header-only read, the residual pass itself otherwise.
    int64_t lumaBytes = layout.pixels;
    const unsigned char* luma = payload;
    if (cellForm) {
        const int64_t residualBytes = int64_t(h.cellHeight) * (h.cellWidth / 2);
        const int32_t cellCount = layout.cellsAcross * layout.cellsDown;
        int64_t cellBytes;
        if (out == nullptr) {
            cellBytes = scanCells(payload + layout.lumaNodes, available - layout.lumaNodes,
                                  cellCount, residualBytes);
        } else {
            const bool smooth = h.interpolate != 0;
            rampRows(h.cellWidth, payload, layout.cellsAcross, layout.cellsDown + 1, w, 4,
                     cellLog2(h.cellWidth), smooth, rowBuffer);
            rampColumns(rowBuffer, layout.cellsDown, w, h.cellHeight, cellLog2(h.cellHeight),
                        smooth, lumaBase);
            cellBytes = applyResiduals(
                h.cellWidth, payload + layout.lumaNodes, available - layout.lumaNodes,
                layout.cellsAcross, layout.cellsDown, w, h.cellHeight, h.residualShift, lumaBase);
            luma = lumaBase;
        }
        if (cellBytes < 0) return -1;
        lumaBytes = layout.lumaNodes + cellBytes;
    }
    if (hasChroma && lumaBytes + 2 * int64_t(layout.chromaGrid) > available) return -1;

    frameWidth = h.width;
    frameHeight = h.height;
    cellWidth = h.cellWidth;
    cellHeight = h.cellHeight;
    chromaCellWidth = h.chromaCellWidth;
    chromaCellHeight = h.chromaCellHeight;
    interpolate = h.interpolate;
    reserved = h.reserved;
    residualShift = h.residualShift;
    chromaMode = h.chromaMode;
    if (out == nullptr) {
        lastResult = 0;
        return 0;
    }
    if (cellForm) {
        cellsAcross = layout.cellsAcross;
        cellsDown = layout.cellsDown;
        cellWidthLog2 = cellLog2(cellWidth);
        cellHeightLog2 = cellLog2(cellHeight);
    }
    chromaOffset = int32_t(lumaBytes);

    if (!hasChroma) {
        const int32_t done = kLittleEndian ? weaveLumaFast(out, luma, layout.pixels) : 0;
        weaveLuma(out, luma, done, layout.pixels);
        lastResult = 1;
        return 1;
    }

    chromaCellsAcross = layout.chromaCellsAcross;
    chromaCellsDown = layout.chromaCellsDown;
    chromaCellWidthLog2 = cellLog2(chromaCellWidth);
    chromaCellHeightLog2 = cellLog2(chromaCellHeight);
    // Chroma is always interpolated along the row; `interpolate` governs only the vertical
    // direction. The Cr rows go to chromaRows, the Cb rows to rowBuffer (free once the luma is
    // done); then each band of cell rows is interpolated down and woven into the pixels in one
    // go.
    const unsigned char* grid = payload + chromaOffset;
    unsigned char* crRows = chromaRows;
    unsigned char* cbRows = rowBuffer;
    rampRows(chromaCellWidth, grid, chromaCellsAcross, chromaCellsDown + 1, w, 1,
             chromaCellWidthLog2, true, crRows);
    rampRows(chromaCellWidth, grid + layout.chromaGrid, chromaCellsAcross, chromaCellsDown + 1, w,
             1, chromaCellWidthLog2, true, cbRows);
    const bool smooth = interpolate != 0;
    for (int32_t r = 0; r < chromaCellsDown; ++r) {
        const int64_t first = int64_t(r) * w * chromaCellHeight;
        unsigned char* band = out + first * 4;
        const int32_t done = kLittleEndian
                                 ? weaveBandFast(band, luma + first, crRows + r * w, cbRows + r * w,
                                                 w, chromaCellHeight, chromaCellHeightLog2, smooth)
                                 : 0;
        weaveBand(band, luma + first, crRows + r * w, cbRows + r * w, done, w, chromaCellHeight,
                  chromaCellHeightLog2, smooth);
    }
    lastResult = 1;
    return 1;
}
