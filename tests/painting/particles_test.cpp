#include <sstream>

#include "stroke_fixture.h"

namespace {

TEST_F(StrokeTest, FirstParticlesSitOnTheJitteredSplineWithTheirSizeAndTurn) {
    StrokePath path;
    path.add(D3DXVECTOR2{0, 0});
    path.add(D3DXVECTOR2{0, 0});
    path.add(D3DXVECTOR2{0.4f, 0.2f});
    drawParticles(painting, path, 1.0f, 1.0f, 0);
    EXPECT_EQ(painting.particleCount, 60);
    std::vector<float> m;
    for (const std::string& line : takeLines()) {
        if (line.rfind("SetTransform device1 256 [", 0) != 0) continue;
        std::istringstream in(line.substr(line.find('[') + 1));
        float value = 0;
        for (int i = 0; i < 16 && in >> value; ++i) m.push_back(value);
    }
    ASSERT_EQ(m.size(), 60u * 16u);
    // Seed 0 draws 38, 7719, 21238, 2437: jitters -0.02405, 0.017975, 0.00595, -0.014075.
    // The first particle has size 0, so its corners all land on the jittered start point.
    for (int i = 0; i < 12; ++i) EXPECT_EQ(m[i], 0.0f) << i;
    EXPECT_NEAR(m[12], -0.02405f, 1e-7);
    EXPECT_NEAR(m[13], 0.017975f, 1e-7);
    // The second: half-size 0.33 (0.3 + 0.15 sin 0.02), turned by 0.015, at u = 1/60.
    const float corners[3][4] = {{1, 1, 0.10792704f, 0.08915255f},
                                 {-1, -1, -0.08903074f, -0.11380440f},
                                 {1, -1, 0.11092663f, -0.11080482f}};
    for (const auto& c : corners) {
        EXPECT_NEAR(c[0] * m[16] + c[1] * m[20] + m[28], c[2], 1e-6);
        EXPECT_NEAR(c[0] * m[17] + c[1] * m[21] + m[29], c[3], 1e-6);
    }
}

TEST_F(StrokeTest, HiddenParticlesAreNotDrawnButStillTraced) {
    particlesVisible = false;
    tracing = true;
    const Lines lines = paintFrame(StrokeScene{12.5f, 1.0f, 0.0f, 0});
    EXPECT_EQ(painting.particleCount, 0);
    EXPECT_EQ(countStarting(lines, "DrawPrimitive"), 1);
    std::vector<int> strips;
    for (const std::string& line : lines) {
        if (line.rfind("DrawTransform line1", 0) == 0)
            strips.push_back(std::stoi(line.substr(line.find("]] ") + 3)));
    }
    // 720 centres of the first stroke as two unjoined strips, then the second stroke's 120.
    EXPECT_EQ(strips, (std::vector<int>{512, 208, 120}));
    EXPECT_EQ(traceList.capacity, 2000);
}

}  // namespace
