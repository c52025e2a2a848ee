#pragma once
#include "backend/graphics.h"
#include "backend/platform_types.h"

// On-screen text in one font, drawn from a given point to the bottom right of the text area.
class FontWriter {
  public:
    FontWriter(Direct3DDevice9* device, int areaWidth, int areaHeight, const char* faceName,
               int fontHeight, UINT fontWidth, UINT weight, bool italic);
    virtual ~FontWriter();
    FontWriter(const FontWriter&) = delete;
    FontWriter& operator=(const FontWriter&) = delete;

    // Left-aligned from the top, a line feed starts a new line; returns the height drawn, 0
    // when nothing was drawn (also when the font could not be made).
    int draw(const char* text, int x, int y, D3DCOLOR colour);

    D3DXFont* font;
    RECT area;
};
