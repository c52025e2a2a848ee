#include "backend/imaging/jpeg_texture.h"

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "backend/imaging/picture_decoder.h"

namespace {

// Files beyond this cannot hold a picture that fits the largest texture at any sane quality;
// refusing them early keeps a wrong path from reading gigabytes.
constexpr long kMaxFileBytes = 256L * 1024 * 1024;

unsigned roundUpToPowerOfTwo(unsigned v) {
    unsigned p = 1;
    while (p < v && p <= kMaxJpegTextureSide) p <<= 1;
    return p;
}

// One destination texel's two source texels and the weight of the second, in 1/65536.
struct Tap {
    uint32_t i0;
    uint32_t i1;
    uint32_t w1;
};

std::vector<Tap> tentTaps(uint32_t src, uint32_t dst) {
    std::vector<Tap> taps(dst);
    const uint64_t den = 2 * static_cast<uint64_t>(dst);
    for (uint32_t i = 0; i < dst; ++i) {
        // Position (2i + 1) * S / (2D) - 1/2 in source texels, kept as numerator over 2D.
        const int64_t num = static_cast<int64_t>(2 * static_cast<uint64_t>(i) + 1) * src -
                            static_cast<int64_t>(dst);
        if (num <= 0) {
            taps[i] = {0, 0, 0};
            continue;
        }
        const uint64_t n = static_cast<uint64_t>(num);
        const uint32_t i0 = static_cast<uint32_t>(n / den);
        const uint64_t rem = n % den;
        const uint32_t w1 = static_cast<uint32_t>((rem * 65536 + den / 2) / den);
        taps[i] = {i0, std::min(i0 + 1, src - 1), w1};
    }
    return taps;
}

uint32_t packTexel(const uint32_t* c, unsigned components) {
    if (components == 1) return 0xFF000000u | c[0] << 16 | c[0] << 8 | c[0];
    return 0xFF000000u | c[0] << 16 | c[1] << 8 | c[2];
}

void buildTexture(const Picture& pic, uint32_t texW, uint32_t texH, TextureImage* out) {
    out->width = texW;
    out->height = texH;
    out->texels.assign(static_cast<size_t>(texW) * texH, 0);
    const unsigned comps = pic.components;
    const size_t stride = static_cast<size_t>(pic.width) * comps;

    if (texW == pic.width && texH == pic.height) {
        for (uint32_t y = 0; y < texH; ++y) {
            const unsigned char* row = pic.samples.data() + y * stride;
            for (uint32_t x = 0; x < texW; ++x) {
                const uint32_t c[3] = {row[x * comps], row[x * comps + (comps > 1 ? 1 : 0)],
                                       row[x * comps + (comps > 1 ? 2 : 0)]};
                out->texels[static_cast<size_t>(y) * texW + x] = packTexel(c, comps);
            }
        }
        return;
    }

    const std::vector<Tap> xTaps = tentTaps(pic.width, texW);
    const std::vector<Tap> yTaps = tentTaps(pic.height, texH);

    // Rows stretched horizontally, at 65536 times the sample scale; the vertical pass needs
    // two consecutive source rows, and walks them in order, so two slots suffice.
    const size_t rowLen = static_cast<size_t>(texW) * comps;
    std::vector<uint32_t> slots[2] = {std::vector<uint32_t>(rowLen), std::vector<uint32_t>(rowLen)};
    int64_t slotRow[2] = {-1, -1};
    auto stretchedRow = [&](uint32_t sy, int64_t keep) -> const uint32_t* {
        for (int k = 0; k < 2; ++k) {
            if (slotRow[k] == sy) return slots[k].data();
        }
        const int victim = slotRow[0] == keep ? 1 : 0;
        const unsigned char* src = pic.samples.data() + sy * stride;
        uint32_t* dst = slots[victim].data();
        for (uint32_t x = 0; x < texW; ++x) {
            const Tap& t = xTaps[x];
            for (unsigned c = 0; c < comps; ++c) {
                dst[x * comps + c] =
                    src[t.i0 * comps + c] * (65536 - t.w1) + src[t.i1 * comps + c] * t.w1;
            }
        }
        slotRow[victim] = sy;
        return dst;
    };

    for (uint32_t y = 0; y < texH; ++y) {
        const Tap& t = yTaps[y];
        const uint32_t* r0 = stretchedRow(t.i0, -1);
        const uint32_t* r1 = stretchedRow(t.i1, t.i0);
        uint32_t* texRow = out->texels.data() + static_cast<size_t>(y) * texW;
        for (uint32_t x = 0; x < texW; ++x) {
            uint32_t c[3] = {0, 0, 0};
            for (unsigned k = 0; k < comps; ++k) {
                const uint64_t v = static_cast<uint64_t>(r0[x * comps + k]) * (65536 - t.w1) +
                                   static_cast<uint64_t>(r1[x * comps + k]) * t.w1;
                c[k] = static_cast<uint32_t>((v + (1ull << 31)) >> 32);
            }
            texRow[x] = packTexel(c, comps);
        }
    }
}

bool readWholeFile(const std::string& path, std::vector<unsigned char>* bytes, std::string* error) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        *error = std::string("cannot open file: ") + std::strerror(errno);
        return false;
    }
    unsigned char chunk[65536];
    bool ok = true;
    for (;;) {
        const size_t n = std::fread(chunk, 1, sizeof chunk, f);
        bytes->insert(bytes->end(), chunk, chunk + n);
        if (static_cast<long>(bytes->size()) > kMaxFileBytes) {
            *error = "file is too large for a picture";
            ok = false;
            break;
        }
        if (n < sizeof chunk) {
            if (std::ferror(f)) {
                *error = std::string("cannot read file: ") + std::strerror(errno);
                ok = false;
            }
            break;
        }
    }
    std::fclose(f);
    if (ok && bytes->empty()) {
        *error = "file is empty";
        ok = false;
    }
    return ok;
}

}  // namespace

bool loadJpegTexture(const std::string& nativePath, TextureImage* out, std::string* error) {
    *out = TextureImage();
    std::string reason;
    std::vector<unsigned char> bytes;
    if (!readWholeFile(nativePath, &bytes, &reason)) {
        if (error) *error = reason;
        return false;
    }
    Picture pic;
    if (!decodePicture(bytes.data(), bytes.size(), kMaxJpegTextureSide, &pic, &reason)) {
        if (error) *error = reason.empty() ? "not a readable JPEG picture" : reason;
        return false;
    }
    if (pic.components != 1 && pic.components != 3) {
        if (error) *error = "unsupported number of colour components";
        return false;
    }
    buildTexture(pic, roundUpToPowerOfTwo(pic.width), roundUpToPowerOfTwo(pic.height), out);
    return true;
}
