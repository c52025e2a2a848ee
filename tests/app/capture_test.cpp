// Captures of the show on a small asset set made here: golden frames, windows that equal the
// same frames of longer captures, the three kinds of output and the refusals.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "show_assets.h"
#include "vid/png_io.h"

namespace {

using show_assets::Outcome;
using show_assets::runApp;

constexpr size_t kFrameBytes = 640 * 480 * 4;

std::string goldenPath() {
    if (const char* path = std::getenv("QM_GOLDEN_FILE")) return path;
    std::string here = __FILE__;
    return here.substr(0, here.rfind('/')) + "/../data/golden_frames.txt";
}

bool oneLine(const std::string& text) {
    return !text.empty() && text.find('\n') == text.size() - 1;
}

bool exists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

std::string commandOutput(const std::string& command) {
    std::string text;
    if (std::FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
        pclose(pipe);
    }
    return text;
}

std::vector<std::string> framesOf(const std::string& raw) {
    std::vector<std::string> frames;
    for (size_t at = 0; at + kFrameBytes <= raw.size(); at += kFrameBytes)
        frames.push_back(raw.substr(at, kFrameBytes));
    return frames;
}

// The names in a folder, sorted, without . and ..
std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* entry = readdir(dir))
            if (std::string(entry->d_name) != "." && std::string(entry->d_name) != "..")
                names.push_back(entry->d_name);
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string lastLine(const std::string& text) {
    const size_t end = text.empty() || text.back() != '\n' ? text.size() : text.size() - 1;
    const size_t start = text.rfind('\n', end == 0 ? 0 : end - 1);
    return text.substr(start == std::string::npos ? 0 : start + 1, end - (start + 1));
}

// Every test shares one asset set: building it (videos, images) is the slow part.
class Capture : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { assets = show_assets::makeAssetFolder(true); }
    static void TearDownTestSuite() { show_assets::removeFolder(assets); }

    void SetUp() override {
        char templ[] = "/tmp/qm-out-XXXXXX";
        out = mkdtemp(templ);
    }
    void TearDown() override { show_assets::removeFolder(out); }

    Outcome run(const std::string& args, const std::string& environment = "") {
        return runApp(assets, args, environment);
    }

    static std::string assets;
    std::string out;
};

std::string Capture::assets;

// Show times of the golden frames at 10 frames per second: the opening, the first effects, the
// middle with the overlay video, the second stroke swelling, the fading master scale.
const double kGoldenSeconds[] = {1, 5, 20, 60, 90, 135};

TEST_F(Capture, GoldenFramesMatchTheRecordedHashes) {
    std::map<std::string, std::string> recorded;
    {
        std::ifstream in(goldenPath());
        std::string line;
        while (std::getline(in, line)) {
            if (line.empty() || line[0] == '#') continue;
            std::istringstream fields(line);
            std::string seconds, hash;
            fields >> seconds >> hash;
            recorded[seconds] = hash;
        }
    }
    const bool update = std::getenv("QM_GOLDEN_UPDATE") != nullptr;
    std::ostringstream fresh;
    fresh << "# FNV-1a 64 of the RGBA bytes (A = 255) of single frames of the test asset set in\n"
             "# tests/app/show_assets.cpp at 10 frames per second: show time in seconds, hash.\n"
             "# Rewritten on purpose by `make golden-update`.\n";
    for (double seconds : kGoldenSeconds) {
        char name[32], to[32], hash[24];
        std::snprintf(name, sizeof name, "%g", seconds);
        std::snprintf(to, sizeof to, "%g", seconds + 0.1);
        Outcome r = run(std::string("--fps 10 --capture - --from ") + name + " --to " + to);
        ASSERT_EQ(r.status, 0) << r.err;
        ASSERT_EQ(r.out.size(), kFrameBytes) << "at " << name << " s";
        std::snprintf(
            hash, sizeof hash, "%016" PRIx64,
            show_assets::fnv1a64(reinterpret_cast<const uint8_t*>(r.out.data()), r.out.size()));
        fresh << name << " " << hash << "\n";
        if (!update) {
            ASSERT_TRUE(recorded.count(name))
                << "no golden hash for " << name << " s in " << goldenPath()
                << " (make golden-update records them)";
            EXPECT_EQ(recorded[name], hash) << "frame at " << name << " s";
        }
    }
    if (update) {
        std::ofstream file(goldenPath());
        file << fresh.str();
        ASSERT_TRUE(file.good()) << "cannot write " << goldenPath();
    }
}

