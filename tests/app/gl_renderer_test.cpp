// The GL renderer against the CPU renderer on the test asset set: the same frames within a
// measured difference, text and lines where the CPU renderer puts them, and the choice of
// renderer where the GL one cannot start.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "show_assets.h"

namespace {

using show_assets::Outcome;

constexpr size_t kFrameBytes = 640 * 480 * 4;

// PSNR over the red, green and blue bytes of two raw frames `width` pixels wide (inf when
// equal); the region is [x0, x1) x [y0, y1).
double psnr(const std::string& a, const std::string& b, size_t offset, int x0 = 0, int y0 = 0,
            int x1 = 640, int y1 = 480, int width = 640) {
    double sum = 0;
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) {
            const size_t at = offset + (size_t(y) * width + x) * 4;
            for (int c = 0; c < 3; ++c) {
                const double d = double(uint8_t(a[at + c])) - double(uint8_t(b[at + c]));
                sum += d * d;
            }
        }
    }
    const double mse = sum / (double(x1 - x0) * (y1 - y0) * 3);
    return mse == 0 ? INFINITY : 10.0 * std::log10(255.0 * 255.0 / mse);
}

class GlRenderer : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { assets = show_assets::makeAssetFolder(true); }
    static void TearDownTestSuite() { show_assets::removeFolder(assets); }

    // The GPU drivers keep allocations to the process's end, which a sanitizer build would
    // report as leaks of the program.
    Outcome run(const std::string& args, const std::string& environment = "") {
        return show_assets::runApp(assets, args, "LSAN_OPTIONS=detect_leaks=0 " + environment);
    }

    static std::string assets;
};

std::string GlRenderer::assets;

// The opening (heavy, white), paper with both videos and the strokes, and the fading end: three
// frames at each, at 10 frames per second.
TEST_F(GlRenderer, FramesMatchTheCpuRendererWithin50Decibels) {
    std::vector<double> all;
    for (const char* from : {"1", "20", "60", "135"}) {
        const std::string window = std::string("--fps 10 --capture - --from ") + from + " --to " +
                                   std::to_string(std::atof(from) + 0.3);
        Outcome cpu = run(window + " --renderer cpu");
        Outcome gl = run(window + " --renderer gl");
        ASSERT_EQ(cpu.status, 0) << cpu.err;
        ASSERT_EQ(gl.status, 0) << gl.err;
        EXPECT_NE(gl.err.find("drawn by the GL renderer ("), std::string::npos) << gl.err;
        EXPECT_NE(cpu.err.find("drawn by the CPU renderer"), std::string::npos) << cpu.err;
        ASSERT_EQ(gl.out.size(), 3 * kFrameBytes) << "at " << from << " s";
        ASSERT_EQ(gl.out.size(), cpu.out.size());
        std::string line = std::string("PSNR from ") + from + " s:";
        for (size_t f = 0; f < 3; ++f) {
            const double db = psnr(gl.out, cpu.out, f * kFrameBytes);
            all.push_back(db);
            line += " " + std::to_string(db);
            EXPECT_GE(db, 50.0) << "frame " << f << " from " << from << " s";
        }
        std::printf("%s\n", line.c_str());
    }
    ASSERT_EQ(all.size(), 12u);
}

// The overlay's text (top left) and the particles' trace lines over the same frame: the glyphs
// come from the same layout and the line pixels from the same rule, so they coincide and only
// blending rounds differently.
TEST_F(GlRenderer, TextAndLinesLandWhereTheCpuRendererPutsThem) {
    const std::string window =
        "--fps 10 --capture - --from 20 --to 20.1 --press NUMLOCK@19 --press DIVIDE@19 "
        "--press F1@19";
    Outcome cpu = run(window + " --renderer cpu");
    Outcome gl = run(window + " --renderer gl");
    ASSERT_EQ(cpu.status, 0) << cpu.err;
    ASSERT_EQ(gl.status, 0) << gl.err;
    ASSERT_EQ(gl.out.size(), kFrameBytes);
    ASSERT_EQ(cpu.out.size(), kFrameBytes);
    const double text = psnr(gl.out, cpu.out, 0, 0, 0, 200, 140);
    std::printf("PSNR with text and lines: whole %.2f dB, text %.2f dB\n", psnr(gl.out, cpu.out, 0),
                text);
    EXPECT_GE(text, 45.0);
    EXPECT_GE(psnr(gl.out, cpu.out, 0), 45.0);
    // A glyph shifted by one pixel would leave the text near 20 dB: the text is really there.
    Outcome plain = run("--fps 10 --capture - --from 20 --to 20.1 --renderer cpu");
    ASSERT_EQ(plain.out.size(), kFrameBytes);
    EXPECT_LT(psnr(plain.out, cpu.out, 0, 0, 0, 200, 140), 30.0);
}

