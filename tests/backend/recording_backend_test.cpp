#include "backend/recording/recording_backend.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <thread>

namespace {

struct Received {
    UINT message;
    WPARAM wParam;
};
std::vector<Received> received;

// A window procedure in the show's manner: it answers through the chosen backend.
LRESULT testProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    received.push_back({message, wParam});
    if (message == WM_DESTROY) PostQuitMessage(0);
    if (message == WM_HOTKEY) return 1;
    return DefWindowProcA(window, message, wParam, lParam);
}

std::thread::id syncThread;
int syncCalls = 0;
int endings = 0;
void onEnd(HSYNC, DWORD, DWORD, void* user) {
    syncThread = std::this_thread::get_id();
    ++syncCalls;
    if (user != nullptr) *static_cast<int*>(user) += 1;
}

struct BrushVertex {
    float x, y, z;
    D3DCOLOR diffuse;
    float tu0, tv0, tu1, tv1;
};

D3DXMATRIX scaling(float x, float y, float z) {
    return D3DXMATRIX{{{x, 0, 0, 0}, {0, y, 0, 0}, {0, 0, z, 0}, {0, 0, 0, 1}}};
}

HWND openWindow() {
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = 48;
    windowClass.style = CS_DBLCLKS;
    windowClass.lpfnWndProc = testProcedure;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.lpszClassName = "Quillmere";
    RegisterClassExA(&windowClass);
    return CreateWindowExA(WS_EX_STATICEDGE, "Quillmere", "Quillmere", WS_VISIBLE | WS_CAPTION,
                           CW_USEDEFAULT, 0, 640, 480, nullptr, nullptr, windowClass.hInstance,
                           nullptr);
}

D3DPRESENT_PARAMETERS fullScreen(HWND window) {
    D3DPRESENT_PARAMETERS p{};
    p.BackBufferWidth = 640;
    p.BackBufferHeight = 480;
    p.BackBufferFormat = D3DFMT_A8R8G8B8;
    p.BackBufferCount = 1;
    p.SwapEffect = D3DSWAPEFFECT_FLIP;
    p.hDeviceWindow = window;
    p.EnableAutoDepthStencil = TRUE;
    p.AutoDepthStencilFormat = D3DFMT_D24S8;
    return p;
}

class Recording : public ::testing::Test {
  protected:
    void SetUp() override {
        received.clear();
        useBackend(recorder.services());
    }
    void TearDown() override { useBackend(Backend{}); }

    // The lines recorded from `from` on.
    std::vector<std::string> since(size_t from) const {
        std::vector<std::string> all = recorder.lines();
        return std::vector<std::string>(all.begin() + static_cast<long>(from), all.end());
    }

    RecordingBackend recorder;
};

