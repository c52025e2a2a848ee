// With worker threads the CPU renderer draws batches while the show goes on: frames reach the
// sink a Present late, and textures that change under batches still being drawn are sampled as
// they were when the draws were made.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "soft_fixture.h"

namespace {

// Keeps every frame it is given, with the number it was filed under.
class KeepingSink : public FrameSink {
  public:
    void presentFrame(const uint32_t* pixels, int width, int height) override {
        presentLateFrame(next_, pixels, width, height);
    }
    uint64_t presentingFrame() const override { return next_; }
    void presentLateFrame(uint64_t frame, const uint32_t* pixels, int width, int height) override {
        frames.emplace_back(frame, std::vector<uint32_t>(pixels, pixels + width * height));
    }

    // The number the next Present's frame is filed under (0: the sink wants none).
    uint64_t next_ = 1;
    std::vector<std::pair<uint64_t, std::vector<uint32_t>>> frames;
};

TEST(Batches, FramesReachTheSinkAPresentLateWithTheirOwnPixels) {
    KeepingSink sink;
    SoftFixture f(16, 12, SoftFixture::fastOptions(3, &sink));
    f.unlit();
    for (uint32_t k = 1; k <= 4; ++k) {
        sink.next_ = k == 3 ? 0 : 10 + k;  // the third frame is not wanted
        f.device().Clear(D3DCLEAR_TARGET, 0xFF000000u | k, 1.0f, 0);
        f.rect(0, 0, 8, 12, 0xFF000000u | (k << 8));
        f.device().Present();
        // Frame k arrives at Present k + 1: the show may draw k + 1 meanwhile.
        ASSERT_EQ(sink.frames.size(), k == 1 ? 0u : (k <= 3 ? k - 1 : 2u)) << "present " << k;
    }
    // Whatever is still being drawn arrives when the frames are finished, and only once.
    f.graphics().finishFrames();
    f.graphics().finishFrames();
    ASSERT_EQ(sink.frames.size(), 3u);
    const uint64_t numbers[] = {11, 12, 14};
    const uint32_t colours[] = {1, 2, 4};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(sink.frames[i].first, numbers[i]);
        const std::vector<uint32_t>& pixels = sink.frames[i].second;
        EXPECT_EQ(pixels[0], 0xFF000000u | (colours[i] << 8));
        EXPECT_EQ(pixels[15], 0xFF000000u | colours[i]);
    }

    // A Present with drawing off hands over the frame drawn before it.
    f.device().Present();
    f.graphics().setRasterizing(false);
    f.device().Present();
    EXPECT_EQ(sink.frames.size(), 4u);
}

// A texture changed between draws, by a lock and by a copy, with every change while batches
// may still be drawing: each draw must show the texture as it was when the draw was made,
// exactly as the reference drawing everything at once on one thread does.
void drawChangingTexture(SoftFixture& f, bool present) {
    f.unlit();
    Direct3DTexture9* staging = nullptr;
    Direct3DTexture9* shown = nullptr;
    f.graphics().D3DXCreateTexture(&f.device(), 8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM,
                                   &staging, nullptr);
    f.graphics().D3DXCreateTexture(&f.device(), 8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT,
                                   &shown, nullptr);
    std::vector<uint32_t> texels(64);
    for (size_t i = 0; i < texels.size(); ++i) texels[i] = 0xFF000000u | uint32_t(i * 0x030507);
    SoftFixture::fill(shown, 8, 8, texels);
    f.device().SetTexture(0, shown);
    f.device().SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    f.device().SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    f.device().SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    f.device().SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    f.device().SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
    f.device().SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
    f.device().Clear(D3DCLEAR_TARGET, 0xFF000000u, 1.0f, 0);
    for (int step = 0; step < 40; ++step) {
        const float y = float(step % 20) * 3.0f;
        f.rect(float(step % 7), y, 40.0f + float(step % 5) * 9.0f, y + 11.0f, 0xFF404040u);
        if (step % 2 == 0) {
            // One texel by a lock: the others must stay as they were.
            D3DLOCKED_RECT locked{};
            ASSERT_EQ(shown->LockRect(0, &locked, nullptr, 0), S_OK);
            static_cast<uint32_t*>(locked.pBits)[(step * 5) % 64] = 0xFFFFFFFFu;
            shown->UnlockRect(0);
        } else {
            for (uint32_t& t : texels) t = (t * 7u + 0x00112233u) | 0xFF000000u;
            SoftFixture::fill(staging, 8, 8, texels);
            ASSERT_EQ(f.device().UpdateTexture(staging, shown), S_OK);
        }
        if (present && step % 9 == 8) {
            f.device().Present();
            f.device().Clear(D3DCLEAR_TARGET, 0xFF000000u | uint32_t(step), 1.0f, 0);
        }
    }
}

TEST(Batches, TexturesChangingUnderBatchesInFlightAreSampledAsTheyWere) {
    for (bool present : {false, true}) {
        SoftFixture reference(96, 64);
        drawChangingTexture(reference, present);
        for (int threads : {2, 3, 5}) {
            KeepingSink sink;
            SoftFixture f(96, 64, SoftFixture::fastOptions(threads, &sink));
            drawChangingTexture(f, present);
            EXPECT_EQ(f.pixels(), reference.pixels()) << threads << " threads";
        }
    }
}

}  // namespace
