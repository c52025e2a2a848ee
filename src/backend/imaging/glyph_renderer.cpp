#include "backend/imaging/glyph_renderer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

uint32_t mix(uint32_t s, uint32_t d, uint32_t a) {
    return (s * a + d * (255 - a) + 127) / 255;
}

// SRCALPHA / INVSRCALPHA on all four channels: the stored alpha becomes a*a + d*(1-a).
uint32_t blendOver(uint32_t dst, uint32_t colour, uint32_t a) {
    const uint32_t outA = mix(a, dst >> 24, a);
    const uint32_t r = mix((colour >> 16) & 0xFF, (dst >> 16) & 0xFF, a);
    const uint32_t g = mix((colour >> 8) & 0xFF, (dst >> 8) & 0xFF, a);
    const uint32_t b = mix(colour & 0xFF, dst & 0xFF, a);
    return outA << 24 | r << 16 | g << 8 | b;
}

}  // namespace

bool GlyphRenderer::isOpen() const {
    return face_ != nullptr;
}

int GlyphRenderer::lineHeight() const {
    return lineHeight_;
}

int GlyphRenderer::ascent() const {
    return ascent_;
}

int GlyphRenderer::textHeight(const char* text, int count) const {
    if (!face_ || !text) return 0;
    const size_t length = count < 0 ? std::strlen(text) : static_cast<size_t>(count);
    int64_t lines = 0;
    bool lineOpen = false;
    for (size_t i = 0; i < length && text[i] != '\0'; ++i) {
        if (text[i] == '\n') {
            ++lines;
            lineOpen = false;
        } else {
            lineOpen = true;
        }
    }
    if (lineOpen) ++lines;
    return static_cast<int>(lines * lineHeight_);
}

void GlyphRenderer::layOut(const char* text, int count, const RECT& rect, int clipWidth,
                           int clipHeight, const PlaceGlyph& place) {
    if (!face_ || !text) return;
    const size_t length = count < 0 ? std::strlen(text) : static_cast<size_t>(count);

    GlyphClip clip;
    const int64_t clipLeft = std::max<int64_t>(rect.left, 0);
    const int64_t clipTop = std::max<int64_t>(rect.top, 0);
    const int64_t clipRight = std::min<int64_t>(rect.right, clipWidth);
    const int64_t clipBottom = std::min<int64_t>(rect.bottom, clipHeight);
    if (clipLeft >= clipRight || clipTop >= clipBottom) return;

    int64_t penX = rect.left;
    int64_t lineTop = rect.top;
    for (size_t i = 0; i < length && text[i] != '\0'; ++i) {
        const unsigned char byte = static_cast<unsigned char>(text[i]);
        if (byte == '\n') {
            penX = rect.left;
            lineTop += lineHeight_;
            continue;
        }
        if (byte == '\r') continue;
        const Glyph& g = glyph(byte);
        clip.x = penX + g.left;
        clip.y = lineTop + ascent_ - g.top;
        penX += g.advance;
        clip.rowFrom = std::max(clipTop - clip.y, int64_t{0});
        clip.rowTo = std::min(clipBottom - clip.y, static_cast<int64_t>(g.rows));
        clip.colFrom = std::max(clipLeft - clip.x, int64_t{0});
        clip.colTo = std::min(clipRight - clip.x, static_cast<int64_t>(g.width));
        if (clip.rowFrom < clip.rowTo && clip.colFrom < clip.colTo) place(byte, g, clip);
    }
}

int GlyphRenderer::drawText(RenderTarget& target, const char* text, int count, const RECT& rect,
                            uint32_t /*format*/, uint32_t colour) {
    if (!face_ || !text) return 0;
    const uint32_t alpha = colour >> 24;
    if (target.pixels && alpha != 0) {
        layOut(text, count, rect, target.width, target.height,
               [&](unsigned char, const Glyph& g, const GlyphClip& at) {
                   for (int64_t r = at.rowFrom; r < at.rowTo; ++r) {
                       const uint8_t* cov = g.coverage.data() + r * g.width;
                       uint32_t* dst = target.pixels + (at.y + r) * target.pitch + at.x;
                       for (int64_t c = at.colFrom; c < at.colTo; ++c) {
                           if (cov[c] == 0) continue;
                           const uint32_t a = (alpha * cov[c] + 127) / 255;
                           if (a != 0) dst[c] = blendOver(dst[c], colour, a);
                       }
                   }
               });
    }
    return textHeight(text, count);
}

std::string fontPath(const std::string& asked) {
    return asked.empty() ? "/usr/share/fonts/truetype/liberation2/LiberationSans-Bold.ttf" : asked;
}
