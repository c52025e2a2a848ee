// The fixed-function results of the CPU renderer on tiny targets: where pixels sample texels,
// which pixels a triangle owns, the stage operations, blending, culling and clipping.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "backend/soft/raster.h"
#include "soft_fixture.h"

namespace {

uint32_t argb(uint32_t a, uint32_t r, uint32_t g, uint32_t b) {
    return (a << 24) | (r << 16) | (g << 8) | b;
}

// Texel (x, y) of the 4 × 4 test picture: every channel distinct.
uint32_t texel4(int x, int y) {
    return argb(255, 16 * x + 8, 16 * y + 100, 60 * x + 7 * y);
}

std::vector<uint32_t> picture4() {
    std::vector<uint32_t> texels;
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 4; ++x) texels.push_back(texel4(x, y));
    }
    return texels;
}

// The average of four texels at a texel corner, channel by channel: the two upper and the two
// lower texels are averaged (halves rounded up), then those two averages.
uint32_t average(uint32_t topLeft, uint32_t topRight, uint32_t bottomLeft, uint32_t bottomRight) {
    uint32_t out = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        uint32_t top = (channel(topLeft, shift) + channel(topRight, shift) + 1) / 2;
        uint32_t bottom = (channel(bottomLeft, shift) + channel(bottomRight, shift) + 1) / 2;
        out |= ((top + bottom + 1) / 2) << shift;
    }
    return out;
}

class FullScreenQuad : public ::testing::Test {
  protected:
    FullScreenQuad() : f(4, 4) {
        f.unlit();
        f.device().SetTexture(0, f.texture(4, 4, picture4()));
        f.device().SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    }

    void drawQuad() { f.rect(0, 0, 4, 4, 0xFFFFFFFF); }

    SoftFixture f;
};

TEST_F(FullScreenQuad, LinearWrapAveragesAcrossTheOppositeEdges) {
    f.device().SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    f.device().SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    drawQuad();
    EXPECT_EQ(f.pixel(0, 0), average(texel4(3, 3), texel4(0, 3), texel4(3, 0), texel4(0, 0)));
    EXPECT_EQ(f.pixel(1, 1), average(texel4(0, 0), texel4(1, 0), texel4(0, 1), texel4(1, 1)));
    EXPECT_EQ(f.pixel(3, 2), average(texel4(2, 1), texel4(3, 1), texel4(2, 2), texel4(3, 2)));
}

TEST_F(FullScreenQuad, LinearClampTakesTheEdgeTexel) {
    f.device().SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    f.device().SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    f.device().SetSamplerState(0, emulated::kSampAddressU, emulated::kAddressClamp);
    f.device().SetSamplerState(0, emulated::kSampAddressV, emulated::kAddressClamp);
    drawQuad();
    EXPECT_EQ(f.pixel(0, 0), texel4(0, 0));
    EXPECT_EQ(f.pixel(1, 1), average(texel4(0, 0), texel4(1, 0), texel4(0, 1), texel4(1, 1)));
}

TEST_F(FullScreenQuad, PointSamplingTakesTheTexelUnderThePixel) {
    drawQuad();
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 4; ++x) EXPECT_EQ(f.pixel(x, y), texel4(x, y)) << x << "," << y;
    }
}

TEST_F(FullScreenQuad, WrapRepeatsTheTexture) {
    // u and v from 1 to 3: two repeats over the four pixels, so pixel x shows texel 2x mod 4.
    f.strip({f.screen(0, 0, 0xFFFFFFFF, 1, 1), f.screen(4, 0, 0xFFFFFFFF, 3, 1),
             f.screen(0, 4, 0xFFFFFFFF, 1, 3), f.screen(4, 4, 0xFFFFFFFF, 3, 3)});
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 4; ++x) EXPECT_EQ(f.pixel(x, y), texel4((2 * x) % 4, (2 * y) % 4));
    }
}

// ---- coverage ----

