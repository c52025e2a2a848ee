// The fast path (threads in bands, AVX2 where the processor has it) must give the reference
// path's bytes exactly, whatever the scene.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <utility>

#include "soft_fixture.h"

namespace {

class RandomScenes {
  public:
    explicit RandomScenes(uint32_t seed, bool dark = false) : random_(seed), dark_(dark) {}

    int below(int n) { return static_cast<int>(random_() % static_cast<uint32_t>(n)); }
    float between(float lo, float hi) {
        return lo + (hi - lo) * static_cast<float>(random_() % 1000001u) / 1000000.0f;
    }
    uint32_t colour() {
        // Mostly full and empty channels, where saturation and rounding are most exposed.
        uint32_t c = 0;
        for (int shift = 0; shift < 32; shift += 8) {
            int kind = below(4);
            uint32_t v = kind == 0 ? 0 : (kind == 1 ? 255 : static_cast<uint32_t>(below(256)));
            c |= v << shift;
        }
        return c;
    }
    std::vector<uint32_t> texels(int width, int height) {
        std::vector<uint32_t> out(static_cast<size_t>(width) * height);
        if (dark_ && below(4) == 0) {
            // One grey all over: filtering gives that grey exactly, at the edge of black.
            uint32_t grey = (colour() & 0xFF000000u) | 0x010101u * (1 + below(40));
            for (uint32_t& t : out) t = grey;
            return out;
        }
        // Dark textures: blocks of 4 × 4 texels, most of them black, the others now and then a
        // colour just above or below what a modulation turns into black, now and then bright.
        const int blocksX = (width + 3) / 4;
        std::vector<int> block(static_cast<size_t>(blocksX) * ((height + 3) / 4));
        if (dark_) {
            for (int& b : block) b = below(4);
        }
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                uint32_t& t = out[static_cast<size_t>(y) * width + x];
                t = colour();
                if (!dark_) continue;
                int kind = block[static_cast<size_t>(y / 4) * blocksX + x / 4];
                if (kind < 3) t &= 0xFF000000u;
                if (kind == 3 && below(2)) t = (t & 0xFF000000u) | (0x010101u * (1 + below(40)));
            }
        }
        return out;
    }

    // Applies one random frame to both devices.
    void frame(SoftFixture& a, SoftFixture& b, int width, int height) {
        auto both = [&](auto&& call) {
            call(a);
            call(b);
        };
        uint32_t clear = colour();
        if (dark_ && below(4) != 0) clear |= below(2) ? 0xFF000000u : 0xFFFFFFFFu;
        both([&](SoftFixture& f) {
            f.device().SetRenderState(D3DRS_LIGHTING, FALSE);
            f.device().SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
            f.device().Clear(D3DCLEAR_TARGET, clear, 1.0f, 0);
        });
        // One set of textures per frame, the same contents in both devices.
        const int sizes[] = {1, 2, 4, 16, 64, 3, 48};
        std::vector<Direct3DTexture9*> texA, texB;
        for (int i = 0; i < 3; ++i) {
            int w = sizes[below(7)], h = sizes[below(7)];
            D3DFORMAT format = below(2) ? D3DFMT_A8R8G8B8 : D3DFMT_X8R8G8B8;
            std::vector<uint32_t> t = texels(w, h);
            texA.push_back(a.texture(w, h, t, format));
            texB.push_back(b.texture(w, h, t, format));
        }
        int quads = 1 + below(24);
        for (int q = 0; q < quads; ++q) {
            const DWORD ops[] = {D3DTOP_DISABLE,           emulated::kTopSelectArg1,
                                 emulated::kTopSelectArg2, D3DTOP_MODULATE,
                                 D3DTOP_MODULATE2X,        D3DTOP_MODULATE4X,
                                 emulated::kTopAdd};
            const DWORD args[] = {D3DTA_DIFFUSE, D3DTA_CURRENT, D3DTA_TEXTURE,
                                  emulated::kTaTFactor};
            DWORD blendOn = below(4) != 0, src = 1 + below(10), dest = 1 + below(10);
            if (below(3) == 0) src = dest = D3DBLEND_ONE;
            DWORD factor = colour();
            struct Stage {
                int texture;
                DWORD colourOp, arg1, arg2, alphaOp, alpha1, alpha2, minFilter, magFilter, address;
            } stages[2];
            for (Stage& s : stages) {
                s.texture = below(4) - 1;
                s.colourOp = ops[below(7)];
                s.arg1 = args[below(4)];
                s.arg2 = args[below(4)];
                s.alphaOp = below(2) ? emulated::kTopSelectArg1 : ops[below(7)];
                s.alpha1 = args[below(4)];
                s.alpha2 = args[below(4)];
                s.minFilter = below(3) ? D3DTEXF_LINEAR : emulated::kTexfPoint;
                s.magFilter = below(3) ? D3DTEXF_LINEAR : emulated::kTexfPoint;
                s.address = below(3) ? emulated::kAddressWrap : emulated::kAddressClamp;
            }
            if (stages[0].colourOp == D3DTOP_DISABLE) stages[0].colourOp = D3DTOP_MODULATE;
            if (below(2) == 0) {
                // The layers the show draws: a texture modulated with the diffuse colour, the
                // texture's alpha, one stage, and one of the show's blend modes.
                const DWORD showOps[] = {D3DTOP_MODULATE, D3DTOP_MODULATE2X, D3DTOP_MODULATE4X};
                const DWORD showBlends[4][2] = {{D3DBLEND_SRCCOLOR, D3DBLEND_INVSRCCOLOR},
                                                {D3DBLEND_ONE, D3DBLEND_ONE},
                                                {D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA},
                                                {D3DBLEND_ONE, emulated::kBlendFactorZero}};
                Stage& s0 = stages[0];
                s0.texture = below(3);
                s0.colourOp = showOps[below(3)];
                s0.arg1 = D3DTA_TEXTURE;
                s0.arg2 = below(2) ? D3DTA_DIFFUSE : D3DTA_CURRENT;
                s0.alphaOp = emulated::kTopSelectArg1;
                s0.alpha1 = D3DTA_TEXTURE;
                s0.minFilter = s0.magFilter = D3DTEXF_LINEAR;
                stages[1].colourOp = D3DTOP_DISABLE;
                int blend = below(4);
                src = showBlends[blend][0];
                dest = showBlends[blend][1];
            }
            // Positions from inside a pixel to far outside the target; texture coordinates
            // around 0..1 and now and then far off.
            float cx = between(-0.5f, width), cy = between(-0.5f, height);
            float half =
                below(5) == 0 ? between(width, 40.0f * width) : between(0.2f, width * 0.7f);
            float angle = between(0, 6.2831853f);
            float du = below(6) == 0 ? between(-300, 300) : 0;
            bool flat = below(2) == 0;
            uint32_t flatColour = colour();
            if (dark_ && below(2) == 0)
                flatColour = (flatColour & 0xFF000000u) | 0x010101u * below(91);
            std::vector<TestVertex> corners;
            const float signs[4][2] = {{-1, -1}, {1, -1}, {-1, 1}, {1, 1}};
            for (const auto& sgn : signs) {
                float px = cx + half * (sgn[0] * std::cos(angle) - sgn[1] * std::sin(angle));
                float py = cy + half * (sgn[0] * std::sin(angle) + sgn[1] * std::cos(angle));
                TestVertex v = a.screen(px, py, flat ? flatColour : colour());
                v.u0 = between(-0.2f, 1.2f) + du;
                v.v0 = between(-0.2f, 1.2f);
                v.u1 = between(-2, 2);
                v.v1 = between(-2, 2) - du;
                corners.push_back(v);
            }
            auto setup = [&](SoftFixture& f, std::vector<Direct3DTexture9*>& textures) {
                SoftDevice& d = f.device();
                d.SetRenderState(D3DRS_ALPHABLENDENABLE, blendOn);
                d.SetRenderState(D3DRS_SRCBLEND, src);
                d.SetRenderState(D3DRS_DESTBLEND, dest);
                d.SetRenderState(emulated::kRsTextureFactor, factor);
                for (DWORD s = 0; s < 2; ++s) {
                    const Stage& st = stages[s];
                    d.SetTexture(s, st.texture < 0 ? nullptr : textures[st.texture]);
                    d.SetTextureStageState(s, D3DTSS_COLOROP, st.colourOp);
                    d.SetTextureStageState(s, D3DTSS_COLORARG1, st.arg1);
                    d.SetTextureStageState(s, D3DTSS_COLORARG2, st.arg2);
                    d.SetTextureStageState(s, emulated::kTssAlphaOp, st.alphaOp);
                    d.SetTextureStageState(s, emulated::kTssAlphaArg1, st.alpha1);
                    d.SetTextureStageState(s, emulated::kTssAlphaArg2, st.alpha2);
                    d.SetSamplerState(s, D3DSAMP_MINFILTER, st.minFilter);
                    d.SetSamplerState(s, D3DSAMP_MAGFILTER, st.magFilter);
                    d.SetSamplerState(s, emulated::kSampAddressU, st.address);
                    d.SetSamplerState(s, emulated::kSampAddressV, st.address);
                }
                f.strip(corners);
            };
            setup(a, texA);
            setup(b, texB);
            // Now and then a texture changes between draws, as the video textures do.
            if (below(4) == 0) {
                int i = below(3);
                uint32_t value = colour();
                for (auto* list : {&texA, &texB}) {
                    auto* soft = dynamic_cast<SoftTexture*>((*list)[i]);
                    std::vector<uint32_t> fill(soft->texels().size(), value);
                    SoftFixture::fill(soft, static_cast<int>(soft->width()),
                                      static_cast<int>(soft->height()), fill);
                }
            }
        }
    }

  private:
    std::mt19937 random_;
    bool dark_;
};

