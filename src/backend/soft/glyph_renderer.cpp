#include "backend/soft/glyph_renderer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

// Code page 1252 characters 0x80..0x9F; the other bytes are Latin-1 as they stand. Unassigned
// slots keep their own value, which no font maps, so they draw the font's missing-glyph box.
constexpr uint16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

uint32_t codePoint(unsigned char byte) {
    if (byte >= 0x80 && byte < 0xA0) return kCp1252High[byte - 0x80];
    return byte;
}

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

GlyphRenderer::GlyphRenderer() = default;
GlyphRenderer::~GlyphRenderer() = default;

bool GlyphRenderer::isOpen() const {
    return face_ != nullptr;
}

int GlyphRenderer::lineHeight() const {
    return lineHeight_;
}

int GlyphRenderer::ascent() const {
    return ascent_;
}

bool GlyphRenderer::open(const std::string& fontPath, int cellHeight, int weight,
                         std::string* error) {
    face_.reset();
    cache_ = {};
    lineHeight_ = 0;
    ascent_ = 0;
    if (cellHeight == 0 || cellHeight > 1000 || cellHeight < -1000) {
        if (error) *error = "unsupported font height " + std::to_string(cellHeight);
        return false;
    }
    FaceMetrics metrics;
    face_ = openGlyphFace(fontPath, cellHeight, weight, &metrics, error);
    if (!face_) return false;
    lineHeight_ = metrics.lineHeight;
    ascent_ = metrics.ascent;
    return true;
}

const GlyphBitmap& GlyphRenderer::glyph(unsigned char byte) {
    CachedGlyph& cached = cache_[byte];
    if (!cached.loaded) {
        cached.loaded = true;
        face_->render(codePoint(byte), &cached.bitmap);
    }
    return cached.bitmap;
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

int GlyphRenderer::drawText(RenderTarget& target, const char* text, int count, const RECT& rect,
                            uint32_t /*format*/, uint32_t colour) {
    if (!face_ || !text) return 0;
    const size_t length = count < 0 ? std::strlen(text) : static_cast<size_t>(count);

    const int64_t clipLeft = std::max<int64_t>(rect.left, 0);
    const int64_t clipTop = std::max<int64_t>(rect.top, 0);
    const int64_t clipRight = std::min<int64_t>(rect.right, target.width);
    const int64_t clipBottom = std::min<int64_t>(rect.bottom, target.height);
    const uint32_t alpha = colour >> 24;
    const bool visible =
        target.pixels && alpha != 0 && clipLeft < clipRight && clipTop < clipBottom;

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
        if (!visible) continue;
        const GlyphBitmap& g = glyph(byte);
        const int64_t x0 = penX + g.left;
        const int64_t y0 = lineTop + ascent_ - g.top;
        penX += g.advance;
        const int64_t rowFrom = std::max(clipTop - y0, int64_t{0});
        const int64_t rowTo = std::min(clipBottom - y0, static_cast<int64_t>(g.rows));
        const int64_t colFrom = std::max(clipLeft - x0, int64_t{0});
        const int64_t colTo = std::min(clipRight - x0, static_cast<int64_t>(g.width));
        for (int64_t r = rowFrom; r < rowTo; ++r) {
            const uint8_t* cov = g.coverage.data() + r * g.width;
            uint32_t* dst = target.pixels + (y0 + r) * target.pitch + x0;
            for (int64_t c = colFrom; c < colTo; ++c) {
                if (cov[c] == 0) continue;
                const uint32_t a = (alpha * cov[c] + 127) / 255;
                if (a != 0) dst[c] = blendOver(dst[c], colour, a);
            }
        }
    }
    return textHeight(text, count);
}
