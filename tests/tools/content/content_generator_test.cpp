// The default show content: the tool end to end, and what the show needs of each asset.
#include <gtest/gtest.h>
#include <jpeglib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "content/content_io.h"
#include "content/content_math.h"
#include "content/content_tool.h"
#include "content/pictures.h"
#include "content/tracks.h"
#include "content/videos.h"
#include "video/video_decoder.h"

namespace {

using namespace content;

std::vector<uint8_t> slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

int lineCount(const std::string& text) {
    int n = 0;
    for (char c : text) n += c == '\n';
    return n;
}

struct ToolRun {
    int status;
    std::string out, err;
};

ToolRun runTool(const std::vector<std::string>& args, MusicWriter music = nullptr) {
    std::ostringstream out, err;
    const int status = runContentTool(args, out, err, music);
    return ToolRun{status, out.str(), err.str()};
}

// Stands in for the composer, which has tests of its own and takes far longer than the rest.
bool quickMusic(const std::string& path, uint32_t seed, std::string* error) {
    return writeFileAtomically(path, {uint8_t(seed), 0xFF, 0xFB}, error);
}

bool refuseMusic(const std::string&, uint32_t, std::string* error) {
    *error = "no encoder";
    return false;
}

class TempDir {
  public:
    TempDir() {
        char pattern[] = "/tmp/content-test-XXXXXX";
        if (mkdtemp(pattern)) path = pattern;
    }
    ~TempDir() {
        if (!path.empty()) std::system(("rm -rf '" + path + "'").c_str());
    }
    std::string path;
};

// A run writes every asset, one line each, and writes exactly what the makers make: the same
// seed gives the same bytes.
TEST(ContentTool, WritesEveryAssetAndTheSameSeedGivesTheSameBytes) {
    TempDir dir;
    ASSERT_FALSE(dir.path.empty());
    const ToolRun run = runTool({dir.path + "/out/", "--seed", "4242"}, quickMusic);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(lineCount(run.out), int(assets().size()) + 1);
    for (const Asset& asset : assets())
        EXPECT_TRUE(slurp(dir.path + "/out/" + asset.path) == asset.make(4242)) << asset.path;
    EXPECT_EQ(slurp(dir.path + "/out/" + kMusicPath), (std::vector<uint8_t>{0x92, 0xFF, 0xFB}));

    const ToolRun failed = runTool({dir.path + "/again"}, refuseMusic);
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(failed.err, "quillmere-content: " + dir.path + "/again/data/aaa.mp3: no encoder\n");
}

TEST(ContentSeed, AnotherSeedChangesEveryAsset) {
    const uint32_t other = 77;
    for (const Asset& asset : assets()) {
        const std::string path = asset.path;
        if (path.find(".vid") != std::string::npos) continue;  // pictures below, faster
        EXPECT_FALSE(asset.make(kDefaultSeed) == asset.make(other)) << path;
    }
    EXPECT_NE(drawOverlayFrame(kDefaultSeed, 20).y, drawOverlayFrame(other, 20).y);
    EXPECT_NE(drawBackgroundFrame(kDefaultSeed, 20).y, drawBackgroundFrame(other, 20).y);
}

// Every point of every record, and the run-on point the show extrapolates from it, lies in
// the view with room to spare, for several seeds.
TEST(ContentTracks, RecordsStayInsideTheView) {
    for (uint32_t seed : {0u, 1u, 2u, 12345u, 4294967295u})
        for (int t = 1; t <= 2; ++t) {
            const std::vector<uint8_t> bytes =
                encodeTrack(t == 1 ? designTrack1(seed) : designTrack2(seed));
            ASSERT_EQ(bytes.size(), size_t(kTrackRecords * kTrackRecordBytes));
            for (int r = 0; r < kTrackRecords; ++r) {
                float v[4];
                std::memcpy(v, &bytes[size_t(r) * 16], 16);
                const float end[2] = {2 * v[2] - v[0], 2 * v[3] - v[1]};
                for (const float* p : std::vector<const float*>{&v[0], &v[2], &end[0]}) {
                    SCOPED_TRACE(::testing::Message()
                                 << "seed " << seed << " track " << t << " record " << r);
                    EXPECT_TRUE(std::isfinite(p[0]) && std::isfinite(p[1]));
                    EXPECT_LE(std::fabs(p[0]), kTrackHalfWidth + 1e-6);
                    EXPECT_LE(std::fabs(p[1]), kTrackHalfHeight + 1e-6);
                }
                // A mark always has a direction.
                EXPECT_GT(std::fabs(v[2] - v[0]) + std::fabs(v[3] - v[1]), 0.05f)
                    << "seed " << seed << " track " << t << " record " << r;
            }
        }
}

// Every frame of a video decoded by the show's own decoder, checked to be 256 x 256; the
// luma of each frame is returned.
std::vector<std::vector<uint8_t>> decodeEveryFrame(const std::vector<uint8_t>& bytes,
                                                   int expectedFrames) {
    VideoDecoder decoder;
    EXPECT_EQ(decoder.init(), 1);
    const VideoImage image{bytes.data(), int32_t(bytes.size())};
    EXPECT_EQ(decoder.open(image), expectedFrames + 1);
    std::vector<std::vector<uint8_t>> luma;
    std::vector<unsigned char> out(256 * 256 * 4);
    for (int f = 0; f < expectedFrames; ++f) {
        EXPECT_TRUE(decoder.decodeFrame(image, out.data(), int(out.size()), f)) << f;
        EXPECT_EQ(decoder.width(), 256);
        EXPECT_EQ(decoder.height(), 256);
        std::vector<uint8_t> y(256 * 256);
        for (size_t i = 0; i < y.size(); ++i) y[i] = out[4 * i];
        luma.push_back(y);
    }
    return luma;
}

double meanDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) sum += std::abs(int(a[i]) - int(b[i]));
    return sum / a.size();
}