TEST_F(Recording, DeviceCallsAreWrittenExactly) {
    HWND window = openWindow();
    size_t start = recorder.lines().size();

    Direct3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
    D3DDISPLAYMODE mode;
    EXPECT_EQ(d3d->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &mode), S_OK);
    D3DPRESENT_PARAMETERS present = fullScreen(window);
    Direct3DDevice9* device = nullptr;
    ASSERT_EQ(d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window,
                                D3DCREATE_HARDWARE_VERTEXPROCESSING, &present, &device),
              S_OK);
    ASSERT_NE(device, nullptr);
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    device->SetSamplerState(1, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    D3DXMATRIX projection = scaling(1, -1.3333334f, 1);
    device->SetTransform(D3DTS_PROJECTION, &projection);
    device->Clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, 0xFFFFFFFF, 1.0f, 0);
    device->BeginScene();
    Direct3DTexture9* paper = nullptr;
    D3DXCreateTextureFromFileA(device, "data//paper1.jpg", &paper);
    device->SetTexture(0, paper);
    device->SetTexture(1, nullptr);
    D3DXFont* font = nullptr;
    D3DXCreateFontA(device, 18, 0, FW_BOLD, 0, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                    DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, "Arial", &font);
    RECT area = {10, 10, 640, 480};
    EXPECT_EQ(font->DrawTextA("Frame : 12\nTime : 3.250", -1, &area, DT_LEFT, 0xFFFFFFFF), 36);
    device->EndScene();
    device->Present();
    EXPECT_EQ(font->Release(), 0u);

    std::vector<std::string> expected = {
        "Direct3DCreate9 32 -> d3d1",
        "GetAdapterDisplayMode d3d1 0 -> 0 [640 480 60 22]",
        "CreateDevice d3d1 0 1 hwnd1 64 [640 480 21 1 0 0 2 hwnd1 0 1 75 0 0 0] -> 0 device1",
        "SetRenderState device1 137 0 -> 0",
        "SetTextureStageState device1 0 1 4 -> 0",
        "SetSamplerState device1 1 6 2 -> 0",
        "SetTransform device1 3 [1 0 0 0 0 -1.33333337 0 0 0 0 1 0 0 0 0 1] -> 0",
        "Clear device1 7 0xFFFFFFFF 1 0 -> 0",
        "BeginScene device1 -> 0",
        "D3DXCreateTextureFromFileA device1 \"data//paper1.jpg\" -> 0 \"data//paper1.jpg\"",
        "SetTexture device1 0 \"data//paper1.jpg\" -> 0",
        "SetTexture device1 1 none -> 0",
        "D3DXCreateFontA device1 18 0 700 0 0 1 0 0 0 \"Arial\" -> 0 font1",
        "DrawTextA font1 \"Frame : 12\\nTime : 3.250\" -1 [10 10 640 480] 0 0xFFFFFFFF -> 36",
        "EndScene device1 -> 0",
        "Present device1 -> 0",
        "Release font1 -> 0",
    };
    EXPECT_EQ(since(start), expected);
}