TEST_F(Capture, AWindowEqualsTheSameFramesOfALongerCaptureAndRepeats) {
    Outcome longer = run("--fps 10 --capture - --from 3 --to 4");
    ASSERT_EQ(longer.status, 0) << longer.err;
    // Frames 30 to 39: show times 3.0 s up to, not including, 4.0 s.
    ASSERT_EQ(longer.out.size(), 10 * kFrameBytes);
    EXPECT_TRUE(oneLine(longer.err)) << longer.err;

    Outcome first = run("--fps 10 --capture - --from 3.5 --to 3.8");
    Outcome second = run("--fps 10 --capture - --from 3.5 --to 3.8");
    ASSERT_EQ(first.status, 0) << first.err;
    ASSERT_EQ(second.status, 0) << second.err;
    ASSERT_EQ(first.out.size(), 3 * kFrameBytes);
    EXPECT_TRUE(first.out == second.out);

    auto whole = framesOf(longer.out);
    auto part = framesOf(first.out);
    for (size_t i = 0; i < part.size(); ++i) EXPECT_TRUE(part[i] == whole[5 + i]) << "frame " << i;
    // The show moves: neighbouring frames differ.
    EXPECT_FALSE(whole[0] == whole[1]);
    // Alpha is always opaque on the raw stream.
    for (size_t i = 3; i < kFrameBytes; i += 4 * 997) ASSERT_EQ(uint8_t(whole[0][i]), 0xFF);
}

TEST_F(Capture, AnyNumberOfThreadsDrawsTheSameBytes) {
    // The opening (the second stroke's imprints grown over the screen) and a calm middle frame.
    const std::string frames = "--fps 10 --capture - --from 0.5 --to 0.7";
    Outcome one = run(frames + " --threads 1");
    ASSERT_EQ(one.status, 0) << one.err;
    ASSERT_EQ(one.out.size(), 2 * kFrameBytes);
    for (const char* threads : {"2", "3", "7"}) {
        Outcome many = run(frames + " --threads " + threads);
        ASSERT_EQ(many.status, 0) << many.err;
        EXPECT_TRUE(many.out == one.out) << threads << " threads";
    }
    Outcome middle = run("--fps 10 --capture - --from 60 --to 60.1 --threads 1");
    Outcome middleMany = run("--fps 10 --capture - --from 60 --to 60.1 --threads 7");
    ASSERT_EQ(middle.status, 0) << middle.err;
    EXPECT_TRUE(middle.out == middleMany.out);
}

// The peak signal-to-noise ratio in dB over R, G and B of `small` against `big` reduced by the
// mean of each 2 x 2 block: how far a frame drawn twice as fine is from the same frame at 1.
double psnrOfHalved(const std::string& big, const std::string& small) {
    double squares = 0;
    for (size_t y = 0; y < 480; ++y) {
        for (size_t x = 0; x < 640; ++x) {
            for (size_t c = 0; c < 3; ++c) {
                unsigned sum = 0;
                for (size_t dy = 0; dy < 2; ++dy)
                    for (size_t dx = 0; dx < 2; ++dx)
                        sum += uint8_t(big[((2 * y + dy) * 1280 + 2 * x + dx) * 4 + c]);
                const double d = sum / 4.0 - uint8_t(small[(y * 640 + x) * 4 + c]);
                squares += d * d;
            }
        }
    }
    const double mean = squares / (640.0 * 480.0 * 3.0);
    return mean == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mean);
}