TEST(FastPath, EqualsTheReferenceOnRandomScenes) {
    const int width = 61, height = 37;
    SoftFixture reference(width, height);
    SoftFixture quick(width, height, SoftFixture::fastOptions(3));
    RandomScenes scenes(20260);
    for (int frame = 0; frame < 300; ++frame) {
        scenes.frame(reference, quick, width, height);
        std::vector<uint32_t> expected = reference.pixels();
        std::vector<uint32_t> actual = quick.pixels();
        for (size_t i = 0; i < expected.size(); ++i) {
            ASSERT_EQ(actual[i], expected[i])
                << "frame " << frame << " pixel " << i % width << "," << i / width;
        }
    }
}

// Additive layers pass over white and over texture regions too dark to add anything; what they
// leave must still be the reference's bytes.
TEST(FastPath, EqualsTheReferenceOverDarkTexturesAndFullAlpha) {
    const int width = 97, height = 41;
    SoftFixture reference(width, height);
    SoftFixture quick(width, height, SoftFixture::fastOptions(2));
    RandomScenes scenes(4711, true);
    for (int frame = 0; frame < 300; ++frame) {
        scenes.frame(reference, quick, width, height);
        std::vector<uint32_t> expected = reference.pixels();
        std::vector<uint32_t> actual = quick.pixels();
        for (size_t i = 0; i < expected.size(); ++i) {
            ASSERT_EQ(actual[i], expected[i])
                << "frame " << frame << " pixel " << i % width << "," << i / width;
        }
    }
}

