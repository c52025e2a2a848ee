// The desktop backend on SDL's offscreen video driver: window messages, the latched keyboard,
// the cursor through the letterbox, and the run without an audio device.
#include "backend/sdl/sdl_backend.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

SdlBackend* current = nullptr;
std::vector<UINT> heard;

// Acts as the show's procedure does: Escape and the window's end stop, the end posts the quit.
LRESULT procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    heard.push_back(message);
    if (message == WM_DESTROY) current->PostQuitMessage(0);
    if (message == WM_SETCURSOR) {
        current->SetCursor(nullptr);
        return TRUE;
    }
    return current->DefWindowProcA(window, message, wParam, lParam);
}

class SdlBackendTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        setenv("SDL_AUDIODRIVER", "disk-none", 1);
        heard.clear();
        messages = std::tmpfile();
        SdlOptions options;
        options.windowed = true;
        options.dialogs = false;
        options.messages = messages;
        backend = std::make_unique<SdlBackend>(options);
        current = backend.get();
        ASSERT_TRUE(backend->videoReady()) << SDL_GetError();
        WNDCLASSEXA windowClass{};
        windowClass.lpfnWndProc = procedure;
        windowClass.lpszClassName = "Quillmere";
        ASSERT_NE(backend->RegisterClassExA(&windowClass), 0);
        window = backend->CreateWindowExA(0, "Quillmere", "Quillmere", WS_VISIBLE, 0, 0, 640, 480,
                                          nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(window, nullptr);
    }
    void TearDown() override {
        backend.reset();
        current = nullptr;
        std::fclose(messages);
    }

    std::string written() {
        std::fflush(messages);
        std::rewind(messages);
        std::string text;
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, messages) != nullptr) text += buffer;
        return text;
    }

    static void pushKey(Uint32 type, SDL_Scancode scancode) {
        SDL_Event event{};
        event.type = type;
        event.key.state = type == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
        event.key.keysym.scancode = scancode;
        SDL_PushEvent(&event);
    }

    static void pushWindowEvent(Uint8 what) {
        SDL_Event event{};
        event.type = SDL_WINDOWEVENT;
        event.window.event = what;
        SDL_PushEvent(&event);
    }

    // One pass of the show's pump: at most one message.
    BOOL pumpOnce(MSG* message) {
        if (!backend->PeekMessageA(message, nullptr, 0, 0, PM_NOREMOVE)) return -2;
        BOOL got = backend->GetMessageA(message, nullptr, 0, 0);
        if (got > 0) backend->DispatchMessageA(message);
        return got;
    }

    std::FILE* messages = nullptr;
    std::unique_ptr<SdlBackend> backend;
    HWND window = nullptr;
};

TEST_F(SdlBackendTest, EscapeArrivesAsAKeyMessageAndOtherKeysWithoutAVirtualKeyDoNot) {
    pushKey(SDL_KEYDOWN, SDL_SCANCODE_F16);
    pushKey(SDL_KEYDOWN, SDL_SCANCODE_ESCAPE);
    pushKey(SDL_KEYUP, SDL_SCANCODE_ESCAPE);
    MSG message{};
    ASSERT_EQ(pumpOnce(&message), TRUE);
    EXPECT_EQ(message.message, WM_KEYDOWN);
    EXPECT_EQ(message.wParam, VK_ESCAPE);
    EXPECT_EQ(message.hwnd, window);
    EXPECT_EQ(heard, std::vector<UINT>{WM_KEYDOWN});
    // Nothing else waits: releases are not messages.
    EXPECT_EQ(pumpOnce(&message), -2);
}

TEST_F(SdlBackendTest, ClosingDestroysTheWindowThenTheQuitMessageEndsThePump) {
    pushWindowEvent(SDL_WINDOWEVENT_CLOSE);
    // Asked to quit as well (the last window closed): still one close.
    SDL_Event quit{};
    quit.type = SDL_QUIT;
    SDL_PushEvent(&quit);
    MSG message{};
    ASSERT_EQ(pumpOnce(&message), TRUE);
    EXPECT_EQ(message.message, WM_CLOSE);
    EXPECT_EQ((std::vector<UINT>{WM_CLOSE, WM_DESTROY}), heard);
    EXPECT_EQ(backend->sdlWindow(), nullptr);
    EXPECT_EQ(pumpOnce(&message), FALSE);
    EXPECT_EQ(message.message, WM_QUIT);
    EXPECT_EQ(pumpOnce(&message), -2);
    // The show's own DestroyWindow at shutdown finds the window gone.
    EXPECT_EQ(backend->DestroyWindow(window), FALSE);
    EXPECT_EQ(heard.size(), 2u);
}

TEST_F(SdlBackendTest, PointerMotionGivesOneWaitingCursorMessage) {
    for (int i = 0; i < 5; ++i) {
        SDL_Event motion{};
        motion.type = SDL_MOUSEMOTION;
        motion.motion.xrel = 3;
        motion.motion.yrel = -1;
        SDL_PushEvent(&motion);
    }
    MSG message{};
    ASSERT_EQ(pumpOnce(&message), TRUE);
    EXPECT_EQ(message.message, WM_SETCURSOR);
    EXPECT_EQ(pumpOnce(&message), -2);

    DIMOUSESTATE state{};
    backend->readMouse(&state);
    EXPECT_EQ(state.lX, 15);
    EXPECT_EQ(state.lY, -5);
    backend->readMouse(&state);
    EXPECT_EQ(state.lX, 0);
}