TEST(FillRule, TwoTrianglesSharingADiagonalFillTheSquareOnce) {
    SoftFixture f(8, 8);
    f.unlit();
    f.device().SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    f.device().SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
    f.device().Clear(D3DCLEAR_TARGET, 0, 1.0f, 0);
    f.draw({f.screen(0, 0, 0x00010000), f.screen(5, 0, 0x00010000), f.screen(5, 5, 0x00010000)},
           emulated::kPrimitiveTriangleList);
    f.draw({f.screen(0, 5, 0x00000001), f.screen(0, 0, 0x00000001), f.screen(5, 5, 0x00000001)},
           emulated::kPrimitiveTriangleList);
    int first = 0, second = 0, both = 0;
    for (uint32_t p : f.pixels()) {
        bool a = channel(p, 16) != 0, b = channel(p, 0) != 0;
        EXPECT_LE(channel(p, 16), 1u);
        EXPECT_LE(channel(p, 0), 1u);
        first += a;
        second += b;
        both += a && b;
    }
    EXPECT_EQ(first, 15);
    EXPECT_EQ(second, 10);
    EXPECT_EQ(both, 0);
    // The square is pixels 0..4 in each direction.
    EXPECT_NE(f.pixel(4, 4), 0u);
    EXPECT_EQ(f.pixel(5, 0), 0u);
    EXPECT_EQ(f.pixel(0, 5), 0u);
}

// A mesh of strips with shared, randomly placed inner vertices and its border on the target's
// outer pixel edges: every pixel must be hit exactly once.
TEST(FillRule, StripsOfSmallQuadsLeaveNoHoleAndNoDoubleHit) {
    const int size = 48, cells = 12;
    SoftFixture f(size, size);
    f.unlit();
    f.device().SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    f.device().SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
    f.device().Clear(D3DCLEAR_TARGET, 0, 1.0f, 0);
    std::srand(7);
    float gx[cells + 1][cells + 1], gy[cells + 1][cells + 1];
    const float step = static_cast<float>(size) / cells;
    for (int j = 0; j <= cells; ++j) {
        for (int i = 0; i <= cells; ++i) {
            // Quarter-pixel positions make many centres fall exactly on edges.
            float jitterX = (i == 0 || i == cells) ? 0 : (std::rand() % 9 - 4) * 0.25f;
            float jitterY = (j == 0 || j == cells) ? 0 : (std::rand() % 9 - 4) * 0.25f;
            gx[j][i] = i * step - 0.5f + jitterX;
            gy[j][i] = j * step - 0.5f + jitterY;
        }
    }
    for (int j = 0; j < cells; ++j) {
        std::vector<TestVertex> strip;
        for (int i = 0; i <= cells; ++i) {
            strip.push_back(f.screen(gx[j][i], gy[j][i], 0x01010101));
            strip.push_back(f.screen(gx[j + 1][i], gy[j + 1][i], 0x01010101));
        }
        ASSERT_EQ(f.strip(strip), S_OK);
    }
    for (uint32_t p : f.pixels()) ASSERT_EQ(p, 0x01010101u);
}

// The rows of a triangle are walked with the edges' bounds stepped from row to row; each run
// must be the one solved for its row alone: triangles of every size and slope, slivers, edges
// exactly along a row or a column, corners on quarter pixels and far outside the target.
TEST(FillRule, RunsSteppedFromRowToRowAreThoseOfEachRowAlone) {
    // A power of two, so that quarter pixels are exact in clip space too.
    const int size = 64;
    const soft::Viewport viewport{0, 0, size, size, 0.0f, 1.0f};
    const soft::PixelState state;
    std::srand(11);
    // A clip coordinate: on a quarter pixel of the target or near it (where edges pass exactly
    // through pixel centres), anywhere in it, or up to 40 targets away.
    auto coordinate = [](bool far) {
        if (far) return (static_cast<float>(std::rand() % 2001) / 1000.0f - 1.0f) * 40;
        if (std::rand() % 2) return static_cast<float>(std::rand() % 2001) / 1000.0f - 1.0f;
        return static_cast<float>(std::rand() % (4 * size + 17) - 8) / (2 * size) - 1.0f;
    };
    int rows = 0;
    for (int n = 0; n < 3000; ++n) {
        soft::ClipVertex v[3] = {};
        for (soft::ClipVertex& c : v) {
            c.x = coordinate(n % 3 == 0 && std::rand() % 2);
            c.y = coordinate(n % 3 == 0 && std::rand() % 2);
            c.w = 1.0f;
        }
        if (n % 5 == 1) v[1].y = v[0].y;  // an edge along a row
        if (n % 5 == 2) v[2].x = v[0].x;  // an edge along a column
        std::vector<soft::Triangle> made;
        soft::setupTriangle(v[0], v[1], v[2], viewport, D3DCULL_NONE, 0, state, size, size, &made);
        for (const soft::Triangle& tri : made) {
            // From the first row and from one further down, as the blocks of rows start.
            for (int from : {tri.y0, (tri.y0 + tri.y1) / 2}) {
                soft::RowSpans spans(tri, from, size);
                for (int y = from; y <= tri.y1; ++y, ++rows) {
                    soft::Span stepped{}, alone{};
                    const bool a = spans.next(&stepped), b = soft::rowSpan(tri, y, size, &alone);
                    ASSERT_EQ(a, b) << "triangle " << n << ", row " << y;
                    if (!a) continue;
                    ASSERT_EQ(stepped.x0, alone.x0) << "triangle " << n << ", row " << y;
                    ASSERT_EQ(stepped.x1, alone.x1) << "triangle " << n << ", row " << y;
                    ASSERT_EQ(stepped.y, y);
                }
            }
        }
    }
    EXPECT_GT(rows, 10000);
}

