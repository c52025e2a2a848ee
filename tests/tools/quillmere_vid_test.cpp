// The quillmere-vid executable end to end: encode, info, decode, and its refusals.
#include <gtest/gtest.h>
#include <unistd.h>

#include <sys/wait.h>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "test_pictures.h"
#include "vid/png_io.h"
#include "video/video_decoder.h"
#include "video/yuv_surface.h"

namespace {

using vidtools_test::gradientPicture;
using vidtools_test::noisyPicture;
using vidtools_test::y4mStream;

struct ToolRun {
    int status;
    std::string out, err;
};

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void spit(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

int lines(const std::string& text) {
    int n = 0;
    for (char c : text) n += c == '\n';
    return n;
}

class Tool : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* tools = std::getenv("QM_TOOLS_DIR");
        tool = std::string(tools ? tools : ".") + "/quillmere-vid";
        if (access(tool.c_str(), X_OK) != 0) GTEST_SKIP() << "no quillmere-vid at " << tool;
        char pattern[] = "/tmp/vidtools-tool-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        std::vector<YuvPicture> frames;
        for (int f = 0; f < 3; ++f) frames.push_back(noisyPicture(32, 32, uint32_t(f + 1)));
        spit(dir + "/in.y4m", y4mStream(frames, false));
    }
    void TearDown() override {
        if (!dir.empty()) std::system(("rm -rf '" + dir + "'").c_str());
    }

    ToolRun run(const std::string& arguments) {
        const std::string command =
            "cd '" + dir + "' && '" + tool + "' " + arguments + " >stdout.txt 2>stderr.txt";
        const int raw = std::system(command.c_str());
        return ToolRun{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(dir + "/stdout.txt"),
                       slurp(dir + "/stderr.txt")};
    }

    // The decoder's own output for a frame of a file in the work folder.
    std::vector<uint8_t> decodeHere(const std::string& file, int frame, int w, int h) {
        const std::string bytes = slurp(dir + "/" + file);
        VideoDecoder decoder;
        EXPECT_EQ(decoder.init(), 1);
        const VideoImage image{reinterpret_cast<const unsigned char*>(bytes.data()),
                               int32_t(bytes.size())};
        std::vector<uint8_t> out(size_t(w) * h * 4, 0);
        EXPECT_TRUE(decoder.decodeFrame(image, out.data(), int(out.size()), frame));
        return out;
    }

    std::string tool, dir;
};

TEST_F(Tool, EncodeInfoAndDecodeAgree) {
    ToolRun r = run("encode in.y4m -o clip.vid --cell 4x4 --chroma-cell 8x8 --shift 2");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(lines(r.out), 4) << r.out;  // one line per frame and a summary
    EXPECT_NE(r.out.find("luma PSNR"), std::string::npos);
    EXPECT_EQ(r.err, "");

    r = run("info clip.vid --json");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\"frames\": 3"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"entryCount\": 4"), std::string::npos);
    EXPECT_NE(r.out.find("\"width\": 32, \"height\": 32, \"cellWidth\": 4"), std::string::npos);
    EXPECT_NE(r.out.find("\"residualShift\": 2"), std::string::npos);
    r = run("info clip.vid");
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(lines(r.out), 5) << r.out;

    r = run("decode clip.vid --frame 2 --raw f2.raw");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string raw = slurp(dir + "/f2.raw");
    ASSERT_EQ(raw.size(), 32u * 32 * 4);
    EXPECT_EQ(std::vector<uint8_t>(raw.begin(), raw.end()), decodeHere("clip.vid", 2, 32, 32));

    // The effects run on the luma in the order given, the noise from its starting state.
    r = run("decode clip.vid --frame 1 --effects noise:9,blurrun:-2,sharpen:3 --raw fx.raw");
    ASSERT_EQ(r.status, 0) << r.err;
    YUVSurface surface(32, 32);
    const std::vector<uint8_t> plain = decodeHere("clip.vid", 1, 32, 32);
    std::copy(plain.begin(), plain.end(), surface.pixels());
    setNoiseState(kNoiseStateStart);
    surface.addNoise(0, 9);
    surface.blurRun(0, -2);
    surface.sharpen(0, 3);
    const std::string fx = slurp(dir + "/fx.raw");
    const std::vector<uint8_t> expected(surface.pixels(), surface.pixels() + surface.bytes());
    EXPECT_EQ(std::vector<uint8_t>(fx.begin(), fx.end()), expected);
    EXPECT_NE(std::vector<uint8_t>(fx.begin(), fx.end()), plain);

    r = run("decode clip.vid --frame 0 --png f0.png");
    ASSERT_EQ(r.status, 0) << r.err;
    RgbImage png;
    std::string error;
    ASSERT_TRUE(readPng(dir + "/f0.png", &png, &error)) << error;
    EXPECT_EQ(png.width, 32);
    EXPECT_EQ(png.height, 32);
    // PNG colour type, byte 25 of the file: 2 RGB, 6 RGBA.
    EXPECT_EQ(slurp(dir + "/f0.png")[25], 2);
    r = run("decode clip.vid --frame 0 --png t0.png --texture");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(slurp(dir + "/t0.png")[25], 6);
}