// The show's additive imprint layer: one stage modulating a bilinear texture with the diffuse
// colour, the texture's alpha, blended ONE / ONE.
void additiveLayer(SoftDevice& d, Direct3DTexture9* texture, DWORD op) {
    d.SetRenderState(D3DRS_LIGHTING, FALSE);
    d.SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    d.SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    d.SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
    d.SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
    d.SetTexture(0, texture);
    d.SetTextureStageState(0, D3DTSS_COLOROP, op);
    d.SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    d.SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    d.SetTextureStageState(0, emulated::kTssAlphaOp, emulated::kTopSelectArg1);
    d.SetTextureStageState(0, emulated::kTssAlphaArg1, D3DTA_TEXTURE);
    d.SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    d.SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    d.SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
}

// At the edge of black: a grey texel t under a grey colour d adds div255(k·t·d), which is 0 up
// to k·t·d = 127 and 1 from 128 on.
TEST(FastPath, AdditiveLayerAddsWhatRoundsAboveBlack) {
    SoftFixture f(64, 8, SoftFixture::fastOptions(1));
    SoftDevice& d = f.device();
    additiveLayer(d, nullptr, D3DTOP_MODULATE);
    const DWORD ops[] = {D3DTOP_MODULATE, D3DTOP_MODULATE2X, D3DTOP_MODULATE4X};
    for (uint32_t k = 0; k < 3; ++k) {
        d.SetTextureStageState(0, D3DTSS_COLOROP, ops[k]);
        uint32_t scale = 1u << k;
        for (uint32_t diffuse = 1; diffuse <= 90; ++diffuse) {
            for (uint32_t above = 0; above < 2; ++above) {
                uint32_t texel = std::min(127 / (scale * diffuse) + above, 255u);
                std::vector<uint32_t> grey(16 * 16, 0x010101u * texel);
                Direct3DTexture9* texture = f.texture(16, 16, grey, D3DFMT_X8R8G8B8);
                d.SetTexture(0, texture);
                d.Clear(D3DCLEAR_TARGET, 0xFF404040u, 1.0f, 0);
                f.rect(-1, -1, 70, 10, 0xFF000000u | 0x010101u * diffuse);
                uint32_t added = soft::div255(std::min(scale * texel * diffuse, 65025u));
                uint32_t expected = 0xFF000000u | 0x010101u * (0x40 + added);
                std::vector<uint32_t> pixels = f.pixels();
                for (uint32_t p : pixels) {
                    ASSERT_EQ(p, expected) << "op " << k << " diffuse " << diffuse;
                }
                d.SetTexture(0, nullptr);
                texture->Release();
            }
        }
    }
}

