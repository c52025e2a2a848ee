#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "video/video_decoder.h"

namespace {

using Bytes = std::vector<uint8_t>;

TEST(ColourTable, SampleEntries) {
    struct Sample {
        int y, p, q;
        uint32_t argb;
    };
    const Sample samples[] = {
        {16, 32, 32, 0xFF000000u}, {235, 32, 32, 0xFFFEFEFEu}, {128, 32, 32, 0xFF828282u},
        {81, 63, 32, 0xFFFF004Bu}, {81, 32, 63, 0xFF4B1BFFu},  {240, 0, 0, 0xFF38FF02u},
        {249, 0, 0, 0xFFFFFFFFu},
    };
    for (const Sample& s : samples)
        EXPECT_EQ(colourTableEntry(s.y, s.p, s.q), s.argb) << s.y << " " << s.p << " " << s.q;
    for (int p = 0; p < 64; ++p)
        for (int q = 0; q < 64; ++q) {
            EXPECT_EQ(colourTableEntry(0, p, q), 0xFF000000u);
            for (int y = 249; y < 256; ++y) EXPECT_EQ(colourTableEntry(y, p, q), 0xFFFFFFFFu);
        }
}

TEST(ColourTable, BuiltByTheFirstDecoderAndReleasedWithTheLast) {
    EXPECT_EQ(colourTable(), nullptr);
    {
        VideoDecoder a;
        ASSERT_EQ(a.init(), 1);
        const uint32_t* table = colourTable();
        ASSERT_NE(table, nullptr);
        for (int i = 0; i < kColourTableEntries; ++i)
            ASSERT_EQ(table[i], colourTableEntry(i >> 12, (i >> 6) & 63, i & 63)) << i;
        {
            VideoDecoder b;
            ASSERT_EQ(b.init(), 1);
            EXPECT_EQ(colourTable(), table);
        }
        EXPECT_EQ(colourTable(), table);
    }
    EXPECT_EQ(colourTable(), nullptr);
}

TEST(ColourTable, ToArgbLooksUpEveryPixelAndKeepsThePitch) {
    VideoDecoder d;
    ASSERT_EQ(d.init(), 1);
    // Three pixels per row, two rows; rows 20 bytes apart, so 8 bytes of each row are spare.
    const Bytes src = {16, 32, 32, 1, 235, 32, 32, 2, 81, 63, 32, 3,
                       // A chroma index above 63 spills into the next field of the index:
                       // (10, 64, 0) reads entry (11, 0, 0).
                       10, 64, 0, 4, 240, 0, 0, 5, 255, 7, 9, 6};
    Bytes dst(40, 0xAB);
    EXPECT_EQ(d.toARGB(src.data(), dst.data(), 20, 3, 2), 24);
    auto texel = [&](int offset) {
        uint32_t t;
        std::memcpy(&t, dst.data() + offset, 4);
        return t;
    };
    EXPECT_EQ(texel(0), 0xFF000000u);
    EXPECT_EQ(texel(4), 0xFFFEFEFEu);
    EXPECT_EQ(texel(8), 0xFFFF004Bu);
    EXPECT_EQ(texel(20), colourTableEntry(11, 0, 0));
    EXPECT_EQ(texel(24), 0xFF38FF02u);
    EXPECT_EQ(texel(28), 0xFFFFFFFFu);
    for (int spare : {12, 13, 14, 15, 16, 17, 18, 19, 32, 39}) EXPECT_EQ(dst[spare], 0xAB);

    // A pitch that is not a whole number of texels starts rows at the texel below it.
    Bytes odd(40, 0xAB);
    d.toARGB(src.data(), odd.data(), 23, 3, 2);
    EXPECT_EQ(odd, dst);
}

TEST(ColourTable, CopyLaneWritesOneByteOfEachTexel) {
    VideoDecoder d;
    // 37 pixels per row (not a whole number of vectors), 3 rows, pitch with 12 spare bytes.
    const int w = 37, h = 3, pitch = w * 4 + 12;
    Bytes src(size_t(w * h * 4));
    for (size_t i = 0; i < src.size(); ++i) src[i] = uint8_t(i * 7 + 1);
    for (int lane = 0; lane < 4; ++lane) {
        Bytes dst(size_t(pitch * h), 0xAB);
        d.copyLane(src.data(), dst.data(), lane, pitch, w, h);
        for (int y = 0; y < h; ++y)
            for (int i = 0; i < pitch; ++i) {
                const int x = i / 4, b = i % 4;
                const uint8_t expected = x < w && b == lane ? src[size_t(4 * (y * w + x))] : 0xAB;
                ASSERT_EQ(dst[size_t(y * pitch + i)], expected) << lane << " " << y << " " << i;
            }
    }
    // Copying into the source itself: lane 0 lands in lane 3 and nothing else moves.
    Bytes same = src;
    d.copyLane(same.data(), same.data(), 3, w * 4, w, h);
    for (size_t i = 0; i < same.size(); ++i)
        ASSERT_EQ(same[i], i % 4 == 3 ? src[i - 3] : src[i]) << i;
}

}  // namespace
