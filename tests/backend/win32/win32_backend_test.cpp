// The Windows backend's own logic, with its platform side stood in for (fake_native.cpp): the
// whole show runs through it on a small asset set, so capture, the virtual clock, the music's
// end, the quit on --frames and --to, message routing and the values handed to the platform are
// checked here, and under Wine only what the platform itself does remains.
#include "backend/win32/win32_backend.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <fstream>
#include <memory>
#include <set>
#include <string>

#include "app/show_assets.h"
#include "backend/win32/fake_native.h"
#include "backend/win32/mp3_frames.h"
#include "platform/globals.h"
#include "shell/show.h"

namespace {

class Win32BackendRun : public ::testing::Test {
  protected:
    void SetUp() override {
        fake::reset();
        resetGlobals();
        assets = show_assets::makeAssetFolder(true);
        captures = assets + "/frames";
        mkdir(captures.c_str(), 0755);
        char here[PATH_MAX];
        ASSERT_NE(getcwd(here, sizeof here), nullptr);
        start = here;
        ASSERT_EQ(chdir(assets.c_str()), 0);
    }
    void TearDown() override {
        backend.reset();
        EXPECT_EQ(chdir(start.c_str()), 0);
        show_assets::removeFolder(assets);
        resetGlobals();
        fake::reset();
    }

    int run(const Win32Options& options, Win32Backend** out = nullptr) {
        backend = std::make_unique<Win32Backend>(options);
        useBackend(backend->services());
        if (out != nullptr) *out = backend.get();
        return runShow(nullptr, nullptr, "", 10);
    }

    std::set<std::string> capturedFiles() const {
        std::set<std::string> names;
        std::FILE* list = popen(("ls '" + captures + "'").c_str(), "r");
        char line[256];
        while (list != nullptr && std::fgets(line, sizeof line, list) != nullptr) {
            std::string name(line);
            if (!name.empty() && name.back() == '\n') name.pop_back();
            names.insert(name);
        }
        if (list != nullptr) pclose(list);
        return names;
    }

    std::unique_ptr<Win32Backend> backend;
    std::string assets;
    std::string captures;
    std::string start;
};

Win32Options captureOptions(const std::string& folder) {
    Win32Options options;
    options.captureFolder = folder;
    options.fps = 10;
    options.windowed = true;
    options.noDialogs = true;
    return options;
}

}  // namespace

