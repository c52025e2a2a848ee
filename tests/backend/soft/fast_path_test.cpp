// The fast path (threads in bands, AVX2 where the processor has it) must give the reference
// path's bytes exactly, whatever the scene.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>

#include "soft_fixture.h"

namespace {

class RandomScenes {
  public:
    explicit RandomScenes(uint32_t seed) : random_(seed) {}

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
    std::vector<uint32_t> texels(int count) {
        std::vector<uint32_t> out(static_cast<size_t>(count));
        for (uint32_t& t : out) t = colour();
        return out;
    }

    // Applies one random frame to both devices.
    void frame(SoftFixture& a, SoftFixture& b, int width, int height) {
        auto both = [&](auto&& call) {
            call(a);
            call(b);
        };
        uint32_t clear = colour();
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
            std::vector<uint32_t> t = texels(w * h);
            texA.push_back(a.texture(w, h, t, format));
            texB.push_back(b.texture(w, h, t, format));
        }
        int quads = 1 + below(24);
        for (int q = 0; q < quads; ++q) {
            const DWORD ops[] = {D3DTOP_DISABLE,  soft::kTopSelectArg1, soft::kTopSelectArg2,
                                 D3DTOP_MODULATE, D3DTOP_MODULATE2X,    D3DTOP_MODULATE4X,
                                 soft::kTopAdd};
            const DWORD args[] = {D3DTA_DIFFUSE, D3DTA_CURRENT, D3DTA_TEXTURE, soft::kTaTFactor};
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
                s.alphaOp = below(2) ? soft::kTopSelectArg1 : ops[below(7)];
                s.alpha1 = args[below(4)];
                s.alpha2 = args[below(4)];
                s.minFilter = below(3) ? D3DTEXF_LINEAR : soft::kTexfPoint;
                s.magFilter = below(3) ? D3DTEXF_LINEAR : soft::kTexfPoint;
                s.address = below(3) ? soft::kAddressWrap : soft::kAddressClamp;
            }
            if (stages[0].colourOp == D3DTOP_DISABLE) stages[0].colourOp = D3DTOP_MODULATE;
            if (below(2) == 0) {
                // The layers the show draws: a texture modulated with the diffuse colour, the
                // texture's alpha, one stage, and one of the show's blend modes.
                const DWORD showOps[] = {D3DTOP_MODULATE, D3DTOP_MODULATE2X, D3DTOP_MODULATE4X};
                const DWORD showBlends[4][2] = {{D3DBLEND_SRCCOLOR, D3DBLEND_INVSRCCOLOR},
                                                {D3DBLEND_ONE, D3DBLEND_ONE},
                                                {D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA},
                                                {D3DBLEND_ONE, soft::kBlendFactorZero}};
                Stage& s0 = stages[0];
                s0.texture = below(3);
                s0.colourOp = showOps[below(3)];
                s0.arg1 = D3DTA_TEXTURE;
                s0.arg2 = below(2) ? D3DTA_DIFFUSE : D3DTA_CURRENT;
                s0.alphaOp = soft::kTopSelectArg1;
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
                d.SetRenderState(soft::kRsTextureFactor, factor);
                for (DWORD s = 0; s < 2; ++s) {
                    const Stage& st = stages[s];
                    d.SetTexture(s, st.texture < 0 ? nullptr : textures[st.texture]);
                    d.SetTextureStageState(s, D3DTSS_COLOROP, st.colourOp);
                    d.SetTextureStageState(s, D3DTSS_COLORARG1, st.arg1);
                    d.SetTextureStageState(s, D3DTSS_COLORARG2, st.arg2);
                    d.SetTextureStageState(s, soft::kTssAlphaOp, st.alphaOp);
                    d.SetTextureStageState(s, soft::kTssAlphaArg1, st.alpha1);
                    d.SetTextureStageState(s, soft::kTssAlphaArg2, st.alpha2);
                    d.SetSamplerState(s, D3DSAMP_MINFILTER, st.minFilter);
                    d.SetSamplerState(s, D3DSAMP_MAGFILTER, st.magFilter);
                    d.SetSamplerState(s, soft::kSampAddressU, st.address);
                    d.SetSamplerState(s, soft::kSampAddressV, st.address);
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
};

TEST(FastPath, EqualsTheReferenceOnRandomScenes) {
    const int width = 61, height = 37;
    SoftOptions fast;
    fast.threads = 3;
    fast.reference = false;
    SoftFixture reference(width, height);
    SoftFixture quick(width, height, fast);
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

TEST(FastPath, ThreadCountDoesNotChangeTheResult) {
    const int width = 96, height = 80;
    SoftOptions one = SoftFixture::referenceOptions();
    one.reference = false;
    SoftOptions four = one;
    four.threads = 4;
    SoftFixture a(width, height, one);
    SoftFixture b(width, height, four);
    RandomScenes scenes(99);
    for (int frame = 0; frame < 40; ++frame) {
        scenes.frame(a, b, width, height);
        ASSERT_EQ(a.pixels(), b.pixels()) << "frame " << frame;
    }
}

}  // namespace
