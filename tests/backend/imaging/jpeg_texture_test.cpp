#include "backend/imaging/jpeg_texture.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <jpeglib.h>

namespace {

namespace fs = std::filesystem;

// A picture as libjpeg takes and gives it: rows of 1 or 3 samples per pixel.
struct Samples {
    int width = 0;
    int height = 0;
    int components = 3;
    std::vector<unsigned char> data;
    unsigned char* at(int x, int y) {
        return &data[(static_cast<size_t>(y) * width + x) * components];
    }
    const unsigned char* at(int x, int y) const {
        return &data[(static_cast<size_t>(y) * width + x) * components];
    }
};

std::vector<unsigned char> encodeJpeg(const Samples& s, int quality) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = static_cast<JDIMENSION>(s.width);
    cinfo.image_height = static_cast<JDIMENSION>(s.height);
    cinfo.input_components = s.components;
    cinfo.in_color_space = s.components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    const size_t stride = static_cast<size_t>(s.width) * s.components;
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<unsigned char*>(s.data.data()) + cinfo.next_scanline * stride;
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::vector<unsigned char> bytes(buffer, buffer + size);
    std::free(buffer);
    return bytes;
}

Samples decodeWithLibjpeg(const std::vector<unsigned char>& bytes) {
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&cinfo, TRUE);
    jpeg_start_decompress(&cinfo);
    Samples s;
    s.width = static_cast<int>(cinfo.output_width);
    s.height = static_cast<int>(cinfo.output_height);
    s.components = cinfo.output_components;
    s.data.resize(static_cast<size_t>(s.width) * s.height * s.components);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = s.at(0, static_cast<int>(cinfo.output_scanline));
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return s;
}

Samples makePicture(int width, int height, int components) {
    Samples s;
    s.width = width;
    s.height = height;
    s.components = components;
    s.data.resize(static_cast<size_t>(width) * height * components);
    uint32_t seed = 12345;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            seed = seed * 1103515245u + 12345u;
            for (int c = 0; c < components; ++c) {
                s.at(x, y)[c] = static_cast<unsigned char>(
                    (x * (c + 1) + y * (3 - c) + ((seed >> 16) & 15)) & 0xFF);
            }
        }
    }
    return s;
}

class JpegTextureTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("qm_jpeg_" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    std::string write(const std::string& name, const std::vector<unsigned char>& bytes) {
        const std::string path = (dir_ / name).string();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return path;
    }
    void expectFailure(const std::string& path) {
        TextureImage tex;
        tex.width = 7;
        tex.texels.assign(3, 1);
        std::string error;
        EXPECT_FALSE(loadJpegTexture(path, &tex, &error)) << path;
        EXPECT_FALSE(error.empty()) << path;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
        EXPECT_EQ(tex.width, 0u);
        EXPECT_TRUE(tex.texels.empty());
    }
    fs::path dir_;
};

uint32_t texelOf(const Samples& s, int x, int y) {
    const unsigned char* p = s.at(x, y);
    if (s.components == 1) return 0xFF000000u | p[0] * 0x010101u;
    return 0xFF000000u | static_cast<uint32_t>(p[0]) << 16 | p[1] << 8 | p[2];
}

void expectNear(uint32_t texel, uint32_t rgb, int tolerance) {
    EXPECT_EQ(texel >> 24, 0xFFu);
    for (int shift = 0; shift < 24; shift += 8) {
        const int got = static_cast<int>((texel >> shift) & 0xFF);
        const int want = static_cast<int>((rgb >> shift) & 0xFF);
        EXPECT_NEAR(got, want, tolerance) << std::hex << texel << " vs " << rgb;
    }
}

TEST_F(JpegTextureTest, PowerOfTwoPictureKeepsEveryTexelOfTheDecode) {
    const std::vector<unsigned char> bytes = encodeJpeg(makePicture(512, 512, 3), 90);
    const Samples reference = decodeWithLibjpeg(bytes);
    TextureImage tex;
    std::string error;
    ASSERT_TRUE(loadJpegTexture(write("square.jpg", bytes), &tex, &error)) << error;
    ASSERT_EQ(tex.width, 512u);
    ASSERT_EQ(tex.height, 512u);
    ASSERT_EQ(tex.texels.size(), 512u * 512u);
    size_t mismatches = 0;
    for (int y = 0; y < 512; ++y) {
        for (int x = 0; x < 512; ++x) {
            mismatches += tex.texels[static_cast<size_t>(y) * 512 + x] != texelOf(reference, x, y);
        }
    }
    EXPECT_EQ(mismatches, 0u);
}