// A magnified texture, black on one side of a tile edge and bright on the other, slid across
// the screen step by step: the pixels that filter in a little of the bright side must get it.
TEST(FastPath, AdditiveLayerNearTheEdgeOfADarkRegion) {
    const int width = 96, height = 16;
    SoftFixture reference(width, height);
    SoftFixture quick(width, height, SoftFixture::fastOptions(1));
    std::vector<uint32_t> texels(32 * 32);
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) {
            bool bright = (x >= 20 && x < 28) || (y >= 12 && y < 14);
            texels[static_cast<size_t>(y) * 32 + x] = bright ? 0xFFC08040u : 0xFF000000u;
        }
    }
    Direct3DTexture9* texA = reference.texture(32, 32, texels, D3DFMT_X8R8G8B8);
    Direct3DTexture9* texB = quick.texture(32, 32, texels, D3DFMT_X8R8G8B8);
    for (int step = 0; step < 64; ++step) {
        float shift = static_cast<float>(step) / 97.0f;
        bool across = step % 2 == 0;
        for (auto [f, texture] : {std::pair{&reference, texA}, std::pair{&quick, texB}}) {
            SoftDevice& d = f->device();
            additiveLayer(d, texture, D3DTOP_MODULATE);
            d.SetSamplerState(0, emulated::kSampAddressU,
                              step % 3 ? emulated::kAddressWrap : emulated::kAddressClamp);
            d.Clear(D3DCLEAR_TARGET, 0xFF102030u, 1.0f, 0);
            // About a texel per six pixels along the row, a little slanted.
            float u0 = shift, u1 = shift + 0.5f, v0 = across ? 0.3f : 0.0f;
            f->strip({f->screen(-1, -1, 0xFFFFFFFFu, u0, v0),
                      f->screen(width + 1, -1, 0xFFFFFFFFu, u1, v0 + 0.02f),
                      f->screen(-1, height + 1, 0xFFFFFFFFu, u0, v0 + 0.1f),
                      f->screen(width + 1, height + 1, 0xFFFFFFFFu, u1, v0 + 0.12f)});
        }
        ASSERT_EQ(quick.pixels(), reference.pixels()) << "step " << step;
    }
}