TEST_F(Capture, AScaledCaptureIsTheSameShowDrawnFinerOnAnyNumberOfThreads) {
    // The opening (imprints grown over the screen), then a calm middle frame with the overlay's
    // text and the particles' lines switched on.
    const std::string opening = "--fps 10 --capture - --from 0.5 --to 0.7 --scale 2";
    Outcome one = run(opening + " --threads 1");
    ASSERT_EQ(one.status, 0) << one.err;
    ASSERT_EQ(one.out.size(), 2 * 4 * kFrameBytes);
    for (const char* threads : {"2", "3", "7"}) {
        Outcome many = run(opening + " --threads " + threads);
        ASSERT_EQ(many.status, 0) << many.err;
        EXPECT_TRUE(many.out == one.out) << threads << " threads";
    }

    // The show makes the same calls, with the same results, whatever the scale.
    const std::string middle =
        "--fps 10 --capture - --from 60 --to 60.1 --press NUMLOCK@59 --press F4@59 --trace ";
    Outcome plain = run(middle + "'" + out + "/plain.trace'");
    Outcome scaled = run(middle + "'" + out + "/scaled.trace' --scale 2 --threads 3");
    ASSERT_EQ(plain.status, 0) << plain.err;
    ASSERT_EQ(scaled.status, 0) << scaled.err;
    const std::string plainTrace = commandOutput("cat '" + out + "/plain.trace'");
    EXPECT_FALSE(plainTrace.empty());
    EXPECT_TRUE(plainTrace == commandOutput("cat '" + out + "/scaled.trace'"));

    // Halved again, the finer frames are close to the frames drawn at 1 (edges, text and lines
    // fall on finer pixels, so not equal).
    Outcome openingPlain = run("--fps 10 --capture - --from 0.5 --to 0.6");
    ASSERT_EQ(openingPlain.status, 0) << openingPlain.err;
    EXPECT_GT(psnrOfHalved(one.out.substr(0, 4 * kFrameBytes), openingPlain.out), 30.0);
    ASSERT_EQ(scaled.out.size(), 4 * kFrameBytes);
    EXPECT_GT(psnrOfHalved(scaled.out, plain.out), 25.0);

    // A screenshot at 3 is a picture three times as wide and as high.
    Outcome shot = run("--fps 10 --screenshot 20 '" + out + "/shot.png' --scale 3");
    ASSERT_EQ(shot.status, 0) << shot.err;
    RgbImage image;
    std::string error;
    ASSERT_TRUE(readPng(out + "/shot.png", &image, &error)) << error;
    EXPECT_EQ(image.width, 1920);
    EXPECT_EQ(image.height, 1440);
}

TEST_F(Capture, PngFramesAreNamedByTheirNumberAndHoldTheRawPicture) {
    Outcome raw = run("--fps 10 --capture - --from 3 --to 3.4");
    ASSERT_EQ(raw.status, 0) << raw.err;
    auto frames = framesOf(raw.out);
    ASSERT_EQ(frames.size(), 4u);

    const std::string folder = out + "/frames";
    Outcome png = run("--fps 10 --capture '" + folder + "' --from 3 --to 3.3");
    ASSERT_EQ(png.status, 0) << png.err;
    for (int k = 30; k <= 32; ++k) {
        char name[32];
        std::snprintf(name, sizeof name, "/frame_%06d.png", k);
        RgbImage image;
        std::string error;
        ASSERT_TRUE(readPng(folder + name, &image, &error)) << error;
        ASSERT_EQ(image.width, 640);
        ASSERT_EQ(image.height, 480);
        const std::string& rgba = frames[size_t(k - 30)];
        bool same = true;
        for (size_t i = 0; i < 640 * 480 && same; ++i)
            same = image.pixels[3 * i] == uint8_t(rgba[4 * i]) &&
                   image.pixels[3 * i + 1] == uint8_t(rgba[4 * i + 1]) &&
                   image.pixels[3 * i + 2] == uint8_t(rgba[4 * i + 2]);
        EXPECT_TRUE(same) << name;
    }
    EXPECT_FALSE(exists(folder + "/frame_000029.png"));
    EXPECT_FALSE(exists(folder + "/frame_000033.png"));

    // The first frame at or after 3.25 s is frame 33 (3.3 s).
    Outcome shot = run("--fps 10 --screenshot 3.25 '" + out + "/shot.png'");
    ASSERT_EQ(shot.status, 0) << shot.err;
    RgbImage image;
    std::string error;
    ASSERT_TRUE(readPng(out + "/shot.png", &image, &error)) << error;
    bool same = image.pixels.size() == 640 * 480 * 3;
    for (size_t i = 0; i < 640 * 480 && same; ++i)
        same = image.pixels[3 * i] == uint8_t(frames[3][4 * i]) &&
               image.pixels[3 * i + 2] == uint8_t(frames[3][4 * i + 2]);
    EXPECT_TRUE(same);
}