TEST_F(Recording, VertexUploadsAreWrittenVertexByVertex) {
    Direct3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
    D3DPRESENT_PARAMETERS present = fullScreen(nullptr);
    Direct3DDevice9* device = nullptr;
    d3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, 0, &present, &device);
    size_t start = recorder.lines().size();

    Direct3DVertexBuffer9* buffer = nullptr;
    ASSERT_EQ(device->CreateVertexBuffer(128, D3DUSAGE_WRITEONLY, 578, D3DPOOL_DEFAULT, &buffer),
              S_OK);
    void* data = nullptr;
    ASSERT_EQ(buffer->Lock(0, 0, &data, 0), S_OK);
    const BrushVertex strip[4] = {
        {-1, -1, 0, 0x0030F660, 0, 0, 0, 0},
        {1, -1, 0, 0xFFFFFFFF, 1, 0, 1, 0},
        {-1, 1, 0, 0x002010F6, 0, 1, 0, 1},
        {1, 1, 0, 0x00562000, 1, 1, 1, 1},
    };
    std::memcpy(data, strip, sizeof(strip));
    buffer->Unlock();
    device->SetStreamSource(0, buffer, 0, 32);
    device->SetFVF(578);
    device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);

    // A part of the buffer, and a lock that would run past its end.
    ASSERT_EQ(buffer->Lock(96, 32, &data, 0), S_OK);
    const BrushVertex last = {0.1f, 2.5f, 0, 0x80FF0000, 0.25f, 0.75f, 0, 0};
    std::memcpy(data, &last, sizeof(last));
    buffer->Unlock();
    EXPECT_EQ(buffer->Lock(96, 64, &data, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(data, nullptr);

    // A format the recorder cannot spell out comes as 32-bit words.
    Direct3DVertexBuffer9* other = nullptr;
    device->CreateVertexBuffer(10, 0, 0x004, D3DPOOL_DEFAULT, &other);
    other->Lock(0, 0, &data, 0);
    const float words[2] = {1.0f, 2.0f};
    std::memcpy(data, words, sizeof(words));
    static_cast<unsigned char*>(data)[8] = 7;
    other->Unlock();

    std::vector<std::string> expected = {
        "CreateVertexBuffer device1 128 8 578 0 -> 0 vb1",
        "Lock vb1 0 0 0 -> 0",
        "Unlock vb1 [-1 -1 0 0x0030F660 0 0 0 0] [1 -1 0 0xFFFFFFFF 1 0 1 0] "
        "[-1 1 0 0x002010F6 0 1 0 1] [1 1 0 0x00562000 1 1 1 1] -> 0",
        "SetStreamSource device1 0 vb1 0 32 -> 0",
        "SetFVF device1 578 -> 0",
        "DrawPrimitive device1 5 0 2 -> 0",
        "Lock vb1 96 32 0 -> 0",
        "Unlock vb1 [0.100000001 2.5 0 0x80FF0000 0.25 0.75 0 0] -> 0",
        "Lock vb1 96 64 0 -> 0x8876086C",
        "CreateVertexBuffer device1 10 0 4 0 -> 0 vb2",
        "Lock vb2 0 0 0 -> 0",
        "Unlock vb2 [0x3F800000 0x40000000 7 0] -> 0",
    };
    EXPECT_EQ(since(start), expected);
}

TEST_F(Recording, QueuedResultsComeInOrderAndThenTheDefaultsResume) {
    HWND window = openWindow();
    recorder.queueResult("CreateDevice", D3DERR_NOTAVAILABLE);
    recorder.queueResult("D3DXCreateTextureFromFileA", D3DXERR_INVALIDDATA);
    recorder.queueResult("GetTickCount", 5);
    recorder.queueResult("GetTickCount", 7);
    recorder.queueResult("MessageBoxA", 2, 2);
    recorder.setClock(0xFFFFFFF0u, 16);

    Direct3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
    D3DPRESENT_PARAMETERS present = fullScreen(window);
    Direct3DDevice9* device = reinterpret_cast<Direct3DDevice9*>(&present);
    EXPECT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, window, D3DCREATE_HARDWARE_VERTEXPROCESSING,
                                &present, &device),
              D3DERR_NOTAVAILABLE);
    EXPECT_EQ(device, nullptr);
    EXPECT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, window, D3DCREATE_SOFTWARE_VERTEXPROCESSING,
                                &present, &device),
              S_OK);
    ASSERT_NE(device, nullptr);

    Direct3DTexture9* missing = nullptr;
    Direct3DTexture9* found = nullptr;
    EXPECT_EQ(D3DXCreateTextureFromFileA(device, "data//brushes//brush1.jpg", &missing),
              D3DXERR_INVALIDDATA);
    EXPECT_EQ(missing, nullptr);
    EXPECT_EQ(D3DXCreateTextureFromFileA(device, "data//brushes//brush2.jpg", &found), S_OK);
    EXPECT_NE(found, nullptr);

    EXPECT_EQ(GetTickCount(), 5u);
    EXPECT_EQ(GetTickCount(), 7u);
    EXPECT_EQ(GetTickCount(), 0xFFFFFFF0u);
    EXPECT_EQ(GetTickCount(), 0u);
    EXPECT_EQ(GetTickCount(), 16u);

    EXPECT_EQ(MessageBoxA(nullptr, "a", "Failed!", MB_OK), 2);
    EXPECT_EQ(MessageBoxA(nullptr, "b", "Failed!", MB_OK), 2);
    EXPECT_EQ(MessageBoxA(nullptr, "c", "Failed!", MB_OK), IDOK);

    std::vector<std::string> lines = recorder.lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "D3DXCreateTextureFromFileA device1 \"data//brushes//brush1.jpg\" -> "
                        "0x88760B59 none"),
              lines.end());
    EXPECT_EQ(lines.back(), "MessageBoxA NULL \"c\" \"Failed!\" 0 -> 1");
}