TEST_F(SdlBackendTest, AKeyTappedBetweenTwoReadsReadsDownOnce) {
    DirectInput8* directInput = nullptr;
    ASSERT_EQ(backend->DirectInput8Create(nullptr, DIRECTINPUT_VERSION, &directInput), DI_OK);
    DirectInputDevice8* keyboard = nullptr;
    ASSERT_EQ(directInput->CreateDevice(GUID_SysKeyboard, &keyboard), DI_OK);
    BYTE keys[256];
    ASSERT_EQ(keyboard->SetDataFormat(&c_dfDIKeyboard), DI_OK);
    EXPECT_EQ(keyboard->GetDeviceState(256, keys), DIERR_NOTACQUIRED);
    ASSERT_EQ(keyboard->Acquire(), DI_OK);
    EXPECT_EQ(keyboard->GetDeviceState(20, keys), DIERR_INVALIDPARAM);

    pushKey(SDL_KEYDOWN, SDL_SCANCODE_NUMLOCKCLEAR);
    pushKey(SDL_KEYUP, SDL_SCANCODE_NUMLOCKCLEAR);
    pushKey(SDL_KEYDOWN, SDL_SCANCODE_KP_DIVIDE);
    pushKey(SDL_KEYUP, SDL_SCANCODE_KP_DIVIDE);
    ASSERT_EQ(keyboard->GetDeviceState(256, keys), DI_OK);
    int down = 0;
    for (int k = 0; k < 256; ++k) down += keys[k] != 0;
    EXPECT_EQ(keys[DIK_NUMLOCK], 0x80);
    EXPECT_EQ(keys[DIK_DIVIDE], 0x80);
    EXPECT_EQ(down, 2);
    ASSERT_EQ(keyboard->GetDeviceState(256, keys), DI_OK);
    EXPECT_EQ(keys[DIK_NUMLOCK], 0);
    EXPECT_EQ(keys[DIK_DIVIDE], 0);
    keyboard->Unacquire();
    keyboard->Release();
}

TEST_F(SdlBackendTest, CursorPositionsAreClientPixelsOfThePicture) {
    SDL_SetWindowSize(backend->sdlWindow(), 1280, 720);
    int left = 0, top = 0;
    SDL_GetWindowPosition(backend->sdlWindow(), &left, &top);
    // 1280 × 720 shows the picture 960 × 720 from x = 160.
    POINT p{left + 160 + 480, top + 360};
    ASSERT_EQ(backend->ScreenToClient(window, &p), TRUE);
    EXPECT_EQ(p.x, 320);
    EXPECT_EQ(p.y, 240);
    p = POINT{left + 100, top};
    ASSERT_EQ(backend->ScreenToClient(window, &p), TRUE);
    EXPECT_LT(p.x, 0);
    EXPECT_EQ(backend->ScreenToClient(nullptr, &p), FALSE);
}

TEST_F(SdlBackendTest, WithoutAnAudioDeviceTheMusicIsSilentWithOneWarning) {
    EXPECT_EQ(backend->BASS_Init(-1, 44100, 0, window), FALSE);
    EXPECT_EQ(backend->BASS_StreamCreateFile(FALSE, "data\\aaa.mp3", 0, 0, 0), 0u);
    EXPECT_EQ(backend->BASS_Start(), FALSE);
    EXPECT_EQ(backend->BASS_StreamPlay(0, FALSE, BASS_SAMPLE_LOOP), FALSE);
    EXPECT_TRUE(backend->musicStarted());
    const std::string text = written();
    EXPECT_EQ(text.rfind("Warning: ", 0), 0u) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1);
}

TEST_F(SdlBackendTest, MessageBoxesBecomeLines) {
    EXPECT_EQ(backend->MessageBoxA(nullptr, "data\\track1.data", "Failed!", MB_OK), IDOK);
    EXPECT_EQ(written(), "Failed!: data\\track1.data\n");
}

TEST_F(SdlBackendTest, TheTickIsMonotonicAndWrapsFromItsOffset) {
    backend.reset();
    SdlOptions options;
    // The tick wraps about 200 ms from now.
    options.tickOffset = 0xFFFFFFFFu - SDL_GetTicks() - 200u;
    options.messages = messages;
    backend = std::make_unique<SdlBackend>(options);
    const DWORD first = backend->GetTickCount();
    SDL_Delay(400);
    const DWORD second = backend->GetTickCount();
    EXPECT_GE(static_cast<DWORD>(second - first), 400u);
    EXPECT_LT(static_cast<DWORD>(second - first), 1000u);
    EXPECT_LT(second, first);
    // Two reads never give the same tick.
    EXPECT_NE(backend->GetTickCount(), backend->GetTickCount());
}

}  // namespace
