#include "shell/show.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "backend/headless/headless_backend.h"
#include "backend/recording/recording_backend.h"
#include "painting/random_source.h"
#include "platform/globals.h"
#include "video/record_builder.h"
#include "video/yuv_surface.h"

namespace {

namespace fs = std::filesystem;

vidtest::Bytes flatVideo() {
    vidtest::Header h;
    h.width = h.height = 256;
    h.chromaMode = 255;
    vidtest::Bytes payload = vidtest::payloadHeader(h);
    payload.resize(payload.size() + 256 * 256, 128);
    return vidtest::image({vidtest::record(payload), vidtest::record(payload)});
}

void writeFile(const fs::path& path, const std::vector<uint8_t>& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// Runs the show in a folder of its own holding the track and video files (no images, no
// music: those are optional).
class Show : public ::testing::Test {
  protected:
    void SetUp() override {
        folder = fs::path(::testing::TempDir()) /
                 ("show_" +
                  std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(folder);
        fs::create_directories(folder);
        previous = fs::current_path();
        fs::current_path(folder);
        std::vector<uint8_t> track(133 * 16, 0);
        writeFile("data/track1.data", track);
        writeFile("data/track2.data", track);
        writeFile("vid/kasi.vid", flatVideo());
        writeFile("vid/vemla.vid", flatVideo());
        resetGlobals();
    }
    void TearDown() override {
        useBackend(Backend{});
        fs::current_path(previous);
        fs::remove_all(folder);
        resetGlobals();
    }

    fs::path folder;
    fs::path previous;
};

bool hasLineStarting(const std::vector<std::string>& lines, const std::string& start) {
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& line) { return line.rfind(start, 0) == 0; });
}

TEST_F(Show, AWindowThatCannotBeMadeEndsTheShowWithAFailureStatus) {
    RecordingBackend recorder;
    useBackend(recorder.services());
    recorder.queueResult("RegisterClassExA", 0);
    EXPECT_EQ(runShow(nullptr, nullptr, "", SW_SHOWDEFAULT), 1);
    EXPECT_FALSE(hasLineStarting(recorder.lines(), "CreateWindowExA"));
    EXPECT_FALSE(hasLineStarting(recorder.lines(), "Direct3DCreate9"));
}

TEST_F(Show, AnOverlayVideoTheDecoderRejectsStopsStartUpBeforeTheMusic) {
    writeFile("vid/kasi.vid", std::vector<uint8_t>(64, 0xFF));
    RecordingBackend recorder;
    useBackend(recorder.services());
    try {
        runShow(nullptr, nullptr, "", SW_SHOWDEFAULT);
        FAIL() << "the show ran on an unreadable video";
    } catch (const RecordedExit& exit) {
        EXPECT_EQ(exit.status, 1);
    }
    const std::vector<std::string> lines = recorder.lines();
    EXPECT_TRUE(hasLineStarting(lines, "MessageBoxA NULL \"vid\\\\kasi.vid\" \"Failed!\""));
    EXPECT_FALSE(hasLineStarting(lines, "BASS_"));
}

// The whole show on the headless backend, with music of a given length.
HeadlessOptions music(int64_t ms) {
    HeadlessOptions options;
    options.readDuration = [ms](const std::string& path, Mp3Duration* duration) {
        if (path != "data/aaa.mp3") return false;
        duration->samples = ms * 441 / 10;
        duration->rate = 44100;
        return true;
    };
    return options;
}

TEST_F(Show, TheFrameInWhichTheMusicEndsIsStillPresented) {
    HeadlessBackend headless(music(500));
    useBackend(headless.services());
    EXPECT_EQ(runShow(nullptr, nullptr, "", SW_SHOWDEFAULT), 0);
    // Frame 30 is the first to see half a second; the black start-up frame comes first.
    EXPECT_EQ(headless.clock().frame(), 30u);
    EXPECT_EQ(headless.endSignals(), 1);
    ASSERT_NE(headless.device(), nullptr);
    EXPECT_EQ(headless.device()->presentedFrames(), 1 + 30);
    EXPECT_GT(headless.device()->drawCalls(), 30);
    EXPECT_EQ(display, nullptr);
}

TEST_F(Show, EscapeEndsTheShowWithoutDrawingThatFrame) {
    HeadlessOptions options = music(10000);
    options.presses = {{kScanEscape, 0.1}};
    HeadlessBackend headless(options);
    useBackend(headless.services());
    EXPECT_EQ(runShow(nullptr, nullptr, "", SW_SHOWDEFAULT), 0);
    EXPECT_EQ(headless.clock().frame(), 6u);
    EXPECT_EQ(headless.device()->presentedFrames(), 1 + 5);
    EXPECT_EQ(headless.endSignals(), 0);
}

TEST_F(Show, WithoutMusicTheTimelineEndsTheShow) {
    // Two frames a second keep the run short: the scene clock moves 2.5 units a frame.
    HeadlessOptions options = music(-1);
    options.fps = 2;
    HeadlessBackend headless(options);
    useBackend(headless.services());
    EXPECT_EQ(runShow(nullptr, nullptr, "", SW_SHOWDEFAULT), 0);
    EXPECT_EQ(headless.endSignals(), 0);
    // The frame whose step passes 700 (140 seconds) is the last and is not drawn.
    EXPECT_GE(headless.clock().frame(), 280u);
    EXPECT_LE(headless.clock().frame(), 281u);
    EXPECT_EQ(headless.device()->presentedFrames(), 1 + int64_t(headless.clock().frame()) - 1);
}

// Index of the first line starting with `start` at or after `from`; lines.size() if none.
size_t find(const std::vector<std::string>& lines, const std::string& start, size_t from = 0) {
    for (size_t i = from; i < lines.size(); ++i) {
        if (lines[i].rfind(start, 0) == 0) return i;
    }
    return lines.size();
}

// Every outside call of a run on the headless backend, as the --trace output writes it.
std::vector<std::string> tracedRun(const HeadlessOptions& options) {
    resetShowState();
    auto headless = std::make_unique<HeadlessBackend>(options);
    RecordingBackend recorder(headless->services());
    useBackend(recorder.services());
    EXPECT_EQ(runShow(nullptr, nullptr, "", SW_SHOWDEFAULT), 0);
    useBackend(Backend{});
    // The recorder relays the music's end, so the audio service must go first.
    headless.reset();
    return recorder.lines();
}

TEST_F(Show, TwoRunsOfTheSameContentMakeTheSameCalls) {
    HeadlessOptions options = music(200);
    options.presses = {{DIK_F1, 0.05}, {DIK_NUMLOCK, 0.1}};
    std::vector<std::string> first = tracedRun(options);
    std::vector<std::string> second = tracedRun(options);
    // The test videos carry no chroma, so the surface's chroma lanes keep whatever its fresh
    // buffer held, and the converted video texels with them; everything else must repeat.
    for (auto* lines : {&first, &second}) {
        lines->erase(std::remove_if(lines->begin(), lines->end(),
                                    [](const std::string& line) {
                                        return line.rfind("UnlockRect video-staging", 0) == 0;
                                    }),
                     lines->end());
    }
    ASSERT_EQ(first.size(), second.size());
    for (size_t i = 0; i < first.size(); ++i) ASSERT_EQ(first[i], second[i]) << "line " << i;
    // The music's end arrived through the sync, and the overlay's text was drawn once switched on.
    EXPECT_LT(find(first, "SYNCPROC 1 1 0"), first.size());
    EXPECT_LT(find(first, "DrawTextA"), first.size());
}

TEST_F(Show, StartUpPreRollAndShutdownComeInTheirOrder) {
    RecordingBackend recorder;
    useBackend(recorder.services());
    recorder.setClock(5000, 700);
    // A message waits from the start, but none is handled before the music; then the queue
    // ends, which ends the show in its first frame.
    recorder.postMessage(nullptr, WM_KEYDOWN, 'A', 0);
    recorder.queueResult("GetMessageA", 0);
    EXPECT_EQ(runShow(nullptr, nullptr, "", SW_SHOWDEFAULT), 0);
    const std::vector<std::string> lines = recorder.lines();

    std::vector<size_t> order;
    for (const char* step :
         {"CreateWindowExA", "Direct3DCreate9", "Present", "D3DXCreateFontA", "DirectInput8Create",
          "D3DXCreateLine", "D3DXCreateTextureFromFileA", "BASS_Init", "BASS_StreamCreateFile",
          "BASS_ChannelSetSync", "GetTickCount", "BASS_Start", "BASS_StreamPlay", "GetTickCount",
          "PeekMessageA", "Release device1", "DestroyWindow"}) {
        size_t at = find(lines, step, order.empty() ? 0 : order.back() + 1);
        EXPECT_LT(at, lines.size()) << step << " missing or out of order";
        order.push_back(at);
    }
    // The pre-roll reads the clock until more than 3000 ms have passed, 700 ms a read.
    const size_t syncAt = find(lines, "BASS_ChannelSetSync");
    const size_t startAt = find(lines, "BASS_Start");
    EXPECT_EQ(std::count_if(lines.begin() + syncAt, lines.begin() + startAt,
                            [](const std::string& l) { return l.rfind("GetTickCount", 0) == 0; }),
              1 + 5);
    EXPECT_EQ(find(lines, "PeekMessageA"), find(lines, "PeekMessageA", startAt));
    EXPECT_EQ(lines[startAt + 1], "BASS_StreamPlay 1 0 4 -> 1");
    // The first frame ended at the message pump: nothing drawn after the music started.
    EXPECT_EQ(find(lines, "Clear", startAt), lines.size());
}

}  // namespace
