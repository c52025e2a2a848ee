#include "painting/tracks.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <limits>

#include "painting/load_whole_file.h"
#include "painting_fixture.h"

namespace {

using Bytes = std::vector<unsigned char>;

uint32_t bitsOf(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof(bits));
    return bits;
}

// Record n holds (base + n, -n, base + n + 0.5, n / 4), then `tail` bytes of 0xFF follow.
Bytes trackImage(float base, size_t tail = 0) {
    Bytes bytes;
    for (int n = 0; n < kTrackRecords; ++n) {
        for (float value : {base + n, -float(n), base + n + 0.5f, n * 0.25f}) {
            for (int i = 0; i < 4; ++i) bytes.push_back(uint8_t(bitsOf(value) >> (8 * i)));
        }
    }
    bytes.insert(bytes.end(), tail, 0xFF);
    return bytes;
}

// Each test runs in a fresh working directory with a data folder, where the show looks.
class TrackFiles : public PaintingTest {
  protected:
    void SetUp() override {
        PaintingTest::SetUp();
        char pattern[] = "/tmp/qm-tracks-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder = pattern;
        ASSERT_NE(getcwd(previous, sizeof(previous)), nullptr);
        ASSERT_EQ(chdir(folder.c_str()), 0);
        ASSERT_EQ(mkdir("data", 0700), 0);
    }
    void TearDown() override {
        std::remove("data/track1.data");
        std::remove("data/track2.data");
        rmdir("data");
        EXPECT_EQ(chdir(previous), 0);
        rmdir(folder.c_str());
        PaintingTest::TearDown();
    }
    static void write(const char* path, const Bytes& bytes) {
        std::FILE* file = std::fopen(path, "wb");
        if (!bytes.empty()) std::fwrite(bytes.data(), bytes.size(), 1, file);
        std::fclose(file);
    }

    std::string folder;
    char previous[4096] = {};
};

TEST_F(TrackFiles, RecordsBecomePointsInOrderAndTheTailIsIgnored) {
    Bytes first = trackImage(100.0f);
    ASSERT_EQ(first.size(), 2128u);
    // Record 7: a NaN with a payload and -0 pass through bit for bit.
    const uint32_t nanBits = bitsOf(std::numeric_limits<float>::quiet_NaN()) | 0x1234u;
    for (int i = 0; i < 4; ++i) first[7 * 16 + i] = uint8_t(nanBits >> (8 * i));
    std::memset(&first[7 * 16 + 4], 0, 3);
    first[7 * 16 + 7] = 0x80;
    write("data/track1.data", first);
    write("data/track2.data", trackImage(-300.0f, 4096 - 2128));

    Vector<D3DXVECTOR2> track1;
    Vector<D3DXVECTOR2> track2;
    loadTracks(&track1, &track2);
    ASSERT_EQ(track1.count, kTrackPoints);
    ASSERT_EQ(track2.count, kTrackPoints);
    for (int n = 0; n < kTrackRecords; ++n) {
        SCOPED_TRACE(n);
        if (n != 7) {
            EXPECT_EQ(track1.items[2 * n].x, 100.0f + n);
        }
        EXPECT_EQ(track1.items[2 * n + 1].x, 100.0f + n + 0.5f);
        EXPECT_EQ(track2.items[2 * n].y, -float(n));
        EXPECT_EQ(track2.items[2 * n + 1].y, n * 0.25f);
    }
    EXPECT_EQ(bitsOf(track1.items[14].x), nanBits);
    EXPECT_EQ(bitsOf(track1.items[14].y), 0x80000000u);
    EXPECT_EQ(recorder.lines(), Lines{});

    int32_t size = 0;
    delete[] loadWholeFile("data\\track2.data", &size);
    EXPECT_EQ(size, 4096);
}

TEST_F(TrackFiles, MissingEmptyOrShortFilesEndTheRunWithTheirPath) {
    struct Case {
        size_t first, second;  // bytes of each file; 0 is empty, SIZE_MAX missing
        const char* message;
    } cases[] = {{2128, SIZE_MAX, "data\\\\track2.data"},
                 {0, 2128, "data\\\\track1.data"},
                 {2127, 2128, "data\\\\track1.data"},
                 {4096, 2100, "data\\\\track2.data"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        recorder.clearLines();
        Bytes whole = trackImage(0.0f, 4096);
        write("data/track1.data", Bytes(whole.begin(), whole.begin() + long(c.first)));
        std::remove("data/track2.data");
        if (c.second != SIZE_MAX) {
            write("data/track2.data", Bytes(whole.begin(), whole.begin() + long(c.second)));
        }
        Vector<D3DXVECTOR2> track1;
        Vector<D3DXVECTOR2> track2;
        try {
            loadTracks(&track1, &track2);
            ADD_FAILURE() << "the loader returned";
        } catch (const RecordedExit& exit) {
            EXPECT_EQ(exit.status, 1);
        }
        Lines lines = recorder.lines();
        EXPECT_EQ(lines.front(),
                  std::string("MessageBoxA NULL \"") + c.message + "\" \"Failed!\" 0 -> 1");
        EXPECT_EQ(lines.back(), "exit 1");
        EXPECT_EQ(track1.count + track2.count, 0);
    }
}

}  // namespace