// Additive layers settle whole stretches of a row at once where the texture's bright part
// cannot reach, and layers blended by their own colour pass over the blocks that read only dark
// texels: a blob in one corner of a dark texture, small spots scattered over it and two bright
// edges, with dim texels elsewhere that only the brighter colours lift above black, turned,
// magnified or shrunk up to two texels a pixel in every direction, wrapped or clamped, slid
// across the texture's edges. The layer starts and ends anywhere in a row, and now and then
// lands on patches whose alpha is not yet full, or on a target cleared to an alpha that is not,
// where black still brings the texture's alpha (all of it, for a texture without alpha); a
// second layer, shifted, goes over what the first left. Now and then the blob moves: what was
// known of the texture's dark parts must go with it. The larger texture has wide dark regions;
// its target has as many pixels as it has texels, so that its layers pass over them too.
void layersAroundABrightPart(int side, D3DFORMAT format, DWORD srcBlend, DWORD destBlend) {
    const int width = side > 64 ? side + 5 : 101, height = side > 64 ? side : 64;
    SoftFixture reference(width, height);
    SoftFixture quick(width, height, SoftFixture::fastOptions(3));
    auto paint = [side](int blobX) {
        std::vector<uint32_t> texels(size_t(side) * side);
        for (int y = 0; y < side; ++y) {
            for (int x = 0; x < side; ++x) {
                const int dx = x - blobX, dy = y - side * 25 / 32;
                const uint32_t alpha = uint32_t(x * 4 + y) & 0xFFu;
                // Bright stretches of the edges too: clamped, what lies beyond them reads
                // these; wrapped, the texels across the opposite edge read them.
                const bool edge = (x == side - 1 && y >= 20 && y < 40) ||
                                  (y == 0 && x >= 10 && x < 20) || (x == 0 && y >= 44 && y < 52) ||
                                  (y == side - 1 && x >= 30 && x < 36);
                // Spots at the corners of a tile, so that a footprint meets one as soon as it
                // reaches the tile.
                const bool spot = (x % 16 == 8 || x % 16 == 15) && (y % 16 == 8 || y % 16 == 15);
                texels[size_t(y) * side + x] =
                    (alpha << 24) | (dx * dx + dy * dy < 40 || edge || spot ? 0xE0A060u : 0u);
            }
        }
        texels[size_t(9) * side + 5] = 0xFF030201u;
        return texels;
    };
    std::vector<uint32_t> texels = paint(side * 11 / 16);
    Direct3DTexture9* texA = reference.texture(side, side, texels, format);
    Direct3DTexture9* texB = quick.texture(side, side, texels, format);
    std::mt19937 random(77);
    auto between = [&](float lo, float hi) {
        return std::uniform_real_distribution<float>(lo, hi)(random);
    };
    for (int step = 0; step < 240; ++step) {
        if (step % 60 == 59) {
            texels = paint(side * (step / 60 + 1) / 5);
            SoftFixture::fill(texA, side, side, texels);
            SoftFixture::fill(texB, side, side, texels);
        }
        const float angle = between(0, 6.2831853f);
        const float texelsPerPixel = between(0.05f, step % 4 ? 0.7f : 1.9f);
        const float reach = texelsPerPixel * width / side;
        const float cu = between(-0.5f, 1.5f), cv = between(-0.5f, 1.5f);
        const uint32_t grey = 0x010101u * uint32_t(random() % 256);
        const DWORD address = step % 2 ? emulated::kAddressWrap : emulated::kAddressClamp;
        // The whole target, or a part of it whose sides fall inside blocks of eight.
        const bool whole = step % 3 == 0;
        const float left = whole ? -2.0f : between(-2, width / 2.0f);
        const float right = whole ? width + 2.0f : between(width / 2.0f, width + 2.0f);
        const float top = whole ? -2.0f : between(-2, height / 2.0f);
        const float bottom = whole ? height + 2.0f : between(height / 2.0f, height + 2.0f);
        const bool patch = step % 5 < 2;
        const float px0 = between(-1, width), py0 = between(-1, height);
        const float px1 = px0 + between(1, 40), py1 = py0 + between(1, 20);
        const float shift = between(-20, 20);
        for (auto [f, texture] : {std::pair{&reference, texA}, std::pair{&quick, texB}}) {
            SoftDevice& d = f->device();
            d.Clear(D3DCLEAR_TARGET, step % 7 == 3 ? 0xC0203040u : 0xFF203040u, 1.0f, 0);
            if (patch) {
                d.SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
                d.SetTexture(0, nullptr);
                d.SetTextureStageState(0, D3DTSS_COLOROP, emulated::kTopSelectArg1);
                d.SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
                d.SetTextureStageState(0, emulated::kTssAlphaArg1, D3DTA_DIFFUSE);
                f->rect(px0, py0, px1, py1, 0x30102030u);
            }
            additiveLayer(d, texture, step % 3 ? D3DTOP_MODULATE4X : D3DTOP_MODULATE);
            d.SetRenderState(D3DRS_SRCBLEND, srcBlend);
            d.SetRenderState(D3DRS_DESTBLEND, destBlend);
            d.SetSamplerState(0, emulated::kSampAddressU, address);
            d.SetSamplerState(0, emulated::kSampAddressV, address);
            // Texture coordinates turned about (cu, cv).
            const float c = std::cos(angle) * reach, sn = std::sin(angle) * reach;
            for (const float dx : {0.0f, shift}) {
                std::vector<TestVertex> corners;
                for (auto [px, py] : {std::pair{left, top}, std::pair{right, top},
                                      std::pair{left, bottom}, std::pair{right, bottom}}) {
                    const float x = px / width - 0.5f, y = py / width - 0.5f;
                    corners.push_back(f->screen(px + dx, py, 0xFF000000u | grey,
                                                cu + c * x - sn * y, cv + sn * x + c * y));
                }
                f->strip(corners);
            }
        }
        ASSERT_EQ(quick.pixels(), reference.pixels())
            << "side " << side << ", format " << format << ", blend " << srcBlend << ", step "
            << step;
    }
}