TEST_F(Capture, AnExistingOutputIsRefusedWithoutOverwrite) {
    const std::string folder = out + "/frames";
    mkdir(folder.c_str(), 0755);
    show_assets::writeFile(folder + "/notes.txt", {'h', 'i'});
    Outcome refused = run("--fps 10 --capture '" + folder + "' --from 1 --to 1.1");
    EXPECT_EQ(refused.status, 2);
    EXPECT_TRUE(oneLine(refused.err)) << refused.err;
    EXPECT_FALSE(exists(folder + "/frame_000010.png"));

    Outcome written = run("--fps 10 --capture '" + folder + "' --from 1 --to 1.1 --overwrite");
    EXPECT_EQ(written.status, 0) << written.err;
    EXPECT_TRUE(exists(folder + "/frame_000010.png"));
    EXPECT_TRUE(exists(folder + "/notes.txt"));

    show_assets::writeFile(out + "/show.mp4", {'x'});
    Outcome video = run("--capture '" + out + "/show.mp4' --from 1 --to 1.1");
    EXPECT_EQ(video.status, 2);
    EXPECT_TRUE(oneLine(video.err)) << video.err;
    EXPECT_EQ(show_assets::readFile(out + "/show.mp4"), "x");

    Outcome shot = run("--screenshot 1 '" + folder + "/frame_000010.png'");
    EXPECT_EQ(shot.status, 2);
    EXPECT_TRUE(oneLine(shot.err)) << shot.err;
}

TEST_F(Capture, VideoNeedsFfmpegAndReportsItsFailure) {
    Outcome missing = run("--capture '" + out + "/show.mp4' --to 1", "PATH=/nonexistent");
    EXPECT_EQ(missing.status, 1);
    EXPECT_TRUE(oneLine(missing.err)) << missing.err;
    EXPECT_NE(missing.err.find("ffmpeg"), std::string::npos) << missing.err;
    EXPECT_FALSE(exists(out + "/show.mp4"));

    // An ffmpeg that takes nothing and fails.
    mkdir((out + "/bin").c_str(), 0755);
    show_assets::writeFile(out + "/bin/ffmpeg", {'#', '!', '/', 'b', 'i', 'n', '/', 's', 'h', '\n',
                                                 'e', 'x', 'i', 't', ' ', '3', '\n'});
    chmod((out + "/bin/ffmpeg").c_str(), 0755);
    Outcome failing =
        run("--fps 10 --capture '" + out + "/show.mkv' --to 1", "PATH='" + out + "/bin'");
    EXPECT_EQ(failing.status, 1);
    EXPECT_NE(failing.err.find("ffmpeg failed with status 3"), std::string::npos) << failing.err;
}

// An ffmpeg stand-in: a shell script given the body that follows its first line; "$out" is the
// file it was told to write.
void fakeFfmpeg(const std::string& bin, const std::string& body) {
    mkdir(bin.c_str(), 0755);
    const std::string text = "#!/bin/sh\nfor out; do :; done\n" + body + "\n";
    show_assets::writeFile(bin + "/ffmpeg", std::vector<uint8_t>(text.begin(), text.end()));
    chmod((bin + "/ffmpeg").c_str(), 0755);
}

