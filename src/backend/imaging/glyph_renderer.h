#pragma once
// Text for the CPU renderer's font: 8-bit text drawn into the back buffer with FreeType, laid
// out the way the platform's font object lays out format 0 (left and top aligned, a line feed
// starts a new line, carriage returns dropped, no wrapping, clipped to the rectangle).
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
//
// Renderers that draw elsewhere (the GPU renderer) take the glyphs and their places from
// layOut and so lay text out exactly as drawText does. The glyphs themselves come from
// glyph_renderer_freetype.cpp, the one file a build with another rasterizer replaces.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "backend/imaging/render_target.h"

// The font file a renderer opens: the one asked for, or Liberation Sans Bold where Debian
// installs it when none was.
std::string fontPath(const std::string& asked);
#include "backend/platform_types.h"

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

    // One character's coverage, `width` x `rows` bytes, rows from the top; its top-left pixel
    // sits `left` right of the pen and `top` above the baseline.
    struct Glyph {
        bool loaded = false;
        int left = 0;
        int top = 0;
        int width = 0;
        int rows = 0;
        int advance = 0;
        std::vector<uint8_t> coverage;
    };
    // Where a glyph lands: its top-left pixel (x, y) on the target, and the part of it inside
    // the clip, as rows [rowFrom, rowTo) and columns [colFrom, colTo) of the glyph.
    struct GlyphClip {
        int64_t x = 0;
        int64_t y = 0;
        int64_t rowFrom = 0;
        int64_t rowTo = 0;
        int64_t colFrom = 0;
        int64_t colTo = 0;
    };
    using PlaceGlyph =
        std::function<void(unsigned char byte, const Glyph& glyph, const GlyphClip& at)>;
    // Lays the text out as drawText does on a clipWidth x clipHeight target and calls `place`
    // for every glyph with some part inside the rectangle and the target.
    void layOut(const char* text, int count, const RECT& rect, int clipWidth, int clipHeight,
                const PlaceGlyph& place);
    // The glyph of one byte, rendered on first use and kept.
    const Glyph& glyph(unsigned char byte);

  private:
    struct Face;
    std::unique_ptr<Face> face_;
    int lineHeight_ = 0;
    int ascent_ = 0;
    bool embolden_ = false;
    std::array<Glyph, 256> cache_;
};
