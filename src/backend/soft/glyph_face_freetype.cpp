// The glyph face on FreeType: unhinted outlines at the fractional size the cell height asks for,
// rendered as 256-level coverage.
#include <cstdlib>

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SYNTHESIS_H
#include FT_TRUETYPE_TABLES_H

#include "backend/soft/glyph_face.h"

namespace {

std::string freetypeError(const char* what, FT_Error code) {
    const char* text = FT_Error_String(code);
    if (text) return std::string(what) + ": " + text;
    return std::string(what) + ": FreeType error " + std::to_string(code);
}

int64_t roundDiv(int64_t num, int64_t den) {
    return (num + den / 2) / den;
}

class FreetypeFace final : public GlyphFace {
  public:
    ~FreetypeFace() override {
        if (face) FT_Done_Face(face);
        if (library) FT_Done_FreeType(library);
    }

    void render(uint32_t codePoint, GlyphBitmap* g) override {
        const FT_UInt index = FT_Get_Char_Index(face, codePoint);
        if (FT_Load_Glyph(face, index, FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP)) return;
        FT_GlyphSlot slot = face->glyph;
        if (embolden) FT_GlyphSlot_Embolden(slot);
        g->advance = static_cast<int>((slot->advance.x + 32) >> 6);
        if (FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL)) return;
        const FT_Bitmap& bm = slot->bitmap;
        if (bm.pixel_mode != FT_PIXEL_MODE_GRAY || bm.width == 0 || bm.rows == 0) return;
        g->left = slot->bitmap_left;
        g->top = slot->bitmap_top;
        g->width = static_cast<int>(bm.width);
        g->rows = static_cast<int>(bm.rows);
        g->coverage.resize(static_cast<size_t>(g->width) * g->rows);
        const int pitch = std::abs(bm.pitch);
        for (int r = 0; r < g->rows; ++r) {
            // A negative pitch stores the rows bottom first.
            const int srcRow = bm.pitch >= 0 ? r : g->rows - 1 - r;
            const unsigned char grays = static_cast<unsigned char>(bm.num_grays - 1);
            for (int c = 0; c < g->width; ++c) {
                unsigned v = bm.buffer[static_cast<size_t>(srcRow) * pitch + c];
                if (grays != 255 && grays != 0) v = (v * 255 + grays / 2) / grays;
                g->coverage[static_cast<size_t>(r) * g->width + c] = static_cast<uint8_t>(v);
            }
        }
    }

    FT_Library library = nullptr;
    FT_Face face = nullptr;
    bool embolden = false;
};

}  // namespace

std::unique_ptr<GlyphFace> openGlyphFace(const std::string& fontPath, int cellHeight, int weight,
                                         FaceMetrics* metrics, std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        return nullptr;
    };
    auto f = std::make_unique<FreetypeFace>();
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
    FaceMetrics m;
    if (cellHeight > 0) {
        em64 = roundDiv(static_cast<int64_t>(cellHeight) * em * 64, cell);
        m.lineHeight = cellHeight;
        m.ascent = static_cast<int>(roundDiv(winAscent * cellHeight, cell));
    } else {
        em64 = -64L * cellHeight;
        m.lineHeight = static_cast<int>(roundDiv(cell * -cellHeight, em));
        m.ascent = static_cast<int>(roundDiv(winAscent * -cellHeight, em));
    }
    code = FT_Set_Char_Size(f->face, 0, em64, 72, 72);
    if (code) return fail(freetypeError("cannot size font", code));

    f->embolden = weight >= 600 && !(f->face->style_flags & FT_STYLE_FLAG_BOLD);
    *metrics = m;
    return f;
}
