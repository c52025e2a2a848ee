// Reading YUV4MPEG2 streams and PNG files, and the RGB to YCbCr conversion.
#include <gtest/gtest.h>
#include <png.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "test_pictures.h"
#include "vid/png_io.h"
#include "vid/y4m_reader.h"

namespace {

using vidtools_test::noisyPicture;
using vidtools_test::y4mStream;

// A reader over an in-memory stream.
struct MemoryStream {
    explicit MemoryStream(const std::string& bytes) : data(bytes) {
        file = fmemopen(data.empty() ? nullptr : &data[0], data.size(), "rb");
    }
    ~MemoryStream() {
        if (file) std::fclose(file);
    }
    std::string data;
    std::FILE* file;
};

std::string openError(const std::string& stream) {
    MemoryStream m(stream);
    Y4mReader reader;
    std::string error;
    EXPECT_FALSE(reader.open(m.file, &error));
    return error;
}

TEST(Y4mReader, FourTwoZeroRepeatsEachChromaSampleOverTwoByTwo) {
    // Odd sizes: the last chroma column and row cover one pixel each. No C tag means 4:2:0.
    YuvPicture source = noisyPicture(5, 3);
    std::string stream = y4mStream({source, noisyPicture(5, 3, 8)}, false, " XCOMMENT=1");
    MemoryStream m(stream);
    Y4mReader reader;
    std::string error;
    ASSERT_TRUE(reader.open(m.file, &error)) << error;
    EXPECT_EQ(reader.width(), 5);
    EXPECT_EQ(reader.height(), 3);
    EXPECT_EQ(reader.chroma(), "420");
    YuvPicture picture;
    ASSERT_TRUE(reader.readFrame(&picture, &error)) << error;
    EXPECT_EQ(picture.y, source.y);
    ASSERT_EQ(picture.cb.size(), 15u);
    const size_t chromaStart = stream.find("FRAME\n") + 6 + 15;
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) {
            const size_t sample = size_t(y / 2) * 3 + size_t(x / 2);
            EXPECT_EQ(picture.cb[size_t(y * 5 + x)], uint8_t(stream[chromaStart + sample]));
            EXPECT_EQ(picture.cr[size_t(y * 5 + x)], uint8_t(stream[chromaStart + 6 + sample]));
        }
    ASSERT_TRUE(reader.readFrame(&picture, &error)) << error;
    EXPECT_FALSE(reader.readFrame(&picture, &error));
    EXPECT_EQ(error, "");
    EXPECT_EQ(reader.framesRead(), 2);
}

TEST(Y4mReader, FourFourFourAndFrameParameters) {
    YuvPicture source = noisyPicture(4, 2);
    std::string stream = y4mStream({source}, true);
    // Frame lines may carry parameters of their own.
    stream.replace(stream.find("FRAME\n"), 6, "FRAME Ip XTAG=x\n");
    MemoryStream m(stream);
    Y4mReader reader;
    std::string error;
    ASSERT_TRUE(reader.open(m.file, &error)) << error;
    EXPECT_EQ(reader.chroma(), "444");
    YuvPicture picture;
    ASSERT_TRUE(reader.readFrame(&picture, &error)) << error;
    EXPECT_EQ(picture.y, source.y);
    EXPECT_EQ(picture.cb, source.cb);
    EXPECT_EQ(picture.cr, source.cr);

    for (const char* c : {"C420jpeg", "C420paldv", "C420mpeg2", "C420"}) {
        MemoryStream ok(std::string("YUV4MPEG2 W2 H2 ") + c + "\nFRAME\n" + std::string(6, 'x'));
        Y4mReader r;
        ASSERT_TRUE(r.open(ok.file, &error)) << c;
        EXPECT_TRUE(r.readFrame(&picture, &error)) << c;
    }
}

TEST(Y4mReader, DamagedStreamsAreRefusedWithAReason) {
    EXPECT_NE(openError("YUV4MPEG2 W4 H4 C422\n").find("C422"), std::string::npos);
    EXPECT_NE(openError("YUV4MPEG2 W4 H4 C420p10\n").find("not supported"), std::string::npos);
    EXPECT_NE(openError("YUV4MPEG2 W4 Cmono\n").find("not supported"), std::string::npos);
    EXPECT_NE(openError("YUV4MPEG2 W4 F25:1\n").find("width or height"), std::string::npos);
    EXPECT_NE(openError("YUV4MPEG2 W-4 H4\n").find("width"), std::string::npos);
    EXPECT_NE(openError("YUV4MPEG2 W4 H99999\n").find("height"), std::string::npos);
    EXPECT_NE(openError("P6\n4 4\n255\n").find("not a YUV4MPEG2"), std::string::npos);
    EXPECT_NE(openError("YUV4MPEG2").find("not a YUV4MPEG2"), std::string::npos);
    EXPECT_NE(openError("").find("empty"), std::string::npos);

    // A frame cut short, and a frame that does not start with FRAME.
    for (const std::string& body : {"FRAME\n" + std::string(23, 'x'), std::string("FRAMX\n")}) {
        MemoryStream m("YUV4MPEG2 W4 H4\n" + body);
        Y4mReader reader;
        std::string error;
        ASSERT_TRUE(reader.open(m.file, &error));
        YuvPicture picture;
        EXPECT_FALSE(reader.readFrame(&picture, &error));
        EXPECT_NE(error.find("frame 0"), std::string::npos) << error;
    }
}

