#pragma once
// The bridge between the show's seam and the platform's own headers. The seam defines its own
// HWND, RECT, MSG, GUID and HRESULT, which cannot live in one translation unit with windows.h,
// so the Windows backend is split: win32_backend.cpp sees only the seam, the native_*.cpp files
// see only the platform, and they meet here, in plain integers and opaque pointers.
//
// Every pointer named `object` below is the platform's own COM interface pointer (IDirect3D9,
// IDirect3DDevice9, IDirect3DTexture9, ...), handed through untouched. Results are the
// platform's HRESULT codes as 32-bit integers.
#include <cstdint>
#include <string>
#include <vector>

namespace native {

// ---- every COM object ----

uint32_t release(void* object);

// ---- Direct3D 9 ----

void* direct3DCreate9(uint32_t sdkVersion);
// `mode` receives width, height, refresh rate and format.
int32_t getAdapterDisplayMode(void* d3d, uint32_t adapter, uint32_t mode[4]);

// The presentation parameters, field for field as the platform has them.
struct PresentParameters {
    uint32_t backBufferWidth;
    uint32_t backBufferHeight;
    uint32_t backBufferFormat;
    uint32_t backBufferCount;
    uint32_t multiSampleType;
    uint32_t multiSampleQuality;
    uint32_t swapEffect;
    void* deviceWindow;
    int32_t windowed;
    int32_t enableAutoDepthStencil;
    uint32_t autoDepthStencilFormat;
    uint32_t flags;
    uint32_t fullScreenRefreshRateInHz;
    uint32_t presentationInterval;
};

int32_t createDevice(void* d3d, uint32_t adapter, uint32_t deviceType, void* focusWindow,
                     uint32_t behaviorFlags, PresentParameters* parameters, void** device);

int32_t clear(void* device, uint32_t flags, uint32_t colour, float z, uint32_t stencil);
int32_t beginScene(void* device);
int32_t endScene(void* device);
int32_t present(void* device);
int32_t setRenderState(void* device, uint32_t state, uint32_t value);
int32_t setTextureStageState(void* device, uint32_t stage, uint32_t type, uint32_t value);
int32_t setSamplerState(void* device, uint32_t sampler, uint32_t type, uint32_t value);
int32_t setTexture(void* device, uint32_t stage, void* texture);
// 16 floats, row by row.
int32_t setTransform(void* device, uint32_t state, const float* matrix);
int32_t createVertexBuffer(void* device, uint32_t length, uint32_t usage, uint32_t fvf,
                           uint32_t pool, void** vertexBuffer);
int32_t setStreamSource(void* device, uint32_t stream, void* vertexBuffer, uint32_t offset,
                        uint32_t stride);
int32_t setFVF(void* device, uint32_t fvf);
int32_t drawPrimitive(void* device, uint32_t type, uint32_t startVertex, uint32_t count);
int32_t updateTexture(void* device, void* source, void* destination);

// `rect` is null (the whole level) or left, top, right, bottom.
int32_t lockRect(void* texture, uint32_t level, int32_t* pitch, void** bits, const int32_t* rect,
                 uint32_t flags);
int32_t unlockRect(void* texture, uint32_t level);

int32_t lockVertexBuffer(void* vertexBuffer, uint32_t offset, uint32_t size, void** data,
                         uint32_t flags);
int32_t unlockVertexBuffer(void* vertexBuffer);

// The finished back buffer as 0xAARRGGBB pixels, rows from the top. False when it cannot be
// read back (lost device, a format other than the two 32-bit ones).
bool readBackBuffer(void* device, std::vector<uint32_t>* pixels, int* width, int* height);

// ---- Direct3D 9 extension library ----

int32_t createTextureFromFile(void* device, const char* path, void** texture);
int32_t createTexture(void* device, uint32_t width, uint32_t height, uint32_t mipLevels,
                      uint32_t usage, uint32_t format, uint32_t pool, void** texture);
int32_t createLine(void* device, void** line);
int32_t lineBegin(void* line);
// `points` holds count x, y, z triples.
int32_t lineDrawTransform(void* line, const float* points, uint32_t count, const float* matrix,
                          uint32_t colour);
int32_t lineEnd(void* line);
int32_t createFont(void* device, int32_t height, uint32_t width, uint32_t weight,
                   uint32_t mipLevels, int32_t italic, uint32_t charSet, uint32_t outputPrecision,
                   uint32_t quality, uint32_t pitchAndFamily, const char* faceName, void** font);
// `rect` is left, top, right, bottom; the font may write back the measured rectangle.
int32_t drawText(void* font, const char* text, int32_t count, int32_t* rect, uint32_t format,
                 uint32_t colour);

// ---- window system ----

// The one place a window message reaches the show: the platform calls the backend's window
// procedure, which hands the message on here with the class atom of its window.
using MessageHandler = intptr_t (*)(void* window, uint16_t classAtom, uint32_t message,
                                    uintptr_t wParam, intptr_t lParam);
void setMessageHandler(MessageHandler handler);

struct WindowClass {
    uint32_t style;
    int32_t classExtra;
    int32_t windowExtra;
    void* instance;
    void* icon;
    void* cursor;
    void* background;
    const char* menuName;
    const char* className;
    void* smallIcon;
};
// Registers the class with the backend's own window procedure. 0 on failure.
uint16_t registerClass(const WindowClass& windowClass);
void* createWindow(uint32_t exStyle, const char* className, const char* windowName, uint32_t style,
                   int32_t x, int32_t y, int32_t width, int32_t height, void* parent, void* menu,
                   void* instance, void* param);
int32_t showWindow(void* window, int32_t showCommand);
int32_t updateWindow(void* window);
int32_t destroyWindow(void* window);
// `name` may be a resource number carried in the pointer, as the platform allows.
void* loadCursor(void* instance, const char* name);
intptr_t defWindowProc(void* window, uint32_t message, uintptr_t wParam, intptr_t lParam);
void postQuitMessage(int32_t exitCode);

struct Message {
    void* window;
    uint32_t message;
    uintptr_t wParam;
    intptr_t lParam;
    uint32_t time;
    int32_t x;
    int32_t y;
};
int32_t peekMessage(Message* message, void* window, uint32_t filterMin, uint32_t filterMax,
                    uint32_t removeFlags);
int32_t getMessage(Message* message, void* window, uint32_t filterMin, uint32_t filterMax);
int32_t translateMessage(const Message& message);
intptr_t dispatchMessage(const Message& message);

int32_t messageBox(void* owner, const char* text, const char* caption, uint32_t type);
void* setCursor(void* cursor);
int32_t showCursor(int32_t show);
int32_t getCursorPos(int32_t* x, int32_t* y);
int32_t screenToClient(void* window, int32_t* x, int32_t* y);
uint32_t getTickCount();
void* getForegroundWindow();
void* getModuleHandle(const char* moduleName);

// ---- DirectInput 8 ----

int32_t directInput8Create(void* instance, uint32_t version, void** directInput);
// `guid` is the 16 bytes of the device's GUID.
int32_t createInputDevice(void* directInput, const void* guid, void** device);
// The standard formats by their record size: 256 (keyboard) or 16 (mouse).
int32_t setDataFormat(void* device, uint32_t dataSize);
int32_t setCooperativeLevel(void* device, void* window, uint32_t flags);
int32_t acquire(void* device);
int32_t unacquire(void* device);
int32_t getDeviceState(void* device, uint32_t size, void* data);

// ---- program ----

// A program of the windowed subsystem has no console: when started from one with standard
// output and error not redirected, writes to them go to the parent's console instead of nowhere.
void attachParentConsole();

// The program's command line as UTF-8 arguments (the C runtime's argv is in the ANSI code page).
std::vector<std::string> commandLineArguments();
// The folder of the running executable, without the trailing separator.
std::string programFolder();
std::string currentDirectory();
bool changeDirectory(const std::string& path);
bool isDirectory(const std::string& path);
bool makeDirectory(const std::string& path);
// True also when the folder does not exist.
bool directoryIsEmpty(const std::string& path);

}  // namespace native
