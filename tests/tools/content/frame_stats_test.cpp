// Judging captured frames: white and marked pixels, the show's limits, and a cut-short stream.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "content/frame_stats.h"

namespace {

using namespace content;

std::vector<uint8_t> frameOf(int r, int g, int b, int width = kFrameWidth,
                             int height = kFrameHeight) {
    std::vector<uint8_t> f(size_t(width) * height * 4, 255);
    for (size_t i = 0; i < f.size(); i += 4) {
        f[i] = uint8_t(r);
        f[i + 1] = uint8_t(g);
        f[i + 2] = uint8_t(b);
    }
    return f;
}

void paint(std::vector<uint8_t>& f, size_t count, int r, int g, int b) {
    for (size_t i = 0; i < count; ++i) {
        f[4 * i] = uint8_t(r);
        f[4 * i + 1] = uint8_t(g);
        f[4 * i + 2] = uint8_t(b);
    }
}

TEST(FrameStats, WhiteNeedsEveryChannelAndMarksAreFarFromTheMedian) {
    const int w = 100, h = 100;
    // 245 in every channel is white; one channel below is not.
    std::vector<uint8_t> f = frameOf(245, 245, 245, w, h);
    paint(f, 3000, 255, 255, 244);
    FrameStats s = measureFrame(f.data(), w, h);
    EXPECT_DOUBLE_EQ(s.white, 0.7);
    EXPECT_DOUBLE_EQ(s.marked, 0.0);

    // A cream sheet with a dark mark and a light one: only grey more than 40 levels from the
    // median counts, in either direction.
    f = frameOf(200, 200, 200, w, h);
    paint(f, 100, 159, 159, 159);  // 41 below
    std::vector<uint8_t> g = f;
    paint(g, 50, 241, 241, 241);  // 41 above, over part of the dark mark
    s = measureFrame(g.data(), w, h);
    EXPECT_EQ(s.medianGrey, 200);
    EXPECT_DOUBLE_EQ(s.marked, 0.01);
    paint(f, 100, 160, 160, 160);  // exactly 40 below: not a mark
    EXPECT_DOUBLE_EQ(measureFrame(f.data(), w, h).marked, 0.0);
}

TEST(FrameStats, ShowLimitsCountFramesAgainstTheirShares) {
    ShowStats stats;
    EXPECT_FALSE(stats.within(ShowLimits())) << "no frames proves nothing";
    FrameStats marked;
    marked.marked = 0.005;
    for (int i = 0; i < 97; ++i) stats.add(marked);
    FrameStats blank;
    blank.white = 0.95;
    for (int i = 0; i < 3; ++i) stats.add(blank);
    EXPECT_EQ(stats.mostlyWhite, 3);
    EXPECT_EQ(stats.halfWhite, 3);
    EXPECT_EQ(stats.marked, 97);
    EXPECT_TRUE(stats.within(ShowLimits()));
    stats.add(blank);  // 4 of 101 frames blank: above 3%
    EXPECT_FALSE(stats.within(ShowLimits()));

    ShowStats dull;
    FrameStats plain;  // neither white nor marked
    for (int i = 0; i < 16; ++i) dull.add(plain);
    for (int i = 0; i < 84; ++i) dull.add(marked);
    EXPECT_FALSE(dull.within(ShowLimits()));  // 84% marked, 85% wanted
}

TEST(FrameStats, StreamIsMeasuredWholeAndACutShortOneFails) {
    const std::vector<uint8_t> white = frameOf(255, 255, 255), paper = frameOf(200, 190, 170);
    std::string bytes(white.begin(), white.end());
    bytes.append(paper.begin(), paper.end());

    std::istringstream in(bytes);
    std::ostringstream out, err;
    const char* argv[] = {"quillmere-frame-stats", "--fps", "10", "--each", "--min-frames", "2"};
    EXPECT_EQ(runFrameStats(6, const_cast<char**>(argv), in, out, err), 0) << err.str();
    EXPECT_NE(out.str().find("    1     0.1 s  white 100.0%"), std::string::npos) << out.str();
    EXPECT_NE(out.str().find("2 frames: 50.0% more than 90% white"), std::string::npos);

    // Half the frames blank: outside the limits under --check.
    std::istringstream again(bytes);
    const char* check[] = {"quillmere-frame-stats", "--check"};
    EXPECT_EQ(runFrameStats(2, const_cast<char**>(check), again, out, err), 1);

    // Fewer frames than a whole show, or a frame cut off: failures, not short passes.
    std::istringstream one(std::string(white.begin(), white.end()));
    EXPECT_EQ(runFrameStats(6, const_cast<char**>(argv), one, out, err), 1);
    std::istringstream cut(bytes.substr(0, bytes.size() - 7));
    err.str("");
    const char* plain[] = {"quillmere-frame-stats"};
    EXPECT_EQ(runFrameStats(1, const_cast<char**>(plain), cut, out, err), 1);
    EXPECT_NE(err.str().find("ends inside frame 2"), std::string::npos) << err.str();

    const char* bad[] = {"quillmere-frame-stats", "--fps", "0"};
    EXPECT_EQ(runFrameStats(3, const_cast<char**>(bad), in, out, err), 2);
}

}  // namespace