// The show plays frame index (counter mod (frames + 1)); the last index shows frame 0 again.
// Across that seam the picture must move no more than between ordinary neighbours.
void expectSeamlessLoop(const std::vector<std::vector<uint8_t>>& luma) {
    const size_t n = luma.size();
    double largest = 0;
    for (size_t f = 1; f + 1 < n; ++f)
        largest = std::max(largest, meanDifference(luma[f], luma[f + 1]));
    EXPECT_LE(meanDifference(luma[n - 1], luma[0]), 1.6 * largest);
    EXPECT_LE(meanDifference(luma[0], luma[1]), 1.6 * largest);
}

TEST(ContentVideos, OverlayDecodesLoopsAndIsMostlyClearWithOpaqueBlooms) {
    const std::vector<uint8_t> bytes = makeOverlayVideo(kDefaultSeed);
    EXPECT_LT(bytes.size(), 1000000u);
    const auto luma = decodeEveryFrame(bytes, kOverlayFrames);
    ASSERT_EQ(luma.size(), size_t(kOverlayFrames));
    expectSeamlessLoop(luma);
    // Its luma becomes alpha: most of the shown rows (32..223) must stay clear (luma up to 85
    // is fully transparent), yet blooms must be there (142 and above is opaque).
    int framesWithBlooms = 0;
    for (size_t f = 0; f < luma.size(); ++f) {
        int clear = 0, opaque = 0, shown = 0;
        for (int y = 32; y < 224; ++y)
            for (int x = 0; x < 256; ++x, ++shown) {
                const uint8_t v = luma[f][size_t(y) * 256 + x];
                clear += v <= 85;
                opaque += v >= 142;
            }
        EXPECT_GT(clear, shown * 3 / 4) << "frame " << f;
        framesWithBlooms += opaque > 200;
    }
    EXPECT_GE(framesWithBlooms, int(luma.size()) * 9 / 10);
}

TEST(ContentVideos, BackgroundDecodesLoopsAndKeepsToMidTones) {
    const std::vector<uint8_t> bytes = makeBackgroundVideo(kDefaultSeed);
    EXPECT_LT(bytes.size(), 1000000u);
    const auto luma = decodeEveryFrame(bytes, kBackgroundFrames);
    ASSERT_EQ(luma.size(), size_t(kBackgroundFrames));
    expectSeamlessLoop(luma);
    // Neither washed out nor black: the show's effects need texture to work on.
    for (const auto& frame : luma) {
        double sum = 0;
        for (uint8_t v : frame) sum += v;
        EXPECT_GT(sum / frame.size(), 60.0);
        EXPECT_LT(sum / frame.size(), 160.0);
    }
}

