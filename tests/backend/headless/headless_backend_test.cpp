#include "backend/headless/headless_backend.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

std::vector<UINT> received;

LRESULT testProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    received.push_back(message);
    if (message == WM_DESTROY) PostQuitMessage(0);
    return DefWindowProcA(window, message, wParam, lParam);
}

std::atomic<int> endCalls{0};
std::thread::id endThread;
void onEnd(HSYNC, DWORD, DWORD, void*) {
    endThread = std::this_thread::get_id();
    endCalls.fetch_add(1);
}

// A music length that needs no file: every path "plays" for `ms` milliseconds at 44100 Hz.
HeadlessOptions withMusic(int64_t ms) {
    HeadlessOptions options;
    options.readDuration = [ms](const std::string&, Mp3Duration* duration) {
        duration->samples = ms * 441 / 10;
        duration->rate = 44100;
        return true;
    };
    return options;
}

class Headless : public ::testing::Test {
  protected:
    void start(HeadlessOptions options = HeadlessOptions()) {
        headless = std::make_unique<HeadlessBackend>(std::move(options));
        useBackend(headless->services());
    }
    void SetUp() override {
        received.clear();
        endCalls = 0;
        endThread = std::thread::id();
    }
    void TearDown() override { useBackend(Backend{}); }

    HWND openWindow() {
        WNDCLASSEXA windowClass{};
        windowClass.cbSize = 48;
        windowClass.lpfnWndProc = testProcedure;
        windowClass.lpszClassName = "Quillmere";
        RegisterClassExA(&windowClass);
        return CreateWindowExA(0, "Quillmere", "Quillmere", 0, 0, 0, 640, 480, nullptr, nullptr,
                               nullptr, nullptr);
    }

    // The show's music set-up, then its start.
    void playMusic() {
        BASS_Init(-1, 44100, 0, nullptr);
        HSTREAM stream = BASS_StreamCreateFile(FALSE, "data\\aaa.mp3", 0, 0, 0);
        BASS_ChannelSetSync(stream, BASS_SYNC_END, 0, onEnd, nullptr);
        BASS_Start();
        BASS_StreamPlay(stream, FALSE, BASS_SAMPLE_LOOP);
    }

    void frame() {
        MSG message;
        PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
    }

    std::unique_ptr<HeadlessBackend> headless;
};

TEST_F(Headless, FramesReadTheTickAtWholeMillisecondsOfTheFrameRate) {
    start();
    // The pre-roll: a reset and reads until more than three seconds have passed. It jumps
    // instead of waiting, so it takes a handful of reads and no measurable time.
    auto wallStart = std::chrono::steady_clock::now();
    DWORD preRollStart = GetTickCount();
    int reads = 0;
    while (GetTickCount() - preRollStart <= 3000) ASSERT_LT(++reads, 10);
    EXPECT_LT(std::chrono::steady_clock::now() - wallStart, std::chrono::milliseconds(200));

    playMusic();
    const DWORD reset = GetTickCount();
    EXPECT_EQ(GetTickCount(), reset);
    std::vector<DWORD> ticks;
    for (int k = 1; k <= 60; ++k) {
        frame();
        DWORD tick = GetTickCount();
        // However often a frame reads the clock, it stands still within the frame.
        EXPECT_EQ(GetTickCount(), tick);
        ticks.push_back(tick - reset);
    }
    EXPECT_EQ(ticks[0], 16u);
    EXPECT_EQ(ticks[1], 33u);
    EXPECT_EQ(ticks[2], 50u);
    EXPECT_EQ(ticks[3], 66u);
    EXPECT_EQ(ticks[59], 1000u);

    // Other rates keep the same rule, with no drift over a long run.
    HeadlessOptions at24;
    at24.fps = 24;
    start(at24);
    playMusic();
    const DWORD base = GetTickCount();
    for (int k = 1; k <= 24 * 140; ++k) frame();
    EXPECT_EQ(GetTickCount() - base, 140000u);
}

TEST_F(Headless, TheMusicEndReachesTheSyncFromAnotherThreadOncePerPass) {
    start(withMusic(1000));
    playMusic();
    for (int k = 1; k < 60; ++k) frame();
    EXPECT_EQ(endCalls.load(), 0);
    // Frame 60 is the first to see one second of music.
    frame();
    EXPECT_EQ(endCalls.load(), 1);
    EXPECT_NE(endThread, std::this_thread::get_id());
    EXPECT_NE(endThread, std::thread::id());
    // The show plays the stream looped: each pass ends once more.
    for (int k = 61; k < 120; ++k) frame();
    EXPECT_EQ(endCalls.load(), 1);
    frame();
    EXPECT_EQ(endCalls.load(), 2);
}

