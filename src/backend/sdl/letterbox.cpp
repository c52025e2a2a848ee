#include "backend/sdl/letterbox.h"

#include <cstdint>

namespace {

// Division rounding towards minus infinity, so that positions left of or above the picture map
// to negative pixels rather than folding onto pixel 0.
int64_t floorDivide(int64_t a, int64_t b) {
    int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
}

}  // namespace

Letterbox fitPicture(int areaWidth, int areaHeight, int pictureWidth, int pictureHeight) {
    Letterbox box;
    box.pictureWidth = pictureWidth;
    box.pictureHeight = pictureHeight;
    if (areaWidth <= 0 || areaHeight <= 0 || pictureWidth <= 0 || pictureHeight <= 0) return box;
    const int64_t aw = areaWidth, ah = areaHeight, pw = pictureWidth, ph = pictureHeight;
    // Compare the aspects exactly: the side that runs out first is filled.
    if (aw * ph <= ah * pw) {
        box.width = areaWidth;
        box.height = static_cast<int>((aw * ph * 2 + pw) / (pw * 2));
    } else {
        box.height = areaHeight;
        box.width = static_cast<int>((ah * pw * 2 + ph) / (ph * 2));
    }
    if (box.width < 1) box.width = 1;
    if (box.height < 1) box.height = 1;
    box.x = (areaWidth - box.width) / 2;
    box.y = (areaHeight - box.height) / 2;
    return box;
}

POINT areaToPicture(const Letterbox& box, POINT area) {
    if (box.width <= 0 || box.height <= 0) return POINT{0, 0};
    // The picture pixel under the area pixel's centre.
    POINT p;
    p.x = static_cast<LONG>(floorDivide(((int64_t(area.x) - box.x) * 2 + 1) * box.pictureWidth,
                                        int64_t(box.width) * 2));
    p.y = static_cast<LONG>(floorDivide(((int64_t(area.y) - box.y) * 2 + 1) * box.pictureHeight,
                                        int64_t(box.height) * 2));
    return p;
}

POINT pictureToArea(const Letterbox& box, POINT picture) {
    if (box.pictureWidth <= 0 || box.pictureHeight <= 0) return POINT{box.x, box.y};
    // The area pixel under the picture pixel's centre.
    POINT a;
    a.x = static_cast<LONG>(box.x + floorDivide((int64_t(picture.x) * 2 + 1) * box.width,
                                                int64_t(box.pictureWidth) * 2));
    a.y = static_cast<LONG>(box.y + floorDivide((int64_t(picture.y) * 2 + 1) * box.height,
                                                int64_t(box.pictureHeight) * 2));
    return a;
}