TEST(Culling, DefaultCullsCounterClockwiseOnScreen) {
    SoftFixture f(4, 4);
    f.device().SetRenderState(D3DRS_LIGHTING, FALSE);
    // Top-left, top-right, bottom-left as a strip: clockwise on screen, drawn.
    f.rect(0, 0, 4, 4, 0xFF123456);
    EXPECT_EQ(f.pixel(1, 1), 0xFF123456u);
    f.device().Clear(D3DCLEAR_TARGET, 0, 1.0f, 0);
    // Mirrored: counter-clockwise, culled.
    f.strip({f.screen(0, 0, 0xFF123456), f.screen(0, 4, 0xFF123456), f.screen(4, 0, 0xFF123456),
             f.screen(4, 4, 0xFF123456)});
    EXPECT_EQ(f.pixel(1, 1), 0u);
    f.device().SetRenderState(D3DRS_CULLMODE, D3DCULL_CW);
    f.strip({f.screen(0, 0, 0xFF123456), f.screen(0, 4, 0xFF123456), f.screen(4, 0, 0xFF123456),
             f.screen(4, 4, 0xFF123456)});
    EXPECT_EQ(f.pixel(1, 1), 0xFF123456u);
}

// ---- stages ----

TEST(Stages, UnboundTexturePassesTheDiffuseColourAndAlpha) {
    SoftFixture f(4, 4);
    f.unlit();
    f.rect(0, 0, 4, 4, 0x80FF0000);
    EXPECT_EQ(f.pixel(2, 2), 0x80FF0000u);
}

TEST(Stages, LightingLeftOnGivesBlackWithTheVertexAlpha) {
    SoftFixture f(4, 4);
    f.device().SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    f.rect(0, 0, 4, 4, 0x80FFFFFF);
    EXPECT_EQ(f.pixel(2, 2), 0x80000000u);
}

TEST(Stages, TextureWithoutAlphaGivesOpaqueAlphaWhenOnlyTheColourOpChanges) {
    SoftFixture f(4, 4);
    f.unlit();
    f.device().SetTexture(0, f.texture(1, 1, {0x00808080}, D3DFMT_X8R8G8B8));
    f.device().SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    f.rect(0, 0, 4, 4, 0x40FFFFFF);
    EXPECT_EQ(f.pixel(1, 1), 0xFF808080u);
}

struct StageCase {
    DWORD op;
    uint32_t texel;
    uint32_t diffuse;
    uint32_t expected;
};

TEST(Stages, ColourOperationsOnHandComputedValues) {
    // 191 × 204 / 255 = 152.8; doubled 305.6 saturates; 64 × 100 / 255 = 25.1, × 4 = 100.4.
    const StageCase cases[] = {
        {D3DTOP_MODULATE, 0xFFBF4000, 0x80CC6440, 0xFF991900},
        {D3DTOP_MODULATE2X, 0xFFBF4000, 0x80CC6440, 0xFFFF3200},
        {D3DTOP_MODULATE4X, 0xFFBF4010, 0x80CC6440, 0xFFFF6410},
        {emulated::kTopSelectArg1, 0xFFBF4000, 0x80CC6440, 0xFFBF4000},
        {emulated::kTopSelectArg2, 0xFFBF4000, 0x80CC6440, 0xFFCC6440},
    };
    for (const StageCase& c : cases) {
        SoftFixture f(2, 2);
        f.unlit();
        f.device().SetTexture(0, f.texture(1, 1, {c.texel}));
        f.device().SetTextureStageState(0, D3DTSS_COLOROP, c.op);
        f.device().SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
        f.rect(0, 0, 2, 2, c.diffuse);
        EXPECT_EQ(f.pixel(0, 0), c.expected) << "op " << c.op;
    }
}

