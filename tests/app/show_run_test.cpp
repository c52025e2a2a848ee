// Runs the quillmere program headless on a small asset set made here: our own tracks, tiny
// videos from our encoder and, when the lame encoder is installed, a short mp3.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "show_assets.h"

namespace {

using show_assets::readFile;
using show_assets::trackFile;
using show_assets::videoFile;
using show_assets::writeFile;

struct Outcome {
    int status = -1;
    std::string err;
};

class ShowRun : public ::testing::Test {
  protected:
    void SetUp() override { dir = show_assets::makeAssetFolder(false); }
    void TearDown() override { show_assets::removeFolder(dir); }

    Outcome run(const std::string& args) {
        std::string errPath = dir + "/stderr.txt";
        std::string command = "'" + show_assets::appPath() + "' --headless --assets '" + dir +
                              "' " + args + " 2>'" + errPath + "'";
        int raw = std::system(command.c_str());
        Outcome r;
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        r.err = readFile(errPath);
        return r;
    }

    // Lines of the trace, grouped by frame: frames[k] holds the lines of frame k (frames[0] the
    // calls before the first frame).
    std::vector<std::vector<std::string>> frames(const std::string& tracePath) {
        std::vector<std::vector<std::string>> result(1);
        std::istringstream in(readFile(tracePath));
        std::string line;
        while (std::getline(in, line)) {
            if (line.rfind("frame ", 0) == 0) {
                result.emplace_back();
                EXPECT_EQ(line, "frame " + std::to_string(result.size() - 1));
            } else {
                result.back().push_back(line);
            }
        }
        return result;
    }

    static int count(const std::vector<std::string>& lines, const std::string& prefix) {
        int n = 0;
        for (const auto& l : lines) n += l.rfind(prefix, 0) == 0;
        return n;
    }

    std::string dir;
};

TEST_F(ShowRun, FramesOfATracedRunReadAsDocumented) {
    Outcome r = run("--frames 30 --trace '" + dir + "/t.txt'");
    ASSERT_EQ(r.status, 0) << r.err;
    auto f = frames(dir + "/t.txt");
    ASSERT_EQ(f.size(), 31u);
    EXPECT_GT(count(f[0], "CreateWindowExA"), 0);
    for (size_t k = 1; k < f.size(); ++k) {
        ASSERT_FALSE(f[k].empty());
        EXPECT_EQ(f[k][0].rfind("PeekMessageA", 0), 0u) << f[k][0];
        EXPECT_EQ(count(f[k], "Present"), 1) << "frame " << k;
    }
    // Paper, background video, 840 particles; the overlay video only from scene clock 10 on.
    EXPECT_GE(count(f[5], "DrawPrimitive"), 842);
}

TEST_F(ShowRun, OverlayTextAppearsAfterNumLock) {
    Outcome r = run("--frames 90 --press NUMLOCK@1 --trace '" + dir + "/t.txt'");
    ASSERT_EQ(r.status, 0) << r.err;
    auto f = frames(dir + "/t.txt");
    ASSERT_EQ(f.size(), 91u);
    EXPECT_EQ(count(f[30], "DrawTextA"), 0);
    ASSERT_EQ(count(f[80], "DrawTextA"), 1);
    for (const auto& l : f[80])
        if (l.rfind("DrawTextA", 0) == 0) {
            EXPECT_NE(l.find("FPS:"), std::string::npos) << l;
            EXPECT_NE(l.find("mscale:"), std::string::npos) << l;
        }
}

TEST_F(ShowRun, WithoutMusicTheShowEndsByItsClock) {
    Outcome r = run("--fps 10 --trace '" + dir + "/t.txt'");
    ASSERT_EQ(r.status, 0) << r.err;
    auto f = frames(dir + "/t.txt");
    // Scene clock 700 is 140 s: the frame that passes it is begun but not drawn.
    ASSERT_GE(f.size(), 1400u);
    EXPECT_LE(f.size(), 1403u);
    EXPECT_EQ(count(f.back(), "Present"), 0);
    EXPECT_GT(count(f.back(), "DestroyWindow"), 0);
}

TEST_F(ShowRun, BrokenAssetsEndWithTheirMessageAndStatusOne) {
    std::remove((dir + "/vid/kasi.vid").c_str());
    Outcome missing = run("--frames 5");
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("Failed!: vid\\kasi.vid"), std::string::npos) << missing.err;

    writeFile(dir + "/vid/kasi.vid", {1, 2, 3, 4, 5, 6, 7, 8, 9});
    Outcome corrupt = run("--frames 5");
    EXPECT_EQ(corrupt.status, 1);
    EXPECT_NE(corrupt.err.find("Failed!: vid\\kasi.vid"), std::string::npos) << corrupt.err;
    writeFile(dir + "/vid/kasi.vid", videoFile(3, 0));

    std::vector<uint8_t> cut = videoFile(2, 1);
    cut.resize(cut.size() / 2);
    writeFile(dir + "/vid/vemla.vid", cut);
    Outcome truncatedVideo = run("--frames 5");
    EXPECT_EQ(truncatedVideo.status, 1);
    EXPECT_NE(truncatedVideo.err.find("Failed!: vid\\vemla.vid"), std::string::npos)
        << truncatedVideo.err;
    writeFile(dir + "/vid/vemla.vid", videoFile(2, 1));

    writeFile(dir + "/data/track1.data", {});
    Outcome empty = run("--frames 5");
    EXPECT_EQ(empty.status, 1);
    EXPECT_NE(empty.err.find("Failed!: data\\track1.data"), std::string::npos) << empty.err;

    std::vector<uint8_t> shortTrack = trackFile(0);
    shortTrack.resize(2000);
    writeFile(dir + "/data/track2.data", shortTrack);
    writeFile(dir + "/data/track1.data", trackFile(0));
    Outcome truncated = run("--frames 5");
    EXPECT_EQ(truncated.status, 1);
    EXPECT_NE(truncated.err.find("Failed!: data\\track2.data"), std::string::npos) << truncated.err;
}

TEST_F(ShowRun, AShortMp3EndsTheShowAfterTheFrameInProgress) {
    // Two seconds of a quiet tone.
    if (!show_assets::writeMusic(dir, 2.0)) GTEST_SKIP() << "lame not installed";
    Outcome r = run("--trace '" + dir + "/t.txt'");
    ASSERT_EQ(r.status, 0) << r.err;
    auto f = frames(dir + "/t.txt");
    // About two seconds at 60 frames per second; the frame in which the music ends is presented.
    EXPECT_GE(f.size(), 118u);
    EXPECT_LE(f.size(), 135u);
    EXPECT_EQ(count(f.back(), "Present"), 1);
}

}  // namespace
