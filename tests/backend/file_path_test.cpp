#include "backend/file_path.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(FilePath, BackslashesBecomeSlashesAndEverythingElseStays) {
    EXPECT_EQ(nativePath("data\\track1.data"), "data/track1.data");
    EXPECT_EQ(nativePath("data//brushes//zor_brush2.jpg"), "data//brushes//zor_brush2.jpg");
    EXPECT_EQ(nativePath("vid\\kasi.vid"), "vid/kasi.vid");
    EXPECT_EQ(nativePath(""), "");
    EXPECT_EQ(nativePath(nullptr), "");
}

TEST(FilePath, FixedBufferNeedsRoomForTheTerminator) {
    char out[13];
    std::memset(out, 'x', sizeof(out));
    EXPECT_EQ(nativePath("data\\aaa.mp3", out, 13), 12);
    EXPECT_STREQ(out, "data/aaa.mp3");

    char small[12];
    std::memset(small, 'x', sizeof(small));
    EXPECT_EQ(nativePath("data\\aaa.mp3", small, 12), -1);
    EXPECT_EQ(small[0], 'x');
    EXPECT_EQ(small[11], 'x');

    EXPECT_EQ(nativePath(nullptr, out, 13), -1);
    EXPECT_EQ(nativePath("a", nullptr, 13), -1);
    EXPECT_EQ(nativePath("a", out, 0), -1);
}