TEST(Stages, SecondStageWorksOnTheFirstStagesResult) {
    SoftFixture f(2, 2);
    f.unlit();
    // Stage 0 selects the texture; stage 1 modulates it twice with the diffuse colour.
    f.device().SetTexture(0, f.texture(1, 1, {0xFF804020}));
    f.device().SetTextureStageState(0, D3DTSS_COLOROP, emulated::kTopSelectArg1);
    f.device().SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_MODULATE2X);
    f.device().SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_CURRENT);
    f.device().SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    f.rect(0, 0, 2, 2, 0x20FF8080);
    // Red 128 × 255 × 2 → 255; green 64 × 128 × 2 / 255 → 64; blue 32 → 32. Alpha: stage 1's
    // alpha is off, so stage 0's texture alpha passes.
    EXPECT_EQ(f.pixel(1, 1), 0xFFFF4020u);
}

TEST(Stages, DiffuseIsInterpolatedAcrossTheQuad) {
    SoftFixture f(5, 1);
    f.unlit();
    // Red 0 at pixel 0 to 200 at pixel 4: 50 per pixel.
    f.strip({f.screen(0, -0.5f, 0xFF000000), f.screen(4, -0.5f, 0xFFC80000),
             f.screen(0, 0.5f, 0xFF000000), f.screen(4, 0.5f, 0xFFC80000)});
    for (int x = 0; x < 4; ++x) EXPECT_EQ(channel(f.pixel(x, 0), 16), 50u * x) << x;
}

// ---- blending ----

struct BlendCase {
    DWORD src;
    DWORD dest;
    uint32_t expected;
};

TEST(Blending, EveryFactorOnAllFourChannels) {
    // Source (1, 0.25, 0.5, 0.5) as bytes (255, 64, 128, 128) over (0.2, 0.4, 1, 1) =
    // (51, 102, 255, 255). Each expected byte is hand-computed and rounded to nearest.
    const uint32_t src = 0x80FF4080, dst = 0xFF3366FF;
    const BlendCase cases[] = {
        {D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA, 0xBF9953BF},  // A: 128·128+255·127
        {D3DBLEND_ONE, emulated::kBlendFactorZero, src},
        {emulated::kBlendFactorZero, D3DBLEND_ONE, dst},
        {D3DBLEND_ONE, D3DBLEND_ONE, 0xFFFFA6FF},
        {D3DBLEND_SRCCOLOR, D3DBLEND_INVSRCCOLOR, 0xBFFF5CBF},
        {emulated::kBlendFactorDestColor, emulated::kBlendFactorZero, 0x80331A80},
        {emulated::kBlendFactorInvDestColor, D3DBLEND_ONE, 0xFFFF8CFF},
        {emulated::kBlendFactorDestAlpha, emulated::kBlendFactorInvDestAlpha, src},
        {D3DBLEND_INVSRCALPHA, D3DBLEND_SRCALPHA, 0xC09953C0},
    };
    for (const BlendCase& c : cases) {
        SoftFixture f(2, 2);
        f.unlit();
        f.device().Clear(D3DCLEAR_TARGET, dst, 1.0f, 0);
        f.device().SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
        f.device().SetRenderState(D3DRS_SRCBLEND, c.src);
        f.device().SetRenderState(D3DRS_DESTBLEND, c.dest);
        f.rect(0, 0, 2, 2, src);
        EXPECT_EQ(f.pixel(0, 0), c.expected) << c.src << "/" << c.dest;
    }
}

// ---- clipping ----

TEST(Clipping, QuadsFarLargerThanTheScreenCoverEveryPixelOnce) {
    for (float scale : {1000.0f, 3.0e5f}) {
        SoftFixture f(64, 48);
        f.unlit();
        f.device().SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
        f.device().SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
        // Red runs 0..255 from the quad's left edge to its right: about 127.5 on screen.
        const uint32_t left = 0x01000101, right = 0x01FF0101;
        f.strip({{-scale, scale, 0.5f, left, 0, 0, 0, 0},
                 {scale, scale, 0.5f, right, 1, 0, 1, 0},
                 {-scale, -scale, 0.5f, left, 0, 1, 0, 1},
                 {scale, -scale, 0.5f, right, 1, 1, 1, 1}});
        for (uint32_t p : f.pixels()) {
            ASSERT_EQ(p & 0xFF00FFFFu, 0x01000101u) << scale;
            ASSERT_NEAR(static_cast<int>(channel(p, 16)), 128, 1) << scale;
        }
    }
}