TEST_F(Recording, MessagesGoThroughTheQueueToTheWindowProcedure) {
    HWND window = openWindow();
    MSG message{};
    EXPECT_EQ(PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE), FALSE);

    recorder.postMessage(window, WM_KEYDOWN, VK_ESCAPE, 0);
    recorder.postMessage(window, WM_HOTKEY, 0, 0);
    size_t start = recorder.lines().size();
    EXPECT_EQ(PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE), TRUE);
    EXPECT_EQ(message.message, WM_KEYDOWN);
    EXPECT_EQ(GetMessageA(&message, nullptr, 0, 0), TRUE);
    TranslateMessage(&message);
    EXPECT_EQ(DispatchMessageA(&message), 0);
    EXPECT_EQ(GetMessageA(&message, nullptr, 0, 0), TRUE);
    EXPECT_EQ(DispatchMessageA(&message), 1);
    std::vector<std::string> expected = {
        "PeekMessageA NULL 0 0 0 -> 1 [hwnd1 256 27 0 0 0 0]",
        "GetMessageA NULL 0 0 -> 1 [hwnd1 256 27 0 0 0 0]",
        "TranslateMessage [hwnd1 256 27 0 0 0 0] -> 0",
        "DefWindowProcA hwnd1 256 27 0 -> 0",
        "DispatchMessageA [hwnd1 256 27 0 0 0 0] -> 0",
        "GetMessageA NULL 0 0 -> 1 [hwnd1 786 0 0 0 0 0]",
        "DispatchMessageA [hwnd1 786 0 0 0 0 0] -> 1",
    };
    EXPECT_EQ(since(start), expected);

    // Closing the window destroys it by default; its procedure hears WM_DESTROY and posts the
    // quit message, which comes out of the queue as 0. An empty queue is an error, not a wait.
    recorder.postMessage(window, WM_CLOSE, 0, 0);
    GetMessageA(&message, nullptr, 0, 0);
    DispatchMessageA(&message);
    EXPECT_EQ(DestroyWindow(window), FALSE);
    EXPECT_EQ(PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE), TRUE);
    EXPECT_EQ(message.message, WM_QUIT);
    EXPECT_EQ(GetMessageA(&message, nullptr, 0, 0), 0);
    EXPECT_EQ(GetMessageA(&message, nullptr, 0, 0), -1);
    ASSERT_EQ(received.size(), 4u);
    EXPECT_EQ(received[0].message, WM_KEYDOWN);
    EXPECT_EQ(received[0].wParam, VK_ESCAPE);
    EXPECT_EQ(received[2].message, WM_CLOSE);
    EXPECT_EQ(received[3].message, WM_DESTROY);

    std::vector<std::string> lines = recorder.lines();
    auto destroyed = std::find(lines.begin(), lines.end(), "DestroyWindow hwnd1 -> 1");
    ASSERT_NE(destroyed, lines.end());
    EXPECT_EQ(*(destroyed - 2), "PostQuitMessage 0");
    EXPECT_EQ(*(destroyed - 1), "DefWindowProcA hwnd1 2 0 0 -> 0");
    EXPECT_EQ(*(destroyed + 1), "DefWindowProcA hwnd1 16 0 0 -> 0");
    EXPECT_EQ(*(destroyed + 2), "DispatchMessageA [hwnd1 16 0 0 0 0 0] -> 0");
}