TEST_F(Headless, WithoutReadableMusicThereIsNoStreamAndNoEnd) {
    HeadlessOptions options;
    options.readDuration = [](const std::string& path, Mp3Duration*) {
        EXPECT_EQ(path, "data/aaa.mp3");
        return false;
    };
    start(options);
    BASS_Init(-1, 44100, 0, nullptr);
    HSTREAM stream = BASS_StreamCreateFile(FALSE, "data\\aaa.mp3", 0, 0, 0);
    EXPECT_EQ(stream, 0u);
    EXPECT_EQ(BASS_ChannelSetSync(stream, BASS_SYNC_END, 0, onEnd, nullptr), 0u);
    BASS_Start();
    const DWORD before = GetTickCount();
    EXPECT_FALSE(BASS_StreamPlay(stream, FALSE, BASS_SAMPLE_LOOP));
    // The clock still starts with the (silent) music.
    EXPECT_EQ(GetTickCount(), before + VirtualClock::kPrerollStepMs);
    for (int k = 0; k < 600; ++k) frame();
    EXPECT_EQ(endCalls.load(), 0);
}

TEST_F(Headless, MessageBoxesBecomeOneLineOnTheErrorStream) {
    HeadlessOptions options;
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    options.messages = out;
    start(options);
    EXPECT_EQ(MessageBoxA(nullptr, "vid\\kasi.vid", "Failed!", MB_OK), IDOK);
    std::rewind(out);
    char line[64] = {};
    ASSERT_NE(std::fgets(line, sizeof line, out), nullptr);
    EXPECT_STREQ(line, "Failed!: vid\\kasi.vid\n");
    std::fclose(out);
}

TEST_F(Headless, WindowMessagesFollowThePlatformsOrder) {
    start();
    HWND window = openWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(GetForegroundWindow(), window);
    MSG message;
    EXPECT_FALSE(PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE));
    // An empty queue never blocks.
    EXPECT_EQ(GetMessageA(&message, nullptr, 0, 0), -1);

    EXPECT_TRUE(DestroyWindow(window));
    EXPECT_EQ(received, std::vector<UINT>{WM_DESTROY});
    EXPECT_TRUE(PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(message.message, WM_QUIT);
    EXPECT_EQ(GetMessageA(&message, nullptr, 0, 0), FALSE);
    EXPECT_FALSE(DestroyWindow(window));
}

TEST(KeyPressText, NamesAndTimes) {
    KeyPress press;
    ASSERT_TRUE(parseKeyPress("F1@2.5", &press));
    EXPECT_EQ(press.scanCode, DIK_F1);
    EXPECT_DOUBLE_EQ(press.seconds, 2.5);
    ASSERT_TRUE(parseKeyPress("numlock@10", &press));
    EXPECT_EQ(press.scanCode, DIK_NUMLOCK);
    ASSERT_TRUE(parseKeyPress("Divide@.5", &press));
    EXPECT_EQ(press.scanCode, DIK_DIVIDE);
    for (const char* bad : {"F5@1", "F1", "F1@", "F1@-1", "F1@1e3", "F1@inf", "F1@1.2.3", "@1",
                            "F1@ 1", "F1@nan", "F1@99999999999"}) {
        KeyPress untouched{7, 7.0};
        EXPECT_FALSE(parseKeyPress(bad, &untouched)) << bad;
        EXPECT_EQ(untouched.scanCode, 7) << bad;
    }
}

class HeadlessInput : public Headless {
  protected:
    DirectInputDevice8* keyboard() {
        DirectInput8* input = nullptr;
        EXPECT_EQ(DirectInput8Create(nullptr, DIRECTINPUT_VERSION, &input), DI_OK);
        DirectInputDevice8* device = nullptr;
        EXPECT_EQ(input->CreateDevice(GUID_SysKeyboard, &device), DI_OK);
        device->SetDataFormat(&c_dfDIKeyboard);
        device->Acquire();
        return device;
    }
    // The frames (from 1) in which `scanCode` reads down, over `frames` frames.
    std::vector<int> downFrames(DirectInputDevice8* device, int scanCode, int frames) {
        std::vector<int> down;
        BYTE keys[256];
        for (int k = 1; k <= frames; ++k) {
            frame();
            EXPECT_EQ(device->GetDeviceState(256, keys), DI_OK);
            if (keys[scanCode] & 0x80) down.push_back(k);
        }
        return down;
    }
};

TEST_F(HeadlessInput, APressHoldsItsKeyForOneFrameAtItsShowTime) {
    HeadlessOptions options;
    // Two presses within one frame still come as two key-down events.
    options.presses = {{DIK_F3, 1.0}, {DIK_F1, 0.5}, {DIK_F3, 1.001}};
    start(options);
    DirectInputDevice8* device = keyboard();
    playMusic();
    BYTE keys[256];
    EXPECT_EQ(device->GetDeviceState(256, keys), DI_OK);
    EXPECT_EQ(keys[DIK_F1], 0);

    std::vector<int> f1;
    std::vector<int> f3;
    for (int k = 1; k <= 90; ++k) {
        frame();
        ASSERT_EQ(device->GetDeviceState(256, keys), DI_OK);
        if (keys[DIK_F1] & 0x80) f1.push_back(k);
        if (keys[DIK_F3] & 0x80) f3.push_back(k);
        for (int code = 0; code < 256; ++code) {
            if (code != DIK_F1 && code != DIK_F3) {
                ASSERT_EQ(keys[code], 0);
            }
        }
    }
    EXPECT_EQ(f1, std::vector<int>{30});
    EXPECT_EQ(f3, (std::vector<int>{60, 62}));
}