TEST(Clipping, PixelsInFrontOfTheNearPlaneAreCut) {
    SoftFixture f(8, 2);
    f.unlit();
    // Depth runs from -1 at the left edge of the target to 1 at the right edge, so only the
    // right half (z >= 0) is drawn.
    f.strip({{f.clipX(-0.5f), 1, -1, 0xFFFFFFFF, 0, 0, 0, 0},
             {f.clipX(7.5f), 1, 1, 0xFFFFFFFF, 0, 0, 0, 0},
             {f.clipX(-0.5f), -1, -1, 0xFFFFFFFF, 0, 0, 0, 0},
             {f.clipX(7.5f), -1, 1, 0xFFFFFFFF, 0, 0, 0, 0}});
    for (int x = 0; x < 8; ++x) {
        EXPECT_EQ(f.pixel(x, 0), x < 4 ? 0u : 0xFFFFFFFFu) << x;
    }
}

TEST(Clipping, CameraLookingAtAHugeQuadCoversTheView) {
    SoftFixture f(64, 48);
    f.unlit();
    f.device().SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    f.device().SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
    // The show's camera: eye at z = -6 looking at the origin, 45 degrees, near plane 0.01.
    D3DXMATRIX view{{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 6, 1}}};
    const float yScale = 1.0f / std::tan(0.7853982f / 2), zf = 10000.0f, zn = 0.01f;
    D3DXMATRIX projection{{{yScale / 1.3333334f, 0, 0, 0},
                           {0, yScale, 0, 0},
                           {0, 0, zf / (zf - zn), 1},
                           {0, 0, -zn * zf / (zf - zn), 0}}};
    f.device().SetTransform(D3DTS_VIEW, &view);
    f.device().SetTransform(D3DTS_PROJECTION, &projection);
    const float s = 2500.0f;
    f.strip({{-s, s, 0, 0x01010101, 0, 0, 0, 0},
             {s, s, 0, 0x01010101, 1, 0, 1, 0},
             {-s, -s, 0, 0x01010101, 0, 1, 0, 1},
             {s, -s, 0, 0x01010101, 1, 1, 1, 1}});
    for (uint32_t p : f.pixels()) ASSERT_EQ(p, 0x01010101u);
}

// ---- device behaviour ----

class CountingSink : public FrameSink {
  public:
    void presentFrame(const uint32_t* pixels, int width, int height) override {
        ++frames;
        first = pixels[0];
        lastWidth = width;
        lastHeight = height;
    }
    int frames = 0;
    uint32_t first = 0;
    int lastWidth = 0;
    int lastHeight = 0;
};

TEST(Device, PresentHandsTheBackBufferToTheSinkUnlessRasterizingIsOff) {
    CountingSink sink;
    SoftOptions options = SoftFixture::referenceOptions();
    options.sink = &sink;
    SoftFixture f(6, 3, options);
    f.unlit();
    f.device().Clear(D3DCLEAR_TARGET, 0x11223344, 1.0f, 0);
    f.device().Present();
    EXPECT_EQ(sink.frames, 1);
    EXPECT_EQ(sink.first, 0x11223344u);
    EXPECT_EQ(sink.lastWidth, 6);
    EXPECT_EQ(sink.lastHeight, 3);

    f.graphics().setRasterizing(false);
    f.device().Clear(D3DCLEAR_TARGET, 0xFFFFFFFF, 1.0f, 0);
    f.rect(0, 0, 6, 3, 0xFF000000);
    // States set while off still count once drawing resumes.
    f.device().SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    f.device().SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
    f.device().Present();
    EXPECT_EQ(sink.frames, 1);
    EXPECT_EQ(f.pixel(0, 0), 0x11223344u);

    f.graphics().setRasterizing(true);
    f.rect(0, 0, 6, 3, 0x01010101);
    f.device().Present();
    EXPECT_EQ(sink.frames, 2);
    EXPECT_EQ(sink.first, 0x12233445u);
}