struct DecodedJpeg {
    int width = 0, height = 0, components = 0;
    std::vector<uint8_t> pixels;
};

DecodedJpeg decodeJpeg(const std::vector<uint8_t>& bytes) {
    DecodedJpeg d;
    jpeg_decompress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, bytes.data(), (unsigned long)bytes.size());
    if (jpeg_read_header(&info, TRUE) == JPEG_HEADER_OK) {
        jpeg_start_decompress(&info);
        d.width = int(info.output_width);
        d.height = int(info.output_height);
        d.components = info.output_components;
        d.pixels.resize(size_t(d.width) * d.height * d.components);
        while (info.output_scanline < info.output_height) {
            JSAMPROW row = d.pixels.data() + size_t(info.output_scanline) * d.width * d.components;
            jpeg_read_scanlines(&info, &row, 1);
        }
        jpeg_finish_decompress(&info);
    }
    jpeg_destroy_decompress(&info);
    return d;
}

bool powerOfTwo(int v) {
    return v > 0 && (v & (v - 1)) == 0;
}

std::vector<uint8_t> makeAsset(const std::string& path) {
    for (const Asset& asset : assets())
        if (path == asset.path) return asset.make(kDefaultSeed);
    ADD_FAILURE() << "no asset " << path;
    return {};
}

TEST(ContentPictures, DecodeAtPowerOfTwoSizes) {
    for (const char* name :
         {"data/paper1.jpg", "data/brushes/brush1.jpg", "data/brushes/brush2.jpg",
          "data/brushes/zor_brush2.jpg", "data/brushes/zor_brush4.jpg"}) {
        SCOPED_TRACE(name);
        const DecodedJpeg d = decodeJpeg(makeAsset(name));
        EXPECT_TRUE(powerOfTwo(d.width) && powerOfTwo(d.height)) << d.width << "x" << d.height;
        EXPECT_EQ(d.components, 3);
    }
}

// A brush is a bright mark on black whose square never shows: the outer band is black, the
// middle is bright.
TEST(ContentPictures, BrushesAreBrightMarksFadingToBlackEdges) {
    for (const char* name :
         {"data/brushes/brush1.jpg", "data/brushes/brush2.jpg", "data/brushes/zor_brush4.jpg"}) {
        SCOPED_TRACE(name);
        const DecodedJpeg d = decodeJpeg(makeAsset(name));
        ASSERT_EQ(d.width, kBrushSize);
        int edgeMax = 0, middleMax = 0;
        for (int y = 0; y < d.height; ++y)
            for (int x = 0; x < d.width; ++x) {
                const int v = d.pixels[(size_t(y) * d.width + x) * 3 + 1];
                const bool edge = x < 4 || y < 4 || x >= d.width - 4 || y >= d.height - 4;
                const bool middle = std::abs(x - d.width / 2) < d.width / 4 &&
                                    std::abs(y - d.height / 2) < d.height / 4;
                if (edge) edgeMax = std::max(edgeMax, v);
                if (middle) middleMax = std::max(middleMax, v);
            }
        EXPECT_LE(edgeMax, 8);
        EXPECT_GE(middleMax, 110);
    }
}

// The additive stroke's brush is piled up about a hundred layers deep, magnified, late in the
// show, and the magnified layers read its inner half most: that half is black and the brush is
// dark on average. Where it does carry paint, the paint is bright, not a faint ring or fringe:
// the first stroke's blend settles its pile on the colour of what it lays down, so faint texels
// would turn that pile dark.
TEST(ContentPictures, AdditiveBrushIsSparseOuterAndPressedBright) {
    const DecodedJpeg d = decodeJpeg(makeAsset("data/brushes/zor_brush2.jpg"));
    ASSERT_EQ(d.width, kBrushSize);
    int innerMax = 0, edgeMax = 0, painted = 0, bright = 0, faint = 0;
    double sum = 0;
    for (int y = 0; y < d.height; ++y)
        for (int x = 0; x < d.width; ++x) {
            const int v = d.pixels[(size_t(y) * d.width + x) * 3 + 1];
            const int dx = x - d.width / 2, dy = y - d.height / 2;
            if (dx * dx + dy * dy < 56 * 56) innerMax = std::max(innerMax, v);
            if (x < 4 || y < 4 || x >= d.width - 4 || y >= d.height - 4)
                edgeMax = std::max(edgeMax, v);
            if (v > 3) ++painted;
            if (v >= 150) ++bright;
            if (v > 3 && v <= 60) ++faint;
            sum += v;
        }
    EXPECT_LE(innerMax, 8);
    EXPECT_LE(edgeMax, 8);
    EXPECT_LT(sum / (d.width * d.height), 3.2);
    ASSERT_GT(painted, 500);
    EXPECT_GE(bright, painted * 7 / 10);
    EXPECT_LE(faint, painted / 5);
}

