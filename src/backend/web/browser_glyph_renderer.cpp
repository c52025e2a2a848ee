// The glyph side of GlyphRenderer in the browser: the page's canvas draws each character in
// white and its alpha is the coverage; the bytes become characters through the browser's own
// code page 1252 decoder. The browser picks the face (the sans-serif faces the desktop uses, in
// order) and its antialiasing, so the text matches the desktop's in size and place, not to the
// pixel. The layout is GlyphRenderer's own, as everywhere.
#include <cmath>

#include "backend/imaging/glyph_renderer.h"
#include "backend/web/browser.h"

struct GlyphRenderer::Face {
    double emPx = 0.0;
    int weight = 400;
};

GlyphRenderer::GlyphRenderer() = default;
GlyphRenderer::~GlyphRenderer() = default;

bool GlyphRenderer::open(const std::string& /*fontPath*/, int cellHeight, int weight,
                         std::string* error) {
    face_.reset();
    cache_ = {};
    lineHeight_ = 0;
    ascent_ = 0;
    if (cellHeight == 0 || cellHeight > 1000 || cellHeight < -1000) {
        if (error) *error = "unsupported font height " + std::to_string(cellHeight);
        return false;
    }
    // The font's extent (ascent + descent) per pixel of em, measured large for precision.
    constexpr double kProbeEm = 100.0;
    double ascent = 0.0, descent = 0.0;
    if (!browser::fontMetrics(kProbeEm, weight, &ascent, &descent) || ascent + descent <= 0.0) {
        if (error) *error = "the browser cannot measure text";
        return false;
    }
    const double cellPerEm = (ascent + descent) / kProbeEm;
    // A positive height is the cell (ascent + descent), a negative one the em, as on the desktop.
    auto face = std::make_unique<Face>();
    face->emPx = cellHeight > 0 ? cellHeight / cellPerEm : -cellHeight;
    face->weight = weight;
    lineHeight_ = cellHeight > 0 ? cellHeight : int(std::lround(face->emPx * cellPerEm));
    ascent_ = int(std::lround(ascent / kProbeEm * face->emPx));
    face_ = std::move(face);
    return true;
}

const GlyphRenderer::Glyph& GlyphRenderer::glyph(unsigned char byte) {
    Glyph& g = cache_[byte];
    if (g.loaded || !face_) return g;
    g.loaded = true;
    browser::glyph(byte, face_->emPx, face_->weight, &g);
    return g;
}