TEST(Device, DrawsSampleTheTextureAsItWasWhenTheyWereMade) {
    SoftFixture f(4, 1);
    f.unlit();
    Direct3DTexture9* staging = nullptr;
    Direct3DTexture9* shown = nullptr;
    f.graphics().D3DXCreateTexture(&f.device(), 1, 1, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM,
                                   &staging, nullptr);
    f.graphics().D3DXCreateTexture(&f.device(), 1, 1, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT,
                                   &shown, nullptr);
    f.device().SetTexture(0, shown);
    f.device().SetTextureStageState(0, D3DTSS_COLOROP, emulated::kTopSelectArg1);
    SoftFixture::fill(staging, 1, 1, {0xFF0000FF});
    ASSERT_EQ(f.device().UpdateTexture(staging, shown), S_OK);
    f.rect(-0.5f, -0.5f, 1.5f, 0.5f, 0xFFFFFFFF);
    SoftFixture::fill(staging, 1, 1, {0xFF00FF00});
    ASSERT_EQ(f.device().UpdateTexture(staging, shown), S_OK);
    f.rect(1.5f, -0.5f, 3.5f, 0.5f, 0xFFFFFFFF);
    EXPECT_EQ(f.pixel(0, 0), 0xFF0000FFu);
    EXPECT_EQ(f.pixel(1, 0), 0xFF0000FFu);
    EXPECT_EQ(f.pixel(2, 0), 0xFF00FF00u);
    EXPECT_EQ(f.pixel(3, 0), 0xFF00FF00u);
}

TEST(Device, DefaultsAndObjects) {
    SoftGraphics graphics(SoftFixture::referenceOptions());
    Direct3D9* d3d = graphics.Direct3DCreate9(D3D_SDK_VERSION);
    ASSERT_NE(d3d, nullptr);
    EXPECT_EQ(graphics.Direct3DCreate9(31), nullptr);
    D3DDISPLAYMODE mode{};
    ASSERT_EQ(d3d->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &mode), S_OK);
    EXPECT_EQ(mode.Width, 640u);
    EXPECT_EQ(mode.Height, 480u);
    EXPECT_EQ(mode.RefreshRate, 60u);
    EXPECT_EQ(mode.Format, D3DFMT_X8R8G8B8);  // the desktop's format has no alpha

    D3DPRESENT_PARAMETERS parameters{};
    parameters.BackBufferWidth = 640;
    parameters.BackBufferHeight = 480;
    parameters.EnableAutoDepthStencil = TRUE;
    Direct3DDevice9* device = nullptr;
    ASSERT_EQ(
        d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, nullptr, 0, &parameters, &device),
        S_OK);
    SoftDevice* soft = graphics.device();
    EXPECT_EQ(soft->width(), 640);
    EXPECT_EQ(soft->renderState(D3DRS_ZENABLE), D3DZB_TRUE);
    EXPECT_EQ(soft->renderState(D3DRS_LIGHTING), 1u);
    EXPECT_EQ(soft->renderState(D3DRS_CULLMODE), D3DCULL_CCW);
    // Clearing depth works only with a depth buffer.
    EXPECT_EQ(device->Clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, 0, 1.0f, 0),
              S_OK);
    EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), D3DERR_INVALIDCALL);

    Direct3DTexture9* texture = nullptr;
    ASSERT_EQ(graphics.D3DXCreateTexture(device, 8, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM,
                                         &texture, nullptr),
              S_OK);
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(texture->LockRect(0, &locked, nullptr, 0), S_OK);
    EXPECT_EQ(locked.Pitch, 32);
    EXPECT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(texture->UnlockRect(0), S_OK);
    EXPECT_EQ(texture->Release(), 0u);

    Direct3DTexture9* missing = reinterpret_cast<Direct3DTexture9*>(1);
    EXPECT_LT(graphics.D3DXCreateTextureFromFileA(device, "no\\such.jpg", &missing), 0);
    EXPECT_EQ(missing, nullptr);
}

TEST(Device, DepthTestKeepsTheNearerSurface) {
    SoftFixture f(4, 4, SoftFixture::referenceOptions(), true);
    f.unlit();
    f.device().SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
    f.device().Clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
    auto quad = [&](float z, uint32_t colour) {
        f.strip({{-1, 1, z, colour, 0, 0, 0, 0},
                 {1, 1, z, colour, 0, 0, 0, 0},
                 {-1, -1, z, colour, 0, 0, 0, 0},
                 {1, -1, z, colour, 0, 0, 0, 0}});
    };
    quad(0.3f, 0xFF0000FF);
    quad(0.6f, 0xFF00FF00);
    EXPECT_EQ(f.pixel(2, 2), 0xFF0000FFu);
    quad(0.1f, 0xFFFF0000);
    EXPECT_EQ(f.pixel(2, 2), 0xFFFF0000u);
}

}  // namespace
