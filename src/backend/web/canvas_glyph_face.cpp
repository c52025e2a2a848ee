// The glyph face in the browser: the page's canvas draws each character in white and its alpha
// is the coverage. The browser picks the face (the sans-serif faces the desktop uses, in order)
// and its own antialiasing, so the text matches the desktop's in size and place, not to the
// pixel.
#include <cmath>

#include "backend/soft/glyph_face.h"
#include "backend/web/browser.h"

namespace {

class CanvasFace final : public GlyphFace {
  public:
    CanvasFace(double emPx, int weight) : emPx_(emPx), weight_(weight) {}

    void render(uint32_t codePoint, GlyphBitmap* out) override {
        browser::GlyphImage image;
        browser::glyph(codePoint, emPx_, weight_, &image);
        out->left = image.left;
        out->top = image.top;
        out->width = image.width;
        out->rows = image.rows;
        out->advance = image.advance;
        out->coverage.assign(image.coverage.begin(), image.coverage.end());
    }

  private:
    double emPx_;
    int weight_;
};

}  // namespace

std::unique_ptr<GlyphFace> openGlyphFace(const std::string& /*fontPath*/, int cellHeight,
                                         int weight, FaceMetrics* metrics, std::string* error) {
    // The font's extent (ascent + descent) per pixel of em, measured large for precision.
    constexpr double kProbeEm = 100.0;
    double ascent = 0.0, descent = 0.0;
    if (!browser::fontMetrics(kProbeEm, weight, &ascent, &descent) || ascent + descent <= 0.0) {
        if (error) *error = "the browser cannot measure text";
        return nullptr;
    }
    const double cellPerEm = (ascent + descent) / kProbeEm;
    // A positive height is the cell (ascent + descent), a negative one the em, as on the desktop.
    const double emPx = cellHeight > 0 ? cellHeight / cellPerEm : -cellHeight;
    const double cell = cellHeight > 0 ? cellHeight : emPx * cellPerEm;
    metrics->lineHeight = static_cast<int>(std::lround(cell));
    metrics->ascent = static_cast<int>(std::lround(ascent / kProbeEm * emPx));
    return std::make_unique<CanvasFace>(emPx, weight);
}
