#pragma once
// Where the CPU renderer's font gets its glyphs: FreeType from a font file on the desktop, the
// browser's own text drawing in the web player. The layout, the cache and the blending into the
// back buffer are GlyphRenderer's and the same for every face.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// One glyph at the face's size: greyscale coverage (0..255) rows from the top, placed relative
// to the pen on the baseline, in whole pixels.
struct GlyphBitmap {
    // Columns from the pen to the bitmap's first column.
    int left = 0;
    // Rows from the baseline up to the bitmap's first row.
    int top = 0;
    int width = 0;
    int rows = 0;
    // How far the pen moves on.
    int advance = 0;
    std::vector<uint8_t> coverage;
};

// The cell of a face opened at a size: the distance between lines and the baseline's depth.
struct FaceMetrics {
    int lineHeight = 0;
    int ascent = 0;
};

class GlyphFace {
  public:
    virtual ~GlyphFace() = default;
    // The glyph of a Unicode code point; a glyph the face cannot draw keeps no coverage.
    virtual void render(uint32_t codePoint, GlyphBitmap* out) = 0;
};

// Opens the font at `cellHeight` (positive: the cell height; negative: the em height, as
// GlyphRenderer describes) and `weight`. Null, with a one-line reason, on failure.
std::unique_ptr<GlyphFace> openGlyphFace(const std::string& fontPath, int cellHeight, int weight,
                                         FaceMetrics* metrics, std::string* error);