TEST(FastPath, AdditiveLayerAroundABrightPartOfADarkTexture) {
    layersAroundABrightPart(64, D3DFMT_A8R8G8B8, D3DBLEND_ONE, D3DBLEND_ONE);
    layersAroundABrightPart(64, D3DFMT_X8R8G8B8, D3DBLEND_ONE, D3DBLEND_ONE);
    layersAroundABrightPart(256, D3DFMT_A8R8G8B8, D3DBLEND_ONE, D3DBLEND_ONE);
}

TEST(FastPath, LayerBlendedByItsColourAroundABrightPartOfADarkTexture) {
    layersAroundABrightPart(64, D3DFMT_X8R8G8B8, D3DBLEND_SRCCOLOR, D3DBLEND_INVSRCCOLOR);
    layersAroundABrightPart(64, D3DFMT_A8R8G8B8, D3DBLEND_SRCCOLOR, D3DBLEND_INVSRCCOLOR);
    layersAroundABrightPart(256, D3DFMT_X8R8G8B8, D3DBLEND_SRCCOLOR, D3DBLEND_INVSRCCOLOR);
}

// The show's layers whose texture is not turned against the screen read the same two texture
// rows all along a row: upright quads with edges inside pixel blocks, texels from several per
// pixel down to a few pixels each, textures smaller and larger than the window, wrapped and
// clamped, under each of the show's blend modes.
TEST(FastPath, UprightModulatedLayersEqualTheReference) {
    const int width = 83, height = 29;
    SoftFixture reference(width, height);
    SoftFixture quick(width, height, SoftFixture::fastOptions(2));
    RandomScenes colours(31337);
    std::mt19937 random(5);
    auto between = [&](float lo, float hi) {
        return std::uniform_real_distribution<float>(lo, hi)(random);
    };
    const DWORD ops[] = {D3DTOP_MODULATE, D3DTOP_MODULATE2X, D3DTOP_MODULATE4X};
    const DWORD blends[4][2] = {{D3DBLEND_SRCCOLOR, D3DBLEND_INVSRCCOLOR},
                                {D3DBLEND_ONE, D3DBLEND_ONE},
                                {D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA},
                                {D3DBLEND_ONE, emulated::kBlendFactorZero}};
    for (int step = 0; step < 200; ++step) {
        const int side = 4 << (step % 5), tall = 2 << (step % 4);
        std::vector<uint32_t> texels(static_cast<size_t>(side) * tall);
        for (uint32_t& t : texels) t = colours.colour();
        const DWORD address = step % 3 ? emulated::kAddressWrap : emulated::kAddressClamp;
        const float x0 = between(-3, width / 2.0f), x1 = between(width / 2.0f, width + 3);
        const float y0 = between(-3, height / 2.0f), y1 = between(height / 2.0f, height + 3);
        // Texels per pixel along the row from about 3 down to 1/8.
        const float across = (x1 - x0) * between(0.125f, 3.0f) / side;
        const float u0 = between(-2, 2), v0 = between(-2, 2), v1 = v0 + between(-1, 1);
        const uint32_t top = colours.colour(), bottom = step % 2 ? top : colours.colour();
        const int blend = step % 4;
        const uint32_t clear = colours.colour();
        for (SoftFixture* f : {&reference, &quick}) {
            SoftDevice& d = f->device();
            d.Clear(D3DCLEAR_TARGET, clear, 1.0f, 0);
            Direct3DTexture9* texture = f->texture(side, tall, texels, D3DFMT_A8R8G8B8);
            additiveLayer(d, texture, ops[step % 3]);
            d.SetRenderState(D3DRS_SRCBLEND, blends[blend][0]);
            d.SetRenderState(D3DRS_DESTBLEND, blends[blend][1]);
            d.SetSamplerState(0, emulated::kSampAddressU, address);
            d.SetSamplerState(0, emulated::kSampAddressV, address);
            // Colours that change from row to row only, or not at all.
            f->strip({f->screen(x0, y0, top, u0, v0), f->screen(x1, y0, top, u0 + across, v0),
                      f->screen(x0, y1, bottom, u0, v1),
                      f->screen(x1, y1, bottom, u0 + across, v1)});
            d.SetTexture(0, nullptr);
            texture->Release();
        }
        ASSERT_EQ(quick.pixels(), reference.pixels()) << "step " << step;
    }
}

TEST(FastPath, ThreadCountDoesNotChangeTheResult) {
    const int width = 96, height = 80;
    SoftFixture a(width, height, SoftFixture::fastOptions(1));
    SoftFixture b(width, height, SoftFixture::fastOptions(4));
    RandomScenes scenes(99);
    for (int frame = 0; frame < 40; ++frame) {
        scenes.frame(a, b, width, height);
        ASSERT_EQ(a.pixels(), b.pixels()) << "frame " << frame;
    }
}

}  // namespace
