#include "backend/imaging/glyph_renderer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

const char* const kFont = "/usr/share/fonts/truetype/liberation2/LiberationSans-Bold.ttf";

struct Canvas {
    Canvas(int w, int h, uint32_t fill) : pixels(static_cast<size_t>(w) * h, fill) {
        target.pixels = pixels.data();
        target.width = w;
        target.height = h;
        target.pitch = w;
    }
    uint32_t at(int x, int y) const { return pixels[static_cast<size_t>(y) * target.pitch + x]; }
    std::vector<uint32_t> pixels;
    RenderTarget target;
};

class GlyphRendererTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(font.open(kFont, 18, 700, &error)) << error;
    }
    GlyphRenderer font;
};

TEST(GlyphRendererOpen, MissingFontFailsWithAReasonAndDrawsNothing) {
    GlyphRenderer font;
    std::string error;
    EXPECT_FALSE(font.open("/nonexistent/font.ttf", 18, 700, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(font.isOpen());
    Canvas canvas(40, 30, 0xFF000000);
    const RECT rect{0, 0, 40, 30};
    EXPECT_EQ(font.drawText(canvas.target, "Ag", -1, rect, 0, 0xFFFFFFFF), 0);
    for (uint32_t p : canvas.pixels) ASSERT_EQ(p, 0xFF000000u);
}

TEST_F(GlyphRendererTest, WhiteOnBlackGivesTheCoverage) {
    Canvas canvas(60, 30, 0xFF000000);
    const RECT rect{2, 2, 60, 30};
    EXPECT_EQ(font.drawText(canvas.target, "Ag", -1, rect, 0, 0xFFFFFFFF), 18);
    int full = 0, partial = 0;
    for (uint32_t p : canvas.pixels) {
        const uint32_t v = p & 0xFF;
        ASSERT_EQ((p >> 16) & 0xFF, v);
        ASSERT_EQ((p >> 8) & 0xFF, v);
        // The stored alpha is blended with the same factors: v*v + 255*(255 - v).
        ASSERT_EQ(p >> 24, (v * v + 255 * (255 - v) + 127) / 255);
        full += v == 255;
        partial += v > 0 && v < 255;
    }
    EXPECT_GT(full, 40);
    EXPECT_GT(partial, 10);
}

TEST_F(GlyphRendererTest, ColourAndAlphaBlendOverTheTargetOnAllChannels) {
    // The coverage of each pixel, from white on transparent black.
    Canvas coverage(60, 30, 0x00000000);
    const RECT rect{2, 2, 60, 30};
    font.drawText(coverage.target, "Ag", -1, rect, 0, 0xFFFFFFFF);

    const uint32_t background = 0xFF2040C0;
    const uint32_t colour = 0x80FF8000;
    Canvas canvas(60, 30, background);
    font.drawText(canvas.target, "Ag", -1, rect, 0, colour);
    auto mix = [](uint32_t s, uint32_t d, uint32_t a) {
        return (s * a + d * (255 - a) + 127) / 255;
    };
    for (size_t i = 0; i < canvas.pixels.size(); ++i) {
        const uint32_t cov = coverage.pixels[i] & 0xFF;
        const uint32_t a = (0x80 * cov + 127) / 255;
        uint32_t want = mix(a, background >> 24, a) << 24;
        for (int shift = 0; shift < 24; shift += 8) {
            want |= mix((colour >> shift) & 0xFF, (background >> shift) & 0xFF, a) << shift;
        }
        ASSERT_EQ(canvas.pixels[i], want) << "pixel " << i << " coverage " << cov;
    }
}

TEST_F(GlyphRendererTest, ZeroAlphaAndEmptyTextDrawNothing) {
    Canvas canvas(60, 30, 0xFF102030);
    const RECT rect{0, 0, 60, 30};
    EXPECT_EQ(font.drawText(canvas.target, "Ag", -1, rect, 0, 0x00FFFFFF), 18);
    EXPECT_EQ(font.drawText(canvas.target, "", -1, rect, 0, 0xFFFFFFFF), 0);
    EXPECT_EQ(font.drawText(canvas.target, "Ag", 0, rect, 0, 0xFFFFFFFF), 0);
    EXPECT_EQ(font.drawText(canvas.target, nullptr, -1, rect, 0, 0xFFFFFFFF), 0);
    for (uint32_t p : canvas.pixels) ASSERT_EQ(p, 0xFF102030u);
}

TEST_F(GlyphRendererTest, TextIsClippedToTheRectangleAndTheTarget) {
    const uint32_t background = 0xFF000000;
    // A rectangle that cuts through both letters.
    Canvas canvas(60, 40, background);
    const RECT rect{10, 12, 22, 24};
    font.drawText(canvas.target, "Ag", -1, rect, 0, 0xFFFFFFFF);
    int inside = 0;
    for (int y = 0; y < 40; ++y) {
        for (int x = 0; x < 60; ++x) {
            const bool in = x >= rect.left && x < rect.right && y >= rect.top && y < rect.bottom;
            if (!in) {
                ASSERT_EQ(canvas.at(x, y), background) << x << "," << y;
            } else {
                inside += canvas.at(x, y) != background;
            }
        }
    }
    EXPECT_GT(inside, 10);

    // A rectangle reaching past every edge of a small target draws inside the target only.
    Canvas small(12, 9, background);
    const RECT wide{-7, -9, 1000, 1000};
    EXPECT_EQ(font.drawText(small.target, "Ag\nAg\nAg", -1, wide, 0, 0xFFFFFFFF), 54);
    int drawn = 0;
    for (uint32_t p : small.pixels) drawn += p != background;
    EXPECT_GT(drawn, 0);
}

TEST_F(GlyphRendererTest, LinesAreOneCellHeightApartAndCarriageReturnsAreDropped) {
    const RECT rect{3, 4, 40, 60};
    auto draw = [&](const char* text, int count, int expectedHeight) {
        Canvas canvas(40, 60, 0xFF000000);
        EXPECT_EQ(font.drawText(canvas.target, text, count, rect, 0, 0xFFFFFFFF), expectedHeight)
            << text;
        EXPECT_EQ(font.textHeight(text, count), expectedHeight) << text;
        return canvas;
    };
    const Canvas one = draw("Ag", -1, 18);
    const Canvas second = draw("\r\nAg", -1, 36);
    for (int y = 0; y < 60 - 18; ++y) {
        for (int x = 0; x < 40; ++x) {
            ASSERT_EQ(second.at(x, y + 18), one.at(x, y)) << x << "," << y;
        }
    }
    EXPECT_EQ(draw("A\rg", -1, 18).pixels, one.pixels);
    EXPECT_EQ(draw("Ag\r\nAg", -1, 36).pixels, draw("Ag\nAg", -1, 36).pixels);
    // A trailing line feed ends its line without opening another; the count limits the text.
    draw("Ag\n", -1, 18);
    draw("\n\n", -1, 36);
    EXPECT_EQ(draw("Ag\nAg", 2, 18).pixels, one.pixels);
}

TEST_F(GlyphRendererTest, FixedTextGivesFixedPixels) {
    auto render = [](GlyphRenderer& f) {
        Canvas canvas(200, 60, 0xFF336699);
        const RECT rect{10, 10, 200, 60};
        f.drawText(canvas.target, "FPS:62.500\ntime:41250 \\ 16.000", -1, rect, 0, 0xFFFFFFFF);
        uint64_t hash = 1469598103934665603ull;
        for (uint32_t p : canvas.pixels) {
            for (int s = 0; s < 32; s += 8) {
                hash = (hash ^ ((p >> s) & 0xFF)) * 1099511628211ull;
            }
        }
        return hash;
    };
    GlyphRenderer other;
    std::string error;
    ASSERT_TRUE(other.open(kFont, 18, 700, &error)) << error;
    const uint64_t first = render(font);
    EXPECT_EQ(render(font), first);  // from the glyph cache
    EXPECT_EQ(render(other), first);
    // Pins this font file with this FreeType; a new FreeType may change it, and the change
    // should then be looked at before the value is updated.
    EXPECT_EQ(first, 4482614571509346532ull);
}

}  // namespace
