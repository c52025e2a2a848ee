#include "painting/render_state_cache.h"

#include "painting_fixture.h"

namespace {

class RenderStateCacheTest : public PaintingTest {
  protected:
    void SetUp() override {
        PaintingTest::SetUp();
        device = makeDevice();
        D3DXCreateTextureFromFileA(device, "data//paper1.jpg", &paper);
        D3DXCreateTextureFromFileA(device, "data//brushes//brush2.jpg", &detail);
        recorder.clearLines();
    }
    Direct3DDevice9* device = nullptr;
    Direct3DTexture9* paper = nullptr;
    Direct3DTexture9* detail = nullptr;
};

const Lines kNineDefaults = {
    "SetRenderState device1 27 0 -> 0",        "SetRenderState device1 19 3 -> 0",
    "SetRenderState device1 20 4 -> 0",        "SetTextureStageState device1 0 1 4 -> 0",
    "SetTextureStageState device1 0 2 0 -> 0", "SetTextureStageState device1 0 3 1 -> 0",
    "SetTextureStageState device1 1 1 1 -> 0", "SetTextureStageState device1 1 2 0 -> 0",
    "SetTextureStageState device1 1 3 1 -> 0",
};

TEST_F(RenderStateCacheTest, ConstructionAndResetSendTheNineDefaultsAndNoTexture) {
    RenderStateCache cache(device);
    EXPECT_EQ(takeLines(), kNineDefaults);
    cache.setTexture(paper, 0);
    cache.setBlend(1, D3DBLEND_ONE, D3DBLEND_ONE);
    recorder.clearLines();
    cache.resetDefaults();
    EXPECT_EQ(takeLines(), kNineDefaults);

    // The device still holds the paper while the cache records none: unbinding is not sent, a
    // real texture is.
    cache.setTexture(nullptr, 0);
    EXPECT_EQ(takeLines(), Lines{});
    cache.setTexture(paper, 0);
    EXPECT_EQ(takeLines(), Lines{"SetTexture device1 0 \"data//paper1.jpg\" -> 0"});
}

TEST_F(RenderStateCacheTest, SettersSendOnlyWhatDiffers) {
    RenderStateCache cache(device);
    recorder.clearLines();
    cache.setBlend(1, kKeepState, kKeepState);
    EXPECT_EQ(takeLines(), Lines{"SetRenderState device1 27 1 -> 0"});
    EXPECT_EQ(cache.srcBlend, 3);
    EXPECT_EQ(cache.destBlend, 4);

    cache.setBlend(1, D3DBLEND_ONE, D3DBLEND_ONE);
    cache.setBlend(1, D3DBLEND_ONE, D3DBLEND_ONE);
    cache.setStageColour(kKeepState, kKeepState, kKeepState, 0);
    cache.setStageColour(D3DTOP_DISABLE, D3DTA_TEXTURE, kKeepState, 1);
    cache.setTexture(detail, 1);
    cache.setTexture(detail, 1);
    EXPECT_EQ(takeLines(),
              (Lines{"SetRenderState device1 19 2 -> 0", "SetRenderState device1 20 2 -> 0",
                     "SetTextureStageState device1 1 2 2 -> 0",
                     "SetTexture device1 1 \"data//brushes//brush2.jpg\" -> 0"}));

    // The cache never asks the device: a rejected state is cached all the same.
    recorder.queueResult("SetRenderState", D3DERR_INVALIDCALL);
    cache.setBlend(0, kKeepState, kKeepState);
    cache.setBlend(0, kKeepState, kKeepState);
    EXPECT_EQ(takeLines(), Lines{"SetRenderState device1 27 0 -> 0x8876086C"});
}

TEST_F(RenderStateCacheTest, RestoreSendsOnlyTheDifferencesInStateOrder) {
    RenderStateCache cache(device);
    cache.setTexture(paper, 0);
    cache.setBlend(1, D3DBLEND_SRCCOLOR, D3DBLEND_INVSRCCOLOR);
    cache.setStageColour(D3DTOP_MODULATE4X, D3DTA_TEXTURE, D3DTA_DIFFUSE, 0);
    RenderStateSnapshot saved = cache.snapshot();

    cache.setStageColour(D3DTOP_MODULATE, kKeepState, D3DTA_CURRENT, 0);
    cache.setTexture(detail, 1);
    cache.setStageColour(D3DTOP_MODULATE, kKeepState, kKeepState, 1);
    cache.setBlend(1, D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA);
    cache.setTexture(detail, 0);
    cache.setTexture(paper, 0);
    recorder.clearLines();
    cache.restore(saved);
    EXPECT_EQ(
        takeLines(),
        (Lines{"SetRenderState device1 19 3 -> 0", "SetRenderState device1 20 4 -> 0",
               "SetTextureStageState device1 0 1 6 -> 0", "SetTextureStageState device1 0 3 0 -> 0",
               "SetTexture device1 1 none -> 0", "SetTextureStageState device1 1 1 1 -> 0"}));
    EXPECT_TRUE(cache.alphaBlendEnable == 1 && cache.srcBlend == 3 && cache.destBlend == 4);
    EXPECT_TRUE(cache.texture[0] == paper && cache.texture[1] == nullptr);
    EXPECT_TRUE(cache.colorOp[0] == 6 && cache.colorArg1[0] == 2 && cache.colorArg2[0] == 0);
    EXPECT_TRUE(cache.colorOp[1] == 1 && cache.colorArg1[1] == 0 && cache.colorArg2[1] == 1);
    cache.restore(saved);
    EXPECT_EQ(takeLines(), Lines{});
}

}  // namespace