TEST_F(Win32BackendRun, CapturesTheWindowOfShowTimeNamedByFrameAndStops) {
    Win32Options options = captureOptions(captures);
    options.fromMs = 1000;
    options.toMs = 3000;
    Win32Backend* backend = nullptr;
    EXPECT_EQ(run(options, &backend), 0);

    // Show time 1.0 s to 2.9 s at 10 fps: frames 10 to 29.
    std::set<std::string> expected;
    for (int k = 10; k <= 29; ++k) {
        char name[32];
        std::snprintf(name, sizeof name, "frame_%06d.bmp", k);
        expected.insert(name);
    }
    EXPECT_EQ(capturedFiles(), expected);
    EXPECT_EQ(backend->framesWritten(), 20u);
    EXPECT_EQ(backend->firstWritten(), 10u);
    EXPECT_EQ(backend->lastWritten(), 29u);
    EXPECT_FALSE(backend->captureFailed());

    // Each file is read just before its frame is presented: frame k follows k presents (the
    // black start-up frame and frames 1 to k - 1).
    std::ifstream file(captures + "/frame_000010.bmp", std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ASSERT_EQ(bytes.size(), 54u + 640 * 480 * 3);
    EXPECT_EQ(uint8_t(bytes[54]), 10);

    // Frames 1 to 29 were presented and the show shut down in its order after the quit.
    EXPECT_EQ(fake::state().presents, 1 + 29);
    EXPECT_TRUE(fake::logged("destroyWindow"));
    // A capture keeps the music silent and does not read the real clock.
    EXPECT_EQ(fake::state().musicPlays, 0);
    EXPECT_EQ(fake::state().tick, 0u);
}

TEST_F(Win32BackendRun, CaptureDevicesAreWindowedUnthrottledAndKeepTheFpuPrecision) {
    Win32Options options = captureOptions(captures);
    options.frameLimit = 2;
    EXPECT_EQ(run(options), 0);
    const native::PresentParameters& p = fake::state().lastParameters;
    EXPECT_EQ(p.windowed, 1);
    EXPECT_EQ(p.presentationInterval, 0x80000000u);
    EXPECT_EQ(p.backBufferWidth, 640u);
    EXPECT_EQ(p.backBufferFormat, 21u);
    EXPECT_EQ(p.autoDepthStencilFormat, 75u);
    EXPECT_EQ(p.swapEffect, 2u);
    // Hardware vertex processing as the show asks, with the FPU left alone.
    EXPECT_EQ(fake::state().lastBehaviorFlags, 0x40u | 0x2u);
    EXPECT_EQ(fake::state().presents, 1 + 2);
}

TEST_F(Win32BackendRun, TheShowsValuesReachThePlatformUnchanged) {
    Win32Options options = captureOptions(captures);
    options.frameLimit = 1;
    EXPECT_EQ(run(options), 0);
    EXPECT_TRUE(fake::logged("direct3DCreate9 32"));
    EXPECT_TRUE(fake::logged("registerClass Quillmere 8"));
    EXPECT_TRUE(fake::logged("createWindow 131072 Quillmere Quillmere 281018368 640 480"));
    EXPECT_TRUE(fake::logged("setRenderState 137 0"));  // lighting off
    EXPECT_TRUE(fake::logged("setRenderState 19 2"));   // source blend ONE
    EXPECT_TRUE(fake::logged("setSamplerState 1 5 2"));
    EXPECT_TRUE(fake::logged("setTextureStageState 0 1 4"));
    EXPECT_TRUE(fake::logged("createVertexBuffer 128"));
    EXPECT_TRUE(fake::logged("createTexture 256 256 1 0 21 2"));  // the video's staging texture
    EXPECT_TRUE(fake::logged("createTextureFromFile data//brushes//brush1.jpg"));
    EXPECT_TRUE(fake::logged("createFont 18 700 Arial"));
    EXPECT_TRUE(fake::logged("directInput8Create 2048"));
    // The platform's device identifiers: with any other value DirectInput makes no device.
    EXPECT_TRUE(fake::logged("createInputDevice 1864182624"));  // 0x6F1D2B60, the mouse
    EXPECT_TRUE(fake::logged("createInputDevice 1864182625"));  // 0x6F1D2B61, the keyboard
    EXPECT_TRUE(fake::logged("setDataFormat 256"));
    EXPECT_TRUE(fake::logged("setDataFormat 16"));
    EXPECT_TRUE(fake::logged("setCooperativeLevel 10"));
    EXPECT_TRUE(fake::logged("clear 7 4294967295 1 0"));
    // Everything the show made and released is released on the platform too; what it leaves
    // to the process exit (textures, line drawer, DirectInput) stays.
    EXPECT_GT(fake::state().liveObjects, 0);
}

TEST_F(Win32BackendRun, ACaptureReadsOnlyItsScheduledKeys) {
    // Num Lock held on the desktop changes nothing; the scheduled press turns the overlay on.
    fake::state().heldKey = DIK_NUMLOCK;
    Win32Options options = captureOptions(captures);
    options.toMs = 1500;
    EXPECT_EQ(run(options), 0);
    EXPECT_FALSE(fake::logged("drawText"));

    TearDown();
    SetUp();
    options = captureOptions(captures);
    options.toMs = 1500;
    options.presses.push_back(KeyPress{DIK_NUMLOCK, 1.0});
    EXPECT_EQ(run(options), 0);
    EXPECT_TRUE(fake::logged("drawText FPS:"));
}

TEST_F(Win32BackendRun, TheMusicsEndStopsTheCaptureAfterTheFrameInProgress) {
    if (!show_assets::writeMusic(assets, 2.0)) GTEST_SKIP() << "lame not installed";
    std::ifstream in(assets + "/data/aaa.mp3", std::ios::binary);
    std::vector<uint8_t> mp3((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
    Mp3Stream music;
    ASSERT_TRUE(scanMp3(mp3.data(), mp3.size(), &music));
    Win32Backend* backend = nullptr;
    EXPECT_EQ(run(captureOptions(captures), &backend), 0);
    // The first frame whose show time reaches the music's length hears of the end, is drawn
    // and presented, and is the last.
    uint64_t k = 1;
    while (int64_t(k * 1000 / 10) * int64_t(music.sampleRate) < music.samples * 1000) ++k;
    EXPECT_EQ(backend->lastWritten(), k);
    EXPECT_EQ(backend->framesWritten(), k);
}

TEST_F(Win32BackendRun, PlaysInRealTimeUntilEscapeReachesTheWindow) {
    show_assets::writeMusic(assets, 2.0);
    Win32Options options;
    options.noDialogs = true;
    fake::state().tickStep = 20;
    // Escape arrives with the sixth message peek of the loop and goes through the window's
    // procedure, as the key's message does on the platform.
    fake::state().escapeAtPeek = 6;
    EXPECT_EQ(run(options), 0);
    EXPECT_EQ(fake::state().presents, 1 + 5);
    const native::PresentParameters& p = fake::state().lastParameters;
    EXPECT_EQ(p.windowed, 0);
    EXPECT_EQ(p.presentationInterval, 0u);
    EXPECT_EQ(fake::state().lastBehaviorFlags, 0x40u | 0x2u);
    // The real clock drove the pre-roll, and the music plays looping as the show asks.
    EXPECT_GE(fake::state().tick, 3000u);
    if (std::ifstream("data/aaa.mp3").good()) {
        EXPECT_EQ(fake::state().musicPlays, 1);
        EXPECT_TRUE(fake::state().musicLooping);
    }
    EXPECT_TRUE(capturedFiles().empty());
}

TEST_F(Win32BackendRun, MessageBoxesAreShownUnlessTurnedOffAndAlwaysWritten) {
    remove("data/paper1.jpg");
    Win32Options options = captureOptions(captures);
    options.frameLimit = 1;
    options.noDialogs = false;
    Win32Backend backend(options);
    useBackend(backend.services());
    testing::internal::CaptureStderr();
    EXPECT_EQ(backend.MessageBoxA(nullptr, "text", "Caption", 0), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Caption: text\n");
    EXPECT_EQ(fake::state().messageBoxes, 1);

    Win32Options quiet = options;
    quiet.noDialogs = true;
    Win32Backend silent(quiet);
    testing::internal::CaptureStderr();
    silent.MessageBoxA(nullptr, "more", "Failed!", 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Failed!: more\n");
    EXPECT_EQ(fake::state().messageBoxes, 1);
}

TEST_F(Win32BackendRun, AMissingVideoEndsTheShowWithItsMessageAndStatusOne) {
    remove("vid/kasi.vid");
    EXPECT_EXIT(run(captureOptions(captures)), testing::ExitedWithCode(1),
                "Failed!: vid.kasi\\.vid");
}

TEST_F(Win32BackendRun, AFrameThatCannotBeWrittenStopsTheShow) {
    Win32Backend* backend = nullptr;
    EXPECT_EQ(run(captureOptions(assets + "/no/such/folder"), &backend), 0);
    EXPECT_TRUE(backend->captureFailed());
    EXPECT_EQ(backend->framesWritten(), 0u);
    // Frame 1 failed; the show stopped at the start of frame 2.
    EXPECT_EQ(fake::state().presents, 1 + 1);
}
