#include "painting/brush.h"

#include "painting_fixture.h"

namespace {

TEST_F(PaintingTest, BrushUploadsItsCornersInStripOrder) {
    Brush brush(makeDevice());
    EXPECT_EQ(takeLines(),
              (Lines{"CreateVertexBuffer device1 128 8 578 0 -> 0 vb1", "Lock vb1 0 0 0 -> 0",
                     "Unlock vb1 [-1 -1 0 0x0030F660 0 0 0 0] [1 -1 0 0xFFFFFFFF 1 0 1 0] "
                     "[-1 1 0 0x002010F6 0 1 0 1] [1 1 0 0x00562000 1 1 1 1] -> 0"}));

    const BrushVertex given[4] = {
        {-0.5f, -0.25f, 0, 0x11111111, 0.125f, 0, 0, 0},
        {0.5f, -0.25f, 0, 0x22222222, 1, 0.5f, 1, 0},
        {0.5f, 0.75f, 0, 0x33333333, 1, 1, 1, 1},
        {-0.5f, 0.75f, 0, 0x44444444, 0.25f, 1, 0, 1},
    };
    brush.setCorners(given);
    const D3DCOLOR colours[4] = {0xFF0000AA, 0xFF0000BB, 0xFF0000CC, 0xFF0000DD};
    brush.setColours(colours);
    EXPECT_EQ(takeLines().back(),
              "Unlock vb1 [-0.5 -0.25 0 0xFF0000AA 0.125 0 0 0] [0.5 -0.25 0 0xFF0000BB 1 0.5 1 0] "
              "[-0.5 0.75 0 0xFF0000DD 0.25 1 0 1] [0.5 0.75 0 0xFF0000CC 1 1 1 1] -> 0");
    for (int i = 0; i < 4; ++i) EXPECT_EQ(brush.corners[i].diffuse, colours[i]);
}

TEST_F(PaintingTest, BrushDrawsATwoTriangleStripFromItsOwnStream) {
    Brush brush(makeDevice());
    recorder.clearLines();
    brush.bindAndDraw();
    brush.draw();
    EXPECT_EQ(takeLines(),
              (Lines{"SetStreamSource device1 0 vb1 0 32 -> 0", "SetFVF device1 578 -> 0",
                     "DrawPrimitive device1 5 0 2 -> 0", "DrawPrimitive device1 5 0 2 -> 0"}));
}

TEST_F(PaintingTest, BrushWithoutABufferOrALockWritesNothing) {
    Direct3DDevice9* device = makeDevice();
    recorder.queueResult("CreateVertexBuffer", D3DERR_INVALIDCALL);
    Brush orphan(device);
    orphan.bindAndDraw();
    EXPECT_EQ(takeLines(), (Lines{"CreateVertexBuffer device1 128 8 578 0 -> 0x8876086C NULL",
                                  "SetStreamSource device1 0 NULL 0 32 -> 0",
                                  "SetFVF device1 578 -> 0", "DrawPrimitive device1 5 0 2 -> 0"}));

    Brush brush(device);
    recorder.clearLines();
    recorder.queueResult("Lock", D3DERR_INVALIDCALL);
    const D3DCOLOR colours[4] = {1, 2, 3, 4};
    brush.setColours(colours);
    EXPECT_EQ(takeLines(), Lines{"Lock vb1 0 0 0 -> 0x8876086C"});
    brush.upload();
    EXPECT_EQ(takeLines().back(),
              "Unlock vb1 [-1 -1 0 0x00000001 0 0 0 0] [1 -1 0 0x00000002 1 0 1 0] "
              "[-1 1 0 0x00000004 0 1 0 1] [1 1 0 0x00000003 1 1 1 1] -> 0");
}

}  // namespace