TEST_F(HeadlessInput, EscapeArrivesAsTheWindowsKeyMessage) {
    HeadlessOptions options;
    options.presses = {{kScanEscape, 0.1}};
    start(options);
    HWND window = openWindow();
    DirectInputDevice8* device = keyboard();
    playMusic();
    EXPECT_TRUE(downFrames(device, kScanEscape, 5).empty());
    MSG message;
    ASSERT_TRUE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(message.hwnd, window);
    EXPECT_EQ(message.message, WM_KEYDOWN);
    EXPECT_EQ(message.wParam, VK_ESCAPE);
}

TEST_F(Headless, TheDeviceKeepsWhatItIsGiven) {
    start();
    Direct3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
    ASSERT_NE(d3d, nullptr);
    D3DPRESENT_PARAMETERS parameters{};
    parameters.BackBufferWidth = 640;
    parameters.BackBufferHeight = 480;
    Direct3DDevice9* device = nullptr;
    ASSERT_EQ(
        d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, nullptr, 0, &parameters, &device),
        S_OK);
    ASSERT_EQ(headless->device(), device);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
    D3DXMATRIX projection{{{1, 0, 0, 0}, {0, -1.33333337f, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};
    device->SetTransform(D3DTS_PROJECTION, &projection);
    EXPECT_EQ(headless->device()->renderState(D3DRS_SRCBLEND), D3DBLEND_ONE);
    EXPECT_EQ(headless->device()->transform(D3DTS_PROJECTION).m[1][1], -1.33333337f);
    EXPECT_EQ(headless->device()->transform(D3DTS_VIEW).m[3][3], 1.0f);

    // A missing image gives no texture and a failure; the show carries on without it.
    Direct3DTexture9* texture = reinterpret_cast<Direct3DTexture9*>(1);
    EXPECT_LT(D3DXCreateTextureFromFileA(device, "data//no-such-image.jpg", &texture), 0);
    EXPECT_EQ(texture, nullptr);

    // A staging texture's texels reach the display texture.
    Direct3DTexture9* staging = nullptr;
    Direct3DTexture9* shown = nullptr;
    ASSERT_EQ(D3DXCreateTexture(device, 2, 2, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, &staging),
              S_OK);
    ASSERT_EQ(D3DXCreateTexture(device, 2, 2, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &shown),
              S_OK);
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(staging->LockRect(0, &locked, nullptr, 0), S_OK);
    EXPECT_EQ(locked.Pitch, 8);
    static_cast<uint8_t*>(locked.pBits)[15] = 0xAB;
    EXPECT_LT(staging->LockRect(0, &locked, nullptr, 0), 0);
    staging->UnlockRect(0);
    ASSERT_EQ(device->UpdateTexture(staging, shown), S_OK);
    // Byte 15 is the last texel's alpha.
    EXPECT_EQ(static_cast<SoftTexture*>(shown)->texels()[3] >> 24, 0xABu);
    EXPECT_LT(device->UpdateTexture(shown, staging), 0);
}

// A real mp3, made with lame where it is installed.
TEST(Mp3Length, IsReadFromTheFile) {
    const std::string wav = ::testing::TempDir() + "headless_half_second.wav";
    const std::string mp3 = ::testing::TempDir() + "headless_half_second.mp3";
    EXPECT_FALSE(readMp3Duration(mp3 + ".missing", nullptr));
    Mp3Duration duration;
    EXPECT_FALSE(readMp3Duration(mp3 + ".missing", &duration));
    {
        std::ofstream junk(mp3 + ".junk", std::ios::binary);
        junk << std::string(4000, 'x');
    }
    EXPECT_FALSE(readMp3Duration(mp3 + ".junk", &duration));

    if (std::system("command -v lame >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "lame is not installed";
    }
    // Half a second of mono silence at 44100 Hz, 16-bit.
    const uint32_t samples = 22050;
    const uint32_t bytes = samples * 2;
    std::ofstream out(wav, std::ios::binary);
    auto word = [&out](uint32_t v, int size) {
        for (int i = 0; i < size; ++i) out.put(static_cast<char>((v >> (8 * i)) & 0xFF));
    };
    out << "RIFF";
    word(36 + bytes, 4);
    out << "WAVEfmt ";
    word(16, 4);
    word(1, 2);
    word(1, 2);
    word(44100, 4);
    word(88200, 4);
    word(2, 2);
    word(16, 2);
    out << "data";
    word(bytes, 4);
    out << std::string(bytes, '\0');
    out.close();
    ASSERT_EQ(std::system(("lame --silent -b 64 '" + wav + "' '" + mp3 + "'").c_str()), 0);
    ASSERT_TRUE(readMp3Duration(mp3, &duration));
    EXPECT_EQ(duration.rate, 44100);
    // The encoder's gapless header lets the decoder report the exact length; allow one frame
    // for encoders that write none.
    EXPECT_NEAR(static_cast<double>(duration.samples), samples, 1152.0);
}

}  // namespace
