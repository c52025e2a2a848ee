// Captured frames as BMP files: the bytes other tools read back, and the frame names.
#include "backend/win32/bmp_file.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

uint32_t read32(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
           uint32_t(b[at + 3]) << 24;
}

}  // namespace

TEST(BmpFile, RowsBottomUpInBlueGreenRedWithPaddedRows) {
    // 3 x 2 pixels: rows of 9 bytes padded to 12. Alpha is dropped.
    const uint32_t pixels[6] = {0xFF102030, 0x00405060, 0x80708090,
                                0xFFA0B0C0, 0xFFD0E0F0, 0xFF010203};
    std::vector<uint8_t> b = encodeBmp(pixels, 3, 2);
    ASSERT_EQ(b.size(), 54u + 2 * 12);
    EXPECT_EQ(b[0], 'B');
    EXPECT_EQ(b[1], 'M');
    EXPECT_EQ(read32(b, 2), b.size());
    EXPECT_EQ(read32(b, 10), 54u);
    EXPECT_EQ(read32(b, 18), 3u);
    EXPECT_EQ(read32(b, 22), 2u);
    EXPECT_EQ(b[28], 24);
    EXPECT_EQ(read32(b, 30), 0u);  // no compression
    EXPECT_EQ(read32(b, 34), 24u);
    // The file's first row is the picture's bottom row.
    const std::vector<uint8_t> bottom = {0xC0, 0xB0, 0xA0, 0xF0, 0xE0, 0xD0,
                                         0x03, 0x02, 0x01, 0,    0,    0};
    const std::vector<uint8_t> top = {0x30, 0x20, 0x10, 0x60, 0x50, 0x40,
                                      0x90, 0x80, 0x70, 0,    0,    0};
    EXPECT_EQ(std::vector<uint8_t>(b.begin() + 54, b.begin() + 66), bottom);
    EXPECT_EQ(std::vector<uint8_t>(b.begin() + 66, b.end()), top);
}

TEST(BmpFile, RefusesEmptyAndOversizedPictures) {
    const uint32_t pixel = 0;
    EXPECT_TRUE(encodeBmp(&pixel, 0, 1).empty());
    EXPECT_TRUE(encodeBmp(&pixel, 1, -1).empty());
    EXPECT_TRUE(encodeBmp(nullptr, 1, 1).empty());
    // Over 2 GiB of pixel rows: refused before anything is read.
    EXPECT_TRUE(encodeBmp(&pixel, 40000, 40000).empty());
}

TEST(BmpFile, FramesAreNamedLikeTheLinuxCapture) {
    EXPECT_EQ(captureFileName(1), "frame_000001.bmp");
    EXPECT_EQ(captureFileName(123), "frame_000123.bmp");
    EXPECT_EQ(captureFileName(1234567), "frame_1234567.bmp");
}
