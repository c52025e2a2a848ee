// The picture inside windows of other sizes, and positions between the two.
#include <gtest/gtest.h>

#include "backend/sdl/letterbox.h"

namespace {

void expectBox(const Letterbox& box, int x, int y, int width, int height) {
    EXPECT_EQ(box.x, x);
    EXPECT_EQ(box.y, y);
    EXPECT_EQ(box.width, width);
    EXPECT_EQ(box.height, height);
}

}  // namespace

TEST(FitPicture, KeepsTheAspectAndCentres) {
    expectBox(fitPicture(640, 480, 640, 480), 0, 0, 640, 480);
    // Wide screens get bars left and right, tall ones above and below.
    expectBox(fitPicture(1920, 1080, 640, 480), 240, 0, 1440, 1080);
    expectBox(fitPicture(1366, 768, 640, 480), 171, 0, 1024, 768);
    expectBox(fitPicture(800, 800, 640, 480), 0, 100, 800, 600);
    expectBox(fitPicture(1280, 1024, 640, 480), 0, 32, 1280, 960);
    // Smaller than the picture: scaled down, never cropped.
    expectBox(fitPicture(320, 320, 640, 480), 0, 40, 320, 240);
}

TEST(FitPicture, EmptyAreasAndPictures) {
    expectBox(fitPicture(0, 480, 640, 480), 0, 0, 0, 0);
    expectBox(fitPicture(640, -1, 640, 480), 0, 0, 0, 0);
    expectBox(fitPicture(640, 480, 0, 480), 0, 0, 0, 0);
    // Positions in an empty box do not divide by zero.
    Letterbox empty = fitPicture(0, 0, 640, 480);
    POINT p = areaToPicture(empty, POINT{5, 5});
    EXPECT_EQ(p.x, 0);
    EXPECT_EQ(p.y, 0);
}

TEST(AreaToPicture, CornersBarsAndBeyond) {
    const Letterbox box = fitPicture(1920, 1080, 640, 480);
    POINT p = areaToPicture(box, POINT{240, 0});
    EXPECT_EQ(p.x, 0);
    EXPECT_EQ(p.y, 0);
    p = areaToPicture(box, POINT{1679, 1079});
    EXPECT_EQ(p.x, 639);
    EXPECT_EQ(p.y, 479);
    p = areaToPicture(box, POINT{960, 540});
    EXPECT_EQ(p.x, 320);
    EXPECT_EQ(p.y, 240);
    // On the left bar: left of the picture, not folded onto its first column.
    p = areaToPicture(box, POINT{239, 10});
    EXPECT_EQ(p.x, -1);
    p = areaToPicture(box, POINT{0, 10});
    EXPECT_EQ(p.x, -107);
    p = areaToPicture(box, POINT{1680, 10});
    EXPECT_EQ(p.x, 640);
}

TEST(AreaToPicture, InvertsPictureToAreaWhenEnlarged) {
    for (const auto& area : {std::pair{1920, 1080}, std::pair{1366, 768}, std::pair{800, 800},
                             std::pair{640, 480}, std::pair{2560, 1440}}) {
        const Letterbox box = fitPicture(area.first, area.second, 640, 480);
        for (LONG y = 0; y < 480; y += 7) {
            for (LONG x = 0; x < 640; x += 3) {
                POINT back = areaToPicture(box, pictureToArea(box, POINT{x, y}));
                ASSERT_EQ(back.x, x) << area.first << "x" << area.second;
                ASSERT_EQ(back.y, y) << area.first << "x" << area.second;
            }
        }
    }
}
