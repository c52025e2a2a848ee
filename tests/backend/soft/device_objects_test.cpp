// The renderer's library objects as the show uses them: textures from image files, the line
// drawer and the font, each drawing into the back buffer in order with the recorded draws and
// leaving the device's states alone.
#include <gtest/gtest.h>
#include <jpeglib.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "soft_fixture.h"

namespace {

// A flat grey picture of the given size, written as a JPEG file.
void writeGreyJpeg(const std::string& path, int width, int height, int grey) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    jpeg_compress_struct cinfo;
    jpeg_error_mgr error;
    cinfo.err = jpeg_std_error(&error);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, file);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = 1;
    cinfo.in_color_space = JCS_GRAYSCALE;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 95, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<JSAMPLE> row(static_cast<size_t>(width), static_cast<JSAMPLE>(grey));
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::fclose(file);
}

TEST(TextureFromFile, GivesAnOpaqueTextureOfTheRoundedUpSize) {
    char folder[] = "/tmp/soft_texture_XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string path = std::string(folder) + "/grey.jpg";
    writeGreyJpeg(path, 24, 16, 200);

    SoftFixture f(32, 32);
    f.unlit();
    Direct3DTexture9* texture = nullptr;
    // The show writes its paths the Windows way.
    const std::string windowsPath = std::string(folder) + "\\grey.jpg";
    ASSERT_EQ(f.graphics().D3DXCreateTextureFromFileA(&f.device(), windowsPath.c_str(), &texture),
              S_OK);
    auto* soft = dynamic_cast<SoftTexture*>(texture);
    ASSERT_NE(soft, nullptr);
    EXPECT_EQ(soft->width(), 32u);
    EXPECT_EQ(soft->height(), 16u);
    EXPECT_EQ(soft->format(), D3DFMT_X8R8G8B8);
    // Drawn with a transparent vertex colour it still reads alpha 1 and the picture's grey.
    f.device().SetTexture(0, texture);
    f.device().SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    f.rect(0, 0, 32, 32, 0x00FFFFFF);
    uint32_t pixel = f.pixel(10, 10);
    EXPECT_EQ(pixel >> 24, 0xFFu);
    EXPECT_NEAR(static_cast<int>(channel(pixel, 8)), 200, 2);
    std::remove(path.c_str());
    rmdir(folder);
}

TEST(LineDrawer, DrawsAfterTheQuadsBeforeItAndKeepsTheStates) {
    SoftFixture f(8, 8);
    f.unlit();
    f.device().SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    f.device().SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
    D3DXLine* line = nullptr;
    ASSERT_EQ(f.graphics().D3DXCreateLine(&f.device(), &line), S_OK);
    f.rect(-0.5f, -0.5f, 7.5f, 7.5f, 0xFF000040);
    // Clip space through the identity: y = 0 is row 4, x from -1 to 1 spans the columns.
    const D3DXVECTOR3 points[2] = {{-1, 0, 0.5f}, {0.75f, 0, 0.5f}};
    const D3DXMATRIX identity{{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};
    ASSERT_EQ(line->Begin(), S_OK);
    ASSERT_EQ(line->DrawTransform(points, 2, &identity, 0xFFFF0000), S_OK);
    ASSERT_EQ(line->End(), S_OK);
    // The line covered the quad's colour on row 4 only.
    EXPECT_EQ(f.pixel(2, 4), 0xFFFF0000u);
    EXPECT_EQ(f.pixel(2, 3), 0xFF000040u);
    // The device still blends additively.
    EXPECT_EQ(f.device().renderState(D3DRS_DESTBLEND), D3DBLEND_ONE);
    f.rect(-0.5f, -0.5f, 7.5f, 7.5f, 0x00000001);
    EXPECT_EQ(f.pixel(2, 3), 0xFF000041u);

    f.graphics().setRasterizing(false);
    const D3DXVECTOR3 column[2] = {{0, 1, 0.5f}, {0, -1, 0.5f}};
    ASSERT_EQ(line->DrawTransform(column, 2, &identity, 0xFF00FF00), S_OK);
    f.graphics().setRasterizing(true);
    EXPECT_EQ(f.pixel(4, 2), 0xFF000041u);
}

TEST(Font, DrawsTextAndReportsItsHeight) {
    SoftFixture f(64, 48);
    f.unlit();
    f.device().Clear(D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
    D3DXFont* font = nullptr;
    ASSERT_EQ(f.graphics().D3DXCreateFontA(&f.device(), 18, 0, FW_BOLD, 1, FALSE, DEFAULT_CHARSET,
                                           OUT_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                           DEFAULT_PITCH | FF_DONTCARE, "Arial", &font),
              S_OK);
    RECT rect{2, 2, 64, 48};
    f.graphics().setRasterizing(false);
    const INT measured = font->DrawTextA("Hi\nyo", -1, &rect, DT_LEFT | DT_TOP, 0xFFFFFFFF);
    int lit = 0;
    for (uint32_t p : f.pixels()) lit += p != 0xFF000000u;
    EXPECT_EQ(lit, 0);
    f.graphics().setRasterizing(true);
    const INT drawn = font->DrawTextA("Hi\nyo", -1, &rect, DT_LEFT | DT_TOP, 0xFFFFFFFF);
    EXPECT_EQ(drawn, 36);
    EXPECT_EQ(measured, drawn);
    for (uint32_t p : f.pixels()) lit += p != 0xFF000000u;
    EXPECT_GT(lit, 20);

    // The overlay's text ends in a newline, which starts no line of its own, drawn or not.
    const INT drawnTail = font->DrawTextA("Hi\nyo\n", -1, &rect, DT_LEFT | DT_TOP, 0xFFFFFFFF);
    f.graphics().setRasterizing(false);
    EXPECT_EQ(font->DrawTextA("Hi\nyo\n", -1, &rect, DT_LEFT | DT_TOP, 0xFFFFFFFF), drawnTail);
    EXPECT_EQ(drawnTail, 36);
}

TEST(Font, MissingFontFileFailsCreation) {
    SoftOptions options = SoftFixture::referenceOptions();
    options.fontPath = "/no/such/font.ttf";
    SoftFixture f(8, 8, options);
    D3DXFont* font = reinterpret_cast<D3DXFont*>(1);
    EXPECT_LT(f.graphics().D3DXCreateFontA(&f.device(), 18, 0, FW_BOLD, 1, FALSE, DEFAULT_CHARSET,
                                           OUT_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                           DEFAULT_PITCH | FF_DONTCARE, "Arial", &font),
              0);
    EXPECT_EQ(font, nullptr);
}

}  // namespace