TEST_F(Recording, InputDevicesReadQueuedStatesOnlyWhenSetUpAndAcquired) {
    HWND window = openWindow();
    DirectInput8* input = nullptr;
    ASSERT_EQ(DirectInput8Create(GetModuleHandleA(nullptr), DIRECTINPUT_VERSION, &input), DI_OK);
    DirectInputDevice8* keyboard = nullptr;
    DirectInputDevice8* mouse = nullptr;
    input->CreateDevice(GUID_SysKeyboard, &keyboard);
    input->CreateDevice(GUID_SysMouse, &mouse);
    recorder.queueResult("mouse1.SetCooperativeLevel", E_NOTIMPL);
    recorder.queueKeyboardState({DIK_F1});
    recorder.queueKeyboardState({DIK_F3, DIK_DIVIDE});
    recorder.queueMouseState(DIMOUSESTATE{3, -2, 0, {0x80, 0, 0, 0}});

    BYTE keys[256];
    EXPECT_EQ(keyboard->GetDeviceState(256, keys), DIERR_INVALIDPARAM);
    keyboard->SetDataFormat(&c_dfDIKeyboard);
    keyboard->SetCooperativeLevel(window, DISCL_NONEXCLUSIVE | DISCL_BACKGROUND);
    EXPECT_EQ(keyboard->GetDeviceState(256, keys), DIERR_NOTACQUIRED);
    keyboard->Acquire();
    recorder.queueResult("keyboard1.GetDeviceState", DIERR_INPUTLOST);
    size_t start = recorder.lines().size();
    EXPECT_EQ(keyboard->GetDeviceState(256, keys), DIERR_INPUTLOST);
    EXPECT_EQ(keyboard->GetDeviceState(256, keys), DI_OK);
    EXPECT_EQ(keys[DIK_F1], 0x80);
    keyboard->GetDeviceState(256, keys);
    keyboard->GetDeviceState(256, keys);
    EXPECT_EQ(keys[DIK_F1], 0);
    EXPECT_EQ(keys[DIK_DIVIDE], 0x80);

    mouse->SetDataFormat(&c_dfDIMouse);
    EXPECT_EQ(mouse->SetCooperativeLevel(window, DISCL_NONEXCLUSIVE | DISCL_BACKGROUND), E_NOTIMPL);
    mouse->Acquire();
    // A record larger than the mouse format's is refused and left alone.
    unsigned char larger[20];
    std::memset(larger, 0xAB, sizeof(larger));
    EXPECT_EQ(mouse->GetDeviceState(20, larger), DIERR_INVALIDPARAM);
    EXPECT_EQ(larger[0], 0xAB);
    DIMOUSESTATE state{};
    EXPECT_EQ(mouse->GetDeviceState(sizeof(state), &state), DI_OK);
    EXPECT_EQ(state.lX, 3);
    EXPECT_EQ(state.rgbButtons[0], 0x80);
    keyboard->Unacquire();
    keyboard->Release();

    std::vector<std::string> expected = {
        "GetDeviceState keyboard1 256 -> 0x8007001E",
        "GetDeviceState keyboard1 256 -> 0 [59]",
        "GetDeviceState keyboard1 256 -> 0 [61 181]",
        "GetDeviceState keyboard1 256 -> 0 [61 181]",
        "SetDataFormat mouse1 c_dfDIMouse -> 0",
        "SetCooperativeLevel mouse1 hwnd1 10 -> 0x80004001",
        "Acquire mouse1 -> 0",
        "GetDeviceState mouse1 20 -> 0x80070057",
        "GetDeviceState mouse1 16 -> 0 [3 -2 0 128 0 0 0]",
        "Unacquire keyboard1 -> 0",
        "Release keyboard1 -> 0",
    };
    EXPECT_EQ(since(start), expected);
}

