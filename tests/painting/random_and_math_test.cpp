#include <gtest/gtest.h>

#include <cmath>

#include "painting/random_source.h"
#include "platform/d3dx_math.h"

namespace {

TEST(RandomSource, FollowsTheRuntimeSequenceFromEverySeed) {
    RandomSource unseeded;
    for (int expected : {41, 18467, 6334, 26500, 19169, 15724, 11478, 29358, 26962, 24464}) {
        EXPECT_EQ(unseeded.next(), expected);
    }
    seedRandom(0);
    for (int expected : {38, 7719, 21238, 2437, 8855}) EXPECT_EQ(nextRandom(), expected);
    seedRandom(0);
    EXPECT_EQ(nextRandom(), 38);
    // A negative seed wraps to its 32-bit pattern: 0xFFFFFFFF * 214013 + 2531011.
    seedRandom(-1);
    EXPECT_EQ(nextRandom(), int32_t(((2531011u - 214013u) >> 16) & 0x7FFF));

    seedRandom(1);
    EXPECT_FLOAT_EQ(jitter(0.035f), -0.033565f);  // draw 41: (41 - 1000) * 0.001 * 0.035
    EXPECT_FLOAT_EQ(jitter(2.0f), -1.066f);       // draw 18467: -533 * 0.001 * 2
}

TEST(D3DXMath, CatmullRomPassesThroughTheInnerPoints) {
    const D3DXVECTOR2 p0{0, 0}, p1{1, 0}, p2{2, 1}, p3{3, 1};
    const float s[4] = {0.0f, 0.25f, 0.5f, 1.0f};
    const D3DXVECTOR2 expected[4] = {{1, 0}, {1.25f, 0.203125f}, {1.5f, 0.5f}, {2, 1}};
    for (int i = 0; i < 4; ++i) {
        D3DXVECTOR2 out;
        D3DXVec2CatmullRom(&out, &p0, &p1, &p2, &p3, s[i]);
        EXPECT_EQ(out.x, expected[i].x) << s[i];
        EXPECT_EQ(out.y, expected[i].y) << s[i];
    }
    // A doubled start point, as every stroke begins.
    D3DXVECTOR2 out;
    D3DXVec2CatmullRom(&out, &p1, &p1, &p2, &p3, 0.5f);
    EXPECT_EQ(out.x, 1.4375f);  // 0.5 * (2 + 0.5 + 0.5 - 0.125)
    EXPECT_EQ(out.y, 0.5f);     // 0.5 * (0 + 0.5 + 0.75 - 0.25)
}

TEST(D3DXMath, MatricesApplyToRowVectorsLeftToRight) {
    D3DXMATRIX s, r, t, m;
    D3DXMatrixScaling(&s, 2, 3, 1);
    D3DXMatrixRotationZ(&r, float(M_PI / 2));
    D3DXMatrixTranslation(&t, 10, 20, 0);
    D3DXMatrixMultiply(&m, &s, &r);
    D3DXMatrixMultiply(&m, &m, &t);  // the output may be an input
    D3DXVECTOR2 unitX{1, 0};
    D3DXVECTOR4 out;
    D3DXVec2Transform(&out, &unitX, &m);
    EXPECT_NEAR(out.x, 10.0f, 1e-6);
    EXPECT_NEAR(out.y, 22.0f, 1e-6);
    EXPECT_EQ(r.m[0][0], -4.37113883e-08f);  // cos of the float nearest pi/2

    // A particle's corner (1, 1): half-size 0.5, turned by pi/6, centred at (0.25, -0.5).
    D3DXMatrixScaling(&s, 0.5f, 0.5f, 0);
    D3DXMatrixRotationZ(&r, float(M_PI / 6));
    D3DXMatrixTranslation(&t, 0.25f, -0.5f, 0);
    D3DXMatrixMultiply(&m, &s, &r);
    D3DXMatrixMultiply(&m, &m, &t);
    D3DXVECTOR2 corner{1, 1};
    D3DXVec2Transform(&out, &corner, &m);
    EXPECT_NEAR(out.x, 0.4330127, 1e-6);  // 0.5 * (cos - sin) + 0.25
    EXPECT_NEAR(out.y, 0.1830127, 1e-6);  // 0.5 * (sin + cos) - 0.5

    // w is handed back, never divided by.
    D3DXMatrixIdentity(&m);
    m.m[0][3] = 1;
    D3DXVECTOR2 v{1, 2};
    D3DXVec2Transform(&out, &v, &m);
    EXPECT_TRUE(out.x == 1 && out.y == 2 && out.z == 0 && out.w == 2);
}

}  // namespace
