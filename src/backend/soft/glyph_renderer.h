#pragma once
// Text for the CPU renderer's font: 8-bit text drawn into the back buffer with the glyphs of a
// GlyphFace (FreeType on the desktop), laid out the way the platform's font object lays out format
// 0 (left and top aligned, a line feed starts a new line, carriage returns dropped, no wrapping,
// clipped to the rectangle).
//
// Size: a positive height is the cell height, as the platform's font creation means it: the
// font's Windows ascent and descent (OS/2 usWinAscent + usWinDescent) scale to exactly that many
// pixels, and lines are that far apart. A negative height is the em height instead.
//
// Glyphs: greyscale antialiased coverage (256 levels) from unhinted outlines, so the shapes are
// the font's own at the fractional size the cell height asks for, independent of the bytecode
// interpreter; each glyph's advance is rounded to whole pixels and every glyph sits on a whole
// pixel, so a glyph is rendered once and cached. No kerning. Bytes map to characters through
// Windows code page 1252 (the 8-bit text of the platform's "A" calls).
//
// Colour: each covered pixel gets (colour RGB, colour alpha x coverage) blended SRCALPHA /
// INVSRCALPHA over the target on all four channels, alpha included, rounded to nearest.
// The same text gives the same pixels on every run.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "backend/platform_types.h"
#include "backend/soft/glyph_face.h"
#include "backend/soft/render_target.h"

class GlyphRenderer {
  public:
    GlyphRenderer();
    ~GlyphRenderer();
    GlyphRenderer(const GlyphRenderer&) = delete;
    GlyphRenderer& operator=(const GlyphRenderer&) = delete;

    // weight: 400 normal, 700 bold; a face that is not bold itself is emboldened for
    // weights from 600 on. On failure the renderer stays closed and draws nothing.
    bool open(const std::string& fontPath, int cellHeight, int weight, std::string* error);

    // count -1: zero-terminated. Only format 0 is laid out; other format bits are ignored.
    // Returns lines x line height (0 for empty text or a closed renderer), whether or not the
    // lines fall inside the rectangle.
    int drawText(RenderTarget& target, const char* text, int count, const RECT& rect,
                 uint32_t format, uint32_t colour);

    // What drawText returns for the text, without drawing: a line feed ends a line, and a
    // text ending in one has no empty line after it.
    int textHeight(const char* text, int count) const;

    bool isOpen() const;
    int lineHeight() const;
    int ascent() const;

  private:
    struct CachedGlyph {
        bool loaded = false;
        GlyphBitmap bitmap;
    };
    const GlyphBitmap& glyph(unsigned char byte);

    std::unique_ptr<GlyphFace> face_;
    int lineHeight_ = 0;
    int ascent_ = 0;
    std::array<CachedGlyph, 256> cache_;
};
