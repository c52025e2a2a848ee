#include "video/video_decoder.h"

#include <cstddef>
#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Only the SSE2 path asks; other machines (the browser's) take the plain loop.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
[[maybe_unused]] const bool kLittleEndian = false;
#else
[[maybe_unused]] const bool kLittleEndian = true;
#endif

uint32_t* gColourTable = nullptr;
int gColourTableUsers = 0;

const float kWhiteFade = 0.01f;
const float kLumaGain = 1.164f;
const float kBlueFromCb = 2.018f;
const float kGreenFromCr = 0.813f;
const float kGreenFromCb = 0.391f;
const float kRedFromCr = 1.596f;

uint32_t channel(float v) {
    if (v < 0.0f) return 0;
    if (v > 255.0f) return 255;
    return uint32_t(v);
}

// The colour difference of chroma index `index` at luma level y, faded out near black and near
// white.
float colourDifference(int y, int index) {
    float d = float(4 * index - 128);
    if (y > 248) {
        const float fade = float(double(y) - double(248 - y) * double(kWhiteFade));
        d = float(double(d) / double(fade));
    }
    if (y < 16) {
        const float fade = float(16 - y);
        d = float(double(d) / double(fade));
    }
    return d;
}

double lumaLevel(int y) {
    return double(y - 16) * double(kLumaGain);
}

// Fills all 2^20 entries. Red depends only on (Y, p) and blue only on (Y, q), so those are
// computed once per row; green, which needs both, is formed per entry exactly as in
// colourTableEntry.
void buildColourTable(uint32_t* table) {
    for (int y = 0; y < 256; ++y) {
        const double l = lumaLevel(y);
        float diff[64];
        uint32_t red[64], blue[64];
        for (int i = 0; i < 64; ++i) {
            diff[i] = colourDifference(y, i);
            red[i] = channel(float(l + double(kRedFromCr) * double(diff[i]))) << 16;
            blue[i] = channel(float(l + double(kBlueFromCb) * double(diff[i])));
        }
        uint32_t* row = table + y * 4096;
        for (int p = 0; p < 64; ++p) {
            const double lr = l - double(kGreenFromCr) * double(diff[p]);
            for (int q = 0; q < 64; ++q) {
                const float g = float(lr - double(kGreenFromCb) * double(diff[q]));
                row[p * 64 + q] = 0xFF000000u + red[p] + (channel(g) << 8) + blue[q];
            }
        }
    }
}

}  // namespace

bool acquireColourTable() {
    if (gColourTable == nullptr) {
        // The table is followed by 256 spare bytes, zeroed; no index reaches them.
        const size_t bytes = size_t(kColourTableEntries) * 4 + 256;
        unsigned char* block = new (std::nothrow) unsigned char[bytes]();
        if (block == nullptr) return false;
        gColourTable = reinterpret_cast<uint32_t*>(block);
        buildColourTable(gColourTable);
    }
    ++gColourTableUsers;
    return true;
}

void releaseColourTable() {
    if (--gColourTableUsers == 0) {
        delete[] reinterpret_cast<unsigned char*>(gColourTable);
        gColourTable = nullptr;
    }
}

const uint32_t* colourTable() {
    return gColourTable;
}

uint32_t colourTableEntry(int y, int p, int q) {
    const float cr = colourDifference(y, p), cb = colourDifference(y, q);
    const double l = lumaLevel(y);
    const float b = float(l + double(kBlueFromCb) * double(cb));
    const float g =
        float(l - double(kGreenFromCr) * double(cr) - double(kGreenFromCb) * double(cb));
    const float r = float(l + double(kRedFromCr) * double(cr));
    return 0xFF000000u + (channel(r) << 16) + (channel(g) << 8) + channel(b);
}

int VideoDecoder::toARGB(const unsigned char* src, unsigned char* dst, int pitch, int w,
                         int h) const {
    const uint32_t* table = gColourTable;
    if (table == nullptr) return 0;
    // Rows start at whole texels: a pitch that is not a multiple of 4 is rounded down.
    const std::ptrdiff_t rowBytes = std::ptrdiff_t(pitch / 4) * 4;
    for (int y = 0; y < h; ++y) {
        const unsigned char* s = src + std::ptrdiff_t(y) * w * 4;
        unsigned char* d = dst + y * rowBytes;
        for (int x = 0; x < w; ++x, s += 4, d += 4) {
            const uint32_t texel =
                table[uint32_t(s[0]) << 12 | uint32_t(s[1]) << 6 | uint32_t(s[2])];
            std::memcpy(d, &texel, 4);
        }
    }
    return w * h * 4;
}

void VideoDecoder::copyLane(const unsigned char* src, unsigned char* dst, int lane, int pitch,
                            int w, int h) const {
    // A lane outside the texel would write into its neighbours.
    if (lane < 0 || lane > 3) return;
    for (int y = 0; y < h; ++y) {
        const unsigned char* s = src + std::ptrdiff_t(y) * w * 4;
        unsigned char* d = dst + std::ptrdiff_t(y) * pitch;
        int x = 0;
#if defined(__SSE2__)
        if (kLittleEndian) {
            // Four texels per step. Source and destination may be the same pixels: each block is
            // read whole before it is written.
            const __m128i low = _mm_set1_epi32(0xFF);
            const __m128i shift = _mm_cvtsi32_si128(8 * lane);
            const __m128i kept = _mm_set1_epi32(int(~(0xFFu << (8 * lane))));
            for (; x + 4 <= w; x += 4) {
                const __m128i from = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 4 * x));
                __m128i* to = reinterpret_cast<__m128i*>(d + 4 * x);
                const __m128i value = _mm_sll_epi32(_mm_and_si128(from, low), shift);
                _mm_storeu_si128(to, _mm_or_si128(_mm_and_si128(_mm_loadu_si128(to), kept), value));
            }
        }
#endif
        for (; x < w; ++x) d[4 * x + lane] = s[4 * x];
    }
}