TEST_F(Capture, AVideoThatFailsOrIsInterruptedLeavesNoFile) {
    const std::string bin = out + "/bin", path = "PATH='" + out + "/bin:/usr/bin:/bin'";
    // ffmpeg dies after writing the start of a video.
    fakeFfmpeg(bin, "head -c 1000 >\"$out\"; exit 3");
    Outcome died = run("--fps 10 --capture '" + out + "/show.mkv' --to 2", path);
    EXPECT_EQ(died.status, 1);
    EXPECT_TRUE(oneLine(died.err)) << died.err;
    EXPECT_NE(died.err.find("ffmpeg failed with status 3"), std::string::npos) << died.err;
    EXPECT_EQ(namesIn(out), std::vector<std::string>{"bin"});

    // The program is asked to stop while ffmpeg is writing.
    fakeFfmpeg(bin, ": >\"$out\"; kill -TERM $PPID; exec cat >>\"$out\"");
    Outcome stopped = run("--fps 10 --capture '" + out + "/show.mp4' --to 2", path);
    EXPECT_EQ(stopped.status, 128 + SIGTERM);
    EXPECT_TRUE(oneLine(stopped.err)) << stopped.err;
    EXPECT_NE(stopped.err.find("interrupted"), std::string::npos) << stopped.err;
    EXPECT_EQ(namesIn(out), std::vector<std::string>{"bin"});

    // A video that completes takes its name only then, and nothing else is left beside it.
    fakeFfmpeg(bin, "cat >\"$out\"");
    Outcome whole = run("--fps 10 --capture '" + out + "/show.webm' --to 0.5", path);
    EXPECT_EQ(whole.status, 0) << whole.err;
    EXPECT_EQ(namesIn(out), (std::vector<std::string>{"bin", "show.webm"}));
    const size_t bytes = show_assets::readFile(out + "/show.webm").size();
    EXPECT_TRUE(bytes > 0 && bytes % kFrameBytes == 0) << bytes;
}

TEST_F(Capture, AnInterruptedFolderHoldsOnlyWholeFrames) {
    const std::string folder = out + "/frames";
    Outcome stopped =
        run("--fps 30 --capture '" + folder + "'", "timeout --preserve-status -s TERM 3");
    EXPECT_EQ(stopped.status, 128 + SIGTERM) << stopped.err;
    EXPECT_TRUE(oneLine(stopped.err)) << stopped.err;
    EXPECT_NE(stopped.err.find("interrupted"), std::string::npos) << stopped.err;
    const std::vector<std::string> names = namesIn(folder);
    EXPECT_FALSE(names.empty());
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        ASSERT_EQ(name.rfind("frame_", 0), 0u);
        ASSERT_EQ(name.substr(name.size() - 4), ".png");
        RgbImage image;
        std::string error;
        EXPECT_TRUE(readPng(folder + "/" + name, &image, &error)) << error;
        EXPECT_EQ(image.width, 640);
    }
}

TEST_F(Capture, AFullDiskEndsTheCaptureWithAReasonAndNoPartialFile) {
    // Files may grow to a few kilobytes: less than any frame.
    const std::string full = "ulimit -f 8;";
    const std::string folder = out + "/frames";
    Outcome frames = run("--fps 10 --capture '" + folder + "' --from 1 --to 1.3", full);
    EXPECT_EQ(frames.status, 1);
    EXPECT_TRUE(oneLine(frames.err)) << frames.err;
    EXPECT_NE(frames.err.find("File too large"), std::string::npos) << frames.err;
    EXPECT_EQ(namesIn(folder), std::vector<std::string>{});

    Outcome shot = run("--screenshot 1 '" + out + "/shot.png'", full);
    EXPECT_EQ(shot.status, 1);
    EXPECT_TRUE(oneLine(shot.err)) << shot.err;
    EXPECT_NE(shot.err.find("shot.png"), std::string::npos) << shot.err;

    if (std::system("command -v ffmpeg >/dev/null 2>&1") == 0) {
        Outcome video = run("--fps 10 --capture '" + out + "/show.mp4' --from 1 --to 2", full);
        EXPECT_NE(video.status, 0);
        EXPECT_NE(lastLine(video.err).find("ffmpeg"), std::string::npos) << video.err;
    }
    EXPECT_EQ(namesIn(out), std::vector<std::string>{"frames"});
}

