// The glyph side of GlyphRenderer on FreeType: opening the font, its metrics and each glyph's
// coverage. This file is the whole of what a build without FreeType (the browser's, drawing
// glyphs with its own text rasterizer) replaces.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SYNTHESIS_H
#include FT_TRUETYPE_TABLES_H

#include "backend/imaging/glyph_renderer.h"

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

std::string freetypeError(const char* what, FT_Error code) {
    const char* text = FT_Error_String(code);
    if (text) return std::string(what) + ": " + text;
    return std::string(what) + ": FreeType error " + std::to_string(code);
}

int64_t roundDiv(int64_t num, int64_t den) {
    return (num + den / 2) / den;
}

}  // namespace

struct GlyphRenderer::Face {
    FT_Library library = nullptr;
    FT_Face face = nullptr;
    ~Face() {
        if (face) FT_Done_Face(face);
        if (library) FT_Done_FreeType(library);
    }
};

GlyphRenderer::GlyphRenderer() = default;
GlyphRenderer::~GlyphRenderer() = default;

bool GlyphRenderer::open(const std::string& fontPath, int cellHeight, int weight,
                         std::string* error) {
    face_.reset();
    cache_ = {};
    lineHeight_ = 0;
    ascent_ = 0;
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        face_.reset();
        lineHeight_ = 0;
        ascent_ = 0;
        return false;
    };
    if (cellHeight == 0 || cellHeight > 1000 || cellHeight < -1000) {
        return fail("unsupported font height " + std::to_string(cellHeight));
    }
    auto f = std::make_unique<Face>();
    FT_Error code = FT_Init_FreeType(&f->library);
    if (code) return fail(freetypeError("cannot start FreeType", code));
    code = FT_New_Face(f->library, fontPath.c_str(), 0, &f->face);
    if (code) return fail(freetypeError("cannot open font", code));
    if (!FT_IS_SCALABLE(f->face)) return fail("font has no outlines");

    const int64_t em = f->face->units_per_EM;
    int64_t winAscent = 0;
    int64_t winDescent = 0;
    if (auto* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(f->face, FT_SFNT_OS2))) {
        winAscent = os2->usWinAscent;
        winDescent = os2->usWinDescent;
    }
    if (winAscent + winDescent <= 0) {
        // Fonts without Windows metrics: the horizontal header's extent stands in.
        winAscent = f->face->ascender;
        winDescent = -f->face->descender;
    }
    if (em <= 0 || winAscent + winDescent <= 0) return fail("font has no usable metrics");
    const int64_t cell = winAscent + winDescent;

    // Em size in 1/64 pixel. FreeType keeps a fractional size unless the font asks for whole
    // pixels (TrueType head flag 3), as the platform's rasterizer does too.
    int64_t em64;
    if (cellHeight > 0) {
        em64 = roundDiv(static_cast<int64_t>(cellHeight) * em * 64, cell);
        lineHeight_ = cellHeight;
        ascent_ = static_cast<int>(roundDiv(winAscent * cellHeight, cell));
    } else {
        em64 = -64L * cellHeight;
        lineHeight_ = static_cast<int>(roundDiv(cell * -cellHeight, em));
        ascent_ = static_cast<int>(roundDiv(winAscent * -cellHeight, em));
    }
    code = FT_Set_Char_Size(f->face, 0, em64, 72, 72);
    if (code) return fail(freetypeError("cannot size font", code));

    embolden_ = weight >= 600 && !(f->face->style_flags & FT_STYLE_FLAG_BOLD);
    face_ = std::move(f);
    return true;
}

const GlyphRenderer::Glyph& GlyphRenderer::glyph(unsigned char byte) {
    Glyph& g = cache_[byte];
    if (g.loaded) return g;
    g.loaded = true;
    FT_Face face = face_->face;
    const FT_UInt index = FT_Get_Char_Index(face, codePoint(byte));
    if (FT_Load_Glyph(face, index, FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP)) return g;
    FT_GlyphSlot slot = face->glyph;
    if (embolden_) FT_GlyphSlot_Embolden(slot);
    g.advance = static_cast<int>((slot->advance.x + 32) >> 6);
    if (FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL)) return g;
    const FT_Bitmap& bm = slot->bitmap;
    if (bm.pixel_mode != FT_PIXEL_MODE_GRAY || bm.width == 0 || bm.rows == 0) return g;
    g.left = slot->bitmap_left;
    g.top = slot->bitmap_top;
    g.width = static_cast<int>(bm.width);
    g.rows = static_cast<int>(bm.rows);
    g.coverage.resize(static_cast<size_t>(g.width) * g.rows);
    const int pitch = std::abs(bm.pitch);
    for (int r = 0; r < g.rows; ++r) {
        // A negative pitch stores the rows bottom first.
        const int srcRow = bm.pitch >= 0 ? r : g.rows - 1 - r;
        const unsigned char grays = static_cast<unsigned char>(bm.num_grays - 1);
        for (int c = 0; c < g.width; ++c) {
            unsigned v = bm.buffer[static_cast<size_t>(srcRow) * pitch + c];
            if (grays != 255 && grays != 0) v = (v * 255 + grays / 2) / grays;
            g.coverage[static_cast<size_t>(r) * g.width + c] = static_cast<uint8_t>(v);
        }
    }
    return g;
}