// At twice the size: triangles, text and the thicker lines all land where the CPU renderer's do.
// A video of it holds frames of that size and the music.
TEST_F(GlRenderer, AScaledFrameMatchesAndAScaledVideoHasItsSizeAndMusic) {
    const std::string shot =
        "--fps 10 --capture - --from 20 --to 20.1 --scale 2 --press NUMLOCK@19 --press F1@19";
    Outcome cpu = run(shot + " --renderer cpu");
    Outcome gl = run(shot + " --renderer gl");
    ASSERT_EQ(cpu.status, 0) << cpu.err;
    ASSERT_EQ(gl.status, 0) << gl.err;
    ASSERT_EQ(gl.out.size(), 4 * kFrameBytes);
    ASSERT_EQ(cpu.out.size(), 4 * kFrameBytes);
    const double db = psnr(gl.out, cpu.out, 0, 0, 0, 1280, 960, 1280);
    std::printf("PSNR at scale 2 with text and lines: %.2f dB\n", db);
    EXPECT_GE(db, 45.0);

    if (std::system("command -v ffprobe >/dev/null 2>&1") != 0) GTEST_SKIP() << "no ffprobe";
    char folder[] = "/tmp/qm-gl-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string music = std::string(folder) + "/assets";
    ASSERT_EQ(std::system(("cp -r '" + assets + "' '" + music + "'").c_str()), 0);
    if (!show_assets::writeMusic(music, 3.0)) {
        show_assets::removeFolder(folder);
        GTEST_SKIP() << "lame not installed";
    }
    const std::string video = std::string(folder) + "/show.mp4";
    Outcome made = show_assets::runApp(
        music, "--fps 10 --capture '" + video + "' --from 0.5 --to 1.5 --renderer gl --scale 2",
        "LSAN_OPTIONS=detect_leaks=0");
    ASSERT_EQ(made.status, 0) << made.err;
    std::string probe;
    if (std::FILE* pipe = popen(("ffprobe -v error -show_entries stream=codec_type,width,height "
                                 "-of csv=p=0 '" +
                                 video + "'")
                                    .c_str(),
                                "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) probe += buffer;
        pclose(pipe);
    }
    show_assets::removeFolder(folder);
    EXPECT_NE(probe.find("video,1280,960"), std::string::npos) << probe;
    EXPECT_NE(probe.find("audio"), std::string::npos) << probe;
}

// With no EGL driver to be had, --renderer gl ends with one line and status 1, auto warns once
// and draws with the CPU renderer; on a software driver (llvmpipe here) auto picks the CPU
// renderer without a word.
TEST_F(GlRenderer, WhereItCannotStartGlFailsAndAutoFallsBack) {
    const std::string noDriver = "__EGL_VENDOR_LIBRARY_FILENAMES=/nonexistent.json";
    const std::string shot = "--fps 10 --capture - --from 1 --to 1.1";
    Outcome gl = run(shot + " --renderer gl", noDriver);
    EXPECT_EQ(gl.status, 1);
    EXPECT_EQ(gl.err.rfind("quillmere: the GL renderer cannot start: ", 0), 0u) << gl.err;
    EXPECT_EQ(gl.err.find('\n'), gl.err.size() - 1) << gl.err;
    EXPECT_TRUE(gl.out.empty());

    Outcome fallback = run(shot + " --renderer auto", noDriver);
    ASSERT_EQ(fallback.status, 0) << fallback.err;
#if !defined(__SANITIZE_ADDRESS__)
    // (A sanitizer build's auto never asks the drivers, so it has nothing to warn about.)
    EXPECT_EQ(fallback.err.rfind("quillmere: warning: the GL renderer cannot start (", 0), 0u)
        << fallback.err;
#endif
    EXPECT_NE(fallback.err.find("drawn by the CPU renderer"), std::string::npos);
    EXPECT_EQ(fallback.out.size(), kFrameBytes);

    Outcome automatic = run(shot);
    ASSERT_EQ(automatic.status, 0) << automatic.err;
    EXPECT_EQ(automatic.err.find("warning"), std::string::npos) << automatic.err;
    for (const char* software : {"llvmpipe", "softpipe", "swrast"})
        EXPECT_EQ(automatic.err.find(software), std::string::npos) << automatic.err;

    Outcome bad = run(shot + " --renderer vulkan");
    EXPECT_EQ(bad.status, 2);
}

}  // namespace