TEST_F(Tool, EncodesAFolderOfPngsAndStandardInput) {
    ASSERT_EQ(std::system(("mkdir '" + dir + "/frames'").c_str()), 0);
    RgbImage image;
    image.width = 16;
    image.height = 16;
    std::string error;
    for (int f = 0; f < 2; ++f) {
        image.pixels.assign(16 * 16 * 3, uint8_t(60 + 100 * f));
        ASSERT_TRUE(writePng(dir + "/frames/" + std::to_string(f) + ".png", image, &error));
    }
    ToolRun r = run("encode frames -o png.vid --quiet");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(lines(r.out), 1);
    // Sorted by name: frame 0 is the darker one.
    const std::vector<uint8_t> first = decodeHere("png.vid", 0, 16, 16);
    const std::vector<uint8_t> second = decodeHere("png.vid", 1, 16, 16);
    EXPECT_LT(first[0], second[0]);

    image.width = 8;
    image.pixels.resize(8 * 16 * 3);
    ASSERT_TRUE(writePng(dir + "/frames/2.png", image, &error));
    r = run("encode frames -o mixed.vid");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("2.png is 8x16"), std::string::npos) << r.err;
    EXPECT_NE(access((dir + "/mixed.vid").c_str(), F_OK), 0);

    r = run("encode - -o stdin.vid --frames 2 --raw-luma --no-chroma < in.y4m");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(run("info stdin.vid --json").out.find("\"frames\": 2"), std::string::npos);
}

TEST_F(Tool, BadArgumentsAndInputsGiveOneLineAndAFailureStatus) {
    ASSERT_EQ(run("encode in.y4m -o clip.vid").status, 0);
    spit(dir + "/junk.vid", std::string(2000, 'j'));
    spit(dir + "/short.vid", slurp(dir + "/clip.vid").substr(0, 3000));
    spit(dir + "/odd.y4m", y4mStream({gradientPicture(30, 30)}, false));
    spit(dir + "/c422.y4m", "YUV4MPEG2 W16 H16 C422\nFRAME\n");
    const std::string before = slurp(dir + "/clip.vid");

    const char* bad[] = {
        "",
        "transmogrify clip.vid",
        "info",
        "info missing.vid",
        "info junk.vid",
        "info short.vid",
        "info clip.vid --xml",
        "decode clip.vid --frame 3 --raw x.raw",
        "decode clip.vid --frame -1 --raw x.raw",
        "decode clip.vid --frame one --raw x.raw",
        "decode clip.vid --raw x.raw",
        "decode clip.vid --frame 0",
        "decode clip.vid --frame 0 --raw x.raw --png x.png",
        "decode clip.vid --frame 0 --raw x.raw --texture",
        "decode clip.vid --frame 0 --raw x.raw --effects blur:2",
        "decode clip.vid --frame 0 --raw x.raw --effects levels:1.5",
        "decode clip.vid --frame 0 --raw x.raw --effects noise:x",
        "decode clip.vid --frame 0 --png /nonexistent/dir/x.png",
        "encode in.y4m",
        "encode in.y4m -o clip.vid",
        "encode in.y4m -o new.vid --cell 3x4",
        "encode in.y4m -o new.vid --chroma-cell 32x8",
        "encode in.y4m -o new.vid --shift 8",
        "encode in.y4m -o new.vid --threshold lots",
        "encode in.y4m -o new.vid --frames 0",
        "encode in.y4m -o new.vid --wobble",
        "encode odd.y4m -o new.vid",
        "encode c422.y4m -o new.vid",
        "encode junk.vid -o new.vid",
        "encode missing.y4m -o new.vid",
        "encode in.y4m -o /nonexistent/dir/new.vid",
    };
    for (const char* arguments : bad) {
        const ToolRun r = run(arguments);
        EXPECT_NE(r.status, 0) << arguments;
        EXPECT_EQ(lines(r.err), 1) << arguments << ": " << r.err;
        EXPECT_EQ(r.err.rfind("quillmere-vid: ", 0), 0u) << r.err;
    }
    EXPECT_NE(run("encode odd.y4m -o new.vid").err.find("30x30"), std::string::npos);
    EXPECT_NE(access((dir + "/new.vid").c_str(), F_OK), 0);
    EXPECT_EQ(slurp(dir + "/clip.vid"), before);
    EXPECT_EQ(run("encode in.y4m -o clip.vid --force --shift 0").status, 0);
    EXPECT_NE(slurp(dir + "/clip.vid"), before);

    const ToolRun help = run("--help");
    EXPECT_EQ(help.status, 0);
    for (const char* word : {"info FILE", "decode FILE", "encode INPUT", "--texture", "--force"})
        EXPECT_NE(help.out.find(word), std::string::npos) << word;
}

}  // namespace