TEST_F(Recording, TexturesLockWithTheirPitchAndCopyToTheDevice) {
    Direct3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
    D3DPRESENT_PARAMETERS present = fullScreen(nullptr);
    Direct3DDevice9* device = nullptr;
    d3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, 0, &present, &device);
    recorder.setPitchPadding(8);
    Direct3DTexture9* staging = nullptr;
    Direct3DTexture9* display = nullptr;
    Direct3DTexture9* unnamed = nullptr;
    D3DXCreateTexture(device, 4, 2, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, &staging,
                      "video-staging");
    D3DXCreateTexture(device, 4, 2, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &display,
                      "video-display");
    D3DXCreateTexture(device, 2, 2, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &unnamed);

    // Writes texel (x, y) = value, and the padding after each row with `padding`.
    auto fill = [&](Direct3DTexture9* texture, uint32_t value, unsigned char padding) {
        D3DLOCKED_RECT locked{};
        EXPECT_EQ(texture->LockRect(0, &locked, nullptr, 0), S_OK);
        EXPECT_EQ(locked.Pitch, 24);
        for (int y = 0; y < 2; ++y) {
            auto* row = static_cast<unsigned char*>(locked.pBits) + y * locked.Pitch;
            for (int x = 0; x < 4; ++x) {
                uint32_t texel = value + static_cast<uint32_t>(y * 4 + x);
                std::memcpy(row + x * 4, &texel, 4);
            }
            std::memset(row + 16, padding, 8);
        }
        texture->UnlockRect(0);
        return recorder.lines().back();
    };
    std::string first = fill(staging, 0xFF000000u, 0);
    std::string samePaddedOtherwise = fill(staging, 0xFF000000u, 0x5A);
    std::string changed = fill(staging, 0xFF000001u, 0);
    EXPECT_EQ(first.rfind("UnlockRect video-staging 0 0x", 0), 0u) << first;
    EXPECT_EQ(first, samePaddedOtherwise);
    EXPECT_NE(first, changed);

    EXPECT_EQ(device->UpdateTexture(staging, display), S_OK);
    EXPECT_EQ(recorder.lines().back(), "UpdateTexture device1 video-staging video-display -> 0");
    D3DLOCKED_RECT locked{};
    display->LockRect(0, &locked, nullptr, 0);
    uint32_t texel = 0;
    std::memcpy(&texel, static_cast<unsigned char*>(locked.pBits) + 24 + 12, 4);
    EXPECT_EQ(texel, 0xFF000008u);
    display->UnlockRect(0);
    EXPECT_EQ(recorder.lines().back(), "UnlockRect video-display 0 " + changed.substr(27));

    EXPECT_EQ(device->UpdateTexture(staging, unnamed), D3DERR_INVALIDCALL);
    EXPECT_EQ(recorder.lines().back(),
              "UpdateTexture device1 video-staging texture1 -> 0x8876086C");
    EXPECT_EQ(display->UnlockRect(0), D3DERR_INVALIDCALL);
    EXPECT_EQ(recorder.lines().back(), "UnlockRect video-display 0 none -> 0x8876086C");
}

TEST_F(Recording, EndOfStreamRunsTheSyncOnAnotherThread) {
    HWND window = openWindow();
    int ended = 0;
    syncCalls = 0;
    size_t start = recorder.lines().size();
    BASS_Init(-1, 44100, 0, GetForegroundWindow());
    HSTREAM music = BASS_StreamCreateFile(FALSE, "data\\aaa.mp3", 0, 0, 0);
    BASS_ChannelSetSync(music, BASS_SYNC_END, 0, onEnd, &ended);
    BASS_Start();
    BASS_StreamPlay(music, FALSE, BASS_SAMPLE_LOOP);
    recorder.endOfStream();
    EXPECT_EQ(ended, 1);
    EXPECT_NE(syncThread, std::this_thread::get_id());
    std::vector<std::string> expected = {
        "GetForegroundWindow -> hwnd1",
        "BASS_Init -1 44100 0 hwnd1 -> 1",
        "BASS_StreamCreateFile 0 \"data\\\\aaa.mp3\" 0 0 0 -> 1",
        "BASS_ChannelSetSync 1 2 0 ptr ptr -> 1",
        "BASS_Start -> 1",
        "BASS_StreamPlay 1 0 4 -> 1",
        "SYNCPROC 1 1 0",
    };
    EXPECT_EQ(since(start), expected);
    (void)window;
}

TEST_F(Recording, ExitIsRecordedAndEndsTheCallerByException) {
    try {
        backend().windows->exit(0);
        FAIL() << "exit returned";
    } catch (const RecordedExit& e) {
        EXPECT_EQ(e.status, 0);
    }
    EXPECT_EQ(recorder.lines().back(), "exit 0");
}