TEST(Y4mReader, ATruncatedFrameLeavesThePreviousPictureAndCostsOnlyItsData) {
    // The second frame stops inside its chroma: the picture still holds the first frame.
    const std::string first = std::string(16, 'y') + std::string(4, 'b') + std::string(4, 'r');
    MemoryStream m("YUV4MPEG2 W4 H4\nFRAME\n" + first + "FRAME\n" + std::string(18, 'z'));
    Y4mReader reader;
    std::string error;
    ASSERT_TRUE(reader.open(m.file, &error)) << error;
    YuvPicture picture;
    ASSERT_TRUE(reader.readFrame(&picture, &error)) << error;
    const YuvPicture kept = picture;
    EXPECT_FALSE(reader.readFrame(&picture, &error));
    EXPECT_NE(error.find("frame 1 is truncated"), std::string::npos) << error;
    EXPECT_EQ(picture.y, kept.y);
    EXPECT_EQ(picture.cb, kept.cb);
    EXPECT_EQ(picture.cr, kept.cr);

    // A header claiming the largest frame, with three bytes of it: refused without holding
    // gigabytes (the sanitizer build's allocator would end the test first).
    MemoryStream huge("YUV4MPEG2 W32767 H32767 C444\nFRAME\nabc");
    Y4mReader big;
    ASSERT_TRUE(big.open(huge.file, &error)) << error;
    EXPECT_FALSE(big.readFrame(&picture, &error));
    EXPECT_NE(error.find("frame 0 is truncated"), std::string::npos) << error;
    EXPECT_EQ(picture.y, kept.y);
}

class PngFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/vidtools-png-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }
    std::string dir;
};

TEST_F(PngFiles, RgbAndRgbaRoundTripAndAlphaFallsOnBlack) {
    RgbImage rgba;
    rgba.width = 3;
    rgba.height = 2;
    rgba.channels = 4;
    rgba.pixels = {255, 0,  0,  255, 0,   255, 0,   255, 0,  0,  255, 255,
                   10,  20, 30, 255, 200, 200, 200, 0,   90, 60, 30,  255};
    std::string error;
    ASSERT_TRUE(writePng(dir + "/a.png", rgba, &error)) << error;
    RgbImage back;
    ASSERT_TRUE(readPng(dir + "/a.png", &back, &error)) << error;
    EXPECT_EQ(back.channels, 3);
    const std::vector<uint8_t> expected = {255, 0,  0,  0, 255, 0, 0,  0,  255,
                                           10,  20, 30, 0, 0,   0, 90, 60, 30};
    EXPECT_EQ(back.pixels, expected);

    RgbImage rgb = back;
    ASSERT_TRUE(writePng(dir + "/b.png", rgb, &error));
    ASSERT_TRUE(readPng(dir + "/b.png", &back, &error));
    EXPECT_EQ(back.pixels, rgb.pixels);

    EXPECT_FALSE(readPng(dir + "/missing.png", &back, &error));
    EXPECT_NE(error.find("missing.png"), std::string::npos);
}

TEST_F(PngFiles, ADamagedFileLeavesTheImageAsItWas) {
    RgbImage picture;
    picture.width = 4;
    picture.height = 4;
    picture.pixels.assign(4 * 4 * 3, 0);
    for (size_t i = 0; i < picture.pixels.size(); ++i) picture.pixels[i] = uint8_t(i * 37);
    std::string error;
    ASSERT_TRUE(writePng(dir + "/whole.png", picture, &error)) << error;
    // The same file cut inside its image data: the header reads, the pixels do not.
    std::FILE* in = std::fopen((dir + "/whole.png").c_str(), "rb");
    std::vector<char> bytes(4096);
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), in));
    std::fclose(in);
    ASSERT_GT(bytes.size(), 60u);
    std::FILE* out = std::fopen((dir + "/cut.png").c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size() - 20, out);
    std::fclose(out);

    RgbImage kept;
    kept.width = 1;
    kept.height = 1;
    kept.pixels = {7, 8, 9};
    EXPECT_FALSE(readPng(dir + "/cut.png", &kept, &error));
    EXPECT_NE(error.find("cut.png"), std::string::npos) << error;
    EXPECT_EQ(kept.width, 1);
    EXPECT_EQ(kept.height, 1);
    EXPECT_EQ(kept.pixels, (std::vector<uint8_t>{7, 8, 9}));
}

TEST_F(PngFiles, SixteenBitGreyBecomesEightBitRgb) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = 2;
    image.height = 1;
    image.format = PNG_FORMAT_LINEAR_Y;
    const uint16_t samples[2] = {0, 65535};
    ASSERT_TRUE(png_image_write_to_file(&image, (dir + "/g.png").c_str(), 0, samples, 0, nullptr));
    RgbImage back;
    std::string error;
    ASSERT_TRUE(readPng(dir + "/g.png", &back, &error)) << error;
    EXPECT_EQ(back.pixels, (std::vector<uint8_t>{0, 0, 0, 255, 255, 255}));
}

TEST(RgbToYuv, StudioRangeBt601) {
    RgbImage image;
    image.width = 4;
    image.height = 1;
    image.pixels = {0, 0, 0, 255, 255, 255, 255, 0, 0, 0, 0, 255};
    const YuvPicture p = rgbToYuv(image);
    EXPECT_EQ(p.y, (std::vector<uint8_t>{16, 235, 81, 41}));
    EXPECT_EQ(p.cb, (std::vector<uint8_t>{128, 128, 90, 240}));
    EXPECT_EQ(p.cr, (std::vector<uint8_t>{128, 128, 240, 110}));
}

}  // namespace
