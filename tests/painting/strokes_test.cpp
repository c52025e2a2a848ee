#include <cstdio>

#include "stroke_fixture.h"

namespace {

bool overlayAllowed(void* calls) {
    *static_cast<int*>(calls) += 1;
    return true;
}

TEST_F(StrokeTest, EachRecordDraws840ParticlesUntilTheListEmptiesAtIndex133) {
    int overlayCalls = 0;
    const OverlayVideo overlay = {overlayAllowed, &overlayCalls, nullptr};
    for (float clock : {0.0f, 4.99f, 5.0f, 664.9f}) {
        const Lines lines = paintFrame(StrokeScene{clock, 1.0f, 0.0f, 0}, overlay);
        ASSERT_EQ(strokes.strokes.count, 2);
        const StrokePath& first = *strokes.strokes.items[0];
        const D3DXVECTOR2 p0 = track1.items[2 * static_cast<int>(clock / 5)];
        ASSERT_EQ(first.count, 14);
        EXPECT_EQ(strokes.currentPath->count, 4);
        EXPECT_EQ(first.items[1].x, p0.x);
        EXPECT_FLOAT_EQ(first.items[3].x, 2 * first.items[2].x - p0.x);
        EXPECT_EQ(painting.particleCount, 840);
        // Paper, the particles, and the overlay video over each of the two strokes.
        EXPECT_EQ(countStarting(lines, "DrawPrimitive"), 843);
    }
    EXPECT_EQ(overlayCalls, 8);

    // What survives a rebuild is last frame's second path.
    StrokePath* second = strokes.currentPath;
    const Lines lines = paintFrame(StrokeScene{665.0f, 1.0f, 0.0f, 0});
    ASSERT_EQ(strokes.strokes.count, 1);
    EXPECT_EQ(strokes.strokes.items[0], second);
    EXPECT_EQ(second->count, 0);
    EXPECT_EQ(painting.particleCount, 0);
    EXPECT_EQ(countStarting(lines, "DrawPrimitive"), 1);
}

std::string colourText(uint32_t colour) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", colour);
    return text;
}

// A stroke setup's four draws worked out from the generator: the texture index, then the
// particle brush's upload, whose buffer holds corners 0, 1, 3, 2.
std::string expectedSetup(RandomSource& random, int* texture) {
    *texture = random.next() % 4;
    const uint32_t r = static_cast<uint32_t>(random.next());
    uint32_t corner3 = 0x00504010u + static_cast<uint32_t>(random.next() % 16);
    if (random.next() < 16000) corner3 = 0xFFFFFFFF;
    return "Unlock vb1 [-1 -1 0 0x00202020 0 0 0 0] [1 -1 0 " +
           colourText(0x00303040u + ((r << 8) & 0x000F0F0Fu)) + " 1 0 1 0] [-1 1 0 " +
           colourText(corner3) + " 0 1 0 1] [1 1 0 0x00401020 1 1 1 1] -> 0";
}

TEST_F(StrokeTest, RandomDrawsFollowTheFrameOrder) {
    const int32_t particleSeed = 3;
    randomSource().seed(777);
    RandomSource expected;
    expected.seed(777);
    for (int i = 0; i < 20; ++i) expected.next();  // the first stroke's tail
    int firstTexture = 0;
    int secondTexture = 0;
    const std::string firstUpload = expectedSetup(expected, &firstTexture);
    // Each segment reseeds: the second setup follows one segment's 120 jitter draws.
    expected.seed(particleSeed);
    for (int i = 0; i < 120; ++i) expected.next();
    const uint32_t afterSegment = expected.state;
    const std::string secondUpload = expectedSetup(expected, &secondTexture);

    Lines uploads;
    Lines stageZero;
    for (const std::string& line : paintFrame(StrokeScene{12.5f, 1.0f, 0.0f, particleSeed})) {
        if (line.rfind("Unlock vb1", 0) == 0) uploads.push_back(line);
        if (line.rfind("SetTexture device1 0 ", 0) == 0) stageZero.push_back(line);
    }
    EXPECT_EQ(randomSource().state, afterSegment);
    EXPECT_EQ(uploads, (Lines{firstUpload, secondUpload}));
    ASSERT_FALSE(stageZero.empty());
    EXPECT_EQ(stageZero[0],
              std::string("SetTexture device1 0 \"") + kBrushFiles[firstTexture] + "\" -> 0");
    // The second stroke wears zor_brush2 whatever its texture draw said.
    EXPECT_EQ(cache->texture[0], painting.brushTextures[1]);
}

}  // namespace