// Runs one call of every operation through the chosen backend; `simulated` is the recorder that
// stands in for the outside. Returns every result the calls gave.
std::vector<int64_t> exerciseEverything(RecordingBackend& simulated) {
    std::vector<int64_t> results;
    auto keep = [&](int64_t value) { results.push_back(value); };
    simulated.setClock(1000, 10);
    simulated.setCursorPos(400, 300);
    simulated.setClientOrigin(8, 30);
    simulated.queueResult("CreateDevice", D3DERR_NOTAVAILABLE);
    simulated.queueResult("keyboard1.GetDeviceState", DIERR_INPUTLOST);
    simulated.queueKeyboardState({DIK_F4});
    simulated.queueMouseState(DIMOUSESTATE{1, 2, 3, {0, 0x80, 0, 0}});

    HWND window = openWindow();
    keep(ShowWindow(window, SW_SHOWDEFAULT));
    keep(UpdateWindow(window));
    keep(SetCursor(nullptr) != nullptr);
    keep(ShowCursor(TRUE));
    keep(ShowCursor(FALSE));
    POINT cursor{};
    keep(GetCursorPos(&cursor));
    keep(ScreenToClient(window, &cursor));
    keep(cursor.x * 1000 + cursor.y);
    keep(GetTickCount());
    keep(GetForegroundWindow() == window);
    keep(MessageBoxA(nullptr, "No hardware vertex processing found.\nUsing software.", "Failed!",
                     MB_OK));
    simulated.postMessage(window, WM_KEYDOWN, VK_ESCAPE, 0);
    MSG message{};
    keep(PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE));
    keep(GetMessageA(&message, nullptr, 0, 0));
    keep(TranslateMessage(&message));
    keep(DispatchMessageA(&message));

    Direct3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
    D3DDISPLAYMODE mode{};
    keep(d3d->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &mode));
    D3DPRESENT_PARAMETERS present = fullScreen(window);
    Direct3DDevice9* device = nullptr;
    keep(d3d->CreateDevice(0, D3DDEVTYPE_HAL, window, D3DCREATE_HARDWARE_VERTEXPROCESSING, &present,
                           &device));
    keep(device == nullptr);
    keep(d3d->CreateDevice(0, D3DDEVTYPE_HAL, window, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &present,
                           &device));
    keep(device->Clear(D3DCLEAR_TARGET, 0, 1.0f, 0));
    keep(device->BeginScene());
    keep(device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE));
    keep(device->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_CURRENT));
    keep(device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR));
    D3DXMATRIX world = scaling(0.14f, 0.14f, 0.14f);
    keep(device->SetTransform(D3DTS_WORLD, &world));
    Direct3DVertexBuffer9* buffer = nullptr;
    keep(device->CreateVertexBuffer(32, D3DUSAGE_WRITEONLY, 578, D3DPOOL_DEFAULT, &buffer));
    void* data = nullptr;
    keep(buffer->Lock(0, 0, &data, 0));
    const BrushVertex vertex = {0.5f, -0.25f, 0, 0x12345678, 1, 0, 1, 0};
    std::memcpy(data, &vertex, sizeof(vertex));
    keep(buffer->Unlock());
    keep(device->SetStreamSource(0, buffer, 0, 32));
    keep(device->SetFVF(578));
    keep(device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2));
    Direct3DTexture9* staging = nullptr;
    Direct3DTexture9* display = nullptr;
    Direct3DTexture9* brush = nullptr;
    keep(D3DXCreateTexture(device, 2, 2, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, &staging,
                           "video-staging"));
    keep(D3DXCreateTexture(device, 2, 2, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &display,
                           "video-display"));
    keep(D3DXCreateTextureFromFileA(device, "data//brushes//zor_brush4.jpg", &brush));
    D3DLOCKED_RECT locked{};
    keep(staging->LockRect(0, &locked, nullptr, 0));
    std::memset(locked.pBits, 0x7F, 8);
    keep(staging->UnlockRect(0));
    keep(device->UpdateTexture(staging, display));
    keep(device->SetTexture(0, display));
    D3DXLine* line = nullptr;
    keep(D3DXCreateLine(device, &line));
    keep(line->Begin());
    const D3DXVECTOR3 points[2] = {{0, 0, 0}, {0.5f, 0.5f, 0}};
    keep(line->DrawTransform(points, 2, &world, 0xFFFFFFFF));
    keep(line->End());
    D3DXFont* font = nullptr;
    keep(D3DXCreateFontA(device, 18, 0, FW_BOLD, 0, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                         DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, "Arial", &font));
    RECT area = {10, 10, 640, 480};
    keep(font->DrawTextA("Frame : 1", -1, &area, 0, 0xFFFFFFFF));
    keep(device->EndScene());
    keep(device->Present());
    keep(line->Release());
    keep(font->Release());
    keep(brush->Release());
    keep(display->Release());
    keep(staging->Release());
    keep(buffer->Release());

    DirectInput8* input = nullptr;
    keep(DirectInput8Create(GetModuleHandleA(nullptr), DIRECTINPUT_VERSION, &input));
    DirectInputDevice8* keyboard = nullptr;
    DirectInputDevice8* mouse = nullptr;
    keep(input->CreateDevice(GUID_SysKeyboard, &keyboard));
    keep(input->CreateDevice(GUID_SysMouse, &mouse));
    keep(keyboard->SetDataFormat(&c_dfDIKeyboard));
    keep(keyboard->SetCooperativeLevel(window, DISCL_NONEXCLUSIVE | DISCL_BACKGROUND));
    keep(keyboard->Acquire());
    BYTE keys[256] = {};
    keep(keyboard->GetDeviceState(256, keys));
    keep(keyboard->GetDeviceState(256, keys));
    keep(keys[DIK_F4]);
    keep(mouse->SetDataFormat(&c_dfDIMouse));
    keep(mouse->Acquire());
    DIMOUSESTATE mouseState{};
    keep(mouse->GetDeviceState(sizeof(mouseState), &mouseState));
    keep(mouseState.lZ);
    keep(keyboard->Unacquire());
    keep(keyboard->Release());
    keep(mouse->Unacquire());
    keep(mouse->Release());
    keep(input->Release());

    keep(BASS_Init(-1, 44100, 0, GetForegroundWindow()));
    HSTREAM music = BASS_StreamCreateFile(FALSE, "data\\aaa.mp3", 0, 0, 0);
    keep(music);
    keep(BASS_ChannelSetSync(music, BASS_SYNC_END, 0, onEnd, &endings));
    keep(BASS_Start());
    keep(BASS_StreamPlay(music, FALSE, BASS_SAMPLE_LOOP));

    keep(device->Release());
    keep(d3d->Release());
    keep(DestroyWindow(window));
    try {
        backend().windows->exit(3);
    } catch (const RecordedExit& e) {
        keep(e.status);
    }
    return results;
}