TEST_F(JpegTextureTest, OtherSizesAreStretchedOverThePowerOfTwoTexture) {
    // Four flat quadrants: stretching puts the picture's middle at the texture's middle, where
    // padding would leave it at texel 320.
    Samples pic = makePicture(640, 480, 3);
    const uint32_t quadrant[4] = {0xE02020, 0x20E020, 0x2020E0, 0xE0E020};
    for (int y = 0; y < 480; ++y) {
        for (int x = 0; x < 640; ++x) {
            const uint32_t c = quadrant[(y >= 240) * 2 + (x >= 320)];
            pic.at(x, y)[0] = static_cast<unsigned char>(c >> 16);
            pic.at(x, y)[1] = static_cast<unsigned char>(c >> 8);
            pic.at(x, y)[2] = static_cast<unsigned char>(c);
        }
    }
    TextureImage tex;
    std::string error;
    ASSERT_TRUE(loadJpegTexture(write("wide.jpg", encodeJpeg(pic, 95)), &tex, &error)) << error;
    ASSERT_EQ(tex.width, 1024u);
    ASSERT_EQ(tex.height, 512u);
    auto at = [&](int x, int y) { return tex.texels[static_cast<size_t>(y) * 1024 + x]; };
    expectNear(at(0, 0), quadrant[0], 8);
    expectNear(at(1023, 0), quadrant[1], 8);
    expectNear(at(0, 511), quadrant[2], 8);
    expectNear(at(1023, 511), quadrant[3], 8);
    expectNear(at(490, 100), quadrant[0], 8);
    expectNear(at(530, 100), quadrant[1], 8);
    expectNear(at(100, 240), quadrant[0], 8);
    expectNear(at(100, 270), quadrant[2], 8);
    for (uint32_t t : tex.texels) ASSERT_EQ(t >> 24, 0xFFu);
}

TEST_F(JpegTextureTest, StretchBlendsNeighboursWithTentWeights) {
    // 3 texels stretched to 4: texel i samples source position (2i + 1) * 3/8 - 1/2, that is
    // -1/8 (clamped), 5/8, 11/8 and 17/8 (clamped).
    Samples pic;
    pic.width = 3;
    pic.height = 1;
    pic.components = 1;
    pic.data = {10, 200, 60};
    const std::vector<unsigned char> bytes = encodeJpeg(pic, 100);
    const Samples ref = decodeWithLibjpeg(bytes);
    const double t0 = ref.data[0], t1 = ref.data[1], t2 = ref.data[2];
    TextureImage tex;
    std::string error;
    ASSERT_TRUE(loadJpegTexture(write("three.jpg", bytes), &tex, &error)) << error;
    ASSERT_EQ(tex.width, 4u);
    ASSERT_EQ(tex.height, 1u);
    const double want[4] = {t0, 0.375 * t0 + 0.625 * t1, 0.625 * t1 + 0.375 * t2, t2};
    for (int i = 0; i < 4; ++i) {
        const uint32_t v = tex.texels[i] & 0xFF;
        EXPECT_NEAR(v, want[i], 0.5 + 1e-9) << i;
        EXPECT_EQ(tex.texels[i] & 0xFFFFFFu, v * 0x010101u);
    }
}

TEST_F(JpegTextureTest, GreyPictureGivesGreyOpaqueTexels) {
    const std::vector<unsigned char> bytes = encodeJpeg(makePicture(256, 100, 1), 90);
    const Samples ref = decodeWithLibjpeg(bytes);
    ASSERT_EQ(ref.components, 1);
    TextureImage tex;
    std::string error;
    ASSERT_TRUE(loadJpegTexture(write("grey.jpg", bytes), &tex, &error)) << error;
    ASSERT_EQ(tex.width, 256u);
    ASSERT_EQ(tex.height, 128u);
    for (uint32_t t : tex.texels) {
        ASSERT_EQ(t >> 24, 0xFFu);
        ASSERT_EQ((t >> 16) & 0xFF, t & 0xFF);
        ASSERT_EQ((t >> 8) & 0xFF, t & 0xFF);
    }
    // The width keeps its size, and the first and last rows sit on the picture's own rows.
    for (int x = 0; x < 256; ++x) {
        EXPECT_EQ(tex.texels[x], texelOf(ref, x, 0));
        EXPECT_EQ(tex.texels[127 * 256 + x], texelOf(ref, x, 99));
    }
}

TEST_F(JpegTextureTest, BrokenFilesFailWithAReason) {
    const std::vector<unsigned char> good = encodeJpeg(makePicture(512, 512, 3), 90);
    expectFailure((dir_ / "missing.jpg").string());
    expectFailure(dir_.string());
    expectFailure(write("empty.jpg", {}));
    expectFailure(write("half.jpg",
                        std::vector<unsigned char>(good.begin(), good.begin() + good.size() / 2)));
    expectFailure(
        write("header_only.jpg", std::vector<unsigned char>(good.begin(), good.begin() + 300)));
    expectFailure(write("no_end.jpg", std::vector<unsigned char>(good.begin(), good.end() - 2)));
    std::vector<unsigned char> garbage(4000);
    uint32_t seed = 7;
    for (auto& b : garbage) {
        seed = seed * 1664525u + 1013904223u;
        b = static_cast<unsigned char>(seed >> 24);
    }
    expectFailure(write("garbage.jpg", garbage));
    // A JPEG start marker followed by nonsense.
    garbage[0] = 0xFF;
    garbage[1] = 0xD8;
    expectFailure(write("bad_marker.jpg", garbage));
}

TEST_F(JpegTextureTest, RefusesTexturesOverTheSizeLimit) {
    Samples pic = makePicture(8200, 8, 1);
    expectFailure(write("long.jpg", encodeJpeg(pic, 50)));

    pic = makePicture(8192, 8, 1);
    TextureImage tex;
    std::string error;
    ASSERT_TRUE(loadJpegTexture(write("limit.jpg", encodeJpeg(pic, 50)), &tex, &error)) << error;
    EXPECT_EQ(tex.width, 8192u);
    EXPECT_EQ(tex.height, 8u);
}

}  // namespace
