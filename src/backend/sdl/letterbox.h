#pragma once
// The show's fixed-size picture inside a window of any size: scaled as large as fits with its
// aspect kept and centred, black bars on the two remaining sides.
#include "backend/platform_types.h"

struct Letterbox {
    // The picture's rectangle inside the area, in the area's pixels.
    int x = 0, y = 0;
    int width = 0, height = 0;
    // The picture's own size.
    int pictureWidth = 0, pictureHeight = 0;
};

// Fits a pictureWidth × pictureHeight picture into an areaWidth × areaHeight area. A side that is
// 0 or less gives an empty rectangle.
Letterbox fitPicture(int areaWidth, int areaHeight, int pictureWidth, int pictureHeight);

// An area pixel to the picture pixel under its centre; pixels on the bars or outside the area
// give pixels outside the picture, as a cursor beyond a window's client area does.
POINT areaToPicture(const Letterbox& box, POINT area);

// A picture pixel to the area pixel under its centre.
POINT pictureToArea(const Letterbox& box, POINT picture);