TEST_F(Capture, Mp4HoldsThePictureAndTheMusicOfTheWindow) {
    if (std::system("command -v ffprobe >/dev/null 2>&1") != 0) GTEST_SKIP() << "no ffprobe";
    const std::string music = out + "/assets";
    // The shared asset set stays without music; this test copies it and adds three seconds.
    ASSERT_EQ(std::system(("cp -r '" + assets + "' '" + music + "'").c_str()), 0);
    if (!show_assets::writeMusic(music, 3.0)) GTEST_SKIP() << "lame not installed";
    Outcome r =
        runApp(music, "--fps 10 --capture '" + out + "/show.mp4' --from 0.5 --to 1.5 --threads 1");
    ASSERT_EQ(r.status, 0) << r.err;
    // Frames drawn by workers reach the capture a frame late; the music still starts under the
    // first of them, so the file is the same to the byte.
    Outcome many =
        runApp(music, "--fps 10 --capture '" + out + "/many.mp4' --from 0.5 --to 1.5 --threads 3");
    ASSERT_EQ(many.status, 0) << many.err;
    EXPECT_EQ(std::system(("cmp -s '" + out + "/show.mp4' '" + out + "/many.mp4'").c_str()), 0);
    const std::string probe = commandOutput(
        "ffprobe -v error -show_entries stream=codec_type,codec_name,duration -of "
        "csv=p=0 '" +
        out + "/show.mp4'");
    // Lines like "h264,video,1.000000" and "aac,audio,1.0xxxxx".
    std::istringstream lines(probe);
    std::string line;
    std::map<std::string, double> durations;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string codec, type, duration;
        std::getline(fields, codec, ',');
        std::getline(fields, type, ',');
        std::getline(fields, duration, ',');
        durations[type + ":" + codec] = std::atof(duration.c_str());
    }
    ASSERT_EQ(durations.count("video:h264"), 1u) << probe;
    ASSERT_EQ(durations.count("audio:aac"), 1u) << probe;
    EXPECT_NEAR(durations["video:h264"], 1.0, 0.01);
    EXPECT_NEAR(durations["audio:aac"], 1.0, 0.1);

    // The show ends with its music at 3 s: a screenshot after that has no frame to show.
    Outcome late = runApp(music, "--screenshot 5 '" + out + "/late.png'");
    EXPECT_EQ(late.status, 1);
    EXPECT_TRUE(oneLine(late.err)) << late.err;
    EXPECT_FALSE(exists(out + "/late.png"));
}

TEST_F(Capture, RelativeOutputsAreNamedFromWhereTheProgramStarted) {
    // The show runs inside its asset folder; the names given on the command line do not.
    Outcome r = run("--fps 10 --capture frames --to 0.2 --trace t.txt", "cd '" + out + "' &&");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(exists(out + "/frames/frame_000001.png"));
    EXPECT_TRUE(exists(out + "/t.txt"));
    EXPECT_FALSE(exists(assets + "/frames"));
    EXPECT_FALSE(exists(assets + "/t.txt"));
}

TEST_F(Capture, BadArgumentsGiveOneLineAndStatusTwo) {
    const char* cases[] = {
        "--capture - --from 3 --to 2",
        "--capture - --from 1.01 --to 1.02 --fps 10",
        "--capture - --from -1",
        "--capture - --from 1e3",
        "--capture - --crf 20",
        "--capture x.webm --crf 64",
        "--capture x.mp4 --crf 52",
        "--capture x.png",
        "--capture - --trace -",
        "--capture - --screenshot 1 y.png",
        "--screenshot 1 y.jpg",
        "--screenshot 1 y.png --from 1",
        "--from 1",
        "--overwrite",
        "--capture",
        "--capture - --scale 5",
        "--headless --scale 2",
    };
    for (const char* args : cases) {
        Outcome r = run(args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_TRUE(oneLine(r.err)) << args << ": " << r.err;
        EXPECT_TRUE(r.out.empty()) << args;
    }
}

}  // namespace

namespace {

// Not a check: writes the test asset set into $QM_ASSET_DIR for the contact sheet's script,
// which runs it by name when no default content has been made.
TEST(AssetSet, DISABLED_WriteToFolder) {
    const char* dir = std::getenv("QM_ASSET_DIR");
    if (dir == nullptr) GTEST_SKIP() << "QM_ASSET_DIR not set";
    std::string made = show_assets::makeAssetFolder(true);
    ASSERT_EQ(std::system(("cp -r '" + made + "/.' '" + dir + "'").c_str()), 0);
    show_assets::removeFolder(made);
}

}  // namespace