TEST(RecordingWrapped, ForwardsEveryCallAndItsResultAndRecordsTheSame) {
    syncCalls = 0;
    endings = 0;
    RecordingBackend alone;
    useBackend(alone.services());
    std::vector<int64_t> expected = exerciseEverything(alone);
    alone.endOfStream();

    RecordingBackend outside;
    RecordingBackend tracer(outside.services());
    useBackend(tracer.services());
    std::vector<int64_t> results = exerciseEverything(outside);
    outside.endOfStream();
    useBackend(Backend{});

    EXPECT_EQ(results, expected);
    EXPECT_EQ(syncCalls, 2);
    EXPECT_EQ(endings, 2);
    EXPECT_EQ(tracer.lines(), outside.lines());
    EXPECT_EQ(tracer.lines(), alone.lines());
    EXPECT_GT(tracer.lines().size(), 80u);
}

TEST(RecordingWrapped, ScriptsAreForTheSimulatedServicesOnly) {
    RecordingBackend outside;
    RecordingBackend tracer(Backend{nullptr, outside.services().windows, nullptr, nullptr});
    tracer.queueResult("GetTickCount", 99);
    tracer.queueResult("BASS_Start", 0);
    outside.setClock(40);
    useBackend(tracer.services());
    EXPECT_EQ(GetTickCount(), 40u);
    EXPECT_EQ(BASS_Start(), FALSE);
    useBackend(Backend{});
    EXPECT_EQ(outside.lines(), std::vector<std::string>{"GetTickCount -> 40"});
}

}  // namespace