// The paper tiles: the step from its last column to its first (and last row to first) is no
// larger than an ordinary step between neighbouring columns.
TEST(ContentPaper, TilesWithoutASeam) {
    const RgbImage p = drawPaper(kDefaultSeed);
    ASSERT_EQ(p.width, kPaperSize);
    auto at = [&](int x, int y) { return int(p.pixels[(size_t(y) * p.width + x) * 3]); };
    auto columnStep = [&](int a, int b) {
        double s = 0;
        for (int y = 0; y < p.height; ++y) s += std::abs(at(a, y) - at(b, y));
        return s / p.height;
    };
    auto rowStep = [&](int a, int b) {
        double s = 0;
        for (int x = 0; x < p.width; ++x) s += std::abs(at(x, a) - at(x, b));
        return s / p.width;
    };
    const double typical =
        (columnStep(100, 101) + columnStep(300, 301) + rowStep(100, 101) + rowStep(300, 301)) / 4;
    EXPECT_LE(columnStep(p.width - 1, 0), 1.5 * typical + 0.5);
    EXPECT_LE(rowStep(p.height - 1, 0), 1.5 * typical + 0.5);
}

TEST(ContentMath, SineAndNoiseRepeatExactly) {
    for (double t = -3.0; t <= 3.0; t += 0.01234)
        EXPECT_NEAR(sinTurns(t), std::sin(2 * kPi * t), 1e-9) << t;
    const PeriodicNoise noise(5, 4, 3, 2);
    for (double x = 0.1; x < 4; x += 0.37)
        for (double y = 0.2; y < 3; y += 0.41) {
            EXPECT_NEAR(noise.fbm(x, y, 0.5, 4), noise.fbm(x + 4, y - 3, 2.5, 4), 1e-12);
        }
}

TEST(ContentTool, RefusesBadArguments) {
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{},
                                               {"--frobnicate", "/tmp/x"},
                                               {"/tmp/x", "--seed"},
                                               {"/tmp/x", "--seed", "12x"},
                                               {"/tmp/x", "--seed", "-1"},
                                               {"/tmp/x", "--seed=4294967296"},
                                               {"/tmp/x", "/tmp/y"},
                                               {""}}) {
        const ToolRun r = runTool(args);
        EXPECT_EQ(r.status, 2) << (args.empty() ? "" : args[0]);
        EXPECT_EQ(lineCount(r.err), 1) << r.err;
        EXPECT_EQ(r.out, "");
    }
    const ToolRun help = runTool({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("usage: quillmere-content OUTDIR"), std::string::npos);
}

TEST(ContentTool, UnwritableFolderFailsInOneLine) {
    char pattern[] = "/tmp/content-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    // A plain file where a folder is wanted: refused even when running as root.
    std::ofstream(dir + "/blocker") << "x";
    const ToolRun r = runTool({dir + "/blocker/out"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(lineCount(r.err), 1) << r.err;
    EXPECT_NE(r.err.find("blocker"), std::string::npos) << r.err;
    // A failed write leaves no partial file behind.
    std::string error;
    EXPECT_FALSE(writeFileAtomically(dir + "/blocker/file", {1, 2, 3}, &error));
    EXPECT_TRUE(writeFileAtomically(dir + "/ok", {1, 2, 3}, &error)) << error;
    EXPECT_EQ(slurp(dir + "/ok"), (std::vector<uint8_t>{1, 2, 3}));
    std::system(("rm -rf '" + dir + "'").c_str());
}

}  // namespace
